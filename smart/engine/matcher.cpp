#include "smart/engine/matcher.h"

#include "db/formats/threads.h"
#include "smart/engine/normalise.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QVarLengthArray>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>

namespace smart {

namespace {

// Each level with its label, its code and the score a pair needs.
struct LevelNames {
    Level level;
    const char16_t* label;
    const char16_t* code;
    double threshold;
};
constexpr LevelNames levels[] = {{Level::Strict, u"严格", u"strict", 8.0},
                                 {Level::Normal, u"标准", u"normal", 6.0},
                                 {Level::Loose, u"宽松", u"loose", 4.5}};

const LevelNames& namesOf(Level level) {
    for (const LevelNames& l : levels)
        if (l.level == level) return l;
    return levels[1];
}

} // namespace

QString levelLabel(Level level) {
    return QString::fromUtf16(namesOf(level).label);
}

QString levelCode(Level level) {
    return QString::fromUtf16(namesOf(level).code);
}

bool levelOfCode(const QString& code, Level* level) {
    for (const LevelNames& l : levels)
        if (code == QStringView(l.code) || code == QStringView(l.label)) {
            *level = l.level;
            return true;
        }
    return false;
}

double threshold(Level level) {
    return namesOf(level).threshold;
}

namespace {

// The weights of the evidence, in points; the guide explains them in words.
namespace weight {
constexpr double nameSame = 4, nameSound = 3, nameNear = 2.5, nameDiffer = -4;
constexpr double mobileSame = 6, landlineSame = 4, phoneDiffer = -1, mobileDiffer = -1.5;
constexpr double idSame = 8, idTextSame = 3;
constexpr double addressSame = 5, addressNear = 3.5, addressLike = 1.5, addressDiffer = -2;
constexpr double provinceDiffer = -4, cityDiffer = -3, countyDiffer = -2;
constexpr double orgSame = 3, orgNear = 1.5, orgDiffer = -2, orgPlaceDiffer = -1;
constexpr double postcodeSame = 1, postcodeDiffer = -1;
constexpr double otherSame = 2, otherNear = 0.5, otherDiffer = -1.5;
constexpr double dateSame = 6, dateNear = 1, dateDiffer = -3;
constexpr double placelessAddressDiffer = -1; // neither address names a known place
} // namespace weight

constexpr double ruledOut = -1000;

// Edit distance over UTF-16 units (the Chinese characters of an address are one unit each).
int editDistance(QStringView a, QStringView b) {
    if (a.size() < b.size()) std::swap(a, b);
    std::vector<int> row(size_t(b.size()) + 1);
    std::iota(row.begin(), row.end(), 0);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int up = row[size_t(j)];
            row[size_t(j)] = std::min(
                {up + 1, row[size_t(j) - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[size_t(b.size())];
}

// 1 for equal texts, 0 for texts with nothing in common.
double similarity(QStringView a, QStringView b) {
    const qsizetype n = std::max(a.size(), b.size());
    return n == 0 ? 1.0 : 1.0 - double(editDistance(a, b)) / double(n);
}

double jaroWinkler(QStringView a, QStringView b) {
    if (a.isEmpty() || b.isEmpty()) return a == b ? 1.0 : 0.0;
    const qsizetype window = std::max<qsizetype>(0, std::max(a.size(), b.size()) / 2 - 1);
    std::vector<char> usedA(size_t(a.size()), 0), usedB(size_t(b.size()), 0);
    int matches = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const qsizetype from = std::max<qsizetype>(0, i - window);
        const qsizetype to = std::min(b.size() - 1, i + window);
        for (qsizetype j = from; j <= to; ++j)
            if (!usedB[size_t(j)] && a[i] == b[j]) {
                usedA[size_t(i)] = usedB[size_t(j)] = 1;
                ++matches;
                break;
            }
    }
    if (matches == 0) return 0.0;
    int transpositions = 0;
    qsizetype j = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!usedA[size_t(i)]) continue;
        while (!usedB[size_t(j)])
            ++j;
        if (a[i] != b[j]) ++transpositions;
        ++j;
    }
    const double m = matches;
    const double jaro =
        (m / double(a.size()) + m / double(b.size()) + (m - transpositions / 2.0) / m) / 3.0;
    int prefix = 0;
    while (prefix < 4 && prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix])
        ++prefix;
    return jaro + prefix * 0.1 * (1.0 - jaro);
}

bool hasLatin(QStringView s) {
    return std::any_of(s.begin(), s.end(),
                       [](QChar c) { return c >= QLatin1Char('a') && c <= QLatin1Char('z'); });
}

// The given names that stand for one another (Bob for Robert, Steve for Stephen, Katherine
// and Catherine), as the first name of their family.
QString fullGivenName(const QString& word) {
    static const QHash<QString, QString> names = [] {
        QHash<QString, QString> h;
        const char* families[] = {
            "william bill will billy",
            "robert bob rob bobby",
            "james jim jimmy jamie",
            "michael mike mick mickey",
            "elizabeth elisabeth liz beth betty",
            "katherine catherine kathryn kate katie kathy cathy",
            "thomas tom tommy",
            "richard dick rick ricky",
            "joseph joe joey",
            "david dave davy",
            "christopher chris kit",
            "daniel dan danny",
            "samuel sam sammy",
            "benjamin ben benny",
            "alexander alex alec",
            "anthony tony",
            "nicholas nicolas nick nico",
            "susan sue suzy",
            "jennifer jen jenny",
            "margaret maggie peggy meg",
            "andrew andy drew",
            "andreas andi",
            "steven stephen steve stevie",
            "stephanie steph",
            "matthew matt",
            "gregory greg",
            "edward ed ted eddie",
            "frederick fred freddie",
            "friedrich fritz",
            "francis frank",
            "charles charlie chuck",
            "henry hank harry",
            "john jack johnny",
            "jonathan jon",
            "johannes johann hans",
            "josef joseph sepp",
            "lawrence laurence larry",
            "patrick pat paddy",
            "patricia patty trish",
            "rebecca becky",
            "victoria vicky vicki",
            "timothy tim",
            "jeffrey jeff",
            "peter pete",
            "raymond ray",
            "joshua josh",
            "kenneth ken kenny",
            "mary molly polly",
            "barbara barb",
            "jessica jess",
            "dorothy dot dottie",
            "sandra sandy",
            "kimberly kim",
            "emily em",
            "michelle shelly",
            "amanda mandy",
            "melissa mel",
            "deborah debbie deb",
            "cynthia cindy",
            "wolfgang wolf",
            "philippe philip phillip phil",
            "louis lou",
            "abigail abby",
            "nathan nate",
            "zachary zach",
            "ronald ron",
            "donald don",
            "gabriele gabi",
            "ulrich uli",
            "ursula uschi",
            "brigitte gitte",
            "isabelle isabel isa",
        };
        for (const char* family : families) {
            const QStringList words = QString::fromLatin1(family).split(QLatin1Char(' '));
            for (const QString& w : words)
                if (!h.contains(w)) h.insert(w, words.front());
        }
        return h;
    }();
    return names.value(word, word);
}

// Two Latin names, their words in alphabetical order already: alike when each word of the one
// is a word of the other spelt nearly alike, or its initial, or a short form of it.
// How alike two words of Latin names are (1 the same): an initial, a word cut short (Alex, Lis),
// a letter dropped, doubled or swapped, a short form of a given name (Bob for Robert).
double latinWordsAlike(const QString& w, const QString& v) {
    if (w == v) return 1.0;
    double s = jaroWinkler(w, v);
    const QString& shorter = w.size() < v.size() ? w : v;
    const QString& longer = w.size() < v.size() ? v : w;
    if ((shorter.size() == 1 || (shorter.size() >= 3 && longer.startsWith(shorter))) &&
        shorter.at(0) == longer.at(0))
        s = std::max(s, 0.95);
    const int typos = longer.size() >= 8 ? 2 : longer.size() >= 4 ? 1 : 0;
    if (typos > 0 && editDistance(w, v) <= typos) s = std::max(s, 0.9);
    const QString fw = fullGivenName(w), fv = fullGivenName(v);
    if ((fw != w || fv != v) && fw == fv) s = std::max(s, 0.95);
    return s;
}

// Two Latin names, their words in alphabetical order already: alike when their words pair off,
// each alike (latinWordsAlike), the closest pairs taken first.
bool latinNamesAlike(const QString& a, const QString& b) {
    const QStringList x = a.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QStringList y = b.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (x.isEmpty() || y.isEmpty() || x.size() != y.size() || x.size() > 6) return false;
    struct Pair {
        double score;
        qsizetype i, j;
    };
    std::vector<Pair> pairs;
    for (qsizetype i = 0; i < x.size(); ++i)
        for (qsizetype j = 0; j < y.size(); ++j)
            pairs.push_back({latinWordsAlike(x[i], y[j]), i, j});
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const Pair& p, const Pair& q) { return p.score > q.score; });
    std::vector<char> usedX(size_t(x.size()), 0), usedY(size_t(y.size()), 0);
    qsizetype paired = 0;
    for (const Pair& p : pairs) {
        if (usedX[size_t(p.i)] || usedY[size_t(p.j)]) continue;
        if (p.score < 0.88) return false;
        usedX[size_t(p.i)] = usedY[size_t(p.j)] = 1;
        ++paired;
    }
    return paired == x.size();
}

