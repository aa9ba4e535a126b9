#include "import/engine/dbfcodepage.h"

#include "db/formats/dbf/dbf.h"
#include "db/formats/textcodec.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QUrl>

namespace sources {

namespace {

using formats::dbf::CodePage;

QString settingsApplication() {
    return QStringLiteral("DbfCodePage");
}

QString absolute(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}

// A path as one settings group (no "/" left to make it a chain of groups).
QString groupOf(const QString& path) {
    return QString::fromLatin1(QUrl::toPercentEncoding(absolute(path)));
}

// The file's size and a digest of its first megabyte: the same file under another name.
struct Fingerprint {
    qint64 size = -1;
    QString digest;
    bool operator==(const Fingerprint&) const = default;
};

Fingerprint fingerprintOf(const QString& path) {
    Fingerprint f;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return f;
    f.size = file.size();
    f.digest = QString::fromLatin1(
        QCryptographicHash::hash(file.read(qint64(1) << 20), QCryptographicHash::Sha1).toHex());
    return f;
}

} // namespace

DbfCodePageInfo inspectDbfCodePage(const QString& path) {
    DbfCodePageInfo info;
    formats::dbf::Table t;
    formats::dbf::OpenOptions options;
    options.readOnly = true;
    QString error;
    if (!t.open(path, options, &error)) return info;
    if (t.codePageOrigin() != formats::dbf::CodePageOrigin::Guessed) return info;
    info.samples = t.textSamples();
    if (info.samples.empty()) return info;
    info.undeclared = true;
    info.guessed = t.codePage().name();
    info.remembered = rememberedDbfCodePage(path);
    return info;
}

QStringList dbfCodePageNames() {
    QStringList names;
    for (const CodePage& cp : formats::dbf::guessCandidates())
        names << cp.name();
    return names;
}

QString dbfCodePageLabel(const QString& name) {
    const CodePage cp = formats::dbf::parseCodePage(name);
    switch (cp.number) {
    case 936:
        return QStringLiteral("GBK（简体中文，936）");
    case 950:
        return QStringLiteral("Big5（繁体中文，950）");
    case 65001:
        return QStringLiteral("UTF-8（Unicode）");
    case 1252:
        return QStringLiteral("1252（Windows 西欧）");
    case 1250:
        return QStringLiteral("1250（Windows 中欧）");
    case 1251:
        return QStringLiteral("1251（Windows 俄文）");
    case 850:
        return QStringLiteral("850（DOS 西欧）");
    case 437:
        return QStringLiteral("437（DOS 英文）");
    case 866:
        return QStringLiteral("866（DOS 俄文）");
    default:
        return name;
    }
}

QStringList previewInCodePage(const std::vector<QByteArray>& samples, const QString& name,
                              int count) {
    const CodePage cp = formats::dbf::parseCodePage(name);
    QStringList out;
    QSet<QByteArray> seen;
    for (const QByteArray& s : samples) {
        if (out.size() >= count) break;
        if (seen.contains(s)) continue;
        seen.insert(s);
        out << (cp.isValid() ? formats::decode(s, cp.readCodec) : QString::fromLatin1(s));
    }
    return out;
}

QString rememberedDbfCodePage(const QString& path) {
    QSettings settings(settingsApplication());
    const QString own = groupOf(path);
    if (settings.childGroups().contains(own))
        return settings.value(own + QStringLiteral("/CodePage")).toString();
    // A copy of a file chosen for: the same size and start.
    const Fingerprint mine = fingerprintOf(path);
    if (mine.size < 0) return {};
    QStringList groups = settings.childGroups();
    groups.sort();
    for (const QString& g : groups) {
        settings.beginGroup(g);
        const Fingerprint theirs{settings.value(QStringLiteral("Size"), -1).toLongLong(),
                                 settings.value(QStringLiteral("Digest")).toString()};
        const QString name = settings.value(QStringLiteral("CodePage")).toString();
        settings.endGroup();
        if (theirs == mine && !name.isEmpty()) return name;
    }
    return {};
}

bool rememberDbfCodePage(const QString& path, const QString& name) {
    QSettings settings(settingsApplication());
    const Fingerprint f = fingerprintOf(path);
    settings.beginGroup(groupOf(path));
    settings.setValue(QStringLiteral("CodePage"), name);
    settings.setValue(QStringLiteral("Size"), f.size);
    settings.setValue(QStringLiteral("Digest"), f.digest);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace sources
