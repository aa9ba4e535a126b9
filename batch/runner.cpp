#include "batch/runner.h"

#include "batch/csv.h"
#include "batch/session.h"
#include "check/engine/backups.h"
#include "check/engine/checkjob.h"
#include "check/engine/report.h"
#include "check/engine/separation.h"
#include "check/engine/smartscan.h"
#include "control/engine/export.h"
#include "control/engine/merge.h"
#include "core/appstate.h"
#include "core/workdb.h"
#include "db/criteria.h"
#include "db/exceltarget.h"
#include "db/formats/dbf/dbf.h"
#include "db/formats/filemode.h"
#include "tools/engine/batchdelete.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

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
class BatchSink : public core::ProgressSink {
public:
    BatchSink(FILE* err, bool quiet)
        : err_(err), live_(!quiet && isatty(fileno(err))), throttle_(200) {
        clock_.start();
    }
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
    // The work after the check ("批量删除", "合并"): its records done of total from now on.
    void stage(const QString& name) {
        stage_ = name;
        clock_.start();
    }

private:
    // "查重：第 120000/1000000 条（12%，每秒 95000 条），356 组重复": the step, the share done and
    // the speed.
    void show() {
        shown_ = true;
        const qint64 ms = std::max<qint64>(clock_.elapsed(), 1);
        const QString pace = QStringLiteral("（%1%，每秒 %2 条）")
                                 .arg(total_ > 0 ? int(100 * qint64(done_) / total_) : 0)
                                 .arg(qint64(done_) * 1000 / ms);
        const QString text =
            !stage_.isEmpty()
                ? QStringLiteral("%1：第 %2/%3 条").arg(stage_).arg(done_).arg(total_) + pace
            : separating_ ? QStringLiteral("正在分离重复记录：剩余 %1 条").arg(remaining_)
                          : QStringLiteral("查重：第 %1/%2 条").arg(done_).arg(total_) + pace +
                                QStringLiteral("，%1 组重复").arg(groups_);
        print(err_, QStringLiteral("\r\033[K") + text);
    }
    FILE* err_;
    bool live_;
    bool shown_ = false;
    bool separating_ = false;
    int done_ = 0, total_ = 0, groups_ = 0, remaining_ = 0;
    QString stage_;
    core::Throttle throttle_;
    QElapsedTimer clock_; // since the step began
};

struct Options {
    QString command;
    QStringList positional;
    QString table, fields, start, end, dupCsv, restCsv, encoding, postcode, digits;
    QString dupXls, restXls, sheet, keepBy;
    QString kinds, level, reasonsCsv; // 智能查重
    QString report;                   // 查重报告: .html or .pdf
    bool inPlace = false;
    bool fuzzy = false;
    bool smart = false;
    bool quiet = false; // no progress line
    bool mergeBack = false;
};

// Field names given as "F1,F2,...": blanks trimmed, none empty, none twice. Empty with *error set
// when the list is not good.
QStringList fieldList(const QString& text, const QString& what, QString* error) {
    QStringList fields;
    for (const QString& f : text.split(QLatin1Char(','))) {
        const QString name = db::trimBlanks(f);
        if (name.isEmpty()) {
            *error = QStringLiteral("%1名不能为空").arg(what);
            return {};
        }
        if (fields.contains(name, Qt::CaseInsensitive)) {
            *error = QStringLiteral("%1“%2”重复").arg(what, name);
            return {};
        }
        fields << name;
    }
    return fields;
}

// The name of the check table as the user knows it: the dBase file's, the Access table's, the
// Excel sheet's (SourceTable holds "[sheet$]" then).
QString checkTableName(const core::AppState& st) {
    QString name = st.SourceTable;
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1String("$]")))
        name = name.mid(1, name.size() - 3);
    return name;
}

