#include "core/workplace.h"

#include "core/appstate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace core {

namespace {

// Can this process write there? The effective user's rights and read-only media both count
// (a folder on a CD or a read-only mount says no even to root).
bool writable(const QString& path) {
    return ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), W_OK, AT_EACCESS) == 0;
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// A connection to one SQLite file, closed on every way out.
struct Db {
    sqlite3* handle = nullptr;
    explicit Db(const QString& path, int flags) {
        if (sqlite3_open_v2(path.toUtf8().constData(), &handle, flags, nullptr) != SQLITE_OK) {
            sqlite3_close(handle);
            handle = nullptr;
        }
    }
    ~Db() { sqlite3_close(handle); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    QString error() const {
        return handle ? QString::fromUtf8(sqlite3_errmsg(handle)) : QStringLiteral("无法打开");
    }
    bool exec(const QString& sql) {
        return sqlite3_exec(handle, sql.toUtf8().constData(), nullptr, nullptr, nullptr) ==
               SQLITE_OK;
    }
    // The text columns of each row of a query.
    QList<QStringList> rows(const QString& sql, const QString& bound = QString()) {
        QList<QStringList> out;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(handle, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
            return out;
        if (!bound.isNull()) {
            const QByteArray b = bound.toUtf8();
            sqlite3_bind_text(st, 1, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        }
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList row;
            for (int c = 0; c < sqlite3_column_count(st); ++c)
                row << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, c)));
            out << row;
        }
        sqlite3_finalize(st);
        return out;
    }
};

