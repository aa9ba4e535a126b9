#pragma once
// Connects a data grid's column resizes to the store of column widths (engine/gridwidths.h):
// every width the user drags is written under the grid's database and the column's heading.
#include "tools/engine/gridwidths.h"

namespace ui {
class DataGrid;
}

namespace tools {

void keepColumnWidths(ui::DataGrid* grid, GridSection section);

} // namespace tools
