#pragma once
// The administrative divisions at the start of a Chinese address: province, city and county
// recognised in their full and short forms (广东省 and 广东, 深圳市 and 深圳, 南山区 and 南山), a
// province or city left out implied by what follows, a county name that several cities share
// resolved by the city or the postcode. What follows them (road, number, building, room) is the
// remainder. The divisions come from the table built into the program (smart/data/regions.csv).
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>

#include <vector>

namespace smart {

struct Division {
    QString province, city, county; // full names; county empty for a city's own row
    QString zip;                    // six digits, or empty
};

// An address taken apart. The division numbers index Regions::divisions(); -1: not recognised.
// province and city are the numbers of the rows of the province's first city and of the city's
// own row, so two addresses in one city have one city number.
struct Address {
    int province = -1, city = -1, county = -1;
    QString remainder; // the rest in the text's normal form, house numbers as digits
};

class Regions {
public:
    // The table built into the program.
    static const Regions& shipped();
    // A table read from CSV text with the columns province, city, county, zip (tests).
    explicit Regions(const QString& csvText);

    const std::vector<Division>& divisions() const { return rows_; }

    // Reads an address (any spelling: it is brought to the text's normal form first). postcode,
    // when the record has one, decides between counties of one name in several cities.
    Address parse(QStringView address, QStringView postcode = {}) const;

    // The short form of a division's name: 广东省 广东, 内蒙古自治区 内蒙古, 深圳市 深圳,
    // 延边朝鲜族自治州 延边, 南山区 南山; the name itself when no short form of two characters
    // or more is left.
    static QString shortForm(const QString& name);

private:
    enum Level { ProvinceLevel, CityLevel, CountyLevel };
    struct Name {
        int row;
        bool full;
    };
    void add(Level level, const QString& name, int row);
    // The names of this level that text[from...] starts with, longest first: each name's
    // length and rows (a few at most: kept without a heap block).
    using Matches = QVarLengthArray<std::pair<int, const std::vector<Name>*>, 8>;
    Matches match(Level level, QStringView text, qsizetype from) const;

    // The names of a level by the hash of their text (looked up without making a string).
    struct Named {
        QString text;
        std::vector<Name> rows;
    };
    std::vector<Division> rows_;
    QHash<size_t, std::vector<Named>> names_[3];
    // The first two characters of a level's names, with the longest name they start: most
    // places of an address start no name, and are passed over at once.
    QHash<quint32, int> starts_[3];
    QHash<QString, int> provinceRow_, cityRow_; // full name (city: province + city) -> row
    // Per row: the row of its province, of its city, and of the only city of its province when
    // the province is a municipality (-1 else); an address is placed without making a string.
    std::vector<int> provinceOf_, cityOf_, onlyCityOf_;
};

} // namespace smart
