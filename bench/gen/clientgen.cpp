// Generated customer lists and their files.
#include "bench/gen/clientgen.h"
#include "bench/gen/genbase.h"
#include "bench/gen/regions.h"

#include "db/formats/bytes.h"
#include "db/formats/dbf/dbf.h"
#include "db/formats/xls/xlswriter.h"

#ifdef CHACHONG_GEN_XLSX
#include <xlsxwriter.h>
#endif

#include <QDate>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringEncoder>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gen {

namespace {

using base::addressParts;
using base::appendNumber;
using base::idCheck;
using base::kHkMoTw;
using base::makePlaces;
using base::Place;
using base::Random;
using base::Words;

enum Column { Name, Sex, Company, Province, City, County, Address, Zip, Phone, IdNumber };

class Generator {
public:
    Generator(quint32 seed, std::vector<Place> places) : rnd_(seed), places_(std::move(places)) {
        birthFirst_ = QDate(1950, 1, 1).toJulianDay();
        birthDays_ = int(QDate(2005, 12, 31).toJulianDay() - birthFirst_ + 1);
    }

    QStringList original();
    QStringList nearCopy(const QStringList& source);

private:
    QString name(bool male);
    QString address(const Place& p);
    QString phone(const Place& p);
    QString idNumber(const Place& p, bool male);

    bool addSuffix(QStringList* row);
    bool dropSuffix(QStringList* row);
    void replaceCharacter(QStringList* row);
    void fullWidthDigits(QStringList* row);
    void insertBlanks(QStringList* row);

