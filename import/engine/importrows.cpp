#include "import/engine/importrows.h"

#include "db/criteria.h"
#include "db/formats/characters.h"
#include "db/formats/textcell.h"
#include "db/formats/threads.h"
#include "db/sqltext.h"
#include "db/tablerows.h"

#include <sqlite3.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace sources {

namespace {
const QString importedTable = QStringLiteral("ClienttableELS");

// Writes the rows into the table on a thread of its own while the next ones are read and kept:
// a few thousand rows at a time, each batch holding its own copy of the values. With one thread
// (CHACHONG_THREADS=1, or none to be had) a batch is written where it is made. The statement and
// the connection are this writer's alone until finish().
class Inserter {
public:
    // insert stores one row; many, if there is one, kMany rows at a time.
    Inserter(sqlite3* db, sqlite3_stmt* insert, sqlite3_stmt* many, int columns)
        : db_(db), insert_(insert), many_(many), columns_(columns) {
        spare_.reserve(4);
        if (formats::workerThreads() < 2) return;
        try {
            thread_ = std::thread([this] { work(); });
        } catch (const std::system_error&) {
        }
    }
    ~Inserter() { finish(true); }
    Inserter(const Inserter&) = delete;
    Inserter& operator=(const Inserter&) = delete;

    // One row: columns_ values, a null view for a value left unbound (NULL).
    void add(std::span<const QStringView> values) {
        for (const QStringView v : values) {
            if (v.isNull()) {
                next_.cells.push_back({0, -1});
                continue;
            }
            next_.cells.push_back({uint32_t(next_.text.size()), int32_t(v.size())});
            next_.text.insert(next_.text.end(), v.utf16(), v.utf16() + v.size());
        }
        if (++next_.rows >= 4096 || next_.text.size() >= (size_t(1) << 20)) handOff();
    }
    // Every row given is written (stopped: none after the batch being written), and the thread
    // is gone. Only the first call does anything.
    void finish(bool stopped = false) {
        if (finished_) return;
        finished_ = true;
        if (stopped) {
            const std::lock_guard lock(mutex_);
            queue_.clear();
            next_.clear();
        } else if (next_.rows > 0) {
            handOff();
        }
        if (thread_.joinable()) {
            {
                const std::lock_guard lock(mutex_);
                done_ = true;
            }
            wake_.notify_all();
            thread_.join();
        }
    }

    // Rows stored by one statement: a sixth of the time a row takes alone goes into running
    // the statement at all.
    static constexpr int kMany = 16;

    int copied = 0;
    int failed = 0;
    QString error;
    // Row n got rowid n, as it does in a table that was empty.
    bool rowidsInOrder = true;

private:
    struct Batch {
        std::vector<char16_t> text;
        std::vector<formats::TextCell> cells;
        int rows = 0;
        void clear() {
            text.clear();
            cells.clear();
            rows = 0;
        }
    };

