#pragma once
// The working database seen from the shared state, without any window: opening it at start-up
// and making it ready for a check. The main window and the batch runner both go through here.
#include "core/run.h"

#include <QHash>
#include <QStringList>

namespace core {

// Opens path as WorkConn and checks that the program can work in it (a writable SQLite working
// database holding ClienttableDBF, empty_table and yb_table). On failure the status says why
// the program cannot start, WorkConn left closed.
Status openWorkDatabase(AppState& st, const QString& path);

// The check fields of "开始查重": the first five entries become CheckFields[0..] and
// CheckFieldCount; the slots after them keep what they held.
void setCheckFields(AppState& st, const QStringList& checkFields);

// The rest of "开始查重" once its questions are answered: ClienttableCC is emptied, RsDup opens
// on it in batch mode (the grids' edits stay pending until saved) and mode becomes CheckMode.
// On failure the status says why no check starts (CheckMode then unchanged).
Status prepareCheck(AppState& st, CheckMode mode);

// The working database's own tables (the template, the placeholder, the segments, the owners,
// the duplicates, their backup and the scratch tables), names compared without regard to case;
// the imported rows ClienttableELS are the user's data and not among them.
bool isWorkingTable(const QString& name);

// --- The duplicates of the last check (ClienttableCC) and their backup (ClienttableDD).

// How a source is named to the user: "“客户.dbf”中的表“客户”".
QString sourceLabel(const AppState& st);
// Which source the rows of a working table were found in (kept in the working database, so a
// later run of the program knows it too); empty when unknown.
QString tableOwner(const db::Connection& work, const QString& table);
void setTableOwner(const db::Connection& work, const QString& table, const QString& label);

// Where the rows of a working table of duplicates stand with the check table they were found in
// (kept beside the owner, so a later run of the program knows it too): found by a check and
// still in the check table (a separation that failed or did not run), separated from it, or
// merged into a table since. Setting the owner starts it at Found; a table of an older build of
// the program, which always separated, reads as Separated.
enum class DuplicatesState { Found, Separated, Merged };
DuplicatesState duplicatesState(const db::Connection& work, const QString& table);
void setDuplicatesState(const db::Connection& work, const QString& table, DuplicatesState state);

// The backup of the duplicates: "Drop Table ClienttableDD", "Select * Into ClienttableDD From
// ClienttableCC", and the owner goes with the rows. With onlyRows, a ClienttableCC without rows
// replaces nothing: the backup of real groups is kept (opening a source twice in a row must not
// lose it).
Status backupDuplicates(AppState& st, bool onlyRows);

// --- Why the rows of ClienttableCC are in their groups (智能查重), kept beside them in the
// working database (ClienttableWhy), so the check-control window shows it later too. Emptied
// when any check starts.
struct GroupReason {
    int running = 0; // the row's running number in ClienttableCC (its last column)
    int group = 0;
    int partner = 0; // the running number of the row it matched best
    double score = 0;
    QString basis; // the fields that agreed and how: "姓名同音；地址相同"
};
Status writeReasons(const db::Connection& work, const std::vector<GroupReason>& reasons);
// The reasons kept, by running number; none after another kind of check.
QHash<int, GroupReason> readReasons(const db::Connection& work);

// --- The report of the last check (check/engine/report.h), kept as its text in the working
// database (ClienttableReport) until the next check starts, so the check-control window shows it
// later too.
Status keepReportText(const db::Connection& work, const QString& text);
QString reportText(const db::Connection& work); // empty: none kept

enum class Restore { Restored, NoBackup, OtherTable, Failed };
// "数据维护" with no duplicate table open: ClienttableCC comes back from ClienttableDD, in one
// transaction, but only when the backup has the columns of the table that is open now (the
// working tables are built for it); OtherTable leaves both tables as they are and *owner names
// the source the backup belongs to.
Restore restoreDuplicates(AppState& st, QString* owner);

} // namespace core