// The words of Latin addresses that are written short, as their short form.
QString latinAddressWords(const QString& text) {
    static const QHash<QString, QString> words = {
        {QStringLiteral("street"), QStringLiteral("st")},
        {QStringLiteral("str"), QStringLiteral("st")},
        {QStringLiteral("road"), QStringLiteral("rd")},
        {QStringLiteral("avenue"), QStringLiteral("ave")},
        {QStringLiteral("av"), QStringLiteral("ave")},
        {QStringLiteral("drive"), QStringLiteral("dr")},
        {QStringLiteral("lane"), QStringLiteral("ln")},
        {QStringLiteral("boulevard"), QStringLiteral("blvd")},
        {QStringLiteral("place"), QStringLiteral("pl")},
        {QStringLiteral("court"), QStringLiteral("ct")},
        {QStringLiteral("square"), QStringLiteral("sq")},
        {QStringLiteral("north"), QStringLiteral("n")},
        {QStringLiteral("south"), QStringLiteral("s")},
        {QStringLiteral("east"), QStringLiteral("e")},
        {QStringLiteral("west"), QStringLiteral("w")},
        {QStringLiteral("apartment"), QStringLiteral("apt")},
        {QStringLiteral("strasse"), QStringLiteral("str")},
        {QStringLiteral("straße"), QStringLiteral("str")}};
    static const QRegularExpression split(QStringLiteral("[ ,.#]+"));
    QStringList out;
    for (const QString& w : text.split(split, Qt::SkipEmptyParts))
        out << words.value(w, w);
    return out.join(QLatin1Char(' '));
}

