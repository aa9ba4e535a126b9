#pragma once
// The dialog service on Qt's own boxes: QMessageBox, QFileDialog, QInputDialog, and a small
// choice box of the program's own. The choice box (objectName "ChoiceBox") holds Label1 (the
// prompt), Combo1 (the entries), Label2 (the preview's caption), List1 (the preview lines of
// the entry selected), Command1 (确定) and Command2 (取消).
#include "ui/dialogs.h"

namespace ui {

class QtDialogs : public DialogService {
public:
    Answer message(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    std::optional<FileChoice> openFile(const FileDialogOptions& options) override;
    std::optional<FileChoice> saveFile(const FileDialogOptions& options) override;
    std::optional<QString> input(const QString& prompt, const QString& title,
                                 const QString& defaultText) override;
    std::optional<int> choose(const ChoiceOptions& options) override;
};

// A filter list in QFileDialog's form ("描述 (*.a *.b)"), one entry per pair. "*.*" becomes
// "*" so that files without an extension are listed too, as on the system the users know.
QStringList qtNameFilters(const QString& filter);

} // namespace ui
