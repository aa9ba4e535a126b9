// New dBase/FoxPro tables with their memo files.
#include "db/formats/dbf/dbf.h"
#include "db/formats/dbf/dbf_values.h"
#include "db/formats/textcodec.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace formats::dbf {

using namespace detail;

namespace {

struct Layout {
    QByteArray name; // encoded, at most 10 bytes
    char type;
    int length;
    int decimals;
    quint8 flags;
};

// Checks a field and fixes the sizes the flavour decides.
bool layoutField(const FieldSpec& s, Flavour flavour, const CodePage& cp, Layout* out,
                 QString* error) {
    const bool vfp = flavour == Flavour::VisualFoxPro;
    const char t = char(QChar::fromLatin1(s.type).toUpper().toLatin1());
    bool ok = true;
    out->name = formats::encode(s.name, cp.writeCodec, &ok);
    if (s.name.trimmed().isEmpty() || !ok || out->name.size() > 10 || out->name.contains('\0')) {
        *error =
            QStringLiteral("字段名“%1”无效：字段名不能为空，最长 10 字节，且须能用代码页 %2 表示")
                .arg(s.name, cp.name());
        return false;
    }
    out->type = t;
    out->length = s.length;
    out->decimals = 0;
    out->flags = s.nullable ? 0x02 : 0;
    if (s.nullable && !vfp) {
        *error = QStringLiteral("只有 Visual FoxPro 表的字段可以为空值（字段 %1）").arg(s.name);
        return false;
    }
    const QByteArray allowed = vfp ? "CNFDLMIBYTVQGW" : "CNFDLM";
    if (!allowed.contains(t)) {
        *error = QStringLiteral("这种表不支持字段 %1 的类型 %2").arg(s.name, QChar::fromLatin1(t));
        return false;
    }
    switch (t) {
    case 'C':
    case 'V':
    case 'Q':
        if (s.length < 1 || s.length > 254) {
            *error = QStringLiteral("字段 %1 的长度应在 1 到 254 之间").arg(s.name);
            return false;
        }
        if (t == 'Q') out->flags |= 0x04;
        break;
    case 'N':
    case 'F':
        if (s.length < 1 || s.length > 20 || s.decimals < 0 ||
            (s.decimals > 0 && s.decimals > s.length - 2) || s.decimals > 15) {
            *error = QStringLiteral("字段 %1 的宽度或小数位数无效").arg(s.name);
            return false;
        }
        out->decimals = s.decimals;
        break;
    case 'D':
        out->length = 8;
        break;
    case 'L':
        out->length = 1;
        break;
    case 'M':
        out->length = vfp ? 4 : 10;
        break;
    case 'G':
    case 'W':
        out->length = 4;
        out->flags |= 0x04;
        break;
    case 'I':
        out->length = 4;
        break;
    case 'B':
        out->length = 8;
        out->decimals = s.decimals;
        break;
    case 'Y':
        out->length = 8;
        out->decimals = 4;
        break;
    case 'T':
        out->length = 8;
        break;
    default:
        break;
    }
    return true;
}

} // namespace

