#include "import/commands.h"

#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "core/appstate.h"
#include "import/engine/dbfcodepage.h"
#include "import/engine/sources.h"
#include "ui/toolkit.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

namespace sources {

namespace {

using app::mainForm;
using core::AppState;
using core::appState;

void tell(const QString& text) {
    ui::inform(text, ui::defaultTitle(), ui::Icon::Warning);
}

// A file named on the command line (a file manager's "打开方式") stands in for the answer of the
// open dialog, once.
std::optional<ui::FileChoice> given;

std::optional<ui::FileChoice> chooseFile(const ui::FileDialogOptions& dialog) {
    if (given) return std::exchange(given, std::nullopt);
    return ui::dialogs().openFile(dialog);
}
std::optional<ui::FileChoice> chooseFile(const QString& extension) {
    return chooseFile(sourceFileDialog(extension));
}

void waitPicture(bool visible) {
    if (app::mainFm1* w = mainForm()) w->showWaitPicture(visible);
}

void clearCheckFields() {
    if (app::mainFm1* w = mainForm()) {
        w->clearCheckFields();
        w->setSourceOpenedFlag(1);
    }
}

// The user told what went wrong, or what should be known although it went well.
bool report(const OpenResult& r) {
    if (!r.ok()) tell(r.error);
    for (const QString& note : r.notes)
        tell(note);
    return r.ok();
}

// The main window after an open: the source shown (panel 3 of the status bar says which
// table), or nothing of the old one.
bool show(const OpenResult& r, const QString& panel3) {
    AppState& st = appState();
    if (app::mainFm1* w = mainForm()) {
        w->showWaitPicture(false);
        if (r.ok() && core::isOpen(st.RsSource))
            w->showSource(st.SourceDir, st.SourceFileTitle, panel3);
        else
            w->showNoSource();
    }
    return report(r);
}

// The code page a dBase table is read in. For a table that declares none (and holds more than
// ASCII text) the user confirms the guessed one, or the one chosen for the file before, or
// picks another while seeing the first values read in it; the choice is kept for the file.
// False when the user cancelled: the source open before stays as it was.
bool chooseCodePage(const QString& path) {
    AppState& st = appState();
    const DbfCodePageInfo info = inspectDbfCodePage(path);
    if (!info.undeclared) {
        st.SourceCodePage.clear();
        return true;
    }
    QStringList names = dbfCodePageNames();
    for (const QString& n : {info.remembered, info.guessed})
        if (!n.isEmpty() && !names.contains(n)) names << n;
    ui::ChoiceOptions o;
    o.title = QStringLiteral("选择代码页");
    o.prompt =
        QStringLiteral("数据表“%1”没有注明文字的代码页（编码）。\n程序按表中的文字推测为 %2%3。"
                       "\n请确认，或选择正确的代码页：")
            .arg(QFileInfo(path).fileName(), dbfCodePageLabel(info.guessed),
                 info.remembered.isEmpty() ? QString()
                                           : QStringLiteral("；上次为这个文件选择的是 %1")
                                                 .arg(dbfCodePageLabel(info.remembered)));
    o.previewCaption = QStringLiteral("按所选代码页读出的字段名和前几个值：");
    for (const QString& n : names) {
        o.items << dbfCodePageLabel(n);
        o.previews << previewInCodePage(info.samples, n);
    }
    o.current = int(names.indexOf(info.remembered.isEmpty() ? info.guessed : info.remembered));
    const std::optional<int> chosen = ui::dialogs().choose(o);
    if (!chosen || *chosen < 0 || *chosen >= names.size()) return false;
    st.SourceCodePage = names[*chosen];
    if (!rememberDbfCodePage(path, st.SourceCodePage))
        tell(QStringLiteral("无法保存为这个文件选择的代码页，下次打开时需要重新选择。"));
    return true;
}

// A file connected whose table is chosen next: the grid shows nothing of the previous source.
void connected(const OpenResult& r) {
    if (app::mainFm1* w = mainForm()) w->showNoSource();
    if (report(r)) app::windows().showTableChooser();
}

} // namespace

ui::FileDialogOptions sourceFileDialog(const QString& extension) {
    ui::FileDialogOptions o;
    o.title = QStringLiteral("选择目标文件");
    o.filter = QStringLiteral("所有文件|*.*|%1文件|*.%1").arg(extension);
    // Workbooks of Excel 2007 and later open the same way; the .xls filter stays the one chosen.
    if (extension == QLatin1String("xls"))
        o.filter += QStringLiteral("|Excel 2007及以上文件|*.xlsx");
    o.filterIndex = 2;
    o.defaultExtension = extension;
    o.mustExist = true;
    o.overwritePrompt = true;
    return o;
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
    else if (name == QLatin1String("inputFile_CSV"))
        importText();
    else if (name == QLatin1String("begin_MDB2"))
        openImported();
    else
        return false;
    return true;
}

void openDbf() {
    clearCheckFields();
    const auto choice = chooseFile(QStringLiteral("dbf"));
    if (!choice || !chooseCodePage(choice->path)) return;
    waitPicture(true);
    show(sources::openDbf(appState(), choice->path, choice->fileTitle), appState().SourceBaseName);
}

void importDbf() {
    // Nothing of the source description changes until a file is chosen.
    const auto choice = chooseFile(QStringLiteral("dbf"));
    if (!choice || !chooseCodePage(choice->path)) return;
    waitPicture(true);
    if (show(openDbfForImport(appState(), choice->path, choice->fileTitle),
             appState().SourceBaseName))
        app::windows().showImportProgress();
}

void openMdb() {
    clearCheckFields();
    const auto choice = chooseFile(QStringLiteral("mdb"));
    if (!choice) return;
    appState().SourceCodePage.clear(); // a dBase table's, not this file's
    ui::WaitCursor wait;
    connected(connectAccess(appState(), choice->path, choice->fileTitle));
}

void importExcel() {
    clearCheckFields();
    const auto choice = chooseFile(QStringLiteral("xls"));
    if (!choice) return;
    appState().SourceCodePage.clear();
    ui::WaitCursor wait;
    connected(connectExcel(appState(), choice->path, choice->fileTitle));
}

ui::FileDialogOptions textFileDialog() {
    ui::FileDialogOptions o;
    o.title = QStringLiteral("选择目标文件");
    o.filter = QStringLiteral("文本文件|*.csv;*.txt|所有文件|*.*");
    o.filterIndex = 1;
    o.defaultExtension = QStringLiteral("csv");
    o.mustExist = true;
    return o;
}

void importText() {
    clearCheckFields();
    const auto choice = chooseFile(textFileDialog());
    if (!choice) return;
    appState().SourceCodePage.clear(); // the text file's encoding is found from its bytes
    ui::WaitCursor wait;
    const OpenResult r = connectText(appState(), choice->path, choice->fileTitle);
    if (!r.ok()) {
        show(r, {});
        return;
    }
    report(r);
    // The file holds one table: no chooser, the import follows at once.
    QStringList tables;
    const QString error = chooserTables(appState(), &tables).error;
    if (tables.isEmpty()) {
        OpenResult none;
        none.error = error.isEmpty() ? QStringLiteral("文件中没有可以导入的数据") : error;
        show(none, {});
        return;
    }
    showChosenTable(tables.first());
}

void openImported() {
    appState().SourceCodePage.clear();
    ui::WaitCursor wait;
    show(sources::openImported(appState()), QStringLiteral("ClienttableELS"));
}

bool openGivenFile(const QString& path) {
    const QFileInfo info(path);
    const QString suffix = info.suffix().toLower();
    QString command;
    if (suffix == QLatin1String("dbf"))
        command = QStringLiteral("begin_DBF");
    else if (suffix == QLatin1String("mdb") || suffix == QLatin1String("accdb"))
        command = QStringLiteral("begin_MDB");
    else if (suffix == QLatin1String("xls") || suffix == QLatin1String("xlsx"))
        command = QStringLiteral("inputFile_XLS");
    else if (suffix == QLatin1String("csv") || suffix == QLatin1String("txt"))
        command = QStringLiteral("inputFile_CSV");
    if (command.isEmpty() || !info.isFile()) {
        tell(
            command.isEmpty()
                ? QStringLiteral("不认识的文件格式：\n%1\n\n本程序能打开 .dbf、.mdb、.accdb、.xls、"
                                 ".xlsx、.csv 和 .txt 文件。")
                      .arg(QDir::toNativeSeparators(path))
                : QStringLiteral("找不到文件：\n%1").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    given = ui::FileChoice{info.absoluteFilePath(), info.fileName()};
    runCommand(command);
    given.reset();
    return true;
}

bool showChosenTable(const QString& name) {
    const bool excel = core::sourceKindOf(appState()) == core::SourceKind::Imported;
    if (!show(openChosenTable(appState(), name, excel), name)) return false;
    if (excel) app::windows().showImportProgress();
    return true;
}

} // namespace sources
