#include "db/vtab/vtab_util.h"

namespace vtab {

void resultText(sqlite3_context* ctx, QStringView text) {
    // An empty text is no null value.
    sqlite3_result_text16(ctx, text.isNull() ? u"" : text.utf16(),
                          int(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
}

QString valueText(sqlite3_value* value, bool* isNull) {
    const bool null = sqlite3_value_type(value) == SQLITE_NULL;
    if (isNull) *isNull = null;
    if (null) return {};
    const void* p = sqlite3_value_text16(value);
    const int bytes = sqlite3_value_bytes16(value);
    return QString(reinterpret_cast<const QChar*>(p), bytes / int(sizeof(QChar)));
}

void setError(sqlite3_vtab* vt, const QString& message) {
    sqlite3_free(vt->zErrMsg);
    vt->zErrMsg = sqlite3_mprintf("%s", message.toUtf8().constData());
}

} // namespace vtab
