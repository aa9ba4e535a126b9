#include "import/engine/sources.h"

#include "db/formats/mdb/mdb.h"
#include "db/sqltext.h"
#include "import/engine/dbfcodepage.h"
#include "import/engine/worktables.h"

#include <QDir>
#include <QFileInfo>

namespace sources {

namespace {

const QString importedTable = QStringLiteral("ClienttableELS");

OpenResult failed(core::AppState& st, const QString& why) {
    st.RsSource.reset();
    OpenResult r;
    r.error = core::failure(why).error;
    return r;
}

void takePathPieces(core::AppState& st, const QString& path, const QString& fileTitle,
                    bool withTable) {
    const PathPieces p = pathPieces(path, fileTitle);
    st.SourcePath = p.path;
    st.SourceFileTitle = p.fileTitle;
    st.SourceBaseName = p.baseName;
    if (withTable) st.SourceTable = p.baseName;
    st.SourceDir = p.dir;
}

// SourceConn := a new connection on the source; an empty text, or why it did not open.
QString connect(core::AppState& st, const QString& connectionString, const QString& shownName) {
    st.RsSource.reset(); // the old source lets go of its connection
    st.SourceConn = db::Connection();
    db::Connection conn;
    if (!conn.open(connectionString))
        return QStringLiteral("无法打开数据文件：\n%1\n\n%2")
            .arg(QDir::toNativeSeparators(shownName), conn.errorString());
    st.SourceConn = conn;
    return {};
}

// RsSource := the rows of sql on SourceConn; an empty text, or why it did not open. A table
// whose rows are imported next (importRows reads them straight from the file's table) is opened
// with its fields only: a list of a million rows is not held twice.
QString openRsSource(core::AppState& st, const QString& sql, const QString& shownName,
                     bool importNext = false) {
    auto rs = std::make_shared<db::Recordset>();
    rs->setCursorLocation(db::CursorLocation::Client);
    const bool opened = importNext ? rs->openFields(sql, st.SourceConn)
                                   : rs->open(sql, st.SourceConn, db::CursorType::Keyset,
                                              db::LockType::Pessimistic);
    if (!opened || !rs->isOpen()) {
        st.RsSource.reset();
        // A dBase file that is not a table is left out of the folder's tables: say why.
        const QString why = st.SourceConn.skippedTables().isEmpty() ? rs->errorString()
                                                                    : st.SourceConn.skippedTables();
        return QStringLiteral("无法打开数据表 %1：\n%2").arg(shownName, why);
    }
    st.RsSource = rs;
    return {};
}

// createTable, with what the user should know about it.
void rebuildWorkTables(core::AppState& st, OpenResult* r) {
    const BuildReport report = createTable(st);
    if (!report.ok())
        r->notes << QStringLiteral("查重工作表无法重建：\n%1").arg(report.error);
    else if (!report.leftOut.isEmpty())
        r->notes << leftOutMessage(report.leftOut,
                                   core::sourceKindOf(st) == core::SourceKind::Imported);
}

// A file whose table the chooser picks next: the path pieces, the kind, SourceConn.
OpenResult connectFile(core::AppState& st, const QString& path, const QString& fileTitle,
                       core::SourceKind kind, const QString& connectionString) {
    takePathPieces(st, path, fileTitle, false);
    core::setSourceKind(st, kind);
    if (const QString why = connect(st, connectionString, path); !why.isEmpty())
        return failed(st, why);
    OpenResult r;
    return r;
}

OpenResult openDbfTable(core::AppState& st, const QString& path, const QString& fileTitle,
                        core::SourceKind kind) {
    takePathPieces(st, path, fileTitle, true);
    core::setSourceKind(st, kind);
    if (kind == core::SourceKind::Imported)
        st.SourceFileTitle = QStringLiteral("MorlayBankCC.MDB"); // the rows will live there
    // A table that declares no code page is read, and later written, in one named code page:
    // the caller's, else the user's earlier choice for the file, else the guess.
    if (st.SourceCodePage.isEmpty()) {
        const DbfCodePageInfo cp = inspectDbfCodePage(path);
        if (cp.undeclared) st.SourceCodePage = cp.remembered.isEmpty() ? cp.guessed : cp.remembered;
    }
    if (const QString why =
            connect(st, db::dbaseConnectionString(st.SourceDir, st.SourceCodePage), path);
        !why.isEmpty())
        return failed(st, why);
    if (const QString why =
            openRsSource(st, QStringLiteral("Select * From ") + db::sql::ident(st.SourceBaseName),
                         st.SourceBaseName, kind == core::SourceKind::Imported);
        !why.isEmpty())
        return failed(st, why);
    OpenResult r;
    rebuildWorkTables(st, &r);
    return r;
}

} // namespace

PathPieces pathPieces(const QString& path, const QString& fileTitle) {
    PathPieces p;
    p.path = path;
    p.fileTitle = fileTitle;
    // The title without its extension: the last four characters (".dbf"), five for ".xlsx".
    const int cut = fileTitle.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive) ? 5 : 4;
    p.baseName = fileTitle.left(std::max<qsizetype>(0, fileTitle.trimmed().size() - cut));
    p.dir = path.left(std::max<qsizetype>(0, path.size() - fileTitle.size() - 1));
    return p;
}

