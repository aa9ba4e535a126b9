#include "db/recordset.h"

#include "db/formats/textcell.h"
#include "db/vtab/dbf/dbf_vtab.h"

#include "db/connection_p.h"
#include "db/criteria.h"
#include "db/formats/characters.h"
#include "db/formats/threads.h"
#include "db/jetsql.h"
#include "db/rowindex.h"
#include "db/tablerows.h"

#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <unordered_map>

namespace db {

namespace {

using Cell = formats::TextCell;

struct FieldInfo {
    QString name;
    QString declared;
    QString origin; // column of the base table, empty when not writable
    int size = 0;
    bool isText = false;
};

enum PendingState : uint8_t { Clean = 0, PendingNew = 1, PendingModified = 2 };

int sizeFromDeclared(const QString& declared, bool* isText) {
    const QString up = declared.toUpper();
    static const QRegularExpression sized(QStringLiteral("\\(\\s*(\\d+)"));
    const QRegularExpressionMatch m = sized.match(up);
    *isText = up.contains(QLatin1String("CHAR")) || up.contains(QLatin1String("TEXT")) ||
              up.contains(QLatin1String("CLOB")) || up.contains(QLatin1String("MEMO")) ||
              up.isEmpty();
    if (m.hasMatch()) return m.captured(1).toInt();
    if (*isText) return 536870910; // unsized text: a memo
    if (up.contains(QLatin1String("SMALLINT"))) return 2;
    if (up.contains(QLatin1String("TINYINT")) || up.contains(QLatin1String("BOOL"))) return 1;
    if (up.contains(QLatin1String("INT"))) return 4;
    return 8; // double, currency, date
}

// A text value longer than its field's defined size is refused, never cut.
bool fitsField(const FieldInfo& f, QStringView v) {
    return !f.isText || v.isNull() || v.size() <= f.size || formats::codePointCount(v) <= f.size;
}

QString tooLongMessage(const FieldInfo& f, QStringView v) {
    return QStringLiteral("字段“%1”的值长度为 %2，超过了字段的定义长度 %3，未写入")
        .arg(f.name)
        .arg(formats::codePointCount(v))
        .arg(f.size);
}

} // namespace

// The rows of one query, shared by a recordset and its clones.
struct RowStore {
    std::shared_ptr<ConnectionData> conn;
    QString baseTable;
    bool hasRowids = false;
    std::vector<FieldInfo> fields;
    int columns = 0;
    std::vector<char16_t> arena;
    formats::TextRows cells;
    std::vector<qint64> rowids;
    std::vector<uint8_t> pending;
    int pendingCount = 0;                                 // slots whose pending state is not Clean
    std::unordered_map<int, std::vector<Cell>> originals; // batch: cells before the edit
    std::unordered_map<int, std::vector<uint8_t>> dirtyCols; // batch: columns to write
    PositionTree tree;
    std::vector<std::unique_ptr<EqualityIndex>> equalityIndexes;
    std::vector<std::unique_ptr<BigramIndex>> bigramIndexes;
    std::unordered_map<qint64, int> slotOfRowid; // built on first use
    bool rowidMapBuilt = false;
    uint64_t deleteGeneration = 0;
    std::vector<Recordset*> attached;
    std::map<QString, sqlite3_stmt*> statements;
    QString deleteSql; // "DELETE FROM <table> WHERE rowid=?", made on the first deletion
    // INSERT and UPDATE statements by the columns they write (one byte per column, then 'I' or
    // 'U'): a batch of thousands of rows builds each text once.
    std::unordered_map<QByteArray, QString> writeSql;
    int quiet = 0;
    // The database as it was when the rows were read, and the changes of the base table's journal
    // seen since (see refresh()).
    ChangeStamp stamp;
    uint64_t seenChange = 0;

