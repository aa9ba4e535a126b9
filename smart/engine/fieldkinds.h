#pragma once
// What a check field of 智能查重 holds, which decides how its values are brought to one form and
// compared: inferred from the field's name and, where the name says nothing, from its values.
#include <QString>
#include <QStringList>

namespace smart {

enum class FieldKind { PersonName, Address, Phone, IdNumber, Organisation, Postcode, Other };

// The kind's name as the window shows it ("姓名", "地址", "电话", "身份证号", "单位名称", "邮编",
// "其他").
QString kindLabel(FieldKind kind);

// The kind's code as the runner's --kinds writes it ("name", "address", "phone", "id", "org",
// "postcode", "other"), and back (a label is taken too); false for an unknown code.
QString kindCode(FieldKind kind);
bool kindOfCode(const QString& code, FieldKind* kind);

// The kind a field's name says (姓名, 客户名, 联系人; 地址, 住址, 通讯地址; 电话, 手机, 联系电话,
// TEL; 身份证号, 证件号码; 单位名称, 公司, 工作单位; 邮编, 邮政编码 ...), Other when it says none.
FieldKind kindOfName(const QString& fieldName);

// The kind most of a field's values show (of those not empty): 11-digit numbers starting with 1
// are phones, valid ID numbers are ID numbers, 6-digit codes are postcodes; Other when no kind
// holds for more than half of them.
FieldKind kindOfValues(const QStringList& values);

// The name's kind, else the values' kind.
FieldKind inferKind(const QString& fieldName, const QStringList& sample);

} // namespace smart
