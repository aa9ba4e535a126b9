#pragma once
// The menu commands that make a file the check table ("打开DBF数据", "导入DBF数据（可导出
// Excel文件）", "打开MDB数据", "导入Excel数据", "导入文本数据（CSV）", "打开导入数据") and the step
// the table chooser ends with, as the main window runs them: the file dialog, the work of
// import/engine/sources.h, then the main window showing the source (or nothing of the old one) and
// the user told what went wrong.
#include "ui/dialogs.h"

#include <QString>

namespace sources {

// The open dialog of one kind of source file: "dbf", "mdb" or "xls" (which takes .xlsx too).
ui::FileDialogOptions sourceFileDialog(const QString& extension);
// The open dialog of "导入文本数据（CSV）".
ui::FileDialogOptions textFileDialog();

// The menu commands, by the names of their menu entries. Unknown names return false.
bool runCommand(const QString& name);
void openDbf();      // begin_DBF
void importDbf();    // Input_DBF
void openMdb();      // begin_MDB
void importExcel();  // inputFile_XLS
void importText();   // inputFile_CSV
void openImported(); // begin_MDB2

// A file given to the program (its command line, a file manager's "打开方式"): the command of its
// kind runs as if the file had been chosen in its dialog. False (after telling the user) for a
// file that is missing or of no kind the program opens.
bool openGivenFile(const QString& path);

// The table chooser's "确认": opens the chosen table or sheet and shows it in the main window;
// for an Excel sheet the import window then takes over. False (after telling the user) when the
// table could not be opened.
bool showChosenTable(const QString& name);

} // namespace sources
