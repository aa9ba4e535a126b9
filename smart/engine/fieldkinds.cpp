#include "smart/engine/fieldkinds.h"

#include "smart/engine/normalise.h"

#include <QRegularExpression>

#include <iterator>
#include <utility>

namespace smart {

namespace {

// Each kind with its label and its code, in the order the window offers them.
struct KindNames {
    FieldKind kind;
    const char16_t* label;
    const char16_t* code;
};
constexpr KindNames kinds[] = {
    {FieldKind::PersonName, u"姓名", u"name"},      {FieldKind::Address, u"地址", u"address"},
    {FieldKind::Phone, u"电话", u"phone"},          {FieldKind::IdNumber, u"身份证号", u"id"},
    {FieldKind::Organisation, u"单位名称", u"org"}, {FieldKind::Postcode, u"邮编", u"postcode"},
    {FieldKind::Other, u"其他", u"other"}};

const KindNames& namesOf(FieldKind kind) {
    for (const KindNames& k : kinds)
        if (k.kind == kind) return k;
    return kinds[std::size(kinds) - 1];
}

} // namespace

QString kindLabel(FieldKind kind) {
    return QString::fromUtf16(namesOf(kind).label);
}

QString kindCode(FieldKind kind) {
    return QString::fromUtf16(namesOf(kind).code);
}

bool kindOfCode(const QString& code, FieldKind* kind) {
    for (const KindNames& k : kinds)
        if (code.compare(QStringView(k.code), Qt::CaseInsensitive) == 0 ||
            code == QStringView(k.label)) {
            *kind = k.kind;
            return true;
        }
    return false;
}

FieldKind kindOfName(const QString& fieldName) {
    const QString name = normaliseText(fieldName);
    // Tried in this order: "联系电话" is a phone before it is a contact person, "单位地址" an
    // address before an organisation, "邮政编码" a postcode before anything with 编码.
    static const std::pair<FieldKind, QStringList> words[] = {
        {FieldKind::Postcode, {"邮编", "邮政编码", "postcode", "zip"}},
        {FieldKind::IdNumber, {"身份证", "证件号", "idcard", "id_no", "idno"}},
        {FieldKind::Phone, {"电话", "手机", "tel", "phone", "mobile", "传真", "fax"}},
        {FieldKind::Address, {"地址", "住址", "address", "addr"}},
        {FieldKind::Organisation, {"单位", "公司", "企业", "机构", "company", "organi"}},
        {FieldKind::PersonName, {"姓名", "客户名", "联系人", "户名", "name", "名字", "负责人"}},
    };
    for (const auto& [kind, list] : words)
        for (const QString& word : list)
            if (name.contains(word)) return kind;
    return FieldKind::Other;
}

FieldKind kindOfValues(const QStringList& values) {
    static const QRegularExpression postcode(QStringLiteral("^[0-9]{6}$"));
    int filled = 0, phones = 0, ids = 0, postcodes = 0;
    for (const QString& value : values) {
        // The phone and ID readers fold widths themselves; the postcode needs only that.
        const QString v = value.normalized(QString::NormalizationForm_KC).trimmed();
        if (v.isEmpty()) continue;
        ++filled;
        const QStringList numbers = normalisePhones(v);
        if (numbers.size() == 1 && numbers.first().size() == 11 &&
            numbers.first().startsWith(QLatin1Char('1')))
            ++phones;
        else if (!normaliseIdNumber(v).isEmpty())
            ++ids;
        else if (postcode.match(v).hasMatch())
            ++postcodes;
    }
    const int half = filled / 2;
    if (filled == 0) return FieldKind::Other;
    if (phones > half) return FieldKind::Phone;
    if (ids > half) return FieldKind::IdNumber;
    if (postcodes > half) return FieldKind::Postcode;
    return FieldKind::Other;
}

FieldKind inferKind(const QString& fieldName, const QStringList& sample) {
    const FieldKind byName = kindOfName(fieldName);
    return byName != FieldKind::Other ? byName : kindOfValues(sample);
}

} // namespace smart
