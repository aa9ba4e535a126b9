#pragma once
// The merge ("数据合并") of the maintained duplicates (RsDup over ClienttableCC) into a table:
// back into the check table (RsSource) when it is open, otherwise into a target picked on the
// check-control window's panel: a dBase table, the imported table ClienttableELS, or a table of
// an Access-form (SQLite) database. Every record of RsDup becomes a new record of the table:
// the table's field k receives field k + 1 of the duplicate (field 0 is No), blanks trimmed, a
// null written as empty text; the running number (the last field) is never copied.
//
//     control::MergeResult r = control::mergeIntoCheckTable(state, sink);
//     if (!r.ok()) ... r.error says why, and nothing was written
//
// Whatever the table, a merge writes every record or none: the records go in one transaction,
// and a record that the table cannot take (a value wider than a dBase field, a date field given
// other text) undoes all of them; the error names the record and the field. Before anything is
// written into a file of the user's (a dBase table, an SQLite database other than the working
// database) the file is copied into "查重备份" beside it, as before a separation.
#include "core/run.h"

#include <QStringList>

namespace control {

// The kinds of target, numbered as "文件类型" lists them.
enum class TargetKind { Dbase = 0, Imported = 1, Access = 2 };

struct MergeTarget {
    TargetKind kind = TargetKind::Dbase;
    db::Connection conn; // open on the chosen file (Imported: unused, the working database)
    QString file;        // the chosen file; empty for Imported
    QString table;       // the table written into
};

// The table a dBase file holds: its title less the last four characters ("clients.DBF" gives
// "clients").
QString dbaseTargetTable(const QString& fileTitle);

// "浏览" for a dBase target: the folder of the chosen file opened as a dBase source (tables
// without a code page read as state.SourceCodePage says), its table dbaseTargetTable(title).
// Fails when the file is not a table that can be opened.
core::Status openDbaseTarget(const core::AppState& state, const QString& path,
                             const QString& fileTitle, MergeTarget* target);

// "浏览" for an Access target: the database at path and, in *tables, the tables it offers (views,
// names starting with "MSys" and, in the working database, its own tables left out). A real Access
// (Jet/ACE) file can only be read on this platform: it is refused with
// "此Access文件只能读取，不能写入：<path>".
core::Status openAccessTarget(const core::AppState& state, const QString& path, MergeTarget* target,
                              QStringList* tables);

// Why no merge (and no check_Repeat) can run now, none when it can: the duplicate
// table is closed, or the grid holds edits that are neither saved nor dropped.
core::Status mergeRefusal(const core::AppState& state);

// Whether these duplicates were merged into a table once already (a second merge writes them
// again: the window asks first).
bool mergedBefore(const core::AppState& state);

// check_Repeat: of the records of RsDup that are equal in every field but No and the last (values
// compared one by one, blanks trimmed), the first stays and the others are deleted. One
// transaction: a failure or a stop deletes nothing. The sink hears progress(position, count)
// and remaining(records left). Fills deleted, duplicateRows, cancelled and error; RsDup ends on
// its first record.
core::RunResult removeRepeats(core::AppState& state, core::ProgressSink& sink);

struct MergeResult : core::RunResult {
    int written = 0;          // records written into the table
    QStringList leftOut;      // fields of the duplicates the table has no field for (not written)
    bool workingCopy = false; // the table is in a private copy of an Access file, not the file
};

// "数据合并" with the check table open: RsDup (read again first) is written into RsSource.
// Refused when the duplicate table does not hold whole records of the check table, or when its
// records were never separated from it (they would be there twice). backUp false
// leaves out the copy into "查重备份" (the batch runner made one of the same file before the
// separation). The sink hears progress(written, count).
MergeResult mergeIntoCheckTable(core::AppState& state, core::ProgressSink& sink,
                                bool backUp = true);

// The writers openFile_DBF, openFile_XLS and openFiles: RsDup is written into the target's table,
// which on success becomes RsSource (the main window shows it next). A target that is not open
// (no file chosen, a wrong kind of file) is refused.
MergeResult mergeIntoTarget(core::AppState& state, const MergeTarget& target,
                            core::ProgressSink& sink);

} // namespace control
