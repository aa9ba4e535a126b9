#include "help/manualfm1.h"

#include "core/appstate.h"
#include "ui/dialogs.h"
#include "ui/toolkit.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QStringDecoder>
#include <QTextEdit>
#include <QVBoxLayout>

namespace help {

namespace {
QPointer<manualFm1> openViewer;
constexpr qint64 largestGuide = 8 * 1024 * 1024; // a guide is a few pages of text
} // namespace

manualFm1::manualFm1(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("manualFm1"));
    setWindowTitle(QStringLiteral("帮助"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* v = new QVBoxLayout(this);
    Frame1 = new QGroupBox(QStringLiteral("操作说明"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    auto* f = new QVBoxLayout(Frame1);
    RichTextBox1 = new QTextEdit(Frame1);
    RichTextBox1->setObjectName(QStringLiteral("RichTextBox1"));
    RichTextBox1->setReadOnly(true);
    RichTextBox1->setAcceptRichText(false);
    RichTextBox1->setLineWrapMode(QTextEdit::WidgetWidth);
    f->addWidget(RichTextBox1);
    v->addWidget(Frame1, 1);

    auto* buttons = new QHBoxLayout;
    Command1 = new QPushButton(QStringLiteral("返回"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setMinimumWidth(100);
    buttons->addStretch();
    buttons->addWidget(Command1);
    v->addLayout(buttons);

    connect(Command1, &QPushButton::clicked, this, &QWidget::close);
    resize(760, 620);
}

QString manualFm1::guidePath() {
    return core::appState().AppDir + QStringLiteral("/用户指南.txt");
}

QString manualFm1::decode(const QByteArray& bytes) {
    // The guide ships as UTF-8; a copy re-saved by a Chinese editor may be GB18030.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) return text;
    QStringDecoder gb("GB18030", QStringDecoder::Flag::Stateless);
    if (gb.isValid()) {
        text = gb.decode(bytes);
        if (!gb.hasError()) return text;
    }
    return QString::fromUtf8(bytes);
}

bool manualFm1::load() {
    const QString path = guidePath();
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.exists()) {
        ui::inform(QStringLiteral("找不到用户指南文件：\n%1\n\n它应当和本程序放在同一个文件夹中。")
                       .arg(shown),
                   ui::defaultTitle(), ui::Icon::Warning);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        ui::inform(
            QStringLiteral("用户指南文件无法读取：\n%1\n\n%2").arg(shown, file.errorString()),
            ui::defaultTitle(), ui::Icon::Warning);
        return false;
    }
    if (file.size() > largestGuide) {
        ui::inform(QStringLiteral("用户指南文件太大，不像是用户指南：\n%1").arg(shown),
                   ui::defaultTitle(), ui::Icon::Warning);
        return false;
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    RichTextBox1->setPlainText(decode(bytes));
    RichTextBox1->moveCursor(QTextCursor::Start);
    return true;
}

manualFm1* manualFm1::instance() {
    return openViewer.data();
}

bool manualFm1::showGuide() {
    if (manualFm1* open = openViewer.data()) {
        open->show();
        open->raise();
        open->activateWindow();
        return true;
    }
    auto* viewer = new manualFm1;
    ui::centreOnScreen(viewer);
    if (!viewer->load()) {
        delete viewer;
        return false;
    }
    openViewer = viewer;
    viewer->show();
    return true;
}

} // namespace help
