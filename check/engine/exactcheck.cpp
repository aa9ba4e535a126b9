#include "check/engine/exactcheck.h"

#include "core/workdb.h"
#include "db/criteria.h"
#include "db/sqltext.h"

namespace check {

namespace {

QString writeFailure(const QString& why) {
    return QStringLiteral("重复数据写入失败，未分离任何记录：\r\n") + why;
}

} // namespace

void copyIntoDuplicates(db::Recordset& dup, const db::Recordset& src, QStringView number,
                        std::vector<QStringView>& record, core::RunResult& result) {
    const int dupFields = int(record.size());
    const int copyColumns = std::min(src.fieldCount(), dupFields - 2);
    std::fill(record.begin(), record.end(), QStringView());
    record[0] = number;
    for (int c = 0; c < copyColumns; ++c) {
        const QStringView v = db::trimBlanks(src.valueView(c));
        record[size_t(c) + 1] = v.isNull() ? QStringView(u"") : v;
    }
    const QString running = QString::number(dup.recordCount() + 1);
    record[size_t(dupFields) - 1] = running;
    if (dup.addRecord(record))
        result.copiedFrom.push_back(src.bookmark());
    else if (result.error.isEmpty())
        result.error = dup.errorString();
}

QString scanRefusal(const core::AppState& st, const core::RunOptions& options) {
    if (!core::isOpen(st.RsSource)) return QStringLiteral("请打开数据库！");
    if (!core::isOpen(st.RsDup)) return QStringLiteral("重复数据表没有打开，无法查重。");
    if (options.fields.isEmpty()) return QStringLiteral("请选择查重字段");
    const int total = st.RsSource->recordCount();
    if (options.start < 1 || options.end < options.start || options.start > total)
        return QStringLiteral("查重范围不正确：开始位置 %1，终止位置 %2，共 %3 条记录。")
            .arg(options.start)
            .arg(options.end)
            .arg(total);
    return {};
}

core::RunResult exactScan(core::AppState& st, const core::RunOptions& options,
                          core::ProgressSink& sink, bool writeGroups) {
    core::RunResult result;
    if (const QString why = scanRefusal(st, options); !why.isEmpty()) {
        result.error = why;
        return result;
    }
    const db::RecordsetPtr dup = st.RsDup;
    // The scan's own cursor: RsSource, which the grids show, stays where it is.
    const db::RecordsetPtr src = st.RsSource->clone();
    const int count = int(std::min<qsizetype>(options.fields.size(), 5));
    const int total = src->recordCount();

    // ClienttableCC: No, the source's columns (as many as it holds), the running number. Its
    // column k + 1 holds field k of the check table, whatever name it carries there.
    const int dupFields = dup->fieldCount();
    std::vector<int> srcCols;
    QStringList names;
    QStringList dupNames;
    for (int k = 0; k < count; ++k) {
        const QString name = db::trimBlanks(options.fields[k]);
        const int s = src->fieldIndex(name);
        if (s < 0 || s + 1 >= dupFields - 1) {
            result.error =
                QStringLiteral("查重字段“%1”不在当前数据表中，请重新选择查重字段。").arg(name);
            return result;
        }
        names << src->fieldName(s);
        dupNames << dup->fieldName(s + 1);
        srcCols.push_back(s);
    }

    // The look-up recordset: a second cursor over the check table's rows.
    st.RsPostcode = src->clone();
    const db::RecordsetPtr lookup = st.RsPostcode;

    const int end = std::min(options.end, total);
    int groups = 0;
    // Nothing watching the two recordsets hears of each move and insertion; they hear once, at
    // the end.
    dup->suspendNotifications();
    src->setAbsolutePosition(options.start);
    std::vector<QStringView> seed(static_cast<size_t>(count));
    std::vector<QStringView> record(static_cast<size_t>(dupFields));
    db::Criterion inDup = db::equalsCriterion(dupNames);
    db::Criterion inSource = db::equalsCriterion(names);
    while (!src->isEof() && src->absolutePosition() <= end) {
        if (!sink.progress(src->absolutePosition(), end)) {
            result.cancelled = true;
            break;
        }
        for (int k = 0; k < count; ++k)
            seed[size_t(k)] = db::trimBlanks(src->valueView(srcCols[size_t(k)]));
        if (!seed[0].isEmpty()) {
            for (int k = 0; k < count; ++k) {
                db::setEqualsValue(inDup.terms[size_t(k)], seed[size_t(k)]);
                db::setEqualsValue(inSource.terms[size_t(k)], seed[size_t(k)]);
            }
            // The records equal to the seed on every check field; a group when there are two,
            // unless ClienttableCC holds a row equal on every check field already.
            const bool pair = lookup->setFilter(inSource) && lookup->recordCount() >= 2;
            bool recorded = false;
            if (pair && dup->recordCount() > 0) {
                dup->moveFirst();
                recorded = dup->find(inDup);
            }
            if (pair && !recorded) {
                ++groups;
                const int members = lookup->recordCount();
                const QString number = QString::number(groups);
                lookup->moveFirst();
                for (int m = 0; m < members && !lookup->isEof(); ++m) {
                    copyIntoDuplicates(*dup, *lookup, m == 0 ? QStringView(number) : u"", record,
                                       result);
                    lookup->moveNext();
                }
                sink.groups(groups);
            }
        }
        src->moveNext();
    }
    // The groups go to the table in one transaction, a cancelled run's too.
    if (writeGroups && !dup->updateBatch() && result.error.isEmpty())
        result.error = dup->errorString();
    // The look-ups are done: their indexes over the check table need not stay in memory.
    lookup->releaseIndexes();
    if (dup->recordCount() > 0) dup->moveLast();
    dup->resumeNotifications();
    result.groups = groups;
    result.duplicateRows = dup->recordCount();
    result.remaining = src->recordCount();
    if (!result.error.isEmpty()) result.error = writeFailure(result.error);
    return result;
}

} // namespace check
