#pragma once
// The working tables rebuilt for every source that is opened: ClienttableCC (duplicates),
// ClienttableDD (backup of the previous duplicates), tempTable1/2 (scratch) and, for imported
// sources, ClienttableELS. They take the source's field names and the column types and widths
// of the template ClienttableDBF.
#include "core/run.h"

#include <QStringList>

namespace sources {

// At most this many source fields reach the working tables.
constexpr int maxFields = core::maxWorkFields;

struct ColumnLists {
    // "T0 As No, T1 As S0, ..., Tn": No, the source fields, the running-number column.
    QString mapped;
    // "T1 As S0, T2 As S1, ...": the source fields alone.
    QString imported;
    // Source fields beyond the limit, which no working table holds.
    QStringList leftOut;
    // The names the source fields carry in the mapped tables (a field called "No", or one that
    // clashes with the running-number column, gets a suffix there).
    QStringList mappedNames;
};

ColumnLists buildColumnLists(const QStringList& templateColumns, const QStringList& sourceFields);

// error: the first statement that failed.
struct BuildReport : core::Status {
    QStringList leftOut;
};

// createTable: backs up ClienttableCC into ClienttableDD and rebuilds ClienttableCC, tempTable1,
// tempTable2 (and ClienttableELS when SourceType is "xls") for the fields of RsSource.
BuildReport createTable(core::AppState& state);

} // namespace sources