// A value normaliseOther read as a date: yyyy-mm-dd.
bool isDate(QStringView v) {
    return v.size() == 10 && v[4] == QLatin1Char('-') && v[7] == QLatin1Char('-') &&
           v[0].isDigit() && v[9].isDigit();
}

bool isMobile(QLatin1StringView number) {
    return number.size() == 11 && number[0] == QLatin1Char('1');
}

// How one field of two records compares: points, and the word for an agreement (empty for
// none).
struct Outcome {
    double points = 0;
    const char* agreement = nullptr;
    bool namesDiffer = false; // two person names that are neither equal nor alike
    bool idsDiffer = false;   // two valid ID numbers that differ
    bool idsAgree = false;
};

enum KeyType : quint8 {
    NameAndRoad,
    PhoneKey,
    IdKey,
    NameInCity,
    NameInCounty,
    NameAlone,
    AddressKey,
    RoadKey,
    OrgKey,
    TextKey
};

// A record's blocking key: twelve bytes, a million records hold several each.
struct Entry {
    quint32 low, high;
    quint32 record;
    quint64 hash() const { return quint64(high) << 32 | low; }
};

} // namespace

// The normal forms of one check field, one record after the other in one text: a few bytes a
// value instead of a string of its own. A narrow column (phone and ID numbers: digits, X and
// commas) keeps one byte a character.
class Column {
public:
    void setNarrow(bool narrow) { narrow_ = narrow; }
    bool narrow() const { return narrow_; }
    void append(QStringView v) {
        if (narrow_)
            bytes_ += v.toLatin1();
        else
            text_ += v;
        ends_.push_back(quint32(narrow_ ? bytes_.size() : text_.size()));
    }
    // Room for records values in all, at the length of the values so far (a text grown by
    // doubling would hold up to twice what it needs).
    void expect(size_t records) {
        if (ends_.empty() || records <= ends_.size()) return;
        ends_.reserve(records);
        const double factor = double(records) / double(ends_.size()) * 1.05;
        if (narrow_)
            bytes_.reserve(qsizetype(double(bytes_.size()) * factor));
        else
            text_.reserve(qsizetype(double(text_.size()) * factor));
    }
    bool isEmpty(int r) const { return ends_[size_t(r)] == from(r); }
    QStringView at(int r) const { // a column that is not narrow
        return QStringView(text_).mid(from(r), ends_[size_t(r)] - from(r));
    }
    QLatin1StringView latin1At(int r) const { // a narrow column
        return QLatin1StringView(bytes_).mid(from(r), ends_[size_t(r)] - from(r));
    }
    QString text(int r) const { return narrow_ ? QString(latin1At(r)) : at(r).toString(); }

private:
    quint32 from(int r) const { return r > 0 ? ends_[size_t(r) - 1] : 0; }
    bool narrow_ = false;
    QString text_;
    QByteArray bytes_;
    std::vector<quint32> ends_;
};

// The numbers of a phone field's normal form ("13800138000,075588881234").
QVarLengthArray<QLatin1StringView, 4> numbersOf(QLatin1StringView v) {
    QVarLengthArray<QLatin1StringView, 4> numbers;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= v.size(); ++i)
        if (i == v.size() || v[i] == QLatin1Char(',')) {
            if (i > from) numbers.push_back(v.mid(from, i - from));
            from = i + 1;
        }
    return numbers;
}

// Threads kept for a matcher's life: what a thread keeps of its own (a converter, a
// transliterator, the sounds it has looked up) is made once, not once per batch.
class Workers {
public:
    explicit Workers(int threads) {
        for (int t = 1; t < threads; ++t)
            threads_.emplace_back([this, t] { serve(t); });
    }
    ~Workers() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_)
            t.join();
    }
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;
    // work(t) for every thread t, 0 on the calling one; returns when all are done.
    void run(const std::function<void(int)>& work) {
        {
            std::lock_guard lock(mutex_);
            work_ = &work;
            busy_ = int(threads_.size());
            ++round_;
        }
        wake_.notify_all();
        work(0);
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return busy_ == 0; });
        work_ = nullptr;
    }

private:
    void serve(int t) {
        quint64 seen = 0;
        for (;;) {
            const std::function<void(int)>* work = nullptr;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || round_ != seen; });
                if (stopping_) return;
                seen = round_;
                work = work_;
            }
            (*work)(t);
            std::lock_guard lock(mutex_);
            if (--busy_ == 0) done_.notify_one();
        }
    }
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(int)>* work_ = nullptr;
    quint64 round_ = 0;
    int busy_ = 0;
    bool stopping_ = false;
};

using Place = std::array<qint32, 3>; // an address's province, city, county (-1: unknown)

struct Matcher::Data {
    MatchSettings settings;
    const Regions& regions;
    int threads = 1;
    int records = 0;
    size_t expected = 0; // records the caller said would come
    // The values of the records not read yet; they are read in batches, split between the
    // threads, as they come.
    std::vector<std::vector<QString>> pending;
    static constexpr size_t batch = 8192;
    // Per check field, per record: the normal form, a second form that is only compared for
    // equality and so kept as its hash (a name's sound, an organisation's place, an ID number's
    // text when it is no valid number; 0 for none), the place.
    std::vector<Column> main;
    std::vector<std::vector<quint64>> second;
    std::vector<std::vector<Place>> places;
    std::unique_ptr<Workers> workers;

