#include "check/engine/smartscan.h"

#include "check/engine/exactcheck.h"
#include "core/workdb.h"
#include "db/criteria.h"
#include "smart/engine/matcher.h"

#include <memory>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace check {

namespace {

QString writeFailure(const QString& why) {
    return QStringLiteral("重复数据写入失败，未分离任何记录：\r\n") + why;
}

} // namespace

QStringList inferredKinds(const core::AppState& st, const QStringList& fields) {
    QStringList codes;
    if (!core::isOpen(st.RsSource)) return codes;
    const db::RecordsetPtr rs = st.RsSource->clone();
    // A sample spread over the table: the first rows of a list are not always like the rest.
    constexpr int sample = 200;
    const int count = rs->recordCount();
    const int step = std::max(1, count / sample);
    for (const QString& field : fields) {
        const int column = rs->fieldIndex(db::trimBlanks(field));
        QStringList values;
        for (int p = 1; column >= 0 && p <= count && values.size() < sample; p += step) {
            rs->setAbsolutePosition(p);
            values << db::trimBlanks(rs->valueView(column)).toString();
        }
        codes << smart::kindCode(smart::inferKind(field, values));
    }
    return codes;
}

QString smartSettingsRefusal(const QStringList& kinds, const QString& level, int fields) {
    smart::FieldKind kind;
    for (const QString& code : kinds)
        if (!code.isEmpty() && !smart::kindOfCode(code, &kind))
            return QStringLiteral("未知的字段类型“%1”：可用 name（姓名）、address（地址）、"
                                  "phone（电话）、id（身份证号）、org（单位名称）、"
                                  "postcode（邮编）、other（其他）")
                .arg(code);
    if (kinds.size() > fields)
        return QStringLiteral("字段类型有 %1 个，查重字段只有 %2 个").arg(kinds.size()).arg(fields);
    smart::Level l;
    if (!level.isEmpty() && !smart::levelOfCode(level, &l))
        return QStringLiteral("未知的查重级别“%1”：可用 strict（严格）、normal（标准）、"
                              "loose（宽松）")
            .arg(level);
    return {};
}

core::RunResult smartScan(core::AppState& st, const core::RunOptions& options,
                          core::ProgressSink& sink) {
    core::RunResult result;
    if (const QString why = scanRefusal(st, options); !why.isEmpty()) {
        result.error = why;
        return result;
    }
    const db::RecordsetPtr dup = st.RsDup;
    const db::RecordsetPtr src = st.RsSource->clone(); // a cursor of the scan's own
    const int total = src->recordCount();
    const int count = int(std::min<qsizetype>(options.fields.size(), 5));
    const int dupFields = dup->fieldCount();
    smart::MatchSettings settings;
    std::vector<int> columns;
    const QStringList kinds =
        options.kinds.size() >= count ? options.kinds : inferredKinds(st, options.fields);
    for (int k = 0; k < count; ++k) {
        const QString name = db::trimBlanks(options.fields[k]);
        const int s = src->fieldIndex(name);
        if (s < 0 || s + 1 >= dupFields - 1) {
            result.error =
                QStringLiteral("查重字段“%1”不在当前数据表中，请重新选择查重字段。").arg(name);
            return result;
        }
        smart::FieldKind kind = smart::FieldKind::Other;
        smart::kindOfCode(kinds.value(k), &kind);
        settings.kinds.push_back(kind);
        settings.labels << src->fieldName(s);
        columns.push_back(s);
    }
    if (!options.level.isEmpty()) smart::levelOfCode(options.level, &settings.level);

    // The records' check fields, in the order of the range.
    const int end = std::min(options.end, total);
    const int records = end - options.start + 1;
    // The normal forms are let go once the groups are found, before the groups are written.
    auto matcher = std::make_unique<smart::Matcher>(settings);
    matcher->reserve(records);
    std::vector<QStringView> values(static_cast<size_t>(count));
    // The progress as record positions, as the other checks report it: reading the records (and
    // bringing them to their normal forms) is the first half of the way, matching them the
    // second; the first mark is the share done.
    const qint64 steps = 2 * qint64(records);
    auto report = [&](qint64 step) {
        sink.marks(int(100 * step / std::max<qint64>(steps, 1)), -1);
        return sink.progress(options.start - 1 + int(step * records / std::max<qint64>(steps, 1)),
                             end);
    };
    src->setAbsolutePosition(options.start);
    for (int i = 0; i < records && !src->isEof(); ++i) {
        if (!report(i)) {
            result.cancelled = true;
            return result;
        }
        for (int k = 0; k < count; ++k)
            values[size_t(k)] = db::trimBlanks(src->valueView(columns[size_t(k)]));
        matcher->add(values);
        src->moveNext();
    }
    const smart::MatchResult found = matcher->run([&](int done, int all) {
        return report(records + qint64(done) * records / std::max(all, 1));
    });
    matcher.reset();
#ifdef __GLIBC__
    // The normal forms lie between blocks that stay: their pages go back to the system, or the
    // groups and the separation would come on top of them.
    malloc_trim(0);
#endif
    if (found.cancelled) {
        result.cancelled = true;
        return result;
    }

    // The groups into ClienttableCC, as the exact check writes them.
    dup->suspendNotifications();
    std::vector<QStringView> record(static_cast<size_t>(dupFields));
    std::vector<core::GroupReason> reasons;
    std::vector<int> runningOf(static_cast<size_t>(records), 0);
    for (size_t g = 0; g < found.groups.size(); ++g) {
        const QString number = QString::number(int(g) + 1);
        for (size_t m = 0; m < found.groups[g].size(); ++m) {
            const int index = found.groups[g][m];
            src->setAbsolutePosition(options.start + index);
            const int running = dup->recordCount() + 1;
            const size_t copied = result.copiedFrom.size();
            copyIntoDuplicates(*dup, *src, m == 0 ? QStringView(number) : u"", record, result);
            if (result.copiedFrom.size() > copied) runningOf[size_t(index)] = running;
        }
        sink.groups(int(g) + 1);
    }
    for (size_t g = 0; g < found.groups.size(); ++g)
        for (size_t m = 0; m < found.groups[g].size(); ++m) {
            const smart::Reason& why = found.reasons[g][m];
            reasons.push_back({runningOf[size_t(found.groups[g][m])], int(g) + 1,
                               runningOf[size_t(why.partner)], why.score, why.basis});
        }
    if (!dup->updateBatch() && result.error.isEmpty()) result.error = dup->errorString();
    if (dup->recordCount() > 0) dup->moveLast();
    dup->resumeNotifications();
    if (result.error.isEmpty())
        if (const core::Status s = core::writeReasons(st.WorkConn, reasons); !s.ok())
            result.error = s.error;
    if (!found.capped.empty()) {
        QStringList blocks;
        for (size_t i = 0; i < found.capped.size() && i < 5; ++i)
            blocks << QStringLiteral("%1（%2 条）")
                          .arg(found.capped[i].key)
                          .arg(found.capped[i].records);
        result.notes << QStringLiteral("有 %1 个值过于常见，持有它们的记录没有两两比较，"
                                       "只按其他字段查重：%2%3")
                            .arg(found.capped.size())
                            .arg(blocks.join(QStringLiteral("、")))
                            .arg(found.capped.size() > 5 ? QStringLiteral("等") : QString());
    }
    result.groups = int(found.groups.size());
    result.duplicateRows = dup->recordCount();
    result.remaining = src->recordCount();
    if (!result.error.isEmpty()) result.error = writeFailure(result.error);
    return result;
}

} // namespace check
