// The Access source: an .mdb or .accdb file read through libmdb. Its user
// tables are loaded into a private SQLite database, where the source queries
// then run as written, with text compared without regard to letter case as
// the Access engine compares it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velaccap/dbaccess.h"
#include "velaccap/value.h"

namespace velaccap {

// Files larger than this are loaded into a temporary file rather than memory.
inline constexpr std::uintmax_t kAccessInMemoryLimit = 256u * 1024 * 1024;

// Opens the Access file at `path` read-only and loads every user table.
// Throws InputError naming the file when it is missing or not an Access
// file, and naming the file and table when a table cannot be read whole.
std::unique_ptr<SourceDatabase> OpenAccessSource(const std::string& path);

// As above; a file larger than `in_memory_limit` bytes is loaded into a
// temporary SQLite file that is deleted when the source is released.
std::unique_ptr<SourceDatabase> OpenAccessSource(const std::string& path,
                                                 std::uintmax_t in_memory_limit);

// An Access date-time value (days since 1899-12-30; the whole part counts
// days, negative before that day, and the fraction's magnitude is the time
// of day whatever the sign), rounded to the second.
DateTime AccessDateToDateTime(double days);

}  // namespace velaccap