    Data(MatchSettings s, const Regions& r) : settings(std::move(s)), regions(r) {
        threads = settings.threads > 0 ? settings.threads : formats::workerThreads();
        workers = std::make_unique<Workers>(threads);
        pending.resize(size_t(fields()));
        main.resize(size_t(fields()));
        for (int f = 0; f < fields(); ++f)
            main[size_t(f)].setNarrow(kind(f) == FieldKind::Phone ||
                                      kind(f) == FieldKind::IdNumber);
        second.resize(size_t(fields()));
        places.resize(size_t(fields()));
    }

    int fields() const { return int(settings.kinds.size()); }
    FieldKind kind(int f) const { return settings.kinds[size_t(f)]; }
    // The kinds with a second form; the others keep none (8 bytes a record each saved).
    bool hasSecond(int f) const {
        return kind(f) == FieldKind::PersonName || kind(f) == FieldKind::IdNumber ||
               kind(f) == FieldKind::Organisation;
    }

    // The normal forms of pending records from..to (indexes into pending).
    struct Read {
        std::vector<std::vector<QString>> main, second;
        std::vector<std::vector<Place>> places;
    };
    void normaliseRange(size_t from, size_t to, Read* out) const;
    void flush(); // the pending records read
    Outcome compareField(int f, int a, int b) const;
    double score(int a, int b, QString* basis) const;
    // The record's blocking keys, each with the field it comes from.
    void keys(int r, std::vector<Entry>* out, std::vector<int>* fieldOf = nullptr) const;
    QString keyLabel(const Entry& e) const;
    // The keys of every record whose hash falls in part (of parts), in a vector of their size.
    std::vector<Entry> keysOfPart(int part, int parts,
                                  const std::vector<std::vector<size_t>>& counts) const;
    // each(thread, key) for every key of every record, each thread over its share of them.
    void eachKey(const std::function<void(int, const Entry&)>& each) const;
    // How many keys each thread's share of the records has in each part: [thread][part].
    std::vector<std::vector<size_t>> countKeys(int parts) const;
    QStringView countyName(int f, int r) const {
        const qint32 c = places[size_t(f)][size_t(r)][2];
        return c < 0 ? QStringView() : QStringView(regions.divisions()[size_t(c)].county);
    }
    static QString digitsOf(QStringView v) {
        QString digits;
        for (const QChar c : v.toString().normalized(QString::NormalizationForm_KC))
            if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) digits += c;
        return digits;
    }
};

void Matcher::Data::normaliseRange(size_t from, size_t to, Read* out) const {
    out->main.assign(size_t(fields()), {});
    out->second.assign(size_t(fields()), {});
    out->places.assign(size_t(fields()), {});
    for (int f = 0; f < fields(); ++f) {
        out->main[size_t(f)].resize(to - from);
        out->second[size_t(f)].resize(to - from);
        if (kind(f) == FieldKind::Address) out->places[size_t(f)].assign(to - from, {-1, -1, -1});
    }
    for (size_t r = from; r < to; ++r) {
        const size_t o = r - from;
        // The record's postcode, when a check field holds one: it places an address.
        QString postcode;
        for (int f = 0; f < fields() && postcode.isEmpty(); ++f)
            if (kind(f) == FieldKind::Postcode) postcode = digitsOf(pending[size_t(f)][r]);
        for (int f = 0; f < fields(); ++f) {
            const QString& v = pending[size_t(f)][r];
            QString& a = out->main[size_t(f)][o];
            QString& b = out->second[size_t(f)][o];
            if (v.isEmpty()) continue;
            switch (kind(f)) {
            case FieldKind::PersonName:
                a = normalisePersonName(v);
                b = pronunciationOfNormalName(a);
                break;
            case FieldKind::Address: {
                const Address parsed = regions.parse(v, postcode);
                out->places[size_t(f)][o] = {parsed.province, parsed.city, parsed.county};
                a = hasLatin(parsed.remainder) ? latinAddressWords(parsed.remainder)
                                               : parsed.remainder;
                break;
            }
            case FieldKind::Phone: {
                QStringList numbers = normalisePhones(v);
                numbers.sort();
                numbers.removeDuplicates();
                a = numbers.join(QLatin1Char(','));
                break;
            }
            case FieldKind::IdNumber:
                a = normaliseIdNumber(v);
                if (a.isEmpty()) b = normaliseText(v);
                break;
            case FieldKind::Organisation: {
                const OrganisationName org = normaliseOrganisation(v);
                a = org.core;
                b = org.place;
                break;
            }
            case FieldKind::Postcode: {
                const QString digits = digitsOf(v);
                a = digits.isEmpty() ? normaliseText(v) : digits;
                break;
            }
            case FieldKind::Other:
                a = normaliseOther(v);
                break;
            }
        }
    }
}

void Matcher::Data::flush() {
    const size_t rows = pending.empty() ? 0 : pending[0].size();
    if (rows == 0) return;
    const size_t share = (rows + size_t(threads) - 1) / size_t(threads);
    std::vector<Read> parts(static_cast<size_t>(threads));
    workers->run([&](int t) {
        const size_t a = size_t(t) * share, b = std::min(rows, a + share);
        if (a < b) normaliseRange(a, b, &parts[size_t(t)]);
    });
    // In the records' order, whichever thread read them.
    for (const Read& part : parts)
        for (int f = 0; f < fields() && !part.main.empty(); ++f) {
            for (size_t k = 0; k < part.main[size_t(f)].size(); ++k) {
                main[size_t(f)].append(part.main[size_t(f)][k]);
                const QString& b = part.second[size_t(f)][k];
                if (hasSecond(f))
                    second[size_t(f)].push_back(b.isEmpty() ? 0 : quint64(qHash(b, 0x5EED)) | 1);
            }
            places[size_t(f)].insert(places[size_t(f)].end(), part.places[size_t(f)].begin(),
                                     part.places[size_t(f)].end());
        }
    for (auto& column : pending)
        column.clear();
    if (size_t(records) == batch)
        for (Column& column : main)
            column.expect(expected);
}