QString leftOutMessage(const QStringList& leftOut, bool imported) {
    return QStringLiteral("数据表的字段超过%1个，以下%2个字段不参加查重%3：\n%4")
        .arg(maxFields)
        .arg(leftOut.size())
        .arg(imported ? QStringLiteral("，也不导入") : QString())
        .arg(leftOut.join(QStringLiteral("、")));
}

OpenResult openDbf(core::AppState& st, const QString& path, const QString& fileTitle) {
    return openDbfTable(st, path, fileTitle, core::SourceKind::Dbase);
}

OpenResult openDbfForImport(core::AppState& st, const QString& path, const QString& fileTitle) {
    return openDbfTable(st, path, fileTitle, core::SourceKind::Imported);
}

OpenResult connectAccess(core::AppState& st, const QString& path, const QString& fileTitle) {
    OpenResult r = connectFile(st, path, fileTitle, core::SourceKind::Access,
                               db::accessConnectionString(path));
    if (r.ok() && st.SourceConn.isWorkingCopy())
        r.notes << QStringLiteral("此Access文件以副本方式打开，原文件不会被修改");
    return r;
}

OpenResult connectExcel(core::AppState& st, const QString& path, const QString& fileTitle) {
    return connectFile(st, path, fileTitle, core::SourceKind::Imported,
                       db::excelConnectionString(path));
}

OpenResult connectText(core::AppState& st, const QString& path, const QString& fileTitle) {
    return connectFile(st, path, fileTitle, core::SourceKind::Imported,
                       db::textConnectionString(path, st.SourceCodePage));
}

OpenResult openImported(core::AppState& st) {
    // The imported rows are kept in the working database.
    const QFileInfo work(st.WorkDbPath);
    st.SourceDir = work.absolutePath();
    st.SourceFileTitle = work.fileName();
    st.SourcePath = st.WorkDbPath;
    if (const QString why = connect(st, db::accessConnectionString(st.SourcePath), st.SourcePath);
        !why.isEmpty())
        return failed(st, why);
    core::setSourceKind(st, core::SourceKind::Access);
    st.SourceTable = importedTable;
    if (!st.SourceConn.hasTable(importedTable))
        return failed(
            st, QStringLiteral("还没有导入过数据：工作数据库中没有导入数据表 ClienttableELS。\n"
                               "请先用“导入Excel数据”或“导入DBF数据”导入数据。"));
    if (const QString why = openRsSource(st, db::sql::selectAll(importedTable), importedTable);
        !why.isEmpty())
        return failed(st, why);
    OpenResult r;
    rebuildWorkTables(st, &r);
    if (st.RsSource->recordCount() > 0) st.RsSource->moveFirst();
    return r;
}

core::Status chooserTables(const core::AppState& st, QStringList* tables) {
    QStringList& names = *tables;
    names.clear();
    if (core::sourceKindOf(st) == core::SourceKind::Access) {
        if (st.SourceConn.isWorkingCopy() || mdb::isAccessFile(st.SourcePath)) {
            QString error;
            if (!mdb::listTables(st.SourcePath, &names, &error)) {
                names.clear();
                return core::failure(error);
            }
        } else {
            for (const db::SchemaRow& row : st.SourceConn.tableSchema())
                if (row.tableType == QLatin1String("TABLE")) names << row.tableName;
        }
        // The reader leaves system tables out already; a user table named MSys... goes too.
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [](const QString& n) {
                                       return n.startsWith(QLatin1String("MSys"),
                                                           Qt::CaseInsensitive);
                                   }),
                    names.end());
        return {};
    }
    if (st.SourceConn.kind() == db::SourceKind::Text) {
        for (const db::SchemaRow& row : st.SourceConn.tableSchema())
            names << row.tableName; // the file's one table
        return {};
    }
    for (const db::SchemaRow& row : st.SourceConn.tableSchema()) {
        if (row.tableType == QLatin1String("TABLE")) continue; // a named range
        QString name = row.tableName;
        if (name.endsWith(QLatin1Char('$'))) name.chop(1);
        names << name;
    }
    return {};
}

OpenResult openChosenTable(core::AppState& st, const QString& name, bool importNext) {
    // A sheet is "<name>$"; the table of a text file has the file's name.
    const bool excel = core::sourceKindOf(st) == core::SourceKind::Imported &&
                       st.SourceConn.kind() == db::SourceKind::Xls;
    st.SourceTable = excel ? QStringLiteral("[") + name + QStringLiteral("$]") : name;
    const QString quoted = db::sql::ident(excel ? name + QLatin1Char('$') : name);
    if (const QString why =
            openRsSource(st, QStringLiteral("Select * From ") + quoted, name, importNext);
        !why.isEmpty())
        return failed(st, why);
    OpenResult r;
    rebuildWorkTables(st, &r);
    return r;
}

} // namespace sources
