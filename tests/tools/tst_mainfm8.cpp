// The batch delete window: its controls, the field lists and their four buttons, the question,
// the progress panel while the delete runs and at its end, "批量删除结束！" and closing; closing
// during the delete asks whether to stop and then deletes nothing.
#include "core/appstate.h"
#include "tests/support/checkfixture.h"
#include "tests/support/testsupport.h"
#include "tools/mainfm8.h"
#include "ui/scripteddialogs.h"

#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

using testsupport::child;
using testsupport::tableRows;

namespace {

QStringList itemsOf(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// The scripted answers, and what the window showed when each box came up.
struct Watching : ui::ScriptedDialogs {
    QPointer<QWidget> window;
    QStringList seen; // per box: title | Label3 | Label4 | bar | panel shown
    ui::Answer message(const QString& text, const QString& title, ui::Icon icon,
                       ui::Buttons buttons) override {
        if (window)
            seen << QStringList{window->windowTitle(), child<QLabel>(window, "Label3")->text(),
                                child<QLabel>(window, "Label4")->text(),
                                QString::number(
                                    child<QProgressBar>(window, "ProgressBar1")->value()),
                                child<QFrame>(window, "Frame2")->isVisible() ? "shown" : "hidden"}
                        .join(" | ");
        return ScriptedDialogs::message(text, title, icon, buttons);
    }
};

} // namespace

class TestMainFm8 : public QObject {
    Q_OBJECT
    testsupport::CheckFixture f;
    core::AppState& st = core::appState();
    Watching dialogs_;
    QPointer<tools::mainFm8> w_;

    // ClienttableCC (No, 姓名, 电话, 地址, running number) holding rows of 姓名, 电话, 地址.
    void duplicates(const QList<QStringList>& rows) {
        QVERIFY(f.loadDuplicates({"姓名", "电话", "地址"}, rows));
    }
    QStringList addresses() { return testsupport::tableColumn(st.WorkConn, "ClienttableCC", 3); }
    QListWidget* list(const char* name) { return child<QListWidget>(w_, name); }
    void click(const char* name) { child<QPushButton>(w_, name)->click(); }
    void pick(const QStringList& fields) {
        for (const QString& field : fields) {
            list("List1")->clearSelection();
            list("List1")->findItems(field, Qt::MatchExactly).first()->setSelected(true);
            click("Command1(0)");
        }
    }
    void open() {
        w_ = tools::mainFm8::showBatchDelete();
        dialogs_.window = w_;
    }

private slots:
    void init() {
        dialogs_.clear();
        dialogs_.seen.clear();
    }
    void cleanup() {
        if (w_) w_->close();
        QTRY_VERIFY(w_.isNull());
        QVERIFY2(dialogs_.problems().isEmpty(), qPrintable(dialogs_.problems()));
    }

    void controlsAsTheyOpen() {
        duplicates({{"张三", "1", "a"}});
        open();
        QCOMPARE(w_->windowTitle(), QString("删除相同内容字段名选择"));
        const QList<std::pair<const char*, const char*>> captions = {
            {"Label1", "数据库字段名"},
            {"Label2", "已选字段名"},
            {"Label3", "正在删除记录，请等待..."},
            {"Label4", "已删除了50%"}};
        for (const auto& [name, caption] : captions)
            QCOMPARE(child<QLabel>(w_, name)->text(), QString(caption));
        const QList<std::pair<const char*, const char*>> buttons = {
            {"Command1(0)", ">"},  {"Command1(1)", ">>"}, {"Command1(2)", "<"},
            {"Command1(3)", "<<"}, {"Command2", "确认"},  {"Command3", "返回"}};
        for (const auto& [name, caption] : buttons)
            QCOMPARE(child<QPushButton>(w_, name)->text(), QString(caption));
        QVERIFY(child<QFrame>(w_, "Frame2")->isHidden());
        QCOMPARE(child<QProgressBar>(w_, "ProgressBar1")->maximum(), 100);
        // Neither No nor the running number is offered.
        QCOMPARE(itemsOf(list("List1")), QStringList({"姓名", "电话", "地址"}));
        QVERIFY(itemsOf(list("List2")).isEmpty());
        // Opening it again brings the same window forward.
        QCOMPARE(tools::mainFm8::showBatchDelete(), w_.data());
    }

