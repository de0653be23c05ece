// Usage maps: which pages belong to a table (or are free).
#pragma once

#include <cstdint>
#include <vector>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"

namespace corvalin::engine {

// The pages of the usage map whose row the row pointer `map_row` names, in
// ascending page order. Pages past the end of the file are left out.
// Throws Error kErrDamagedFile when the map itself is malformed.
std::vector<uint32_t> ReadUsageMap(PageFile& file, const JetFormat& format,
                                   uint32_t map_row);

}  // namespace corvalin::engine
