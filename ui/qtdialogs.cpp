#include "ui/qtdialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace ui {

namespace {

QWidget* dialogParent() {
    return QApplication::activeWindow();
}

QMessageBox::Icon qtIcon(Icon icon) {
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::Warning:
        return QMessageBox::Warning;
    case Icon::Critical:
        return QMessageBox::Critical;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

std::optional<FileChoice> runFileDialog(const FileDialogOptions& o, bool save) {
    QFileDialog d(dialogParent(), o.title);
    d.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    d.setFileMode(save || !o.mustExist ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    d.setOption(QFileDialog::DontConfirmOverwrite, !(save && o.overwritePrompt));
    d.setOption(QFileDialog::ReadOnly, false);
    const QStringList filters = qtNameFilters(o.filter);
    if (!filters.isEmpty()) {
        d.setNameFilters(filters);
        d.selectNameFilter(filters.value(qBound(1, o.filterIndex, int(filters.size())) - 1));
    }
    if (!o.defaultExtension.isEmpty()) d.setDefaultSuffix(o.defaultExtension);
    if (!o.directory.isEmpty()) d.setDirectory(o.directory);
    if (d.exec() != QDialog::Accepted) return std::nullopt;
    const QString path = d.selectedFiles().value(0);
    if (path.isEmpty()) return std::nullopt;
    return FileChoice{QDir::toNativeSeparators(path), QFileInfo(path).fileName()};
}

} // namespace

QStringList qtNameFilters(const QString& filter) {
    QStringList out;
    for (const FilterEntry& e : parseFilter(filter)) {
        QStringList globs;
        for (const QString& p : e.patterns)
            globs << (p == QLatin1String("*.*") ? QStringLiteral("*") : p);
        out << e.description + QLatin1String(" (") + globs.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
    }
    return out;
}

Answer QtDialogs::message(const QString& text, const QString& title, Icon icon, Buttons buttons) {
    // Texts join their lines with CR LF; the label wants plain line feeds.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(qtIcon(icon), title, shown, QMessageBox::NoButton, dialogParent());
    box.setTextFormat(Qt::PlainText);
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        break;
    }
    // Closed with Escape or the title bar: the box's way of saying "no".
    return buttons == Buttons::Ok ? Answer::Ok
                                  : (buttons == Buttons::YesNo ? Answer::No : Answer::Cancel);
}

std::optional<FileChoice> QtDialogs::openFile(const FileDialogOptions& options) {
    return runFileDialog(options, false);
}

std::optional<FileChoice> QtDialogs::saveFile(const FileDialogOptions& options) {
    return runFileDialog(options, true);
}

std::optional<QString> QtDialogs::input(const QString& prompt, const QString& title,
                                        const QString& defaultText) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(dialogParent(), title, prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok) return std::nullopt;
    return text;
}

std::optional<int> QtDialogs::choose(const ChoiceOptions& o) {
    QDialog d(dialogParent());
    d.setObjectName(QStringLiteral("ChoiceBox"));
    d.setWindowTitle(o.title);
    auto* prompt = new QLabel(o.prompt, &d);
    prompt->setObjectName(QStringLiteral("Label1"));
    prompt->setWordWrap(true);
    prompt->setTextFormat(Qt::PlainText);
    auto* combo = new QComboBox(&d);
    combo->setObjectName(QStringLiteral("Combo1"));
    combo->addItems(o.items);
    auto* caption = new QLabel(o.previewCaption, &d);
    caption->setObjectName(QStringLiteral("Label2"));
    auto* list = new QListWidget(&d);
    list->setObjectName(QStringLiteral("List1"));
    auto* ok = new QPushButton(QStringLiteral("确定"), &d);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), &d);
    cancel->setObjectName(QStringLiteral("Command2"));
    QObject::connect(ok, &QPushButton::clicked, &d, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &d, &QDialog::reject);
    const auto showPreview = [&o, list](int index) {
        list->clear();
        list->addItems(o.previews.value(index));
    };
    QObject::connect(combo, &QComboBox::currentIndexChanged, list, showPreview);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(&d);
    layout->addWidget(prompt);
    layout->addWidget(combo);
    layout->addWidget(caption);
    layout->addWidget(list);
    layout->addLayout(buttons);
    combo->setCurrentIndex(qBound(0, o.current, int(o.items.size()) - 1));
    showPreview(combo->currentIndex());
    d.resize(480, 360);
    if (d.exec() != QDialog::Accepted || combo->currentIndex() < 0) return std::nullopt;
    return combo->currentIndex();
}

} // namespace ui