    Random rnd_;
    Words w_;
    std::vector<Place> places_;
    qint64 birthFirst_ = 0;
    int birthDays_ = 1;
    const QString male_ = QStringLiteral("男"), female_ = QStringLiteral("女");
};

QString Generator::name(bool male) {
    QString s;
    s.reserve(4);
    if (rnd_.percent(2)) {
        s += rnd_.pick(w_.compound);
    } else {
        // The smaller of two draws: frequent surnames come up far more often.
        const int n = int(w_.surnames.size());
        s += w_.surnames.at(std::min(rnd_.below(n), rnd_.below(n)));
    }
    const QString& pool = male ? w_.male : w_.female;
    s += rnd_.pick(pool);
    if (!rnd_.percent(35)) s += rnd_.pick(pool);
    return s;
}

QString Generator::address(const Place& p) {
    QString s;
    s.reserve(p.addressPrefix.size() + 24);
    s += p.addressPrefix;
    s += rnd_.pick(w_.road);
    if (rnd_.percent(15)) s += rnd_.pick(w_.direction);
    s += rnd_.pick(w_.roadKind);
    appendNumber(&s, 1 + rnd_.below(400));
    s += u'号';
    if (rnd_.percent(35)) {
        switch (rnd_.below(3)) {
        case 0:
            appendNumber(&s, 1 + rnd_.below(20));
            s += u'栋';
            appendNumber(&s, 1 + rnd_.below(4));
            s += u"单元";
            break;
        case 1:
            appendNumber(&s, 1 + rnd_.below(12));
            s += u"号楼";
            break;
        default:
            appendNumber(&s, 1 + rnd_.below(8));
            s += u'幢';
            break;
        }
        appendNumber(&s, 1 + rnd_.below(30)); // floor, then room: 1203室
        const int room = 1 + rnd_.below(6);
        s += QChar(u'0' + room / 10);
        s += QChar(u'0' + room % 10);
        s += u'室';
    }
    return s;
}

QString Generator::phone(const Place& p) {
    QString s;
    s.reserve(13);
    if (!p.areaCode.isEmpty() && rnd_.percent(15)) {
        s += p.areaCode;
        s += u'-';
        s += QChar(u'2' + rnd_.below(7));
        rnd_.digits(&s, 7);
    } else {
        s += rnd_.pick(w_.mobile);
        rnd_.digits(&s, 8);
    }
    return s;
}

QString Generator::idNumber(const Place& p, bool male) {
    QString s;
    s.reserve(18);
    s += p.idArea;
    int y, m, d;
    QDate::fromJulianDay(birthFirst_ + rnd_.below(birthDays_)).getDate(&y, &m, &d);
    appendNumber(&s, y);
    s += QChar(u'0' + m / 10);
    s += QChar(u'0' + m % 10);
    s += QChar(u'0' + d / 10);
    s += QChar(u'0' + d % 10);
    rnd_.digits(&s, 2);
    s += QChar(u'0' + 2 * rnd_.below(5) + (male ? 1 : 0)); // odd for men, even for women
    s += idCheck(s);
    return s;
}

QStringList Generator::original() {
    const Place& p = places_[size_t(rnd_.below(qsizetype(places_.size())))];
    const bool male = rnd_.below(2) == 0;
    QString name = this->name(male);
    QString company;
    if (!rnd_.percent(20)) { // the rest are private clients
        company.reserve(p.companyPlace.size() + 16);
        company += p.companyPlace;
        company += rnd_.pick(w_.trade);
        company += rnd_.pick(w_.trade);
        company += rnd_.pick(w_.industry);
        company += rnd_.percent(10) ? u"股份有限公司" : u"有限公司";
    }
    QString address = this->address(p);
    QString province = p.province;
    // Some lists write a province without its 省 (广东广州市...); near copies may add it back.
    if (province.size() >= 3 && province.endsWith(u'省') && rnd_.percent(10)) {
        province.chop(1);
        address = addressParts(province, p.city, p.county).join(QString()) +
                  address.mid(p.addressPrefix.size());
    }
    QString phone = this->phone(p);
    QString id = idNumber(p, male);
    return QStringList{
        name, male ? male_ : female_, company, province, p.city, p.county, address, p.zip, phone,
        id};
}

QStringList Generator::nearCopy(const QStringList& source) {
    QStringList row = source;
    switch (rnd_.below(4)) {
    case 0:
        if (addSuffix(&row) || dropSuffix(&row)) break;
        insertBlanks(&row); // nothing to drop (港澳台, 自治州...)
        break;
    case 1:
        replaceCharacter(&row);
        break;
    case 2:
        fullWidthDigits(&row);
        break;
    default:
        insertBlanks(&row);
        break;
    }
    return row;
}

// The 省 that the source left out of its province written again, in 省份 and in the address:
// 广东 → 广东省. False when the source's province is written in full.
bool Generator::addSuffix(QStringList* row) {
    const QString& province = row->at(Province);
    if (province.isEmpty() || QStringLiteral("省市区县").contains(province.back()) ||
        province == kHkMoTw)
        return false;
    const QString prefix = addressParts(province, row->at(City), row->at(County)).join(QString());
    if (!row->at(Address).startsWith(prefix)) return false;
    const QString street = row->at(Address).mid(prefix.size());
    (*row)[Province] = province + u'省';
    (*row)[Address] =
        addressParts(row->at(Province), row->at(City), row->at(County)).join(QString()) + street;
    return true;
}

// A suffix 省/市/区/县 left out of one place name, in every column that holds it and in the
// address: 北京市 → 北京 in 省份, 城市 and the address alike. Short names (矿区) and the longer
// suffixes (自治区, 地区, 新区...) keep theirs.
bool Generator::dropSuffix(QStringList* row) {
    QStringList names;
    for (int c : {Province, City, County}) {
        const QString& n = row->at(c);
        static const QString suffixes = QStringLiteral("省市区县");
        if (n.size() < 3 || !suffixes.contains(n.back()) || names.contains(n)) continue;
        bool longer = false;
        for (const char16_t* s :
             {u"自治区", u"自治县", u"地区", u"新区", u"矿区", u"林区", u"特区", u"城区", u"郊区"})
            longer = longer || n.endsWith(QStringView(s));
        if (!longer) names << n;
    }
    const QString prefix =
        addressParts(row->at(Province), row->at(City), row->at(County)).join(QString());
    if (names.isEmpty() || !row->at(Address).startsWith(prefix)) return false;
    const QString street = row->at(Address).mid(prefix.size());
    const QString name = rnd_.pick(names);
    for (int c : {Province, City, County})
        if (row->at(c) == name) (*row)[c] = name.chopped(1);
    (*row)[Address] =
        addressParts(row->at(Province), row->at(City), row->at(County)).join(QString()) + street;
    return true;
}

// One character of the name or the address typed wrong: a digit for a digit, a character of
// the same kind for any other.
void Generator::replaceCharacter(QStringList* row) {
    const int column = rnd_.below(2) == 0 ? Name : Address;
    QString& s = (*row)[column];
    const int at = rnd_.below(s.size());
    const QChar old = s.at(at);
    if (old.isDigit() && old.unicode() < 0x80) {
        s[at] = QChar(u'0' + (old.unicode() - u'0' + 1 + rnd_.below(9)) % 10);
        return;
    }
    const QString& pool =
        column == Name ? (at == 0 ? w_.surnames : w_.female + w_.male) : w_.addressPool;
    QChar c;
    do
        c = rnd_.pick(pool);
    while (c == old);
    s[at] = c;
}

// The digits of the phone number or of the address typed full-width (０-９).
void Generator::fullWidthDigits(QStringList* row) {
    QString& s = (*row)[rnd_.below(2) == 0 ? Phone : Address];
    for (QChar& c : s)
        if (c >= u'0' && c <= u'9') c = QChar(0xFF10 + (c.unicode() - u'0'));
}

// Blanks typed inside the name (张 三) or between the parts of the address (北京市  朝阳区).
void Generator::insertBlanks(QStringList* row) {
    if (rnd_.below(2) == 0) {
        QString& s = (*row)[Name];
        s.insert(1 + rnd_.below(s.size() - 1), u' ');
        return;
    }
    QString& s = (*row)[Address];
    QList<int> gaps;
    int at = 0;
    for (const QString& part : addressParts(row->at(Province), row->at(City), row->at(County))) {
        at += int(part.size());
        if (at < s.size()) gaps << at;
    }
    const int number =
        int(std::find_if(s.begin(), s.end(), [](QChar c) { return c.isDigit(); }) - s.begin());
    if (number > 0 && number < s.size() && !gaps.contains(number)) gaps << number;
    if (gaps.isEmpty()) gaps << 1 + rnd_.below(s.size() - 1);
    s.insert(gaps.at(rnd_.below(gaps.size())), QString(1 + rnd_.below(2), u' '));
}

int copiesFor(int rows, double share) {
    if (!(share > 0)) return 0; // NaN too
    return int(std::llround(double(rows) * std::min(share, 1.0)));
}

// Streams bytes to a file that replaces path only once everything was written.
class Output {
public:
    explicit Output(const QString& path) : file_(path) {}
    bool open(QString* error) {
        if (file_.open(QIODevice::WriteOnly)) return true;
        *error = QStringLiteral("无法写入文件 %1：%2")
                     .arg(QDir::toNativeSeparators(file_.fileName()), file_.errorString());
        return false;
    }
    QByteArray& buffer() { return buffer_; }
    // Hands the buffer to the file once it holds enough.
    bool flushSome(QString* error) { return buffer_.size() < (1 << 20) || flush(error); }
    bool commit(QString* error) {
        if (!flush(error)) return false;
        if (file_.commit()) return true;
        return fail(error);
    }

private:
    bool flush(QString* error) {
        if (file_.write(buffer_) != buffer_.size()) {
            fail(error);
            file_.cancelWriting();
            return false;
        }
        buffer_.clear();
        return true;
    }
    bool fail(QString* error) {
        *error = QStringLiteral("写入文件 %1 失败：%2")
                     .arg(QDir::toNativeSeparators(file_.fileName()), file_.errorString());
        return false;
    }
    QSaveFile file_;
    QByteArray buffer_;
};

bool checkShape(const Table& t, QString* error) {
    if (t.fields.isEmpty()) {
        *error = QStringLiteral("表没有字段");
        return false;
    }
    for (size_t i = 0; i < t.rows.size(); ++i) {
        if (t.rows[i].size() != t.fields.size()) {
            *error = QStringLiteral("第 %1 行有 %2 个值，应有 %3 个")
                         .arg(i + 1)
                         .arg(t.rows[i].size())
                         .arg(t.fields.size());
            return false;
        }
    }
    return true;
}

} // namespace

