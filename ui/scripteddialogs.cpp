#include "ui/scripteddialogs.h"

#include <QFileInfo>

namespace ui {

namespace {

QString kindName(ScriptedDialogs::Kind kind) {
    switch (kind) {
    case ScriptedDialogs::Kind::Message:
        return QStringLiteral("message box");
    case ScriptedDialogs::Kind::OpenFile:
        return QStringLiteral("open dialog");
    case ScriptedDialogs::Kind::SaveFile:
        return QStringLiteral("save dialog");
    case ScriptedDialogs::Kind::Input:
        return QStringLiteral("input box");
    case ScriptedDialogs::Kind::Choice:
        return QStringLiteral("choice box");
    }
    return {};
}

} // namespace

ScriptedDialogs::ScriptedDialogs(bool install) : installed_(install) {
    if (install) previous_ = setDialogs(this);
}

ScriptedDialogs::~ScriptedDialogs() {
    if (installed_) setDialogs(previous_);
}

ScriptedDialogs& ScriptedDialogs::expectMessage(const QString& text, Answer answer,
                                                const QString& title) {
    script_.append(Step{Kind::Message, text, false, title, answer, std::nullopt, std::nullopt});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectMessageContaining(const QString& part, Answer answer,
                                                          const QString& title) {
    script_.append(Step{Kind::Message, part, true, title, answer, std::nullopt, std::nullopt});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectOpenFile(const std::optional<QString>& path) {
    script_.append(Step{Kind::OpenFile, {}, false, {}, Answer::Ok, path, std::nullopt});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectSaveFile(const std::optional<QString>& path) {
    script_.append(Step{Kind::SaveFile, {}, false, {}, Answer::Ok, path, std::nullopt});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectInput(const std::optional<QString>& text) {
    script_.append(Step{Kind::Input, {}, false, {}, Answer::Ok, text, std::nullopt});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectChoice(std::optional<int> index) {
    Step step{Kind::Choice, {}, false, {}, Answer::Ok, std::nullopt, std::nullopt};
    step.index = index;
    script_.append(step);
    return *this;
}

QStringList ScriptedDialogs::messageTexts() const {
    QStringList out;
    for (const Shown& s : shown_)
        if (s.kind == Kind::Message) out << s.text;
    return out;
}

QString ScriptedDialogs::problems() const {
    QStringList out;
    for (const QString& u : unexpected_)
        out << QStringLiteral("unexpected ") + u;
    for (const Step& s : script_)
        out << QStringLiteral("expected %1 never shown: \"%2\"").arg(kindName(s.kind), s.text);
    return out.join(QLatin1Char('\n'));
}

void ScriptedDialogs::clear() {
    script_.clear();
    shown_.clear();
    unexpected_.clear();
}

bool ScriptedDialogs::take(Kind kind, const QString& text, const QString& title, Step* step) {
    const QString what =
        QStringLiteral("%1 \"%2\" (title \"%3\")").arg(kindName(kind), text, title);
    if (script_.isEmpty()) {
        unexpected_ << what;
        return false;
    }
    const Step& next = script_.first();
    bool matches = next.kind == kind;
    if (matches && kind == Kind::Message) {
        matches =
            (next.textIsPart ? text.contains(next.text) : text == next.text) && title == next.title;
    }
    if (!matches) {
        unexpected_ << what + QStringLiteral(" where the script expected %1 \"%2\" (title \"%3\")")
                                  .arg(kindName(next.kind), next.text, next.title);
        return false;
    }
    *step = script_.takeFirst();
    return true;
}

Answer ScriptedDialogs::message(const QString& text, const QString& title, Icon icon,
                                Buttons buttons) {
    shown_.append(Shown{Kind::Message, text, title, icon, buttons, {}, {}, {}});
    Step step;
    if (take(Kind::Message, text, title, &step)) return step.answer;
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::YesNo:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

std::optional<FileChoice> ScriptedDialogs::fileReply(Kind kind, const FileDialogOptions& options) {
    shown_.append(
        Shown{kind, options.title, options.title, Icon::None, Buttons::Ok, options, {}, {}});
    Step step;
    if (!take(kind, options.title, options.title, &step) || !step.reply) return std::nullopt;
    return FileChoice{*step.reply, QFileInfo(*step.reply).fileName()};
}

std::optional<FileChoice> ScriptedDialogs::openFile(const FileDialogOptions& options) {
    return fileReply(Kind::OpenFile, options);
}

std::optional<FileChoice> ScriptedDialogs::saveFile(const FileDialogOptions& options) {
    return fileReply(Kind::SaveFile, options);
}

std::optional<QString> ScriptedDialogs::input(const QString& prompt, const QString& title,
                                              const QString& defaultText) {
    shown_.append(
        Shown{Kind::Input, prompt, title, Icon::None, Buttons::OkCancel, {}, defaultText, {}});
    Step step;
    if (!take(Kind::Input, prompt, title, &step)) return std::nullopt;
    return step.reply;
}

std::optional<int> ScriptedDialogs::choose(const ChoiceOptions& options) {
    Shown shown{Kind::Choice, options.prompt, options.title, Icon::None, Buttons::OkCancel, {},
                {},           options};
    shown_.append(shown);
    Step step;
    if (!take(Kind::Choice, options.prompt, options.title, &step)) return std::nullopt;
    return step.index;
}

} // namespace ui
