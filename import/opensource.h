#pragma once
// The five commands that make a file the check table ("打开DBF数据", "导入DBF数据（可导出Excel
// 文件）", "打开MDB数据", "导入Excel数据", "打开导入数据") and the step the table chooser ends
// with. Every path ends with RsSource open and shown in the main grid, or with a Chinese
// message saying why not and the grid showing nothing of the old source.
#include "app/appstate.h"
#include "ui/dialogs.h"

#include <QString>

namespace sources {

// The pieces of a chosen file's path: SourcePath, SourceFileTitle, SourceBaseName (the title
// without its last four characters, ".dbf") and SourceDir (the path without the title and its
// separator).
struct PathPieces {
    QString path;
    QString fileTitle;
    QString baseName;
    QString dir;
};
PathPieces pathPieces(const QString& path, const QString& fileTitle);

// The open dialog of one kind of source file: "dbf", "mdb" or "xls".
ui::FileDialogOptions sourceFileDialog(const QString& extension);

// The menu commands, by the names of their menu entries. Unknown names return false.
bool runCommand(const QString& name);
void openDbf();      // begin_DBF
void importDbf();    // Input_DBF
void openMdb();      // begin_MDB
void importExcel();  // inputFile_XLS
void openImported(); // begin_MDB2

// The tables or sheets the table chooser offers for the connected source, in the source's order.
QStringList chooserTables(const app::AppState& st, QString* error);

// Opens the chosen table or sheet as RsSource, rebuilds the working tables and fills the main
// window; for an Excel sheet the import window then takes over. False (after telling the
// user) when the table could not be opened.
bool openChosenTable(const QString& name);

// The message that lists the source fields no working table holds (imported: they are not
// copied either).
QString leftOutMessage(const QStringList& leftOut, bool imported);

} // namespace sources
