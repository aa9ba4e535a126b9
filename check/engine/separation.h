#pragma once
// The separation step after a check: the records of the check table that the check copied into
// the duplicate table ClienttableCC are deleted from the check table, which keeps the records
// that are in no group. A record is removed because it was copied, never because it looks like a
// copied one: the records left and the records in ClienttableCC are the records the table had.
// Each record is compared with its copy first (trimmed values, column by column); one changed
// since the check is not removed and the separation fails as a whole.
//
// Before anything is deleted from a file of the user's (a dBase table, or an SQLite database other
// than the working database) the file and its companions are copied into a folder "查重备份"
// beside it; if that copy fails, nothing is deleted. The deletions are one transaction: a run
// cancelled through the sink, or one that fails, deletes nothing.
#include "core/run.h"

#include <functional>

namespace check {

// The file of the user's that changing a table on conn would change, decided by where that table
// really lives: empty when none (the working database, an Access file opened as a working copy,
// an Excel workbook, a copy in the run's ScratchDir).
QString userFileOfTable(const core::AppState& state, const db::Connection& conn,
                        const QString& table);
// The same for the check table (RsSource).
QString userFileOfCheckTable(const core::AppState& state);

// The names of the files that make up the table stored in file, in its folder: the file itself,
// and for a dBase table the memo, index and code-page files that share its base name.
QStringList tableFiles(const QString& file);

// Copies file and its companions into "<dir>/查重备份/" with a time stamp in their names. Each
// copy is written under a temporary name and renamed once complete, so a backup that exists is
// whole. Fails when the folder cannot be made or a copy fails (nothing is left behind then).
core::Status backupUserFile(const QString& file, QString* backupPath);

// Puts the backup that backupUserFile made (backupPath, as it returned it) back in place of
// file and its companions, each file replaced in one step by a copy of its backup (where the
// disk has no room for a copy, by the backup itself, which then leaves the backup folder).
// Fails when the backup is not the file's or cannot be put back.
core::Status restoreUserFile(const QString& file, const QString& backupPath);

// reDelete: fills separated, remaining, backupPath, cancelled and error of the result.
// copiedFrom is the check's RunResult::copiedFrom (one record per row of ClienttableCC).
// beforeCommit, when given, runs once the records to delete are marked and before the deletions
// are committed; a message from it undoes them all and becomes the result's error (the caller's
// condition, such as the groups being written meanwhile).
core::RunResult reDelete(core::AppState& state, const std::vector<db::Bookmark>& copiedFrom,
                         core::ProgressSink& sink,
                         const std::function<QString()>& beforeCommit = {});

} // namespace check
