// dBase/FoxPro tables: the header, records, memo blocks, writes and their journal.
//
// Layout: a 32-byte header (version, date of last update, record count, header and record
// length, language driver at byte 29), 32-byte field descriptors ended by 0x0D (Visual FoxPro
// adds a 263-byte database backlink), then fixed-length records, each starting with the
// deletion flag (' ' or '*'), and an end-of-file byte 0x1A.
// Memo files: dBase III .dbt (512-byte blocks, text ended by 0x1A), dBase IV .dbt (blocks of the
// size in header bytes 20-21, each starting FF FF 08 00 and the length with these 8 bytes),
// FoxPro .fpt (big-endian next free block and block size; blocks start with type and length).
#include "db/formats/blanks.h"
#include "db/formats/dbf/dbf.h"
#include "db/formats/dbf/dbf_values.h"
#include "db/formats/filemode.h"
#include "db/formats/threads.h"

#include <QBuffer>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <malloc.h>
#include <system_error>
#include <thread>

#include <unistd.h>

namespace formats::dbf {

using namespace detail;

namespace {

constexpr qint64 kMaxMemoBytes = qint64(64) << 20; // a memo larger than this is damage

enum class MemoKind { None, DBase3, DBase4, FoxPro };

bool isVisualFoxPro(quint8 v) {
    return v == 0x30 || v == 0x31 || v == 0x32;
}
bool usesFpt(quint8 v) {
    return isVisualFoxPro(v) || v == 0xF5 || v == 0xFB;
}

bool isKnownVersion(quint8 v) {
    switch (v) {
    case 0x03:
    case 0x30:
    case 0x31:
    case 0x32:
    case 0x43:
    case 0x63:
    case 0x7B:
    case 0x83:
    case 0x8B:
    case 0x8E:
    case 0xB3:
    case 0xCB:
    case 0xE5:
    case 0xF5:
    case 0xFB:
        return true;
    default:
        return false;
    }
}

// Positioned reads and writes: one system call each on files, seek and read on other devices.
QByteArray readAt(QIODevice* dev, qint64 offset, qint64 size) {
    if (!dev || offset < 0 || size <= 0) return {};
    auto* file = qobject_cast<QFile*>(dev);
    if (file && file->handle() >= 0 && (file->openMode() & QIODevice::Unbuffered)) {
        if (size > 65536) size = std::min(size, std::max<qint64>(file->size() - offset, 0));
        QByteArray bytes(size, Qt::Uninitialized);
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::pread(file->handle(), bytes.data() + done, size_t(size - done),
                                      off_t(offset + done));
            if (n <= 0) break;
            done += n;
        }
        bytes.truncate(done);
        return bytes;
    }
    if (!dev->seek(offset)) return {};
    return dev->read(size);
}

bool writeAtDevice(QIODevice* dev, qint64 offset, const QByteArray& bytes) {
    auto* file = qobject_cast<QFile*>(dev);
    if (file && file->handle() >= 0 && (file->openMode() & QIODevice::Unbuffered)) {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pwrite(file->handle(), bytes.constData() + done,
                                       size_t(bytes.size() - done), off_t(offset + done));
            if (n <= 0) return false;
            done += n;
        }
        return true;
    }
    return dev->seek(offset) && dev->write(bytes) == bytes.size();
}

bool resizeDevice(QIODevice* dev, qint64 size) {
    if (auto* f = qobject_cast<QFile*>(dev)) return f->resize(size);
    if (auto* b = qobject_cast<QBuffer*>(dev)) {
        if (b->buffer().size() > size) b->buffer().truncate(size);
        return true;
    }
    return false;
}

} // namespace

bool Field::isMemo() const {
    return type == 'M' || type == 'G' || type == 'P' || type == 'W' || (type == 'B' && length != 8);
}

bool Field::isBinary() const {
    return type == 'Q' || type == 'G' || type == 'P' || type == 'W' || (type == 'B' && length != 8);
}

QString Field::sqlType() const {
    switch (type) {
    case 'C':
        return QStringLiteral("VARCHAR(%1)").arg(length);
    case 'V':
        return QStringLiteral("VARCHAR(%1)").arg(length);
    case 'N':
    case 'F':
        return QStringLiteral("NUMERIC(%1,%2)").arg(length).arg(decimals);
    case 'D':
        return QStringLiteral("DATE");
    case 'L':
        return QStringLiteral("BOOLEAN");
    case 'M':
        return QStringLiteral("TEXT");
    case 'I':
        return QStringLiteral("INTEGER");
    case 'B':
        return length == 8 ? QStringLiteral("DOUBLE") : QStringLiteral("BLOB");
    case 'Y':
        return QStringLiteral("CURRENCY");
    case 'T':
        return QStringLiteral("DATETIME");
    case 'Q':
        return QStringLiteral("VARBINARY(%1)").arg(length);
    case 'G':
    case 'P':
    case 'W':
        return QStringLiteral("BLOB");
    default:
        return QStringLiteral("TEXT");
    }
}

QString findCompanionFile(const QString& dbfPath, const QStringList& extensions) {
    const QFileInfo fi(dbfPath);
    QString base = fi.fileName();
    const int dot = base.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) base.truncate(dot);
    const QDir dir = fi.absoluteDir();
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& ext : extensions) {
        const QString wanted = base + QLatin1Char('.') + ext;
        if (entries.contains(wanted)) return dir.filePath(wanted);
        for (const QString& e : entries)
            if (e.compare(wanted, Qt::CaseInsensitive) == 0) return dir.filePath(e);
    }
    return {};
}

struct Table::Private {
    QString path, memoPath;
    std::unique_ptr<QIODevice> dbf, memo;
    bool fromFiles = false;
    OpenOptions options;
    bool writable = false; // devices open for writing
    bool refused = false;  // the file could not be opened for writing
    bool memoWritable = false;

