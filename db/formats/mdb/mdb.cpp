// Access files read in a forked child process (mdbreader.cpp), which streams tables and rows
// through a pipe; this side checks the file first and turns a crash, a hang or a damaged file
// into a Chinese error text. What arrives goes to the caller's sink (the copy into SQLite is
// db/mdbcopy.cpp).
#include "db/formats/mdb/mdb.h"

#include "db/formats/bytes.h"
#include "db/formats/mdb/mdbreader.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define CHACHONG_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define CHACHONG_SANITIZED 1
#endif
#endif

namespace mdb {

using detail::Column;
using detail::Kind;
using detail::Value;

namespace {

// ---- the stream between the reading child and this process ----
// Frames: a tag byte, a 32-bit length, the payload. Strings are a 32-bit length and the bytes.
enum Tag : char { TableTag = 'T', RowTag = 'R', ErrorTag = 'X', DoneTag = 'D' };
constexpr std::uint32_t kMaxFrame = 1u << 30; // a row of a healthy file is far smaller

void putU32(std::string* out, std::uint32_t v) {
    char b[4];
    formats::putLe32(b, v);
    out->append(b, 4);
}
void putString(std::string* out, const std::string& s) {
    putU32(out, std::uint32_t(s.size()));
    out->append(s);
}

class Cursor {
public:
    Cursor(const char* p, size_t n) : p_(p), end_(p + n) {}
    bool u8(std::uint8_t* v) {
        if (end_ - p_ < 1) return false;
        *v = std::uint8_t(*p_++);
        return true;
    }
    bool u32(std::uint32_t* v) {
        if (end_ - p_ < 4) return false;
        *v = formats::le32(p_);
        p_ += 4;
        return true;
    }
    bool i32(int* v) {
        std::uint32_t u = 0;
        if (!u32(&u)) return false;
        *v = int(std::int32_t(u));
        return true;
    }
    bool string(std::string* s) {
        std::uint32_t n = 0;
        if (!u32(&n) || std::uint64_t(end_ - p_) < n) return false;
        s->assign(p_, n);
        p_ += n;
        return true;
    }
    bool atEnd() const { return p_ == end_; }
    std::string rest() const { return std::string(p_, end_); }

private:
    const char* p_;
    const char* end_;
};

// The child's sink: frames written to the pipe in large blocks.
class PipeSink : public detail::Sink {
public:
    explicit PipeSink(int fd) : fd_(fd) {}
    bool ok() const { return ok_; }

    bool table(const std::string& name, const std::vector<Column>& columns) override {
        std::string p;
        putString(&p, name);
        putU32(&p, std::uint32_t(columns.size()));
        for (const Column& c : columns) {
            putString(&p, c.name);
            p += char(c.kind);
            putU32(&p, std::uint32_t(c.size));
            putU32(&p, std::uint32_t(c.precision));
            putU32(&p, std::uint32_t(c.scale));
        }
        return frame(TableTag, p);
    }
    bool row(const std::vector<Value>& values) override {
        row_.clear();
        putU32(&row_, std::uint32_t(values.size()));
        for (const Value& v : values) {
            row_ += char(v.type);
            if (v.type != Value::Null) putString(&row_, v.data);
        }
        return frame(RowTag, row_);
    }
    void error(const std::string& message) { frame(ErrorTag, message); }
    void done() { frame(DoneTag, {}); }

    bool flush() {
        size_t at = 0;
        while (ok_ && at < buf_.size()) {
            const ssize_t n = ::write(fd_, buf_.data() + at, buf_.size() - at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                ok_ = false;
            else
                at += size_t(n);
        }
        buf_.clear();
        return ok_;
    }

private:
    bool frame(char tag, const std::string& payload) {
        if (payload.size() > kMaxFrame) return ok_ = false;
        buf_ += tag;
        putU32(&buf_, std::uint32_t(payload.size()));
        buf_ += payload;
        return buf_.size() < (1 << 16) || flush();
    }

    int fd_;
    bool ok_ = true;
    std::string buf_;
    std::string row_;
};

// Rebuilds the child's calls from the stream and passes them on to the real sink.
class StreamDecoder {
public:
    explicit StreamDecoder(detail::Sink& sink) : sink_(sink) {}

