#include "db/formats/xls/biffwrite.h"

#include <algorithm>

namespace formats::xls::biff {

bool needsWide(const QString& s) {
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() > 0xFF; });
}

void record(QByteArray& out, uint16_t type, const QByteArray& body) {
    Bytes h;
    h.u16(type).u16(uint16_t(body.size()));
    out.append(h.d).append(body);
}

QByteArray shortString(const QString& s) {
    const bool wide = needsWide(s);
    Bytes b;
    b.u8(uint8_t(s.size())).u8(wide ? 1 : 0).chars(s, wide);
    return b.d;
}

QByteArray bof(uint16_t type) {
    Bytes b;
    b.u16(0x0600).u16(type).u16(0x0DBB).u16(0x07CC).u32(0x00000041).u32(0x00000006);
    return b.d;
}

namespace {

QByteArray xf(uint16_t font, uint16_t format, bool style, uint8_t usedAttributes) {
    Bytes b;
    b.u16(font).u16(format).u16(style ? 0xFFF5 : 0x0001).u8(0x20).u8(0).u8(0);
    b.u8(usedAttributes).u32(0).u32(0).u16(0x20C0);
    return b.d;
}

} // namespace

QByteArray newGlobalsHead() {
    QByteArray g;
    record(g, kBof, bof(0x0005));
    record(g, 0x0042, Bytes().u16(1200).d); // CODEPAGE: UTF-16
    record(g, 0x003D,
           Bytes()
               .u16(0)
               .u16(0)
               .u16(0x3000)
               .u16(0x2000)
               .u16(0x0038)
               .u16(0)
               .u16(0)
               .u16(1)
               .u16(0x0258)
               .d);                      // WINDOW1
    record(g, 0x0022, Bytes().u16(0).d); // DATEMODE: 1900
    const QString fontName = QStringLiteral("宋体");
    for (int i = 0; i < 5; ++i) { // fonts 0-3 and 5 (there is no font 4)
        Bytes f;
        f.u16(220).u16(0).u16(0x7FFF).u16(400).u16(0).u8(0).u8(0).u8(134).u8(0);
        f.d.append(shortString(fontName));
        record(g, 0x0031, f.d);
    }
    const auto format = [&](uint16_t id, const QString& text) {
        Bytes f;
        f.u16(id).u16(uint16_t(text.size())).u8(0).chars(text, false);
        record(g, 0x041E, f.d);
    };
    format(164, QStringLiteral("yyyy\\-mm\\-dd"));
    format(165, QStringLiteral("yyyy\\-mm\\-dd\\ hh:mm:ss"));
    for (int i = 0; i < 15; ++i)
        record(g, kXf, xf(i >= 1 && i <= 4 ? 1 : 0, 0, true, 0));
    record(g, kXf, xf(0, 0, false, 0));                      // 15: General
    record(g, kXf, xf(0, 164, false, 0x04));                 // 16: date
    record(g, kXf, xf(0, 165, false, 0x04));                 // 17: date and time
    record(g, 0x0293, Bytes().u16(0x8000).u8(0).u8(0xFF).d); // STYLE: Normal
    return g;
}

QString sheetNameProblem(const QString& name) {
    if (name.isEmpty()) return QStringLiteral("工作表名称不能为空。");
    if (name.size() > 31)
        return QStringLiteral("工作表名称“%1”有%2个字符，Excel的工作表名称最多31个字符。")
            .arg(name)
            .arg(name.size());
    if (name.startsWith(QLatin1Char('\'')) || name.endsWith(QLatin1Char('\'')))
        return QStringLiteral("工作表名称“%1”不能以单引号（'）开头或结尾。").arg(name);
    for (QChar c : name) {
        if (QStringLiteral(":\\/?*[]").contains(c))
            return QStringLiteral("工作表名称“%1”中有Excel不允许的字符“%2”"
                                  "（工作表名称中不能有 [ ] : * ? / \\）。")
                .arg(name, QString(c));
        if (c.unicode() < 0x20)
            return QStringLiteral("工作表名称“%1”中有控制字符，Excel不允许。").arg(name);
    }
    if (name.compare(QLatin1String("History"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("“%1”是Excel保留的名称，不能用作工作表名称。").arg(name);
    return {};
}

QString rowRefusal(const QString& sheet, qint64 rows, qint64 maxRows, int maxColumns,
                   const std::vector<Cell>& row, const QString& format) {
    if (rows >= maxRows)
        return QStringLiteral("工作表“%1”已有%2行，%3最多容纳%2行。")
            .arg(sheet)
            .arg(maxRows)
            .arg(format);
    if (row.size() > size_t(maxColumns))
        return QStringLiteral("要写入%1列，%2最多容纳%3列。")
            .arg(row.size())
            .arg(format)
            .arg(maxColumns);
    for (const Cell& c : row)
        if (c.kind == CellKind::Text && c.text.size() > kMaxText)
            return QStringLiteral("工作表“%1”第%2行有一个%3个字符的文本，超过了Excel单元格的"
                                  "上限%4个字符。")
                .arg(sheet)
                .arg(rows + 1)
                .arg(c.text.size())
                .arg(kMaxText);
    return {};
}

} // namespace formats::xls::biff
