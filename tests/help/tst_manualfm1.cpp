// The user guide viewer and the guide that ships beside the program.
#include "app/mainfm1.h"
#include "core/appstate.h"
#include "help/manualfm1.h"
#include "tests/support/testsupport.h"
#include "ui/scripteddialogs.h"
#include "ui/toolkit.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStringDecoder>
#include <QTextEdit>

using testsupport::child;

namespace {

QString shippedGuide() {
    return testsupport::programDir() + QStringLiteral("/用户指南.txt");
}

QString readUtf8(const QString& path, bool* valid) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *valid = false;
        return {};
    }
    QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = d.decode(f.readAll());
    *valid = !d.hasError();
    return text;
}

} // namespace

class TestManualFm1 : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> base_;
    QString programDir_;

    void closeViewer() {
        if (help::manualFm1* v = help::manualFm1::instance()) {
            v->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

private slots:
    void init() {
        core::resetAppState();
        base_ = std::make_unique<QTemporaryDir>();
        // A program directory with blanks and Chinese characters.
        programDir_ = base_->filePath(QStringLiteral("客户 查重/程序 目录"));
        QVERIFY(QDir().mkpath(programDir_));
        core::appState().AppDir = programDir_;
    }

    void cleanup() {
        closeViewer();
        QVERIFY(!help::manualFm1::instance());
        core::resetAppState();
        base_.reset();
    }

    void guideShipsBesideTheProgram() {
        bool valid = false;
        const QString text = readUtf8(shippedGuide(), &valid);
        QVERIFY2(valid, "用户指南.txt is missing or not UTF-8");
        QVERIFY(text.size() > 2000);
        // It explains every command of the main window under the caption the user sees.
        core::resetAppState();
        app::mainFm1 w;
        QStringList captions;
        for (QAction* a : w.menuBar()->actions()) {
            if (QMenu* m = a->menu())
                for (QAction* sub : m->actions())
                    captions << sub->text();
            captions << a->text();
        }
        captions << child<QPushButton>(&w, "Command3")->text()
                 << child<QRadioButton>(&w, "Option1")->text()
                 << child<QRadioButton>(&w, "Option2")->text()
                 << child<QRadioButton>(&w, "Option4")->text()
                 << child<QRadioButton>(&w, "Option5")->text()
                 << child<QLabel>(&w, "Label1")->text() << child<QLabel>(&w, "Label2")->text();
        for (const QString& c : captions)
            QVERIFY2(text.contains(c),
                     qPrintable(QStringLiteral("the guide does not mention ") + c));
        // The warnings and places a user needs.
        for (const char* must : {"查重备份", "MorlayBankCC.mdb", "分离", "数据合并", "导出", "GO",
                                 "批量删除", "保存修改", "取消修改", "单个删除"})
            QVERIFY2(text.contains(QString::fromUtf8(must)), must);
    }

    void showsTheGuideReadOnly() {
        QVERIFY(QFile::copy(shippedGuide(), programDir_ + QStringLiteral("/用户指南.txt")));
        ui::ScriptedDialogs dialogs;
        QVERIFY(help::manualFm1::showGuide());
        help::manualFm1* v = help::manualFm1::instance();
        QVERIFY(v);
        QVERIFY(v->isVisible());
        QCOMPARE(v->windowTitle(), QStringLiteral("帮助"));
        QCOMPARE(child<QGroupBox>(v, "Frame1")->title(), QStringLiteral("操作说明"));
        QCOMPARE(child<QGroupBox>(v, "Frame1")->objectName(), QStringLiteral("Frame1"));
        QCOMPARE(child<QTextEdit>(v, "RichTextBox1")->objectName(), QStringLiteral("RichTextBox1"));
        QCOMPARE(child<QPushButton>(v, "Command1")->text(), QStringLiteral("返回"));
        QVERIFY(child<QTextEdit>(v, "RichTextBox1")->isReadOnly());
        bool valid = false;
        QCOMPARE(child<QTextEdit>(v, "RichTextBox1")->toPlainText(),
                 readUtf8(shippedGuide(), &valid));
        // Typing changes nothing.
        child<QTextEdit>(v, "RichTextBox1")->setFocus();
        QTest::keyClicks(child<QTextEdit>(v, "RichTextBox1"), QStringLiteral("abc"));
        QCOMPARE(child<QTextEdit>(v, "RichTextBox1")->toPlainText(),
                 readUtf8(shippedGuide(), &valid));
        // Centred on the screen.
        QCOMPARE(v->pos(), ui::centredTopLeft(v->screen()->geometry(), v->size()));
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    }

    void returnClosesAndASecondOpenReusesTheWindow() {
        QVERIFY(QFile::copy(shippedGuide(), programDir_ + QStringLiteral("/用户指南.txt")));
        ui::ScriptedDialogs dialogs;
        QVERIFY(help::manualFm1::showGuide());
        help::manualFm1* first = help::manualFm1::instance();
        QVERIFY(help::manualFm1::showGuide());
        QCOMPARE(help::manualFm1::instance(), first);
        child<QPushButton>(first, "Command1")->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!help::manualFm1::instance());
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    }

    void missingGuide() {
        ui::ScriptedDialogs dialogs;
        dialogs.expectMessageContaining(
            QDir::toNativeSeparators(programDir_ + QStringLiteral("/用户指南.txt")));
        QVERIFY(!help::manualFm1::showGuide());
        QVERIFY(!help::manualFm1::instance());
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
        QVERIFY(dialogs.shown().first().text.contains(QStringLiteral("找不到用户指南文件")));
    }

    void unreadableGuide() {
        // A folder where the guide should be.
        QVERIFY(QDir(programDir_).mkdir(QStringLiteral("用户指南.txt")));
        ui::ScriptedDialogs dialogs;
        dialogs.expectMessageContaining(QStringLiteral("用户指南文件"));
        QVERIFY(!help::manualFm1::showGuide());
        QVERIFY(!help::manualFm1::instance());
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    }

    void guideSavedInOtherEncodings() {
        const QString text = QStringLiteral("客户资料查重系统\n第一行：打开DBF数据\n");
        const QString path = programDir_ + QStringLiteral("/用户指南.txt");
        ui::ScriptedDialogs dialogs;
        {
            // GB18030, as a Chinese editor may save it.
            QStringEncoder gb("GB18030");
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(gb.encode(text));
        }
        help::manualFm1 a;
        QVERIFY(a.load());
        QCOMPARE(child<QTextEdit>(&a, "RichTextBox1")->toPlainText(), text);
        {
            // UTF-8 with a byte-order mark.
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("\xEF\xBB\xBF" + text.toUtf8());
        }
        help::manualFm1 b;
        QVERIFY(b.load());
        QCOMPARE(child<QTextEdit>(&b, "RichTextBox1")->toPlainText(), text);
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    }
};

CHACHONG_TEST_MAIN(TestManualFm1)
#include "tst_manualfm1.moc"
