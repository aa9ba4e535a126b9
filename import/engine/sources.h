#pragma once
// Opening a source without any window: the work of the five commands that make a file the check
// table ("打开DBF数据", "导入DBF数据（可导出Excel文件）", "打开MDB数据", "导入Excel数据",
// "打开导入数据") and of the table chooser's "确认", once the file or table is chosen. Each
// fills the source description of AppState, connects SourceConn, opens RsSource and rebuilds
// the working tables; the windows (import/commands.h) add the dialogs and show the result, the
// batch runner calls these directly.
#include "core/run.h"

#include <QString>
#include <QStringList>

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

// error: why the source is not open (RsSource is closed then).
struct OpenResult : core::Status {
    QStringList notes; // what the user should know although it opened (fields left out, ...)
};

// "打开DBF数据": the dBase table of the chosen file becomes RsSource; the working tables are
// rebuilt (no ClienttableELS). A table that declares no code page is read in SourceCodePage;
// when that is empty, it becomes the code page the user chose for the file before, else the
// one guessed from its text (dbfcodepage.h), so that what is written back later is written
// in the code page the table was read in.
OpenResult openDbf(core::AppState& st, const QString& path, const QString& fileTitle);
// "导入DBF数据（可导出Excel文件）": the same, for an import into ClienttableELS (SourceType
// "xls", SourceFileTitle "MorlayBankCC.MDB"); importRows (import.h) then copies the rows, and
// RsSource holds the table's fields and none of its rows until then.
OpenResult openDbfForImport(core::AppState& st, const QString& path, const QString& fileTitle);
// "打开MDB数据" and "导入Excel数据": SourceConn on the file, RsSource closed until the table
// chooser's choice (openChosenTable).
OpenResult connectAccess(core::AppState& st, const QString& path, const QString& fileTitle);
OpenResult connectExcel(core::AppState& st, const QString& path, const QString& fileTitle);
// "导入文本数据（CSV）": SourceConn on a CSV or text file (its one table is imported like a
// sheet); the encoding is found from the bytes unless SourceCodePage names one.
OpenResult connectText(core::AppState& st, const QString& path, const QString& fileTitle);
// The tables or sheets the table chooser offers for the connected source, in the source's order.
core::Status chooserTables(const core::AppState& st, QStringList* tables);
// The chooser's "确认": the chosen table or sheet becomes RsSource and the working tables are
// rebuilt; for an Excel sheet importRows then copies the rows. importNext: they are imported
// next, and RsSource holds the sheet's fields and none of its rows until then.
OpenResult openChosenTable(core::AppState& st, const QString& name, bool importNext = false);
// "打开导入数据": ClienttableELS of the working database, as the last import left it.
OpenResult openImported(core::AppState& st);

// The message that lists the source fields no working table holds (imported: they are not
// copied either).
QString leftOutMessage(const QStringList& leftOut, bool imported);

} // namespace sources