QString defaultRegionCsv() {
    return QDir::cleanPath(QStringLiteral(CHACHONG_GEN_SOURCE_DIR) +
                           QStringLiteral("/tests/data/reference/china-region/region.csv"));
}

Table generate(const Options& options) {
    std::vector<Region> regions;
    const QString path = options.regionCsv.isEmpty() ? defaultRegionCsv() : options.regionCsv;
    if (!readRegionCsv(path, &regions, nullptr)) regions = builtInRegions();

    Table t;
    t.fields = QStringList{"姓名", "性别", "公司", "省份", "城市",
                           "区县", "地址", "邮编", "电话", "证件号"};
    const int rows = std::max(options.rows, 0);
    Generator g(options.seed, makePlaces(regions));
    Random order(options.seed ^ 0x9E3779B9u);

    // Which rows are copies: the first row never is (it has nothing to copy).
    t.exactCopies = std::min(copiesFor(rows, options.exactShare), std::max(rows - 1, 0));
    t.nearCopies =
        std::min(copiesFor(rows, options.nearShare), std::max(rows - 1, 0) - t.exactCopies);
    enum : char { Original, Exact, Near };
    std::vector<char> kind(size_t(rows), Original);
    for (int i = 0; i < t.exactCopies + t.nearCopies; ++i)
        kind[size_t(1 + i)] = i < t.exactCopies ? Exact : Near;
    for (int i = rows - 1; i > 1; --i) // Fisher-Yates over rows 1..rows-1
        std::swap(kind[size_t(i)], kind[size_t(1 + order.below(i))]);

    t.rows.reserve(size_t(rows));
    t.copyOf.assign(size_t(rows), -1);
    std::vector<int> originals;
    originals.reserve(size_t(rows));
    for (int i = 0; i < rows; ++i) {
        if (kind[size_t(i)] == Original) {
            originals.push_back(i);
            t.rows.push_back(g.original());
            continue;
        }
        const int source = originals[size_t(order.below(qsizetype(originals.size())))];
        t.copyOf[size_t(i)] = source;
        t.rows.push_back(kind[size_t(i)] == Exact ? t.rows[size_t(source)]
                                                  : g.nearCopy(t.rows[size_t(source)]));
    }
    return t;
}

