#include "smart/engine/fieldkinds.h"

#include "smart/engine/normalise.h"

#include <QRegularExpression>

#include <utility>

namespace smart {

QString kindLabel(FieldKind kind) {
    switch (kind) {
    case FieldKind::PersonName:
        return QStringLiteral("姓名");
    case FieldKind::Address:
        return QStringLiteral("地址");
    case FieldKind::Phone:
        return QStringLiteral("电话");
    case FieldKind::IdNumber:
        return QStringLiteral("身份证号");
    case FieldKind::Organisation:
        return QStringLiteral("单位名称");
    case FieldKind::Postcode:
        return QStringLiteral("邮编");
    case FieldKind::Other:
        break;
    }
    return QStringLiteral("其他");
}

QString kindCode(FieldKind kind) {
    switch (kind) {
    case FieldKind::PersonName:
        return QStringLiteral("name");
    case FieldKind::Address:
        return QStringLiteral("address");
    case FieldKind::Phone:
        return QStringLiteral("phone");
    case FieldKind::IdNumber:
        return QStringLiteral("id");
    case FieldKind::Organisation:
        return QStringLiteral("org");
    case FieldKind::Postcode:
        return QStringLiteral("postcode");
    case FieldKind::Other:
        break;
    }
    return QStringLiteral("other");
}

bool kindOfCode(const QString& code, FieldKind* kind) {
    for (const FieldKind k :
         {FieldKind::PersonName, FieldKind::Address, FieldKind::Phone, FieldKind::IdNumber,
          FieldKind::Organisation, FieldKind::Postcode, FieldKind::Other})
        if (code.compare(kindCode(k), Qt::CaseInsensitive) == 0 || code == kindLabel(k)) {
            *kind = k;
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