Outcome Matcher::Data::compareField(int f, int a, int b) const {
    Outcome o;
    if (main[size_t(f)].narrow()) {
        const QLatin1StringView x = main[size_t(f)].latin1At(a), y = main[size_t(f)].latin1At(b);
        if (kind(f) == FieldKind::Phone) {
            if (x.isEmpty() || y.isEmpty()) return o;
            const auto p = numbersOf(x), q = numbersOf(y);
            auto inQ = [&](QLatin1StringView n) {
                return std::find(q.begin(), q.end(), n) != q.end();
            };
            bool mobiles = false, mobilesY = false;
            // A mobile is one person's; a landline a household's or a company's.
            for (const QLatin1StringView n : p)
                if (isMobile(n) && inQ(n)) return {weight::mobileSame, "相同"};
            for (const QLatin1StringView n : p) {
                if (inQ(n)) return {weight::landlineSame, "相同"};
                mobiles |= isMobile(n);
            }
            for (const QLatin1StringView n : q)
                mobilesY |= isMobile(n);
            return {mobiles && mobilesY ? weight::mobileDiffer : weight::phoneDiffer};
        }
        // An ID number.
        if (!x.isEmpty() && !y.isEmpty()) {
            if (x == y) {
                o = {weight::idSame, "相同"};
                o.idsAgree = true;
                return o;
            }
            o.idsDiffer = true;
            return o;
        }
        const quint64 s = second[size_t(f)][size_t(a)], t = second[size_t(f)][size_t(b)];
        if (s != 0 && s == t) return {weight::idTextSame, "相同"};
        return o;
    }
    const QStringView x = main[size_t(f)].at(a);
    const QStringView y = main[size_t(f)].at(b);
    switch (kind(f)) {
    case FieldKind::PersonName: {
        if (x.isEmpty() || y.isEmpty()) return o;
        if (x == y) return {weight::nameSame, "相同"};
        if (hasLatin(x) || hasLatin(y)) {
            if (latinNamesAlike(x.toString(), y.toString())) return {weight::nameNear, "相近"};
        } else if (second[size_t(f)][size_t(a)] == second[size_t(f)][size_t(b)]) {
            return {weight::nameSound, "同音"};
        }
        o.points = weight::nameDiffer;
        o.namesDiffer = true;
        return o;
    }
    case FieldKind::Phone:
    case FieldKind::IdNumber: // narrow, above
        return o;
    case FieldKind::Address: {
        const auto& p = places[size_t(f)][size_t(a)];
        const auto& q = places[size_t(f)][size_t(b)];
        if (p[0] >= 0 && q[0] >= 0 && p[0] != q[0]) return {weight::provinceDiffer};
        if (p[1] >= 0 && q[1] >= 0 && p[1] != q[1]) return {weight::cityDiffer};
        if (p[2] >= 0 && q[2] >= 0 && countyName(f, a) != countyName(f, b))
            return {weight::countyDiffer};
        if (x.isEmpty() || y.isEmpty()) return o;
        if (x == y) return {weight::addressSame, "相同"};
        // One address goes further than the other (a building or room added).
        const QStringView shorter = x.size() < y.size() ? x : y;
        if (shorter.size() >= 5 && (x.size() < y.size() ? y : x).startsWith(shorter))
            return {weight::addressNear, "相近"};
        const double s = similarity(x, y);
        if (s >= 0.85) return {weight::addressNear, "相近"};
        // One character typed wrong, the numbers kept; or a road written with characters that
        // sound alike (振兴街, 震兴街).
        if (x.size() == y.size() && !hasLatin(x) &&
            ((editDistance(x, y) == 1 && digitsOf(x) == digitsOf(y) && !digitsOf(x).isEmpty()) ||
             pronunciationOfNormalName(x) == pronunciationOfNormalName(y)))
            return {weight::addressNear, "相近"};
        if (s >= 0.7) return {weight::addressLike, "相近"};
        if (p[0] < 0 && p[1] < 0 && p[2] < 0 && q[0] < 0 && q[1] < 0 && q[2] < 0)
            return {weight::placelessAddressDiffer};
        return {weight::addressDiffer};
    }
    case FieldKind::Organisation: {
        if (x.isEmpty() || y.isEmpty()) return o;
        const quint64 s = second[size_t(f)][size_t(a)], t = second[size_t(f)][size_t(b)];
        const double place = s != 0 && t != 0 && s != t ? weight::orgPlaceDiffer : 0;
        if (x == y) return {weight::orgSame + place, "相同"};
        if (similarity(x, y) >= 0.8) return {weight::orgNear + place, "相近"};
        return {weight::orgDiffer + place};
    }
    case FieldKind::Postcode:
        if (x.isEmpty() || y.isEmpty()) return o;
        return x == y ? Outcome{weight::postcodeSame, "相同"} : Outcome{weight::postcodeDiffer};
    case FieldKind::Other:
        if (x.isEmpty() || y.isEmpty()) return o;
        // Dates (a date of birth) tell people apart better than other values.
        if (isDate(x) && isDate(y)) {
            if (x == y) return {weight::dateSame, "相同"};
            return editDistance(x, y) == 1 ? Outcome{weight::dateNear, "相近"}
                                           : Outcome{weight::dateDiffer};
        }
        if (x == y) return {weight::otherSame, "相同"};
        if (x.size() >= 5 && similarity(x, y) >= 0.9) return {weight::otherNear, "相近"};
        return {weight::otherDiffer};
    }
    return o;
}

