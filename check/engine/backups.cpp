#include "check/engine/backups.h"

#include "check/engine/separation.h"
#include "core/changelog.h"
#include "db/connection.h"
#include "db/formats/dbf/dbf.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace check {

namespace {

// "<base>_<yyyyMMdd_HHmmss>[_<n>]": the time of a backup of a file named base, from its name.
QDateTime stampOf(const QString& backupBase, const QString& base) {
    static const QRegularExpression stamp(QStringLiteral("^_(\\d{8}_\\d{6})(_\\d+)?$"));
    if (backupBase.size() <= base.size() ||
        backupBase.left(base.size()).compare(base, Qt::CaseInsensitive) != 0)
        return {};
    const QRegularExpressionMatch m = stamp.match(backupBase.mid(base.size()));
    return m.hasMatch() ? QDateTime::fromString(m.captured(1), QStringLiteral("yyyyMMdd_HHmmss"))
                        : QDateTime();
}

bool isDbf(const QString& path) {
    return QFileInfo(path).suffix().compare(QLatin1String("dbf"), Qt::CaseInsensitive) == 0;
}

// What a file's tables are: for a dBase table its fields (name, type, width, decimals), for an
// SQLite database each table with its columns, for a workbook each sheet with its heading row.
// Nothing, with *error, when it cannot be read.
std::optional<QStringList> shapeOf(const QString& path, int* records, QString* error) {
    QStringList shape;
    if (isDbf(path)) {
        formats::dbf::Table table;
        formats::dbf::OpenOptions options;
        options.readOnly = true;
        if (!table.open(path, options, error)) return std::nullopt;
        for (const int f : table.visibleFields()) {
            const formats::dbf::Field& field = table.fields()[size_t(f)];
            shape << QStringLiteral("%1 %2 %3 %4")
                         .arg(field.name.toUpper(), QChar::fromLatin1(field.type))
                         .arg(field.length)
                         .arg(field.decimals);
        }
        if (records) {
            int live = 0;
            QByteArray block;
            const int length = table.recordLength();
            for (quint32 first = 1; first <= table.recordCount();) {
                const quint32 read = table.readRecords(first, 4096, &block, error);
                if (read == 0) return std::nullopt;
                for (quint32 k = 0; k < read; ++k)
                    live += !formats::dbf::Table::isDeleted(
                        QByteArray::fromRawData(block.constData() + qsizetype(k) * length, length));
                first += read;
            }
            *records = live;
        }
        return shape;
    }
    const bool workbook = isWorkbook(path);
    db::Connection conn;
    if (!conn.open(workbook ? db::excelConnectionString(path) : db::accessConnectionString(path))) {
        *error = conn.errorString();
        return std::nullopt;
    }
    // (A workbook's sheets are its system tables "<sheet>$"; its tables are named ranges.)
    for (const db::SchemaRow& row : conn.tableSchema())
        if ((row.tableType == QLatin1String("TABLE")) != workbook)
            shape << row.tableName + QLatin1Char('(') +
                         conn.columnNames(row.tableName).join(QLatin1Char(',')) + QLatin1Char(')');
    return shape;
}

// Whether the tables of a backup are those of the file: a dBase table with the same fields;
// databases (or workbooks) that share a table (a sheet) and hold no shared one of other columns.
bool sameTables(const QStringList& file, const QStringList& backup, bool dbf) {
    if (dbf) return file == backup;
    auto nameOf = [](const QString& t) { return t.left(t.indexOf(QLatin1Char('('))); };
    bool shared = false;
    for (const QString& b : backup)
        for (const QString& f : file)
            if (nameOf(b).compare(nameOf(f), Qt::CaseInsensitive) == 0) {
                if (b.mid(nameOf(b).size()) != f.mid(nameOf(f).size())) return false;
                shared = true;
            }
    return shared;
}

} // namespace

bool isWorkbook(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("xls") || suffix == QLatin1String("xlsx") ||
           suffix == QLatin1String("xlsm");
}

std::vector<Backup> backupsOf(const QString& file) {
    std::vector<Backup> found;
    const QFileInfo info(file);
    const QDir folder(core::backupFolderOf(file));
    if (!folder.exists()) return found;
    const QFileInfoList entries = folder.entryInfoList(QDir::Files);
    for (const QFileInfo& e : entries) {
        if (e.suffix().compare(info.suffix(), Qt::CaseInsensitive) != 0) continue;
        Backup b;
        b.time = stampOf(e.completeBaseName(), info.completeBaseName());
        if (!b.time.isValid()) continue;
        b.path = e.absoluteFilePath();
        // Its companions: the files of the same name but for the extension.
        // The log of the step that made it (core::ChangeLog) is named after it.
        const QString logPrefix = e.completeBaseName() + QLatin1Char('_');
        for (const QFileInfo& c : entries) {
            if (c.completeBaseName() == e.completeBaseName()) b.bytes += c.size();
            // (Not the log of a second backup of the same second, "<stamp>_2_分离".)
            const QString step = c.completeBaseName().mid(logPrefix.size());
            if (c.suffix() == QLatin1String("csv") && c.completeBaseName().startsWith(logPrefix) &&
                !step.contains(QLatin1Char('_')))
                b.step = step;
        }
        QString error;
        if (isDbf(b.path)) shapeOf(b.path, &b.records, &error);
        found.push_back(b);
    }
    std::sort(found.begin(), found.end(), [](const Backup& x, const Backup& y) {
        return x.time != y.time ? x.time > y.time : x.path > y.path;
    });
    return found;
}

core::Status restoreBackup(const QString& file, const QString& backup, QString* undo,
                           bool* refused) {
    if (refused) *refused = true;
    const QString shown = QDir::toNativeSeparators(backup);
    const QString target = QDir::toNativeSeparators(file);
    const QFileInfo b(backup), info(file);
    if (!b.isFile()) return QStringLiteral("找不到备份文件“%1”。").arg(shown);
    if (!info.isFile()) return QStringLiteral("找不到数据文件“%1”。").arg(target);
    if (QFileInfo(b.absolutePath()).canonicalFilePath() !=
            QFileInfo(core::backupFolderOf(file)).canonicalFilePath() ||
        !stampOf(b.completeBaseName(), info.completeBaseName()).isValid() ||
        b.suffix().compare(info.suffix(), Qt::CaseInsensitive) != 0)
        return QStringLiteral("“%1”不是“%2”的备份，没有恢复。").arg(shown, target);
    QString error;
    const std::optional<QStringList> was = shapeOf(backup, nullptr, &error);
    if (!was) return QStringLiteral("备份“%1”无法读取，没有恢复：%2").arg(shown, error);
    const std::optional<QStringList> now = shapeOf(file, nullptr, &error);
    if (!now) return QStringLiteral("数据文件“%1”无法读取，没有恢复：%2").arg(target, error);
    if (!sameTables(*now, *was, isDbf(file)))
        return QStringLiteral("备份“%1”中的数据表与“%2”的字段不同，不是它的备份，没有恢复。")
            .arg(shown, target);
    if (refused) *refused = false;
    // The file as it is now, first: the restore can be undone with it. (*undo is set last: it
    // may be the very string backup refers to.)
    QString made;
    if (const core::Status s = backupUserFile(file, &made); !s.ok())
        return s.error + QStringLiteral("\r\n为保证数据安全，没有恢复。");
    const core::Status s = restoreUserFile(file, backup);
    if (undo) *undo = made;
    if (!s.ok())
        return s.error + QStringLiteral("\r\n恢复之前的文件已备份到“%1”。")
                             .arg(QDir::toNativeSeparators(made));
    return {};
}

} // namespace check
