#pragma once
// The program's one trimming rule: blanks (U+0020) at both ends of a value or a name, nothing
// else. Tabs, line breaks, full-width blanks (U+3000) and no-break spaces are characters of the
// text: a heading made of full-width blanks is a name of its own.
#include <QString>
#include <QStringView>

namespace formats {

inline QStringView trimBlanks(QStringView text) {
    while (!text.isEmpty() && text.front() == QLatin1Char(' '))
        text = text.mid(1);
    while (!text.isEmpty() && text.back() == QLatin1Char(' '))
        text.chop(1);
    return text;
}

inline QString trimBlanks(const QString& text) {
    const QStringView v = trimBlanks(QStringView(text));
    return v.size() == text.size() ? text : v.toString();
}

// Empty, or blanks only.
inline bool isBlank(QStringView text) {
    return trimBlanks(text).isEmpty();
}

} // namespace formats
