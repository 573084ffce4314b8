// Letter case in names and keywords. Table and column names, SQL keywords,
// type names and file extensions are compared without regard to the case of
// the ASCII letters; every other byte, UTF-8 included, compares as it is.
#ifndef VELACCAP_DBACCESS_ASCII_H_
#define VELACCAP_DBACCESS_ASCII_H_

#include <string>
#include <string_view>

namespace velaccap {

inline char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// `a` and `b` are the same but for the case of ASCII letters.
inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// `s` with its ASCII letters in capitals.
inline std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

}  // namespace velaccap

#endif  // VELACCAP_DBACCESS_ASCII_H_
