#include "db/formats/xls/xlswriter.h"

#include "db/formats/xls/biffwrite.h"
#include "db/formats/xls/cfb.h"

#include <QDir>
#include <QHash>
#include <QSaveFile>
#include <QSet>

#include <bit>
#include <cmath>

namespace formats::xls {

namespace {

using namespace biff;

// The shared string table, split over CONTINUE records, and its index (EXTSST).
struct SstParts {
    std::vector<QByteArray> bodies;
    std::vector<std::pair<size_t, qsizetype>> bucketStarts; // (body, offset) of every 8th string
};

SstParts sstParts(const std::vector<QString>& strings, uint32_t total, int perBucket) {
    SstParts parts;
    Bytes cur;
    cur.u32(total).u32(uint32_t(strings.size()));
    const auto flush = [&] {
        parts.bodies.push_back(cur.d);
        cur.d.clear();
    };
    for (size_t i = 0; i < strings.size(); ++i) {
        const QString& s = strings[i];
        const bool wide = needsWide(s);
        const int width = wide ? 2 : 1;
        if (cur.d.size() + 3 + width > kMaxBody) flush(); // a string header never splits
        if (i % size_t(perBucket) == 0)
            parts.bucketStarts.push_back({parts.bodies.size(), cur.d.size()});
        cur.u16(uint16_t(s.size())).u8(wide ? 1 : 0);
        qsizetype done = 0;
        while (done < s.size()) {
            qsizetype room = (kMaxBody - cur.d.size()) / width;
            if (room == 0) {
                flush();
                cur.u8(wide ? 1 : 0); // the option byte starts every continued run of characters
                room = (kMaxBody - 1) / width;
            }
            const qsizetype n = std::min(room, s.size() - done);
            cur.chars(s.mid(done, n), wide);
            done += n;
        }
    }
    flush();
    return parts;
}

} // namespace

bool writeWorkbook(const std::vector<SheetData>& sheets, QByteArray* out, QString* error) {
    const auto fail = [&](const QString& message) {
        if (error) *error = message;
        return false;
    };
    if (sheets.empty()) return fail(QStringLiteral("没有要写入Excel文件的工作表。"));
    QSet<QString> names;
    for (const SheetData& s : sheets) {
        if (const QString problem = sheetNameProblem(s.name); !problem.isEmpty())
            return fail(problem);
        if (names.contains(s.name.toCaseFolded()))
            return fail(QStringLiteral("工作表名称重复：%1").arg(s.name));
        names.insert(s.name.toCaseFolded());
        if (s.rows.size() > 65536)
            return fail(QStringLiteral("工作表“%1”有%2行，超过了Excel 97-2003的上限65536行。")
                            .arg(s.name)
                            .arg(s.rows.size()));
        for (const auto& row : s.rows) {
            if (row.size() > 256)
                return fail(QStringLiteral("工作表“%1”有%2列，超过了Excel 97-2003的上限256列。")
                                .arg(s.name)
                                .arg(row.size()));
            for (const Cell& c : row)
                if (c.kind == CellKind::Text && c.text.size() > 32767)
                    return fail(QStringLiteral("工作表“%1”中有超过32767个字符的文本，"
                                               "Excel单元格容纳不下。")
                                    .arg(s.name));
        }
    }

    // Shared strings, each text stored once.
    std::vector<QString> strings;
    QHash<QString, uint32_t> index;
    uint32_t textCells = 0;
    for (const SheetData& s : sheets)
        for (const auto& row : s.rows)
            for (const Cell& c : row)
                if (c.kind == CellKind::Text) {
                    ++textCells;
                    if (!index.contains(c.text)) {
                        index.insert(c.text, uint32_t(strings.size()));
                        strings.push_back(c.text);
                    }
                }

    QByteArray g = newGlobalsHead(); // workbook globals
    std::vector<qsizetype> boundAt;
    for (const SheetData& s : sheets) {
        boundAt.push_back(g.size() + 4);
        record(g, 0x0085, Bytes().u32(0).u8(0).u8(0).d + shortString(s.name));
    }

    const int perBucket = std::max<int>(8, int(strings.size() / 128 + 1));
    const SstParts sst = sstParts(strings, textCells, perBucket);
    std::vector<qsizetype> partAt;
    for (size_t i = 0; i < sst.bodies.size(); ++i) {
        partAt.push_back(g.size());
        record(g, i == 0 ? 0x00FC : 0x003C, sst.bodies[i]);
    }
    Bytes ext;
    ext.u16(uint16_t(perBucket));
    for (const auto& [part, offset] : sst.bucketStarts)
        ext.u32(uint32_t(partAt[part] + 4 + offset)).u16(uint16_t(4 + offset)).u16(0);
    record(g, 0x00FF, ext.d);
    record(g, 0x000A, {});

    QByteArray stream = g;
    for (size_t si = 0; si < sheets.size(); ++si) {
        const SheetData& s = sheets[si];
        const uint32_t at = uint32_t(stream.size());
        putLe32(stream.data() + boundAt[si], at);
        QByteArray w;
        record(w, 0x0809, bof(0x0010));
        uint16_t cols = 0;
        for (const auto& row : s.rows)
            cols = std::max(cols, uint16_t(row.size()));
        record(w, 0x0200, Bytes().u32(0).u32(uint32_t(s.rows.size())).u16(0).u16(cols).u16(0).d);
        // Cell records go straight into the sheet's bytes: two of them per cell would make
        // writing a large sheet mostly memory allocation.
        w.reserve(w.size() + qsizetype(s.rows.size()) * cols * 18 + 64);
        char cellRec[22];
        for (size_t r = 0; r < s.rows.size(); ++r) {
            for (size_t c = 0; c < s.rows[r].size(); ++c) {
                const Cell& cell = s.rows[r][c];
                putLe16(cellRec + 4, uint16_t(r));
                putLe16(cellRec + 6, uint16_t(c));
                int len = 0;
                switch (cell.kind) {
                case CellKind::Empty:
                    continue;
                case CellKind::Text: // LABELSST
                    putLe16(cellRec, 0x00FD);
                    putLe16(cellRec + 8, kXfGeneral);
                    putLe32(cellRec + 10, uint32_t(index.value(cell.text)));
                    len = 10;
                    break;
                case CellKind::Number: { // NUMBER
                    const bool timeOfDay = cell.number != std::floor(cell.number);
                    putLe16(cellRec, 0x0203);
                    putLe16(cellRec + 8,
                            uint16_t(cell.date ? (timeOfDay ? kXfDateTime : kXfDate) : kXfGeneral));
                    putLe64(cellRec + 10, std::bit_cast<uint64_t>(cell.number));
                    len = 14;
                    break;
                }
                case CellKind::Boolean: // BOOLERR
                case CellKind::Error:
                    putLe16(cellRec, 0x0205);
                    putLe16(cellRec + 8, kXfGeneral);
                    cellRec[10] = char(int(cell.number));
                    cellRec[11] = char(cell.kind == CellKind::Error ? 1 : 0);
                    len = 8;
                    break;
                }
                putLe16(cellRec + 2, uint16_t(len));
                w.append(cellRec, 4 + len);
            }
        }
        const uint16_t selected = si == 0 ? 0x0600 : 0;
        record(
            w, 0x023E,
            Bytes().u16(0x00B6 | selected).u16(0).u16(0).u32(64).u16(0).u16(0).u32(0).d); // WINDOW2
        record(w, 0x000A, {});
        stream.append(w);
    }
    // Excel expects the workbook stream outside the mini stream.
    if (stream.size() < 4096) stream.append(QByteArray(4096 - stream.size(), '\0'));
    *out = cfb::write({{QStringLiteral("Workbook"), stream}});
    return true;
}

bool writeWorkbookFile(const QString& path, const std::vector<SheetData>& sheets, QString* error) {
    QByteArray bytes;
    if (!writeWorkbook(sheets, &bytes, error)) return false;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        if (error)
            *error = QStringLiteral("无法写入Excel文件：%1（%2）")
                         .arg(QDir::toNativeSeparators(path), f.errorString());
        return false;
    }
    return true;
}

} // namespace formats::xls
