#pragma once
// The working database seen from the shared state, without any window: opening it at start-up
// and making it ready for a check. The main window and the batch runner both go through here.
#include "app/engine/run.h"

#include <QStringList>

namespace app {

// Opens path as WorkConn and checks that the program can work in it (a writable SQLite working
// database holding ClienttableDBF, empty_table and yb_table). Returns an empty text on success,
// otherwise the Chinese message saying why the program cannot start, WorkConn left closed.
QString openWorkDatabase(AppState& st, const QString& path);

// The check fields of "开始查重": the first five entries become CheckFields[0..] and
// CheckFieldCount; the slots after them keep what they held.
void setCheckFields(AppState& st, const QStringList& checkFields);

// The rest of "开始查重" once its questions are answered: ClienttableCC is emptied, RsDup opens
// on it in batch mode (the grids' edits stay pending until saved) and mode becomes CheckMode.
// Returns an empty text on success, otherwise the Chinese message saying why no check starts
// (CheckMode then unchanged).
QString prepareCheck(AppState& st, CheckMode mode);

} // namespace app
