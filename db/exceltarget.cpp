#include "db/exceltarget.h"

#include "db/connection_p.h"
#include "db/formats/filemode.h"
#include "db/formats/xls/biffwrite.h"
#include "db/formats/xls/xlsappend.h"
#include "db/formats/xlsxwrite/xlsxsheets.h"
#include "db/jetsql.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <cmath>
#include <memory>
#include <variant>

namespace db {

namespace {

using formats::xls::Cell;

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The two kinds of workbook behind one interface.
class Target {
public:
    virtual ~Target() = default;
    virtual bool openExisting(const QByteArray& file, const QString& path, QString* error) = 0;
    virtual bool openNew(QString* error) = 0;
    virtual QStringList sheetNames() const = 0;
    virtual bool beginSheet(const QString& name, QString* error) = 0;
    virtual bool addRow(const std::vector<Cell>& row, QString* error) = 0;
    virtual bool finish(QByteArray* out, QString* error) = 0;
    virtual int maxRows() const = 0;
    virtual int maxColumns() const = 0;
    virtual QString formatName() const = 0;
};

class XlsTarget : public Target {
public:
    bool openExisting(const QByteArray& file, const QString& path, QString* error) override {
        return a_.openExisting(file, path, error);
    }
    bool openNew(QString*) override {
        a_.openNew();
        return true;
    }
    QStringList sheetNames() const override { return a_.sheetNames(); }
    bool beginSheet(const QString& name, QString* error) override {
        return a_.beginSheet(name, error);
    }
    bool addRow(const std::vector<Cell>& row, QString* error) override {
        return a_.addRow(row, error);
    }
    bool finish(QByteArray* out, QString* error) override { return a_.finish(out, error); }
    int maxRows() const override { return formats::xls::biff::kMaxRows; }
    int maxColumns() const override { return formats::xls::biff::kMaxColumns; }
    QString formatName() const override { return QStringLiteral("Excel 97-2003工作表"); }

private:
    formats::xls::SheetAppender a_;
};

class XlsxTarget : public Target {
public:
    bool openExisting(const QByteArray& file, const QString& path, QString* error) override {
        return w_.openExisting(file, path, error);
    }
    bool openNew(QString* error) override { return w_.openNew(error); }
    QStringList sheetNames() const override { return w_.sheetNames(); }
    bool beginSheet(const QString& name, QString* error) override {
        return w_.beginSheet(name, error);
    }
    bool addRow(const std::vector<Cell>& row, QString* error) override {
        return w_.addRow(row, error);
    }
    bool finish(QByteArray* out, QString* error) override { return w_.finish(out, error); }
    int maxRows() const override { return formats::xlsxwrite::kMaxRows; }
    int maxColumns() const override { return formats::xlsxwrite::kMaxColumns; }
    QString formatName() const override { return QStringLiteral("Excel工作表"); }

private:
    formats::xlsxwrite::SheetWriter w_;
};

// A prepared statement, finalized when it goes out of scope.
struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
    bool prepare(sqlite3* db, const QString& sql) {
        const QByteArray u = sql.toUtf8();
        return sqlite3_prepare_v2(db, u.constData(), int(u.size()), &s, nullptr) == SQLITE_OK;
    }
};

bool tableExists(sqlite3* db, const QString& table) {
    Statement st;
    return !table.isEmpty() &&
           st.prepare(db, QStringLiteral("SELECT 1 FROM %1 LIMIT 0").arg(sqliteIdent(table)));
}

// One value of the table as a cell. Texts stay texts; whole numbers Excel cannot show with
// every digit (15 at most) and anything not finite become texts, so no digit is lost.
Cell cellOf(sqlite3_stmt* s, int i) {
    switch (sqlite3_column_type(s, i)) {
    case SQLITE_NULL:
        return Cell();
    case SQLITE_INTEGER: {
        const sqlite3_int64 v = sqlite3_column_int64(s, i);
        if (v > -1000000000000000LL && v < 1000000000000000LL) return Cell::ofNumber(double(v));
        return Cell::ofText(QString::number(v));
    }
    case SQLITE_FLOAT: {
        const double v = sqlite3_column_double(s, i);
        if (std::isfinite(v)) return Cell::ofNumber(v);
        return Cell::ofText(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, i))));
    }
    case SQLITE_BLOB: {
        const QByteArray b(static_cast<const char*>(sqlite3_column_blob(s, i)),
                           sqlite3_column_bytes(s, i));
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(b);
        if (b.isEmpty()) return Cell();
        return Cell::ofText(utf8.hasError() ? QStringLiteral("0x") + QString::fromLatin1(b.toHex())
                                            : text);
    }
    default: {
        const char* t = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        const QString text = QString::fromUtf8(t, sqlite3_column_bytes(s, i));
        return text.isEmpty() ? Cell() : Cell::ofText(text);
    }
    }
}

