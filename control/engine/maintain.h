#pragma once
// What the check-control window does to the duplicates, without the window: walking RsDup and
// finding the walked record in the check table, the jump to a record number, the single delete.
// Every one of them changes ClienttableCC (or only moves cursors); the check table changes with
// the merge alone.
#include "core/appstate.h"

namespace control {

// "<position>/<count>" of a recordset; "0/0" when it has no records.
QString positionCounter(const db::RecordsetPtr& rs);

enum class Move { First, Previous, Next, Last };
// Moves RsDup: Previous stops at the first record, Next at the last. False when RsDup is closed
// or empty.
bool moveDuplicate(core::AppState& state, Move move);

// Positions RsSource on the record whose fields equal the current RsDup record's (field k of the
// check table against field k + 1 of ClienttableCC, blanks trimmed, compared one by one), looking
// only at the records whose key field (the first check field, or the first field when that is
// not a field of the check table) holds the record's key value. Without such a record RsSource
// ends on its last record. False when no record matched.
bool locateInSource(core::AppState& state);

// "GO": the record of RsDup whose No is the number typed (blanks around it allowed).
struct Jump {
    enum Outcome { BadNumber, NotFound, Found } outcome = BadNumber;
    QString typed; // the text typed, blanks trimmed
};
// BadNumber: not a number, or below 1; NotFound: no group of that No (a number above the record
// count is none either), RsDup back on the record it was on.
Jump jumpToNumber(core::AppState& state, const QString& text);

// "保存修改": why the edits of RsDup cannot be saved, naming the record and the field (a value
// that field of the check table would not take when the duplicates are merged back: too long,
// not a number, a character its code page lacks); none when they can.
core::Status pendingEditRefusal(const core::AppState& state);

// "单个删除" after its question: deletes the current RsDup record and goes to the one after it
// (the last, when it was the last). Edits not saved yet stay pending. Fails when the record could
// not be deleted.
core::Status deleteCurrentDuplicate(core::AppState& state);

} // namespace control
