#include "control/engine/export.h"

#include "check/engine/separation.h"
#include "core/changelog.h"
#include "db/formats/xls/biffwrite.h"
#include "db/sqltext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace control {

QStringList exportFields(const core::AppState& st) {
    return core::isOpen(st.RsSource) ? st.RsSource->fieldNames() : QStringList();
}

ExportColumns exportColumns(const core::AppState& st, const db::Connection& conn,
                            const QString& table) {
    ExportColumns c;
    c.headings = exportFields(st);
    static const QStringList duplicateLayout = {"ClienttableCC", "ClienttableDD", "tempTable1",
                                                "tempTable2"};
    if (!(conn == st.WorkConn) || !duplicateLayout.contains(table, Qt::CaseInsensitive)) {
        c.columns = c.headings;
        return c;
    }
    // No first, then the check table's fields in its order, under the names the working table
    // gave them (a source field "No" is "No_1" there), the running number last.
    const QStringList names = conn.columnNames(table);
    for (qsizetype k = 0; k < c.headings.size() && k + 1 < names.size() - 1; ++k)
        c.columns << names[k + 1];
    if (c.columns.size() != c.headings.size()) c.columns.clear();
    return c;
}

db::ExcelExportResult exportTable(const core::AppState& st, const db::Connection& conn,
                                  const QString& table, const QString& path, const QString& sheet) {
    db::ExcelExportResult r;
    if (!conn.isOpen()) {
        r.error = QStringLiteral("数据库连接没有打开，无法导出。");
        return r;
    }
    const ExportColumns c = exportColumns(st, conn, table);
    if (c.columns.isEmpty()) {
        r.error = QStringLiteral("表“%1”没有查重数据库的全部字段，无法导出。").arg(table);
        return r;
    }
    // A workbook that exists is backed up first, beside it in the backup folder, so that the
    // sheet added to it can be taken back (a restore); an export that writes nothing keeps none.
    QString backup;
    if (QFileInfo(path).isFile()) {
        if (const core::Status s = check::backupUserFile(path, &backup); !s.ok()) {
            r.error = s.error + QStringLiteral("\r\n为保证数据安全，没有导出。");
            return r;
        }
    }
    r = db::exportToExcel(conn, table, c.columns, path, sheet, {}, c.headings);
    if (r.ok)
        r.backupPath = backup;
    else if (!backup.isEmpty() && QFile::remove(backup))
        QDir().rmdir(core::backupFolderOf(path)); // (only when nothing else is in it)
    return r;
}

core::Status workbookSheets(const QString& path, QStringList* sheets) {
    sheets->clear();
    const QFileInfo info(path);
    if (!info.exists()) return {};
    db::Connection book;
    if (info.isDir() || !book.open(db::excelConnectionString(path)))
        return QStringLiteral("无法读取Excel文件“%1”：%2\r\n文件没有改动，请选择别的文件。")
            .arg(QDir::toNativeSeparators(path),
                 info.isDir() ? QStringLiteral("这是一个文件夹。") : book.errorString());
    // Worksheets are listed as "<sheet>$"; rows of the kind TABLE are named ranges.
    for (const db::SchemaRow& row : book.tableSchema()) {
        if (row.tableType == QLatin1String("TABLE")) continue;
        *sheets << row.tableName.chopped(row.tableName.isEmpty() ? 0 : 1);
    }
    return {};
}

core::Status sheetNameRefusal(const QStringList& sheets, const QString& name) {
    if (sheets.contains(name)) return QStringLiteral("重名，请重新命名！");
    if (const QString problem = formats::xls::biff::sheetNameProblem(name); !problem.isEmpty())
        return problem + QStringLiteral("\r\n请重新命名！");
    for (const QString& s : sheets)
        if (s.compare(name, Qt::CaseInsensitive) == 0)
            return QStringLiteral("Excel文件中已有工作表“%1”，Excel不区分名称的大小写。"
                                  "\r\n请重新命名！")
                .arg(s);
    return {};
}

RestExport restExportOf(const QString& title) {
    const QString end = title.right(3);
    if (end == QLatin1String("dbf") || end == QLatin1String("DBF")) return RestExport::NotImported;
    if (end == QLatin1String("xls") || end == QLatin1String("XLS"))
        return RestExport::ImportedTable;
    // Workbooks of Excel 2007 and text files are imported as a sheet is.
    for (const char* suffix : {".xlsx", ".csv", ".txt"})
        if (title.endsWith(QLatin1String(suffix), Qt::CaseInsensitive))
            return RestExport::ImportedTable;
    if (title == QLatin1String("MorlayBankCC.MDB")) return RestExport::ImportedTable;
    if (end == QLatin1String("MDB") || end == QLatin1String("mdb")) return RestExport::SourceTable;
    return RestExport::Nothing;
}

QString exportSuccessText(const db::ExcelExportResult& r) {
    if (r.sheetCount() <= 1) return QStringLiteral("OK");
    return QStringLiteral("OK\r\n共导出%1条记录。记录超过一个工作表的容量，分%2个工作表导出：%3")
        .arg(r.rows)
        .arg(r.sheetCount())
        .arg(r.sheets.join(QStringLiteral("、")));
}

} // namespace control
