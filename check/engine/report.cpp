#include "check/engine/report.h"

#include "core/workdb.h"
#include "db/formats/blanks.h"
#include "db/formats/threads.h"
#include "smart/engine/fieldkinds.h"
#include "smart/engine/matcher.h"
#include "smart/engine/regions.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <limits>
#include <tuple>

namespace check {

namespace {

// How many provinces a chart names before it sums the rest, how many of them get a chart of
// their cities, and how many cities such a chart names.
constexpr int shownProvinces = 34, provincesWithCities = 3, shownCities = 8;

const QString unplaced = QStringLiteral("未能识别");

// The counts, most first (equal counts by their label, so that every run gives one order); the
// ones after `shown` summed under `rest`.
std::vector<Count> ranked(const QHash<QString, int>& counts, int shown, const QString& rest) {
    std::vector<Count> out;
    for (auto it = counts.begin(); it != counts.end(); ++it)
        out.push_back({it.key(), it.value()});
    std::sort(out.begin(), out.end(), [](const Count& a, const Count& b) {
        return a.value != b.value ? a.value > b.value : a.label < b.label;
    });
    if (int(out.size()) > shown + 1) {
        int others = 0;
        for (size_t i = size_t(shown); i < out.size(); ++i)
            others += out[i].value;
        out.resize(size_t(shown));
        out.push_back({rest, others});
    }
    return out;
}

// Where a postcode lies: the province most divisions whose postcode starts with its first two
// digits belong to, and the city of its first four digits the same way (the table's rows).
class PostcodePlaces {
public:
    explicit PostcodePlaces(const smart::Regions& regions) : regions_(regions) {
        QHash<QString, QHash<int, int>> byTwo, byFour;
        const auto& rows = regions.divisions();
        // A division's province and city by their first rows, as Regions numbers them.
        QHash<QString, int> provinceRow, cityRow;
        for (int r = 0; r < int(rows.size()); ++r) {
            const smart::Division& d = rows[size_t(r)];
            provinceRow.insert(d.province, provinceRow.value(d.province, r));
            cityRow.insert(d.province + QLatin1Char('|') + d.city,
                           cityRow.value(d.province + QLatin1Char('|') + d.city, r));
            if (d.zip.size() != 6) continue;
            ++byTwo[d.zip.left(2)][provinceRow.value(d.province)];
            ++byFour[d.zip.left(4)][cityRow.value(d.province + QLatin1Char('|') + d.city)];
        }
        auto most = [](const QHash<QString, QHash<int, int>>& from, QHash<QString, int>* to) {
            for (auto it = from.begin(); it != from.end(); ++it) {
                int best = -1, votes = 0;
                for (auto v = it.value().begin(); v != it.value().end(); ++v)
                    if (v.value() > votes || (v.value() == votes && v.key() < best)) {
                        best = v.key();
                        votes = v.value();
                    }
                to->insert(it.key(), best);
            }
        };
        most(byTwo, &province_);
        most(byFour, &city_);
    }
    // The row of the province and of the city (-1: unknown) of a postcode.
    std::pair<int, int> place(QStringView code) const {
        const QStringView digits = formats::trimBlanks(code);
        if (digits.size() != 6 ||
            !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
            return {-1, -1};
        const int province = province_.value(digits.left(2).toString(), -1);
        int city = city_.value(digits.left(4).toString(), -1);
        // A city of another province (the table's few odd postcodes) does not count.
        if (province < 0 || (city >= 0 && regions_.divisions()[size_t(city)].province !=
                                              regions_.divisions()[size_t(province)].province))
            city = -1;
        return {province, city};
    }

private:
    const smart::Regions& regions_;
    QHash<QString, int> province_, city_;
};

// The columns of the duplicates that say where a record is: an address among the check fields
// (智能查重's kind, or a field named as an address), otherwise a postcode (the fuzzy check's
// postcode field, a check field of that kind, or a column named as one).
struct PlaceColumns {
    int address = -1, postcode = -1;
    QString from;
};

PlaceColumns placeColumns(const db::Recordset& dup, const core::RunOptions& options) {
    PlaceColumns p;
    auto kindOf = [&](int i) {
        smart::FieldKind kind = smart::kindOfName(options.fields[i]);
        if (options.mode == core::CheckMode::Smart && i < options.kinds.size())
            smart::kindOfCode(options.kinds[i], &kind);
        return kind;
    };
    const int checked = int(std::min<qsizetype>(options.fields.size(), 5));
    for (int i = 0; i < checked; ++i) {
        const int column = dup.fieldIndex(options.fields[i]);
        if (column < 0) continue;
        const smart::FieldKind kind = kindOf(i);
        if (kind == smart::FieldKind::Address && p.address < 0) p.address = column;
        if (kind == smart::FieldKind::Postcode && p.postcode < 0) p.postcode = column;
    }
    if (p.postcode < 0 && !options.postcodeField.isEmpty())
        p.postcode = dup.fieldIndex(options.postcodeField);
    // The running number (last) and the group number (first) are no fields of the list.
    for (int c = 1; p.postcode < 0 && c + 1 < dup.fieldCount(); ++c)
        if (smart::kindOfName(dup.fieldName(c)) == smart::FieldKind::Postcode) p.postcode = c;
    if (p.address >= 0)
        p.from = QStringLiteral("地址字段“%1”").arg(dup.fieldName(p.address));
    else if (p.postcode >= 0)
        p.from = QStringLiteral("邮编字段“%1”").arg(dup.fieldName(p.postcode));
    return p;
}

QString modeLabel(const core::RunOptions& options) {
    switch (options.mode) {
    case core::CheckMode::Exact:
        return QStringLiteral("完全相同查重");
    case core::CheckMode::Fuzzy:
        return QStringLiteral("模糊查重");
    case core::CheckMode::Smart:
        break;
    }
    smart::Level level = smart::Level::Normal;
    smart::levelOfCode(options.level, &level);
    return QStringLiteral("智能查重（%1）").arg(smart::levelLabel(level));
}

QString elapsedText(qint64 ms) {
    if (ms < 60000)
        return QStringLiteral("%1 秒").arg(double(ms) / 1000.0, 0, 'f', ms < 1000 ? 2 : 1);
    const qint64 s = (ms + 500) / 1000;
    if (s < 3600) return QStringLiteral("%1 分 %2 秒").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 小时 %2 分").arg(s / 3600).arg(s % 3600 / 60);
}

QJsonArray countsToJson(const std::vector<Count>& counts) {
    QJsonArray a;
    for (const Count& c : counts)
        a.append(QJsonArray{c.label, c.value});
    return a;
}

std::vector<Count> countsFromJson(const QJsonValue& v) {
    std::vector<Count> out;
    for (const QJsonValue& c : v.toArray())
        out.push_back({c.toArray().at(0).toString(), c.toArray().at(1).toInt()});
    return out;
}

} // namespace

CheckReport reportOf(const core::AppState& st, const core::RunOptions& options,
                     const core::RunResult& result, qint64 elapsedMs) {
    CheckReport r;
    r.finished = QDateTime::currentDateTime();
    r.source = st.SourcePath;
    r.table = st.SourceTable;
    r.mode = modeLabel(options);
    r.fields = options.fields.mid(0, 5);
    r.checked = std::max(0, options.end - options.start + 1);
    r.groups = result.groups;
    r.duplicates = result.duplicateRows;
    r.separated = result.separated;
    r.remaining = result.separated > 0 ? result.remaining : core::recordCountOf(st.RsSource);
    r.elapsedMs = elapsedMs;
    if (result.cancelled)
        r.outcome = QStringLiteral("查重已停止");
    else if (!result.error.isEmpty())
        r.outcome = result.error;
    r.backup = result.backupPath;
    if (!result.changeLogPath.isEmpty()) r.logs << result.changeLogPath;

    int sizes[5] = {};
    const db::RecordsetPtr dup = core::isOpen(st.RsDup) ? st.RsDup->clone() : nullptr;
    const int rows = dup ? dup->recordCount() : 0;
    if (rows > 0) {
        // The group number stands on the first row of each group only.
        auto count = [&](int members) {
            if (members >= 2) ++sizes[members >= 10 ? 4 : members >= 5 ? 3 : members - 2];
        };
        int members = 0;
        for (int row = 0; row < rows; ++row) {
            if (!formats::trimBlanks(dup->viewAt(row, 0)).isEmpty()) {
                count(members);
                members = 0;
            }
            ++members;
        }
        count(members);

        const PlaceColumns columns = placeColumns(*dup, options);
        r.placesFrom = columns.from;
        if (!columns.from.isEmpty()) {
            const smart::Regions& regions = smart::Regions::shipped();
            const auto& divisions = regions.divisions();
            std::optional<PostcodePlaces> postcodes;
            if (columns.address < 0) postcodes.emplace(regions);
            QHash<QString, int> provinces;
            QHash<QString, QHash<QString, int>> cities;
            // Each row placed on the threads (a million-row list has a hundred thousand
            // duplicates to read addresses of), then counted in order.
            std::vector<std::pair<int, int>> places(static_cast<size_t>(rows));
            const int parts = std::clamp(rows / 8192, 1, formats::workerThreads());
            formats::onThreads(parts, [&](int part) {
                const int from = int(qint64(rows) * part / parts);
                const int to = int(qint64(rows) * (part + 1) / parts);
                for (int row = from; row < to; ++row) {
                    const QStringView code =
                        columns.postcode >= 0 ? dup->viewAt(row, columns.postcode) : QStringView();
                    if (columns.address >= 0) {
                        const smart::Address a =
                            regions.parse(dup->viewAt(row, columns.address), code);
                        places[size_t(row)] = {a.province, a.city};
                    } else {
                        places[size_t(row)] = postcodes->place(code);
                    }
                }
            });
            for (const auto& [province, city] : places) {
                if (province < 0) {
                    ++provinces[unplaced];
                    continue;
                }
                const QString& name = divisions[size_t(province)].province;
                ++provinces[name];
                ++cities[name][city >= 0 ? divisions[size_t(city)].city : unplaced];
            }
            // Those not placed go last, after the rest.
            const int notPlaced = provinces.take(unplaced);
            r.provinces = ranked(provinces, shownProvinces, QStringLiteral("其他省份"));
            if (notPlaced > 0) r.provinces.push_back({unplaced, notPlaced});
            for (const Count& p : r.provinces) {
                if (int(r.cities.size()) == provincesWithCities) break;
                if (!cities.contains(p.label)) continue;
                r.cities.emplace_back(p.label, ranked(cities.value(p.label), shownCities,
                                                      QStringLiteral("其他城市")));
            }
        }
    }
    const QString sizeLabels[5] = {QStringLiteral("2 条"), QStringLiteral("3 条"),
                                   QStringLiteral("4 条"), QStringLiteral("5–9 条"),
                                   QStringLiteral("10 条及以上")};
    if (r.groups > 0)
        for (int i = 0; i < 5; ++i)
            r.groupSizes.push_back({sizeLabels[i], sizes[i]});

    if (options.mode == core::CheckMode::Smart) {
        // A group counts once for each kind of evidence any of its rows was joined by.
        QHash<int, QSet<QString>> kindsOfGroup;
        const QHash<int, core::GroupReason> reasons = core::readReasons(st.WorkConn);
        for (const core::GroupReason& why : reasons)
            for (const QString& kind : why.basis.split(QStringLiteral("；"), Qt::SkipEmptyParts))
                kindsOfGroup[why.group].insert(kind);
        QHash<QString, int> groupsOfKind;
        for (const QSet<QString>& kinds : kindsOfGroup)
            for (const QString& kind : kinds)
                ++groupsOfKind[kind];
        r.evidence = ranked(groupsOfKind, std::numeric_limits<int>::max() - 1, {});
    }
    return r;
}

std::vector<std::pair<QString, QString>> figuresOf(const CheckReport& r) {
    auto number = [](int n) { return QString::number(n); };
    std::vector<std::pair<QString, QString>> rows = {
        {QStringLiteral("数据文件"), QDir::toNativeSeparators(r.source)},
        {QStringLiteral("数据表"), r.table},
        {QStringLiteral("查重方式"), r.mode},
        {QStringLiteral("查重字段"), r.fields.join(QStringLiteral("、"))},
        {QStringLiteral("查重记录数"), number(r.checked)},
        {QStringLiteral("重复组数"), number(r.groups)},
        {QStringLiteral("重复记录数"), number(r.duplicates)},
        {QStringLiteral("分离记录数"), number(r.separated)},
        {QStringLiteral("剩余记录数"), number(r.remaining)},
        {QStringLiteral("用时"), elapsedText(r.elapsedMs)},
        {QStringLiteral("完成时间"), r.finished.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
    };
    if (!r.outcome.isEmpty()) rows.emplace_back(QStringLiteral("结果"), r.outcome);
    if (!r.backup.isEmpty())
        rows.emplace_back(QStringLiteral("分离前的备份"), QDir::toNativeSeparators(r.backup));
    for (const QString& log : r.logs)
        rows.emplace_back(QStringLiteral("变更记录"), QDir::toNativeSeparators(log));
    return rows;
}

std::vector<Chart> chartsOf(const CheckReport& r) {
    std::vector<Chart> charts;
    auto add = [&](const QString& title, const QString& unit, const std::vector<Count>& bars) {
        if (!bars.empty()) charts.push_back({title, unit, bars});
    };
    add(QStringLiteral("重复组的大小（每组的记录数）"), QStringLiteral("组"), r.groupSizes);
    add(QStringLiteral("各省份的重复记录（据%1）").arg(r.placesFrom), QStringLiteral("条"),
        r.provinces);
    for (const auto& [province, cities] : r.cities)
        add(QStringLiteral("%1各城市的重复记录").arg(province), QStringLiteral("条"), cities);
    add(QStringLiteral("智能查重的分组依据（含此依据的组数）"), QStringLiteral("组"), r.evidence);
    return charts;
}

QByteArray reportToJson(const CheckReport& r) {
    QJsonArray cities;
    for (const auto& [province, counts] : r.cities)
        cities.append(QJsonArray{province, countsToJson(counts)});
    const QJsonObject o{
        {QStringLiteral("finished"), r.finished.toString(Qt::ISODate)},
        {QStringLiteral("source"), r.source},
        {QStringLiteral("table"), r.table},
        {QStringLiteral("mode"), r.mode},
        {QStringLiteral("fields"), QJsonArray::fromStringList(r.fields)},
        {QStringLiteral("checked"), r.checked},
        {QStringLiteral("groups"), r.groups},
        {QStringLiteral("duplicates"), r.duplicates},
        {QStringLiteral("separated"), r.separated},
        {QStringLiteral("remaining"), r.remaining},
        {QStringLiteral("elapsedMs"), double(r.elapsedMs)},
        {QStringLiteral("outcome"), r.outcome},
        {QStringLiteral("groupSizes"), countsToJson(r.groupSizes)},
        {QStringLiteral("placesFrom"), r.placesFrom},
        {QStringLiteral("provinces"), countsToJson(r.provinces)},
        {QStringLiteral("cities"), cities},
        {QStringLiteral("evidence"), countsToJson(r.evidence)},
        {QStringLiteral("backup"), r.backup},
        {QStringLiteral("logs"), QJsonArray::fromStringList(r.logs)},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<CheckReport> reportFromJson(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    auto strings = [&](const char* key) {
        QStringList out;
        for (const QJsonValue& v : o.value(QLatin1String(key)).toArray())
            out << v.toString();
        return out;
    };
    auto text = [&](const char* key) { return o.value(QLatin1String(key)).toString(); };
    auto number = [&](const char* key) { return o.value(QLatin1String(key)).toInt(); };
    CheckReport r;
    r.finished = QDateTime::fromString(text("finished"), Qt::ISODate);
    r.source = text("source");
    r.table = text("table");
    r.mode = text("mode");
    r.fields = strings("fields");
    r.checked = number("checked");
    r.groups = number("groups");
    r.duplicates = number("duplicates");
    r.separated = number("separated");
    r.remaining = number("remaining");
    r.elapsedMs = qint64(o.value(QLatin1String("elapsedMs")).toDouble());
    r.outcome = text("outcome");
    r.groupSizes = countsFromJson(o.value(QLatin1String("groupSizes")));
    r.placesFrom = text("placesFrom");
    r.provinces = countsFromJson(o.value(QLatin1String("provinces")));
    for (const QJsonValue& c : o.value(QLatin1String("cities")).toArray())
        r.cities.emplace_back(c.toArray().at(0).toString(), countsFromJson(c.toArray().at(1)));
    r.evidence = countsFromJson(o.value(QLatin1String("evidence")));
    r.backup = text("backup");
    r.logs = strings("logs");
    return r;
}

QString reportHtml(const CheckReport& r) {
    auto esc = [](const QString& s) { return s.toHtmlEscaped(); };
    QString html = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>查重报告</title>\n<style>\n"
        "body { font-family: \"Microsoft YaHei\", \"WenQuanYi Micro Hei\", \"PingFang SC\", "
        "sans-serif; margin: 2em auto; max-width: 52em; color: #222; }\n"
        "h1 { font-size: 1.6em; } h2 { font-size: 1.15em; margin-top: 1.6em; }\n"
        "table.figures { border-collapse: collapse; }\n"
        "table.figures th { text-align: left; font-weight: normal; color: #555; "
        "padding: 0.2em 1.5em 0.2em 0; white-space: nowrap; vertical-align: top; }\n"
        "table.figures td { padding: 0.2em 0; word-break: break-all; }\n"
        "svg text { font-size: 13px; } svg rect { fill: #3b7dd8; }\n"
        "</style>\n</head>\n<body>\n<h1>查重报告</h1>\n<table class=\"figures\">\n");
    for (const auto& [label, value] : figuresOf(r))
        html += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(esc(label), esc(value));
    html += QStringLiteral("</table>\n");
    // Horizontal bars: the label, the bar, the count after it.
    constexpr int labelWidth = 150, barWidth = 420, rowHeight = 24, width = 680;
    for (const Chart& chart : chartsOf(r)) {
        int most = 1;
        for (const Count& c : chart.bars)
            most = std::max(most, c.value);
        const int height = int(chart.bars.size()) * rowHeight + 8;
        html += QStringLiteral("<h2>%1</h2>\n<svg width=\"%2\" height=\"%3\" viewBox=\"0 0 %2 %3\" "
                               "role=\"img\" aria-label=\"%1\">\n")
                    .arg(esc(chart.title))
                    .arg(width)
                    .arg(height);
        for (size_t i = 0; i < chart.bars.size(); ++i) {
            const Count& c = chart.bars[i];
            const int y = int(i) * rowHeight + 4;
            const int w = c.value > 0 ? std::max(1, int(double(c.value) * barWidth / most)) : 0;
            html += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>"
                                   "<rect x=\"%4\" y=\"%5\" width=\"%6\" height=\"%7\"/>"
                                   "<text x=\"%8\" y=\"%2\">%9 %10</text>\n")
                        .arg(labelWidth - 8)
                        .arg(y + 16)
                        .arg(esc(c.label))
                        .arg(labelWidth)
                        .arg(y + 3)
                        .arg(w)
                        .arg(rowHeight - 6)
                        .arg(labelWidth + w + 6)
                        .arg(c.value)
                        .arg(esc(chart.unit));
        }
        html += QStringLiteral("</svg>\n");
    }
    html += QStringLiteral("</body>\n</html>\n");
    return html;
}

core::Status writeReportHtml(const CheckReport& report, const QString& path) {
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly) && out.write(reportHtml(report).toUtf8()) >= 0 &&
        out.commit())
        return {};
    return QStringLiteral("无法写入查重报告 %1：%2")
        .arg(QDir::toNativeSeparators(path), out.errorString());
}

core::Status keepReport(const db::Connection& work, const CheckReport& report) {
    return core::keepReportText(work, QString::fromUtf8(reportToJson(report)));
}

std::optional<CheckReport> lastReport(const db::Connection& work) {
    const QString text = core::reportText(work);
    if (text.isEmpty()) return std::nullopt;
    return reportFromJson(text.toUtf8());
}

void addLogToLastReport(const db::Connection& work, const QString& log) {
    std::optional<CheckReport> report = lastReport(work);
    if (!report || log.isEmpty() || report->logs.contains(log)) return;
    report->logs << log;
    keepReport(work, *report);
}

} // namespace check
