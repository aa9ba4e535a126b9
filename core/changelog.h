#pragma once
// What one step changed in a user's table, kept beside the backup the step made in "查重备份":
// a CSV file (UTF-8 with a byte-order mark, so that Excel opens it) with one line for each
// record removed or added: the time, the file and the table, the step, what was done, the
// record's number and its check-field values. It is written as the step goes, under a temporary
// name, and gets its own name only when the step is kept: a step undone leaves no log.
#include "core/appstate.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <vector>

namespace core {

// The folder beside a user's file that holds its backups and logs: "<dir>/查重备份".
QString backupFolderOf(const QString& file);

// The check fields of st that rs has: their column numbers, and their names in rs.
std::vector<int> checkFieldColumns(const AppState& st, const db::Recordset& rs, QStringList* names);
// Those columns' values in rs's current record, blanks trimmed.
QStringList valuesAt(const db::Recordset& rs, const std::vector<int>& columns);

class ChangeLog {
public:
    // A log of step on table of file, named after the step's backup ("<name>_<stamp>_<step>.csv"
    // beside it) or, for a step that made none, after file and the time, in its backup folder.
    // fields: the check fields, whose values each line carries.
    ChangeLog(const QString& step, const QString& file, const QString& table,
              const QStringList& fields, const QString& backup = {});
    ~ChangeLog(); // a log not kept is removed
    ChangeLog(const ChangeLog&) = delete;
    ChangeLog& operator=(const ChangeLog&) = delete;

    // action: "删除" or "写入"; record: the record's number in its table.
    void add(const QString& action, qint64 record, const QStringList& values);
    // Gives the log its name. False with *error when it could not be written (the step stands:
    // its backup is what protects the data).
    bool keep(QString* path, QString* error);

private:
    QString step_, file_, table_, time_, path_;
    QFile out_;
    bool failed_ = false;
};

} // namespace core
