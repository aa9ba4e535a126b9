#pragma once
// The import of an Excel sheet or a dBase table into the working table ClienttableELS, which
// then becomes the check table.
#include "core/run.h"

namespace sources {

// error: the first failure.
struct ImportResult : core::Status {
    bool sourceOpen = false; // RsSource was open: there was something to copy
    int total = 0;           // rows of the source
    int copied = 0;          // rows written into ClienttableELS
    int failed = 0;          // rows that could not be written
    bool cancelled = false;  // stopped through the sink: nothing was written
    bool reopened = false;   // reopenImported: every row arrived and RsSource holds them
    // Every row arrived: ClienttableELS's rows as they were written, for reopenImported.
    db::RecordsetPtr rows = {};
};

// The copy: every row of RsSource's table (read straight from SourceConn: RsSource may hold
// its fields only) into ClienttableELS by position, each value cut to the
// column's width and trimmed of blanks, in one transaction on WorkConn. progress(done, total) is
// reported per row; false stops the copy and writes nothing.
ImportResult importRows(core::AppState& st, core::ProgressSink& sink);

// After the copy: RsSource reopened on ClienttableELS (closed if that fails). Returns true and
// sets result.reopened only when every row arrived; result.error says why not otherwise.
bool reopenImported(core::AppState& st, ImportResult& result);

// What the user is told at the end of an import that did not fully succeed (empty when it did).
QString importProblem(const ImportResult& result);

} // namespace sources