double Matcher::Data::score(int a, int b, QString* basis) const {
    double total = 0;
    bool namesDiffer = false, idsDiffer = false, idsAgree = false;
    QStringList agreed;
    for (int f = 0; f < fields(); ++f) {
        const Outcome o = compareField(f, a, b);
        total += o.points;
        namesDiffer |= o.namesDiffer;
        idsDiffer |= o.idsDiffer;
        idsAgree |= o.idsAgree;
        if (basis && o.agreement)
            agreed << settings.labels.value(f) + QString::fromUtf8(o.agreement);
    }
    if (basis) *basis = agreed.join(QStringLiteral("；"));
    // Two valid ID numbers that differ are two people; so are two different names, unless
    // their ID numbers agree.
    if (idsDiffer || (namesDiffer && !idsAgree)) return ruledOut;
    return total;
}

void Matcher::Data::keys(int r, std::vector<Entry>* out, std::vector<int>* fieldOf) const {
    // A key is the hash of its parts, the kind of key and the field first: no string is made.
    // extra: a number of the key (a place, a sound's hash), 0 for none.
    auto push = [&](int f, size_t h) {
        out->push_back({quint32(h), quint32(quint64(h) >> 32), quint32(r)});
        if (fieldOf) fieldOf->push_back(f);
    };
    auto start = [](KeyType type, int f, quint64 extra) {
        return size_t(type) * 0x9E3779B97F4A7C15ULL + size_t(f) * 0x10001 + size_t(extra);
    };
    auto add = [&](KeyType type, int f, std::initializer_list<QStringView> parts,
                   quint64 extra = 0) {
        size_t h = start(type, f, extra);
        bool any = extra != 0;
        for (const QStringView part : parts) {
            h = qHash(part, h) ^ (h >> 17);
            any |= !part.isEmpty();
        }
        if (any) push(f, h);
    };
    auto addNumber = [&](KeyType type, int f, QLatin1StringView number) {
        const size_t h = start(type, f, 0);
        push(f, qHash(number, h) ^ (h >> 17));
    };
    auto place = [](qint32 p) { return quint64(p + 1) * 0xC2B2AE3D27D4EB4FULL; };
    int addressField = -1;
    for (int f = 0; f < fields(); ++f)
        if (kind(f) == FieldKind::Address) {
            addressField = f;
            break;
        }
    bool any = false;
    for (int f = 0; f < fields(); ++f) {
        if (main[size_t(f)].isEmpty(r)) continue;
        const QStringView v = main[size_t(f)].narrow() ? QStringView() : main[size_t(f)].at(r);
        switch (kind(f)) {
        case FieldKind::Phone:
            for (const QLatin1StringView n : numbersOf(main[size_t(f)].latin1At(r)))
                addNumber(PhoneKey, f, n);
            any = true;
            break;
        case FieldKind::IdNumber:
            addNumber(IdKey, f, main[size_t(f)].latin1At(r));
            any = true;
            break;
        case FieldKind::PersonName: {
            if (hasLatin(v)) {
                // Each word's start with the other words' initials: a typo in one word, a
                // short form of the given name still meet.
                QStringList words = v.toString().split(QLatin1Char(' '), Qt::SkipEmptyParts);
                for (QString& w : words)
                    w = fullGivenName(w);
                for (qsizetype i = 0; i < words.size(); ++i) {
                    QString initials;
                    for (qsizetype j = 0; j < words.size(); ++j)
                        if (j != i) initials += words[j].front();
                    add(NameAlone, f, {QStringView(words[i]).left(4), initials});
                }
                any = true;
                break;
            }
            const quint64 sound = second[size_t(f)][size_t(r)];
            if (addressField < 0) {
                add(NameAlone, f, {}, sound);
            } else {
                const Place& p = places[size_t(addressField)][size_t(r)];
                // Within the city where the county is not known (within the county else).
                if (p[1] >= 0 && p[2] < 0) add(NameInCity, f, {}, sound ^ place(p[1]));
                if (p[2] >= 0) add(NameInCounty, f, {countyName(addressField, r)}, sound);
                // The name and the start of the rest of the address, whatever place is known
                // (a district the table does not know, a city left out on one side).
                add(NameAndRoad, f, {main[size_t(addressField)].at(r).left(4)}, sound);
            }
            any = true;
            break;
        }
        case FieldKind::Address: {
            const Place& p = places[size_t(f)][size_t(r)];
            const QStringView where = p[2] >= 0 ? countyName(f, r) : QStringView();
            const qint32 city = p[2] >= 0 ? -1 : p[1];
            add(AddressKey, f, {where, v}, place(city));
            // The road and house number: a typo further on (room, building) still meets.
            qsizetype end = 0;
            if (hasLatin(v)) {
                const qsizetype blank = v.indexOf(u' ');
                end = blank < 0 ? -1 : v.indexOf(u' ', blank + 1);
            } else {
                while (end < v.size() && !v[end].isDigit())
                    ++end;
                while (end < v.size() && v[end].isDigit())
                    ++end;
                end = end < v.size() ? end + 1 : (end > 0 && v.back().isDigit() ? end : -1);
            }
            if (end > 0) add(RoadKey, f, {where, v.left(end)}, place(city));
            any = true;
            break;
        }
        case FieldKind::Organisation:
            add(OrgKey, f, {v});
            any = true;
            break;
        case FieldKind::Postcode:
        case FieldKind::Other:
            break;
        }
    }
    // Fields of no kind that blocks: their values as they are.
    if (!any)
        for (int f = 0; f < fields(); ++f)
            if (kind(f) == FieldKind::Other) add(TextKey, f, {main[size_t(f)].at(r)});
}

