#pragma once
// Characters as the program counts them: code points. A character beyond the basic plane (two
// UTF-16 units) counts once in a field's width, a postcode's digits and a fragment's length; a
// cut never splits it. A lone surrogate counts as a character of its own.
#include <QStringView>

namespace formats {

inline int codePointCount(QStringView text) {
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++n)
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
    return n;
}

// The first n code points of text (fewer when it is shorter).
inline QStringView firstCodePoints(QStringView text, int n) {
    qsizetype end = 0;
    for (int seen = 0; end < text.size() && seen < n; ++seen)
        end +=
            text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate()
                ? 2
                : 1;
    return text.first(end);
}

} // namespace formats