class Runner {
public:
    Runner(const QString& programDir, FILE* out, FILE* err)
        : session_(programDir), programDir_(programDir), out_(out), err_(err) {}

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
    int backups(const Options& o);
    int restore(const Options& o);
    int check(const Options& o);
    int exportXls(const db::Connection& conn, const QString& table, const QString& path,
                  const QString& sheet);
    int mergeBack(const std::vector<int>& keepBy, const core::RunResult& checked, bool quiet,
                  int* deleted, int* merged);
    bool writeReasons(const QStringList& fields, const QString& path, QString* error);
    // The report of the check just run, with file as its source, as HTML or (drawn by the
    // program beside the runner) as PDF.
    bool writeReport(const QString& file, const QString& path, QString* error);
    void tellNotes(); // what the user should know of a run that went on
    void note(const QString& text) {
        print(err_, program + QStringLiteral(": 提示：") + oneLine(text) + QLatin1Char('\n'));
    }

    Session session_;
    QString programDir_;
    FILE* out_;
    FILE* err_;
};

// The windowed program, which draws the PDF of a report: the runner itself links no painting.
QString reportPainter(const QString& programDir) {
    return QDir(programDir).filePath(QStringLiteral("chachong"));
}

bool isPdf(const QString& path) {
    return QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
}

