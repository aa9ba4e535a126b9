#pragma once
// The dialog service on Qt's own boxes: QMessageBox, QFileDialog, QInputDialog.
#include "ui/dialogs.h"

namespace ui {

class QtDialogs : public DialogService {
public:
    Answer message(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    std::optional<FileChoice> openFile(const FileDialogOptions& options) override;
    std::optional<FileChoice> saveFile(const FileDialogOptions& options) override;
    std::optional<QString> input(const QString& prompt, const QString& title,
                                 const QString& defaultText) override;
};

// A filter list in QFileDialog's form ("描述 (*.a *.b)"), one entry per pair. "*.*" becomes
// "*" so that files without an extension are listed too, as on the system the users know.
QStringList qtNameFilters(const QString& filter);

} // namespace ui
