#include "core/appstate.h"

namespace core {

AppState& appState() {
    static AppState state;
    return state;
}

void resetAppState() {
    appState() = AppState();
}

Status runStatement(db::RecordsetPtr& slot, const QString& jetSql,
                    const db::Connection& connection) {
    slot = std::make_shared<db::Recordset>();
    slot->setCursorLocation(db::CursorLocation::Server);
    if (slot->open(jetSql, connection)) return {};
    return failure(slot->errorString());
}

} // namespace core
