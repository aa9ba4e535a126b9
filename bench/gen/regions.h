#pragma once
// The province-city-county reference list behind the generated addresses and postcodes.
#include <QString>

#include <vector>

namespace gen {

struct Region {
    QString province, city, county;
    QString zip; // as the file writes it: leading zeros kept, malformed codes left as they are
};

// Reads a UTF-8 CSV with the columns province, city, county and zipCode (named in its header
// row, others ignored). Lines may end in any mix of CR and LF; blank lines are skipped, rows
// without a province, city or county are left out, and a repeated (province, city, county) keeps
// its first row. False with a Chinese message for a missing, unreadable, oversized or foreign
// file, a header without those columns, or a file without a usable row.
bool readRegionCsv(const QString& path, std::vector<Region>* out, QString* error);

// A small list (fifteen provinces, two municipalities among them), used when no reference
// file is at hand.
std::vector<Region> builtInRegions();

} // namespace gen