    enum State { More, Done, ChildError, SinkStopped, Garbled };
    State state() const { return state_; }
    const std::string& childError() const { return childError_; }

    void feed(const char* data, size_t n) {
        buf_.append(data, n);
        size_t at = 0;
        while (state_ == More && buf_.size() - at >= 5) {
            const char tag = buf_[at];
            const std::uint32_t len = formats::le32(buf_.data() + at + 1);
            if (len > kMaxFrame) {
                state_ = Garbled;
                break;
            }
            if (buf_.size() - at - 5 < len) break;
            apply(tag, Cursor(buf_.data() + at + 5, len));
            at += 5 + size_t(len);
        }
        buf_.erase(0, at);
    }

private:
    void apply(char tag, Cursor c) {
        switch (tag) {
        case TableTag: {
            std::string name;
            std::uint32_t count = 0;
            if (!c.string(&name) || !c.u32(&count) || count > 4096) return garbled();
            columns_.assign(count, Column{});
            for (Column& col : columns_) {
                std::uint8_t kind = 0;
                if (!c.string(&col.name) || !c.u8(&kind) || !c.i32(&col.size) ||
                    !c.i32(&col.precision) || !c.i32(&col.scale) ||
                    kind > std::uint8_t(Kind::Unsupported))
                    return garbled();
                col.kind = Kind(kind);
            }
            if (!c.atEnd()) return garbled();
            if (!sink_.table(name, columns_)) state_ = SinkStopped;
            return;
        }
        case RowTag: {
            std::uint32_t count = 0;
            if (!c.u32(&count) || count != columns_.size()) return garbled();
            values_.resize(count);
            for (Value& v : values_) {
                std::uint8_t type = 0;
                if (!c.u8(&type) || type > Value::Blob) return garbled();
                v.type = Value::Type(type);
                v.data.clear();
                if (v.type != Value::Null && !c.string(&v.data)) return garbled();
            }
            if (!c.atEnd()) return garbled();
            if (!sink_.row(values_)) state_ = SinkStopped;
            return;
        }
        case ErrorTag:
            childError_ = c.rest();
            state_ = ChildError;
            return;
        case DoneTag:
            state_ = Done;
            return;
        default:
            garbled();
        }
    }
    void garbled() { state_ = Garbled; }

    detail::Sink& sink_;
    State state_ = More;
    std::string buf_;
    std::string childError_;
    std::vector<Column> columns_;
    std::vector<Value> values_;
};

// ---- running the reader ----

void limitChildMemory() {
#ifndef CHACHONG_SANITIZED
    // A damaged length field must not let the child eat the machine's memory: allow what the
    // process already maps plus 2 GiB.
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(2) << 30);
    const struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_AS, &rl);
#endif
}

[[noreturn]] void runChild(int fd, const std::string& path, bool withRows) {
    // Crashes end the child quietly with their signal; the parent reports them.
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGPIPE})
        std::signal(sig, SIG_DFL);
    const int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) ::dup2(devnull, STDERR_FILENO); // mdbtools' warnings are for developers
    limitChildMemory();

    PipeSink sink(fd);
    const std::string error = detail::readFunction()(path, withRows, sink);
    if (sink.ok()) {
        if (error.empty())
            sink.done();
        else
            sink.error(error);
        sink.flush();
    }
    ::_exit(sink.ok() ? 0 : 3);
}

std::string describeStatus(int status) {
    if (WIFSIGNALED(status)) {
        return "读取程序（mdbtools）在读这个文件时异常终止（信号 " +
               std::to_string(WTERMSIG(status)) + "），文件可能已损坏。";
    }
    return "读取程序（mdbtools）在读这个文件时意外退出，文件可能已损坏。";
}

