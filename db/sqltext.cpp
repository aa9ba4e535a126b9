#include "db/sqltext.h"

namespace db::sql {

QString ident(const QString& name) {
    QString n = name;
    n.replace(QLatin1Char(']'), QLatin1String("]]"));
    return QLatin1Char('[') + n + QLatin1Char(']');
}

QString literal(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

QString likeLiteral(const QString& text) {
    QString out;
    out.reserve(text.size() + 4);
    for (QChar c : text) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('[')) {
            out += QLatin1Char('[');
            out += c;
            out += QLatin1Char(']');
        } else {
            out += c;
        }
    }
    return out;
}

QString equals(const QString& field, const QString& value) {
    return ident(field) + QLatin1String(" = ") + literal(value);
}

QString like(const QString& field, const QString& pattern) {
    return ident(field) + QLatin1String(" Like ") + literal(pattern);
}

QString contains(const QString& field, const QString& text) {
    return like(field, QLatin1Char('%') + likeLiteral(text) + QLatin1Char('%'));
}

QString startsWith(const QString& field, const QString& text) {
    return like(field, likeLiteral(text) + QLatin1Char('%'));
}

QString allOf(const QStringList& terms) {
    return terms.join(QLatin1String(" And "));
}

QString selectAll(const QString& table) {
    return QLatin1String("Select * From ") + ident(table);
}

QString deleteAll(const QString& table) {
    return QLatin1String("Delete * From ") + ident(table);
}

QString dropTable(const QString& table) {
    return QLatin1String("Drop Table ") + ident(table);
}

QString selectInto(const QString& columnList, const QString& target, const QString& from) {
    return QLatin1String("Select ") + columnList + QLatin1String(" Into ") + ident(target) +
           QLatin1String(" From ") + ident(from);
}

} // namespace db::sql
