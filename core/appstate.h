#pragma once
// The values every window shares: the two connections, the shared recordsets, the description
// of the source that is open and the settings of the check. One instance for the process,
// reached through appState(); there is no other channel between the windows.
#include "core/status.h"
#include "db/connection.h"
#include "db/recordset.h"

#include <QString>

namespace core {

struct AppState {
    // Connections.
    db::Connection WorkConn;   // the working database, open for the whole run
    db::Connection SourceConn; // the source opened last

    // Shared recordsets; "closed" is a null pointer or a recordset that is not open.
    db::RecordsetPtr RsSource;   // the check table, shown in the main grid
    db::RecordsetPtr RsDup;      // ClienttableCC, the duplicates (also runs one-off statements)
    db::RecordsetPtr RsPostcode; // yb_table (also runs "Delete * From yb_table")
    db::RecordsetPtr RsFields;   // a source opened only to list its fields
    db::RecordsetPtr RsWork;     // one-off statements: backup and restore of ClienttableCC

    // The source that is open.
    QString SourceType;      // "mdb", "dbf" or "xls"
    QString SourcePath;      // full path of the chosen file
    QString SourceFileTitle; // its name with extension
    QString SourceBaseName;  // the name without its last four characters
    QString SourceDir;       // its directory, without a trailing separator
    QString SourceTable;     // the check table's name
    QString SourceCodePage;  // code page of dBase tables that declare none; empty: guessed
    QString ScratchDir;      // a folder of copies made for one run (batch): nothing in it is the
                             // user's, so nothing in it is backed up before a separation
    QString AppDir;          // the folder of the program's shipped files (the guide), without a
                             // trailing separator: the program's own, or .../share/chachong
    QString WorkDbPath;      // the working database: AppDir + "/MorlayBankCC.mdb", or the
                             // user's own copy (core::placeWorkDatabase)

    // The settings of the check.
    QString CheckFields[5];
    qint16 CheckFieldCount = 0;
    qint16 CheckMode = 0;      // 1 exact check, 2 fuzzy check, 3 智能查重
    qint16 PostcodeMode = 1;   // 1 no postcode field, 2 a postcode field is chosen
    qint16 PostcodeDigits = 0; // leading postcode characters that form a segment
    QString PostcodeField;

    // The long run that is changing tables now ("数据合并", "批量删除", ...), empty when none:
    // while it is set, no command that writes tables starts, in any window (see core::RunGuard).
    QString RunningWork;

    // Settings-store sections for the grid column widths.
    QString SourceGridSection;
    QString WorkGridSection;
};

AppState& appState();
// Back to the state before start-up (tests).
void resetAppState();

// The working tables carry at most this many fields of a source (the template ClienttableDBF
// has one column more for the running number and one for No); later fields take no part.
constexpr int maxWorkFields = 49;

// The file name of the working database in the program's directory.
inline QString workDbFileName() {
    return QStringLiteral("MorlayBankCC.mdb");
}

inline bool isOpen(const db::RecordsetPtr& rs) {
    return rs && rs->isOpen();
}
inline int recordCountOf(const db::RecordsetPtr& rs) {
    return isOpen(rs) ? rs->recordCount() : 0;
}

// Runs a statement that returns no rows the way the windows do it: the slot gets a new
// recordset that runs the statement and stays closed.
Status runStatement(db::RecordsetPtr& slot, const QString& jetSql,
                    const db::Connection& connection);

} // namespace core
