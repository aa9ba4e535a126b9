#include "import/opensource.h"

#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "db/formats/mdb/mdb.h"
#include "db/sqltext.h"
#include "import/worktables.h"
#include "ui/toolkit.h"

#include <QDir>
#include <QListWidget>

namespace sources {

namespace {

using app::AppState;
using app::appState;
using app::mainForm;

const QString importedTable = QStringLiteral("ClienttableELS");

void tell(const QString& text) {
    ui::inform(text, ui::defaultTitle(), ui::Icon::Warning);
}

// The grid and the boxes of the main window show nothing of a source that is gone.
void showNoSource() {
    AppState& st = appState();
    st.RsSource.reset();
    app::mainFm1* w = mainForm();
    if (!w) return;
    auto empty = std::make_shared<db::Recordset>();
    if (!empty->open(db::sql::selectAll(QStringLiteral("empty_table")), st.WorkConn)) empty.reset();
    w->bindGrid(empty);
    w->showRecordCounters();
    w->fillFieldList();
    w->showWaitPicture(false);
}

// The main window after RsSource opened: counters, field list, status bar.
void showSource(const QString& panel3) {
    AppState& st = appState();
    app::mainFm1* w = mainForm();
    if (!w) return;
    w->showRecordCounters();
    w->fillFieldList();
    w->setStatusPanels(QDir::toNativeSeparators(st.SourceDir), st.SourceFileTitle, panel3);
}

std::optional<ui::FileChoice> chooseFile(const QString& extension) {
    return ui::dialogs().openFile(sourceFileDialog(extension));
}

void takePathPieces(const ui::FileChoice& choice, bool withTable) {
    AppState& st = appState();
    const PathPieces p = pathPieces(choice.path, choice.fileTitle);
    st.SourcePath = p.path;
    st.SourceFileTitle = p.fileTitle;
    st.SourceBaseName = p.baseName;
    if (withTable) st.SourceTable = p.baseName;
    st.SourceDir = p.dir;
}

// SourceConn := a new connection; false after telling the user.
bool connectSource(const QString& connectionString, const QString& shownName) {
    AppState& st = appState();
    st.RsSource.reset(); // the old source lets go of its connection
    st.SourceConn = db::Connection();
    db::Connection conn;
    if (!conn.open(connectionString)) {
        showNoSource();
        tell(QStringLiteral("无法打开数据文件：\n%1\n\n%2")
                 .arg(QDir::toNativeSeparators(shownName), conn.errorString()));
        return false;
    }
    st.SourceConn = conn;
    return true;
}

// RsSource := the rows of sql on conn, bound to the grid; false after telling the user.
bool openRsSource(const QString& sql, const db::Connection& conn, const QString& shownName) {
    AppState& st = appState();
    auto rs = std::make_shared<db::Recordset>();
    rs->setCursorLocation(db::CursorLocation::Client);
    const bool ok = rs->open(sql, conn, db::CursorType::Keyset, db::LockType::Pessimistic);
    if (app::mainFm1* w = mainForm()) w->showWaitPicture(false);
    if (!ok || !rs->isOpen()) {
        showNoSource();
        // A dBase file that is not a table is left out of the folder's tables: say why.
        const QString why =
            conn.skippedTables().isEmpty() ? rs->errorString() : conn.skippedTables();
        tell(QStringLiteral("无法打开数据表 %1：\n%2").arg(shownName, why));
        return false;
    }
    st.RsSource = rs;
    if (app::mainFm1* w = mainForm()) w->bindGrid(rs);
    return true;
}

// createTable, telling the user about fields left out or a build that failed.
void rebuildWorkTables() {
    const BuildReport report = createTable(appState());
    if (!report.ok)
        tell(QStringLiteral("查重工作表无法重建：\n%1").arg(report.error));
    else if (!report.leftOut.isEmpty())
        tell(leftOutMessage(report.leftOut, appState().SourceType == QLatin1String("xls")));
}

void waitPicture(bool visible) {
    if (app::mainFm1* w = mainForm()) w->showWaitPicture(visible);
}

void clearCheckFields() {
    if (app::mainFm1* w = mainForm()) {
        w->List1->clear();
        w->setSourceOpenedFlag(1);
    }
}

// The dBase table chosen for "打开DBF数据" and "导入DBF数据": connection and RsSource.
bool openDbfTable() {
    AppState& st = appState();
    if (!connectSource(db::dbaseConnectionString(st.SourceDir, st.SourceCodePage), st.SourcePath))
        return false;
    waitPicture(true);
    return openRsSource(QStringLiteral("Select * From ") + db::sql::ident(st.SourceBaseName),
                        st.SourceConn, st.SourceBaseName);
}

} // namespace

PathPieces pathPieces(const QString& path, const QString& fileTitle) {
    PathPieces p;
    p.path = path;
    p.fileTitle = fileTitle;
    p.baseName = fileTitle.left(std::max<qsizetype>(0, fileTitle.trimmed().size() - 4));
    p.dir = path.left(std::max<qsizetype>(0, path.size() - fileTitle.size() - 1));
    return p;
}

ui::FileDialogOptions sourceFileDialog(const QString& extension) {
    ui::FileDialogOptions o;
    o.title = QStringLiteral("选择目标文件");
    o.filter = QStringLiteral("所有文件|*.*|%1文件|*.%1").arg(extension);
    o.filterIndex = 2;
    o.defaultExtension = extension;
    o.mustExist = true;
    o.overwritePrompt = true;
    return o;
}

QString leftOutMessage(const QStringList& leftOut, bool imported) {
    return QStringLiteral("数据表的字段超过%1个，以下%2个字段不参加查重%3：\n%4")
        .arg(maxFields)
        .arg(leftOut.size())
        .arg(imported ? QStringLiteral("，也不导入") : QString())
        .arg(leftOut.join(QStringLiteral("、")));
}

bool runCommand(const QString& name) {
    if (name == QLatin1String("begin_DBF"))
        openDbf();
    else if (name == QLatin1String("Input_DBF"))
        importDbf();
    else if (name == QLatin1String("begin_MDB"))
        openMdb();
    else if (name == QLatin1String("inputFile_XLS"))
        importExcel();
    else if (name == QLatin1String("begin_MDB2"))
        openImported();
    else
        return false;
    return true;
}

void openDbf() {
    AppState& st = appState();
    clearCheckFields();
    const auto choice = chooseFile(QStringLiteral("dbf"));
    if (!choice) return;
    takePathPieces(*choice, true);
    st.SourceType = QStringLiteral("dbf");
    if (!openDbfTable()) return;
    if (app::mainFm1* w = mainForm()) w->showRecordCounters();
    rebuildWorkTables();
    showSource(st.SourceBaseName);
}

void importDbf() {
    AppState& st = appState();
    st.SourceType = QStringLiteral("xls");
    const auto choice = chooseFile(QStringLiteral("dbf"));
    if (!choice) return;
    takePathPieces(*choice, true);
    // The rows will live in the working database.
    st.SourceFileTitle = QStringLiteral("MorlayBankCC.MDB");
    if (!openDbfTable()) return;
    rebuildWorkTables();
    showSource(st.SourceBaseName);
    app::windows().showImportProgress();
}

void openMdb() {
    AppState& st = appState();
    clearCheckFields();
    const auto choice = chooseFile(QStringLiteral("mdb"));
    if (!choice) return;
    takePathPieces(*choice, false);
    st.SourceType = QStringLiteral("mdb");
    ui::WaitCursor wait;
    if (!connectSource(db::accessConnectionString(st.SourcePath), st.SourcePath)) return;
    showNoSource(); // until a table is chosen, the grid shows nothing of the previous source
    if (st.SourceConn.isWorkingCopy())
        ui::inform(QStringLiteral("此Access文件以副本方式打开，原文件不会被修改"));
    app::windows().showTableChooser();
}

void importExcel() {
    AppState& st = appState();
    clearCheckFields();
    const auto choice = chooseFile(QStringLiteral("xls"));
    if (!choice) return;
    takePathPieces(*choice, false);
    st.SourceType = QStringLiteral("xls");
    ui::WaitCursor wait;
    if (!connectSource(db::excelConnectionString(st.SourcePath), st.SourcePath)) return;
    showNoSource();
    app::windows().showTableChooser();
}

void openImported() {
    AppState& st = appState();
    st.SourceDir = st.AppDir;
    st.SourceFileTitle = QStringLiteral("MorlayBankCC.mdb");
    st.SourcePath = st.AppDir + QLatin1Char('/') + st.SourceFileTitle;
    ui::WaitCursor wait;
    if (!connectSource(db::accessConnectionString(st.SourcePath), st.SourcePath)) return;
    st.SourceType = QStringLiteral("mdb");
    st.SourceTable = importedTable;
    if (!st.SourceConn.hasTable(importedTable)) {
        showNoSource();
        tell(QStringLiteral("还没有导入过数据：工作数据库中没有导入数据表 ClienttableELS。\n"
                            "请先用“导入Excel数据”或“导入DBF数据”导入数据。"));
        return;
    }
    if (!openRsSource(db::sql::selectAll(importedTable), st.SourceConn, importedTable)) return;
    rebuildWorkTables();
    if (st.RsSource->recordCount() > 0) st.RsSource->moveFirst();
    showSource(importedTable);
}

QStringList chooserTables(const AppState& st, QString* error) {
    QStringList names;
    if (st.SourceType == QLatin1String("mdb")) {
        if (st.SourceConn.isWorkingCopy() || mdb::isAccessFile(st.SourcePath)) {
            if (!mdb::listTables(st.SourcePath, &names, error)) return {};
        } else {
            for (const db::SchemaRow& row : st.SourceConn.tableSchema())
                if (row.tableType == QLatin1String("TABLE") &&
                    !row.tableName.startsWith(QLatin1String("MSys"), Qt::CaseInsensitive))
                    names << row.tableName;
        }
        // The reader leaves system tables out already; a user table named MSys... goes too.
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [](const QString& n) {
                                       return n.startsWith(QLatin1String("MSys"),
                                                           Qt::CaseInsensitive);
                                   }),
                    names.end());
        return names;
    }
    for (const db::SchemaRow& row : st.SourceConn.tableSchema()) {
        if (row.tableType == QLatin1String("TABLE")) continue; // a named range
        QString name = row.tableName;
        if (name.endsWith(QLatin1Char('$'))) name.chop(1);
        names << name;
    }
    return names;
}

bool openChosenTable(const QString& name) {
    AppState& st = appState();
    const bool excel = st.SourceType == QLatin1String("xls");
    st.SourceTable = excel ? QStringLiteral("[") + name + QStringLiteral("$]") : name;
    const QString quoted = db::sql::ident(excel ? name + QLatin1Char('$') : name);
    if (!openRsSource(QStringLiteral("Select * From ") + quoted, st.SourceConn, name)) return false;
    rebuildWorkTables();
    showSource(name);
    if (excel) app::windows().showImportProgress();
    return true;
}

} // namespace sources
