#pragma once
// A dialog service for tests: it records every box shown and answers from a script, in order.
// A box that the script does not expect is recorded as unexpected and answered the cautious
// way (Cancel where the box has it, a cancelled file dialog or input box), so the command under
// test stops instead of hanging; problems() then names it and the test fails.
//
//     ui::ScriptedDialogs d;                  // installs itself, restores the old service
//     d.expectMessage("请打开数据库！");      // when it goes out of scope
//     window.Command3->click();
//     QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
#include "ui/dialogs.h"

#include <QList>

namespace ui {

class ScriptedDialogs : public DialogService {
public:
    enum class Kind { Message, OpenFile, SaveFile, Input, Choice };

    struct Shown {
        Kind kind = Kind::Message;
        QString text; // message text or input prompt; file dialogs: their title
        QString title;
        Icon icon = Icon::None;
        Buttons buttons = Buttons::Ok;
        FileDialogOptions fileOptions; // file dialogs only
        QString inputDefault;          // input box only
        ChoiceOptions choice;          // choice box only
    };

    explicit ScriptedDialogs(bool install = true);
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    // A message box with exactly this text and title, answered with answer.
    ScriptedDialogs& expectMessage(const QString& text, Answer answer = Answer::Ok,
                                   const QString& title = defaultTitle());
    // A message box whose text contains part.
    ScriptedDialogs& expectMessageContaining(const QString& part, Answer answer = Answer::Ok,
                                             const QString& title = defaultTitle());
    // File dialogs and the input box: the chosen path or text, std::nullopt for Cancel.
    ScriptedDialogs& expectOpenFile(const std::optional<QString>& path);
    ScriptedDialogs& expectSaveFile(const std::optional<QString>& path);
    ScriptedDialogs& expectInput(const std::optional<QString>& text);
    // A choice box: the index of the entry chosen, std::nullopt for Cancel.
    ScriptedDialogs& expectChoice(std::optional<int> index);

    const QList<Shown>& shown() const { return shown_; }
    // Texts of the message boxes shown, in order.
    QStringList messageTexts() const;
    QStringList unexpected() const { return unexpected_; }
    int pendingCount() const { return int(script_.size()); }
    // Empty when every box shown was scripted and every scripted box was shown.
    QString problems() const;
    // Forgets the record and the script.
    void clear();

    Answer message(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    std::optional<FileChoice> openFile(const FileDialogOptions& options) override;
    std::optional<FileChoice> saveFile(const FileDialogOptions& options) override;
    std::optional<QString> input(const QString& prompt, const QString& title,
                                 const QString& defaultText) override;
    std::optional<int> choose(const ChoiceOptions& options) override;

private:
    struct Step {
        Kind kind;
        QString text;
        bool textIsPart = false;
        QString title;
        Answer answer = Answer::Ok;
        std::optional<QString> reply;
        std::optional<int> index; // choice box
    };
    bool take(Kind kind, const QString& text, const QString& title, Step* step);
    std::optional<FileChoice> fileReply(Kind kind, const FileDialogOptions& options);

    QList<Step> script_;
    QList<Shown> shown_;
    QStringList unexpected_;
    DialogService* previous_ = nullptr;
    bool installed_ = false;
};

} // namespace ui
