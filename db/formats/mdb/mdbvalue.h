#pragma once
// Text forms of Access field values, the way Access shows them in a datasheet. Pure functions on
// the stored bytes; no mdbtools, no locale (the decimal point is always ".").
#include <cstdint>
#include <string>

namespace mdb::value {

// Date/Time: days since 1899-12-30 with the time of day as the fraction. For negative values the
// integer part counts days back and the fraction still adds the time forward (-1.25 is
// 1899-12-29 06:00). Shown as yyyy-MM-dd, or yyyy-MM-dd HH:mm:ss when the time is not midnight,
// rounded to the second. Values outside Access's range (years 100..9999) are shown as numbers.
std::string dateTime(double days);

// Currency: a 64-bit integer count of ten-thousandths, shown without trailing zeros ("14",
// "9.8", "-0.0001").
std::string currency(std::int64_t tenThousandths);

// Single and Double with the significant digits Access shows (7 and 15), "." as the decimal
// point, exponent form only where Access uses it too (1E+20 is shown as "1e+20").
std::string single(float v);
std::string dbl(double v);

// A decimal number written by mdbtools ("12.3400") without trailing zeros after the point.
std::string trimDecimal(std::string text);

} // namespace mdb::value
