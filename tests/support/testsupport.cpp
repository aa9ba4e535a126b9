#include "tests/support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QUrl>

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

void setUpEnvironment() {
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace testsupport
