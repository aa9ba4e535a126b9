#include "tools/gridwidths.h"

#include "ui/datagrid.h"

namespace tools {

void keepColumnWidths(ui::DataGrid* grid, GridSection section) {
    QObject::connect(
        grid, &ui::DataGrid::columnResized, grid, [grid, section](int column, int, int width) {
            const QString heading = grid->model()->headerData(column, Qt::Horizontal).toString();
            saveColumnWidth(app::appState(), section, heading, width);
        });
}

} // namespace tools
