#include "check/exactcheck.h"

#include "check/separation.h"
#include "db/criteria.h"
#include "db/sqltext.h"
#include "ui/dialogs.h"

namespace check {

namespace {

// The number at the start of a text box's text, as the windows read positions.
int leadingNumber(const QString& text, bool* ok) {
    const QString t = text.trimmed();
    int i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) ++i;
    while (i < t.size() && t[i].isDigit())
        ++i;
    return t.left(i).toInt(ok);
}

} // namespace

bool backupDuplicates(app::AppState& state, QString* error) {
    state.WorkConn.execute(db::sql::dropTable(QStringLiteral("ClienttableDD")));
    const bool ok = app::runStatement(
        state.RsWork, QStringLiteral("Select * Into ClienttableDD From ClienttableCC"),
        state.WorkConn, error);
    return ok;
}

ExactCheckResult ExactCheck::wholeCheck(const QString& startText, const QString& endText) {
    ExactCheckResult result;
    check1(startText, endText, &result);
    QString error;
    if (!backupDuplicates(state_, &error) && result.error.isEmpty()) result.error = error;
    return result;
}

void ExactCheck::check1(const QString& startText, const QString& endText,
                        ExactCheckResult* result) {
    app::AppState& st = state_;
    db::RecordsetPtr src = st.RsSource;
    db::RecordsetPtr dup = st.RsDup;
    auto stop = [&](const QString& message) {
        result->error = message;
        sink_.setBusy(false);
        ui::inform(message);
        sink_.showMainWindow();
        sink_.closeRunWindow();
    };
    sink_.setBusy(true);
    if (!app::isOpen(src)) return stop(QStringLiteral("请打开数据库！"));
    if (!app::isOpen(dup)) return stop(QStringLiteral("重复数据表没有打开，无法查重。"));

    // The look-up recordset: a second cursor over the check table's rows.
    st.RsPostcode = src->clone();
    db::RecordsetPtr lookup = st.RsPostcode;

    const int count = std::clamp<int>(st.CheckFieldCount, 1, 5);
    // ClienttableCC: No, the source's columns (as many as it holds), the running number. Its
    // column k + 1 holds field k of the check table, whatever name it carries there.
    const int dupFields = dup->fieldCount();
    std::vector<int> srcCols;
    QStringList names;
    QStringList dupNames;
    for (int k = 0; k < count; ++k) {
        const QString name = db::trimBlanks(st.CheckFields[k]);
        const int s = src->fieldIndex(name);
        if (s < 0 || s + 1 >= dupFields - 1)
            return stop(
                QStringLiteral("查重字段“%1”不在当前数据表中，请重新选择查重字段。").arg(name));
        names << src->fieldName(s);
        dupNames << dup->fieldName(s + 1);
        srcCols.push_back(s);
    }
    const int copyColumns = std::min(src->fieldCount(), dupFields - 2);
    std::vector<int> sizes(static_cast<size_t>(dupFields));
    for (int c = 0; c < dupFields; ++c)
        sizes[size_t(c)] = dup->definedSize(c);

    sink_.hideMainWindow();
    bool ok = false;
    const int start = leadingNumber(startText, &ok);
    if (ok) src->setAbsolutePosition(start);
    const int end = leadingNumber(endText, &ok);

    int groups = 0;
    dup->suspendNotifications();
    std::vector<QStringView> seed(static_cast<size_t>(count));
    db::Criterion inDup = db::equalsCriterion(dupNames);
    db::Criterion inSource = db::equalsCriterion(names);
    while (ok && !src->isEof() && src->absolutePosition() <= end) {
        for (int k = 0; k < count; ++k)
            seed[size_t(k)] = db::trimBlanks(src->valueView(srcCols[size_t(k)]));
        if (!seed[0].isEmpty()) {
            for (int k = 0; k < count; ++k) {
                db::setEqualsValue(inDup.terms[size_t(k)], seed[size_t(k)]);
                db::setEqualsValue(inSource.terms[size_t(k)], seed[size_t(k)]);
            }
            // Recorded already when ClienttableCC holds a row equal on every check field.
            bool recorded = false;
            if (dup->recordCount() > 0) {
                dup->moveFirst();
                recorded = dup->find(inDup);
            }
            if (!recorded && lookup->setFilter(inSource) && lookup->recordCount() >= 2) {
                ++groups;
                const int members = lookup->recordCount();
                lookup->moveFirst();
                for (int m = 0; m < members && !lookup->isEof(); ++m) {
                    const int running = dup->recordCount() + 1;
                    dup->addNew();
                    dup->setValue(0, m == 0 ? QString::number(groups) : QString());
                    for (int c = 0; c < copyColumns; ++c) {
                        const QVariant v = lookup->value(c);
                        dup->setValue(c + 1,
                                      db::trimBlanks(v.toString().left(sizes[size_t(c) + 1])));
                    }
                    dup->setValue(dupFields - 1, QString::number(running));
                    if (!dup->update()) {
                        result->error = dup->errorString();
                        dup->cancelUpdate();
                    }
                    lookup->moveNext();
                }
            }
        }
        src->moveNext();
        sink_.scanProgress(src->isEof() ? src->recordCount() : src->absolutePosition(), groups);
    }
    // The groups go to the table in one transaction.
    if (!dup->updateBatch()) result->error = dup->errorString();
    dup->resumeNotifications();
    result->ran = true;
    result->groups = groups;
    result->duplicateRows = dup->recordCount();

    if (src->recordCount() > 0) src->moveLast();
    if (dup->recordCount() > 0) dup->moveLast();
    sink_.showScanPosition(QString::number(end));
    const QString srcCounter = positionCounter(src->absolutePosition(), src->recordCount());
    sink_.showCheckTableCounter(srcCounter);
    sink_.showMainCounter(srcCounter);
    sink_.showGroups(groups);
    sink_.showDupCounter(positionCounter(dup->absolutePosition(), dup->recordCount()));
    sink_.setBusy(false);

    if (!result->error.isEmpty()) {
        // The groups could not be written: nothing is separated.
        ui::inform(QStringLiteral("重复数据写入失败，未分离任何记录：\r\n") + result->error);
        sink_.showMainWindow();
        sink_.closeRunWindow();
        return;
    }
    if (dup->recordCount() == 0) {
        ui::inform(QStringLiteral("查重结束，无重复数据！"));
        sink_.showMainWindow();
        sink_.closeRunWindow();
        return;
    }
    ui::inform(QStringLiteral("查重结束"));
    sink_.showSeparationPanel(true);
    const SeparationResult sep = reDelete(st, sink_);
    sink_.showSeparationPanel(false);
    result->separated = sep.separated;
    result->remaining = sep.remaining;
    result->backupPath = sep.backupPath;
    if (!sep.ok) {
        result->error = sep.error;
        ui::inform(sep.error, ui::defaultTitle(), ui::Icon::Warning);
    }
    const QString remaining = QString::number(src->recordCount());
    sink_.showScanPosition(remaining);
    sink_.showCheckTableCounter(remaining);
    sink_.showMainCounter(remaining);

    if (ui::confirm(QStringLiteral("现在开始数据维护吗？"))) {
        result->maintenance = sink_.openMaintenance();
        if (!result->maintenance) sink_.showMainWindow();
        sink_.closeRunWindow();
    } else {
        sink_.closeRunWindow();
        sink_.showMainWindow();
    }
}

} // namespace check