    void movingFields() {
        duplicates({{"张三", "1", "a"}});
        open();
        click("Command1(0)"); // nothing selected: nothing moves
        QCOMPARE(itemsOf(list("List1")), QStringList({"姓名", "电话", "地址"}));
        pick({"地址", "姓名"});
        QCOMPARE(itemsOf(list("List2")), QStringList({"地址", "姓名"}));
        QCOMPARE(itemsOf(list("List1")), QStringList({"电话"}));
        click("Command1(1)");
        QCOMPARE(itemsOf(list("List2")), QStringList({"地址", "姓名", "电话"}));
        QVERIFY(itemsOf(list("List1")).isEmpty());
        click("Command1(1)"); // an empty list moves nothing
        QCOMPARE(itemsOf(list("List2")), QStringList({"地址", "姓名", "电话"}));
        list("List2")->item(1)->setSelected(true);
        click("Command1(2)");
        QCOMPARE(itemsOf(list("List1")), QStringList({"姓名"}));
        QCOMPARE(itemsOf(list("List2")), QStringList({"地址", "电话"}));
        // "<<": back to what opening offers.
        click("Command1(3)");
        QCOMPARE(itemsOf(list("List1")), QStringList({"姓名", "电话", "地址"}));
        QVERIFY(itemsOf(list("List2")).isEmpty());
    }

    void confirmNeedsAFieldAndAnOk() {
        duplicates({{"张三", "1", "a"}, {"张三", "1", "b"}});
        open();
        click("Command2"); // no field picked: no question, nothing deleted
        pick({"姓名"});
        dialogs_.expectMessage("确认要删除这些记录？", ui::Answer::Cancel);
        click("Command2");
        QCOMPARE(addresses(), QStringList({"a", "b"}));
        QVERIFY(child<QFrame>(w_, "Frame2")->isHidden());
        QCOMPARE(w_->windowTitle(), QString("删除相同内容字段名选择"));
    }

    void deleteShowsItsEndAndCloses() {
        duplicates(
            {{"张三", "1", "a"}, {"张三", "2", "b"}, {"张三", "1", "c"}, {"李四", "1", "d"}});
        open();
        pick({"姓名", "电话"});
        QSignalSpy running(w_.data(), &tools::mainFm8::runningChanged);
        dialogs_.expectMessage("确认要删除这些记录？", ui::Answer::Ok)
            .expectMessage("批量删除结束！");
        click("Command2");
        QCOMPARE(addresses(), QStringList({"a", "b", "d"}));
        QCOMPARE(dialogs_.seen.size(), 2);
        QCOMPARE(dialogs_.seen.at(1),
                 QString("批量删除 | 批量删除结束 | 已进行了100% | 100 | shown"));
        QCOMPARE(running.size(), 2);
        QCOMPARE(running.at(0).at(0).toBool(), true);
        QCOMPARE(running.at(1).at(0).toBool(), false);
        QTRY_VERIFY(w_.isNull()); // it closed itself
    }

    void unsavedEditsAreSaidBeforeTheQuestion() {
        duplicates({{"张三", "1", "a"}, {"张三", "1", "b"}});
        QVERIFY(st.RsDup->setValue(3, QString("改")));
        QVERIFY(st.RsDup->update());
        open();
        pick({"姓名"});
        dialogs_.expectMessage("重复数据有未保存的修改，请先“保存修改”或“取消修改”，再批量删除。");
        click("Command2");
        QCOMPARE(addresses(), QStringList({"a", "b"}));
    }

    void closingWhileItRunsAsksAndStops() {
        QList<QStringList> rows;
        for (int i = 0; i < 3000; ++i)
            rows << QStringList{QString("客户%1").arg(i % 1000), "1", QString::number(i)};
        duplicates(rows);
        open();
        pick({"姓名"});
        dialogs_.expectMessage("确认要删除这些记录？", ui::Answer::Ok)
            .expectMessage("是否停止批量删除？", ui::Answer::Ok)
            .expectMessage("批量删除已停止，没有删除任何记录。");
        bool wasRunning = false, stillOpen = false;
        // At the delete's first look at the event loop the user closes the window.
        QTimer::singleShot(0, w_, [&] {
            wasRunning = w_->isRunning();
            w_->close();
            stillOpen = !w_.isNull() && w_->isVisible();
        });
        click("Command2");
        QVERIFY(wasRunning);
        QVERIFY(stillOpen); // it closes when the delete has stopped
        QTRY_VERIFY(w_.isNull());
        QCOMPARE(tableRows(st.WorkConn, "ClienttableCC").size(), 3000);
        QCOMPARE(st.RsDup->recordCount(), 3000);
    }
};

CHACHONG_TEST_MAIN(TestMainFm8)
#include "tst_mainfm8.moc"
