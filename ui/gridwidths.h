#pragma once
// Column widths of the data grids, kept per user: when the user drags a column of a grid to a new
// width, the width goes to the settings store under the application name "GridColWidth", in a
// section named after the database the grid shows, keyed by the column's heading. A later resize
// of the same column overwrites it. The windows do not read the widths back. A grid stores its
// widths once told which database it shows (DataGrid::keepColumnWidths).
#include "core/appstate.h"

namespace ui {

// Which database a grid shows: the check table (the main window's and the check-run window's
// grids, section SourcePath) or the duplicate table (the check-control window's, section
// WorkDbPath).
enum class GridSection { Source, Work };

// The settings store's application name.
QString gridWidthsApplication();

// A section or key as the store keeps it: "%", "/", "\" and "=" written as %25, %2F, %5C and
// %3D, so that a path stays one name instead of a chain of groups.
QString settingsName(const QString& text);

// The column-resize handler of the grids: the grid's section value of the state becomes
// SourcePath (SourceGridSection) or WorkDbPath (WorkGridSection); when it is empty nothing is
// written. Returns true when the width was stored.
bool saveColumnWidth(core::AppState& state, GridSection grid, const QString& heading, int width);

} // namespace ui
