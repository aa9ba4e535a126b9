#include "check/engine/exactcheck.h"

#include "core/workdb.h"
#include "db/criteria.h"
#include "db/sqltext.h"

#include <algorithm>

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
    // Which records are equal on every check field, found once for the whole table: the
    // records of each class in table order (a record with an empty check field is in none).
    const std::vector<int> classOf = lookup->equalGroups(srcCols);
    const int classes = classOf.empty() ? 0 : *std::max_element(classOf.begin(), classOf.end()) + 1;
    std::vector<int> firstOf(size_t(classes) + 1, 0), members(classOf.size());
    for (int c : classOf)
        if (c >= 0) ++firstOf[size_t(c) + 1];
    for (int c = 0; c < classes; ++c)
        firstOf[size_t(c) + 1] += firstOf[size_t(c)];
    {
        std::vector<int> at(firstOf.begin(), firstOf.end() - 1);
        for (int row = 0; row < int(classOf.size()); ++row)
            if (classOf[size_t(row)] >= 0)
                members[size_t(at[size_t(classOf[size_t(row)])]++)] = row;
    }
    std::vector<uint8_t> taken(size_t(classes), 0); // its group is in ClienttableCC
    const bool dupHadRows = dup->recordCount() > 0;
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
        const int row = src->absolutePosition() - 1;
        const bool emptyField =
            std::any_of(seed.begin(), seed.end(), [](QStringView v) { return v.isNull(); });
        if (!seed[0].isEmpty() && !emptyField) {
            // The seed's class: a group when it has two records, unless ClienttableCC holds one
            // equal on every check field already (taken by this scan, or there before it).
            const int c = classOf[size_t(row)];
            const int size = c < 0 ? 0 : firstOf[size_t(c) + 1] - firstOf[size_t(c)];
            if (size >= 2 && !taken[size_t(c)]) {
                taken[size_t(c)] = 1;
                bool recorded = false;
                if (dupHadRows) {
                    for (int k = 0; k < count; ++k)
                        db::setEqualsValue(inDup.terms[size_t(k)], seed[size_t(k)]);
                    dup->moveFirst();
                    recorded = dup->find(inDup);
                }
                if (!recorded) {
                    ++groups;
                    const QString number = QString::number(groups);
                    for (int m = 0; m < size; ++m) {
                        lookup->setAbsolutePosition(members[size_t(firstOf[size_t(c)] + m)] + 1);
                        copyIntoDuplicates(*dup, *lookup, m == 0 ? QStringView(number) : u"",
                                           record, result);
                    }
                    sink.groups(groups);
                }
            }
        } else if (!seed[0].isEmpty()) {
            // A seed with a null check field (not the first) looks for records whose field is
            // empty there, itself not among them: the look-up as a filter.
            for (int k = 0; k < count; ++k) {
                db::setEqualsValue(inDup.terms[size_t(k)], seed[size_t(k)]);
                db::setEqualsValue(inSource.terms[size_t(k)], seed[size_t(k)]);
            }
            // The records equal to the seed on every check field; a group when there are two,
            // unless ClienttableCC holds a row equal on every check field already.
            const bool pair = lookup->setFilter(inSource) && lookup->recordCount() >= 2;
            bool recorded = false;
            db::Bookmark first = 0;
            if (pair && dup->recordCount() > 0) {
                dup->moveFirst();
                recorded = dup->find(inDup);
            }
            if (pair && !recorded) {
                ++groups;
                const int members = lookup->recordCount();
                const QString number = QString::number(groups);
                lookup->moveFirst();
                first = lookup->bookmark();
                for (int m = 0; m < members && !lookup->isEof(); ++m) {
                    copyIntoDuplicates(*dup, *lookup, m == 0 ? QStringView(number) : u"", record,
                                       result);
                    lookup->moveNext();
                }
                sink.groups(groups);
            }
            // The classes' positions are the whole table's again; the class of the records just
            // grouped is taken.
            lookup->setFilter(QString());
            if (first != 0 && lookup->setBookmark(first))
                if (const int c = classOf[size_t(lookup->absolutePosition() - 1)]; c >= 0)
                    taken[size_t(c)] = 1;
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