    QByteArray header; // the whole header: descriptors hold the autoincrement counters
    quint8 version = 0;
    int headerLength = 0;
    int recordLength = 0;
    quint32 recordCount = 0;
    std::vector<Field> fields;
    std::vector<QByteArray> rawNames;
    std::vector<int> descriptorOffset; // of each field in the header
    int nullFlags = -1;
    CodePage cp;
    CodePageOrigin cpOrigin = CodePageOrigin::LanguageDriver;
    std::unique_ptr<TextDecoder> decoder; // made once the code page is known; never moved

    bool memoFields = false;
    MemoKind memoKind = MemoKind::None;
    qint64 memoBlockSize = 512;
    quint32 memoNextFree = 0;

    bool dirty = false, memoDirty = false;

    struct Undo {
        bool memo;
        qint64 offset;
        QByteArray bytes;
    };
    struct State {
        quint32 recordCount, memoNextFree;
        QByteArray header;
        bool dirty, memoDirty;
        qint64 dbfSize, memoSize;
    };
    struct Mark {
        int id;
        size_t undoSize;
        State state;
        size_t deletionCount;
    };
    bool inTx = false;
    std::vector<Undo> undo;
    std::vector<Mark> marks;
    // Deletions inside a transaction: marked here and written in record order when the
    // transaction is flushed, the flags of neighbouring records in one read and one write
    // instead of a read and a write of the file for each record. Reads see them at once.
    std::vector<quint32> deletions; // record numbers in the order deleted: a savepoint cuts it back
    std::vector<bool> deleted;      // by record number, while deletions are pending
    bool deletionPending(quint32 recno) const { return recno < deleted.size() && deleted[recno]; }
    void dropDeletions(size_t keep) {
        while (deletions.size() > keep) {
            deleted[deletions.back()] = false;
            deletions.pop_back();
        }
        if (deletions.empty()) deleted = {};
    }
    bool writeDeletions(QString* error);

    const Field* nullField() const { return nullFlags >= 0 ? &fields[size_t(nullFlags)] : nullptr; }
    QString displayPath() const {
        return path.isEmpty() ? QStringLiteral("（内存中的表）") : QDir::toNativeSeparators(path);
    }
    QString corrupt(const QString& why) const {
        return QStringLiteral("表 %1 已损坏：%2").arg(displayPath(), why);
    }

    bool load(QString* error);
    void decodeNames();
    void chooseUndeclaredCodePage(Table* table);
    bool openMemo(QString* error);
    void readMemoHeader();
    quint32 computeRecordCount(qint64 fileSize) const {
        if (fileSize <= headerLength) return 0;
        const qint64 fit = (fileSize - headerLength) / recordLength;
        return quint32(std::min<qint64>(fit, le32(header.constData() + 4)));
    }

    std::optional<quint32> memoBlock(const Field& f, const QByteArray& record) const;
    std::optional<QByteArray> readMemo(quint32 block);

    bool ensureWritable(QString* error);
    bool writeAt(bool toMemo, qint64 offset, const QByteArray& bytes, QString* error);
    bool appendMemo(const Field& f, const QByteArray& data, quint32* block, QString* error);
    bool encodeValues(QByteArray* record, const QByteArray& old,
                      const std::vector<std::optional<Value>>& values, bool isNew, QString* error,
                      Table* table);
    qint64 recordOffset(quint32 recno) const {
        return headerLength + qint64(recno - 1) * recordLength;
    }

    State state() const {
        return {recordCount,           memoNextFree,           header, dirty, memoDirty,
                dbf ? dbf->size() : 0, memo ? memo->size() : 0};
    }
    bool undoTo(const Mark& mark, QString* error);
};

Table::Table() : d(std::make_unique<Private>()) {}

Table::~Table() {
    close();
}

void Table::close() {
    if (!d) return;
    if (d->writable && (d->dirty || d->memoDirty)) flush(nullptr);
    d = std::make_unique<Private>();
}

bool Table::Private::load(QString* error) {
    const QByteArray head = readAt(dbf.get(), 0, 32);
    const qint64 size = dbf->size();
    if (head.size() < 32) {
        *error = QStringLiteral("文件 %1 不是 dBase/FoxPro 表（文件太短）").arg(displayPath());
        return false;
    }
    version = quint8(head[0]);
    if (version == 0x04 || version == 0x8C) {
        *error = QStringLiteral("不支持 dBase 7 格式的表：%1").arg(displayPath());
        return false;
    }
    headerLength = le16(head.constData() + 8);
    recordLength = le16(head.constData() + 10);
    if (!isKnownVersion(version) || headerLength < 33 || recordLength < 1) {
        *error =
            QStringLiteral("文件 %1 不是 dBase/FoxPro 表（文件头无法识别）").arg(displayPath());
        return false;
    }
    if (headerLength > size) {
        *error = corrupt(QStringLiteral("表头不完整"));
        return false;
    }
    header = readAt(dbf.get(), 0, headerLength);
    if (header.size() != headerLength) {
        *error = corrupt(QStringLiteral("无法读取表头"));
        return false;
    }

    const bool vfp = isVisualFoxPro(version);
    int offset = 1;
    int nullBits = 0;
    for (int at = 32; at + 32 <= headerLength && header[at] != '\x0D'; at += 32) {
        const char* p = header.constData() + at;
        Field f;
        int nameEnd = 0;
        while (nameEnd < 11 && p[nameEnd] != '\0')
            ++nameEnd;
        f.type = char(QChar::fromLatin1(p[11]).toUpper().toLatin1());
        f.length = quint8(p[16]);
        f.decimals = quint8(p[17]);
        f.flags = vfp ? quint8(p[18]) : 0;
        // Clipper and FoxPro store character fields longer than 255 bytes with the high byte
        // in the decimals.
        if (f.type == 'C' && !vfp && f.decimals > 0) {
            f.length += f.decimals * 256;
            f.decimals = 0;
        }
        f.offset = offset;
        offset += f.length;
        if (f.type == '0') nullFlags = int(fields.size());
        fields.push_back(f);
        rawNames.push_back(QByteArray(p, nameEnd));
        descriptorOffset.push_back(at);
    }
    if (fields.empty()) {
        *error = corrupt(QStringLiteral("表中没有字段"));
        return false;
    }
    // Some writers store a record length one byte short of the fields (the deletion flag left
    // out) and write records as long as the fields. The file's size tells: it holds the
    // header's record count of such records, with or without the end-of-file byte. Only then
    // are the fields' lengths taken; the header keeps its own number.
    if (offset > recordLength) {
        const qint64 data = size - headerLength;
        const qint64 count = le32(head.constData() + 4);
        if (data != count * offset && data != count * offset + 1) {
            *error =
                corrupt(QStringLiteral("字段的总长度超过记录长度（%1 字节）").arg(recordLength));
            return false;
        }
        recordLength = offset;
    }
    // _NullFlags: in field order, a varchar/varbinary field takes a "shorter than the field"
    // bit, then every nullable field a NULL bit.
    if (nullFlags >= 0) {
        const int capacity = fields[size_t(nullFlags)].length * 8;
        for (Field& f : fields) {
            if (f.isHidden()) continue;
            if ((f.type == 'V' || f.type == 'Q') && nullBits < capacity)
                f.varLengthBit = nullBits++;
            if ((f.flags & 0x02) && nullBits < capacity) f.nullBit = nullBits++;
        }
    }
    for (const Field& f : fields)
        memoFields = memoFields || f.isMemo();
    recordCount = computeRecordCount(size);
    return true;
}

