// The trace of a run: every database operation, one line each, in order,
// written before the operation runs. Fields are separated by a tab; a tab,
// newline or backslash inside a text is written as \t, \n, \\.
//   S query       a query opened on the source
//   X statement   a statement executed on the target
//   Q query       a query opened on a target recordset
//   T table lock  a target table opened for adding rows
//   B rows        a batch save, with the rows added since the table opened
#pragma once

#include <memory>
#include <ostream>

#include "velaccap/dbaccess.h"

namespace velaccap {

// The layers write to `out`, which must outlive them.
std::unique_ptr<SourceDatabase> TraceSource(SourceDatabase& inner, std::ostream& out);
std::unique_ptr<TargetConnection> TraceTarget(TargetConnection& inner, std::ostream& out);

// A text with tab, newline and backslash escaped as in a trace line.
std::string TraceEscape(std::string_view text);

}  // namespace velaccap
