#include "import/mainfm5.h"

#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "db/criteria.h"
#include "db/sqltext.h"
#include "ui/dialogs.h"
#include "ui/toolkit.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <sqlite3.h>

namespace sources {

namespace {
const QString importedTable = QStringLiteral("ClienttableELS");
}

ImportResult importRows(app::AppState& st, const std::function<void(int, int)>& progress) {
    ImportResult r;
    const db::RecordsetPtr source = st.RsSource; // kept alive for the whole copy
    if (!app::isOpen(source)) return r;
    r.sourceOpen = true;
    r.total = source->recordCount();

    db::Recordset target;
    if (!target.open(db::sql::selectAll(importedTable), st.WorkConn)) {
        r.failed = r.total;
        r.error = target.errorString();
        return r;
    }
    const int columns = std::min(target.fieldCount(), source->fieldCount());
    std::vector<int> widths;
    QStringList names, marks;
    for (int i = 0; i < columns; ++i) {
        widths.push_back(target.definedSize(i));
        names << db::sql::ident(target.fieldName(i));
        marks << QStringLiteral("?");
    }
    target.close();
    if (columns == 0) {
        r.failed = r.total;
        r.error = QStringLiteral("导入数据表没有字段");
        return r;
    }
    const QByteArray sql =
        (QStringLiteral("INSERT INTO ") + db::sql::ident(importedTable) + QStringLiteral(" (") +
         names.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
         marks.join(QStringLiteral(", ")) + QStringLiteral(")"))
            .toUtf8();
    sqlite3* h = st.WorkConn.handle();
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(h, sql.constData(), -1, &insert, nullptr) != SQLITE_OK) {
        r.failed = r.total;
        r.error = QString::fromUtf8(sqlite3_errmsg(h));
        return r;
    }
    const bool ownTransaction = !st.WorkConn.inTransaction() && st.WorkConn.beginTransaction();
    // A cursor of its own over the source's rows, so the grid's current row stays where it is.
    const db::RecordsetPtr rows = source->clone();
    rows->moveFirst();
    for (int row = 0; row < r.total && !rows->isEof(); ++row, rows->moveNext()) {
        for (int i = 0; i < columns; ++i) {
            // The first D characters of the value, then blanks trimmed: the program's one
            // trimming rule (spaces only; line breaks inside a value are data). A null value
            // is imported as an empty text, as before.
            QStringView text = rows->valueView(i);
            if (widths[size_t(i)] > 0)
                text.truncate(std::min<qsizetype>(text.size(), widths[size_t(i)]));
            text = db::trimBlanks(text);
            sqlite3_bind_text16(insert, i + 1, text.isNull() ? u"" : text.utf16(),
                                int(text.size() * 2), SQLITE_TRANSIENT);
        }
        if (sqlite3_step(insert) == SQLITE_DONE) {
            ++r.copied;
        } else {
            ++r.failed;
            if (r.error.isEmpty()) r.error = QString::fromUtf8(sqlite3_errmsg(h));
        }
        sqlite3_reset(insert);
        sqlite3_clear_bindings(insert);
        if (progress) progress(row + 1, r.total);
    }
    sqlite3_finalize(insert);
    if (ownTransaction && !st.WorkConn.commit()) {
        st.WorkConn.rollback();
        r.failed = r.total;
        r.copied = 0;
        if (r.error.isEmpty()) r.error = st.WorkConn.errorString();
    }
    return r;
}

bool finishImport(app::AppState& st, ImportResult& result) {
    result.reopened = false;
    if (!result.sourceOpen) return false;
    auto rs = std::make_shared<db::Recordset>();
    rs->setCursorLocation(db::CursorLocation::Client);
    const bool opened = rs->open(db::sql::selectAll(importedTable), st.WorkConn);
    st.RsSource = opened ? rs : nullptr;
    if (app::mainFm1* w = app::mainForm()) {
        w->bindGrid(st.RsSource);
        w->showRecordCounters();
        w->fillFieldList();
    }
    if (!opened) {
        if (result.error.isEmpty()) result.error = rs->errorString();
        ui::inform(QStringLiteral("导入的数据无法打开：\n%1").arg(rs->errorString()),
                   ui::defaultTitle(), ui::Icon::Critical);
        return false;
    }
    if (result.failed == 0 && result.copied == result.total) {
        result.reopened = true;
        ui::inform(QStringLiteral("Ok"), QStringLiteral("导入数据成功"));
        return true;
    }
    ui::inform(QStringLiteral("共 %1 行数据，已导入 %2 行，有 %3 行未能导入。\n%4")
                   .arg(result.total)
                   .arg(result.copied)
                   .arg(result.failed)
                   .arg(result.error),
               ui::defaultTitle(), ui::Icon::Warning);
    return false;
}

mainFm5::mainFm5(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("mainFm5"));
    setWindowTitle(QStringLiteral("正在导入数据"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Nothing else may change the source while its rows are copied.
    setWindowModality(Qt::ApplicationModal);
    auto* v = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("请稍等..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    v->addWidget(Label1);
    v->addWidget(ProgressBar1);
    v->addWidget(Text1);
    resize(360, 130);
}

mainFm5* mainFm5::showImport() {
    auto* window = new mainFm5;
    window->show();
    return window;
}

void mainFm5::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (started_) return;
    started_ = true;
    ui::centreOnScreen(this);
    QTimer::singleShot(0, this, &mainFm5::activate);
}

void mainFm5::closeEvent(QCloseEvent* event) {
    if (running_) {
        event->ignore(); // the copy finishes first
        return;
    }
    QWidget::closeEvent(event);
}

void mainFm5::activate() {
    if (running_) return;
    running_ = true;
    Text1->clear();
    app::AppState& st = app::appState();
    {
        ui::WaitCursor wait;
        result_ = importRows(st, [this](int done, int total) {
            if (!ui::yieldEvents()) return;
            ProgressBar1->setValue(total > 0 ? int(qint64(done) * 100 / total) : 100);
            Text1->setText(QString::number(done));
        });
    }
    ProgressBar1->setValue(100);
    Text1->setText(QString::number(result_.copied));
    running_ = false;
    finishImport(st, result_);
    emit finished();
    close();
}

} // namespace sources