// For a table whose header and .cpg file name no code page: the caller's, else the guess.
void Table::Private::chooseUndeclaredCodePage(Table* table) {
    if (cp.isValid()) return; // cpOrigin says which declared it
    cp = options.fallbackCodePage;
    cpOrigin = CodePageOrigin::Caller;
    if (cp.isValid()) return;
    cp = guessCodePage(table->textSamples());
    cpOrigin = CodePageOrigin::Guessed;
}

void Table::Private::decodeNames() {
    decoder = std::make_unique<TextDecoder>(cp.readCodec);
    QSet<QString> seen;
    for (size_t i = 0; i < fields.size(); ++i) {
        QString name = trimBlanks(decoder->decode(rawNames[i]));
        if (name.isEmpty()) name = QStringLiteral("FIELD%1").arg(i + 1);
        QString unique = name;
        for (int n = 2; seen.contains(unique.toLower()); ++n)
            unique = name + QStringLiteral("_%1").arg(n);
        seen.insert(unique.toLower());
        fields[i].name = unique;
    }
}

void Table::Private::readMemoHeader() {
    const QByteArray h = readAt(memo.get(), 0, 512);
    memoNextFree = 0;
    if (memoKind == MemoKind::FoxPro) {
        if (h.size() >= 8) {
            memoNextFree = be32(h.constData());
            memoBlockSize = be16(h.constData() + 6);
        }
        if (memoBlockSize <= 0) memoBlockSize = 512;
    } else {
        if (h.size() >= 4) memoNextFree = le32(h.constData());
        memoBlockSize = 512;
        if (memoKind == MemoKind::DBase4 && h.size() >= 22) {
            const int bs = le16(h.constData() + 20);
            if (bs >= 64) memoBlockSize = bs;
        }
    }
}

bool Table::Private::openMemo(QString* error) {
    const QStringList exts = usesFpt(version)
                                 ? QStringList{QStringLiteral("fpt"), QStringLiteral("dbt")}
                                 : QStringList{QStringLiteral("dbt"), QStringLiteral("fpt")};
    memoPath = findCompanionFile(path, exts);
    if (memoPath.isEmpty()) return true; // memo values read as NULL
    auto f = std::make_unique<QFile>(memoPath);
    if (!f->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = QStringLiteral("无法打开备注文件 %1：%2")
                     .arg(QDir::toNativeSeparators(memoPath), f->errorString());
        return false;
    }
    memo = std::move(f);
    if (memoPath.endsWith(QLatin1String("fpt"), Qt::CaseInsensitive))
        memoKind = MemoKind::FoxPro;
    else
        memoKind = (version & 0x08) ? MemoKind::DBase4 : MemoKind::DBase3;
    readMemoHeader();
    return true;
}

