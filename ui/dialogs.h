#pragma once
// The message and dialog service every window and engine talks to: message boxes, open and save
// file dialogs, the input box. The header needs no widgets, so check engines can use it
// headless; the program installs the Qt implementation, tests install ScriptedDialogs.
#include <QString>
#include <QStringList>

#include <optional>

namespace ui {

enum class Icon { None, Information, Question, Warning, Critical };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

// The title most boxes of the program carry.
inline QString defaultTitle() {
    return QStringLiteral("信息提示");
}

struct FileDialogOptions {
    QString title;
    // Pairs of description and pattern in the form "所有文件|*.*|dbf文件|*.dbf"; a pattern may
    // list several globs separated by ";".
    QString filter;
    int filterIndex = 1;         // 1-based: the pair selected when the dialog opens
    QString defaultExtension;    // without the dot; added when the user types a bare name
    bool mustExist = true;       // open dialog: the chosen file must exist
    bool overwritePrompt = true; // save dialog: ask before replacing an existing file
    QString directory;           // where the dialog starts; empty: the last place used
};

struct FileChoice {
    QString path;      // full path of the chosen file
    QString fileTitle; // its name with extension
};

// A choice of one entry from a list, with lines that show what the selected entry means (the
// code page of a dBase table, with its values read in each).
struct ChoiceOptions {
    QString title;
    QString prompt;              // above the list
    QStringList items;           // the entries, in a drop-down list
    int current = 0;             // the entry selected when the box opens
    QString previewCaption;      // above the preview
    QList<QStringList> previews; // per entry, the lines shown while it is selected
};

// One description/pattern pair of a filter list.
struct FilterEntry {
    QString description;
    QStringList patterns;
};
// Splits "描述|*.a|描述|*.b;*.c" into its pairs; a trailing description without a pattern is
// dropped.
QList<FilterEntry> parseFilter(const QString& filter);

class DialogService {
public:
    virtual ~DialogService();

    virtual Answer message(const QString& text, const QString& title, Icon icon,
                           Buttons buttons) = 0;
    // std::nullopt when the user cancelled.
    virtual std::optional<FileChoice> openFile(const FileDialogOptions& options) = 0;
    virtual std::optional<FileChoice> saveFile(const FileDialogOptions& options) = 0;
    virtual std::optional<QString> input(const QString& prompt, const QString& title,
                                         const QString& defaultText) = 0;
    // The index of the chosen entry; std::nullopt when the user cancelled. A service without
    // such a box (the screenshot tool, benchmarks) takes the entry proposed, options.current.
    virtual std::optional<int> choose(const ChoiceOptions& options);
};

// The service in use. Until something else is installed this is the Qt implementation.
DialogService& dialogs();
// Installs a service (not owned); nullptr goes back to the Qt implementation. Returns the
// service that was installed before.
DialogService* setDialogs(DialogService* service);

// Shorthands for the two most common boxes, titled "信息提示" unless told otherwise.
void inform(const QString& text, const QString& title = defaultTitle(),
            Icon icon = Icon::Information);
// A question with OK and Cancel: true for OK.
bool confirm(const QString& text, const QString& title = defaultTitle());

} // namespace ui
