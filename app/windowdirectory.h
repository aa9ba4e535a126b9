#pragma once
// How the main window and the windows of the subsystems reach each other without depending on
// each other: the program registers a directory that knows them all (program/program.h). A window
// that is not there (not registered, or not built yet) reports false and the command that
// wanted it ends where it is.
#include "core/run.h"

#include <QString>

class QWidget;

namespace app {

class mainFm1;

class WindowDirectory {
public:
    virtual ~WindowDirectory();

    // The table chooser tableFm1 (Access tables, Excel sheets), modeless.
    virtual bool showTableChooser() { return false; }
    // The import progress window mainFm5, modeless.
    virtual bool showImportProgress() { return false; }
    // The check-run window mainFm11 with its caption ("完全相同查重" or "模糊查重"), modeless,
    // running the check the options describe.
    virtual bool showCheckRun(const QString& caption, const core::RunOptions& options) {
        return false;
    }
    // The check-control window mainFm4, modeless.
    virtual bool showCheckControl() { return false; }
    // The batch delete window mainFm8, modeless; null when there is none. It signals
    // runningChanged(bool) while its delete runs.
    virtual QWidget* showBatchDelete() { return nullptr; }
    // The user guide viewer manualFm1, modeless.
    virtual bool showGuide() { return false; }
    // The report of the last check (reportFm), modeless; false when none is kept.
    virtual bool showReport() { return false; }
    // The backups of the check table's file, to put one back (restoreFm), modal.
    virtual bool showRestore() { return false; }
    // A file opened as its menu command opens it (a file given on the command line).
    virtual bool openFile(const QString& path) { return false; }
    // One of the open and import commands, by the name of its menu entry ("begin_DBF",
    // "Input_DBF", "begin_MDB", "inputFile_XLS", "inputFile_CSV", "begin_MDB2").
    virtual bool openSource(const QString& command) { return false; }
};

// The directory in use; an empty one (every window missing) until one is registered.
WindowDirectory& windows();
// Registers a directory (not owned); nullptr goes back to the empty one.
void setWindows(WindowDirectory* directory);

// The main window of the run, null before it exists.
mainFm1* mainForm();

} // namespace app
