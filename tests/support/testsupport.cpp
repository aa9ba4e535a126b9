#include "tests/support/testsupport.h"

#include "db/formats/dbf/dbf.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUrl>

#include <sqlite3.h>

namespace testsupport {

QString testdataDir() {
    static const QString dir = [] {
        QDir d(QStringLiteral(CHACHONG_TESTDATA));
        if (!d.exists(QStringLiteral("SOURCES.md")))
            qFatal("sample files missing: %s", qPrintable(d.absolutePath()));
        return d.absolutePath();
    }();
    return dir;
}

QString sample(const QString& relative) {
    return testdataDir() + QLatin1Char('/') + relative;
}

QString programDir() {
    return QStringLiteral(CHACHONG_PROGRAM_DIR);
}

QString copyInto(const QString& file, const QString& dir) {
    const QString target = dir + QLatin1Char('/') + QFileInfo(file).fileName();
    QFile::remove(target);
    if (!QFile::copy(file, target)) return {};
    QFile(target).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return target;
}

QString copyWorkDb(const QString& dir) {
    return copyInto(programDir() + QStringLiteral("/MorlayBankCC.mdb"), dir);
}

QString debianPython() {
    return QStringLiteral("/usr/bin/python3");
}

QByteArray runPython(const QString& script, const QStringList& args, bool* ok, QByteArray* errOut) {
    QProcess p;
    p.start(debianPython(), QStringList{script} + args);
    const bool finished = p.waitForFinished(120000);
    if (ok) *ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (errOut) *errOut = p.readAllStandardError();
    return p.readAllStandardOutput();
}

bool officeConvert(const QStringList& files, const QString& format, const QString& outDir,
                   QByteArray* log) {
    static QTemporaryDir profile;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{QStringLiteral("-env:UserInstallation=") +
                         QUrl::fromLocalFile(profile.path()).toString(),
                     QStringLiteral("--headless"),
                     QStringLiteral("--convert-to"),
                     format,
                     QStringLiteral("--outdir"),
                     outDir};
    p.start(QStringLiteral("soffice"), args + files);
    const bool finished = p.waitForFinished(300000);
    if (log) *log = p.readAll();
    if (!finished || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return false;
    if (format.contains(QLatin1Char(':'))) return true; // filter options: names vary
    for (const QString& f : files)
        if (!QFileInfo::exists(outDir + QLatin1Char('/') + QFileInfo(f).completeBaseName() +
                               QLatin1Char('.') + format))
            return false;
    return true;
}

QJsonObject excelDump(const QString& path, const QString& kind) {
    bool ok = false;
    QByteArray err;
    QStringList args{path};
    if (!kind.isEmpty()) args << kind;
    const QByteArray out = runPython(QStringLiteral(CHACHONG_SOURCE_DIR) +
                                         QStringLiteral("/tests/formats/excel_dump.py"),
                                     args, &ok, &err);
    if (!ok) qWarning().noquote() << "reading" << path << "failed:" << err;
    return ok ? QJsonDocument::fromJson(out).object() : QJsonObject();
}

bool exec(const db::Connection& c, const QString& sql) {
    char* err = nullptr;
    const bool ok =
        sqlite3_exec(c.handle(), sql.toUtf8().constData(), nullptr, nullptr, &err) == SQLITE_OK;
    if (!ok) qWarning() << sql << err;
    sqlite3_free(err);
    return ok;
}

int rowsOf(const db::Connection& c, const QString& table) {
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = QStringLiteral("SELECT count(*) FROM [%1]").arg(table).toUtf8();
    if (sqlite3_prepare_v2(c.handle(), sql.constData(), -1, &st, nullptr) != SQLITE_OK) return -1;
    const int n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
    sqlite3_finalize(st);
    return n;
}

QList<QStringList> tableRows(const db::Connection& c, const QString& table) {
    QList<QStringList> out;
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = QStringLiteral("SELECT * FROM [%1] ORDER BY rowid").arg(table).toUtf8();
    if (sqlite3_prepare_v2(c.handle(), sql.constData(), -1, &st, nullptr) != SQLITE_OK) return out;
    while (sqlite3_step(st) == SQLITE_ROW) {
        QStringList row;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
            if (sqlite3_column_type(st, i) == SQLITE_NULL) {
                row << QString();
                continue;
            }
            const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(st, i));
            row << QString::fromUtf16(text, sqlite3_column_bytes16(st, i) / 2);
        }
        out << row;
    }
    sqlite3_finalize(st);
    return out;
}