bool writeDbf(const Table& t, const QString& path, QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    if (!checkShape(t, error)) return false;
    const int n = int(t.fields.size());
    if (n > 254) {
        *error = QStringLiteral("dBase 表最多 254 个字段，这里有 %1 个").arg(n);
        return false;
    }
    if (t.rows.size() > 0xFFFFFFFFu) {
        *error = QStringLiteral("行数超过 dBase 表的上限");
        return false;
    }
    const quint8 ldid = formats::dbf::languageDriverForCodePage(936);
    const formats::dbf::CodePage cp = formats::dbf::codePageForLanguageDriver(ldid);
    QStringEncoder gbk(cp.writeCodec.constData(), QStringConverter::Flag::Stateless);
    if (!gbk.isValid()) {
        *error = QStringLiteral("本机缺少 GBK 编码，无法写 dBase 表");
        return false;
    }
    QByteArray scratch;
    // The GBK bytes of s in scratch; -1 when GBK has no code for one of its characters.
    auto encode = [&](const QString& s) -> qsizetype {
        scratch.resize(qsizetype(gbk.requiredSpace(s.size())));
        char* end = gbk.appendToBuffer(scratch.data(), s);
        if (gbk.hasError()) return -1;
        return end - scratch.data();
    };
    auto unencodable = [&](const QString& s) {
        return QStringLiteral("“%1”含有 GBK 编码中没有的字符，不能写入 dBase 表").arg(s);
    };

    // Header: dBase III, the record count, header and record lengths, the code page; a fixed
    // date of last update, so the same list always gives the same bytes.
    QByteArray header(32 + 32 * n + 1, '\0');
    header[0] = 0x03;
    header[1] = char(124); // 2024
    header[2] = 1;
    header[3] = 1;
    formats::putLe32(header.data() + 4, quint32(t.rows.size()));
    header[29] = char(ldid);
    std::vector<int> width(size_t(n), 1);
    for (const QStringList& row : t.rows) {
        for (int c = 0; c < n; ++c) {
            const qsizetype len = encode(row[c]);
            if (len < 0) {
                *error = unencodable(row[c]);
                return false;
            }
            if (len > 254) {
                *error = QStringLiteral(
                             "字段 %1 的值“%2”有 %3 字节，超过了 dBase 字符字段的上限 254 字节")
                             .arg(t.fields[c], row[c])
                             .arg(len);
                return false;
            }
            width[size_t(c)] = std::max(width[size_t(c)], int(len));
        }
    }
    int recordLength = 1;
    for (int c = 0; c < n; ++c) {
        const qsizetype len = encode(t.fields[c]);
        if (len <= 0 || len > 10 || scratch.left(len).contains('\0')) {
            *error = QStringLiteral("字段名“%1”不能用于 dBase 表：须为 1 到 10 个 GBK 字节")
                         .arg(t.fields[c]);
            return false;
        }
        char* d = header.data() + 32 + 32 * c;
        std::memcpy(d, scratch.constData(), size_t(len));
        d[11] = 'C';
        d[16] = char(width[size_t(c)]);
        recordLength += width[size_t(c)];
    }
    formats::putLe16(header.data() + 8, quint16(header.size()));
    formats::putLe16(header.data() + 10, quint16(recordLength));
    header[32 + 32 * n] = 0x0D;

    Output out(path);
    if (!out.open(error)) return false;
    QByteArray& buf = out.buffer();
    buf = header;
    for (const QStringList& row : t.rows) {
        buf += ' '; // not deleted
        for (int c = 0; c < n; ++c) {
            const qsizetype len = encode(row[c]);
            if (len < 0) {
                *error = unencodable(row[c]);
                return false;
            }
            buf.append(scratch.constData(), len);
            buf.append(width[size_t(c)] - len, ' ');
        }
        if (!out.flushSome(error)) return false;
    }
    buf += '\x1A';
    return out.commit(error);
}

