#include "batch/csv.h"

#include <QDir>
#include <QSaveFile>

namespace batch {

QByteArray csvField(const QString& value) {
    const QByteArray bytes = value.toUtf8();
    bool quote = false;
    for (const char c : bytes)
        if (c == ',' || c == '"' || c == '\n' || c == '\r') quote = true;
    if (!quote) return bytes;
    QByteArray q;
    q.reserve(bytes.size() + 2);
    q += '"';
    for (const char c : bytes) {
        if (c == '"') q += '"';
        q += c;
    }
    q += '"';
    return q;
}

bool writeCsv(const db::Recordset& rs, QIODevice& out, QString* error) {
    QByteArray line;
    auto flush = [&] {
        line += '\n';
        const bool ok = out.write(line) == line.size();
        line.clear();
        return ok;
    };
    const int columns = rs.fieldCount();
    for (int c = 0; c < columns; ++c) {
        if (c > 0) line += ',';
        line += csvField(rs.fieldName(c));
    }
    bool ok = flush();
    const int rows = rs.recordCount();
    for (int r = 0; ok && r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0) line += ',';
            const QVariant v = rs.valueAt(r, c);
            if (!v.isNull()) line += csvField(v.toString());
        }
        ok = flush();
    }
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
