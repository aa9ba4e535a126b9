#pragma once
// The separation step after a check: every record of the check table whose content equals a row
// of the duplicate table ClienttableCC is deleted from the check table, which keeps the records
// that have no duplicate.
//
// Records are compared column by column (trimmed values, exact), never as one joined text, so
// (李, AB, C) and (李, A, BC) stay apart. A record is removed only when its first check field, as
// stored, also equals the duplicate row's value (letter case folded), as the group look-up saw it.
//
// Before anything is deleted from a file of the user's (a dBase table, or an SQLite database other
// than the working database) the file and its memo file are copied into a folder "查重备份" beside
// it; if that copy fails, nothing is deleted.
#include "app/appstate.h"
#include "check/checksink.h"

namespace check {

struct SeparationResult {
    bool ok = true;
    int separated = 0;
    int remaining = 0;
    QString backupPath; // the backup made before deleting, if one was needed
    QString error;      // why nothing (or not everything) was separated
};

// The file of the user's that a separation would change, empty when none (the working database,
// an Access file opened as a working copy, a copy in the run's ScratchDir).
QString userFileOfCheckTable(const app::AppState& state);

// The names of the files that make up the table stored in file, in its folder: the file itself,
// and for a dBase table the memo, index and code-page files that share its base name.
QStringList tableFiles(const QString& file);

// Copies file (and a memo file of the same base name) into "<dir>/查重备份/" with a time stamp.
bool backupUserFile(const QString& file, QString* backupPath, QString* error);

SeparationResult reDelete(app::AppState& state, CheckSink& sink);

} // namespace check
