// How the check names a row, shared by the rules and the trial run so that
// both name the same row alike.
#pragma once

#include <string>

#include "velaccap/value.h"

namespace velaccap::check {

// A value as a literal, cut short and with control characters masked, so
// that a damaged value cannot flood the terminal.
inline std::string Shown(const Value& v) { return ShortDebugString(v, 60); }

// "AutoID 14 of invoice '0000001 2'": an invoice line by its id and its
// invoice's code.
inline std::string LineKey(const char* id_column, const Value& id, const Value& code) {
  return std::string(id_column) + " " + Shown(id) + " of invoice " + Shown(code);
}

// "SBVID 3", "Auto_ID 7": a row by one column.
inline std::string RowKey(const std::string& column, const Value& value) { return column + " " + Shown(value); }

}  // namespace velaccap::check
