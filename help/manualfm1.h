#pragma once
// The user guide viewer "帮助": shows 用户指南.txt from the program's directory, read-only.
#include <QWidget>

class QGroupBox;
class QPushButton;
class QTextEdit;

namespace help {

class manualFm1 : public QWidget {
    Q_OBJECT
public:
    explicit manualFm1(QWidget* parent = nullptr);

    // Loads the guide of the program directory (AppDir); false after telling the user why it
    // could not be read.
    bool load();
    // The guide's full path: AppDir + "/用户指南.txt".
    static QString guidePath();
    // Opens the viewer modeless (or brings the open one to the front). False when the guide
    // could not be read; no window stays open then.
    static bool showGuide();
    // The viewer that is open, null when none.
    static manualFm1* instance();

private:
    static QString decode(const QByteArray& bytes);

    QGroupBox* Frame1 = nullptr;
    QTextEdit* RichTextBox1 = nullptr;
    QPushButton* Command1 = nullptr;
};

} // namespace help
