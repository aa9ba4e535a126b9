#include "control/engine/maintain.h"

#include "core/run.h"
#include "db/criteria.h"

namespace control {

QString positionCounter(const db::RecordsetPtr& rs) {
    const int count = core::recordCountOf(rs);
    if (count <= 0) return QStringLiteral("0/0");
    return QString::number(rs->absolutePosition()) + QLatin1Char('/') + QString::number(count);
}

bool moveDuplicate(core::AppState& st, Move move) {
    const db::RecordsetPtr& dup = st.RsDup;
    if (core::recordCountOf(dup) < 1) return false;
    switch (move) {
    case Move::First:
        dup->moveFirst();
        break;
    case Move::Previous:
        dup->movePrevious();
        if (dup->isBof()) dup->moveFirst();
        break;
    case Move::Next:
        dup->moveNext();
        if (dup->isEof()) dup->moveLast();
        break;
    case Move::Last:
        dup->moveLast();
        break;
    }
    return true;
}

bool locateInSource(core::AppState& st) {
    const db::RecordsetPtr& src = st.RsSource;
    const db::RecordsetPtr& dup = st.RsDup;
    if (!core::isOpen(src) || core::recordCountOf(dup) < 1 || dup->absolutePosition() < 1)
        return false;
    if (!src->filter().isEmpty()) src->setFilter(QString());
    const int columns = std::min(src->fieldCount(), dup->fieldCount() - 2);
    if (columns < 1) return false;
    std::vector<QString> wanted;
    for (int c = 0; c < columns; ++c)
        wanted.push_back(dup->text(c + 1));
    int key = src->fieldIndex(st.CheckFields[0]);
    if (key < 0 || key >= columns) key = 0;
    db::Criterion byKey = db::equalsCriterion({src->fieldName(key)});
    db::setEqualsValue(byKey.terms[0], wanted[size_t(key)]);
    src->moveFirst();
    while (!src->isEof() && src->find(byKey)) {
        bool same = true;
        for (int c = 0; c < columns && same; ++c)
            same = db::trimBlanks(src->valueView(c)) == QStringView(wanted[size_t(c)]);
        if (same) return true;
        src->moveNext();
    }
    if (src->recordCount() > 0) src->moveLast();
    return false;
}

Jump jumpToNumber(core::AppState& st, const QString& text) {
    Jump jump;
    jump.typed = db::trimBlanks(text);
    const db::RecordsetPtr& dup = st.RsDup;
    const int number = core::parsePosition(text);
    if (number < 1) return jump;
    const bool onRecord = dup->absolutePosition() > 0;
    const db::Bookmark mark = onRecord ? dup->bookmark() : 0;
    db::Criterion byNumber = db::equalsCriterion({dup->fieldName(0)});
    db::setEqualsValue(byNumber.terms[0], QString::number(number));
    dup->moveFirst();
    if (dup->find(byNumber)) {
        jump.outcome = Jump::Found;
        return jump;
    }
    jump.outcome = Jump::NotFound;
    if (onRecord) dup->setBookmark(mark);
    return jump;
}

core::Status pendingEditRefusal(const core::AppState& st) {
    const db::RecordsetPtr& src = st.RsSource;
    const db::RecordsetPtr& dup = st.RsDup;
    if (!core::isOpen(src) || !core::isOpen(dup)) return {};
    const int columns = std::min(src->fieldCount(), dup->fieldCount() - 2);
    for (const int row : dup->pendingRows())
        for (int c = 0; c < columns; ++c) {
            const QStringView v = dup->viewAt(row, c + 1);
            if (v.isNull()) continue;
            QString why;
            // As the merge will write it: blanks trimmed.
            if (!src->checkValue(c, db::trimBlanks(v).toString(), &why))
                return QStringLiteral("第 %1 条重复记录的字段“%2”不能保存：%3\r\n"
                                      "修改没有保存，请改正后再按“保存修改”。")
                    .arg(row + 1)
                    .arg(src->fieldName(c), why);
        }
    return {};
}

core::Status deleteCurrentDuplicate(core::AppState& st) {
    const db::RecordsetPtr& dup = st.RsDup;
    if (!dup->deleteCurrent()) return core::failure(dup->errorString());
    dup->moveNext();
    const bool hasNext = !dup->isEof();
    const db::Bookmark next = hasNext ? dup->bookmark() : 0;
    // The table read again; edits still pending keep it from being read (they would be lost).
    if (!dup->hasPendingChanges()) dup->requery();
    if (hasNext)
        dup->setBookmark(next);
    else if (dup->recordCount() > 0)
        dup->moveLast();
    return {};
}

} // namespace control
