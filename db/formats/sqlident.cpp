#include "db/formats/sqlident.h"

namespace formats {

QString sqliteIdent(const QString& name) {
    QString quoted;
    quoted.reserve(name.size() + 2);
    quoted += QLatin1Char('"');
    for (QChar c : name) {
        if (c == QLatin1Char('"')) quoted += QLatin1Char('"');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

} // namespace formats
