#include "check/engine/checkjob.h"

#include "check/engine/exactcheck.h"
#include "check/engine/separation.h"
#include "check/engine/smartscan.h"
#include "core/workdb.h"
#include "db/criteria.h"
#include "db/formats/threads.h"
#include "fuzzy/engine/fuzzycheck.h"

#include <system_error>
#include <thread>

namespace check {

namespace {

QString writeFailure(const QString& why) {
    return QStringLiteral("重复数据写入失败，未分离任何记录：\r\n") + why;
}

// The range the request asks for, checked against a table of count records.
core::Status rangeOf(const CheckRequest& r, int count, int* start, int* end) {
    return core::checkRange(r.start.value_or(QStringLiteral("1")),
                            r.end.value_or(QString::number(count)), count, start, end);
}

// A step the user has not taken yet, and something wrong.
Refusal step(const QString& what) {
    return {{what}, false};
}
Refusal wrong(const QString& what) {
    return {{what}, true};
}

} // namespace

QString failedRecordsNote(const core::RunResult& r) {
    if (r.failedRecords <= 0) return {};
    return QStringLiteral("有 %1 条记录在查重时出错，它们的重复记录可能没有全部找出：%2")
        .arg(r.failedRecords)
        .arg(r.firstFailure);
}

CheckJob::CheckJob(core::AppState& state) : st_(state) {}

CheckJob::CheckJob(core::AppState& state, const core::RunOptions& options)
    : st_(state), options_(options) {}

Refusal CheckJob::refusal(const core::AppState& st, const CheckRequest& r) {
    if (!core::isOpen(st.RsSource)) return step(QStringLiteral("请打开数据库！"));
    const int count = st.RsSource->recordCount();
    if (count < 1) return step(QStringLiteral("无数据可查！"));
    if (r.fields.isEmpty()) return step(QStringLiteral("请选择查重字段"));
    if (!r.mode) return step(QStringLiteral("请选择查重方式"));
    int start = 0, end = 0;
    return wrong(rangeOf(r, count, &start, &end).error);
}

Refusal CheckJob::prepare(const CheckRequest& r) {
    if (Refusal why = refusal(st_, r); !why.ok()) return why;
    const db::Recordset& src = *st_.RsSource;
    int start = 0, end = 0;
    rangeOf(r, src.recordCount(), &start, &end);
    auto unknown = [&](const QString& text, const QString& name) {
        return wrong(text.arg(name, src.fieldNames().join(QStringLiteral("、"))));
    };
    // Everything is checked before anything is stored: a refusal changes nothing.
    QString postcodeField;
    if (r.postcode == core::PostcodeMode::Field) {
        const QString typed = db::trimBlanks(r.postcodeField);
        if (typed.isEmpty()) return step(QStringLiteral("请选择邮编字段"));
        const int index = src.fieldIndex(typed);
        if (index < 0)
            return unknown(QStringLiteral("表中没有邮编字段“%1”。表中的字段：%2"), typed);
        if (r.postcodeDigits < 1 || r.postcodeDigits > 6)
            return wrong(
                QStringLiteral("邮编分段位数 %1 不正确：请选择 1 到 6 位。").arg(r.postcodeDigits));
        postcodeField = src.fieldName(index);
    }
    // The check fields as the table spells them.
    QStringList fields;
    for (const QString& typed : r.fields.mid(0, 5)) {
        const QString name = db::trimBlanks(typed);
        const int index = src.fieldIndex(name);
        if (index < 0) return unknown(QStringLiteral("表中没有字段“%1”。表中的字段：%2"), name);
        fields << src.fieldName(index);
    }
    QStringList kinds;
    if (*r.mode == core::CheckMode::Smart) {
        if (const QString why = smartSettingsRefusal(r.kinds, r.level, int(fields.size()));
            !why.isEmpty())
            return wrong(why);
        // Kinds not given are inferred, as the window shows them.
        kinds = r.kinds;
        const QStringList inferred = inferredKinds(st_, fields);
        while (kinds.size() < fields.size())
            kinds << QString();
        for (qsizetype k = 0; k < kinds.size(); ++k)
            if (kinds[k].isEmpty()) kinds[k] = inferred.value(k);
    }

    core::setCheckFields(st_, fields);
    core::setPostcodeMode(st_, r.postcode);
    st_.PostcodeField = postcodeField;
    st_.PostcodeDigits = qint16(postcodeField.isEmpty() ? 0 : r.postcodeDigits);
    if (const core::Status s = core::prepareCheck(st_, *r.mode); !s.ok()) return wrong(s.error);
    options_ = core::runOptionsOf(st_, start, end);
    if (*r.mode == core::CheckMode::Smart) {
        options_.kinds = kinds;
        options_.level = r.level.isEmpty() ? QStringLiteral("normal") : r.level;
    }
    result_ = {};
    return {};
}

namespace {

// Adds the time from its making to its end to a sum.
class StepClock {
public:
    explicit StepClock(qint64* sum) : sum_(sum) { clock_.start(); }
    ~StepClock() { *sum_ += clock_.elapsed(); }
    StepClock(const StepClock&) = delete;
    StepClock& operator=(const StepClock&) = delete;

private:
    qint64* sum_;
    QElapsedTimer clock_;
};

} // namespace

core::RunResult CheckJob::scan(core::ProgressSink& sink) {
    result_ = {};
    pending_ = false;
    elapsedMs_ = 0;
    const StepClock clock(&elapsedMs_);
    if (options_.mode == core::CheckMode::Smart) {
        result_ = smartScan(st_, options_, sink);
        return result_;
    }
    if (options_.mode == core::CheckMode::Fuzzy) {
        fuzzy::FuzzyCheck engine(st_); // its indexes go before the separation starts
        result_ = engine.wholecheck2(options_, sink);
        return result_;
    }
    // The check table and ClienttableCC in different databases: the groups can be written while
    // the separation works, so they wait in RsDup until then.
    pending_ = core::isOpen(st_.RsSource) && core::isOpen(st_.RsDup) &&
               st_.RsSource->connection().handle() != st_.RsDup->connection().handle() &&
               formats::workerThreads() > 1;
    result_ = exactScan(st_, options_, sink, !pending_);
    // No separation follows: what was found is written now.
    if (pending_ && !(result_.ok() && result_.duplicateRows > 0))
        if (const core::Status s = writePendingGroups(); !s.ok() && result_.error.isEmpty())
            result_.error = s.error;
    return result_;
}

core::Status CheckJob::writePendingGroups() {
    if (!pending_) return {};
    pending_ = false;
    if (st_.RsDup->updateBatch()) return {};
    return writeFailure(st_.RsDup->errorString());
}

core::RunResult CheckJob::separate(core::ProgressSink& sink) {
    if (!result_.ok() || result_.duplicateRows == 0) return result_;
    const StepClock clock(&elapsedMs_);
    // The pending groups written on a second thread, through a cursor of their own over the same
    // rows: the separation only reads them, and ClienttableCC's database is not the check
    // table's.
    QString writeError;
    std::thread writer;
    const db::RecordsetPtr groups = pending_ ? st_.RsDup->clone() : nullptr;
    pending_ = false;
    auto write = [&] {
        if (!groups->updateBatch()) writeError = groups->errorString();
    };
    if (groups) {
        try {
            writer = std::thread(write);
        } catch (const std::system_error&) {
            write(); // no thread to be had: written before the separation
        }
    }
    bool joined = !writer.joinable();
    auto written = [&] {
        if (!joined) writer.join();
        joined = true;
        return writeError.isEmpty() ? QString() : writeFailure(writeError);
    };
    const core::RunResult sep = reDelete(st_, result_.copiedFrom, sink, written);
    result_.separated = sep.separated;
    result_.remaining = sep.remaining;
    result_.backupPath = sep.backupPath;
    result_.changeLogPath = sep.changeLogPath;
    result_.notes += sep.notes;
    result_.cancelled = sep.cancelled;
    result_.error = sep.error;
    // Written by now in every case; a failure the separation did not see yet is reported.
    if (const QString why = written(); !why.isEmpty() && result_.error.isEmpty())
        result_.error = why;
    return result_;
}

core::Status CheckJob::backupDuplicates() {
    const StepClock clock(&elapsedMs_);
    const core::Status s = core::backupDuplicates(st_, false);
    if (s.ok()) return s;
    return QStringLiteral("重复数据无法备份到 ClienttableDD：") + s.error;
}

core::RunResult CheckJob::runAll(core::ProgressSink& sink) {
    scan(sink);
    separate(sink);
    if (const core::Status s = backupDuplicates(); !s.ok() && result_.error.isEmpty())
        result_.error = s.error;
    if (const core::Status s = keepReport(); !s.ok()) result_.notes << s.error;
    return result_;
}

core::Status CheckJob::keepReport() {
    return check::keepReport(st_.WorkConn, reportOf(st_, options_, result_, elapsedMs_));
}

} // namespace check
