#pragma once
// The one way to build criteria and statements: identifiers quoted, apostrophes in values
// doubled, wildcards in values taken literally where a value is meant literally. No value can
// change the meaning of an expression.
#include <QString>
#include <QStringList>

namespace db::sql {

// [name] with a "]" in the name doubled.
QString ident(const QString& name);
// 'value' with apostrophes doubled.
QString literal(const QString& value);
// A Like pattern's literal text: %, _ and [ stand for themselves ([%], [_], [[]).
QString likeLiteral(const QString& text);

// <field> = '<value>'
QString equals(const QString& field, const QString& value);
// <field> Like '%<text>%' (text literal)
QString contains(const QString& field, const QString& text);
// <field> Like '<text>%' (text literal)
QString startsWith(const QString& field, const QString& text);
// <field> Like '<pattern>' (pattern with its wildcards)
QString like(const QString& field, const QString& pattern);
// Terms joined by " And ".
QString allOf(const QStringList& terms);

// Statements of the original engine's SQL.
QString selectAll(const QString& table);
QString deleteAll(const QString& table);
QString dropTable(const QString& table);
QString selectInto(const QString& columnList, const QString& target, const QString& from);

} // namespace db::sql
