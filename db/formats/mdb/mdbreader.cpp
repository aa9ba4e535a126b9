#include "db/formats/mdb/mdbreader.h"

#include "db/formats/bytes.h"
#include "db/formats/mdb/mdbvalue.h"

#include <glib.h>
extern "C" {
#include <mdbtools.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <strings.h>
#include <sys/stat.h>

namespace mdb::detail {

namespace {

constexpr int kRowOffsetMask = 0x1fff; // row offsets carry flags in their top bits
constexpr int kLongValueHeader = 12;   // MDB_MEMO_OVERHEAD: length word + page/row + reserved
constexpr std::uint32_t kInlineValue = 0x80000000u;
constexpr std::uint32_t kSinglePageValue = 0x40000000u;
constexpr std::uint32_t kLongValueFlags = 0xff000000u;

bool g_isolated = true;
ReadFunction g_read = nullptr;
int g_silenceTimeoutMs = 30000;

std::string format(const char* fmt, const std::string& a, const std::string& b = {},
                   const std::string& c = {}) {
    // Messages are built from at most three strings; %1 %2 %3 stand for them.
    std::string out;
    for (const char* p = fmt; *p; ++p) {
        if (p[0] == '%' && p[1] >= '1' && p[1] <= '3') {
            out += p[1] == '1' ? a : p[1] == '2' ? b : c;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

std::string corruptTable(const std::string& table) {
    return format("表“%1”的结构无法读取，文件可能已损坏。", table);
}

// Text decoding: mdbtools decodes table names, column names and text values through
// mdb->iconv_in. Set it up here explicitly (UTF-8 out; UCS-2 for Jet 4 and ACE, the code page of
// the database header for Jet 3) instead of trusting whatever MDBICONV says in the environment.
void setUpDecoding(MdbHandle* mdb) {
    std::string from = "UCS-2LE";
    if (IS_JET3(mdb)) {
        const char* forced = std::getenv("MDB_JET3_CHARSET"); // the user's explicit choice
        if (forced && *forced)
            from = forced;
        else if (mdb->f->code_page != 0)
            from = "CP" + std::to_string(mdb->f->code_page);
        else
            from = "CP1252";
    }
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == iconv_t(-1) && IS_JET3(mdb)) cd = iconv_open("UTF-8", "CP1252");
    if (cd == iconv_t(-1)) return; // keep what mdbtools chose
    if (mdb->iconv_in != iconv_t(-1)) iconv_close(mdb->iconv_in);
    mdb->iconv_in = cd;
}

std::string decodeText(MdbHandle* mdb, const void* src, size_t len) {
    if (len == 0) return {};
    // UTF-8 needs at most 3 bytes for each stored byte (a code page byte or half a UCS-2 unit).
    const size_t cap = len * 3 + 16;
    std::unique_ptr<char[]> buf(new char[cap + 1]);
    const int n = mdb_unicode2ascii(mdb, static_cast<const char*>(src), len, buf.get(), cap);
    return std::string(buf.get(), size_t(std::clamp(n, 0, int(cap))));
}

// A memo or OLE value: up to 12 header bytes in the row, the data inline, in one row of a
// long-value page, or in a chain of such rows. Returns false when the data cannot be followed.
bool readLongValue(MdbHandle* mdb, int start, int size, std::uint64_t fileSize, std::string* out) {
    out->clear();
    if (size == 0) return true;
    if (size < kLongValueHeader) return false;
    const std::uint32_t header = std::uint32_t(mdb_get_int32(mdb->pg_buf, start));
    const std::uint32_t length = header & ~kLongValueFlags;
    if (header & kInlineValue) {
        out->assign(reinterpret_cast<const char*>(mdb->pg_buf) + start + kLongValueHeader,
                    size_t(size - kLongValueHeader));
        return true;
    }
    if (length > fileSize) return false;
    std::int32_t pgRow = std::int32_t(mdb_get_int32(mdb->pg_buf, start + 4));
    void* buf = nullptr;
    int off = 0;
    size_t len = 0;
    // A row of a long-value page; such pages are data pages marked "LVAL".
    auto findPart = [&](std::int32_t where) {
        if (mdb_find_pg_row(mdb, where, &buf, &off, &len) != 0) return false;
        const auto* page = static_cast<const unsigned char*>(buf);
        return page[0] == MDB_PAGE_DATA && std::memcmp(page + 4, "LVAL", 4) == 0;
    };
    if (header & kSinglePageValue) {
        if (!findPart(pgRow) || len < length) return false;
        out->assign(static_cast<const char*>(buf) + off, length);
        return true;
    }
    if (header & kLongValueFlags) return false; // a kind of long value nobody documented
    while (out->size() < length) {
        // Every link carries data, so a chain longer than the value is a loop in a damaged file.
        if (pgRow == 0 || !findPart(pgRow) || len <= 4) return false;
        const char* row = static_cast<const char*>(buf) + off;
        const size_t chunk = std::min(len - 4, size_t(length) - out->size());
        out->append(row + 4, chunk);
        pgRow = std::int32_t(mdb_get_int32(buf, off));
    }
    return true;
}

Kind kindOf(const MdbColumn* col) {
    switch (col->col_type) {
    case MDB_BOOL:
        return Kind::Bool;
    case MDB_BYTE:
        return Kind::Byte;
    case MDB_INT:
        return Kind::Int16;
    case MDB_LONGINT:
        return Kind::Int32;
    case MDB_MONEY:
        return Kind::Currency;
    case MDB_FLOAT:
        return Kind::Single;
    case MDB_DOUBLE:
        return Kind::Double;
    case MDB_DATETIME:
        return Kind::DateTime;
    case MDB_TEXT:
        return Kind::Text;
    case MDB_MEMO:
        return Kind::Memo;
    case MDB_OLE:
        return Kind::Ole;
    case MDB_BINARY:
        return Kind::Binary;
    case MDB_REPID:
        return Kind::Guid;
    case MDB_NUMERIC:
        return Kind::Decimal;
    default:
        return Kind::Unsupported;
    }
}

// Fixed-size kinds and the bytes they need in a row.
int fixedWidth(Kind kind) {
    switch (kind) {
    case Kind::Byte:
        return 1;
    case Kind::Int16:
        return 2;
    case Kind::Int32:
    case Kind::Single:
        return 4;
    case Kind::Currency:
    case Kind::Double:
    case Kind::DateTime:
        return 8;
    case Kind::Guid:
        return 16;
    case Kind::Decimal:
        return 17;
    default:
        return 0;
    }
}

struct TableCloser {
    void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};
using TablePtr = std::unique_ptr<MdbTableDef, TableCloser>;

struct HandleCloser {
    void operator()(MdbHandle* h) const { mdb_close(h); }
};

class TableReader {
public:
    TableReader(MdbHandle* mdb, MdbTableDef* table, const std::vector<Column>& columns,
                std::uint64_t fileSize)
        : mdb_(mdb), table_(table), columns_(columns), fileSize_(fileSize),
          fields_(table->num_cols), values_(table->num_cols), wanted_(table->num_cols, true) {}

    // Leaves every column but these NULL (the catalogue needs four of its columns).
    void only(const std::vector<size_t>& columns) {
        wanted_.assign(wanted_.size(), false);
        for (size_t c : columns)
            wanted_.at(c) = true;
    }

    // Reads every row into the sink; returns an error text or "".
    std::string run(Sink& sink, bool withRows) {
        mdb_rewind_table(table_);
        unsigned long count = 0;
        while (mdb_fetch_row(table_)) {
            ++count;
            if (!withRows) continue;
            std::string error = crackCurrentRow(count);
            if (!error.empty()) return error;
            if (!sink.row(values_)) return kStopped;
        }
        // Jet keeps the row count of every table in its definition: fewer rows means pages that
        // are missing or unreadable, and a copy without them would lose records silently.
        if (count < table_->num_rows) {
            return format(
                "表“%1”的数据不完整（应有 %2 行，只读到 %3 行），文件可能已损坏或不完整。",
                table_->name, std::to_string(table_->num_rows), std::to_string(count));
        }
        return {};
    }

private:
    std::string damaged(unsigned long row, const std::string& column) const {
        return format("表“%1”第 %2 行的字段“%3”数据已损坏。", table_->name, std::to_string(row),
                      column);
    }
    std::string damagedRow(unsigned long row) const {
        return format("表“%1”第 %2 行已损坏。", table_->name, std::to_string(row));
    }

    std::string crackCurrentRow(unsigned long rowNumber) {
        // mdb_fetch_row leaves the data page in pg_buf and cur_row one past the row it read.
        int start = 0;
        size_t size = 0;
        if (table_->cur_row == 0 || mdb_find_row(mdb_, int(table_->cur_row) - 1, &start, &size))
            return damagedRow(rowNumber);
        start &= kRowOffsetMask;
        if (mdb_crack_row(table_, start, size, fields_.data()) < 0) return damagedRow(rowNumber);
        for (auto& v : values_)
            v = Value{};
        const int pageSize = int(mdb_->fmt->pg_size);
        for (size_t i = 0; i < fields_.size(); ++i) {
            const MdbField& f = fields_[i];
            if (f.colnum < 0 || size_t(f.colnum) >= columns_.size()) return damagedRow(rowNumber);
            const Column& col = columns_[size_t(f.colnum)];
            Value& v = values_[size_t(f.colnum)];
            if (col.kind == Kind::Bool) { // the null mask holds a Yes/No value
                v.type = Value::Text;
                v.data = f.is_null ? "False" : "True";
                continue;
            }
            if (f.is_null || col.kind == Kind::Unsupported || !wanted_[size_t(f.colnum)]) continue;
            if (f.start < 0 || f.siz < 0 || f.start + f.siz > pageSize ||
                f.siz < fixedWidth(col.kind))
                return damaged(rowNumber, col.name);
            if (!convert(col, f.start, f.siz, &v)) return damaged(rowNumber, col.name);
        }
        return {};
    }

    bool convert(const Column& col, int start, int size, Value* v) {
        unsigned char* pg = mdb_->pg_buf;
        v->type = Value::Text;
        switch (col.kind) {
        case Kind::Byte:
            v->data = std::to_string(unsigned(pg[start]));
            return true;
        case Kind::Int16:
            v->data = std::to_string(std::int16_t(mdb_get_int16(pg, start)));
            return true;
        case Kind::Int32:
            v->data = std::to_string(std::int32_t(mdb_get_int32(pg, start)));
            return true;
        case Kind::Currency: {
            const auto raw = std::int64_t(formats::le64(reinterpret_cast<const char*>(pg) + start));
            v->data = value::currency(raw);
            return true;
        }
        case Kind::Single:
            v->data = value::single(mdb_get_single(pg, start));
            return true;
        case Kind::Double:
            v->data = value::dbl(mdb_get_double(pg, start));
            return true;
        case Kind::DateTime:
            v->data = value::dateTime(mdb_get_double(pg, start));
            return true;
        case Kind::Text:
            v->data = decodeText(mdb_, pg + start, size_t(size));
            return true;
        case Kind::Memo: {
            std::string raw;
            if (!readLongValue(mdb_, start, size, fileSize_, &raw)) return false;
            v->data = decodeText(mdb_, raw.data(), raw.size());
            return true;
        }
        case Kind::Ole:
            v->type = Value::Blob;
            return readLongValue(mdb_, start, size, fileSize_, &v->data);
        case Kind::Binary:
            v->type = Value::Blob;
            v->data.assign(reinterpret_cast<const char*>(pg) + start, size_t(size));
            return true;
        case Kind::Guid: {
            char* text = mdb_uuid_to_string(pg, start);
            v->data = text ? text : "";
            g_free(text);
            return true;
        }
        case Kind::Decimal: {
            if (col.precision < 1 || col.precision > 28 || col.scale < 0 ||
                col.scale > col.precision)
                return false;
            char* text = mdb_numeric_to_string(mdb_, start, col.scale, col.precision);
            v->data = value::trimDecimal(text ? text : "");
            g_free(text);
            return true;
        }
        case Kind::Bool:
        case Kind::Unsupported:
            break;
        }
        v->type = Value::Null;
        return true;
    }

    MdbHandle* mdb_;
    MdbTableDef* table_;
    const std::vector<Column>& columns_;
    std::uint64_t fileSize_;
    std::vector<MdbField> fields_;
    std::vector<Value> values_;
    std::vector<bool> wanted_;
};

std::vector<Column> columnsOf(MdbHandle* mdb, MdbTableDef* table) {
    std::vector<Column> columns;
    columns.reserve(table->num_cols);
    for (unsigned i = 0; i < table->num_cols; ++i) {
        const auto* c = static_cast<const MdbColumn*>(g_ptr_array_index(table->columns, i));
        Column col;
        col.name = c->name;
        col.kind = kindOf(c);
        col.size = c->col_size;
        if (col.kind == Kind::Text && !IS_JET3(mdb)) col.size /= 2; // UCS-2: bytes per char
        col.precision = c->col_prec;
        col.scale = c->col_scale;
        columns.push_back(std::move(col));
    }
    return columns;
}

// Opens a table definition with its columns; nullptr when the definition is damaged.
TablePtr openTable(MdbCatalogEntry* entry) {
    TablePtr table(mdb_read_table(entry));
    if (!table) return nullptr;
    // The usage map lists the table's data pages: a type 0 map is a start page and a bitmap, and
    // mdbtools reads a shorter one far out of bounds.
    if (!table->usage_map || table->map_sz < 1 || (table->usage_map[0] == 0 && table->map_sz < 5))
        return nullptr;
    if (!mdb_read_columns(table.get()) || table->num_cols == 0 || table->num_cols > MDB_MAX_COLS ||
        !table->columns || table->columns->len != table->num_cols)
        return nullptr;
    return table;
}

struct EntryFree {
    void operator()(MdbCatalogEntry* e) const { g_free(e); }
};
using CatalogEntry = std::unique_ptr<MdbCatalogEntry, EntryFree>;

// The user tables of the catalogue (the system table MSysObjects on page 2), in its order.
// mdbtools' own mdb_read_catalog also parses every object's property blob, where a damaged file
// sends it into an endless loop and long names overflow its buffers; tables need none of that.
std::string readCatalog(MdbHandle* mdb, std::uint64_t fileSize, std::vector<CatalogEntry>* out) {
    const std::string damaged = "数据库的对象目录已损坏，无法读取。";
    MdbCatalogEntry msysObjects{};
    msysObjects.mdb = mdb;
    msysObjects.object_type = MDB_TABLE;
    msysObjects.table_pg = 2;
    std::snprintf(msysObjects.object_name, sizeof msysObjects.object_name, "MSysObjects");
    TablePtr table = openTable(&msysObjects);
    if (!table) return damaged;
    const std::vector<Column> columns = columnsOf(mdb, table.get());
    auto find = [&](const char* name, Kind kind) {
        for (size_t i = 0; i < columns.size(); ++i)
            if (strcasecmp(columns[i].name.c_str(), name) == 0 && columns[i].kind == kind) return i;
        return columns.size();
    };
    const size_t id = find("Id", Kind::Int32), name = find("Name", Kind::Text),
                 type = find("Type", Kind::Int16), flags = find("Flags", Kind::Int32);
    if (id == columns.size() || name == columns.size() || type == columns.size() ||
        flags == columns.size())
        return damaged;

    class Collect : public Sink {
    public:
        Collect(MdbHandle* mdb, size_t id, size_t name, size_t type, size_t flags,
                std::vector<CatalogEntry>* out)
            : mdb_(mdb), id_(id), name_(name), type_(type), flags_(flags), out_(out) {}
        bool table(const std::string&, const std::vector<Column>&) override { return true; }
        bool row(const std::vector<Value>& v) override {
            if (v[id_].type == Value::Null || v[name_].type == Value::Null ||
                v[type_].type == Value::Null)
                return true; // not an object with a page of its own
            const std::string& objectName = v[name_].data;
            const long long objectType = std::stoll(v[type_].data) & 0x7f;
            const std::uint32_t objectFlags =
                v[flags_].type == Value::Null ? 0 : std::uint32_t(std::stoll(v[flags_].data));
            // Tables only (no queries, forms or linked tables), without the system tables:
            // flagged ones, and the MSys... names Access hides.
            if (objectType != MDB_TABLE || (objectFlags & 0x80000002u) ||
                strncasecmp(objectName.c_str(), "MSys", 4) == 0)
                return true;
            if (objectName.empty() || objectName.size() > MDB_MAX_OBJ_NAME) {
                badName_ = true;
                return false;
            }
            CatalogEntry e(static_cast<MdbCatalogEntry*>(g_malloc0(sizeof(MdbCatalogEntry))));
            e->mdb = mdb_;
            std::memcpy(e->object_name, objectName.c_str(), objectName.size() + 1);
            e->object_type = MDB_TABLE;
            e->table_pg = std::uint32_t(std::stoll(v[id_].data)) & 0x00ffffffu;
            e->flags = int(objectFlags);
            out_->push_back(std::move(e));
            return true;
        }
        bool badName_ = false;

    private:
        MdbHandle* mdb_;
        size_t id_, name_, type_, flags_;
        std::vector<CatalogEntry>* out_;
    } collect(mdb, id, name, type, flags, out);

    TableReader reader(mdb, table.get(), columns, fileSize);
    reader.only({id, name, type, flags});
    // The row count check of the reader also tells when rows of the catalogue are missing, which
    // would otherwise drop tables from the list without a word.
    const std::string error = reader.run(collect, true);
    if (collect.badName_) return damaged;
    if (!error.empty()) return "数据库的对象目录不完整，文件可能已损坏或不完整。";
    return {};
}
} // namespace

void setIsolated(bool on) {
    g_isolated = on;
}
bool isolated() {
    return g_isolated;
}
void setReadFunction(ReadFunction f) {
    g_read = f;
}
ReadFunction readFunction() {
    return g_read ? g_read : &readAccess;
}
void setSilenceTimeout(int ms) {
    g_silenceTimeoutMs = ms;
}
int silenceTimeout() {
    return g_silenceTimeoutMs;
}

std::string checkFile(const std::string& path, bool* notAccess) {
    *notAccess = false;
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return format("无法打开文件：%1。", std::strerror(errno));
    struct stat st {};
    if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
        *notAccess = true;
        return "它不是普通文件（可能是文件夹）。";
    }
    unsigned char head[0x20] = {};
    const size_t got = std::fread(head, 1, sizeof head, f.get());
    static const char jet[] = "Standard Jet DB";
    static const char ace[] = "Standard ACE DB";
    if (got < sizeof head || head[0] != 0 ||
        (std::memcmp(head + 4, jet, sizeof jet) != 0 &&
         std::memcmp(head + 4, ace, sizeof ace) != 0)) {
        *notAccess = true;
        return "文件开头没有 Access 数据库的标记。";
    }
    const unsigned version = head[0x14];
    if (version > MDB_VER_ACCDB_2019)
        return format("无法识别的 Access 文件版本（%1）。", std::to_string(version));
    const std::uint64_t pageSize = version == MDB_VER_JET3 ? 2048 : 4096;
    // A Jet file grows a page at a time; a length that is no whole number of pages (or too short
    // for the system catalogue on page 2) means the file was cut off.
    if (std::uint64_t(st.st_size) % pageSize != 0)
        return "文件不完整（长度不是整页数），可能在复制或下载时被截断。";
    if (std::uint64_t(st.st_size) < 3 * pageSize)
        return "文件不完整（太短，缺少系统目录），可能在复制或下载时被截断。";
    return {};
}

std::string readAccess(const std::string& path, bool withRows, Sink& sink) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return format("无法打开文件：%1。", std::strerror(errno));
    const std::uint64_t fileSize = std::uint64_t(st.st_size);

    std::unique_ptr<MdbHandle, HandleCloser> mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
    if (!mdb) return "mdbtools 无法打开这个数据库，文件可能已损坏。";
    mdb_set_date_fmt(mdb.get(), "%Y-%m-%d %H:%M:%S");
    setUpDecoding(mdb.get());

    std::vector<CatalogEntry> tables;
    std::string error = readCatalog(mdb.get(), fileSize, &tables);
    if (!error.empty()) return error;

    for (CatalogEntry& entry : tables) {
        const std::string name = entry->object_name;
        TablePtr table = openTable(entry.get());
        if (!table) return corruptTable(name);
        const std::vector<Column> columns = columnsOf(mdb.get(), table.get());
        if (!sink.table(name, columns)) return kStopped;
        if (!withRows) continue;
        error = TableReader(mdb.get(), table.get(), columns, fileSize).run(sink, true);
        if (!error.empty()) return error;
    }
    return {};
}

} // namespace mdb::detail
