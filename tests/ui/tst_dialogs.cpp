// The dialog service: the scripted fake the window tests rely on, the filter lists, and the Qt
// boxes themselves (answers, Chinese standard buttons, CR LF texts, file dialog settings).
#include "tests/support/testsupport.h"
#include "ui/dialogs.h"
#include "ui/qtdialogs.h"
#include "ui/scripteddialogs.h"
#include "ui/toolkit.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>

using ui::Answer;
using ui::Buttons;
using ui::Icon;

namespace {

// Runs action on the next modal dialog that appears (the box under test blocks in exec()). A
// dialog the action did not close within ten seconds is rejected, so a test that goes wrong
// fails instead of waiting forever.
void onNextModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, action, tries] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && ++*tries < 6000) return;
        timer->stop();
        timer->deleteLater();
        if (!modal) return;
        QPointer<QDialog> dialog = qobject_cast<QDialog*>(modal);
        action(modal);
        QTimer::singleShot(10000, [dialog] {
            if (dialog && dialog->isVisible()) dialog->reject();
        });
    });
    timer->start();
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(ui::installChineseTranslations(*qApp), "qtbase_zh_CN.qm is not installed");
    }

    // --- the scripted fake

    void scriptedAnswersInOrder() {
        ui::ScriptedDialogs d;
        d.expectMessage(QStringLiteral("第一"), Answer::Ok)
            .expectMessage(QStringLiteral("第二"), Answer::Cancel)
            .expectOpenFile(QStringLiteral("/tmp/客户 资料/客户表.dbf"))
            .expectInput(QStringLiteral("Sheet1"))
            .expectSaveFile(std::nullopt);
        QCOMPARE(ui::dialogs().message(QStringLiteral("第一"), QStringLiteral("信息提示"),
                                       Icon::Information, Buttons::Ok),
                 Answer::Ok);
        QVERIFY(!ui::confirm(QStringLiteral("第二")));
        const auto file = ui::dialogs().openFile({});
        QVERIFY(file.has_value());
        QCOMPARE(file->path, QStringLiteral("/tmp/客户 资料/客户表.dbf"));
        QCOMPARE(file->fileTitle, QStringLiteral("客户表.dbf"));
        QCOMPARE(ui::dialogs().input(QStringLiteral("请给导出到XLS文件的表名"), QString(), {}),
                 std::optional<QString>(QStringLiteral("Sheet1")));
        QVERIFY(!ui::dialogs().saveFile({}).has_value());
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(d.messageTexts(), (QStringList{QStringLiteral("第一"), QStringLiteral("第二")}));
        QCOMPARE(d.shown().at(1).icon, Icon::Question);
        QCOMPARE(d.shown().at(1).buttons, Buttons::OkCancel);
    }

    void unexpectedBoxIsReportedAndAnsweredCautiously() {
        ui::ScriptedDialogs d;
        // Nothing scripted: a confirmation gets Cancel, so the command under test stops.
        QVERIFY(!ui::confirm(QStringLiteral("确实要删除该记录吗？")));
        QCOMPARE(d.unexpected().size(), 1);
        QVERIFY(d.problems().contains(QStringLiteral("确实要删除该记录吗？")));
        QVERIFY(!ui::dialogs().openFile({}).has_value());
        QVERIFY(!ui::dialogs().input(QStringLiteral("?"), QString(), {}).has_value());
        QCOMPARE(d.unexpected().size(), 3);
    }

    void mismatchedTextTitleOrKindIsReported() {
        {
            ui::ScriptedDialogs d;
            d.expectMessage(QStringLiteral("请打开数据库！"));
            ui::inform(QStringLiteral("请重新打开数据库！"));
            QVERIFY(!d.problems().isEmpty());
            QCOMPARE(d.pendingCount(), 1); // the expected box is still owed
        }
        {
            ui::ScriptedDialogs d;
            d.expectMessage(QStringLiteral("重名，请重新命名！"));
            ui::inform(QStringLiteral("重名，请重新命名！"), QStringLiteral("提示信息"));
            QVERIFY(!d.problems().isEmpty());
        }
        {
            ui::ScriptedDialogs d;
            d.expectInput(QStringLiteral("x"));
            ui::inform(QStringLiteral("OK"), QStringLiteral("导出成功"));
            QVERIFY(!d.problems().isEmpty());
        }
        {
            ui::ScriptedDialogs d;
            d.expectMessageContaining(QStringLiteral("MorlayBankCC.mdb"));
            ui::inform(QStringLiteral("找不到工作数据库文件：/a b/MorlayBankCC.mdb"));
            QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        }
    }

    void scriptedBoxNeverShownIsReported() {
        ui::ScriptedDialogs d;
        d.expectMessage(QStringLiteral("无重复数据！"));
        QVERIFY(d.problems().contains(QStringLiteral("无重复数据！")));
    }

    void fakeRestoresPreviousService() {
        ui::DialogService* before = &ui::dialogs();
        {
            ui::ScriptedDialogs outer;
            QCOMPARE(&ui::dialogs(), static_cast<ui::DialogService*>(&outer));
            {
                ui::ScriptedDialogs inner;
                QCOMPARE(&ui::dialogs(), static_cast<ui::DialogService*>(&inner));
            }
            QCOMPARE(&ui::dialogs(), static_cast<ui::DialogService*>(&outer));
        }
        QCOMPARE(&ui::dialogs(), before);
    }

    // --- filter lists

    void filterLists() {
        const auto entries = ui::parseFilter(QStringLiteral("所有文件|*.*|dbf文件|*.dbf"));
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries.at(1).description, QStringLiteral("dbf文件"));
        QCOMPARE(entries.at(1).patterns, QStringList{QStringLiteral("*.dbf")});
        QCOMPARE(ui::qtNameFilters(QStringLiteral("所有文件(*.*)|*.*|数据库文件(*.MDB)|*.mdb")),
                 (QStringList{QStringLiteral("所有文件(*.*) (*)"),
                              QStringLiteral("数据库文件(*.MDB) (*.mdb)")}));
        QCOMPARE(ui::qtNameFilters(QStringLiteral("Excel (*.XLS)|*.XLS")),
                 QStringList{QStringLiteral("Excel (*.XLS) (*.XLS)")});
        // Several globs, blanks around them, a dangling description.
        const auto multi = ui::parseFilter(QStringLiteral("表格| *.xls ; *.xlsx |孤立"));
        QCOMPARE(multi.size(), 1);
        QCOMPARE(multi.at(0).patterns,
                 (QStringList{QStringLiteral("*.xls"), QStringLiteral("*.xlsx")}));
        QVERIFY(ui::parseFilter(QString()).isEmpty());
    }

    // --- the Qt boxes

    void standardButtonsAreChinese() {
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    }

    void qtMessageBoxAnswers_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("press"); // a standard button, or 0 for Escape
        QTest::addColumn<int>("expected");
        QTest::newRow("ok") << int(Buttons::OkCancel) << int(QMessageBox::Ok) << int(Answer::Ok);
        QTest::newRow("cancel") << int(Buttons::OkCancel) << int(QMessageBox::Cancel)
                                << int(Answer::Cancel);
        QTest::newRow("escape on OK/Cancel") << int(Buttons::OkCancel) << 0 << int(Answer::Cancel);
        QTest::newRow("escape on OK only") << int(Buttons::Ok) << 0 << int(Answer::Ok);
        QTest::newRow("no") << int(Buttons::YesNo) << int(QMessageBox::No) << int(Answer::No);
    }

    void qtMessageBoxAnswers() {
        QFETCH(int, buttons);
        QFETCH(int, press);
        QFETCH(int, expected);
        QString seenTitle;
        onNextModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) return;
            seenTitle = box->windowTitle();
            if (press == 0)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(QMessageBox::StandardButton(press))->click();
        });
        ui::QtDialogs qt;
        const Answer a = qt.message(QStringLiteral("确实要退出该系统吗？"),
                                    QStringLiteral("信息提示"), Icon::Question, Buttons(buttons));
        QCOMPARE(int(a), expected);
        QCOMPARE(seenTitle, QStringLiteral("信息提示"));
    }

    void qtMessageBoxShowsLinesAndPlainText() {
        QString shown;
        Qt::TextFormat format = Qt::AutoText;
        onNextModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) return;
            shown = box->text();
            format = box->textFormat();
            box->button(QMessageBox::Ok)->click();
        });
        ui::QtDialogs qt;
        qt.message(QStringLiteral("提示：\r\n<b>O'Brien</b>"), QStringLiteral("信息提示"),
                   Icon::Information, Buttons::Ok);
        QCOMPARE(shown, QStringLiteral("提示：\n<b>O'Brien</b>"));
        QCOMPARE(format, Qt::PlainText);
    }

    void qtOpenDialogSettingsAndChoice() {
        QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/选择 目标XXXXXX"));
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("客户表.dbf"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
        }
        QFileDialog* seen = nullptr;
        QStringList filters;
        QString selectedFilter, suffix, title;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        onNextModal([&](QWidget* w) {
            seen = qobject_cast<QFileDialog*>(w);
            if (!seen) return;
            filters = seen->nameFilters();
            selectedFilter = seen->selectedNameFilter();
            suffix = seen->defaultSuffix();
            title = seen->windowTitle();
            mode = seen->fileMode();
            // The name typed into the dialog's file-name box, then "打开" (QFileDialog::accept).
            // Typing does not depend on the dialog's folder listing, which fills in on a thread
            // of its own: choosing the file from the list raced with it on a busy machine.
            auto* nameBox = seen->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(nameBox);
            nameBox->setText(QFileInfo(file).fileName());
            static_cast<QDialog*>(seen)->accept();
        });
        ui::QtDialogs qt;
        ui::FileDialogOptions o;
        o.title = QStringLiteral("选择目标文件");
        o.filter = QStringLiteral("所有文件|*.*|dbf文件|*.dbf");
        o.filterIndex = 2;
        o.defaultExtension = QStringLiteral("dbf");
        o.directory = dir.path();
        const auto choice = qt.openFile(o);
        QVERIFY(seen);
        QCOMPARE(title, QStringLiteral("选择目标文件"));
        QCOMPARE(filters.size(), 2);
        QCOMPARE(selectedFilter, QStringLiteral("dbf文件 (*.dbf)"));
        QCOMPARE(suffix, QStringLiteral("dbf"));
        QCOMPARE(mode, QFileDialog::ExistingFile);
        QVERIFY(choice.has_value());
        QCOMPARE(QFileInfo(choice->path).canonicalFilePath(), QFileInfo(file).canonicalFilePath());
        QCOMPARE(choice->fileTitle, QStringLiteral("客户表.dbf"));
    }

    void qtDialogsReportCancel() {
        ui::QtDialogs qt;
        onNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QVERIFY(!qt.openFile({}).has_value());
        onNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QVERIFY(!qt.saveFile({}).has_value());
        onNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QVERIFY(!qt.input(QStringLiteral("请给导出到XLS文件的表名"), QStringLiteral("信息提示"), {})
                     .has_value());
        onNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QVERIFY(!qt.choose({QStringLiteral("选择代码页"), {}, {"a", "b"}, 1, {}, {}}).has_value());
    }

    // The choice box: the entry proposed is selected, the preview follows the selection, 确定
    // gives the entry chosen.
    void qtChoiceBoxShowsPreviewAndReturnsChoice() {
        QStringList seen;
        onNextModal([&seen](QWidget* w) {
            auto* combo = w->findChild<QComboBox*>("Combo1");
            auto* list = w->findChild<QListWidget*>("List1");
            if (w->objectName() != "ChoiceBox" || !combo || !list) return;
            const auto lines = [list] {
                QStringList out;
                for (int i = 0; i < list->count(); ++i)
                    out << list->item(i)->text();
                return out.join('|');
            };
            seen << combo->currentText() + ":" + lines();
            combo->setCurrentIndex(0);
            seen << combo->currentText() + ":" + lines();
            w->findChild<QPushButton*>("Command1")->click();
        });
        ui::QtDialogs qt;
        const ui::ChoiceOptions o{QStringLiteral("选择代码页"),
                                  QStringLiteral("请选择："),
                                  {QStringLiteral("GBK"), QStringLiteral("Big5")},
                                  1,
                                  QStringLiteral("读出的值："),
                                  {{QStringLiteral("羉砰")}, {QStringLiteral("繁體"), "x"}}};
        QCOMPARE(qt.choose(o), std::optional<int>(0));
        QCOMPARE(seen, (QStringList{"Big5:繁體|x", "GBK:羉砰"}));
    }

    void qtInputBoxReturnsText() {
        onNextModal([](QWidget* w) {
            auto* d = qobject_cast<QInputDialog*>(w);
            if (!d) return;
            d->setTextValue(QStringLiteral("重复数据 1"));
            d->accept();
        });
        ui::QtDialogs qt;
        QCOMPARE(qt.input(QStringLiteral("请给导出到XLS文件的表名"), QStringLiteral("信息提示"),
                          QString()),
                 std::optional<QString>(QStringLiteral("重复数据 1")));
    }
};

CHACHONG_TEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
