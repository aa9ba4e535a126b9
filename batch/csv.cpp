#include "batch/csv.h"

#include <QDir>
#include <QSaveFile>

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

} // namespace

namespace {

bool writeTable(const QStringList& header, int rows,
                const std::function<QStringView(int, int)>& cell, QIODevice& out, QString* error) {
    // Rows gathered into large blocks: one write per block, not per row.
    constexpr qsizetype block = 1 << 20;
    QByteArray buffer;
    buffer.reserve(block + 4096);
    const int columns = int(header.size());
    for (int c = 0; c < columns; ++c) {
        if (c > 0) buffer += ',';
        appendField(buffer, header[c]);
    }
    buffer += '\n';
    bool ok = true;
    for (int r = 0; ok && r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0) buffer += ',';
            appendField(buffer, cell(r, c)); // a null value is an empty field
        }
        buffer += '\n';
        if (buffer.size() >= block || r + 1 == rows) {
            ok = out.write(buffer) == buffer.size();
            buffer.truncate(0);
        }
    }
    if (ok && rows == 0) ok = out.write(buffer) == buffer.size();
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
    return writeTable(
        rs.fieldNames(), rs.recordCount(), [&](int r, int c) { return rs.viewAt(r, c); }, out,
        error);
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
        [&](QIODevice& out, QString* why) { return writeTable(header, rows, cell, out, why); },
        error);
}

} // namespace batch