QString quoted(const QString& name) {
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QStringList columnsOf(Db& db, const QString& schema, const QString& table) {
    QStringList names;
    for (const QStringList& row :
         db.rows(QStringLiteral("SELECT name FROM pragma_table_info(?1, '%1')").arg(schema), table))
        names << row.value(0);
    return names;
}

// Copies into the fresh database at fresh what the user's work left in old: every table the
// program made there (the duplicates, their backup, imported rows, the reasons of a check) with
// its rows and indexes, and the rows of the shipped tables whose columns still exist. The
// column template and the empty table stay as shipped.
QString carryOver(const QString& fresh, const QString& old) {
    Db db(fresh, SQLITE_OPEN_READWRITE);
    if (!db.handle) return db.error();
    sqlite3_stmt* attach = nullptr;
    const QByteArray oldName = old.toUtf8();
    if (sqlite3_prepare_v2(db.handle, "ATTACH DATABASE ?1 AS old", -1, &attach, nullptr) !=
        SQLITE_OK)
        return db.error();
    sqlite3_bind_text(attach, 1, oldName.constData(), int(oldName.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(attach);
    sqlite3_finalize(attach);
    if (rc != SQLITE_DONE) return db.error();

    QSet<QString> shippedTables;
    for (const QStringList& row :
         db.rows(QStringLiteral("SELECT name FROM main.sqlite_master WHERE type = 'table'")))
        shippedTables << row.value(0);
    const QSet<QString> keepAsShipped{QStringLiteral("ClienttableDBF"),
                                      QStringLiteral("empty_table")};
    if (!db.exec(QStringLiteral("BEGIN"))) return db.error();
    QSet<QString> made;
    const QList<QStringList> tables =
        db.rows(QStringLiteral("SELECT name, sql FROM old.sqlite_master WHERE type = 'table' "
                               "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                               "AND sql NOT LIKE 'CREATE VIRTUAL%'"));
    for (const QStringList& t : tables) {
        const QString& name = t.value(0);
        if (keepAsShipped.contains(name)) continue;
        QStringList columns;
        if (shippedTables.contains(name)) {
            const QStringList now = columnsOf(db, QStringLiteral("main"), name);
            for (const QString& c : columnsOf(db, QStringLiteral("old"), name))
                if (now.contains(c)) columns << quoted(c);
        } else {
            if (!db.exec(t.value(1))) return db.error();
            made << name;
            for (const QString& c : columnsOf(db, QStringLiteral("old"), name))
                columns << quoted(c);
        }
        if (columns.isEmpty()) continue;
        const QString list = columns.join(QLatin1Char(','));
        if (!db.exec(QStringLiteral("INSERT INTO main.%1 (%2) SELECT %2 FROM old.%1")
                         .arg(quoted(name), list)))
            return db.error();
    }
    for (const QStringList& i : db.rows(QStringLiteral(
             "SELECT tbl_name, sql FROM old.sqlite_master WHERE type = 'index' AND sql NOT NULL")))
        if (made.contains(i.value(0)) && !db.exec(i.value(1))) return db.error();
    if (!db.exec(QStringLiteral("COMMIT"))) return db.error();
    return QString();
}

// A copy of from at to that only this user can read and write, made whole or not at all.
bool copyPrivately(const QString& from, const QString& to) {
    const QString part = to + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::copy(from, part)) return false;
    QFile::setPermissions(part, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (QFile::exists(to) && !QFile::remove(to)) return false;
    return QFile::rename(part, to);
}

} // namespace

QString shippedDir(const QString& programDir) {
    const QDir dir(programDir);
    if (QFileInfo::exists(dir.filePath(workDbFileName()))) return dir.path();
    const QString installed = QDir::cleanPath(dir.filePath(QStringLiteral("../share/chachong")));
    if (QFileInfo::exists(QDir(installed).filePath(workDbFileName()))) return installed;
    return dir.path();
}

int workDbSchemaVersion(const QString& path) {
    if (!QFileInfo(path).isFile()) return -1;
    Db db(path, SQLITE_OPEN_READONLY);
    if (!db.handle) return -1;
    const QList<QStringList> rows = db.rows(QStringLiteral("PRAGMA user_version"));
    return rows.isEmpty() ? -1 : rows.first().value(0).toInt();
}

WorkDbPlace placeWorkDatabase(const QString& programDir, const QString& userDataDir) {
    WorkDbPlace place;
    const QString program = QDir::cleanPath(QDir(programDir).absolutePath());
    place.shipped = shippedDir(program);
    const QString shippedDb = QDir(place.shipped).filePath(workDbFileName());
    place.path = shippedDb;
    // Beside the program, as always, when it may be written there. A missing or broken file is
    // reported when it is opened.
    if (place.shipped == program &&
        (!QFileInfo::exists(shippedDb) || (writable(program) && writable(shippedDb))))
        return place;
    if (userDataDir.isEmpty() || !QFileInfo::exists(shippedDb)) return place;

    const QString dataDir = QDir::cleanPath(QDir(userDataDir).absolutePath());
    const QString own = QDir(dataDir).filePath(workDbFileName());
    place.path = own;
    place.ownCopy = true;
    if (!QDir().mkpath(dataDir)) {
        place.error = QStringLiteral("无法建立本用户的数据文件夹：\n%1\n\n程序无法启动。")
                          .arg(shown(dataDir));
        return place;
    }
    if (!QFileInfo::exists(own)) {
        if (!copyPrivately(shippedDb, own))
            place.error = QStringLiteral("无法把工作数据库复制到本用户的数据文件夹：\n%1\n\n"
                                         "程序无法启动。")
                              .arg(shown(own));
        return place;
    }
    const int shippedVersion = workDbSchemaVersion(shippedDb);
    const int ownVersion = workDbSchemaVersion(own);
    // A copy that is no database is reported when it is opened; it is never overwritten.
    if (ownVersion < 0 || shippedVersion <= ownVersion) return place;

    // A newer program: its database, with what the user's work left in the old one.
    const QString fresh = own + QStringLiteral(".new");
    const QString kept = own + QStringLiteral(".v%1.bak").arg(ownVersion);
    QString why;
    if (!copyPrivately(shippedDb, fresh))
        why = QStringLiteral("无法写入 %1").arg(shown(fresh));
    else
        why = carryOver(fresh, own);
    if (why.isEmpty()) {
        QFile::remove(kept);
        if (!QFile::rename(own, kept) || !QFile::rename(fresh, own))
            why = QStringLiteral("无法替换 %1").arg(shown(own));
    }
    if (!why.isEmpty()) {
        QFile::remove(fresh);
        if (!QFileInfo::exists(own)) QFile::rename(kept, own);
        place.error = QStringLiteral("本用户的工作数据库无法更新到新版本：\n%1\n\n%2\n\n"
                                     "原文件没有改动。程序无法启动。")
                          .arg(shown(own), why);
    }
    return place;
}

} // namespace core
