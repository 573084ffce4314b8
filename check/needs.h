// What the run needs of its two databases: the tables it reads and writes
// and, in each, the columns its queries, statements and field maps name, and
// for the tables copied by name the source's own columns in the target.
// Databases are identified by these, not by table names alone, so that an
// account set of the other release, or one lacking a column, is refused
// before anything is written, every missing name listed at once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "velaccap/dbaccess.h"

namespace velaccap::check {

// The columns of a table as the database names them, or nothing when the
// table is not there.
std::optional<std::vector<std::string>> SourceColumns(SourceDatabase& source, const std::string& table);
std::optional<std::vector<std::string>> TargetColumns(TargetConnection& target, const std::string& table);

// What one side lacks, as "Table" or "Table.Column", in step order.
struct Fit {
  std::vector<std::string> missing;
  // The side lacks what its role needs but has all that the other role
  // needs: an 8.20 set given as the source, an 8.12 set as the target.
  bool other_release = false;
  bool ok() const { return missing.empty(); }
};

struct Identity {
  Fit source;
  Fit target;
};

// Reads the column lists of both sides (one empty query per table) and
// compares them with what the run needs. Writes nothing.
Identity Identify(SourceDatabase& source, TargetConnection& target);

// The message for a side that does not fit, naming every missing table and
// column and the release the database looks like; empty when it fits.
std::string SourceMisfit(const Fit& fit, const std::string& name);
std::string TargetMisfit(const Fit& fit, const std::string& name);

}  // namespace velaccap::check
