#include "import/engine/worktables.h"

#include "core/workdb.h"
#include "db/sqltext.h"

namespace sources {

ColumnLists buildColumnLists(const QStringList& t, const QStringList& sourceFields) {
    ColumnLists out;
    const int n = std::min<int>(int(sourceFields.size()), maxFields);
    out.leftOut = sourceFields.mid(n);
    if (t.size() <= n) return out;
    using db::sql::ident;
    // Names in the mapped tables must differ from "No", from the running-number column T(n)
    // and from each other (compared without case, as the engine compares names).
    QStringList taken{QStringLiteral("No"), t[n]};
    auto unique = [&](const QString& name) {
        QString candidate = name;
        for (int i = 1; taken.contains(candidate, Qt::CaseInsensitive); ++i)
            candidate = name + QLatin1Char('_') + QString::number(i);
        taken << candidate;
        return candidate;
    };
    QStringList mapped{ident(t[0]) + QStringLiteral(" As No")};
    QStringList imported;
    for (int k = 0; k < n; ++k) {
        const QString name = unique(sourceFields[k]);
        out.mappedNames << name;
        mapped << ident(t[k + 1]) + QStringLiteral(" As ") + ident(name);
        imported << ident(t[k + 1]) + QStringLiteral(" As ") + ident(sourceFields[k]);
    }
    mapped << ident(t[n]);
    out.mapped = mapped.join(QStringLiteral(", "));
    out.imported = imported.join(QStringLiteral(", "));
    return out;
}

BuildReport createTable(core::AppState& st) {
    BuildReport report;
    auto run = [&](const QString& sql) {
        if (const core::Status s = core::runStatement(st.RsDup, sql, st.WorkConn);
            !s.ok() && report.error.isEmpty())
            report.error = s.error;
    };
    // A statement that may fail harmlessly leaves its error only when a required one failed too.
    bool failed = false;
    auto runRequired = [&](const QString& sql) {
        if (const core::Status s = core::runStatement(st.RsDup, sql, st.WorkConn); !s.ok()) {
            failed = true;
            if (report.error.isEmpty()) report.error = s.error;
        }
    };
    if (!core::isOpen(st.RsSource)) {
        report.error = QStringLiteral("数据表没有打开");
        return report;
    }
    st.RsDup = std::make_shared<db::Recordset>();
    st.RsDup->setCursorLocation(db::CursorLocation::Server);
    if (!st.RsDup->open(QStringLiteral("Select * From ClienttableDBF"), st.WorkConn,
                        db::CursorType::Static, db::LockType::Optimistic)) {
        report.error = st.RsDup->errorString();
        return report;
    }
    const QStringList templ = st.RsDup->fieldNames();
    const ColumnLists lists = buildColumnLists(templ, st.RsSource->fieldNames());
    report.leftOut = lists.leftOut;
    // The last check's duplicates go to their backup; an empty ClienttableCC (a source opened
    // again without a check between) leaves the backup of real groups where it is.
    if (const core::Status s = core::backupDuplicates(st, true); !s.ok() && report.error.isEmpty())
        report.error = s.error;
    // Dropping a table that is not there fails harmlessly.
    run(db::sql::dropTable(QStringLiteral("ClienttableCC")));
    runRequired(QStringLiteral("Select ") + lists.mapped +
                QStringLiteral(" Into ClienttableCC From ClienttableDBF"));
    if (core::sourceKindOf(st) == core::SourceKind::Imported) {
        run(db::sql::dropTable(QStringLiteral("ClienttableELS")));
        runRequired(QStringLiteral("Select ") + lists.imported +
                    QStringLiteral(" Into ClienttableELS From ClienttableDBF"));
    }
    run(db::sql::dropTable(QStringLiteral("tempTable1")));
    run(db::sql::dropTable(QStringLiteral("tempTable2")));
    runRequired(QStringLiteral("Select ") + lists.mapped +
                QStringLiteral(" Into tempTable1 From ClienttableDBF"));
    runRequired(QStringLiteral("Select ") + lists.mapped +
                QStringLiteral(" Into tempTable2 From ClienttableDBF"));
    st.RsDup.reset();
    if (!failed) report.error.clear();
    return report;
}

} // namespace sources