    void handOff() {
        if (!thread_.joinable()) {
            write(next_);
            next_.clear();
            return;
        }
        std::unique_lock lock(mutex_);
        // Two batches waiting at most: memory stays a few megabytes whatever the table's size.
        room_.wait(lock, [&] { return queue_.size() < 2; });
        queue_.push_back(std::move(next_));
        if (spare_.empty()) {
            next_ = Batch();
        } else {
            next_ = std::move(spare_.back());
            spare_.pop_back();
        }
        next_.clear();
        lock.unlock();
        wake_.notify_one();
    }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return !queue_.empty() || done_; });
            if (queue_.empty()) return;
            Batch batch = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            room_.notify_one();
            write(batch);
            lock.lock();
            spare_.push_back(std::move(batch));
        }
    }

    void write(const Batch& batch) {
        size_t at = 0;
        int row = 0;
        for (; many_ && batch.rows - row >= kMany; row += kMany) {
            for (int r = 0; r < kMany; ++r)
                bindRow(many_, r * columns_, batch, at + size_t(r * columns_));
            const bool done = sqlite3_step(many_) == SQLITE_DONE;
            sqlite3_reset(many_);
            if (done) {
                copied += kMany;
                rows_ += kMany;
                // Rowids only grow: the last being the count, all of them are in order.
                rowidsInOrder = rowidsInOrder && sqlite3_last_insert_rowid(db_) == rows_;
                at += size_t(kMany * columns_);
                continue;
            }
            // One of them was refused, and the others with it: each alone says which.
            for (int r = 0; r < kMany; ++r, at += size_t(columns_))
                writeOne(batch, at);
        }
        for (; row < batch.rows; ++row, at += size_t(columns_))
            writeOne(batch, at);
    }

    // Binds a row's values from parameter first + 1 on. The working database keeps UTF-16: a
    // value is bound where it lies, neither copied nor converted, until the row is stored.
    void bindRow(sqlite3_stmt* st, int first, const Batch& batch, size_t at) const {
        for (int i = 0; i < columns_; ++i) {
            const formats::TextCell c = batch.cells[at + size_t(i)];
            if (c.length >= 0)
                sqlite3_bind_text16(st, first + i + 1, batch.text.data() + c.offset,
                                    int(c.length * 2), SQLITE_STATIC);
            else
                sqlite3_bind_null(st, first + i + 1);
        }
    }

    void writeOne(const Batch& batch, size_t at) {
        bindRow(insert_, 0, batch, at);
        ++rows_;
        if (sqlite3_step(insert_) == SQLITE_DONE) {
            ++copied;
            rowidsInOrder = rowidsInOrder && sqlite3_last_insert_rowid(db_) == rows_;
        } else {
            ++failed;
            if (error.isEmpty()) error = QString::fromUtf8(sqlite3_errmsg(db_));
        }
        sqlite3_reset(insert_);
    }

    sqlite3* db_;
    sqlite3_stmt* insert_;
    sqlite3_stmt* many_;
    int columns_;
    qint64 rows_ = 0;
    Batch next_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_, room_;
    std::deque<Batch> queue_;
    std::vector<Batch> spare_;
    bool done_ = false;
    bool finished_ = false;
};

} // namespace

