#pragma once
// The exact check: records of the check table that agree on every check field form a group;
// every group is copied into ClienttableCC (group number on its first row, a running number on
// every row).
//
// The check keeps its rules and mends their faults:
//  - a group counts as recorded only when ClienttableCC holds a row equal to the seed on every
//    check field (not on the first field alone);
//  - values with apostrophes are compared like any other;
//  - group numbers are 32-bit.
// Per seed, the engine filters the check table (an index look-up) and, when the seed has a
// duplicate, asks whether its group is recorded already (an index look-up in ClienttableCC), so a
// run costs about one look-up per record.
#include "core/run.h"

namespace check {

// The scan over options.start..options.end of the check table (positions as the main window's
// boxes give them, already checked), writing the groups into ClienttableCC through RsDup. The
// scan reads the table through a cursor of its own; the look-up recordset RsPostcode becomes a
// second cursor over the same rows. Cancelled through the sink, the groups found so far stay in
// ClienttableCC. With writeGroups false the groups stay pending in RsDup for the caller to write
// (updateBatch). A check runs it through CheckJob (checkjob.h).
core::RunResult exactScan(core::AppState& state, const core::RunOptions& options,
                          core::ProgressSink& sink, bool writeGroups = true);

// What stops a scan before it starts (empty when it can run): no check table or duplicate table
// open, no check field, a range outside the table.
QString scanRefusal(const core::AppState& state, const core::RunOptions& options);

// The record under src's cursor added to ClienttableCC through dup as every check copies a
// group's records: number (the group number) in No on the group's first row, empty on the
// others; the values trimmed, a null one as empty text, whole (one longer than its column is
// refused and reported, never cut, so the separation always finds its record); the columns the
// source lacks null; the running number last. record is scratch space of dup's width. The copy
// is noted in result.copiedFrom, a refusal in result.error (the first one).
void copyIntoDuplicates(db::Recordset& dup, const db::Recordset& src, QStringView number,
                        std::vector<QStringView>& record, core::RunResult& result);

} // namespace check
