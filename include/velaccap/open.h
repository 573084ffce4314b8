// Opening the two databases of a run by the names the tool gives them.
#pragma once

#include <memory>
#include <string>

#include "velaccap/dbaccess.h"

namespace velaccap {

// An input that cannot be used at all: a missing file, a file that is not a
// database, an account set of the wrong release. The text names the file or
// table. Nothing has been written when it is raised.
class InputError : public Error {
 public:
  using Error::Error;
};

// A source named by its file: an Access file (.mdb, .accdb), otherwise a
// SQLite file. Opened read-only.
std::unique_ptr<SourceDatabase> OpenSource(const std::string& name);

// A target named as "odbc:<connection string>", otherwise a SQLite file that
// must already exist.
std::unique_ptr<TargetConnection> OpenTarget(const std::string& name);

}  // namespace velaccap