bool createTable(const QString& path, Flavour flavour, const std::vector<FieldSpec>& specs,
                 const CodePage& codePage, QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    const CodePage cp = codePage.isValid() ? codePage : defaultCodePage();
    const bool vfp = flavour == Flavour::VisualFoxPro;
    if (specs.empty() || specs.size() > 254) {
        *error = QStringLiteral("新表须有 1 到 254 个字段");
        return false;
    }
    std::vector<Layout> layout;
    QSet<QString> names;
    bool memo = false;
    int bits = 0;
    for (const FieldSpec& s : specs) {
        Layout l;
        if (!layoutField(s, flavour, cp, &l, error)) return false;
        if (names.contains(s.name.trimmed().toLower())) {
            *error = QStringLiteral("字段名重复：%1").arg(s.name);
            return false;
        }
        names.insert(s.name.trimmed().toLower());
        memo = memo || l.type == 'M' || l.type == 'G' || l.type == 'W';
        bits += (l.type == 'V' || l.type == 'Q') + ((l.flags & 0x02) != 0);
        layout.push_back(l);
    }
    if (bits > 0) layout.push_back({"_NullFlags", '0', (bits + 7) / 8, 0, 0x05});

    int recordLength = 1;
    for (const Layout& l : layout)
        recordLength += l.length;
    if (recordLength > 65535) {
        *error = QStringLiteral("记录太长（%1 字节）").arg(recordLength);
        return false;
    }
    const int headerLength = 32 + 32 * int(layout.size()) + 1 + (vfp ? 263 : 0);

    quint8 version = 0x03;
    if (vfp)
        version = 0x30;
    else if (memo)
        version = flavour == Flavour::DBase3 ? 0x83 : flavour == Flavour::DBase4 ? 0x8B : 0xF5;

    QByteArray h(headerLength, '\0');
    h[0] = char(version);
    const QDate today = QDate::currentDate();
    h[1] = char(today.year() - 1900);
    h[2] = char(today.month());
    h[3] = char(today.day());
    putLe16(h.data() + 8, quint16(headerLength));
    putLe16(h.data() + 10, quint16(recordLength));
    if (vfp && memo) h[28] = 0x02;
    const quint8 ldid = languageDriverForCodePage(cp.number);
    h[29] = char(ldid);
    int at = 32, offset = 1;
    for (const Layout& l : layout) {
        std::memcpy(h.data() + at, l.name.constData(), size_t(l.name.size()));
        h[at + 11] = l.type;
        if (vfp) putLe32(h.data() + at + 12, quint32(offset));
        h[at + 16] = char(l.length);
        h[at + 17] = char(l.decimals);
        h[at + 18] = char(l.flags);
        offset += l.length;
        at += 32;
    }
    h[at] = '\x0D';

    const QFileInfo fi(path);
    const bool upper = fi.suffix() == fi.suffix().toUpper() && fi.suffix() != fi.suffix().toLower();
    const QString base = fi.absolutePath() + QLatin1Char('/') + fi.completeBaseName();
    const QString memoExt = (flavour == Flavour::DBase3 || flavour == Flavour::DBase4)
                                ? QStringLiteral("dbt")
                                : QStringLiteral("fpt");
    const QString memoPath = base + QLatin1Char('.') + (upper ? memoExt.toUpper() : memoExt);
    const QString cpgPath = base + (upper ? QStringLiteral(".CPG") : QStringLiteral(".cpg"));

    auto writeNew = [error](const QString& file, const QByteArray& bytes) {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            *error = f.exists()
                         ? QStringLiteral("文件已存在：%1").arg(QDir::toNativeSeparators(file))
                         : QStringLiteral("无法创建文件 %1：%2")
                               .arg(QDir::toNativeSeparators(file), f.errorString());
            return false;
        }
        if (f.write(bytes) != bytes.size() || !f.flush()) {
            *error = QStringLiteral("写入文件失败：%1（%2）")
                         .arg(QDir::toNativeSeparators(file), f.errorString());
            f.close();
            f.remove();
            return false;
        }
        return true;
    };

    if (memo && QFileInfo::exists(memoPath)) {
        *error = QStringLiteral("文件已存在：%1").arg(QDir::toNativeSeparators(memoPath));
        return false;
    }
    if (!writeNew(path, h + '\x1A')) return false;
    if (memo) {
        QByteArray m(512, '\0');
        if (flavour == Flavour::DBase3) {
            putLe32(m.data(), 1);
        } else if (flavour == Flavour::DBase4) {
            putLe32(m.data(), 1);
            const QByteArray name = fi.completeBaseName().toLatin1().left(8);
            std::memcpy(m.data() + 8, name.constData(), size_t(name.size()));
            m[18] = 0x02;
            m[19] = 0x01;
            putLe16(m.data() + 20, 512);
        } else {
            putBe32(m.data(), 512 / 64);
            m[6] = 0;
            m[7] = 64;
        }
        if (!writeNew(memoPath, m)) {
            QFile::remove(path);
            return false;
        }
    }
    // A code page without a language-driver byte is declared in a .cpg file beside the table.
    if (ldid == 0 && !QFileInfo::exists(cpgPath)) {
        const QByteArray name = cp.number == 65001 ? QByteArray("UTF-8")
                                : cp.number > 0    ? QByteArray::number(cp.number)
                                                   : cp.readCodec;
        writeNew(cpgPath, name);
    }
    return true;
}

} // namespace formats::dbf
