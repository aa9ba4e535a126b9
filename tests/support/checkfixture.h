#pragma once
// The state a check starts from, built without windows: a fresh copy of the working database, a
// source of the given fields and rows imported into ClienttableELS (the check table), the working
// tables built for it, and the check prepared as "开始查重" prepares it.
//
//     testsupport::CheckFixture f;
//     QVERIFY(f.load({"name", "tel"}, {{"张三", "1"}, {"张三", "1"}}));
//     QVERIFY(f.prepare({"name"}));
//     core::RunResult r = check::exactScan(core::appState(), f.options(), sink);
#include "core/run.h"

#include <QTemporaryDir>

namespace testsupport {

class CheckFixture {
public:
    // A null QString in a row stores a null value (the imported table's columns take any
    // length, whatever width says).
    bool load(const QStringList& fields, const QList<QStringList>& rows, int width = 50);
    // The same rows as a table of a database of the user's ("打开MDB数据" on an SQLite file), its
    // columns of width characters: the check table is that table itself, read through SourceConn.
    bool loadTable(const QStringList& fields, const QList<QStringList>& rows, int width = 200);
    // CheckFields, CheckFieldCount, ClienttableCC emptied and RsDup opened on it, CheckMode.
    bool prepare(const QStringList& checkFields, core::CheckMode mode = core::CheckMode::Exact);
    // ClienttableCC as a check leaves it, holding the rows (values of the fields; No and the
    // running number 1, 2, ...: every row a group of its own) over an empty check table of the
    // fields, RsDup open on it.
    bool loadDuplicates(const QStringList& fields, const QList<QStringList>& rows);
    // The options of the prepared check over every record (or start..end).
    core::RunOptions options(int start = 1, int end = -1) const;
    QString dir() const { return tmp_.path(); }

private:
    QTemporaryDir tmp_;
};

} // namespace testsupport
