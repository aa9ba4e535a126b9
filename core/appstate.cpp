#include "core/appstate.h"

namespace core {

AppState& appState() {
    static AppState state;
    return state;
}

void resetAppState() {
    appState() = AppState();
}

bool runStatement(db::RecordsetPtr& slot, const QString& jetSql, const db::Connection& connection,
                  QString* error) {
    slot = std::make_shared<db::Recordset>();
    slot->setCursorLocation(db::CursorLocation::Server);
    const bool ok = slot->open(jetSql, connection);
    if (!ok && error) *error = slot->errorString();
    return ok;
}

} // namespace core