bool writeXls(const Table& t, const QString& path, QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    if (!checkShape(t, error)) return false;
    if (t.rows.size() > 65535) {
        *error = QStringLiteral("Excel 97-2003 工作表最多 65535 行数据（另有标题行），这里有 %1 行")
                     .arg(t.rows.size());
        return false;
    }
    formats::xls::SheetData sheet;
    sheet.name = QStringLiteral("客户");
    sheet.rows.reserve(t.rows.size() + 1);
    auto cells = [](const QStringList& values) {
        std::vector<formats::xls::Cell> row;
        row.reserve(size_t(values.size()));
        for (const QString& v : values)
            row.push_back(v.isEmpty() ? formats::xls::Cell{} : formats::xls::Cell::ofText(v));
        return row;
    };
    sheet.rows.push_back(cells(t.fields));
    for (const QStringList& r : t.rows)
        sheet.rows.push_back(cells(r));
    return formats::xls::writeWorkbookFile(path, {sheet}, error);
}

bool writeCsv(const Table& t, const QString& path, QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    if (!checkShape(t, error)) return false;
    Output out(path);
    if (!out.open(error)) return false;
    QByteArray& buf = out.buffer();
    auto line = [&buf](const QStringList& values) {
        for (qsizetype i = 0; i < values.size(); ++i) {
            if (i > 0) buf += ',';
            const QByteArray v = values[i].toUtf8();
            if (v.contains(',') || v.contains('"') || v.contains('\n') || v.contains('\r')) {
                buf += '"';
                for (char c : v) {
                    if (c == '"') buf += '"';
                    buf += c;
                }
                buf += '"';
            } else {
                buf += v;
            }
        }
        buf += '\n';
    };
    line(t.fields);
    for (const QStringList& r : t.rows) {
        line(r);
        if (!out.flushSome(error)) return false;
    }
    return out.commit(error);
}

bool writeXlsx(const Table& t, const QString& path, QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    if (!checkShape(t, error)) return false;
    if (t.rows.size() > 1048575) {
        *error = QStringLiteral("%1行超过了.xlsx工作表的1,048,575行").arg(t.rows.size());
        return false;
    }
#ifdef CHACHONG_GEN_XLSX
    // Written beside the target and renamed once complete, like the other formats.
    const QString partial = path + QStringLiteral(".part");
    const QByteArray native = QFile::encodeName(partial);
    lxw_workbook* book = workbook_new(native.constData());
    if (!book) {
        *error = QStringLiteral("无法写入文件 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    lxw_worksheet* sheet = workbook_add_worksheet(book, "客户");
    const auto row = [&](lxw_row_t r, const QStringList& values) {
        for (qsizetype c = 0; c < values.size(); ++c) {
            if (values[c].isEmpty()) continue;
            const QByteArray v = values[c].toUtf8();
            if (worksheet_write_string(sheet, r, lxw_col_t(c), v.constData(), nullptr) !=
                LXW_NO_ERROR)
                return false;
        }
        return true;
    };
    bool ok = row(0, t.fields);
    for (size_t r = 0; ok && r < t.rows.size(); ++r)
        ok = row(lxw_row_t(r + 1), t.rows[r]);
    const lxw_error closed = workbook_close(book);
    if (!ok || closed != LXW_NO_ERROR) {
        QFile::remove(partial);
        *error = QStringLiteral("写入文件 %1 失败：%2")
                     .arg(QDir::toNativeSeparators(path), QString::fromUtf8(lxw_strerror(closed)));
        return false;
    }
    QFile::remove(path);
    if (!QFile::rename(partial, path)) {
        QFile::remove(partial);
        *error = QStringLiteral("无法写入文件 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
#else
    *error = QStringLiteral("生成器编译时没有libxlsxwriter，无法写出 %1")
                 .arg(QDir::toNativeSeparators(path));
    return false;
#endif
}

} // namespace gen
