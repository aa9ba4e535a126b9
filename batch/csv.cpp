#include "batch/csv.h"

#include <QDir>
#include <QSaveFile>

namespace batch {

namespace {

// Appends a value as a CSV field: quoted when it holds a comma, a quote or a line break.
void appendField(QByteArray& out, QStringView value) {
    const qsizetype from = out.size();
    out += value.toUtf8();
    bool quote = false;
    for (qsizetype i = from; i < out.size() && !quote; ++i) {
        const char c = out[i];
        quote = c == ',' || c == '"' || c == '\n' || c == '\r';
    }
    if (!quote) return;
    QByteArray q;
    q.reserve(out.size() - from + 2);
    q += '"';
    for (qsizetype i = from; i < out.size(); ++i) {
        if (out[i] == '"') q += '"';
        q += out[i];
    }
    q += '"';
    out.truncate(from);
    out += q;
}

} // namespace

bool writeCsv(const db::Recordset& rs, QIODevice& out, QString* error) {
    // Rows gathered into large blocks: one write per block, not per row.
    constexpr qsizetype block = 1 << 20;
    QByteArray buffer;
    buffer.reserve(block + 4096);
    const int columns = rs.fieldCount();
    for (int c = 0; c < columns; ++c) {
        if (c > 0) buffer += ',';
        appendField(buffer, rs.fieldName(c));
    }
    buffer += '\n';
    bool ok = true;
    const int rows = rs.recordCount();
    for (int r = 0; ok && r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0) buffer += ',';
            appendField(buffer, rs.viewAt(r, c)); // a null value is an empty field
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

bool writeCsvFile(const db::Recordset& rs, const QString& path, QString* error) {
    // Written beside the target and renamed at the end: an interrupted run never leaves half a
    // file under the name asked for.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("无法写入文件 %1：%2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    QString why;
    if (!writeCsv(rs, file, &why) || !file.commit()) {
        file.cancelWriting();
        *error = QStringLiteral("无法写入文件 %1：%2")
                     .arg(QDir::toNativeSeparators(path), why.isEmpty() ? file.errorString() : why);
        return false;
    }
    return true;
}

} // namespace batch
