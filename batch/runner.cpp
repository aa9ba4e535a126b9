#include "batch/runner.h"

#include "app/engine/appstate.h"
#include "app/engine/workdb.h"
#include "batch/csv.h"
#include "batch/session.h"
#include "check/engine/exactcheck.h"
#include "db/criteria.h"
#include "db/formats/dbf/dbf.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <atomic>
#include <csignal>
#include <exception>
#include <unistd.h>

namespace batch {

namespace {

const QString program = QStringLiteral("chachong-batch");

// A message box's text on one line.
QString oneLine(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text.simplified();
}

void print(FILE* to, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    std::fflush(to);
}

// Ctrl-C asks the run to stop at its next record, as closing the run window does.
std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted = true;
}

// Installs the Ctrl-C handler for the life of a command.
class InterruptGuard {
public:
    InterruptGuard() {
        interrupted = false;
        previous_ = std::signal(SIGINT, onInterrupt);
    }
    ~InterruptGuard() { std::signal(SIGINT, previous_); }

private:
    void (*previous_)(int);
};

// What the engines report, shown on a terminal as one line that keeps changing; Ctrl-C stops.
class BatchSink : public app::ProgressSink {
public:
    explicit BatchSink(FILE* err) : err_(err), live_(isatty(fileno(err))), throttle_(200) {}
    ~BatchSink() override {
        if (shown_) print(err_, QStringLiteral("\r\033[K"));
    }
    bool progress(int done, int total) override {
        done_ = done;
        total_ = total;
        if (live_ && throttle_.due()) show();
        return !interrupted;
    }
    void groups(int count) override { groups_ = count; }
    void remaining(int count) override {
        separating_ = true;
        remaining_ = count;
    }

private:
    void show() {
        shown_ = true;
        const QString text = separating_
                                 ? QStringLiteral("正在分离重复记录：剩余 %1 条").arg(remaining_)
                                 : QStringLiteral("查重：第 %1/%2 条，%3 组重复")
                                       .arg(done_)
                                       .arg(total_)
                                       .arg(groups_);
        print(err_, QStringLiteral("\r\033[K") + text);
    }
    FILE* err_;
    bool live_;
    bool shown_ = false;
    bool separating_ = false;
    int done_ = 0, total_ = 0, groups_ = 0, remaining_ = 0;
    app::Throttle throttle_;
};

struct Options {
    QString command;
    QStringList positional;
    QString table, fields, start, end, dupCsv, restCsv, encoding;
    bool inPlace = false;
};

class Runner {
public:
    Runner(const QString& programDir, FILE* out, FILE* err)
        : session_(programDir), out_(out), err_(err) {}

    int run(const QStringList& arguments);

private:
    int fail(int code, const QString& reason) {
        print(err_, program + QStringLiteral(": ") + oneLine(reason) + QLatin1Char('\n'));
        if (code == Usage) print(err_, usage());
        return code;
    }
    int parse(const QStringList& arguments, Options* o);
    int open(const Options& o, bool listOnly, bool import, bool privateCopy);
    int tables(const Options& o);
    int dump(const Options& o);
    int check(const Options& o);
    void tellNotes(); // what the user should know of a run that went on
    void note(const QString& text) {
        print(err_, program + QStringLiteral(": 提示：") + oneLine(text) + QLatin1Char('\n'));
    }