// The sheet names an export of so many records takes: the name given, then "<name>_2", ...
QString sheetName(const QString& base, int index) {
    return index == 0 ? base : base + QStringLiteral("_%1").arg(index + 1);
}

ExcelExportResult failed(const QString& error) {
    ExcelExportResult r;
    r.error = error;
    return r;
}

} // namespace

namespace {

// The workbook at path opened for a new sheet of records rows (a new one when there is no file),
// and every check that can be made before a record is read: the file a workbook of the kind its
// name says, writable, in a folder that can take the new file; every sheet name the rows take
// free. Empty, or why the export cannot be made.
QString openTarget(const QString& path, const QString& sheet, qint64 records,
                   std::unique_ptr<Target>* out) {
    if (const QString problem = formats::xls::biff::sheetNameProblem(sheet); !problem.isEmpty())
        return problem;
    if (path.trimmed().isEmpty()) return QStringLiteral("没有指定要导出到的Excel文件。");
    const bool xlsx = path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive);
    std::unique_ptr<Target> target =
        xlsx ? std::unique_ptr<Target>(new XlsxTarget) : std::unique_ptr<Target>(new XlsTarget);
    const qint64 perSheet = target->maxRows() - 1; // below the heading row
    const int sheetsNeeded = int(std::max<qint64>(1, (records + perSheet - 1) / perSheet));

    // The workbook: a new one, or the bytes of the existing one.
    const QFileInfo info(path);
    QString error;
    if (info.exists()) {
        if (info.isDir())
            return QStringLiteral("“%1”是一个文件夹，不是Excel文件。").arg(native(path));
        if (!formats::mayWrite(info))
            return QStringLiteral("Excel文件“%1”是只读的，不能向其中导出。").arg(native(path));
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return QStringLiteral("无法打开Excel文件“%1”：%2").arg(native(path), f.errorString());
        const QByteArray bytes = f.readAll();
        if (f.error() != QFileDevice::NoError)
            return QStringLiteral("无法读取Excel文件“%1”：%2").arg(native(path), f.errorString());
        if (!target->openExisting(bytes, path, &error)) return error;
    } else {
        if (!info.absoluteDir().exists())
            return QStringLiteral("文件夹不存在：%1").arg(native(info.absolutePath()));
        if (!target->openNew(&error)) return error;
    }
    // The new file is written beside the old one and renamed over it.
    if (!QFileInfo(info.absolutePath()).isWritable())
        return QStringLiteral("文件夹“%1”不可写，不能向其中导出。")
            .arg(native(info.absolutePath()));
    const QStringList existing = target->sheetNames();
    for (int k = 0; k < sheetsNeeded; ++k) {
        const QString name = sheetName(sheet, k);
        if (const QString problem = formats::xls::biff::sheetNameProblem(name); !problem.isEmpty())
            return QStringLiteral("表中有%1条记录，要分%2个工作表导出，续表名称“%3”不能用：%4"
                                  "请换一个较短的名称。")
                .arg(records)
                .arg(sheetsNeeded)
                .arg(name, problem);
        if (existing.contains(name, Qt::CaseInsensitive))
            return k == 0 ? QStringLiteral("重名，请重新命名！Excel文件中已有名为“%1”的工作表"
                                           "（Excel不区分大小写）。")
                                .arg(name)
                          : QStringLiteral("表中有%1条记录，要分%2个工作表导出，但Excel文件"
                                           "中已有名为“%3”的工作表，请换一个名称。")
                                .arg(records)
                                .arg(sheetsNeeded)
                                .arg(name);
    }
    *out = std::move(target);
    return {};
}

} // namespace

QString excelExportRefusal(const QString& path, const QString& sheet, qint64 records) {
    std::unique_ptr<Target> target;
    return openTarget(path, sheet, records, &target);
}