void Matcher::Data::eachKey(const std::function<void(int, const Entry&)>& each) const {
    const int share = (records + threads - 1) / threads;
    workers->run([&](int t) {
        std::vector<Entry> own;
        for (int r = t * share; r < std::min(records, (t + 1) * share); ++r) {
            own.clear();
            keys(r, &own);
            for (const Entry& e : own)
                each(t, e);
        }
    });
}

std::vector<std::vector<size_t>> Matcher::Data::countKeys(int parts) const {
    std::vector<std::vector<size_t>> counts(static_cast<size_t>(threads),
                                            std::vector<size_t>(size_t(parts), 0));
    eachKey([&](int t, const Entry& e) { ++counts[size_t(t)][e.high % quint32(parts)]; });
    return counts;
}

std::vector<Entry> Matcher::Data::keysOfPart(int part, int parts,
                                             const std::vector<std::vector<size_t>>& counts) const {
    // Each thread makes the keys of its share of the records into its own stretch of the
    // vector, which has their number counted before: no vector grown by doubling, no copy.
    std::vector<size_t> next(static_cast<size_t>(threads), 0);
    for (int t = 1; t < threads; ++t)
        next[size_t(t)] = next[size_t(t) - 1] + counts[size_t(t) - 1][size_t(part)];
    std::vector<Entry> entries(next.back() + counts.back()[size_t(part)]);
    eachKey([&](int t, const Entry& e) {
        if (int(e.high % quint32(parts)) == part) entries[next[size_t(t)]++] = e;
    });
    return entries;
}

QString Matcher::Data::keyLabel(const Entry& e) const {
    // The field the key comes from: the record's keys made again.
    std::vector<Entry> own;
    std::vector<int> fieldOf;
    keys(int(e.record), &own, &fieldOf);
    int f = 0;
    for (size_t k = 0; k < own.size(); ++k)
        if (own[k].hash() == e.hash()) f = fieldOf[k];
    return settings.labels.value(f) + QLatin1Char(' ') + main[size_t(f)].text(int(e.record));
}

Matcher::Matcher(MatchSettings settings, const Regions& regions)
    : d_(new Data(std::move(settings), regions)) {
    for (int f = 0; f < d_->fields(); ++f)
        if (d_->settings.labels.size() <= f) d_->settings.labels << kindLabel(d_->kind(f));
}

Matcher::~Matcher() {
    delete d_;
}

void Matcher::reserve(int records) {
    d_->expected = size_t(std::max(records, 0));
    for (int f = 0; f < d_->fields(); ++f) {
        if (d_->hasSecond(f)) d_->second[size_t(f)].reserve(d_->expected);
        if (d_->kind(f) == FieldKind::Address) d_->places[size_t(f)].reserve(d_->expected);
    }
}

void Matcher::add(const std::vector<QStringView>& values) {
    for (int f = 0; f < d_->fields(); ++f)
        d_->pending[size_t(f)].push_back(size_t(f) < values.size() ? values[size_t(f)].toString()
                                                                   : QString());
    ++d_->records;
    if (d_->pending[0].size() >= Data::batch) d_->flush();
}

