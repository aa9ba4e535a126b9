#include "tools/engine/batchdelete.h"

#include "core/changelog.h"
#include "db/criteria.h"
#include "db/sqltext.h"

#include <QFileInfo>

#include <optional>

namespace tools {

namespace {

const QString dupTable = QStringLiteral("ClienttableCC");

} // namespace

core::Status batchDeleteRefusal(const core::AppState& st, const QStringList& fields) {
    const db::RecordsetPtr& dup = st.RsDup;
    if (!core::isOpen(dup)) return QStringLiteral("重复数据表没有打开，无法批量删除。");
    if (fields.isEmpty()) return QStringLiteral("请选择字段。");
    for (const QString& f : fields)
        if (dup->fieldIndex(f) < 0)
            return QStringLiteral("重复数据表中没有字段“%1”，请重新选择字段。").arg(f);
    if (dup->isEditing() || dup->hasPendingChanges())
        return QStringLiteral("重复数据有未保存的修改，请先“保存修改”或“取消修改”，再批量删除。");
    return {};
}

core::RunResult batchDelete(core::AppState& st, const core::RunOptions& options,
                            core::ProgressSink& sink) {
    core::RunResult r;
    r.error = batchDeleteRefusal(st, options.fields).error;
    if (!r.error.isEmpty()) return r;
    const db::RecordsetPtr dup = st.RsDup;
    std::vector<int> columns;
    for (const QString& f : options.fields)
        columns.push_back(dup->fieldIndex(f));

    st.RsPostcode = std::make_shared<db::Recordset>();
    st.RsPostcode->setCursorLocation(db::CursorLocation::Client);
    const db::RecordsetPtr lookup = st.RsPostcode;
    if (!lookup->open(db::sql::selectAll(dupTable), st.WorkConn, db::CursorType::Keyset,
                      db::LockType::Pessimistic)) {
        r.error = QStringLiteral("无法打开重复数据表 ClienttableCC：%1").arg(lookup->errorString());
        return r;
    }

    // RsDup up to date before the walk (what changed the table since it was read, a backup
    // statement say, makes this requery read it): the requeries of the walk then cost only the
    // rows deleted meanwhile, and what watches RsDup hears of the walk once, at its end.
    if (!dup->requery()) {
        r.error = dup->errorString();
        return r;
    }
    // The walk visits the records in their order; one that is gone when its turn comes was a
    // repeat of an earlier one.
    dup->suspendNotifications();
    std::vector<db::Bookmark> walk;
    walk.reserve(size_t(dup->recordCount()));
    for (dup->moveFirst(); !dup->isEof(); dup->moveNext())
        walk.push_back(dup->bookmark());

    // The rows removed (their running numbers and check fields), kept in the backup folder beside
    // the file the list came from: they are no longer merged back. Begun at the first one.
    std::optional<core::ChangeLog> log;
    const bool logging = !st.SourcePath.isEmpty() && QFileInfo(st.SourcePath).isFile();
    QStringList names;
    const std::vector<int> logged = core::checkFieldColumns(st, *lookup, &names);
    db::Connection conn = st.WorkConn;
    const bool transaction = !conn.inTransaction() && conn.beginTransaction();
    db::Criterion match = db::equalsCriterion(options.fields);
    for (const db::Bookmark mark : walk) {
        if (!dup->setBookmark(mark)) continue;
        for (size_t k = 0; k < columns.size(); ++k)
            db::setEqualsValue(match.terms[k], db::trimBlanks(dup->valueView(columns[k])));
        if (!lookup->setFilter(match)) {
            r.error = lookup->errorString();
            break;
        }
        if (lookup->recordCount() > 1) {
            lookup->moveFirst();
            for (lookup->moveNext(); !lookup->isEof(); lookup->moveNext()) {
                if (logging) {
                    if (!log)
                        log.emplace(QStringLiteral("批量删除"), st.SourcePath, dupTable, names);
                    log->add(QStringLiteral("删除"),
                             lookup->valueView(lookup->fieldCount() - 1).toString().toLongLong(),
                             core::valuesAt(*lookup, logged));
                }
                if (!lookup->deleteCurrent()) {
                    r.error = lookup->errorString();
                    break;
                }
                ++r.deleted;
            }
            if (!r.error.isEmpty()) break;
        }
        if (!dup->requery()) {
            r.error = dup->errorString();
            break;
        }
        if (!dup->setBookmark(mark)) continue;
        if (!sink.progress(dup->absolutePosition(), dup->recordCount())) {
            r.cancelled = true;
            break;
        }
    }
    lookup->setFilter(QString());

    bool undone = false;
    if (!r.error.isEmpty() || r.cancelled) {
        if (transaction) {
            conn.rollback();
            undone = true;
            r.deleted = 0;
        }
        if (!r.error.isEmpty())
            r.error = (undone ? QStringLiteral("批量删除失败，没有删除任何记录：\r\n")
                              : QStringLiteral("批量删除失败：\r\n")) +
                      r.error;
    } else if (transaction && !conn.commit()) {
        r.error = QStringLiteral("批量删除失败，没有删除任何记录：\r\n") + conn.errorString();
        undone = true;
        r.deleted = 0;
    } else if (QString why; log && r.deleted > 0 && !log->keep(&r.changeLogPath, &why)) {
        r.notes << why;
    }
    dup->resumeNotifications();
    if (undone) {
        // The table has its rows back: both cursors read it again.
        dup->requery();
        lookup->requery();
    }
    if (dup->recordCount() > 0) dup->moveLast();
    r.duplicateRows = dup->recordCount();
    return r;
}

double progressShare(int position, int count) {
    return count > 0 ? double(position) / double(count) * 100.0 : 0.0;
}

QString progressPercent(int position, int count) {
    const double p = progressShare(position, count);
    // The number as text with up to 15 significant digits, no exponent.
    QString s = QString::number(p, 'g', 15);
    if (s.contains(QLatin1Char('e'))) {
        s = QString::number(p, 'f', 15);
        while (s.endsWith(QLatin1Char('0')))
            s.chop(1);
        if (s.endsWith(QLatin1Char('.'))) s.chop(1);
    }
    return s.left(5) + QLatin1Char('%');
}

} // namespace tools