int Runner::parse(const QStringList& arguments, Options* o) {
    if (arguments.isEmpty()) return fail(Usage, QStringLiteral("缺少命令"));
    o->command = arguments.first();
    const QStringList commands = {QStringLiteral("tables"), QStringLiteral("dump"),
                                  QStringLiteral("check"), QStringLiteral("backups"),
                                  QStringLiteral("restore")};
    if (!commands.contains(o->command))
        return fail(Usage, QStringLiteral("未知的命令“%1”").arg(o->command));
    const bool isCheck = o->command == QLatin1String("check");
    const QList<std::pair<QString, QString*>> valued = {
        {QStringLiteral("--table"), &o->table},
        {QStringLiteral("--fields"), &o->fields},
        {QStringLiteral("--start"), &o->start},
        {QStringLiteral("--end"), &o->end},
        {QStringLiteral("--dup-csv"), &o->dupCsv},
        {QStringLiteral("--rest-csv"), &o->restCsv},
        {QStringLiteral("--encoding"), &o->encoding},
        {QStringLiteral("--postcode"), &o->postcode},
        {QStringLiteral("--digits"), &o->digits},
        {QStringLiteral("--dup-xls"), &o->dupXls},
        {QStringLiteral("--rest-xls"), &o->restXls},
        {QStringLiteral("--sheet"), &o->sheet},
        {QStringLiteral("--keep-by"), &o->keepBy},
        {QStringLiteral("--kinds"), &o->kinds},
        {QStringLiteral("--level"), &o->level},
        {QStringLiteral("--reasons-csv"), &o->reasonsCsv},
        {QStringLiteral("--report"), &o->report}};
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
        if (a == QLatin1String("--fuzzy") && isCheck && !hasValue) {
            o->fuzzy = true;
            continue;
        }
        if (a == QLatin1String("--quiet") && isCheck && !hasValue) {
            o->quiet = true;
            continue;
        }
        if (a == QLatin1String("--smart") && isCheck && !hasValue) {
            o->smart = true;
            continue;
        }
        if (a == QLatin1String("--in-place") && isCheck && !hasValue) {
            o->inPlace = true;
            continue;
        }
        if (a == QLatin1String("--merge-back") && isCheck && !hasValue) {
            o->mergeBack = true;
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
    const bool two = o->command == QLatin1String("dump") || o->command == QLatin1String("restore");
    const int maxPositional = two ? 2 : 1;
    if (o->positional.isEmpty()) return fail(Usage, QStringLiteral("缺少文件名"));
    if (o->command == QLatin1String("restore") && o->positional.size() < 2)
        return fail(Usage, QStringLiteral("缺少要恢复的备份文件名"));
    if (o->positional.size() > maxPositional)
        return fail(Usage, QStringLiteral("多余的参数“%1”").arg(o->positional.last()));
    if (!o->encoding.isEmpty() && !formats::dbf::parseCodePage(o->encoding).isValid())
        return fail(Usage, QStringLiteral("无法识别的编码“%1”").arg(o->encoding));
    if (!isCheck) return Success;

    if (o->fields.isEmpty()) return fail(Usage, QStringLiteral("缺少查重字段（--fields）"));
    QString wrong;
    const QStringList fields = fieldList(o->fields, QStringLiteral("查重字段"), &wrong);
    if (fields.isEmpty()) return fail(Usage, wrong);
    if (fields.size() > 5) return fail(Usage, QStringLiteral("最多只能选择五个查重字段"));
    o->fields = fields.join(QLatin1Char(','));
    if (!o->keepBy.isEmpty()) {
        if (!o->mergeBack) return fail(Usage, QStringLiteral("--keep-by 只用于 --merge-back"));
        const QStringList keep = fieldList(o->keepBy, QStringLiteral("--keep-by 字段"), &wrong);
        if (keep.isEmpty()) return fail(Usage, wrong);
        o->keepBy = keep.join(QLatin1Char(','));
    }
    if (!o->sheet.isEmpty() && o->dupXls.isEmpty() && o->restXls.isEmpty())
        return fail(Usage, QStringLiteral("--sheet 只用于 --dup-xls 或 --rest-xls"));
    // One sheet name for both: they cannot go into the same workbook.
    if (!o->dupXls.isEmpty() && !o->restXls.isEmpty() &&
        QDir::cleanPath(QFileInfo(o->dupXls).absoluteFilePath()) ==
            QDir::cleanPath(QFileInfo(o->restXls).absoluteFilePath()))
        return fail(Usage, QStringLiteral("--dup-xls 和 --rest-xls 不能是同一个Excel文件"));
    for (const auto& [name, value] : {std::pair{QStringLiteral("--start"), o->start},
                                      std::pair{QStringLiteral("--end"), o->end}}) {
        bool ok = true;
        if (!value.isEmpty() && (value.toInt(&ok) < 1 || !ok))
            return fail(Usage, QStringLiteral("%1 须为正整数：“%2”").arg(name, value));
    }
    if (!o->start.isEmpty() && !o->end.isEmpty() && o->start.toInt() > o->end.toInt())
        return fail(Usage, QStringLiteral("--start 不能大于 --end"));
    // Postcode segments belong to the fuzzy check, field and digits together.
    if (o->postcode.isEmpty() != o->digits.isEmpty())
        return fail(Usage, QStringLiteral("--postcode 和 --digits 须一起使用"));
    if (!o->postcode.isEmpty() && !o->fuzzy)
        return fail(Usage, QStringLiteral("--postcode 和 --digits 只用于模糊查重（--fuzzy）"));
    if (o->smart && o->fuzzy) return fail(Usage, QStringLiteral("--smart 和 --fuzzy 不能同时使用"));
    for (const auto& [name, value] : {std::pair{QStringLiteral("--kinds"), o->kinds},
                                      std::pair{QStringLiteral("--level"), o->level},
                                      std::pair{QStringLiteral("--reasons-csv"), o->reasonsCsv}})
        if (!value.isEmpty() && !o->smart)
            return fail(Usage, QStringLiteral("%1 只用于智能查重（--smart）").arg(name));
    if (!o->kinds.isEmpty()) {
        // "字段=类型,...": each named field a check field, once.
        QStringList kinds(fields.size());
        for (const QString& pair : o->kinds.split(QLatin1Char(','))) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            const QString field = db::trimBlanks(pair.left(eq));
            const QString kind = eq < 0 ? QString() : db::trimBlanks(pair.mid(eq + 1));
            if (field.isEmpty() || kind.isEmpty())
                return fail(Usage, QStringLiteral("--kinds 须写成 字段=类型：“%1”").arg(pair));
            qsizetype at = -1;
            for (qsizetype k = 0; k < fields.size(); ++k)
                if (fields[k].compare(field, Qt::CaseInsensitive) == 0) at = k;
            if (at < 0)
                return fail(Usage, QStringLiteral("--kinds 中的“%1”不是查重字段").arg(field));
            kinds[at] = kind;
        }
        o->kinds = kinds.join(QLatin1Char(','));
    }
    if (const QString why = check::smartSettingsRefusal(
            o->kinds.isEmpty() ? QStringList() : o->kinds.split(QLatin1Char(',')), o->level,
            int(fields.size()));
        !why.isEmpty())
        return fail(Usage, why);
    if (!o->digits.isEmpty()) {
        bool ok = false;
        const int n = o->digits.toInt(&ok);
        if (!ok || n < 1 || n > 6)
            return fail(Usage, QStringLiteral("--digits 须为 1 到 6：“%1”").arg(o->digits));
    }
    if (!o->report.isEmpty()) {
        const QString suffix = QFileInfo(o->report).suffix().toLower();
        if (suffix != QLatin1String("html") && suffix != QLatin1String("htm") && !isPdf(o->report))
            return fail(Usage,
                        QStringLiteral("--report 须以 .html 或 .pdf 结尾：“%1”").arg(o->report));
        if (isPdf(o->report) && !QFileInfo(reportPainter(programDir_)).isExecutable())
            return fail(Refused,
                        QStringLiteral("PDF报告由查重程序 %1 绘制，但找不到它（可改用 .html）")
                            .arg(QDir::toNativeSeparators(reportPainter(programDir_))));
    }
    for (const QString& path :
         {o->dupCsv, o->restCsv, o->dupXls, o->restXls, o->reasonsCsv, o->report}) {
        if (path.isEmpty()) continue;
        const QFileInfo file(path);
        const QFileInfo dir(file.absolutePath());
        if (!dir.isDir() || !dir.isWritable())
            return fail(Refused, QStringLiteral("无法写入文件 %1：文件夹不存在或不可写")
                                     .arg(QDir::toNativeSeparators(path)));
        if (file.exists() && (file.isDir() || !formats::mayWrite(file)))
            return fail(Refused, QStringLiteral("无法写入文件 %1：%2")
                                     .arg(QDir::toNativeSeparators(path),
                                          file.isDir() ? QStringLiteral("这是一个文件夹")
                                                       : QStringLiteral("文件是只读的")));
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
    const core::AppState& st = core::appState();
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
    if (!writeCsv(*core::appState().RsSource, out, &error)) return fail(Failure, error);
    return Success;
}

int Runner::backups(const Options& o) {
    const QString file = o.positional.first();
    if (!QFileInfo(file).isFile())
        return fail(Failure,
                    QStringLiteral("找不到数据文件 %1").arg(QDir::toNativeSeparators(file)));
    const std::vector<check::Backup> found = check::backupsOf(file);
    if (found.empty()) {
        note(QStringLiteral("%1 没有备份（它旁边的“查重备份”文件夹中没有它的备份）")
                 .arg(QDir::toNativeSeparators(file)));
        return Success;
    }
    // One line a backup, the newest first: time, records, bytes, the backup's path, the step
    // that made it.
    print(out_, QStringLiteral("时间\t记录数\t字节\t备份文件\t步骤\n"));
    for (const check::Backup& b : found)
        print(out_, b.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char('\t') +
                        (b.records < 0 ? QStringLiteral("-") : QString::number(b.records)) +
                        QLatin1Char('\t') + QString::number(b.bytes) + QLatin1Char('\t') +
                        QDir::toNativeSeparators(b.path) + QLatin1Char('\t') +
                        (b.step.isEmpty() ? QStringLiteral("-") : b.step) + QLatin1Char('\n'));
    return Success;
}

int Runner::restore(const Options& o) {
    QString undo;
    bool refused = false;
    const core::Status s =
        check::restoreBackup(o.positional.at(0), o.positional.at(1), &undo, &refused);
    if (!s.ok()) return fail(refused ? Refused : Failure, s.error);
    note(QStringLiteral("已用备份 %1 恢复 %2；恢复前的文件已备份到 %3")
             .arg(QDir::toNativeSeparators(o.positional.at(1)),
                  QDir::toNativeSeparators(o.positional.at(0)), QDir::toNativeSeparators(undo)));
    return Success;
}

int Runner::check(const Options& o) {
    const InterruptGuard guard;
    const QString stopped = QStringLiteral("查重已停止，未分离任何记录");
    QElapsedTimer clock;
    clock.start();
    if (const int code = open(o, false, true, !o.inPlace); code != Success) return code;
    if (interrupted) return fail(Interrupted, stopped);
    core::AppState& st = core::appState();
    tellNotes();
    // In place or not, the program never writes these: say so where the user asked for it.
    if (o.inPlace && st.SourceConn.isWorkingCopy())
        note(QStringLiteral("此Access文件以副本方式打开，原文件不会被修改"));
    else if (o.inPlace && session_.kind() == QLatin1String("xls"))
        note(QStringLiteral("Excel文件的数据导入工作数据库后查重，原文件不会被修改"));
    else if (o.inPlace && session_.kind() == QLatin1String("csv"))
        note(QStringLiteral("文本文件的数据导入工作数据库后查重，原文件不会被修改"));

    check::CheckRequest request;
    request.mode = o.smart   ? core::CheckMode::Smart
                   : o.fuzzy ? core::CheckMode::Fuzzy
                             : core::CheckMode::Exact;
    if (!o.kinds.isEmpty()) request.kinds = o.kinds.split(QLatin1Char(','));
    request.level = o.level;
    if (!o.fields.isEmpty()) request.fields = o.fields.split(QLatin1Char(','));
    if (!o.start.isEmpty()) request.start = o.start;
    if (!o.end.isEmpty()) request.end = o.end;
    if (!o.postcode.isEmpty()) {
        request.postcode = core::PostcodeMode::Field;
        request.postcodeField = o.postcode;
        request.postcodeDigits = o.digits.toInt();
    }
    if (const check::Refusal why = check::CheckJob::refusal(st, request); !why.ok())
        return fail(Refused, why.error);
    // The fields that keep a record, by their place: field k of the table is column k + 1 of
    // the duplicates.
    std::vector<int> keepBy;
    if (o.mergeBack && !o.keepBy.isEmpty()) {
        for (const QString& name : o.keepBy.split(QLatin1Char(','))) {
            const int index = st.RsSource->fieldIndex(name);
            if (index < 0)
                return fail(Refused,
                            QStringLiteral("表中没有字段“%1”。表中的字段：%2")
                                .arg(name, st.RsSource->fieldNames().join(QStringLiteral("、"))));
            keepBy.push_back(index);
        }
    }
    // The workbooks asked for can take the sheet: known before anything is changed.
    const QString sheet = o.sheet.isEmpty() ? checkTableName(st) : o.sheet;
    for (const QString& path : {o.dupXls, o.restXls}) {
        if (path.isEmpty()) continue;
        QStringList sheets;
        if (const core::Status s = control::workbookSheets(path, &sheets); !s.ok())
            return fail(Failure, s.error);
        if (const core::Status refusal = control::sheetNameRefusal(sheets, sheet); !refusal.ok())
            return fail(Refused, QStringLiteral("不能在 %1 中建立工作表“%2”：%3（可用 --sheet "
                                                "指定工作表名称）")
                                     .arg(QDir::toNativeSeparators(path), sheet, refusal.error));
        // Read-only, of another kind than its name says, too old a format, a folder that cannot
        // take the new file: all known now.
        if (const QString refusal = db::excelExportRefusal(path, sheet, 0); !refusal.isEmpty())
            return fail(
                Refused,
                QStringLiteral("无法导出到 %1：%2").arg(QDir::toNativeSeparators(path), refusal));
    }
    check::CheckJob job(st);
    if (const check::Refusal why = job.prepare(request); !why.ok()) return fail(Refused, why.error);
    const QStringList& fields = job.options().fields;

    core::RunResult result;
    {
        BatchSink sink(err_, o.quiet);
        result = job.runAll(sink);
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (result.cancelled) return fail(Interrupted, stopped);
    if (!result.error.isEmpty()) return fail(Failure, session_.userView(result.error));
    tellNotes();
    if (const QString failed = check::failedRecordsNote(result); !failed.isEmpty())
        note(session_.userView(failed));
    for (const QString& text : result.notes)
        note(text);
    if (!result.backupPath.isEmpty())
        note(QStringLiteral("删除前已备份原文件到 ") + QDir::toNativeSeparators(result.backupPath));
    if (!result.changeLogPath.isEmpty())
        note(QStringLiteral("删除的记录见 ") + QDir::toNativeSeparators(result.changeLogPath));
    // From here on a failure finds the user's file changed by the separation: it is put back.
    const QString userFile =
        result.backupPath.isEmpty() ? QString() : check::userFileOfCheckTable(st);
    auto late = [&](int code) {
        if (code == Success || userFile.isEmpty()) return code;
        st.RsPostcode.reset();
        st.RsSource.reset();
        st.SourceConn = db::Connection();
        if (const core::Status s = check::restoreUserFile(userFile, result.backupPath); s.ok()) {
            // Nothing was removed in the end: no log says otherwise.
            if (!result.changeLogPath.isEmpty()) QFile::remove(result.changeLogPath);
            note(QStringLiteral("原文件已恢复为查重前的内容：") +
                 QDir::toNativeSeparators(userFile));
        } else
            note(s.error + QStringLiteral("请用备份 %1 恢复原文件。")
                               .arg(QDir::toNativeSeparators(result.backupPath)));
        return code;
    };

    // The duplicates as the check found them.
    QString error;
    if (!o.dupCsv.isEmpty()) {
        // The check's own recordset holds ClienttableCC's rows as written: no second copy.
        if (!core::isOpen(st.RsDup))
            return late(fail(Failure, QStringLiteral("重复数据表 ClienttableCC 没有打开")));
        if (!writeCsvFile(*st.RsDup->clone(), o.dupCsv, &error)) return late(fail(Failure, error));
    }
    if (!o.dupXls.isEmpty())
        if (const int code =
                exportXls(st.WorkConn, QStringLiteral("ClienttableCC"), o.dupXls, sheet);
            code != Success)
            return late(code);
    if (!o.reasonsCsv.isEmpty() && !writeReasons(fields, o.reasonsCsv, &error))
        return late(fail(Failure, error));
    int deleted = 0, merged = 0;
    if (o.mergeBack) {
        if (keepBy.empty())
            for (const QString& f : fields)
                keepBy.push_back(st.RsSource->fieldIndex(f));
        if (const int code = mergeBack(keepBy, result, o.quiet, &deleted, &merged); code != Success)
            return late(code);
    }
    // The check table as it is now.
    const int remaining = st.RsSource->recordCount();
    if (!o.restCsv.isEmpty() && !writeCsvFile(*st.RsSource->clone(), o.restCsv, &error))
        return late(fail(Failure, error));
    if (!o.restXls.isEmpty())
        if (const int code =
                exportXls(st.RsSource->connection(), st.RsSource->baseTable(), o.restXls, sheet);
            code != Success)
            return late(code);
    // The report last: it lists the logs of the batch delete and the merge too. The steps stand
    // when it cannot be written.
    if (!o.report.isEmpty() && !writeReport(o.positional.at(0), o.report, &error))
        return fail(Failure, error);
    const QString merging =
        o.mergeBack ? QStringLiteral(" deleted=%1 merged=%2").arg(deleted).arg(merged) : QString();
    print(out_,
          QStringLiteral("groups=%1 duplicate_rows=%2 separated=%3 remaining=%4%5 seconds=%6\n")
              .arg(result.groups)
              .arg(result.duplicateRows)
              .arg(result.separated)
              .arg(remaining)
              .arg(merging)
              .arg(seconds, 0, 'f', 3));
    return Success;
}

int Runner::exportXls(const db::Connection& conn, const QString& table, const QString& path,
                      const QString& sheet) {
    const db::ExcelExportResult r =
        control::exportTable(core::appState(), conn, table, path, sheet);
    if (!r.ok)
        return fail(Failure, QStringLiteral("无法导出到 %1：%2")
                                 .arg(QDir::toNativeSeparators(path), session_.userView(r.error)));
    if (!r.backupPath.isEmpty())
        note(QStringLiteral("导出前的 %1 已备份到 %2")
                 .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(r.backupPath)));
    if (r.sheetCount() > 1)
        note(QStringLiteral("%1 条记录超过一个工作表的容量，已分 %2 个工作表写入 %3：%4")
                 .arg(r.rows)
                 .arg(r.sheetCount())
                 .arg(QDir::toNativeSeparators(path), r.sheets.join(QStringLiteral("、"))));
    return Success;
}

bool Runner::writeReport(const QString& file, const QString& path, QString* error) {
    std::optional<check::CheckReport> report = check::lastReport(core::appState().WorkConn);
    if (!report) {
        *error =
            QStringLiteral("查重报告没有保存，无法写入 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    // The file the user named, not the runner's private copy of it.
    report->source = QFileInfo(file).absoluteFilePath();
    if (!isPdf(path)) {
        const core::Status s = check::writeReportHtml(*report, path);
        *error = s.error;
        return s.ok();
    }
    QTemporaryFile json(QDir::temp().filePath(QStringLiteral("chachong-report-XXXXXX.json")));
    if (!json.open() || json.write(check::reportToJson(*report)) < 0 || !json.flush()) {
        *error = QStringLiteral("无法写入查重报告：临时文件不能建立");
        return false;
    }
    QProcess painter;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    painter.setProcessEnvironment(env);
    painter.start(reportPainter(programDir_), {QStringLiteral("--report-pdf"), json.fileName(),
                                               QFileInfo(path).absoluteFilePath()});
    const bool ended = painter.waitForFinished(120000);
    if (ended && painter.exitStatus() == QProcess::NormalExit && painter.exitCode() == 0)
        return true;
    const QString why = QString::fromUtf8(painter.readAllStandardError()).trimmed();
    *error = QStringLiteral("无法写入查重报告 %1%2")
                 .arg(QDir::toNativeSeparators(path),
                      why.isEmpty() ? QString() : QStringLiteral("：") + why);
    return false;
}

// Why each row of the duplicates is in its group: group, running number, the check fields, the
// row it matched best, the score and the fields that agreed.
bool Runner::writeReasons(const QStringList& fields, const QString& path, QString* error) {
    const core::AppState& st = core::appState();
    const db::RecordsetPtr dup = st.RsDup->clone();
    const QHash<int, core::GroupReason> reasons = core::readReasons(st.WorkConn);
    std::vector<int> columns;
    for (const QString& f : fields)
        columns.push_back(st.RsSource->fieldIndex(f) + 1); // field k is column k + 1
    const QStringList header =
        QStringList{QStringLiteral("组号"), QStringLiteral("流水号")} + fields +
        QStringList{QStringLiteral("相似记录"), QStringLiteral("得分"), QStringLiteral("依据")};
    const int last = dup->fieldCount() - 1;
    // The cells made as texts first: a view must outlive its call.
    std::vector<QStringList> rows;
    for (int r = 0; r < dup->recordCount(); ++r) {
        const int running = dup->viewAt(r, last).toInt();
        const core::GroupReason why = reasons.value(running);
        QStringList row{QString::number(why.group), QString::number(running)};
        for (const int c : columns)
            row << dup->viewAt(r, c).toString();
        row << QString::number(why.partner) << QString::number(why.score, 'f', 1) << why.basis;
        rows.push_back(std::move(row));
    }
    return writeCsvFile(
        header, int(rows.size()), [&](int r, int c) { return QStringView(rows[size_t(r)][c]); },
        path, error);
}

int Runner::mergeBack(const std::vector<int>& keepBy, const core::RunResult& checked, bool quiet,
                      int* deleted, int* merged) {
    core::AppState& st = core::appState();
    const QString stopped = QStringLiteral("合并已停止，没有把重复记录合并回去");
    // The fields that tell the records of a class apart, as the duplicate table names them: the
    // check table's field k is its column k + 1 (No first, the running number last).
    core::RunOptions keep;
    for (const int index : keepBy)
        keep.fields << st.RsDup->fieldName(index + 1);
    BatchSink sink(err_, quiet);
    sink.stage(QStringLiteral("批量删除"));
    const core::RunResult removed = tools::batchDelete(st, keep, sink);
    if (removed.cancelled) return fail(Interrupted, stopped);
    if (!removed.error.isEmpty()) return fail(Failure, session_.userView(removed.error));
    check::addLogToLastReport(st.WorkConn, removed.changeLogPath);
    if (!removed.changeLogPath.isEmpty())
        note(QStringLiteral("批量删除的记录见 ") + QDir::toNativeSeparators(removed.changeLogPath));
    for (const QString& text : removed.notes)
        note(text);
    sink.stage(QStringLiteral("合并"));
    // The separation made a copy of the same file a moment ago.
    const control::MergeResult r =
        control::mergeIntoCheckTable(st, sink, checked.backupPath.isEmpty());
    if (r.cancelled) return fail(Interrupted, stopped);
    if (!r.error.isEmpty()) return fail(Failure, session_.userView(r.error));
    if (!r.backupPath.isEmpty())
        note(QStringLiteral("合并前已备份原文件到 ") + QDir::toNativeSeparators(r.backupPath));
    if (!r.changeLogPath.isEmpty())
        note(QStringLiteral("合并写入的记录见 ") + QDir::toNativeSeparators(r.changeLogPath));
    for (const QString& text : r.notes)
        note(text);
    *deleted = removed.deleted;
    *merged = r.written;
    return Success;
}

int Runner::run(const QStringList& arguments) {
    if (arguments.size() == 1 &&
        (arguments[0] == QLatin1String("--help") || arguments[0] == QLatin1String("-h"))) {
        print(out_, usage());
        return Success;
    }
    if (arguments.size() == 1 && arguments[0] == QLatin1String("--version")) {
        print(out_,
              program + QStringLiteral(" ") + QStringLiteral(CHACHONG_VERSION) + QLatin1Char('\n'));
        return Success;
    }
    Options o;
    if (const int code = parse(arguments, &o); code != Success) return code;
    if (o.command == QLatin1String("tables")) return tables(o);
    if (o.command == QLatin1String("dump")) return dump(o);
    if (o.command == QLatin1String("backups")) return backups(o);
    if (o.command == QLatin1String("restore")) return restore(o);
    return check(o);
}

} // namespace

QString usage() {
    return QStringLiteral(
        "用法：\n"
        "  chachong-batch tables FILE\n"
        "  chachong-batch dump FILE [TABLE]\n"
        "  chachong-batch check FILE [--table NAME] --fields F1[,F2,...] [--start N] [--end N]\n"
        "                 [--fuzzy [--postcode FIELD --digits N]]\n"
        "                 [--smart [--kinds F1=KIND,...] [--level strict|normal|loose]\n"
        "                          [--reasons-csv PATH]]\n"
        "                 [--dup-csv PATH] [--rest-csv PATH] [--dup-xls PATH] [--rest-xls PATH]\n"
        "                 [--sheet NAME] [--merge-back [--keep-by F1,F2,...]]\n"
        "                 [--in-place] [--encoding NAME] [--quiet]\n"
        "                 [--report PATH.html|PATH.pdf]\n"
        "  chachong-batch backups FILE\n"
        "  chachong-batch restore FILE BACKUP\n"
        "  chachong-batch --help | --version\n"
        "FILE：.dbf、.xls、.xlsx、.csv、.txt、.mdb 或 .accdb 文件。check "
        "默认做完全相同查重，--fuzzy 做模糊查重\n"
        "（--postcode 和 --digits 按邮编前 N 位分段，N 为 1 到 6），--smart 做智能查重：\n"
        "按字段类型（KIND：name 姓名、address 地址、phone 电话、id 身份证号、org 单位名称、\n"
        "postcode 邮编、other 其他；未给出的由字段名和内容推断）比较，--level 默认为 normal\n"
        "（标准），--reasons-csv 写出每条重复记录的分组依据。check 默认在工作数据库和\n"
        ".dbf、Access 文件的临时副本上查重（文本文件和 Excel 文件只读取），--in-place 直接\n"
        "处理文件本身（删除前自动备份到“查重备份”文件夹）。\n"
        "--dup-xls、--rest-xls 把重复数据、分离后的数据表写入 Excel 文件的新工作表（名称为\n"
        "--sheet，默认为表名；.xlsx 结尾时写 Excel 2007 格式）。--merge-back 在分离后按\n"
        "--keep-by 字段（默认为查重字段）每类只保留一条重复记录，并把它们合并回数据表。\n"
        "--report 把查重报告（各项数字、重复组大小、各省市的重复记录）写成网页（.html）或\n"
        "PDF（.pdf，由同一文件夹中的 chachong 绘制）。\n"
        "check 在终端上运行时，标准错误上有一行进度（--quiet 不显示）。backups 列出 FILE 在\n"
        "“查重备份”文件夹中的备份（最新的在前）；restore 先备份 FILE 的现状，再用 BACKUP 恢复它\n"
        "（BACKUP 不是 FILE 的备份或字段不同时拒绝执行）。\n"
        "退出码：0 成功；1 失败（文件无法读写或查重出错，已改动的原文件会恢复）；2 命令行有误；\n"
        "3 拒绝执行（文件能读，但不能按要求查重，例如没有记录、没有这个字段、范围内没有记录、\n"
        "输出文件不能写入，什么都没有改动）；130 按 Ctrl-C 中断（什么都没有改动）。\n");
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