// Runs readAccess() into sink, in a child process unless isolation is off. Returns "" or an
// error text; kStopped when the sink stopped it (the sink then holds the reason).
std::string runReader(const std::string& path, bool withRows, detail::Sink& sink) {
    if (!detail::isolated()) return detail::readFunction()(path, withRows, sink);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return "无法启动读取程序：" + std::string(std::strerror(errno));
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return "无法启动读取程序：" + std::string(std::strerror(errno));
    }
    if (pid == 0) {
        ::close(fds[0]);
        runChild(fds[1], path, withRows);
    }
    ::close(fds[1]);

    StreamDecoder decoder(sink);
    bool hung = false;
    std::string chunk(1 << 16, '\0');
    while (decoder.state() == StreamDecoder::More) {
        pollfd p = {fds[0], POLLIN, 0};
        const int r = ::poll(&p, 1, detail::silenceTimeout());
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) break;
        if (r == 0) {
            hung = true;
            break;
        }
        const ssize_t n = ::read(fds[0], chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // the child is gone
        decoder.feed(chunk.data(), size_t(n));
    }
    ::close(fds[0]);
    const bool finished = decoder.state() == StreamDecoder::Done;
    if (!finished) ::kill(pid, SIGKILL);
    int status = 0;
    pid_t w;
    do {
        w = ::waitpid(pid, &status, 0);
    } while (w < 0 && errno == EINTR);

    switch (decoder.state()) {
    case StreamDecoder::Done:
        return {};
    case StreamDecoder::ChildError:
        return decoder.childError();
    case StreamDecoder::SinkStopped:
        return detail::kStopped;
    case StreamDecoder::Garbled:
        return "读取程序送回的数据无法识别。";
    case StreamDecoder::More:
        break;
    }
    if (hung) {
        return "读取超过 " + std::to_string((detail::silenceTimeout() + 999) / 1000) +
               " 秒没有进展，已停止；文件可能已损坏。";
    }
    if (w == pid) return describeStatus(status);
    return "读取程序意外结束，文件可能已损坏。";
}

// ---- checks shared by both entry points ----

std::string nativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

bool checkPath(const QString& path, QString* error) {
    const QString name = QFileInfo(path).fileName();
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        if (error) *error = QStringLiteral("找不到文件“%1”。").arg(path.isEmpty() ? name : path);
        return false;
    }
    bool notAccess = false;
    const std::string problem = detail::checkFile(nativePath(path), &notAccess);
    if (problem.empty()) return true;
    if (error) {
        *error = notAccess ? QStringLiteral("“%1”不是 Access 数据库文件：%2")
                                 .arg(name, QString::fromStdString(problem))
                           : QStringLiteral("无法读取 Access 数据库“%1”：%2")
                                 .arg(name, QString::fromStdString(problem));
    }
    return false;
}

QString readError(const QString& path, const std::string& problem) {
    return QStringLiteral("无法读取 Access 数据库“%1”：%2")
        .arg(QFileInfo(path).fileName(), QString::fromStdString(problem));
}

class ListSink : public detail::Sink {
public:
    QStringList names;
    bool table(const std::string& name, const std::vector<Column>&) override {
        names << QString::fromStdString(name);
        return true;
    }
    bool row(const std::vector<Value>&) override { return true; }
};

} // namespace

bool isAccessFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = f.read(0x20);
    return head.size() == 0x20 && head.at(0) == 0 &&
           (head.mid(4, 16) == QByteArray("Standard Jet DB", 16) ||
            head.mid(4, 16) == QByteArray("Standard ACE DB", 16));
}

bool listTables(const QString& path, QStringList* tables, QString* error) {
    if (tables) tables->clear();
    if (!checkPath(path, error)) return false;
    ListSink sink;
    const std::string problem = runReader(nativePath(path), false, sink);
    if (!problem.empty()) {
        if (error) *error = readError(path, problem);
        return false;
    }
    if (tables) *tables = sink.names;
    return true;
}

bool readTables(const QString& path, detail::Sink& sink, QString* error) {
    if (!checkPath(path, error)) return false;
    const std::string problem = runReader(nativePath(path), true, sink);
    if (problem.empty()) return true;
    if (error) *error = problem == detail::kStopped ? QString() : readError(path, problem);
    return false;
}

} // namespace mdb
