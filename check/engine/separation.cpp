#include "check/engine/separation.h"

#include "core/changelog.h"
#include "core/workdb.h"
#include "db/connection.h"
#include "db/criteria.h"
#include "db/formats/filemode.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <optional>
#include <unordered_set>

namespace check {

namespace {

bool samePath(const QString& a, const QString& b) {
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    return !ca.isEmpty() && ca == cb;
}

} // namespace

QString userFileOfCheckTable(const core::AppState& state) {
    const db::RecordsetPtr& src = state.RsSource;
    if (!core::isOpen(src)) return {};
    return userFileOfTable(state, src->connection(), src->baseTable());
}

QString userFileOfTable(const core::AppState& state, const db::Connection& conn,
                        const QString& table) {
    if (!conn.isOpen()) return {};
    if (!state.ScratchDir.isEmpty() &&
        QDir::cleanPath(conn.path())
            .startsWith(QDir::cleanPath(state.ScratchDir) + QLatin1Char('/')))
        return {};
    switch (conn.kind()) {
    case db::SourceKind::Dbf: {
        // The dBase folder's table: the .dbf file of that name.
        const QDir dir(conn.path());
        for (const QString& name : dir.entryList(QDir::Files)) {
            const QFileInfo fi(name);
            if (fi.suffix().compare(QLatin1String("dbf"), Qt::CaseInsensitive) == 0 &&
                fi.completeBaseName().compare(table, Qt::CaseInsensitive) == 0)
                return dir.filePath(name);
        }
        // No file of that name (the folder changed meanwhile): the folder itself, which the backup
        // cannot copy, so nothing is deleted unprotected.
        return conn.path();
    }
    case db::SourceKind::Sqlite:
        return samePath(conn.path(), state.WorkDbPath) ? QString() : conn.path();
    default:
        return {};
    }
}

QStringList tableFiles(const QString& file) {
    const QFileInfo info(file);
    QStringList files{info.fileName()};
    if (info.suffix().compare(QLatin1String("dbf"), Qt::CaseInsensitive) != 0) return files;
    // The companions that share a dBase table's name: memo, index, code page.
    static const QStringList companions = {"dbt", "fpt", "cdx", "mdx", "cpg"};
    for (const QString& name : info.dir().entryList(QDir::Files)) {
        const QFileInfo fi(name);
        if (fi.completeBaseName().compare(info.completeBaseName(), Qt::CaseInsensitive) == 0 &&
            companions.contains(fi.suffix().toLower()))
            files << name;
    }
    return files;
}

core::Status backupUserFile(const QString& file, QString* backupPath) {
    const QFileInfo info(file);
    QDir dir = info.dir();
    const QString folder = QFileInfo(core::backupFolderOf(file)).fileName();
    auto refuse = [](const QString& why) { return core::failure(why); };
    if (!info.isFile())
        return refuse(QStringLiteral("找不到要备份的数据文件“%1”。")
                          .arg(QDir::toNativeSeparators(info.absoluteFilePath())));
    if (!dir.exists(folder) && !dir.mkdir(folder))
        return refuse(QStringLiteral("无法在“%1”中建立备份文件夹“%2”（文件夹只读或磁盘已满）。")
                          .arg(QDir::toNativeSeparators(dir.absolutePath()), folder));
    const QDir target(dir.filePath(folder));
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    const QStringList files = tableFiles(file);
    auto backupName = [&](const QString& f, const QString& suffix) {
        const QFileInfo fi(f);
        return fi.completeBaseName() + QLatin1Char('_') + suffix + QLatin1Char('.') + fi.suffix();
    };
    QString suffix;
    for (int n = 1; n < 1000; ++n) {
        suffix = n == 1 ? stamp : stamp + QLatin1Char('_') + QString::number(n);
        bool free = true;
        for (const QString& f : files)
            if (target.exists(backupName(f, suffix))) free = false;
        if (free) break;
    }
    QStringList made;
    auto undo = [&] {
        for (const QString& m : made)
            QFile::remove(m);
    };
    for (const QString& f : files) {
        const QString to = target.filePath(backupName(f, suffix));
        // Written under a temporary name first: a copy cut short (a full disk, the program
        // killed) never stands under a backup's name.
        const QString partial = to + QStringLiteral(".part");
        QFile::remove(partial);
        const bool copied = QFile::copy(dir.filePath(f), partial);
        if (!copied || QFileInfo(partial).size() != QFileInfo(dir.filePath(f)).size() ||
            !QFile::rename(partial, to)) {
            QFile::remove(partial);
            undo();
            return refuse(QStringLiteral("无法把“%1”备份到“%2”（文件夹只读或磁盘已满）。")
                              .arg(QDir::toNativeSeparators(dir.filePath(f)),
                                   QDir::toNativeSeparators(target.absolutePath())));
        }
        made << to;
    }
    *backupPath = made.first();
    return {};
}

core::Status restoreUserFile(const QString& file, const QString& backupPath) {
    const QFileInfo info(file), backup(backupPath);
    const QString base = info.completeBaseName();
    const QString backupBase = backup.completeBaseName();
    if (!backupBase.startsWith(base + QLatin1Char('_'), Qt::CaseInsensitive)) {
        return QStringLiteral("备份“%1”不是“%2”的备份。")
            .arg(QDir::toNativeSeparators(backupPath), QDir::toNativeSeparators(file));
    }
    // The stamp that names every file of that backup: <base>_<stamp>.<extension>.
    const QString tail = backupBase.mid(base.size()); // "_<stamp>"
    const QDir from = backup.dir();
    QStringList restored;
    for (const QString& name : from.entryList(QDir::Files)) {
        const QFileInfo fi(name);
        const QString b = fi.completeBaseName();
        if (!b.endsWith(tail) || b.size() != base.size() + tail.size() ||
            b.left(base.size()).compare(base, Qt::CaseInsensitive) != 0)
            continue;
        // Written beside the file under a temporary name, then renamed over it in one step.
        const QString copy = from.filePath(name);
        const QString to =
            info.dir().filePath(b.left(base.size()) + QLatin1Char('.') + fi.suffix());
        const QString partial = to + QStringLiteral(".part");
        auto replace = [&](const QString& with) {
            return std::rename(QFile::encodeName(with).constData(),
                               QFile::encodeName(to).constData()) == 0;
        };
        QFile::remove(partial);
        const bool copied = QFile::copy(copy, partial) &&
                            QFileInfo(partial).size() == QFileInfo(copy).size() && replace(partial);
        if (!copied) {
            QFile::remove(partial);
            // No room for a copy (a full disk): the backup itself goes back in place.
            if (!replace(copy))
                return QStringLiteral("无法用备份“%1”恢复“%2”（文件夹只读或磁盘已满）。")
                    .arg(QDir::toNativeSeparators(copy), QDir::toNativeSeparators(to));
        }
        restored << to;
    }
    if (restored.isEmpty())
        return QStringLiteral("找不到备份“%1”。").arg(QDir::toNativeSeparators(backupPath));
    return {};
}

core::RunResult reDelete(core::AppState& state, const std::vector<db::Bookmark>& copiedFrom,
                         core::ProgressSink& sink, const std::function<QString()>& beforeCommit) {
    core::RunResult r;
    const db::RecordsetPtr src = state.RsSource;
    const db::RecordsetPtr dup = state.RsDup;
    if (!core::isOpen(src) || !core::isOpen(dup)) {
        r.error = QStringLiteral("查重数据库或重复数据没有打开，未分离任何记录。");
        return r;
    }
    r.remaining = src->recordCount();
    r.duplicateRows = dup->recordCount();
    const int dupRows = dup->recordCount();
    if (dupRows == 0) return r;

    const int columns = src->fieldCount();
    const int copied = dup->fieldCount() - 2; // No first, running number last
    if (copied != columns) {
        // The duplicate table does not hold whole records of this table (more fields than it has
        // columns for): deleting would lose what it does not hold, so nothing is deleted.
        r.error = QStringLiteral(
            "重复数据表没有保存查重数据库的全部字段，为保证数据不丢失，未分离任何记录。");
        return r;
    }
    if (copiedFrom.size() != size_t(dupRows)) {
        r.error = QStringLiteral("重复数据表与本次查重的结果不符（可能已被修改），"
                                 "为保证数据不丢失，未分离任何记录。");
        return r;
    }

    // The records to remove, each with the first duplicate row copied from it (a record the
    // fuzzy check put into two groups is removed once), by their place in the check table.
    struct Target {
        int position; // 1-based, before any deletion
        int row;      // of the duplicates
    };
    std::vector<Target> targets;
    targets.reserve(copiedFrom.size());
    int missing = 0;
    for (int i = 0; i < dupRows; ++i) {
        if (const int row = src->rowOfBookmark(copiedFrom[size_t(i)]); row >= 0)
            targets.push_back({row + 1, i});
        else
            ++missing;
    }
    std::stable_sort(targets.begin(), targets.end(),
                     [](const Target& a, const Target& b) { return a.position < b.position; });
    const auto twice =
        std::unique(targets.begin(), targets.end(),
                    [](const Target& a, const Target& b) { return a.position == b.position; });
    targets.erase(twice, targets.end());
    if (missing > 0) { // counted by records, as a record in two groups is one
        const std::unordered_set<db::Bookmark> records(copiedFrom.begin(), copiedFrom.end());
        r.error = QStringLiteral("分离重复记录失败，没有删除任何记录：\r\n有 %1 "
                                 "条重复记录在查重数据库中已经找不到。")
                      .arg(records.size() - targets.size());
        return r;
    }

    db::Connection conn = src->connection();
    const QString file = userFileOfCheckTable(state);
    if ((!file.isEmpty() && !formats::mayWrite(QFileInfo(file))) || conn.isReadOnly()) {
        r.error = QStringLiteral("数据文件“%1”是只读的，没有从中删除任何记录。")
                      .arg(QDir::toNativeSeparators(file.isEmpty() ? conn.path() : file));
        return r;
    }
    if (const core::Status s =
            file.isEmpty() ? core::Status() : backupUserFile(file, &r.backupPath);
        !s.ok()) {
        r.error = s.error + QStringLiteral("\r\n为保证数据安全，没有从原数据文件中删除任何记录。");
        return r;
    }

    const bool transaction = !conn.inTransaction() && conn.beginTransaction();
    // Deletions that cannot be undone wait for the caller's condition.
    QString refused;
    if (beforeCommit && !transaction) refused = beforeCommit();
    if (!refused.isEmpty()) {
        r.error = refused;
        return r;
    }
    // The records removed, with their check fields, beside the backup.
    std::optional<core::ChangeLog> log;
    QStringList names;
    const std::vector<int> logged = core::checkFieldColumns(state, *src, &names);
    if (!r.backupPath.isEmpty())
        log.emplace(QStringLiteral("分离"), file, src->baseTable(), names, r.backupPath);
    src->suspendNotifications();
    const int total = src->recordCount();
    for (const Target& t : targets) {
        if (!sink.progress(t.position, total)) {
            r.cancelled = true;
            break;
        }
        // Where the record stands now: the places before it that were deleted are gone.
        if (!src->setBookmark(copiedFrom[size_t(t.row)])) {
            r.error = src->errorString();
            break;
        }
        // The record as it was copied: a record changed since is not the one in the group.
        for (int c = 0; c < columns; ++c)
            if (db::trimBlanks(src->valueView(c)) != db::trimBlanks(dup->viewAt(t.row, c + 1))) {
                r.error = QStringLiteral("第 %1 条记录在查重之后被修改过，与重复数据不符。")
                              .arg(t.position);
                break;
            }
        if (!r.error.isEmpty()) break;
        if (log) log->add(QStringLiteral("删除"), t.position, core::valuesAt(*src, logged));
        if (!src->deleteCurrent()) {
            r.error = src->errorString();
            break;
        }
        ++r.separated;
        sink.remaining(total - r.separated);
    }
    if (!r.cancelled && r.error.isEmpty() && beforeCommit && transaction) refused = beforeCommit();
    if (r.cancelled || !r.error.isEmpty() || !refused.isEmpty()) {
        // Nothing of a stopped or failed separation stays: the deletions are undone and the
        // recordset reads the table again.
        if (transaction) conn.rollback();
        src->requery();
        r.separated = 0;
        if (!refused.isEmpty())
            r.error = refused;
        else if (!r.error.isEmpty())
            r.error = QStringLiteral("分离重复记录失败，没有删除任何记录：\r\n") + r.error;
    } else if (transaction && !conn.commit()) {
        r.error = QStringLiteral("分离重复记录失败，没有删除任何记录：\r\n") + conn.errorString();
        src->requery();
        r.separated = 0;
    } else {
        // The duplicates are out of the check table now, and so are those of their backup when
        // it was taken of the same groups before the separation.
        const QString cc = QStringLiteral("ClienttableCC"), dd = QStringLiteral("ClienttableDD");
        core::setDuplicatesState(state.WorkConn, cc, core::DuplicatesState::Separated);
        if (core::tableOwner(state.WorkConn, dd) == core::tableOwner(state.WorkConn, cc) &&
            core::duplicatesState(state.WorkConn, dd) == core::DuplicatesState::Found)
            core::setDuplicatesState(state.WorkConn, dd, core::DuplicatesState::Separated);
        if (QString why; log && !log->keep(&r.changeLogPath, &why)) r.notes << why;
    }
    // The check table stands on a record again, its first.
    if (src->recordCount() > 0) src->moveFirst();
    src->resumeNotifications();
    r.remaining = src->recordCount();
    dup->moveFirst();
    return r;
}

} // namespace check
