#include "core/changelog.h"

#include "db/formats/blanks.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace core {

namespace {

// A CSV field: quoted when it holds a comma, a quote or a line break.
QString csvField(const QString& v) {
    if (!v.contains(QLatin1Char(',')) && !v.contains(QLatin1Char('"')) &&
        !v.contains(QLatin1Char('\n')) && !v.contains(QLatin1Char('\r')))
        return v;
    QString quoted = v;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray csvLine(const QStringList& cells) {
    QStringList out;
    for (const QString& c : cells)
        out << csvField(c);
    return (out.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
}

} // namespace

QString backupFolderOf(const QString& file) {
    return QFileInfo(file).dir().filePath(QStringLiteral("查重备份"));
}

std::vector<int> checkFieldColumns(const AppState& st, const db::Recordset& rs,
                                   QStringList* names) {
    std::vector<int> columns;
    for (int k = 0; k < st.CheckFieldCount && k < 5; ++k)
        if (const int c = rs.fieldIndex(formats::trimBlanks(st.CheckFields[k])); c >= 0) {
            *names << rs.fieldName(c);
            columns.push_back(c);
        }
    return columns;
}

QStringList valuesAt(const db::Recordset& rs, const std::vector<int>& columns) {
    QStringList values;
    for (const int c : columns)
        values << formats::trimBlanks(rs.valueView(c)).toString();
    return values;
}

ChangeLog::ChangeLog(const QString& step, const QString& file, const QString& table,
                     const QStringList& fields, const QString& backup)
    : step_(step), file_(QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath())),
      table_(table) {
    const QDateTime now = QDateTime::currentDateTime();
    time_ = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString name = backup.isEmpty() ? QFileInfo(file).completeBaseName() + QLatin1Char('_') +
                                                now.toString(QStringLiteral("yyyyMMdd_HHmmss"))
                                          : QFileInfo(backup).completeBaseName();
    const QDir folder(backup.isEmpty() ? backupFolderOf(file) : QFileInfo(backup).absolutePath());
    if (!folder.exists() && !QDir().mkpath(folder.absolutePath())) {
        failed_ = true;
        return;
    }
    // A second log of the same step in the same second gets a number.
    path_ = folder.filePath(name + QLatin1Char('_') + step + QStringLiteral(".csv"));
    for (int n = 2; QFile::exists(path_) && n < 1000; ++n)
        path_ = folder.filePath(name + QLatin1Char('_') + step + QLatin1Char('_') +
                                QString::number(n) + QStringLiteral(".csv"));
    out_.setFileName(path_ + QStringLiteral(".part"));
    if (!out_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        failed_ = true;
        return;
    }
    QStringList heading = {QStringLiteral("时间"), QStringLiteral("文件"),
                           QStringLiteral("表"),   QStringLiteral("步骤"),
                           QStringLiteral("操作"), QStringLiteral("记录号")};
    heading += fields;
    failed_ = out_.write("\xEF\xBB\xBF") != 3 || out_.write(csvLine(heading)) < 0;
}

ChangeLog::~ChangeLog() {
    if (out_.isOpen()) {
        out_.close();
        out_.remove();
    }
}

void ChangeLog::add(const QString& action, qint64 record, const QStringList& values) {
    if (failed_) return;
    QStringList cells = {time_, file_, table_, step_, action, QString::number(record)};
    cells += values;
    if (out_.write(csvLine(cells)) < 0) failed_ = true;
}

bool ChangeLog::keep(QString* path, QString* error) {
    const bool written = !failed_ && out_.flush() && out_.error() == QFileDevice::NoError;
    out_.close();
    if (!written || !QFile::rename(out_.fileName(), path_)) {
        QFile::remove(out_.fileName());
        *error = QStringLiteral("无法在“%1”中写出改动记录（文件夹只读或磁盘已满）。")
                     .arg(QDir::toNativeSeparators(QFileInfo(path_).absolutePath()));
        return false;
    }
    *path = path_;
    return true;
}

} // namespace core