ExcelExportResult exportToExcel(const Connection& conn, const QString& table,
                                const QStringList& fields, const QString& path,
                                const QString& sheet, const ExportProgress& progress,
                                const QStringList& headings) {
    sqlite3* db = conn.handle();
    if (!db) return failed(QStringLiteral("数据库连接没有打开"));
    // The fields, as the table has them.
    Statement columns;
    if (!columns.prepare(db, QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(sqliteIdent(table))))
        return failed(QStringLiteral("要导出的表不存在：%1").arg(table));
    QStringList tableColumns;
    for (int i = 0; i < sqlite3_column_count(columns.s); ++i)
        tableColumns << QString::fromUtf8(sqlite3_column_name(columns.s, i));
    const QStringList& wanted = fields.isEmpty() ? tableColumns : fields;
    if (!headings.isEmpty() && headings.size() != wanted.size())
        return failed(QStringLiteral("导出的字段与表头的数目不符，无法导出。"));
    const QStringList heading = headings.isEmpty() ? wanted : headings;
    QStringList selected;
    for (const QString& f : wanted) {
        // The column of that very name, else one that differs in letter case only.
        auto it = std::find(tableColumns.begin(), tableColumns.end(), f);
        if (it == tableColumns.end())
            it = std::find_if(tableColumns.begin(), tableColumns.end(), [&](const QString& c) {
                return c.compare(f, Qt::CaseInsensitive) == 0;
            });
        if (it == tableColumns.end())
            return failed(QStringLiteral("表“%1”中没有字段“%2”，无法导出。").arg(table, f));
        selected << sqliteIdent(*it);
    }
    if (heading.isEmpty()) return failed(QStringLiteral("表“%1”没有字段，无法导出。").arg(table));

    Statement count;
    if (!count.prepare(db, QStringLiteral("SELECT COUNT(*) FROM %1").arg(sqliteIdent(table))) ||
        sqlite3_step(count.s) != SQLITE_ROW)
        return failed(QStringLiteral("无法读取表“%1”。").arg(table));
    const qint64 total = sqlite3_column_int64(count.s, 0);
    std::unique_ptr<Target> target;
    if (const QString why = openTarget(path, sheet, total, &target); !why.isEmpty())
        return failed(why);
    if (heading.size() > target->maxColumns())
        return failed(QStringLiteral("要导出%1个字段，%2最多容纳%3列，无法导出。")
                          .arg(heading.size())
                          .arg(target->formatName())
                          .arg(target->maxColumns()));
    const qint64 perSheet = target->maxRows() - 1;

    Statement rows;
    if (!rows.prepare(db, QStringLiteral("SELECT %1 FROM %2")
                              .arg(selected.join(QLatin1String(", ")), sqliteIdent(table))))
        return failed(conn.data()->sqliteError(table));
    const int n = int(heading.size());
    std::vector<Cell> headingRow;
    for (const QString& h : heading)
        headingRow.push_back(Cell::ofText(h));
    std::vector<Cell> row(static_cast<size_t>(n));
    ExcelExportResult result;
    QString error;
    const int progressTotal = int(std::min<qint64>(total, INT_MAX));
    if (progress && !progress(0, progressTotal)) {
        result.cancelled = true;
        result.error = QStringLiteral("导出已取消，Excel文件未作改动。");
        return result;
    }
    qint64 done = 0;
    int rc;
    int inSheet = 0;
    while ((rc = sqlite3_step(rows.s)) == SQLITE_ROW) {
        if (result.sheets.isEmpty() || inSheet == perSheet) {
            const QString name = sheetName(sheet, int(result.sheets.size()));
            if (!target->beginSheet(name, &error) || !target->addRow(headingRow, &error))
                return failed(error);
            result.sheets << name;
            inSheet = 0;
        }
        for (int i = 0; i < n; ++i) {
            row[size_t(i)] = cellOf(rows.s, i);
            if (row[size_t(i)].text.size() > formats::xls::biff::kMaxText)
                return failed(QStringLiteral("第%1条记录的字段“%2”有%3个字符，超过了Excel单元格的"
                                             "上限%4个字符，无法导出。")
                                  .arg(done + 1)
                                  .arg(heading[i])
                                  .arg(row[size_t(i)].text.size())
                                  .arg(formats::xls::biff::kMaxText));
        }
        if (!target->addRow(row, &error)) return failed(error);
        ++inSheet;
        ++done;
        if (progress && done % 512 == 0 &&
            !progress(int(std::min<qint64>(done, INT_MAX)), progressTotal)) {
            result.cancelled = true;
            result.error = QStringLiteral("导出已取消，Excel文件未作改动。");
            result.sheets.clear();
            return result;
        }
    }
    if (rc != SQLITE_DONE) return failed(conn.data()->sqliteError(table));
    if (result.sheets.isEmpty()) { // an empty table: its heading row alone
        if (!target->beginSheet(sheet, &error) || !target->addRow(headingRow, &error))
            return failed(error);
        result.sheets << sheet;
    }
    if (progress && !progress(progressTotal, progressTotal)) {
        result.cancelled = true;
        result.error = QStringLiteral("导出已取消，Excel文件未作改动。");
        result.sheets.clear();
        return result;
    }

    QByteArray bytes;
    if (!target->finish(&bytes, &error)) return failed(error);
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        return failed(
            QStringLiteral("无法写入Excel文件“%1”：%2").arg(native(path), out.errorString()));
    result.ok = true;
    result.rows = done;
    return result;
}