QStringList tableColumn(const db::Connection& c, const QString& table, int column) {
    QStringList out;
    for (const QStringList& row : tableRows(c, table))
        out << row.value(column);
    return out;
}

bool makeDbf(const QString& path, const QStringList& fields, const QList<QStringList>& rows,
             const QString& types, const QList<int>& widths) {
    using namespace formats::dbf;
    std::vector<FieldSpec> specs;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const char type = i < types.size() ? types[i].toLatin1() : 'C';
        const int width = i < widths.size() ? widths[i] : 40;
        specs.push_back({fields[i], type, type == 'C' ? width : 0, 0, false});
    }
    QString error;
    if (!createTable(path, Flavour::FoxPro2, specs, parseCodePage(QStringLiteral("936")), &error))
        return false;
    Table t;
    if (!t.open(path, {}, &error)) return false;
    for (const QStringList& r : rows) {
        std::vector<std::optional<Value>> values;
        for (const QString& v : r)
            values.push_back(Value::fromText(v));
        quint32 recno = 0;
        if (!t.appendRecord(values, &recno, &error)) return false;
    }
    return t.flush(&error);
}

QList<QStringList> dbfRows(const QString& path) {
    bool ok = false;
    QByteArray err;
    const QByteArray out = runPython(QStringLiteral(CHACHONG_SOURCE_DIR) +
                                         QStringLiteral("/tests/formats/dbf_dump.py"),
                                     {path}, &ok, &err);
    if (!ok) qWarning("dbf_dump.py: %s", err.constData());
    QList<QStringList> rows;
    for (const QJsonValue& row : QJsonDocument::fromJson(out)[QStringLiteral("rows")].toArray()) {
        QStringList r;
        for (const QJsonValue& v : row.toArray())
            r << v.toString();
        rows << r;
    }
    return rows;
}

QByteArray digest(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QStringList sheetNames(const QJsonObject& dump) {
    QStringList names;
    for (const QJsonValue& s : dump[QStringLiteral("sheets")].toArray())
        names << s[QStringLiteral("name")].toString();
    return names;
}

QJsonArray expectedCells(const std::vector<std::vector<formats::xls::Cell>>& rows) {
    using formats::xls::CellKind;
    QJsonArray cells;
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c) {
            const formats::xls::Cell& cell = rows[r][c];
            if (cell.kind == CellKind::Text)
                cells.append(QJsonArray{int(r), int(c), QStringLiteral("s"), cell.text});
            else if (cell.kind == CellKind::Number)
                cells.append(QJsonArray{int(r), int(c), QStringLiteral("n"), cell.number});
        }
    return cells;
}

QJsonArray valuesOf(const QJsonObject& sheet) {
    QJsonArray cells;
    for (const auto& v : sheet[u"cells"].toArray()) {
        QJsonArray c = v.toArray();
        c.removeLast();
        cells.append(c);
    }
    return cells;
}

QString blankTrimmed(const QString& text) {
    qsizetype b = 0, e = text.size();
    while (b < e && text[b] == QLatin1Char(' '))
        ++b;
    while (e > b && text[e - 1] == QLatin1Char(' '))
        --e;
    return text.mid(b, e - b);
}

void setUpEnvironment() {
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    static QTemporaryDir data; // the users' own working databases
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace testsupport
