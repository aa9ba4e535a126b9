#include "db/formats/mdb/mdbvalue.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace mdb::value {

namespace {

// Day 0 of Access (1899-12-30) counted from 1970-01-01.
constexpr std::int64_t kAccessEpochFromUnix = -25569;
// 0100-01-01 and 9999-12-31 as Access day numbers: the range Access accepts.
constexpr double kFirstDay = -657434.0;
constexpr double kLastDay = 2958466.0; // exclusive: any time on 9999-12-31

// Proleptic Gregorian calendar date of a day count since 1970-01-01 (the era-based method:
// 400-year cycles of 146097 days, March-based years so the leap day falls at the end).
void civilFromDays(std::int64_t z, int* year, int* month, int* day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;                                      // [0, 146096]
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365; // [0, 399]
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);               // [0, 365]
    const std::int64_t mp = (5 * doy + 2) / 153;                                    // [0, 11]
    *day = int(doy - (153 * mp + 2) / 5 + 1);
    *month = int(mp < 10 ? mp + 3 : mp - 9);
    *year = int(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

std::string general(double v, int precision) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
    return std::string(buf, r.ptr);
}

} // namespace

std::string dateTime(double days) {
    if (!std::isfinite(days) || days < kFirstDay || days >= kLastDay) return dbl(days);
    std::int64_t day = std::int64_t(std::trunc(days));
    std::int64_t seconds = std::llround(std::fabs(days - double(day)) * 86400.0);
    if (seconds >= 86400) { // rounds up to the next midnight
        ++day;
        seconds -= 86400;
    }
    int y = 0, m = 0, d = 0;
    civilFromDays(day + kAccessEpochFromUnix, &y, &m, &d);
    char buf[40];
    if (seconds == 0) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    } else {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d,
                      int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
    }
    return buf;
}

std::string currency(std::int64_t v) {
    // Work on the magnitude as unsigned so the smallest value has a magnitude too.
    const bool negative = v < 0;
    const std::uint64_t mag = negative ? 0 - std::uint64_t(v) : std::uint64_t(v);
    std::string text = (negative ? "-" : "") + std::to_string(mag / 10000);
    std::uint64_t frac = mag % 10000;
    if (frac != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04u", unsigned(frac));
        std::string f(digits);
        while (!f.empty() && f.back() == '0')
            f.pop_back();
        text += '.' + f;
    }
    return text;
}

std::string single(float v) {
    return general(double(v), 7);
}

std::string dbl(double v) {
    return general(v, 15);
}

std::string trimDecimal(std::string text) {
    if (text.find('.') == std::string::npos) return text;
    while (!text.empty() && text.back() == '0')
        text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    if (text == "-0" || text.empty()) return "0";
    return text;
}

} // namespace mdb::value
