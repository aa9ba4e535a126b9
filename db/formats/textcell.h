#pragma once
// Where one value stands in a buffer of texts: the readers that load whole tables and the
// recordsets that keep them share this form, so the rows pass from one to the other unchanged.
#include <cstdint>

namespace formats {

struct TextCell {
    uint32_t offset = 0;
    int32_t length = -1; // -1: null
};

} // namespace formats