    ~RowStore() {
        for (auto& [k, s] : statements)
            sqlite3_finalize(s);
    }
    int slotCount() const { return int(rowids.size()); }
    void setPending(int slot, uint8_t state) {
        uint8_t& p = pending[size_t(slot)];
        pendingCount += (state != Clean) - (p != Clean);
        p = state;
    }
    void pushPending(uint8_t state) {
        pending.push_back(Clean);
        setPending(slotCount() - 1, state);
    }
    void popPending() {
        setPending(int(pending.size()) - 1, Clean);
        pending.pop_back();
    }
    // Takes the stamp and the journal's position before the rows are read.
    void markRead() {
        stamp = conn->stamp();
        const TableChanges* t = baseTable.isEmpty() ? nullptr : conn->changesOf(baseTable);
        seenChange = t ? t->end() : 0;
    }
    // Brings the rows up to date without reading the table again, when that is possible: nothing
    // but this layer's recordsets changed the database since the rows were read, and what other
    // recordsets did to the base table was deleting rows. Those rows go; false when the table
    // must be read again.
    bool refresh(int* dropped) {
        if (!hasRowids || baseTable.isEmpty() || !conn->journals()) return false;
        if (!(conn->stamp() == stamp)) return false;
        const TableChanges* t = conn->changesOf(baseTable);
        if (!t) return seenChange == 0;
        if (seenChange < t->first || seenChange > t->end()) return false;
        const auto from = t->changes.begin() + qsizetype(seenChange - t->first);
        for (auto it = from; it != t->changes.end(); ++it)
            if (it->by != this && !it->deleted) return false;
        for (auto it = from; it != t->changes.end(); ++it) {
            if (it->by == this) continue;
            const int slot = slotForRowid(it->rowid);
            if (slot < 0 || !tree.live(slot)) continue;
            tree.kill(slot);
            setPending(slot, Clean);
            ++deleteGeneration;
            ++*dropped;
        }
        seenChange = t->end();
        return true;
    }
    Cell cell(int slot, int col) const { return cells.cell(size_t(slot), col); }
    std::vector<Cell> rowCells(int slot) const {
        std::vector<Cell> row(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c)
            row[size_t(c)] = cell(slot, c);
        return row;
    }
    void setRow(int slot, const std::vector<Cell>& row) {
        cells.replace(size_t(slot), row.data(), arena);
    }
    const char16_t* chars(const Cell& c) const { return arena.data() + c.offset; }
    QVariant value(int slot, int col) const {
        const Cell c = cell(slot, col);
        if (c.length < 0) return QVariant();
        return QString(reinterpret_cast<const QChar*>(chars(c)), c.length);
    }
    Cell store(const QVariant& v) {
        if (v.isNull()) return Cell{};
        const QString s = v.toString();
        Cell c{uint32_t(arena.size()), int32_t(s.size())};
        const char16_t* p = reinterpret_cast<const char16_t*>(s.utf16());
        arena.insert(arena.end(), p, p + s.size());
        return c;
    }
    Cell storeView(QStringView v) {
        if (v.isNull()) return Cell{};
        Cell c{uint32_t(arena.size()), int32_t(v.size())};
        arena.insert(arena.end(), v.utf16(), v.utf16() + v.size());
        return c;
    }
    Cell storeRaw(const void* text16, int bytes) {
        Cell c{uint32_t(arena.size()), int32_t(bytes / 2)};
        const char16_t* p = static_cast<const char16_t*>(text16);
        arena.insert(arena.end(), p, p + bytes / 2);
        return c;
    }
    // A cell's normalised text: blanks at both ends left out. Every comparison of a filter or
    // a find, and every index key, reads a value so.
    QStringView normalised(const Cell& c) const {
        return trimBlanks(QStringView(chars(c), c.length));
    }
    bool keyOf(const std::vector<int>& cols, int slot, uint64_t* hash) const {
        uint64_t h = 1469598103934665603ull;
        for (int c : cols) {
            const Cell cl = cell(slot, c);
            if (cl.length < 0) return false;
            const QStringView v = normalised(cl);
            h = hashFolded(v.utf16(), int(v.size()), h);
        }
        *hash = h;
        return true;
    }
    int slotForRowid(qint64 rowid) {
        // Rows read from a table in rowid order, or imported into an empty one, have rowid n in
        // slot n - 1: no map is needed for them. (A deleted row's rowid may be given again to a
        // row added since: the map knows the live one.)
        if (rowid >= 1 && rowid <= slotCount() && rowids[size_t(rowid - 1)] == rowid &&
            tree.live(int(rowid - 1)))
            return int(rowid - 1);
        if (!rowidMapBuilt) {
            slotOfRowid.clear();
            for (int s = 0; s < slotCount(); ++s)
                if (rowids[size_t(s)] != 0) slotOfRowid[rowids[size_t(s)]] = s;
            rowidMapBuilt = true;
        }
        auto it = slotOfRowid.find(rowid);
        return it == slotOfRowid.end() ? -1 : it->second;
    }
    void setRowid(int slot, qint64 rowid) {
        rowids[size_t(slot)] = rowid;
        if (rowidMapBuilt) slotOfRowid[rowid] = slot;
    }
    EqualityIndex* equalityIndex(const std::vector<int>& cols) {
        for (auto& ix : equalityIndexes)
            if (ix->columns() == cols) return ix.get();
        auto ix = std::make_unique<EqualityIndex>(cols);
        ix->build(slotCount(), [&](int s, uint64_t* h) { return keyOf(cols, s, h); });
        equalityIndexes.push_back(std::move(ix));
        return equalityIndexes.back().get();
    }
    BigramIndex* bigramIndex(int col) {
        for (auto& ix : bigramIndexes)
            if (ix->column() == col) return ix.get();
        auto ix = std::make_unique<BigramIndex>(col);
        ix->build(slotCount(), [&](int s, std::u16string* t) { return textOf(s, col, t); });
        bigramIndexes.push_back(std::move(ix));
        return bigramIndexes.back().get();
    }
    bool textOf(int slot, int col, std::u16string* t) const {
        const Cell c = cell(slot, col);
        if (c.length < 0) return false;
        t->assign(chars(c), size_t(c.length));
        return true;
    }
    static bool touches(const EqualityIndex& ix, const std::vector<uint8_t>* changed) {
        if (!changed) return true;
        for (int c : ix.columns())
            if ((*changed)[size_t(c)]) return true;
        return false;
    }
    // Before a row's values change: it leaves the indexes over the columns that change.
    void unindex(int slot, const std::vector<uint8_t>* changed) {
        for (auto& ix : equalityIndexes) {
            uint64_t h;
            if (touches(*ix, changed) && keyOf(ix->columns(), slot, &h)) ix->remove(slot, h);
        }
    }
    // After a row was added or its values changed (unindex() went first).
    void reindex(int slot, const std::vector<uint8_t>* changed, bool added) {
        for (auto& ix : equalityIndexes) {
            if (!added && !touches(*ix, changed)) continue;
            const auto& cols = ix->columns();
            ix->add(slot, [&](int s, uint64_t* h) { return keyOf(cols, s, h); });
        }
        for (auto& ix : bigramIndexes) {
            if (!added && changed && !(*changed)[size_t(ix->column())]) continue;
            const int col = ix->column();
            ix->touch(slot, [&](int s, std::u16string* t) { return textOf(s, col, t); });
        }
    }
    bool matches(const Criterion& c, int slot) const {
        for (const CriterionTerm& t : c.terms) {
            const Cell cl = cell(slot, t.column);
            if (cl.length < 0) return false;
            const QStringView v = normalised(cl);
            if (t.op == CriterionTerm::Equal) {
                if (!equalsFolded(v.utf16(), int(v.size()), t.key.data(), int(t.key.size())))
                    return false;
            } else if (!likeMatch(t.pattern, v.utf16(), int(v.size()))) {
                return false;
            }
        }
        return true;
    }
    sqlite3_stmt* statement(const QString& sql, QString* error) {
        auto it = statements.find(sql);
        if (it != statements.end()) {
            sqlite3_reset(it->second);
            sqlite3_clear_bindings(it->second);
            return it->second;
        }
        sqlite3_stmt* st = nullptr;
        const QByteArray u = sql.toUtf8();
        if (sqlite3_prepare_v2(conn->db, u.constData(), int(u.size()), &st, nullptr) != SQLITE_OK) {
            *error = conn->sqliteError(sql);
            return nullptr;
        }
        statements[sql] = st;
        return st;
    }
};

// The per-recordset part: the current row, the filter, the edit buffer.
struct RecordsetView {
    enum State { Bof, Eof, OnRow, OnDeleted };
    State state = Eof;
    int cur = -1;
    bool filtered = false;
    Criterion criterion;
    std::vector<int> rows;       // filtered: matching slotCount in ascending order
    std::vector<int> candidates; // the last filter's or find's, kept for its room
    uint64_t seenDeletes = 0;
    bool editing = false;
    bool adding = false;
    std::vector<QVariant> buffer;
    std::vector<uint8_t> dirty;
};

Recordset::Recordset(QObject* parent) : QObject(parent), view_(std::make_unique<RecordsetView>()) {}

Recordset::~Recordset() {
    close();
}

bool Recordset::fail(const QString& message) const {
    error_ = message;
    return false;
}

QString Recordset::baseTable() const {
    return store_ ? store_->baseTable : QString();
}

bool Recordset::isOpen() const {
    return bool(store_);
}

bool Recordset::isUpdatable() const {
    return store_ && store_->hasRowids && lock_ != LockType::ReadOnly;
}

void Recordset::close() {
    if (store_) {
        auto& a = store_->attached;
        a.erase(std::remove(a.begin(), a.end(), this), a.end());
    }
    const bool was = bool(store_);
    store_.reset();
    *view_ = RecordsetView{};
    if (was) emit rowsReset();
}

bool Recordset::open(const QString& jetSql, const Connection& connection, CursorType type,
                     LockType lock) {
    close();
    error_.clear();
    connection_ = connection;
    source_ = jetSql;
    type_ = type;
    lock_ = lock;
    auto conn = connection.data();
    if (!conn || !conn->db) return fail(QStringLiteral("数据库连接没有打开"));
    if (isIntoFileStatement(jetSql)) { // its names and path are no SQL to translate
        Connection c = connection;
        return c.execute(jetSql) || fail(c.errorString());
    }
    JetStatement st;
    QString error;
    if (!translateJet(jetSql, &st, &error)) return fail(error);
    if (st.kind != JetStatement::Select) {
        Connection c = connection;
        if (!c.execute(jetSql)) return fail(c.errorString());
        return true; // a statement without rows leaves the recordset closed
    }
    auto store = std::make_shared<RowStore>();
    store->conn = conn;
    // A whole dBase table is read straight from its file, not value by value through SQLite.
    if (!fieldsOnly_ && conn->kind == SourceKind::Dbf && st.selectAll && !st.baseTable.isEmpty() &&
        st.sql.compare(QStringLiteral("SELECT * FROM ") + sqliteIdent(st.baseTable),
                       Qt::CaseInsensitive) == 0) {
        vtab::DbfRows rows;
        QString why;
        if (vtab::readDbfRows(conn->db, st.baseTable, &rows, &why)) {
            store->columns = int(rows.names.size());
            store->hasRowids = true;
            store->baseTable = st.baseTable;
            store->markRead();
            for (qsizetype i = 0; i < rows.names.size(); ++i) {
                FieldInfo f;
                f.name = rows.names[i];
                f.declared = rows.declared[i];
                f.size = sizeFromDeclared(f.declared, &f.isText);
                f.origin = f.name;
                store->fields.push_back(f);
            }
            store->rowids.assign(rows.values.records.begin(), rows.values.records.end());
            store->arena = std::move(rows.values.text);
            store->cells = std::move(rows.values.cells);
            return finishOpen(std::move(store));
        }
        if (!why.isEmpty()) return fail(why);
    }
    sqlite3_stmt* stmt = nullptr;
    bool withRowid = false;
    if (!st.baseTable.isEmpty()) {
        const QString sql = QStringLiteral("SELECT rowid, ") + st.sql.mid(6).trimmed();
        const QByteArray u = sql.toUtf8();
        withRowid =
            sqlite3_prepare_v2(conn->db, u.constData(), int(u.size()), &stmt, nullptr) == SQLITE_OK;
        if (!withRowid) {
            sqlite3_finalize(stmt);
            stmt = nullptr;
        }
    }
    if (!stmt) {
        const QByteArray u = st.sql.toUtf8();
        if (sqlite3_prepare_v2(conn->db, u.constData(), int(u.size()), &stmt, nullptr) != SQLITE_OK)
            return fail(conn->sqliteError(jetSql));
    }
    const int first = withRowid ? 1 : 0;
    const int total = sqlite3_column_count(stmt);
    store->columns = total - first;
    store->hasRowids = withRowid;
    store->baseTable = st.baseTable;
    store->markRead();
    for (int i = first; i < total; ++i) {
        FieldInfo f;
        f.name = QString::fromUtf8(sqlite3_column_name(stmt, i));
        const char* decl = sqlite3_column_decltype(stmt, i);
        f.declared = decl ? QString::fromUtf8(decl) : QString();
        f.size = sizeFromDeclared(f.declared, &f.isText);
        const char* origin = sqlite3_column_origin_name(stmt, i);
        const char* table = sqlite3_column_table_name(stmt, i);
        if (withRowid && origin && table &&
            QString::fromUtf8(table).compare(st.baseTable, Qt::CaseInsensitive) == 0)
            f.origin = QString::fromUtf8(origin);
        store->fields.push_back(f);
    }
    if (fieldsOnly_) {
        sqlite3_finalize(stmt);
        store->cells = formats::TextRows(store->columns);
        return finishOpen(std::move(store));
    }
    // Room for every row at once: growing by doubling would copy the rows several times.
    qint64 expected = 0;
    if (!st.baseTable.isEmpty()) {
        sqlite3_stmt* count = nullptr;
        const QByteArray c =
            (QStringLiteral("SELECT count(*) FROM ") + sqliteIdent(st.baseTable)).toUtf8();
        if (sqlite3_prepare_v2(conn->db, c.constData(), int(c.size()), &count, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(count) == SQLITE_ROW)
            expected = sqlite3_column_int64(count, 0);
        sqlite3_finalize(count);
    }
    store->rowids.reserve(size_t(expected));
    store->cells = formats::TextRows(store->columns);
    store->cells.reserve(size_t(expected));
    std::vector<Cell> row(size_t(store->columns));
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        // After a first sample of rows, make room for the text of all of them.
        if (store->rowids.size() == 1024 && expected > 2048)
            store->arena.reserve(
                size_t(double(store->arena.size()) / 1024.0 * double(expected) * 1.15));
        store->rowids.push_back(withRowid ? sqlite3_column_int64(stmt, 0) : 0);
        for (int i = first; i < total; ++i) {
            Cell& cell = row[size_t(i - first)];
            switch (sqlite3_column_type(stmt, i)) {
            case SQLITE_NULL:
            case SQLITE_BLOB:
                cell = Cell{};
                break;
            case SQLITE_FLOAT:
                cell = store->store(realText(sqlite3_column_double(stmt, i)));
                break;
            default: {
                const void* p = sqlite3_column_text16(stmt, i);
                const int bytes = sqlite3_column_bytes16(stmt, i);
                cell = store->storeRaw(p, bytes);
            }
            }
        }
        store->cells.append(row.data(), store->arena);
    }
    if (rc != SQLITE_DONE) {
        const QString err = conn->sqliteError(jetSql);
        sqlite3_finalize(stmt);
        return fail(err);
    }
    sqlite3_finalize(stmt);
    return finishOpen(std::move(store));
}

bool Recordset::finishOpen(std::shared_ptr<RowStore> store) {
    store->pending.assign(size_t(store->slotCount()), Clean);
    store->tree.reset(store->slotCount());
    store->attached.push_back(this);
    store_ = std::move(store);
    *view_ = RecordsetView{};
    view_->seenDeletes = store_->deleteGeneration;
    if (store_->tree.count() > 0)
        setCurrentSlot(store_->tree.select(1));
    else
        view_->state = RecordsetView::Eof;
    notifyReset();
    return true;
}

bool Recordset::openFields(const QString& jetSql, const Connection& connection) {
    fieldsOnly_ = true;
    const bool opened = open(jetSql, connection);
    fieldsOnly_ = false;
    return opened;
}

void Recordset::adoptRow(qint64 rowid, std::span<const QStringView> values, qint64 expectedRows) {
    if (!store_) return;
    RowStore& s = *store_;
    if (s.rowids.empty() && expectedRows > 0) {
        s.rowids.reserve(size_t(expectedRows));
        s.cells.reserve(size_t(expectedRows));
    }
    // After a first sample of rows, room for the text of all of them (as open makes it).
    if (s.rowids.size() == 1024 && expectedRows > 2048)
        s.arena.reserve(size_t(double(s.arena.size()) / 1024.0 * double(expectedRows) * 1.15));
    thread_local std::vector<Cell> row;
    row.assign(size_t(s.columns), Cell{});
    for (int c = 0; c < s.columns && size_t(c) < values.size(); ++c)
        row[size_t(c)] = s.storeView(values[size_t(c)]);
    s.rowids.push_back(rowid);
    s.cells.append(row.data(), s.arena);
}

void Recordset::adoptDone() {
    if (!store_) return;
    RowStore& s = *store_;
    s.markRead(); // the rows are the table's as it is now
    s.pending.assign(size_t(s.slotCount()), Clean);
    s.pendingCount = 0;
    s.tree.reset(s.slotCount());
    *view_ = RecordsetView{};
    view_->seenDeletes = s.deleteGeneration;
    if (s.tree.count() > 0)
        setCurrentSlot(s.tree.select(1));
    else
        view_->state = RecordsetView::Eof;
    notifyReset();
}

std::shared_ptr<Recordset> Recordset::clone() const {
    auto r = std::make_shared<Recordset>();
    if (!store_) return r;
    r->location_ = location_;
    r->type_ = type_;
    r->lock_ = lock_;
    r->connection_ = connection_;
    r->source_ = source_;
    r->store_ = store_;
    store_->attached.push_back(r.get());
    r->view_->seenDeletes = store_->deleteGeneration;
    if (store_->tree.count() > 0) r->setCurrentSlot(store_->tree.select(1));
    return r;
}

// ---- the view: rows in order, positions ----------------------------------------------------

static void purge(RowStore& s, RecordsetView& v) {
    if (!v.filtered || v.seenDeletes == s.deleteGeneration) return;
    v.rows.erase(
        std::remove_if(v.rows.begin(), v.rows.end(), [&](int slot) { return !s.tree.live(slot); }),
        v.rows.end());
    v.seenDeletes = s.deleteGeneration;
}

int Recordset::recordCount() const {
    if (!store_) return 0;
    purge(*store_, *view_);
    return view_->filtered ? int(view_->rows.size()) : store_->tree.count();
}

int Recordset::slotAt(int row) const {
    if (!store_ || row < 0) return -1;
    purge(*store_, *view_);
    if (view_->filtered) return row < int(view_->rows.size()) ? view_->rows[size_t(row)] : -1;
    return store_->tree.select(row + 1);
}

// Row index of a slot in the view; for a slot that is not visible, the index of the first
// visible slot after it (so "deleted" rows sit where their successor is).
int Recordset::rowOfSlot(int slot) const {
    purge(*store_, *view_);
    if (view_->filtered)
        return int(std::lower_bound(view_->rows.begin(), view_->rows.end(), slot) -
                   view_->rows.begin());
    return store_->tree.rank(slot) - (store_->tree.live(slot) ? 1 : 0);
}

void Recordset::setCurrentSlot(int slot) {
    if (slot < 0) {
        view_->state = RecordsetView::Eof;
        view_->cur = -1;
    } else {
        view_->state = RecordsetView::OnRow;
        view_->cur = slot;
    }
    if (store_ && store_->quiet == 0) emit currentRowChanged(currentRow());
}

int Recordset::currentRow() const {
    if (!store_ || view_->state != RecordsetView::OnRow) return -1;
    return rowOfSlot(view_->cur);
}

int Recordset::absolutePosition() const {
    if (!store_) return 0;
    if (view_->adding) return recordCount() + 1;
    if (view_->state == RecordsetView::OnRow) return rowOfSlot(view_->cur) + 1;
    if (view_->state == RecordsetView::OnDeleted) {
        const int r = rowOfSlot(view_->cur);
        return r < recordCount() ? r + 1 : 0;
    }
    return 0;
}

bool Recordset::ensureRow() const {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (view_->adding) return true;
    if (view_->state == RecordsetView::OnDeleted) return fail(QStringLiteral("当前记录已被删除"));
    if (view_->state != RecordsetView::OnRow || !store_->tree.live(view_->cur))
        return fail(QStringLiteral("没有当前记录（已到记录集的开头或末尾）"));
    return true;
}

bool Recordset::isEof() const {
    if (!store_) return true;
    return view_->state == RecordsetView::Eof || recordCount() == 0;
}

bool Recordset::isBof() const {
    if (!store_) return true;
    return view_->state == RecordsetView::Bof || recordCount() == 0;
}

bool Recordset::setAbsolutePosition(int position) {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (position < 1 || position > recordCount())
        return fail(QStringLiteral("记录号 %1 超出范围（1～%2）").arg(position).arg(recordCount()));
    if (!commitEdit()) return false;
    setCurrentSlot(slotAt(position - 1));
    return true;
}

bool Recordset::moveFirst() {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (!commitEdit()) return false;
    setCurrentSlot(recordCount() > 0 ? slotAt(0) : -1);
    return true;
}

bool Recordset::moveLast() {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (!commitEdit()) return false;
    const int n = recordCount();
    setCurrentSlot(n > 0 ? slotAt(n - 1) : -1);
    return true;
}

bool Recordset::moveNext() {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (!commitEdit()) return false;
    if (!view_->filtered &&
        (view_->state == RecordsetView::OnRow || view_->state == RecordsetView::OnDeleted)) {
        // Without a filter the next row is the next live slot: no counting of positions.
        const PositionTree& tree = store_->tree;
        int slot = view_->cur + (view_->state == RecordsetView::OnRow ? 1 : 0);
        while (slot < tree.slotCount() && !tree.live(slot))
            ++slot;
        setCurrentSlot(slot < tree.slotCount() ? slot : -1);
        return true;
    }
    const int n = recordCount();
    int row;
    switch (view_->state) {
    case RecordsetView::Eof:
        return fail(QStringLiteral("已到记录集末尾"));
    case RecordsetView::Bof:
        row = 0;
        break;
    case RecordsetView::OnDeleted:
        row = rowOfSlot(view_->cur);
        break;
    default:
        row = rowOfSlot(view_->cur) + 1;
        break;
    }
    setCurrentSlot(row < n ? slotAt(row) : -1);
    return true;
}

bool Recordset::movePrevious() {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (!commitEdit()) return false;
    int row;
    switch (view_->state) {
    case RecordsetView::Bof:
        return fail(QStringLiteral("已到记录集开头"));
    case RecordsetView::Eof:
        row = recordCount() - 1;
        break;
    default:
        row = rowOfSlot(view_->cur) - 1;
        break;
    }
    if (row < 0) {
        view_->state = RecordsetView::Bof;
        view_->cur = -1;
        if (store_->quiet == 0) emit currentRowChanged(-1);
    } else {
        setCurrentSlot(slotAt(row));
    }
    return true;
}

static Bookmark bookmarkOfSlot(const RowStore& s, int slot) {
    const qint64 id = s.rowids[size_t(slot)];
    return id != 0 ? id : -(qint64(slot) + 1);
}

Bookmark Recordset::bookmark() const {
    if (!ensureRow() || view_->adding) return 0;
    return bookmarkOfSlot(*store_, view_->cur);
}

Bookmark Recordset::bookmarkAt(int row) const {
    const int slot = slotAt(row);
    return slot < 0 ? 0 : bookmarkOfSlot(*store_, slot);
}

int Recordset::rowOfBookmark(Bookmark mark) const {
    if (!store_) return -1;
    const int slot = mark < 0 ? int(-mark - 1) : store_->slotForRowid(mark);
    if (slot < 0 || slot >= store_->slotCount() || !store_->tree.live(slot)) return -1;
    const int row = rowOfSlot(slot);
    return row < recordCount() && slotAt(row) == slot ? row : -1;
}

bool Recordset::setBookmark(Bookmark mark) {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    const int slot = mark < 0 ? int(-mark - 1) : store_->slotForRowid(mark);
    if (slot < 0 || slot >= store_->slotCount() || !store_->tree.live(slot))
        return fail(QStringLiteral("书签指向的记录已不存在"));
    if (view_->filtered) {
        purge(*store_, *view_);
        if (!std::binary_search(view_->rows.begin(), view_->rows.end(), slot))
            return fail(QStringLiteral("书签指向的记录不在当前筛选结果中"));
    }
    if (!commitEdit()) return false;
    setCurrentSlot(slot);
    return true;
}

// ---- fields and values -------------------------------------------------------------------

int Recordset::fieldCount() const {
    return store_ ? store_->columns : 0;
}

QString Recordset::fieldName(int index) const {
    if (!store_ || index < 0 || index >= store_->columns) return {};
    return store_->fields[size_t(index)].name;
}

QStringList Recordset::fieldNames() const {
    QStringList names;
    for (int i = 0; i < fieldCount(); ++i)
        names << fieldName(i);
    return names;
}

int Recordset::fieldIndex(const QString& name) const {
    if (!store_) return -1;
    for (int i = 0; i < store_->columns; ++i)
        if (store_->fields[size_t(i)].name.compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

bool Recordset::checkValue(int index, const QString& value, QString* why) const {
    if (!store_ || index < 0 || index >= store_->columns) return true;
    const FieldInfo& f = store_->fields[size_t(index)];
    if (!fitsField(f, value)) {
        *why = tooLongMessage(f, value);
        return false;
    }
    const RowStore& s = *store_;
    if (s.conn->kind != SourceKind::Dbf || s.baseTable.isEmpty() || f.origin.isEmpty()) return true;
    return vtab::checkDbfValue(s.conn->db, s.baseTable, f.origin, value, why);
}

int Recordset::definedSize(int index) const {
    if (!store_ || index < 0 || index >= store_->columns) return 0;
    return store_->fields[size_t(index)].size;
}

QString Recordset::declaredType(int index) const {
    if (!store_ || index < 0 || index >= store_->columns) return {};
    return store_->fields[size_t(index)].declared;
}

QVariant Recordset::value(int index) const {
    if (!ensureRow()) return QVariant();
    if (index < 0 || index >= store_->columns) {
        fail(QStringLiteral("字段序号 %1 超出范围").arg(index));
        return QVariant();
    }
    if ((view_->editing || view_->adding) && view_->dirty[size_t(index)])
        return view_->buffer[size_t(index)];
    if (view_->adding) return QVariant();
    return store_->value(view_->cur, index);
}

QVariant Recordset::value(const QString& name) const {
    const int i = fieldIndex(name);
    if (i < 0) {
        fail(QStringLiteral("字段不存在：%1").arg(name));
        return QVariant();
    }
    return value(i);
}

QString Recordset::text(int index) const {
    return trimBlanks(value(index).toString());
}

QStringView Recordset::valueView(int index) const {
    if (!store_ || view_->adding || view_->editing || view_->state != RecordsetView::OnRow ||
        index < 0 || index >= store_->columns)
        return {};
    const Cell c = store_->cell(view_->cur, index);
    if (c.length < 0) return {};
    return QStringView(store_->chars(c), c.length);
}

QString Recordset::text(const QString& name) const {
    return trimBlanks(value(name).toString());
}

QVariant Recordset::valueAt(int row, int column) const {
    if (!store_ || column < 0 || column >= store_->columns) return QVariant();
    const int slot = slotAt(row);
    if (slot < 0) return QVariant();
    if ((view_->editing) && slot == view_->cur && view_->dirty[size_t(column)])
        return view_->buffer[size_t(column)];
    return store_->value(slot, column);
}

QStringView Recordset::viewAt(int row, int column) const {
    if (!store_ || column < 0 || column >= store_->columns) return {};
    const int slot = slotAt(row);
    if (slot < 0) return {};
    const Cell c = store_->cell(slot, column);
    if (c.length < 0) return {};
    return QStringView(store_->chars(c), c.length);
}

// ---- editing -----------------------------------------------------------------------------

bool Recordset::setValue(int index, const QVariant& value) {
    if (!ensureRow()) return false;
    if (index < 0 || index >= store_->columns)
        return fail(QStringLiteral("字段序号 %1 超出范围").arg(index));
    if (lock_ == LockType::ReadOnly || !store_->hasRowids)
        return fail(QStringLiteral("此记录集是只读的，不能修改"));
    if (!view_->editing && !view_->adding) {
        view_->editing = true;
        view_->buffer.assign(size_t(store_->columns), QVariant());
        view_->dirty.assign(size_t(store_->columns), 0);
    }
    view_->buffer[size_t(index)] = value.isNull() ? QVariant() : QVariant(value.toString());
    view_->dirty[size_t(index)] = 1;
    return true;
}

bool Recordset::setValue(const QString& name, const QVariant& value) {
    const int i = fieldIndex(name);
    if (i < 0) return fail(QStringLiteral("字段不存在：%1").arg(name));
    return setValue(i, value);
}

bool Recordset::addNew() {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (lock_ == LockType::ReadOnly || !store_->hasRowids)
        return fail(QStringLiteral("此记录集是只读的，不能添加记录"));
    if (!commitEdit()) return false;
    view_->adding = true;
    view_->editing = false;
    view_->buffer.assign(size_t(store_->columns), QVariant());
    view_->dirty.assign(size_t(store_->columns), 0);
    return true;
}

bool Recordset::isEditing() const {
    return view_->editing || view_->adding;
}

void Recordset::cancelUpdate() {
    view_->editing = view_->adding = false;
    view_->buffer.clear();
    view_->dirty.clear();
}

bool Recordset::commitEdit() {
    if (!view_->editing && !view_->adding) return true;
    return update();
}

// Writes one row to the base table: an insert for a new slot, else an update of the given
// columns. Values are checked against the defined sizes first, so nothing is cut.
bool Recordset::writeThrough(int slot, const std::vector<QVariant>* values, bool isNew) {
    RowStore& s = *store_;
    const std::vector<uint8_t>* dirty = isNew ? nullptr : &s.dirtyCols[slot];
    // The value of column c to write: from values, else from the row itself, without a copy.
    QString held;
    auto valueOf = [&](int c) -> QStringView {
        if (values) {
            const QVariant& v = (*values)[size_t(c)];
            if (v.isNull()) return {};
            held = v.toString();
            return held.isNull() ? QStringView(u"") : QStringView(held);
        }
        const Cell cell = s.cell(slot, c);
        if (cell.length < 0) return {};
        if (cell.length == 0) return QStringView(u""); // empty, not null
        return QStringView(s.chars(cell), cell.length);
    };
    QByteArray key(s.columns + 1, '\0');
    key[s.columns] = isNew ? 'I' : 'U';
    bool any = false;
    for (int c = 0; c < s.columns; ++c) {
        if (dirty && !(*dirty)[size_t(c)]) continue;
        const FieldInfo& f = s.fields[size_t(c)];
        if (f.origin.isEmpty()) continue;
        const QStringView v = valueOf(c);
        if (isNew && v.isNull()) continue;
        if (!fitsField(f, v)) return fail(tooLongMessage(f, v));
        key[c] = 1;
        any = true;
    }
    if (!isNew && !any) return true;
    QString& sql = s.writeSql[key];
    if (sql.isEmpty()) {
        QStringList names;
        for (int c = 0; c < s.columns; ++c)
            if (key[c]) names << sqliteIdent(s.fields[size_t(c)].origin);
        const QString table = sqliteIdent(s.baseTable);
        if (isNew && names.isEmpty()) {
            sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table);
        } else if (isNew) {
            QStringList marks;
            for (int i = 0; i < names.size(); ++i)
                marks << QStringLiteral("?");
            sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                      .arg(table, names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        } else {
            QStringList sets;
            for (const QString& n : names)
                sets << n + QStringLiteral("=?");
            sql = QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?")
                      .arg(table, sets.join(QLatin1Char(',')));
        }
    }
    QString error;
    sqlite3_stmt* st = s.statement(sql, &error);
    if (!st) return fail(error);
    // The row's own texts stay where they are until the statement has run: no copy of them.
    const auto lifetime = values ? SQLITE_TRANSIENT : SQLITE_STATIC;
    int i = 1;
    for (int c = 0; c < s.columns; ++c) {
        if (!key[c]) continue;
        const QStringView v = valueOf(c);
        if (v.isNull())
            sqlite3_bind_null(st, i++);
        else
            sqlite3_bind_text16(st, i++, v.utf16(), int(v.size() * 2), lifetime);
    }
    if (!isNew) sqlite3_bind_int64(st, i, s.rowids[size_t(slot)]);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) {
        // A failed write may have ended the transaction it belonged to.
        s.conn->forgetChanges();
        return fail(s.conn->sqliteError(sql));
    }
    if (isNew) s.setRowid(slot, sqlite3_last_insert_rowid(s.conn->db));
    s.conn->noteRowChange(s.baseTable, s.rowids[size_t(slot)], &s, false,
                          sqlite3_changes(s.conn->db));
    return true;
}

bool Recordset::update() {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (!view_->editing && !view_->adding) return true;
    RowStore& s = *store_;
    const bool batch = lock_ == LockType::BatchOptimistic;
    if (batch) {
        // A pending value is held to the size it will be saved in: one that the save would refuse
        // is refused now, naming its field, while the user still sees what was typed.
        for (int c = 0; c < s.columns; ++c) {
            const QVariant& v = view_->buffer[size_t(c)];
            const FieldInfo& f = s.fields[size_t(c)];
            if (!view_->dirty[size_t(c)] || v.isNull() || f.origin.isEmpty()) continue;
            const QString text = v.toString();
            if (!fitsField(f, text)) return fail(tooLongMessage(f, text));
        }
    }
    if (view_->adding) {
        std::vector<QVariant> buffer = std::move(view_->buffer);
        std::vector<uint8_t> dirty = std::move(view_->dirty);
        view_->adding = false;
        view_->buffer.clear();
        view_->dirty.clear();
        if (appendRow(&buffer, {})) return true;
        // Still adding: the values stay for another try or cancelUpdate().
        view_->adding = true;
        view_->buffer = std::move(buffer);
        view_->dirty = std::move(dirty);
        return false;
    }
    // Edit of an existing row.
    const int slot = view_->cur;
    if (!s.tree.live(slot)) return fail(QStringLiteral("当前记录已被删除"));
    std::vector<uint8_t>& cols = s.dirtyCols[slot];
    if (cols.empty()) cols.assign(size_t(s.columns), 0);
    for (int c = 0; c < s.columns; ++c)
        if (view_->dirty[size_t(c)]) cols[size_t(c)] = 1;
    if (!batch || s.pending[size_t(slot)] == Clean) {
        if (!batch && s.pending[size_t(slot)] != PendingNew) {
            if (!writeThrough(slot, &view_->buffer, false)) {
                s.dirtyCols.erase(slot);
                return false;
            }
            s.dirtyCols.erase(slot);
        } else if (batch) {
            // Remember the row as it was, for cancelBatch().
            s.originals[slot] = s.rowCells(slot);
            s.setPending(slot, PendingModified);
        }
    }
    s.unindex(slot, &view_->dirty);
    std::vector<Cell> row = s.rowCells(slot);
    for (int c = 0; c < s.columns; ++c)
        if (view_->dirty[size_t(c)]) row[size_t(c)] = s.store(view_->buffer[size_t(c)]);
    s.setRow(slot, row);
    const std::vector<uint8_t> changed = view_->dirty;
    view_->editing = false;
    view_->buffer.clear();
    view_->dirty.clear();
    s.reindex(slot, &changed, false);
    if (s.quiet == 0)
        for (Recordset* r : s.attached) {
            const int row = r->rowOfSlot(slot);
            if (row < r->recordCount() && r->slotAt(row) == slot) emit r->rowChanged(row);
        }
    return true;
}

bool Recordset::addRecord(std::span<const QStringView> values) {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (lock_ == LockType::ReadOnly || !store_->hasRowids)
        return fail(QStringLiteral("此记录集是只读的，不能添加记录"));
    if (values.size() != size_t(store_->columns))
        return fail(QStringLiteral("新记录有 %1 个值，记录集有 %2 个字段")
                        .arg(values.size())
                        .arg(store_->columns));
    if (!commitEdit()) return false;
    return appendRow(nullptr, values);
}

bool Recordset::appendRow(const std::vector<QVariant>* buffer, std::span<const QStringView> views) {
    RowStore& s = *store_;
    const bool batch = lock_ == LockType::BatchOptimistic;
    if (batch && !buffer) {
        // As update() holds a pending value to its field's size.
        for (int c = 0; c < s.columns; ++c) {
            const FieldInfo& f = s.fields[size_t(c)];
            if (!f.origin.isEmpty() && !fitsField(f, views[size_t(c)]))
                return fail(tooLongMessage(f, views[size_t(c)]));
        }
    }
    const int slot = s.slotCount();
    s.rowids.push_back(0);
    s.pushPending(batch ? PendingNew : Clean);
    std::vector<Cell> row(size_t(s.columns));
    for (int c = 0; c < s.columns; ++c)
        row[size_t(c)] = buffer ? s.store((*buffer)[size_t(c)]) : s.storeView(views[size_t(c)]);
    s.cells.append(row.data(), s.arena);
    if (!batch && !writeThrough(slot, buffer, true)) {
        s.rowids.pop_back();
        s.popPending();
        s.cells.removeLast();
        return false;
    }
    s.tree.append();
    if (view_->filtered) view_->rows.push_back(slot);
    s.reindex(slot, nullptr, true);
    if (s.quiet == 0)
        for (Recordset* r : s.attached)
            if (r == this || !r->view_->filtered)
                emit r->rowsInserted(r->rowOfSlot(slot), r->rowOfSlot(slot));
    setCurrentSlot(slot);
    return true;
}

bool Recordset::deleteCurrent() {
    if (view_->adding) {
        cancelUpdate();
        return true;
    }
    if (!ensureRow()) return false;
    if (lock_ == LockType::ReadOnly || !store_->hasRowids)
        return fail(QStringLiteral("此记录集是只读的，不能删除记录"));
    cancelUpdate();
    RowStore& s = *store_;
    const int slot = view_->cur;
    if (s.pending[size_t(slot)] != PendingNew) {
        QString error;
        if (s.deleteSql.isEmpty())
            s.deleteSql =
                QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(sqliteIdent(s.baseTable));
        const QString& sql = s.deleteSql;
        sqlite3_stmt* st = s.statement(sql, &error);
        if (!st) return fail(error);
        sqlite3_bind_int64(st, 1, s.rowids[size_t(slot)]);
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_DONE) {
            s.conn->forgetChanges();
            return fail(s.conn->sqliteError(sql));
        }
        const int changed = sqlite3_changes(s.conn->db);
        if (changed == 0 && s.conn->kind == SourceKind::Sqlite)
            return fail(QStringLiteral("记录已被其他操作删除或修改，未能删除"));
        s.conn->noteRowChange(s.baseTable, s.rowids[size_t(slot)], &s, true, changed);
    }
    // Rows of every view that shows the slot, before it goes.
    std::vector<std::pair<Recordset*, int>> shown;
    if (s.quiet == 0)
        for (Recordset* r : s.attached) {
            const int row = r->rowOfSlot(slot);
            if (row < r->recordCount() && r->slotAt(row) == slot) shown.push_back({r, row});
        }
    s.tree.kill(slot);
    s.setPending(slot, Clean);
    s.originals.erase(slot);
    s.dirtyCols.erase(slot);
    ++s.deleteGeneration;
    view_->state = RecordsetView::OnDeleted;
    for (auto& [r, row] : shown)
        emit r->rowsRemoved(row, row);
    return true;
}

// ---- filter and find ---------------------------------------------------------------------

namespace {

bool resolve(const RowStore& s, Criterion* c, QString* error) {
    for (CriterionTerm& t : c->terms) {
        if (t.column >= 0 && t.column < s.columns &&
            s.fields[size_t(t.column)].name.compare(t.field, Qt::CaseInsensitive) == 0)
            continue; // resolved before
        t.column = -1;
        for (int i = 0; i < s.columns; ++i)
            if (s.fields[size_t(i)].name.compare(t.field, Qt::CaseInsensitive) == 0) {
                t.column = i;
                break;
            }
        if (t.column < 0) {
            *error = QStringLiteral("条件中的字段不存在：%1").arg(t.field);
            return false;
        }
    }
    return true;
}

// Candidate slotCount for a criterion, ascending, from a chosen index; all == every slot.
// The slots that can match the criterion, ascending, into list (its room kept: loops filter
// once per record); false when every slot can.
bool candidatesFor(RowStore& s, const Criterion& c, std::vector<int>* list) {
    list->clear();
    thread_local std::vector<const CriterionTerm*> eq;
    thread_local std::vector<int> cols;
    eq.clear();
    cols.clear();
    for (const CriterionTerm& t : c.terms)
        if (t.op == CriterionTerm::Equal) eq.push_back(&t);
    if (!eq.empty()) {
        std::sort(eq.begin(), eq.end(), [](auto* a, auto* b) { return a->column < b->column; });
        uint64_t h = 1469598103934665603ull;
        for (const CriterionTerm* t : eq) {
            cols.push_back(t->column);
            h = hashFolded(t->key.data(), int(t->key.size()), h);
        }
        EqualityIndex* ix = s.equalityIndex(cols);
        for (int slot = ix->head(h); slot >= 0; slot = ix->next(slot))
            list->push_back(slot);
        return true;
    }
    // Like terms only: the rarest bigram of their literal runs.
    const CriterionTerm* best = nullptr;
    char16_t ba = 0, bb = 0;
    size_t bestCost = size_t(-1);
    for (const CriterionTerm& t : c.terms) {
        for (const std::u16string& run : likeLiteralRuns(t.pattern)) {
            if (run.size() < 2) continue;
            BigramIndex* ix = s.bigramIndex(t.column);
            for (size_t i = 0; i + 1 < run.size(); ++i) {
                const size_t cost = ix->estimate(run[i], run[i + 1]);
                if (cost < bestCost) {
                    bestCost = cost;
                    best = &t;
                    ba = run[i];
                    bb = run[i + 1];
                }
            }
        }
    }
    if (!best) return false;
    *list = s.bigramIndex(best->column)->candidates(ba, bb);
    return true;
}

} // namespace

bool Recordset::setFilter(const QString& criterion) {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    Criterion c;
    QString error;
    if (!criterion.trimmed().isEmpty() && !parseCriterion(criterion, &c, &error))
        return fail(error);
    return setFilter(c);
}

QString Recordset::filter() const {
    return view_->filtered ? criterionText(view_->criterion) : QString();
}

bool Recordset::setFilter(Criterion& criterion) {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (!commitEdit()) return false;
    RowStore& s = *store_;
    if (criterion.empty()) {
        view_->filtered = false;
        view_->rows.clear();
        view_->criterion = Criterion{};
    } else {
        QString error;
        if (!resolve(s, &criterion, &error)) return fail(error);
        const Criterion& c = criterion;
        std::vector<int>& cand = view_->candidates;
        const bool some = candidatesFor(s, c, &cand);
        std::vector<int>& rows = view_->rows;
        rows.clear();
        if (!some) {
            for (int slot = 0; slot < s.slotCount(); ++slot)
                if (s.tree.live(slot) && s.matches(c, slot)) rows.push_back(slot);
        } else {
            for (int slot : cand)
                if (s.tree.live(slot) && s.matches(c, slot)) rows.push_back(slot);
        }
        view_->filtered = true;
        view_->seenDeletes = s.deleteGeneration;
        view_->criterion = criterion;
    }
    setCurrentSlot(recordCount() > 0 ? slotAt(0) : -1);
    notifyReset();
    return true;
}

bool Recordset::find(const QString& criterion) {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    Criterion c;
    QString error;
    if (!parseCriterion(criterion, &c, &error)) return fail(error);
    return find(c);
}

bool Recordset::find(Criterion& criterion) {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (!commitEdit()) return false;
    RowStore& s = *store_;
    QString error;
    if (!resolve(s, &criterion, &error)) return fail(error);
    const Criterion& c = criterion;
    if (c.empty()) return fail(QStringLiteral("查找条件为空"));
    int start;
    switch (view_->state) {
    case RecordsetView::Eof:
        return false;
    case RecordsetView::Bof:
        start = 0;
        break;
    case RecordsetView::OnDeleted:
        start = view_->cur + 1;
        break;
    default:
        start = view_->cur;
        break;
    }
    purge(s, *view_);
    auto visible = [&](int slot) {
        if (!s.tree.live(slot)) return false;
        return !view_->filtered || std::binary_search(view_->rows.begin(), view_->rows.end(), slot);
    };
    std::vector<int>& cand = view_->candidates;
    const bool some = candidatesFor(s, c, &cand);
    int found = -1;
    if (!some) {
        for (int row = rowOfSlot(start), n = recordCount(); row < n; ++row) {
            const int slot = slotAt(row);
            if (s.matches(c, slot)) {
                found = slot;
                break;
            }
        }
    } else {
        auto it = std::lower_bound(cand.begin(), cand.end(), start);
        for (; it != cand.end(); ++it)
            if (visible(*it) && s.matches(c, *it)) {
                found = *it;
                break;
            }
    }
    setCurrentSlot(found);
    return found >= 0;
}

bool Recordset::requery() {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (hasPendingChanges()) return fail(QStringLiteral("有未保存的修改，请先保存或取消"));
    cancelUpdate();
    Criterion filter = view_->filtered ? view_->criterion : Criterion{};
    int dropped = 0;
    if (store_->refresh(&dropped)) {
        // The rows in memory are the table's: the view starts again on them, as after reading.
        RowStore& s = *store_;
        *view_ = RecordsetView{};
        view_->seenDeletes = s.deleteGeneration;
        if (dropped > 0)
            for (Recordset* r : s.attached) {
                if (r == this) continue;
                if (r->view_->state == RecordsetView::OnRow && !s.tree.live(r->view_->cur))
                    r->view_->state = RecordsetView::OnDeleted;
                r->notifyReset(); // the clones' views lose the deleted rows too
            }
        if (!filter.empty()) return setFilter(filter);
        setCurrentSlot(s.tree.count() > 0 ? s.tree.select(1) : -1);
        notifyReset();
        return true;
    }
    const QString source = source_;
    const Connection conn = connection_;
    const LockType lock = lock_;
    const CursorType type = type_;
    if (!open(source, conn, type, lock)) return false;
    if (!filter.empty()) return setFilter(filter);
    return true;
}

bool Recordset::hasPendingChanges() const {
    if (!store_) return false;
    return store_->pendingCount > 0;
}

std::vector<int> Recordset::pendingRows() const {
    std::vector<int> rows;
    if (!store_ || store_->pendingCount == 0) return rows;
    const RowStore& s = *store_;
    for (int slot = 0; slot < s.slotCount(); ++slot)
        if (s.pending[size_t(slot)] != Clean && s.tree.live(slot)) {
            const int row = rowOfSlot(slot);
            if (slotAt(row) == slot) rows.push_back(row);
        }
    return rows;
}

bool Recordset::updateBatch() {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    if (!commitEdit()) return false;
    RowStore& s = *store_;
    std::vector<int> todo;
    for (int slot = 0; slot < s.slotCount(); ++slot)
        if (s.pending[size_t(slot)] != Clean && s.tree.live(slot)) todo.push_back(slot);
    if (todo.empty()) return true;
    Connection conn = connection_;
    if (!conn.beginTransaction()) return fail(conn.errorString());
    std::vector<qint64> newRowids;
    for (int slot : todo) {
        const bool isNew = s.pending[size_t(slot)] == PendingNew;
        if (!writeThrough(slot, nullptr, isNew)) {
            const QString err = error_;
            conn.rollback();
            for (int t : todo)
                if (s.pending[size_t(t)] == PendingNew) s.rowids[size_t(t)] = 0;
            return fail(err);
        }
    }
    if (!conn.commit()) {
        for (int t : todo)
            if (s.pending[size_t(t)] == PendingNew) s.rowids[size_t(t)] = 0;
        return fail(conn.errorString());
    }
    for (int slot : todo) {
        s.setPending(slot, Clean);
        s.originals.erase(slot);
        s.dirtyCols.erase(slot);
    }
    return true;
}

bool Recordset::cancelBatch() {
    if (!store_) return fail(QStringLiteral("记录集没有打开"));
    cancelUpdate();
    RowStore& s = *store_;
    bool any = false;
    for (int slot = 0; slot < s.slotCount(); ++slot) {
        if (s.pending[size_t(slot)] == PendingNew) {
            s.tree.kill(slot);
            ++s.deleteGeneration;
            any = true;
        } else if (s.pending[size_t(slot)] == PendingModified) {
            s.unindex(slot, nullptr);
            s.setRow(slot, s.originals[slot]);
            s.reindex(slot, nullptr, false);
            any = true;
        }
        s.setPending(slot, Clean);
    }
    s.originals.clear();
    s.dirtyCols.clear();
    if (any) {
        if (view_->state == RecordsetView::OnRow && !s.tree.live(view_->cur))
            setCurrentSlot(recordCount() > 0 ? slotAt(0) : -1);
        for (Recordset* r : s.attached)
            r->notifyReset();
    }
    return true;
}

bool Recordset::setValueAt(int row, int column, const QVariant& value) {
    const int slot = slotAt(row);
    if (slot < 0) return fail(QStringLiteral("行号超出范围"));
    if (!commitEdit()) return false;
    setCurrentSlot(slot);
    return setValue(column, value) && update();
}

void Recordset::notifyReset() {
    if (store_ && store_->quiet > 0) return;
    emit rowsReset();
}

std::vector<int> Recordset::equalGroups(const std::vector<int>& columns) const {
    const int n = recordCount();
    std::vector<int> group(size_t(n), -1);
    if (!store_ || n == 0) return group;
    const RowStore& s = *store_;
    std::vector<int> slotOf(static_cast<size_t>(n));
    if (view_->filtered) {
        for (int r = 0; r < n; ++r)
            slotOf[size_t(r)] = slotAt(r);
    } else { // the rows are the live slots in their order
        for (int slot = 0, r = 0; slot < s.slotCount() && r < n; ++slot)
            if (s.tree.live(slot)) slotOf[size_t(r++)] = slot;
    }
    // The rows by the hash of their values; rows of one hash are then told apart by comparing
    // them with the first row of each group already found among them. A long table is hashed and
    // sorted in parts side by side, the parts then merged: (hash, row) pairs are all different,
    // so the order is the one a single sort gives.
    const int parts = std::clamp(n / 32768, 1, formats::workerThreads());
    std::vector<std::vector<std::pair<uint64_t, int>>> sorted(static_cast<size_t>(parts));
    formats::onThreads(parts, [&](int part) {
        const int from = int(qint64(n) * part / parts), to = int(qint64(n) * (part + 1) / parts);
        std::vector<std::pair<uint64_t, int>>& mine = sorted[size_t(part)];
        mine.reserve(size_t(to - from));
        for (int r = from; r < to; ++r)
            if (uint64_t h = 0; s.keyOf(columns, slotOf[size_t(r)], &h)) mine.push_back({h, r});
        std::sort(mine.begin(), mine.end());
    });
    std::vector<std::pair<uint64_t, int>> keys = std::move(sorted[0]);
    for (size_t part = 1; part < sorted.size(); ++part) {
        const auto middle = keys.insert(keys.end(), sorted[part].begin(), sorted[part].end());
        std::inplace_merge(keys.begin(), middle, keys.end());
        sorted[part] = {};
    }
    auto same = [&](int a, int b) {
        for (int c : columns) {
            const QStringView x = s.normalised(s.cell(slotOf[size_t(a)], c));
            const QStringView y = s.normalised(s.cell(slotOf[size_t(b)], c));
            if (!equalsFolded(x.utf16(), int(x.size()), y.utf16(), int(y.size()))) return false;
        }
        return true;
    };
    int groups = 0;
    std::vector<int> firsts;
    for (size_t i = 0; i < keys.size();) {
        size_t j = i;
        firsts.clear();
        for (; j < keys.size() && keys[j].first == keys[i].first; ++j) {
            const int row = keys[j].second;
            int g = -1;
            for (int first : firsts)
                if (same(first, row)) {
                    g = group[size_t(first)];
                    break;
                }
            if (g < 0) {
                g = groups++;
                firsts.push_back(row);
            }
            group[size_t(row)] = g;
        }
        i = j;
    }
    return group;
}

void Recordset::releaseIndexes() {
    if (!store_) return;
    store_->equalityIndexes.clear();
    store_->bigramIndexes.clear();
}

void Recordset::suspendNotifications() {
    if (store_) ++store_->quiet;
}

void Recordset::resumeNotifications() {
    if (!store_ || store_->quiet == 0) return;
    if (--store_->quiet == 0)
        for (Recordset* r : store_->attached) {
            emit r->rowsReset();
            emit r->currentRowChanged(r->currentRow());
        }
}

} // namespace db
