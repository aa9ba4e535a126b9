#pragma once
// The batch delete ("批量删除") of the duplicate table ClienttableCC: the table is walked record by
// record; of the records that hold the record's values (blanks trimmed) in every picked field, the
// first stays and every other one is deleted. RsDup walks the table; RsPostcode, opened again on
// ClienttableCC, finds the matches (an index look-up) and deletes them; RsDup is read again after
// every record, which costs only the rows deleted meanwhile (db::Recordset::requery).
//
// Only ClienttableCC changes; the check table changes with the merge alone.
//
// Mended against the steps it follows:
//  - values with apostrophes, "%" or "[" are compared like any other value;
//  - the deletions are one transaction: a run that fails or is stopped deletes nothing;
//  - a record that the deletions of an earlier one removed is passed over, not an error.
#include "core/run.h"

namespace tools {

// Why a batch delete on these fields cannot run (the duplicate table closed, a field it does not
// have, edits not saved yet), none when it can.
core::Status batchDeleteRefusal(const core::AppState& state, const QStringList& fields);

// options.fields: the picked fields of ClienttableCC, in the order picked; the rest of the options
// is not used. After every record the sink hears progress(position, count) of RsDup (false stops
// the run). RsDup ends on its last record. Fills deleted, duplicateRows, cancelled and error.
core::RunResult batchDelete(core::AppState& state, const core::RunOptions& options,
                            core::ProgressSink& sink);

// The share done of the walk: position / count × 100.
double progressShare(int position, int count);
// The text of "已进行了...": the share as text, cut (not rounded) to its first five characters,
// then "%": 33.33%, 66.66%, 100%.
QString progressPercent(int position, int count);

} // namespace tools