namespace {

// A name as written: [bracketed] (with "]]" for "]"), `quoted` or "quoted", or bare text.
QString unquote(const QString& text) {
    const QString t = text.trimmed();
    if (t.size() >= 2) {
        const QChar open = t.front(), close = t.back();
        if (open == QLatin1Char('[') && close == QLatin1Char(']')) {
            QString inner = t.mid(1, t.size() - 2);
            return inner.replace(QLatin1String("]]"), QLatin1String("]"));
        }
        if ((open == QLatin1Char('`') || open == QLatin1Char('"')) && close == open) {
            QString inner = t.mid(1, t.size() - 2);
            return inner.replace(QString(2, open), QString(open));
        }
    }
    return t;
}

// Whether a text is one quoted name from start to end.
bool isOneQuotedName(const QString& text) {
    const QString t = text.trimmed();
    if (t.size() < 2 || t.front() != QLatin1Char('[') || t.back() != QLatin1Char(']')) return false;
    for (qsizetype i = 1; i + 1 < t.size(); ++i) {
        if (t[i] != QLatin1Char(']')) continue;
        if (i + 2 < t.size() && t[i + 1] == QLatin1Char(']')) {
            ++i;
            continue;
        }
        return false;
    }
    return true;
}

// The field list: names separated by commas outside brackets and quotes.
bool splitFields(const QString& list, QStringList* out, QString* error) {
    QString cur;
    QChar quote;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QChar c = list[i];
        if (!quote.isNull()) {
            cur += c;
            const QChar close = quote == QLatin1Char('[') ? QLatin1Char(']') : quote;
            if (c == close) {
                if (i + 1 < list.size() && list[i + 1] == close) {
                    cur += list[++i];
                    continue;
                }
                quote = QChar();
            }
            continue;
        }
        if (c == QLatin1Char('[') || c == QLatin1Char('`') || c == QLatin1Char('"')) quote = c;
        if (c == QLatin1Char(',')) {
            *out << cur;
            cur.clear();
            continue;
        }
        cur += c;
    }
    if (!quote.isNull()) {
        *error = QStringLiteral("导出语句的字段列表中有未结束的名称：%1").arg(list);
        return false;
    }
    *out << cur;
    for (QString& f : *out) {
        f = unquote(f);
        if (f.isEmpty()) {
            *error = QStringLiteral("导出语句的字段列表中有空的字段名：%1").arg(list);
            return false;
        }
    }
    return true;
}

// The database path of "Excel 8.0;database=<path>[;other=...]".
bool readTarget(const QString& inside, QString* path, QString* error) {
    const qsizetype semi = inside.indexOf(QLatin1Char(';'));
    const QString type = inside.left(semi < 0 ? inside.size() : semi).trimmed();
    if (!type.startsWith(QLatin1String("Excel"), Qt::CaseInsensitive)) {
        *error = QStringLiteral("不支持的导出目标：%1（只能导出到Excel文件）").arg(type);
        return false;
    }
    static const QRegularExpression key(QStringLiteral(";\\s*database\\s*="),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = key.match(inside);
    if (!m.hasMatch()) {
        *error = QStringLiteral("导出语句中缺少Excel文件（database=）：%1").arg(inside);
        return false;
    }
    // The path runs to the next ";" that starts another "key=" entry, or to the end.
    static const QRegularExpression next(QStringLiteral(";\\s*[A-Za-z ]+\\s*="));
    const QRegularExpressionMatch n = next.match(inside, m.capturedEnd());
    *path = inside.mid(m.capturedEnd(),
                       (n.hasMatch() ? n.capturedStart() : inside.size()) - m.capturedEnd());
    if (path->trimmed().isEmpty()) {
        *error = QStringLiteral("导出语句中没有Excel文件的路径：%1").arg(inside);
        return false;
    }
    return true;
}

} // namespace