MatchResult Matcher::run(const std::function<bool(int, int)>& progress) {
    MatchResult result;
    Data& d = *d_;
    const int threads = d.threads;
    d.flush();
    // The progress runs over the records twice: candidates, scores.
    const int n = d.records;
    auto told = [&](int done) { return !progress || progress(done, 2 * std::max(n, 1)); };

    // Blocks: the records that share a key. A million records hold several million keys; they
    // are sorted in parts of the hash, a part at a time, so that only a part is held at once
    // (each part makes the keys again, which costs little beside the scoring).
    std::vector<quint64> pairs;
    std::vector<std::pair<quint32, CappedBlock>> capped;
    const int parts = std::clamp(n / std::max(d.settings.recordsPerKeyPart, 1), 1, 64);
    const std::vector<std::vector<size_t>> counts = d.countKeys(parts);
    for (int part = 0; part < parts; ++part) {
        std::vector<Entry> entries = d.keysOfPart(part, parts, counts);
        // By key only: the pairs are put in order afterwards.
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& x, const Entry& y) { return x.hash() < y.hash(); });
        for (size_t i = 0; i < entries.size();) {
            size_t j = i;
            while (j < entries.size() && entries[j].hash() == entries[i].hash())
                ++j;
            const size_t size = j - i;
            if (size > size_t(d.settings.blockCap)) {
                const Entry& first = *std::min_element(
                    entries.begin() + qsizetype(i), entries.begin() + qsizetype(j),
                    [](const Entry& x, const Entry& y) { return x.record < y.record; });
                capped.push_back({first.record, {d.keyLabel(first), int(size)}});
            } else {
                for (size_t a = i; a < j; ++a)
                    for (size_t b = a + 1; b < j; ++b) {
                        const quint32 x = entries[a].record, y = entries[b].record;
                        if (x != y) pairs.push_back(quint64(std::min(x, y)) << 32 | std::max(x, y));
                    }
            }
            i = j;
        }
    }
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    std::sort(capped.begin(), capped.end(),
              [](const auto& x, const auto& y) { return x.first < y.first; });
    for (auto& [first, block] : capped)
        result.capped.push_back(std::move(block));
    if (!told(n)) {
        result.cancelled = true;
        return result;
    }

    // Scores, in rounds split between the threads; each keeps its matches in pair order.
    struct Match {
        int a, b;
        double score;
    };
    const double needed = threshold(d.settings.level);
    std::vector<Match> matches;
    constexpr size_t round = 1 << 16;
    for (size_t from = 0; from < pairs.size(); from += round) {
        const size_t to = std::min(pairs.size(), from + round);
        const size_t share = (to - from + size_t(threads) - 1) / size_t(threads);
        std::vector<std::vector<Match>> found(static_cast<size_t>(threads));
        auto work = [&](int t) {
            const size_t a = from + size_t(t) * share, b = std::min(to, a + share);
            for (size_t i = a; i < b; ++i) {
                const int x = int(pairs[i] >> 32), y = int(pairs[i] & 0xFFFFFFFFu);
                const double s = d.score(x, y, nullptr);
                if (s >= needed) found[size_t(t)].push_back({x, y, s});
            }
        };
        d.workers->run(work);
        for (const auto& part : found)
            matches.insert(matches.end(), part.begin(), part.end());
        if (!told(n + int(qint64(n) * qint64(to) / qint64(pairs.size())))) {
            result.cancelled = true;
            return result;
        }
    }
    std::vector<quint64>().swap(pairs);

    // Groups: the strongest matches first; a strong one joins two groups, a weaker one only
    // when every record of the one matches every record of the other.
    std::sort(matches.begin(), matches.end(), [](const Match& x, const Match& y) {
        if (x.score != y.score) return x.score > y.score;
        return x.a != y.a ? x.a < y.a : x.b < y.b;
    });
    std::vector<int> root(static_cast<size_t>(n));
    std::iota(root.begin(), root.end(), 0);
    QHash<int, std::vector<int>> members; // of each root with more than one record
    auto find = [&](int x) {
        while (root[size_t(x)] != x)
            x = root[size_t(x)] = root[size_t(root[size_t(x)])];
        return x;
    };
    auto membersOf = [&](int r) { return members.contains(r) ? members[r] : std::vector<int>{r}; };
    constexpr size_t guardPairs = 64;
    // Groups held together by a weaker match somewhere (a record alone is not).
    std::vector<char> weak(static_cast<size_t>(n), 0);
    std::vector<Match> kept;
    for (const Match& m : matches) {
        const int ra = find(m.a), rb = find(m.b);
        if (ra == rb) {
            kept.push_back(m);
            continue;
        }
        std::vector<int> x = membersOf(ra), y = membersOf(rb);
        const bool strong = m.score >= needed + strongMargin;
        if (!strong) {
            // Two groups of strong matches only: joined unless a pair across them has evidence
            // against it. Otherwise every pair across them must be a match itself.
            if (x.size() * y.size() > guardPairs) continue;
            const double floor = weak[size_t(ra)] || weak[size_t(rb)] ? needed : 0.0;
            bool all = true;
            for (const int p : x) {
                for (const int q : y)
                    if (d.score(std::min(p, q), std::max(p, q), nullptr) < floor) {
                        all = false;
                        break;
                    }
                if (!all) break;
            }
            if (!all) continue;
        }
        const int into = std::min(ra, rb), from = std::max(ra, rb);
        weak[size_t(into)] = !strong || weak[size_t(ra)] || weak[size_t(rb)];
        root[size_t(from)] = into;
        x.insert(x.end(), y.begin(), y.end());
        members.remove(from);
        members[into] = std::move(x);
        kept.push_back(m);
    }

    // The groups in the order of their first records, each record with its best match.
    std::vector<std::vector<int>> groups;
    for (auto it = members.begin(); it != members.end(); ++it) {
        std::vector<int> g = it.value();
        std::sort(g.begin(), g.end());
        groups.push_back(std::move(g));
    }
    std::sort(groups.begin(), groups.end(),
              [](const auto& x, const auto& y) { return x.front() < y.front(); });
    // Each record's best match, as its place in kept (4 bytes a record, not a Reason each).
    std::vector<int> best(static_cast<size_t>(n), -1);
    for (size_t k = 0; k < kept.size(); ++k) // strongest first: the first seen is the best
        for (const auto& [self, other] :
             {std::pair{kept[k].a, kept[k].b}, std::pair{kept[k].b, kept[k].a}})
            if (best[size_t(self)] < 0 && find(self) == find(other)) best[size_t(self)] = int(k);
    // The few texts of the agreed fields, each held once however many records share it.
    QSet<QString> bases;
    for (const auto& g : groups) {
        std::vector<Reason> why;
        for (const int r : g) {
            const Match& m = kept[size_t(best[size_t(r)])];
            Reason reason{m.a == r ? m.b : m.a, m.score, {}};
            d.score(std::min(r, reason.partner), std::max(r, reason.partner), &reason.basis);
            reason.basis = *bases.insert(reason.basis);
            why.push_back(std::move(reason));
        }
        result.reasons.push_back(std::move(why));
    }
    result.groups = std::move(groups);
    return result;
}

} // namespace smart
