#include "import/commands.h"

#include "app/engine/appstate.h"
#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "import/engine/sources.h"
#include "ui/toolkit.h"

namespace sources {

namespace {

using app::AppState;
using app::appState;
using app::mainForm;

void tell(const QString& text) {
    ui::inform(text, ui::defaultTitle(), ui::Icon::Warning);
}

std::optional<ui::FileChoice> chooseFile(const QString& extension) {
    return ui::dialogs().openFile(sourceFileDialog(extension));
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
    if (!r.ok) tell(r.error);
    for (const QString& note : r.notes)
        tell(note);
    return r.ok;
}

// The main window after an open: the source shown (panel 3 of the status bar says which
// table), or nothing of the old one.
bool show(const OpenResult& r, const QString& panel3) {
    AppState& st = appState();
    if (app::mainFm1* w = mainForm()) {
        w->showWaitPicture(false);
        if (r.ok && app::isOpen(st.RsSource))
            w->showSource(st.SourceDir, st.SourceFileTitle, panel3);
        else
            w->showNoSource();
    }
    return report(r);
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
    else if (name == QLatin1String("begin_MDB2"))
        openImported();
    else
        return false;
    return true;
}

void openDbf() {
    clearCheckFields();
    const auto choice = chooseFile(QStringLiteral("dbf"));
    if (!choice) return;
    waitPicture(true);
    show(sources::openDbf(appState(), choice->path, choice->fileTitle), appState().SourceBaseName);
}

void importDbf() {
    // Nothing of the source description changes until a file is chosen.
    const auto choice = chooseFile(QStringLiteral("dbf"));
    if (!choice) return;
    waitPicture(true);
    if (show(openDbfForImport(appState(), choice->path, choice->fileTitle),
             appState().SourceBaseName))
        app::windows().showImportProgress();
}

void openMdb() {
    clearCheckFields();
    const auto choice = chooseFile(QStringLiteral("mdb"));
    if (!choice) return;
    ui::WaitCursor wait;
    connected(connectAccess(appState(), choice->path, choice->fileTitle));
}

void importExcel() {
    clearCheckFields();
    const auto choice = chooseFile(QStringLiteral("xls"));
    if (!choice) return;
    ui::WaitCursor wait;
    connected(connectExcel(appState(), choice->path, choice->fileTitle));
}

void openImported() {
    ui::WaitCursor wait;
    show(sources::openImported(appState()), QStringLiteral("ClienttableELS"));
}

bool showChosenTable(const QString& name) {
    const bool excel = app::sourceKindOf(appState()) == app::SourceKind::Imported;
    if (!show(openChosenTable(appState(), name), name)) return false;
    if (excel) app::windows().showImportProgress();
    return true;
}

} // namespace sources
