#include "batch/csv.h"

#include "db/formats/threads.h"

#include <QDir>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace batch {

namespace {

// Appends a value as a CSV field in UTF-8: quoted when it holds a comma, a quote or a line
// break. Encoded straight into the block (no text made per value); an unpaired surrogate becomes
// '?', as Qt's own encoder writes it.
void appendField(QByteArray& out, QStringView value) {
    bool quote = false;
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if (u == ',' || u == '"' || u == '\n' || u == '\r') {
            quote = true;
            break;
        }
    }
    const qsizetype from = out.size();
    out.resize(from + value.size() * 3 * (quote ? 2 : 1) + 2);
    char* p = out.data() + from;
    if (quote) *p++ = '"';
    const char16_t* s = value.utf16();
    const char16_t* end = s + value.size();
    while (s < end) {
        char32_t u = *s++;
        if (u < 0x80) {
            if (quote && u == '"') *p++ = '"';
            *p++ = char(u);
            continue;
        }
        if (u < 0x800) {
            *p++ = char(0xC0 | (u >> 6));
            *p++ = char(0x80 | (u & 0x3F));
            continue;
        }
        if (QChar::isHighSurrogate(u) && s < end && QChar::isLowSurrogate(*s)) {
            u = QChar::surrogateToUcs4(char16_t(u), *s++);
            *p++ = char(0xF0 | (u >> 18));
            *p++ = char(0x80 | ((u >> 12) & 0x3F));
        } else if (QChar::isSurrogate(u)) {
            *p++ = '?';
            continue;
        } else {
            *p++ = char(0xE0 | (u >> 12));
        }
        *p++ = char(0x80 | ((u >> 6) & 0x3F));
        *p++ = char(0x80 | (u & 0x3F));
    }
    if (quote) *p++ = '"';
    out.truncate(p - out.constData());
}

void appendRow(QByteArray& out, int row, int columns,
               const std::function<QStringView(int, int)>& cell) {
    for (int c = 0; c < columns; ++c) {
        if (c > 0) out += ',';
        appendField(out, cell(row, c)); // a null value is an empty field
    }
    out += '\n';
}

// parallel: cell may be called from several threads at once. The rows are then made into
// blocks side by side, a block per thread at a time, and written in their order.
bool writeTable(const QStringList& header, int rows,
                const std::function<QStringView(int, int)>& cell, bool parallel, QIODevice& out,
                QString* error) {
    constexpr int rowsPerBlock = 4096;
    const int columns = int(header.size());
    const int threads = parallel && rows >= 2 * rowsPerBlock ? formats::workerThreads() : 1;
    std::vector<QByteArray> blocks(static_cast<size_t>(threads));
    for (int c = 0; c < columns; ++c) {
        if (c > 0) blocks[0] += ',';
        appendField(blocks[0], header[c]);
    }
    blocks[0] += '\n';
    bool ok = true;
    int from = 0;
    do {
        const int parts = std::clamp((rows - from + rowsPerBlock - 1) / rowsPerBlock, 1, threads);
        formats::onThreads(parts, [&](int part) {
            const int first = from + part * rowsPerBlock;
            const int last = std::min(rows, first + rowsPerBlock);
            for (int r = first; r < last; ++r)
                appendRow(blocks[size_t(part)], r, columns, cell);
        });
        for (int part = 0; part < parts && ok; ++part) {
            QByteArray& b = blocks[size_t(part)];
            ok = out.write(b) == b.size();
            b.truncate(0);
        }
        from = std::min(rows, from + parts * rowsPerBlock);
    } while (ok && from < rows);
    if (!ok) *error = out.errorString();
    return ok;
}

bool writeFile(const QString& path, const std::function<bool(QIODevice&, QString*)>& write,
               QString* error) {
    // Written beside the target and renamed at the end: an interrupted run never leaves half a
    // file under the name asked for.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("无法写入文件 %1：%2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    QString why;
    if (!write(file, &why) || !file.commit()) {
        file.cancelWriting();
        *error = QStringLiteral("无法写入文件 %1：%2")
                     .arg(QDir::toNativeSeparators(path), why.isEmpty() ? file.errorString() : why);
        return false;
    }
    return true;
}

} // namespace

bool writeCsv(const db::Recordset& rs, QIODevice& out, QString* error) {
    // The recordset's rows are only read while it is written; a first read brings its view up
    // to date, after which reads change nothing and may go side by side.
    const int rows = rs.recordCount();
    if (rows > 0) rs.viewAt(0, 0);
    return writeTable(
        rs.fieldNames(), rows, [&](int r, int c) { return rs.viewAt(r, c); }, true, out, error);
}

bool writeCsvFile(const db::Recordset& rs, const QString& path, QString* error) {
    return writeFile(
        path, [&](QIODevice& out, QString* why) { return writeCsv(rs, out, why); }, error);
}

bool writeCsvFile(const QStringList& header, int rows,
                  const std::function<QStringView(int, int)>& cell, const QString& path,
                  QString* error) {
    return writeFile(
        path,
        [&](QIODevice& out, QString* why) {
            return writeTable(header, rows, cell, false, out, why);
        },
        error);
}

} // namespace batch