ImportResult importRows(core::AppState& st, core::ProgressSink& sink) {
    ImportResult r;
    const db::RecordsetPtr source = st.RsSource; // kept alive for the whole copy
    if (!core::isOpen(source)) return r;
    r.sourceOpen = true;
    // Nothing copied: every row of the source failed.
    auto failAll = [&](const QString& why) {
        r.total = int(std::max<qint64>(0, source->connection().rowCount(source->baseTable())));
        r.failed = r.total;
        r.error = why;
        return r;
    };

    // The rows as they are written are kept as the recordset over ClienttableELS that
    // reopenImported gives RsSource (the table holds nothing else): not read back.
    auto target = std::make_shared<db::Recordset>();
    target->setCursorLocation(db::CursorLocation::Client);
    if (!target->openFields(db::sql::selectAll(importedTable), st.WorkConn))
        return failAll(target->errorString());
    const bool keep = st.WorkConn.rowCount(importedTable) == 0;
    const int columns = std::min(target->fieldCount(), source->fieldCount());
    std::vector<int> widths;
    QStringList names, marks;
    for (int i = 0; i < columns; ++i) {
        widths.push_back(target->definedSize(i));
        names << db::sql::ident(target->fieldName(i));
        marks << QStringLiteral("?");
    }
    if (columns == 0) return failAll(QStringLiteral("导入数据表没有字段"));
    const QString into = QStringLiteral("INSERT INTO ") + db::sql::ident(importedTable) +
                         QStringLiteral(" (") + names.join(QStringLiteral(", ")) +
                         QStringLiteral(") VALUES ");
    const QString oneRow = QLatin1Char('(') + marks.join(QStringLiteral(", ")) + QLatin1Char(')');
    sqlite3* h = st.WorkConn.handle();
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(h, (into + oneRow).toUtf8().constData(), -1, &insert, nullptr) !=
        SQLITE_OK)
        return failAll(QString::fromUtf8(sqlite3_errmsg(h)));
    QStringList rows(Inserter::kMany, oneRow);
    sqlite3_stmt* many = nullptr; // rows one at a time where SQLite takes no more parameters
    if (sqlite3_prepare_v2(h, (into + rows.join(QStringLiteral(", "))).toUtf8().constData(), -1,
                           &many, nullptr) != SQLITE_OK)
        many = nullptr;
    const bool ownTransaction = !st.WorkConn.inTransaction() && st.WorkConn.beginTransaction();
    // The rows straight from the source's table, once: RsSource holds its fields only.
    qint64 total = 0;
    qint64 row = 0;
    QString readError;
    std::vector<QStringView> written(static_cast<size_t>(columns));
    Inserter inserter(h, insert, many, columns);
    const bool read = db::readTable(
        source->connection(), source->baseTable(), &total,
        [&](std::span<const QStringView> values) {
            if (row == 0) r.total = int(total);
            if (!sink.progress(int(row), r.total)) {
                r.cancelled = true;
                return false;
            }
            ++row;
            for (int i = 0; i < columns; ++i) {
                if (size_t(i) >= values.size()) { // a short row: the rest stay null
                    written[size_t(i)] = QStringView();
                    continue;
                }
                // The first D characters of the value, then blanks trimmed: the program's one
                // trimming rule (spaces only; line breaks inside a value are data). A null
                // value is imported as an empty text, as before.
                QStringView text = values[size_t(i)];
                if (widths[size_t(i)] > 0) text = formats::firstCodePoints(text, widths[size_t(i)]);
                text = db::trimBlanks(text);
                if (text.isNull()) text = QStringView(u"", 0);
                written[size_t(i)] = text;
            }
            inserter.add(written);
            // Kept as it is written; dropped below unless every row got the rowid foreseen.
            if (keep) target->adoptRow(row, written, total);
            return true;
        },
        &readError);
    inserter.finish(r.cancelled);
    r.copied = inserter.copied;
    r.failed = inserter.failed;
    r.error = inserter.error;
    r.total = int(total);
    if (!read) {
        r.failed = r.total - r.copied;
        if (r.error.isEmpty()) r.error = readError;
    }
    sqlite3_finalize(insert);
    sqlite3_finalize(many);
    if (r.cancelled) {
        if (ownTransaction) st.WorkConn.rollback();
        r.copied = 0;
        return r;
    }
    sink.progress(r.total, r.total);
    if (ownTransaction && !st.WorkConn.commit()) {
        st.WorkConn.rollback();
        r.failed = r.total;
        r.copied = 0;
        if (r.error.isEmpty()) r.error = st.WorkConn.errorString();
    }
    if (keep && inserter.rowidsInOrder && ownTransaction && r.failed == 0 && r.copied == r.total) {
        target->adoptDone();
        r.rows = target;
    }
    return r;
}

bool reopenImported(core::AppState& st, ImportResult& result) {
    result.reopened = false;
    if (!result.sourceOpen) return false;
    // The source's rows go first: a list of a million rows is not held twice.
    st.RsSource.reset();
    if (result.rows && !result.cancelled) {
        st.RsSource = std::move(result.rows);
        result.reopened = true;
        return true;
    }
    auto rs = std::make_shared<db::Recordset>();
    rs->setCursorLocation(db::CursorLocation::Client);
    const bool opened = rs->open(db::sql::selectAll(importedTable), st.WorkConn);
    st.RsSource = opened ? rs : nullptr;
    if (!opened) {
        result.error = QStringLiteral("导入的数据无法打开：\n%1").arg(rs->errorString());
        return false;
    }
    result.reopened = !result.cancelled && result.failed == 0 && result.copied == result.total;
    return result.reopened;
}

QString importProblem(const ImportResult& result) {
    if (result.reopened) return {};
    if (result.cancelled) return QStringLiteral("导入已停止，没有导入任何数据。");
    // Every row arrived but the table could not be opened again.
    if (result.failed == 0 && result.copied == result.total) return result.error;
    return QStringLiteral("共 %1 行数据，已导入 %2 行，有 %3 行未能导入。\n%4")
        .arg(result.total)
        .arg(result.copied)
        .arg(result.failed)
        .arg(result.error);
}

} // namespace sources