bool parseExcelExportStatement(const QString& jetSql, const Connection& conn,
                               ExcelExportStatement* out, QString* error) {
    *out = ExcelExportStatement();
    QString s = jetSql.trimmed();
    while (s.endsWith(QLatin1Char(';')))
        s = s.chopped(1).trimmed();
    static const QRegularExpression head(
        QStringLiteral("^select\\s+(.*?)\\binto\\s*\\[(?=[^\\]]*;\\s*database\\s*=)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch h = head.match(s);
    if (!h.hasMatch()) {
        *error = QStringLiteral("不是导出到Excel的语句：%1").arg(jetSql);
        return false;
    }
    const QString list = h.captured(1).trimmed();
    if (list != QLatin1String("*") && !splitFields(list, &out->fields, error)) return false;

    // The target's closing bracket is one followed by "." and a remainder that reads as
    // "<sheet> from <table>"; a path may hold "]" itself, so each is tried in turn.
    static const QRegularExpression sep(QStringLiteral("\\s+from\\s+"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression close(QStringLiteral("\\]\\s*\\.\\s*"));
    const qsizetype from = h.capturedEnd();
    struct Split {
        QString inside, sheet, table;
    };
    std::vector<Split> candidates;
    for (auto it = close.globalMatch(s, from); it.hasNext();) {
        const QRegularExpressionMatch c = it.next();
        const QString inside = s.mid(from, c.capturedStart() - from);
        const QString rest = s.mid(c.capturedEnd());
        for (auto jt = sep.globalMatch(rest); jt.hasNext();) {
            const QRegularExpressionMatch f = jt.next();
            const QString sheetText = rest.left(f.capturedStart()).trimmed();
            const QString tableText = rest.mid(f.capturedEnd()).trimmed();
            if (sheetText.isEmpty() || tableText.isEmpty()) continue;
            if (sheetText.startsWith(QLatin1Char('[')) && !isOneQuotedName(sheetText)) continue;
            if (tableText.startsWith(QLatin1Char('[')) && !isOneQuotedName(tableText)) continue;
            candidates.push_back({inside, unquote(sheetText), unquote(tableText)});
        }
    }
    if (candidates.empty()) {
        *error = QStringLiteral("导出语句应为“select 字段 into [Excel 8.0;database=文件].工作表 "
                                "from 表”：%1")
                     .arg(jetSql);
        return false;
    }
    const auto found = std::find_if(candidates.begin(), candidates.end(), [&](const Split& c) {
        return tableExists(conn.handle(), c.table);
    });
    const Split& chosen = found != candidates.end() ? *found : candidates.front();
    if (!readTarget(chosen.inside, &out->path, error)) return false;
    out->sheet = chosen.sheet;
    out->table = chosen.table;
    return true;
}

ExcelExportResult runExcelExportStatement(const Connection& conn, const QString& jetSql) {
    ExcelExportResult r;
    ExcelExportStatement st;
    QString error;
    if (!conn.isOpen())
        r.error = QStringLiteral("数据库连接没有打开");
    else if (!parseExcelExportStatement(jetSql, conn, &st, &error))
        r.error = error;
    else
        r = exportToExcel(conn, st.table, st.fields, st.path, st.sheet);
    if (const auto d = conn.data()) d->lastExport = std::make_shared<ExcelExportResult>(r);
    return r;
}

ExcelExportResult lastExcelExport(const Connection& conn) {
    const auto d = conn.data();
    return d && d->lastExport ? *d->lastExport : ExcelExportResult();
}

namespace {
// The connections hand export statements here (the program's export works through
// exportToExcel; the statement form is the original engine's).
const bool statementsHandled = [] {
    setIntoFileHandler([](const Connection& conn, const QString& jetSql, QString* error) {
        const ExcelExportResult r = runExcelExportStatement(conn, jetSql);
        *error = r.error;
        return r.ok;
    });
    return true;
}();
} // namespace

} // namespace db
