#include "tests/support/checkfixture.h"

#include "core/workdb.h"
#include "db/sqltext.h"
#include "import/engine/worktables.h"
#include "tests/support/testsupport.h"

#include <QFile>

namespace testsupport {

bool CheckFixture::load(const QStringList& fields, const QList<QStringList>& rows, int width) {
    core::resetAppState();
    core::AppState& st = core::appState();
    const QString dbPath = copyWorkDb(tmp_.path());
    st.AppDir = tmp_.path();
    st.WorkDbPath = dbPath;
    if (!st.WorkConn.open(db::accessConnectionString(dbPath))) return false;
    QStringList defs;
    for (const QString& f : fields)
        defs << db::sql::ident(f) + QStringLiteral(" VARCHAR(%1)").arg(width);
    if (!st.WorkConn.execute("CREATE TABLE src (" + defs.join(", ") + ")")) return false;
    st.RsSource = std::make_shared<db::Recordset>();
    if (!st.RsSource->open("Select * From src", st.WorkConn)) return false;
    st.SourceType = QStringLiteral("xls");
    st.SourceTable = QStringLiteral("[src$]");
    if (!sources::createTable(st).ok()) return false;
    st.RsSource.reset();
    if (!st.WorkConn.execute("Drop Table src")) return false;
    db::Recordset els;
    if (!els.open("Select * From ClienttableELS", st.WorkConn)) return false;
    if (!st.WorkConn.beginTransaction()) return false;
    for (const QStringList& r : rows) {
        els.addNew();
        for (int i = 0; i < r.size(); ++i)
            els.setValue(i, r[i].isNull() ? QVariant() : QVariant(r[i]));
        if (!els.update()) return false;
    }
    if (!st.WorkConn.commit()) return false;
    st.RsSource = std::make_shared<db::Recordset>();
    return st.RsSource->open("Select * From ClienttableELS", st.WorkConn);
}

bool CheckFixture::loadTable(const QStringList& fields, const QList<QStringList>& rows, int width) {
    core::resetAppState();
    core::AppState& st = core::appState();
    const QString dbPath = copyWorkDb(tmp_.path());
    st.AppDir = tmp_.path();
    st.WorkDbPath = dbPath;
    if (!st.WorkConn.open(db::accessConnectionString(dbPath))) return false;
    // A database file of the user's: a copy of an empty working database serves.
    const QString user = tmp_.filePath(QStringLiteral("客户资料.mdb"));
    QFile::remove(user);
    if (!QFile::copy(dbPath, user)) return false;
    {
        db::Connection make;
        if (!make.open(db::accessConnectionString(user))) return false;
        QStringList defs;
        for (const QString& f : fields)
            defs << db::sql::ident(f) + QStringLiteral(" VARCHAR(%1)").arg(width);
        if (!make.execute("CREATE TABLE src (" + defs.join(", ") + ")")) return false;
        db::Recordset rs;
        if (!rs.open("Select * From src", make) || !make.beginTransaction()) return false;
        for (const QStringList& r : rows) {
            rs.addNew();
            for (int i = 0; i < r.size(); ++i)
                rs.setValue(i, r[i].isNull() ? QVariant() : QVariant(r[i]));
            if (!rs.update()) return false;
        }
        if (!make.commit()) return false;
    }
    st.SourcePath = user;
    st.SourceType = QStringLiteral("mdb");
    st.SourceTable = QStringLiteral("src");
    if (!st.SourceConn.open(db::accessConnectionString(user))) return false;
    st.RsSource = std::make_shared<db::Recordset>();
    if (!st.RsSource->open("Select * From src", st.SourceConn)) return false;
    return sources::createTable(st).ok();
}

bool CheckFixture::prepare(const QStringList& checkFields, core::CheckMode mode) {
    core::AppState& st = core::appState();
    core::setCheckFields(st, checkFields);
    return core::prepareCheck(st, mode).ok();
}

bool CheckFixture::loadDuplicates(const QStringList& fields, const QList<QStringList>& rows) {
    if (!load(fields, {}) || !prepare({fields.first()})) return false;
    db::RecordsetPtr dup = core::appState().RsDup;
    for (int n = 1; n <= rows.size(); ++n) {
        dup->addNew();
        dup->setValue(0, QString::number(n));
        for (int c = 0; c < fields.size(); ++c)
            dup->setValue(c + 1, rows[n - 1][c]);
        dup->setValue(fields.size() + 1, QString::number(n));
        if (!dup->update()) return false;
    }
    return dup->updateBatch();
}

core::RunOptions CheckFixture::options(int start, int end) const {
    const core::AppState& st = core::appState();
    return core::runOptionsOf(st, start, end < 0 ? core::recordCountOf(st.RsSource) : end);
}

} // namespace testsupport
