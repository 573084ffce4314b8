// ODBC connection strings as the driver manager reads them: `key=value`
// attributes separated by ';', keys compared without regard to letter case,
// a value in braces free to hold ';' with "}}" standing for one '}'. Every
// place that looks into a connection string - what a message may show, what
// must be masked - reads it through this one parser, so that none of them
// sees an attribute boundary where another does not.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velaccap {

struct OdbcAttribute {
  std::string key;    // as written, without the blanks around it
  std::string value;  // braces taken off, "}}" read as '}'
  bool braced = false;
  // Byte offsets into the parsed text. The key span excludes its blanks; the
  // value span runs from just after '=' up to the ';' that ends the
  // attribute (or the end), braces and blanks included.
  std::size_t key_begin = 0, key_end = 0;
  std::size_t value_begin = 0, value_end = 0;
};

struct OdbcConnectionString {
  // The attributes read, in order. Nothing after an unreadable part is
  // read: where one attribute ends is no longer certain there.
  std::vector<OdbcAttribute> attributes;
  // Where the text stops being readable (a part without '=', an empty key or
  // one with a brace, an unterminated brace, text after a closing brace, the
  // braced value of another key holding ";PWD=" or ";Password="), npos when
  // the whole text was read.
  std::size_t unreadable_from = std::string_view::npos;

  bool complete() const { return unreadable_from == std::string_view::npos; }
  // The first attribute named `key` (any letter case), as the driver manager
  // takes the first of repeated keys; null when there is none.
  const OdbcAttribute* Find(std::string_view key) const;
  // Its value, when there is one.
  std::optional<std::string> Value(std::string_view key) const;
};

OdbcConnectionString ParseOdbcConnectionString(std::string_view text);

// PWD and Password, in any letter case.
bool IsOdbcPasswordKey(std::string_view key);

// `text` with the whole value of every PWD and Password attribute, braced or
// not, replaced by "***", and every other byte as it was. From an unreadable
// part on, the rest of the text is replaced by "***": a password may lie in
// it, however a driver would read it.
std::string MaskOdbcPasswords(std::string_view text);

// `text` with `password` added as a braced PWD attribute ('}' doubled, so
// any character may stand in it) when `text` holds no PWD or Password
// attribute. `text` as it is when it holds one, when `password` is empty,
// and when `text` cannot be read whole (where an attribute would begin is
// not certain there).
std::string AddOdbcPassword(std::string_view text, std::string_view password);

}  // namespace velaccap