bool Table::open(const QString& path, const OpenOptions& options, QString* error) {
    close();
    QString ignored;
    if (!error) error = &ignored;
    const QFileInfo fi(path);
    if (!fi.exists()) {
        *error = QStringLiteral("文件不存在：%1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!fi.isFile()) {
        *error = QStringLiteral("不是文件：%1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    auto f = std::make_unique<QFile>(path);
    if (!f->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = QStringLiteral("无法打开文件 %1：%2")
                     .arg(QDir::toNativeSeparators(path), f->errorString());
        return false;
    }
    d->path = fi.absoluteFilePath();
    d->fromFiles = true;
    d->options = options;
    d->dbf = std::move(f);
    if (!d->load(error)) {
        d = std::make_unique<Private>();
        return false;
    }
    // Code page: the language-driver byte, else a .cpg file, else the caller's, else the guess.
    d->cp = codePageForLanguageDriver(quint8(d->header[29]));
    if (!d->cp.isValid()) {
        const QString cpg = findCompanionFile(d->path, {QStringLiteral("cpg")});
        if (!cpg.isEmpty()) {
            QFile c(cpg);
            if (c.open(QIODevice::ReadOnly)) {
                QByteArray text = c.read(256);
                if (text.startsWith("\xEF\xBB\xBF")) text.remove(0, 3);
                d->cp = parseCodePage(QString::fromLatin1(text));
                d->cpOrigin = CodePageOrigin::CpgFile;
            }
        }
    }
    d->chooseUndeclaredCodePage(this);
    d->decodeNames();
    if (d->memoFields && !d->openMemo(error)) {
        d = std::make_unique<Private>();
        return false;
    }
    return true;
}

bool Table::open(std::unique_ptr<QIODevice> dbf, std::unique_ptr<QIODevice> memo,
                 const OpenOptions& options, QString* error) {
    close();
    QString ignored;
    if (!error) error = &ignored;
    if (!dbf || !dbf->isOpen() || dbf->isSequential()) {
        *error = QStringLiteral("无法读取表");
        return false;
    }
    d->options = options;
    d->dbf = std::move(dbf);
    if (!d->load(error)) {
        d = std::make_unique<Private>();
        return false;
    }
    d->cp = codePageForLanguageDriver(quint8(d->header[29]));
    d->chooseUndeclaredCodePage(this);
    d->decodeNames();
    if (d->memoFields && memo && memo->isOpen() && !memo->isSequential()) {
        d->memo = std::move(memo);
        d->memoKind = usesFpt(d->version)   ? MemoKind::FoxPro
                      : (d->version & 0x08) ? MemoKind::DBase4
                                            : MemoKind::DBase3;
        d->readMemoHeader();
    }
    d->writable = d->dbf->isWritable() && !options.readOnly;
    d->memoWritable = d->writable && d->memo && d->memo->isWritable();
    return true;
}

QString Table::path() const {
    return d->path;
}
const std::vector<Field>& Table::fields() const {
    return d->fields;
}
CodePage Table::codePage() const {
    return d->cp;
}
CodePageOrigin Table::codePageOrigin() const {
    return d->cpOrigin;
}

std::vector<QByteArray> Table::textSamples(qsizetype maxBytes) {
    std::vector<QByteArray> out;
    qsizetype taken = 0;
    const auto take = [&](const char* p, qsizetype n) {
        while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0'))
            --n;
        bool high = false;
        for (qsizetype i = 0; i < n && !high; ++i)
            high = quint8(p[i]) >= 0x80;
        if (!high) return;
        out.emplace_back(p, n);
        taken += n;
    };
    for (const QByteArray& name : d->rawNames)
        take(name.constData(), name.size());
    std::vector<const Field*> text;
    for (const Field& f : d->fields)
        if ((f.type == 'C' || f.type == 'V') && !f.isBinary()) text.push_back(&f);
    if (text.empty() || d->recordLength <= 0) return out;
    // Some megabytes of records at most: a long table of plain ASCII is not read to its end.
    constexpr qint64 kMostBytes = qint64(8) << 20;
    const quint32 chunk = quint32(std::max<qint64>(1, (qint64(256) << 10) / d->recordLength));
    const quint32 last = quint32(
        std::min<qint64>(d->recordCount, std::max<qint64>(1, kMostBytes / d->recordLength)));
    QByteArray records;
    for (quint32 first = 1; first <= last && taken < maxBytes; first += chunk) {
        const quint32 got =
            readRecords(first, std::min(chunk, last - first + 1), &records, nullptr);
        if (got == 0) break;
        for (quint32 k = 0; k < got && taken < maxBytes; ++k) {
            const char* rec = records.constData() + qsizetype(k) * d->recordLength;
            for (const Field* f : text) {
                if (f->offset + f->length > d->recordLength) continue;
                const char* p = rec + f->offset;
                qsizetype n = 0; // up to the first NUL, as the value reads
                while (n < f->length && p[n] != '\0')
                    ++n;
                take(p, n);
            }
        }
    }
    return out;
}
quint8 Table::version() const {
    return d->version;
}
bool Table::hasMemoFields() const {
    return d->memoFields;
}
bool Table::hasMemoFile() const {
    return d->memo != nullptr;
}
bool Table::isReadOnly() const {
    return d->options.readOnly || d->refused;
}
quint32 Table::recordCount() const {
    return d->recordCount;
}
bool Table::inTransaction() const {
    return d->inTx;
}

std::vector<int> Table::visibleFields() const {
    std::vector<int> v;
    for (size_t i = 0; i < d->fields.size(); ++i)
        if (!d->fields[i].isHidden()) v.push_back(int(i));
    return v;
}

bool Table::refresh(QString* error) {
    if (!d->dbf || d->dirty || d->memoDirty) return true; // our own changes are pending
    const QByteArray head = readAt(d->dbf.get(), 0, 32);
    if (head.size() < 32 || quint8(head[0]) != d->version ||
        le16(head.constData() + 8) != d->headerLength ||
        le16(head.constData() + 10) != le16(d->header.constData() + 10)) {
        if (error)
            *error =
                QStringLiteral("表 %1 的结构已被其他程序改变，请重新打开").arg(d->displayPath());
        return false;
    }
    std::memcpy(d->header.data(), head.constData(), 32);
    d->recordCount = d->computeRecordCount(d->dbf->size());
    return true;
}

bool Table::readRecord(quint32 recno, QByteArray* record, QString* error) {
    return readRecords(recno, 1, record, error) == 1;
}

quint32 Table::readRecords(quint32 first, quint32 count, QByteArray* records, QString* error) {
    records->clear();
    if (first < 1 || first > d->recordCount || count == 0) {
        if (error) *error = QStringLiteral("记录 %1 不存在").arg(first);
        return 0;
    }
    count = std::min(count, d->recordCount - first + 1);
    *records = readAt(d->dbf.get(), d->recordOffset(first), qint64(count) * d->recordLength);
    const quint32 got = quint32(records->size() / d->recordLength);
    records->truncate(qsizetype(got) * d->recordLength);
    if (!d->deletions.empty())
        for (quint32 k = 0; k < got; ++k)
            if (d->deletionPending(first + k)) (*records)[qsizetype(k) * d->recordLength] = '*';
    if (got == 0 && error)
        *error = QStringLiteral("无法读取表 %1 的记录 %2").arg(d->displayPath()).arg(first);
    return got;
}

int Table::recordLength() const {
    return d->recordLength;
}

bool Table::isDeleted(const QByteArray& record) {
    return !record.isEmpty() && record[0] == '*';
}

std::optional<quint32> Table::Private::memoBlock(const Field& f, const QByteArray& record) const {
    const char* p = record.constData() + f.offset;
    if (f.length == 4) return le32(p);
    quint64 block = 0;
    bool any = false;
    for (int i = 0; i < f.length; ++i) {
        const char c = p[i];
        if (c == ' ' || c == '\0') {
            if (any) break;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        block = block * 10 + quint64(c - '0');
        if (block > 0xffffffffu) return std::nullopt;
        any = true;
    }
    return quint32(block);
}

std::optional<QByteArray> Table::Private::readMemo(quint32 block) {
    if (!memo) return std::nullopt;
    if (block == 0) return QByteArray();
    const qint64 size = memo->size();
    const qint64 at = qint64(block) * memoBlockSize;
    if (at >= size || at < 0) return std::nullopt;
    const QByteArray head = readAt(memo.get(), at, 8);
    if (memoKind == MemoKind::FoxPro) {
        if (head.size() < 8) return std::nullopt;
        const qint64 length =
            std::min<qint64>({be32(head.constData() + 4), size - at - 8, kMaxMemoBytes});
        return readAt(memo.get(), at + 8, length);
    }
    if (head.size() == 8 && head.startsWith(QByteArrayView("\xFF\xFF\x08\x00", 4))) {
        const qint64 stored = le32(head.constData() + 4);
        const qint64 length =
            std::min<qint64>({stored >= 8 ? stored - 8 : 0, size - at - 8, kMaxMemoBytes});
        return readAt(memo.get(), at + 8, length);
    }
    // dBase III: the text runs to the first 0x1A.
    QByteArray data;
    qint64 pos = at;
    while (pos < size && data.size() < kMaxMemoBytes) {
        const QByteArray chunk = readAt(memo.get(), pos, 4096);
        if (chunk.isEmpty()) break;
        const qsizetype end = chunk.indexOf('\x1A');
        if (end >= 0) {
            data += chunk.left(end);
            return data;
        }
        data += chunk;
        pos += chunk.size();
    }
    return data;
}

Value Table::value(const QByteArray& record, int index) {
    return valueWith(record, index, *d->decoder);
}

Value Table::valueWith(const QByteArray& record, int index, TextDecoder& decoder) {
    if (index < 0 || size_t(index) >= d->fields.size()) return Value::null();
    const Field& f = d->fields[size_t(index)];
    if (f.isHidden() || f.offset + f.length > record.size()) return Value::null();
    const Field* nulls = d->nullField();
    if (f.nullBit >= 0 && testBit(record, nulls, f.nullBit)) return Value::null();
    if (f.isMemo()) {
        const auto block = d->memoBlock(f, record);
        if (!block) return Value::null();
        const auto data = d->readMemo(*block);
        if (!data) return Value::null();
        if (f.isBinary()) return Value::fromBytes(*data);
        // The text ends at its stored length; NUL bytes some programs count in it are no text.
        qsizetype length = data->size();
        while (length > 0 && data->at(length - 1) == '\0')
            --length;
        return Value::fromText(decoder.decode(data->constData(), length));
    }
    if ((f.type == 'V' || f.type == 'Q') && f.varLengthBit >= 0 &&
        testBit(record, nulls, f.varLengthBit) && f.length > 0) {
        const int n = std::min<int>(quint8(record[f.offset + f.length - 1]), f.length - 1);
        const QByteArray bytes = record.mid(f.offset, n);
        if (f.type == 'Q') return Value::fromBytes(bytes);
        return Value::fromText(decoder.decode(bytes));
    }
    return decodeField(f, record.constData() + f.offset, decoder);
}

bool Table::readTextRange(quint32 first, quint32 last, const std::vector<int>& visible,
                          TextDecoder& decoder, TextColumns* out, QString* error) {
    const int length = d->recordLength;
    const quint32 chunk = quint32(std::max(1, (4 << 20) / std::max(1, length)));
    QByteArray records;
    std::vector<TextCell> rowCells;
    rowCells.reserve(visible.size());
    while (first <= last) {
        const quint32 got = readRecords(first, std::min(chunk, last - first + 1), &records, error);
        if (got == 0) return false;
        for (quint32 k = 0; k < got; ++k) {
            const char* rec = records.constData() + qsizetype(k) * length;
            if (rec[0] == '*') continue;
            out->records.push_back(first + k);
            const QByteArray raw = QByteArray::fromRawData(rec, length);
            rowCells.clear();
            for (int index : visible) {
                const Field& f = d->fields[size_t(index)];
                const quint32 at = quint32(out->text.size());
                if (f.type == 'C' && f.nullBit < 0 && f.varLengthBit < 0) {
                    // Characters: up to a NUL, without the blanks that pad them.
                    const char* p = rec + f.offset;
                    int end = 0;
                    while (end < f.length && p[end] != '\0')
                        ++end;
                    while (end > 0 && p[end - 1] == ' ')
                        --end;
                    decoder.decodeInto(p, end, &out->text);
                    rowCells.push_back({at, int32_t(out->text.size() - at)});
                    continue;
                }
                const Value v = valueWith(raw, index, decoder);
                if (v.kind != Value::Kind::Text) {
                    rowCells.push_back({});
                    continue;
                }
                out->text.insert(out->text.end(), reinterpret_cast<const char16_t*>(v.text.utf16()),
                                 reinterpret_cast<const char16_t*>(v.text.utf16()) + v.text.size());
                rowCells.push_back({at, int32_t(v.text.size())});
            }
            out->cells.append(rowCells.data(), out->text);
        }
        first += got;
    }
    return true;
}

bool Table::readAllText(TextColumns* out, QString* error) {
    const std::vector<int> visible = visibleFields();
    const quint32 total = d->recordCount;
    out->records.clear();
    out->text.clear();
    out->cells = TextRows(int(visible.size()));
    out->records.reserve(total);
    out->cells.reserve(total);
    // A character takes at least one byte of a record: room for all of them, only what is
    // written becomes memory.
    out->text.reserve(size_t(total) * size_t(d->recordLength));
    // A long table without memo fields, read from a file (reads at an offset, no shared file
    // position): the second half on a second core, in parts that join the first half one by one,
    // each freed as it joins.
    auto* file = qobject_cast<QFile*>(d->dbf.get());
    const bool split = total >= 100000 && !d->memoFields && file && file->handle() >= 0 &&
                       (file->openMode() & QIODevice::Unbuffered) && workerThreads() > 1;
    if (!split) return readTextRange(1, total, visible, *d->decoder, out, error);
    const quint32 half = total / 2;
    const quint32 partSize = std::max<quint32>(1, half / 16);
    std::vector<TextColumns> parts;
    QString secondError;
    bool secondOk = true;
    std::thread second;
    try {
        second = std::thread([&] {
            TextDecoder decoder(d->cp.readCodec);
            for (quint32 first = half + 1; first <= total && secondOk; first += partSize) {
                parts.emplace_back().cells = TextRows(int(visible.size()));
                secondOk = readTextRange(first, std::min(total, first + partSize - 1), visible,
                                         decoder, &parts.back(), &secondError);
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had (a process limit): all of it here.
        return readTextRange(1, total, visible, *d->decoder, out, error);
    }
    const bool firstOk = readTextRange(1, half, visible, *d->decoder, out, error);
    second.join();
    if (firstOk && !secondOk && error) *error = secondError;
    if (!firstOk || !secondOk) return false;
    for (TextColumns& part : parts) {
        const uint32_t base = uint32_t(out->text.size());
        out->records.insert(out->records.end(), part.records.begin(), part.records.end());
        out->text.insert(out->text.end(), part.text.begin(), part.text.end());
        out->cells.appendMoved(part.cells, base);
        part = TextColumns();
    }
    // The parts were made by the other thread, in its own heap: their pages go back now rather
    // than stay with a heap this thread does not allocate from.
    malloc_trim(0);
    return true;
}

// ---- writing -------------------------------------------------------------------------------

bool Table::Private::ensureWritable(QString* error) {
    if (options.readOnly) {
        *error = QStringLiteral("表 %1 以只读方式打开，不能写入").arg(displayPath());
        return false;
    }
    if (writable) return true;
    // A file marked read-only stays so, whoever runs the program.
    if (fromFiles && !formats::mayWrite(QFileInfo(path))) refused = true;
    if (!fromFiles || refused) {
        *error = QStringLiteral("文件是只读的，不能写入：%1").arg(displayPath());
        return false;
    }
    auto f = std::make_unique<QFile>(path);
    if (!f->open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered)) {
        refused = true;
        *error =
            QStringLiteral("文件是只读的（或位于只读介质上），不能写入：%1").arg(displayPath());
        return false;
    }
    dbf = std::move(f);
    if (memo) {
        auto m = std::make_unique<QFile>(memoPath);
        if (m->open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered)) {
            memo = std::move(m);
            memoWritable = true;
        }
    }
    writable = true;
    return true;
}

bool Table::Private::writeAt(bool toMemo, qint64 offset, const QByteArray& bytes, QString* error) {
    QIODevice* dev = toMemo ? memo.get() : dbf.get();
    if (inTx && !marks.empty()) {
        // Bytes that existed when the innermost savepoint began are kept for undo; bytes past
        // that size go away when the file is cut back to it.
        const qint64 limit = toMemo ? marks.back().state.memoSize : marks.back().state.dbfSize;
        if (offset < limit) {
            const qint64 n = std::min<qint64>(bytes.size(), limit - offset);
            undo.push_back({toMemo, offset, readAt(dev, offset, n)});
        }
    }
    if (!writeAtDevice(dev, offset, bytes)) {
        *error = QStringLiteral("写入文件失败：%1（%2）")
                     .arg(toMemo ? QDir::toNativeSeparators(memoPath) : displayPath(),
                          qobject_cast<QFile*>(dev) ? qt_error_string() : dev->errorString());
        return false;
    }
    return true;
}

bool Table::Private::appendMemo(const Field& f, const QByteArray& data, quint32* block,
                                QString* error) {
    if (!memo) {
        *error =
            QStringLiteral("表 %1 的备注文件缺失，不能写入备注字段 %2").arg(displayPath(), f.name);
        return false;
    }
    if (!memoWritable) {
        *error = QStringLiteral("备注文件是只读的，不能写入：%1")
                     .arg(QDir::toNativeSeparators(memoPath));
        return false;
    }
    QByteArray blockBytes;
    if (memoKind == MemoKind::FoxPro) {
        blockBytes.resize(8);
        const quint32 type = f.type == 'P' ? 0 : f.type == 'G' ? 2 : 1;
        putBe32(blockBytes.data(), type);
        putBe32(blockBytes.data() + 4, quint32(data.size()));
        blockBytes += data;
    } else if (memoKind == MemoKind::DBase4) {
        blockBytes = QByteArray("\xFF\xFF\x08\x00", 4) + QByteArray(4, '\0');
        putLe32(blockBytes.data() + 4, quint32(data.size() + 8));
        blockBytes += data;
    } else {
        if (data.contains('\x1A')) {
            *error = QStringLiteral("字段 %1 的备注内容含有字符 0x1A，dBase III 备注文件不能保存它")
                         .arg(f.name);
            return false;
        }
        blockBytes = data + "\x1A\x1A";
    }
    const qint64 bs = memoBlockSize;
    const qint64 blocks = (blockBytes.size() + bs - 1) / bs;
    blockBytes.append(QByteArray(blocks * bs - blockBytes.size(), '\0'));
    // New blocks go at the end of the file: never over existing blocks, whatever the header
    // says, and never far past the end when the header's next free block is damaged.
    const qint64 size = memo->size();
    const qint64 start = std::max<qint64>((size + bs - 1) / bs, (512 + bs - 1) / bs);
    if (start + blocks > 0xffffffffLL) {
        *error = QStringLiteral("备注文件已满：%1").arg(QDir::toNativeSeparators(memoPath));
        return false;
    }
    if (!writeAt(true, start * bs, blockBytes, error)) return false;
    memoNextFree = quint32(start + blocks);
    memoDirty = true;
    *block = quint32(start);
    return true;
}

// Encodes the given values into record (a copy of old). Memo blocks are written only after
// every value fitted, so a refused value leaves the files as they were.
bool Table::Private::encodeValues(QByteArray* record, const QByteArray& old,
                                  const std::vector<std::optional<Value>>& values, bool isNew,
                                  QString* error, Table* table) {
    struct PendingMemo {
        const Field* field;
        QByteArray data;
    };
    std::vector<PendingMemo> memos;
    const Field* nulls = nullField();
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        if (f.isHidden()) continue;
        std::optional<Value> v = i < values.size() ? values[i] : std::nullopt;
        if (isNew && f.isAutoIncrement() && f.type == 'I' && (!v || v->isNull())) {
            const int at = descriptorOffset[i];
            const quint32 next = le32(header.constData() + at + 19);
            const quint8 step = quint8(header[at + 23]);
            v = Value::fromText(QString::number(qint32(next)));
            putLe32(header.data() + at + 19, next + (step ? step : 1));
        }
        if (!v) {
            if (!isNew) continue;
            v = Value::null();
        }
        if (!isNew && table->value(old, int(i)) == *v) continue; // unchanged: keep its bytes
        if (f.isMemo()) {
            QByteArray data;
            if (!v->isNull() && !encodeMemo(f, *v, cp, &data, error)) return false;
            if (!v->isNull() && !data.isEmpty() && !memo) {
                *error = QStringLiteral("表 %1 的备注文件缺失，不能写入备注字段 %2")
                             .arg(displayPath(), f.name);
                return false;
            }
            blankField(f, record->data() + f.offset, f.length == 4);
            setBit(record, nulls, f.nullBit, v->isNull() && f.isNullable());
            if (!data.isEmpty()) memos.push_back({&f, data});
            continue;
        }
        if (!encodeField(f, *v, cp, nulls, record, error)) return false;
    }
    for (const PendingMemo& m : memos) {
        quint32 block = 0;
        if (!appendMemo(*m.field, m.data, &block, error)) return false;
        char* p = record->data() + m.field->offset;
        if (m.field->length == 4) {
            putLe32(p, block);
        } else {
            const QByteArray digits =
                QByteArray::number(block).rightJustified(m.field->length, ' ');
            if (digits.size() > m.field->length) {
                *error =
                    QStringLiteral("备注字段 %1 太短，放不下块号 %2").arg(m.field->name).arg(block);
                return false;
            }
            std::memcpy(p, digits.constData(), size_t(m.field->length));
        }
    }
    return true;
}

bool Table::appendRecord(const std::vector<std::optional<Value>>& values, quint32* recno,
                         QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    if (!d->dbf || !d->ensureWritable(error)) return false;
    QByteArray record(d->recordLength, ' ');
    for (const Field& f : d->fields)
        blankField(f, record.data() + f.offset, f.length == 4);
    const QByteArray headerBefore = d->header;
    if (!d->encodeValues(&record, record, values, true, error, this)) {
        d->header = headerBefore; // autoincrement counters
        return false;
    }
    if (d->recordCount == 0xffffffffu) {
        *error = QStringLiteral("表 %1 的记录数已达上限").arg(d->displayPath());
        return false;
    }
    if (!d->writeAt(false, d->recordOffset(d->recordCount + 1), record, error)) return false;
    ++d->recordCount;
    d->dirty = true;
    if (recno) *recno = d->recordCount;
    return true;
}

bool Table::checkValue(int field, const Value& value, QString* error) const {
    if (field < 0 || field >= int(d->fields.size())) return true;
    const Field& f = d->fields[size_t(field)];
    QString ignored;
    if (!error) error = &ignored;
    if (f.isMemo()) {
        QByteArray data;
        return value.isNull() || encodeMemo(f, value, d->cp, &data, error);
    }
    QByteArray record(d->recordLength, ' ');
    return encodeField(f, value, d->cp, d->nullField(), &record, error);
}

bool Table::updateRecord(quint32 recno, const std::vector<std::optional<Value>>& values,
                         QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    QByteArray old;
    if (!d->dbf || !readRecord(recno, &old, error) || !d->ensureWritable(error)) return false;
    QByteArray record = old;
    if (!d->encodeValues(&record, old, values, false, error, this)) return false;
    if (record == old) return true;
    if (!d->writeAt(false, d->recordOffset(recno), record, error)) return false;
    d->dirty = true;
    return true;
}

bool Table::deleteRecord(quint32 recno, QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    if (d->dbf && d->inTx && !d->marks.empty()) {
        if (recno < 1 || recno > d->recordCount) {
            *error = QStringLiteral("记录 %1 不存在").arg(recno);
            return false;
        }
        if (!d->ensureWritable(error)) return false;
        // A record deleted in the file already is marked again: the flag written is the same.
        if (d->deletionPending(recno)) return true;
        if (d->deleted.size() <= recno) d->deleted.resize(size_t(d->recordCount) + 1);
        d->deleted[recno] = true;
        d->deletions.push_back(recno);
        d->dirty = true;
        return true;
    }
    QByteArray old;
    if (!d->dbf || !readRecord(recno, &old, error) || !d->ensureWritable(error)) return false;
    if (isDeleted(old)) return true;
    if (!d->writeAt(false, d->recordOffset(recno), QByteArray(1, '*'), error)) return false;
    d->dirty = true;
    return true;
}

bool Table::flush(QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    if (!d->dbf || (!d->dirty && !d->memoDirty)) return true;
    if (!d->writeDeletions(error)) return false;
    if (d->dirty) {
        const QDate today = QDate::currentDate();
        d->header[1] = char(std::clamp(today.year() - 1900, 0, 255));
        d->header[2] = char(today.month());
        d->header[3] = char(today.day());
        putLe32(d->header.data() + 4, d->recordCount);
        if (!d->writeAt(false, 0, d->header, error)) return false;
        const qint64 end = d->recordOffset(d->recordCount + 1);
        if (readAt(d->dbf.get(), end, 1) != "\x1A" &&
            !d->writeAt(false, end, QByteArray(1, '\x1A'), error))
            return false;
        d->dirty = false;
    }
    if (d->memoDirty && d->memo) {
        QByteArray next(4, '\0');
        if (d->memoKind == MemoKind::FoxPro)
            putBe32(next.data(), d->memoNextFree);
        else
            putLe32(next.data(), d->memoNextFree);
        if (!d->writeAt(true, 0, next, error)) return false;
        d->memoDirty = false;
    }
    return true;
}

// ---- journal -------------------------------------------------------------------------------

bool Table::Private::writeDeletions(QString* error) {
    if (deletions.empty()) return true;
    std::vector<quint32> order = deletions;
    std::sort(order.begin(), order.end());
    // As writeAt keeps what it overwrites: the flags as they were.
    const qint64 limit = inTx && !marks.empty() ? marks.back().state.dbfSize : 0;
    // Records close together are one span, read, marked and written back whole; its other bytes
    // go back as they were read.
    constexpr qint64 kGap = 8 << 10, kSpan = 1 << 20;
    auto failed = [&](const QString& what) {
        *error = what.arg(displayPath(),
                          qobject_cast<QFile*>(dbf.get()) ? qt_error_string() : dbf->errorString());
        return false;
    };
    for (size_t i = 0; i < order.size();) {
        const qint64 from = recordOffset(order[i]);
        size_t j = i + 1;
        while (j < order.size() && recordOffset(order[j]) - recordOffset(order[j - 1]) <= kGap &&
               recordOffset(order[j]) - from < kSpan)
            ++j;
        QByteArray span = readAt(dbf.get(), from, recordOffset(order[j - 1]) - from + 1);
        if (span.size() != recordOffset(order[j - 1]) - from + 1)
            return failed(QStringLiteral("无法读取文件：%1（%2）"));
        for (size_t k = i; k < j; ++k) {
            const qint64 at = recordOffset(order[k]);
            char& flag = span[at - from];
            if (at < limit) undo.push_back({false, at, QByteArray(1, flag)});
            flag = '*';
        }
        if (!writeAtDevice(dbf.get(), from, span))
            return failed(QStringLiteral("写入文件失败：%1（%2）"));
        i = j;
    }
    // Written: the flags in the file say it now (a rollback puts them back from the undo list).
    deletions.clear();
    deleted = {};
    return true;
}

bool Table::Private::undoTo(const Mark& mark, QString* error) {
    bool ok = true;
    dropDeletions(mark.deletionCount);
    while (undo.size() > mark.undoSize) {
        const Undo& u = undo.back();
        QIODevice* dev = u.memo ? memo.get() : dbf.get();
        if (!writeAtDevice(dev, u.offset, u.bytes)) ok = false;
        undo.pop_back();
    }
    if (dbf && dbf->size() > mark.state.dbfSize)
        ok = resizeDevice(dbf.get(), mark.state.dbfSize) && ok;
    if (memo && memo->size() > mark.state.memoSize)
        ok = resizeDevice(memo.get(), mark.state.memoSize) && ok;
    recordCount = mark.state.recordCount;
    memoNextFree = mark.state.memoNextFree;
    header = mark.state.header;
    dirty = mark.state.dirty;
    memoDirty = mark.state.memoDirty;
    if (!ok && error) *error = QStringLiteral("撤销对表 %1 的修改时出错").arg(displayPath());
    return ok;
}

bool Table::beginTransaction(QString* error) {
    if (d->inTx || !d->dbf) return true;
    if (!refresh(error)) return false;
    d->inTx = true;
    d->undo.clear();
    d->marks = {Private::Mark{-1, 0, d->state(), 0}};
    return true;
}

void Table::savepoint(int id) {
    if (!d->dbf) return;
    if (!d->inTx && !beginTransaction(nullptr)) return;
    d->marks.push_back({id, d->undo.size(), d->state(), d->deletions.size()});
}

void Table::release(int id) {
    while (d->marks.size() > 1 && d->marks.back().id >= id)
        d->marks.pop_back();
}

bool Table::rollbackTo(int id, QString* error) {
    if (!d->inTx) return true;
    for (size_t k = 1; k < d->marks.size(); ++k) {
        if (d->marks[k].id < id) continue;
        const Private::Mark mark = d->marks[k];
        d->marks.resize(k + 1);
        return d->undoTo(mark, error);
    }
    return true;
}

bool Table::commit(QString* error) {
    const bool ok = flush(error);
    d->dropDeletions(0); // not written (the flush failed): the file says what stands
    d->inTx = false;
    d->undo.clear();
    d->marks.clear();
    return ok;
}

bool Table::rollback(QString* error) {
    if (!d->inTx) return true;
    const Private::Mark base = d->marks.front();
    const bool ok = d->undoTo(base, error);
    d->inTx = false;
    d->undo.clear();
    d->marks.clear();
    return ok;
}

} // namespace formats::dbf