    Session session_;
    FILE* out_;
    FILE* err_;
};

int Runner::parse(const QStringList& arguments, Options* o) {
    if (arguments.isEmpty()) return fail(Usage, QStringLiteral("缺少命令"));
    o->command = arguments.first();
    if (o->command != QLatin1String("tables") && o->command != QLatin1String("dump") &&
        o->command != QLatin1String("check"))
        return fail(Usage, QStringLiteral("未知的命令“%1”").arg(o->command));
    const bool isCheck = o->command == QLatin1String("check");
    const QList<std::pair<QString, QString*>> valued = {
        {QStringLiteral("--table"), &o->table},      {QStringLiteral("--fields"), &o->fields},
        {QStringLiteral("--start"), &o->start},      {QStringLiteral("--end"), &o->end},
        {QStringLiteral("--dup-csv"), &o->dupCsv},   {QStringLiteral("--rest-csv"), &o->restCsv},
        {QStringLiteral("--encoding"), &o->encoding}};
    bool optionsEnd = false; // after "--" every word is a file or table name
    for (int i = 1; i < arguments.size(); ++i) {
        QString a = arguments[i];
        if (optionsEnd || !a.startsWith(QLatin1String("--"))) {
            o->positional << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        QString value;
        bool hasValue = false;
        if (const qsizetype eq = a.indexOf(QLatin1Char('=')); eq > 0) {
            value = a.mid(eq + 1);
            a.truncate(eq);
            hasValue = true;
        }
        if (a == QLatin1String("--fuzzy") || a == QLatin1String("--postcode") ||
            a == QLatin1String("--digits"))
            return fail(Usage, QStringLiteral("%1：批处理还不能做模糊查重").arg(a));
        if (a == QLatin1String("--in-place") && isCheck && !hasValue) {
            o->inPlace = true;
            continue;
        }
        QString* target = nullptr;
        for (const auto& [name, slot] : valued)
            if (a == name) target = slot;
        // Every option but --encoding belongs to check.
        if (!target || (!isCheck && a != QLatin1String("--encoding")))
            return fail(Usage, QStringLiteral("命令 %1 没有选项 %2").arg(o->command, a));
        if (!hasValue) {
            if (++i >= arguments.size())
                return fail(Usage, QStringLiteral("选项 %1 缺少取值").arg(a));
            value = arguments[i];
        }
        *target = value;
    }
    const int maxPositional = o->command == QLatin1String("dump") ? 2 : 1;
    if (o->positional.isEmpty()) return fail(Usage, QStringLiteral("缺少文件名"));
    if (o->positional.size() > maxPositional)
        return fail(Usage, QStringLiteral("多余的参数“%1”").arg(o->positional.last()));
    if (!o->encoding.isEmpty() && !formats::dbf::parseCodePage(o->encoding).isValid())
        return fail(Usage, QStringLiteral("无法识别的编码“%1”").arg(o->encoding));
    if (!isCheck) return Success;

    if (o->fields.isEmpty()) return fail(Usage, QStringLiteral("缺少查重字段（--fields）"));
    QStringList fields;
    for (const QString& f : o->fields.split(QLatin1Char(','))) {
        const QString name = db::trimBlanks(f);
        if (name.isEmpty()) return fail(Usage, QStringLiteral("查重字段名不能为空"));
        if (fields.contains(name, Qt::CaseInsensitive))
            return fail(Usage, QStringLiteral("查重字段“%1”重复").arg(name));
        fields << name;
    }
    if (fields.size() > 5) return fail(Usage, QStringLiteral("最多只能选择五个查重字段"));
    o->fields = fields.join(QLatin1Char(','));
    for (const auto& [name, value] : {std::pair{QStringLiteral("--start"), o->start},
                                      std::pair{QStringLiteral("--end"), o->end}}) {
        bool ok = true;
        if (!value.isEmpty() && (value.toInt(&ok) < 1 || !ok))
            return fail(Usage, QStringLiteral("%1 须为正整数：“%2”").arg(name, value));
    }
    if (!o->start.isEmpty() && !o->end.isEmpty() && o->start.toInt() > o->end.toInt())
        return fail(Usage, QStringLiteral("--start 不能大于 --end"));
    for (const QString& path : {o->dupCsv, o->restCsv}) {
        if (path.isEmpty()) continue;
        const QFileInfo dir(QFileInfo(path).absolutePath());
        if (!dir.isDir() || !dir.isWritable())
            return fail(Failure, QStringLiteral("无法写入文件 %1：文件夹不存在或不可写")
                                     .arg(QDir::toNativeSeparators(path)));
    }
    return Success;
}

int Runner::open(const Options& o, bool listOnly, bool import, bool privateCopy) {
    OpenRequest request;
    request.file = o.positional.first();
    request.table = o.positional.size() > 1 ? o.positional[1] : o.table;
    request.encoding = o.encoding;
    request.listOnly = listOnly;
    request.import = import;
    request.privateCopy = privateCopy;
    QString reason;
    const int code = session_.open(request, &reason);
    return code == Success ? Success : fail(code, reason);
}

void Runner::tellNotes() {
    for (const QString& w : session_.takeNotes())
        note(w);
}

int Runner::tables(const Options& o) {
    if (const int code = open(o, true, false, false); code != Success) return code;
    const app::AppState& st = app::appState();
    const QStringList names = session_.kind() == QLatin1String("dbf")
                                  ? QStringList{st.SourceBaseName}
                                  : session_.offeredTables();
    for (const QString& name : names)
        print(out_, name + QLatin1Char('\n'));
    return Success;
}

int Runner::dump(const Options& o) {
    if (const int code = open(o, false, false, false); code != Success) return code;
    QFile out;
    if (!out.open(out_, QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(Failure, QStringLiteral("无法写到标准输出"));
    QString error;
    if (!writeCsv(*app::appState().RsSource, out, &error)) return fail(Failure, error);
    return Success;
}

int Runner::check(const Options& o) {
    const InterruptGuard guard;
    const QString stopped = QStringLiteral("查重已停止，未分离任何记录");
    QElapsedTimer clock;
    clock.start();
    if (const int code = open(o, false, true, !o.inPlace); code != Success) return code;
    if (interrupted) return fail(Failure, stopped);
    app::AppState& st = app::appState();
    tellNotes();
    // In place or not, the program never writes these: say so where the user asked for it.
    if (o.inPlace && st.SourceConn.isWorkingCopy())
        note(QStringLiteral("此Access文件以副本方式打开，原文件不会被修改"));
    else if (o.inPlace && session_.kind() == QLatin1String("xls"))
        note(QStringLiteral("Excel文件的数据导入工作数据库后查重，原文件不会被修改"));

    // The check fields, spelt as the table spells them.
    QStringList fields;
    for (const QString& name : o.fields.split(QLatin1Char(','))) {
        const int index = st.RsSource->fieldIndex(name);
        if (index < 0)
            return fail(Failure,
                        QStringLiteral("表中没有字段“%1”。表中的字段：%2")
                            .arg(name, st.RsSource->fieldNames().join(QStringLiteral("、"))));
        fields << st.RsSource->fieldName(index);
    }
    const int count = st.RsSource->recordCount();
    if (count < 1) return fail(Failure, QStringLiteral("无数据可查！"));
    int start = 1, end = count;
    if (const QString wrong =
            app::checkRange(o.start.isEmpty() ? QStringLiteral("1") : o.start,
                            o.end.isEmpty() ? QString::number(count) : o.end, count, &start, &end);
        !wrong.isEmpty())
        return fail(Failure, wrong);
    app::setCheckFields(st, fields);
    if (const QString why = app::prepareCheck(st, app::CheckMode::Exact); !why.isEmpty())
        return fail(Failure, why);

    app::RunResult result;
    {
        BatchSink sink(err_);
        result = check::runExactCheck(st, app::runOptionsOf(st, start, end), sink);
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (result.cancelled) return fail(Failure, stopped);
    if (!result.error.isEmpty()) return fail(Failure, session_.userView(result.error));
    tellNotes();
    if (!result.backupPath.isEmpty())
        note(QStringLiteral("删除前已备份原文件到 ") + QDir::toNativeSeparators(result.backupPath));

    QString error;
    if (!o.dupCsv.isEmpty()) {
        db::Recordset dup;
        if (!dup.open(QStringLiteral("Select * From ClienttableCC"), st.WorkConn))
            return fail(Failure, dup.errorString());
        if (!writeCsvFile(dup, o.dupCsv, &error)) return fail(Failure, error);
    }
    const int remaining = st.RsSource->recordCount();
    if (!o.restCsv.isEmpty() && !writeCsvFile(*st.RsSource->clone(), o.restCsv, &error))
        return fail(Failure, error);
    print(out_, QStringLiteral("groups=%1 duplicate_rows=%2 separated=%3 remaining=%4 seconds=%5\n")
                    .arg(result.groups)
                    .arg(result.duplicateRows)
                    .arg(result.separated)
                    .arg(remaining)
                    .arg(seconds, 0, 'f', 3));
    return Success;
}

int Runner::run(const QStringList& arguments) {
    if (arguments.size() == 1 &&
        (arguments[0] == QLatin1String("--help") || arguments[0] == QLatin1String("-h"))) {
        print(out_, usage());
        return Success;
    }
    Options o;
    if (const int code = parse(arguments, &o); code != Success) return code;
    if (o.command == QLatin1String("tables")) return tables(o);
    if (o.command == QLatin1String("dump")) return dump(o);
    return check(o);
}

} // namespace

QString usage() {
    return QStringLiteral(
        "用法：\n"
        "  chachong-batch tables FILE\n"
        "  chachong-batch dump FILE [TABLE]\n"
        "  chachong-batch check FILE [--table NAME] --fields F1[,F2,...] [--start N] [--end N]\n"
        "                 [--dup-csv PATH] [--rest-csv PATH] [--in-place] [--encoding NAME]\n"
        "FILE：.dbf、.xls、.mdb 或 .accdb 文件。check 默认在文件和工作数据库的临时副本上查重，\n"
        "--in-place 直接处理文件本身（删除前自动备份到“查重备份”文件夹）。\n");
}

int run(const QStringList& arguments, const QString& programDir, FILE* out, FILE* err) {
    try {
        Runner runner(programDir, out, err);
        return runner.run(arguments);
    } catch (const std::exception& e) {
        print(err, program + QStringLiteral(": 内部错误：") + QString::fromLocal8Bit(e.what()) +
                       QLatin1Char('\n'));
        return Failure;
    }
}

} // namespace batch
