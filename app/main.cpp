// The duplicate checker: finds and removes duplicate client records in Access, dBase and Excel
// customer lists.
#include "app/program.h"
#include "app/windowdirectory.h"
#include "check/mainfm11.h"
#include "help/manualfm1.h"
#include "import/commands.h"
#include "import/mainfm5.h"
#include "import/tablefm1.h"

#include <QApplication>

namespace {

// The windows of the other subsystems that the main window opens.
class ProgramWindows : public app::WindowDirectory {
public:
    bool showGuide() override { return help::manualFm1::showGuide(); }
    bool showTableChooser() override {
        sources::tableFm1::showChooser();
        return true;
    }
    bool showImportProgress() override {
        sources::mainFm5::showImport();
        return true;
    }
    bool openSource(const QString& command) override { return sources::runCommand(command); }
    bool showCheckRun(const QString& caption, const app::RunOptions& options) override {
        check::mainFm11::showRun(caption, options);
        return true;
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ProgramWindows windows;
    return app::runProgram(application, QCoreApplication::applicationDirPath(), &windows);
}
