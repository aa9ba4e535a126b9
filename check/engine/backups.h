#pragma once
// The backups that the separation, the merge and the export leave in the folder "查重备份" beside
// a user's file (separation.h makes them): listed, and put back. Putting one back first backs up
// the file as it is, so that a restore can itself be undone.
#include "core/status.h"

#include <QDateTime>
#include <QString>

#include <vector>

namespace check {

struct Backup {
    QString path;     // the backup of the file itself; its companions share the stamp in its name
    QDateTime time;   // when it was made, read from that stamp
    qint64 bytes = 0; // the backup's files together
    int records = -1; // a dBase table's records (deleted ones not counted); -1 for other files
    QString step; // the step that made it ("分离", "合并"), from the log beside it; empty: none
};

// Whether path names an Excel workbook (.xls, .xlsx, .xlsm).
bool isWorkbook(const QString& path);

// The backups of file (a .dbf table, an SQLite database such as an Access-form .mdb, or a
// workbook an export wrote to), the newest first; none when it has no backup folder.
std::vector<Backup> backupsOf(const QString& file);

// Puts backup (the path of one of file's backups) back in place of file and its companions,
// after backing up file as it is now (*undo: the path of that backup). Refused, with nothing
// changed, when backup is none of file's backups or holds a table of other columns than file.
// *refused (when given) tells a refusal from a failure to write.
core::Status restoreBackup(const QString& file, const QString& backup, QString* undo,
                           bool* refused = nullptr);

} // namespace check
