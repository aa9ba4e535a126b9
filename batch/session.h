#pragma once
// One source opened without windows, the way the main window opens it: a private working
// database in a temporary folder, the open of the file's kind ("打开DBF数据", "导入Excel数据"
// with its import, "打开MDB数据") through the same engine, the table chooser answered by the
// table asked for (or the only one). The session owns the process's shared state while it
// lives; it is reset when the session ends.
#include <QString>
#include <QStringList>

#include <memory>

namespace batch {

// The exit statuses of the runner, which a session's open() returns too.
// The runner's exit codes (the usage text, the manual page and the README list them):
//  Success      the command did what was asked;
//  Failure      a file could not be read, opened or written, or the run failed (what it had
//               changed of the user's file is put back, and said so);
//  Usage        the command line is wrong (the usage text follows the reason);
//  Refused      the file was read but the check cannot run on it as asked (no records, a field,
//               range or sheet it does not have, an output that cannot take the result):
//               nothing was changed;
//  Interrupted  stopped by Ctrl-C (SIGINT): nothing was changed.
enum Exit { Success = 0, Failure = 1, Usage = 2, Refused = 3, Interrupted = 130 };

struct OpenRequest {
    QString file;
    QString table;            // empty: the only table the chooser offers
    QString encoding;         // code page of a dBase table that declares none
    bool listOnly = false;    // stop at the table chooser (its list is what is wanted)
    bool import = false;      // an Excel sheet is imported into the working database
    bool privateCopy = false; // work on a copy of the file (and its memo, index, code-page files)
};

class Session {
public:
    explicit Session(const QString& programDir);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens the file (once per session). Returns Success, or Failure / Usage (the request is
    // incomplete: several tables and none named) with *reason set. On success RsSource holds
    // the check table.
    int open(const OpenRequest& request, QString* reason);

    QString kind() const;              // "dbf", "xls" or "mdb" once open() has run
    QStringList offeredTables() const; // what the table chooser offered (Excel and Access)
    // What the user should know since the last call (fields left out, ...), with the user's
    // folder named where the open saw the private copy.
    QStringList takeNotes();
    // A text with the private copy's folder replaced by the user's folder.
    QString userView(QString text) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace batch
