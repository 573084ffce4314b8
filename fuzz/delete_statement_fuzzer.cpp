// The delete forms adapted for engines other than SQL Server: any text, no
// crash; a statement that is not a delete passes as it stands; an adapted
// statement is left as it is by a second adaptation.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbaccess/ascii.h"
#include "dbaccess/dialect.h"
#include "fuzz/fuzz_check.h"

namespace velaccap::fuzz_delete_statement {

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

inline std::string_view FirstWord(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && IsBlank(s[b])) ++b;
  std::size_t e = b;
  while (e < s.size() && !IsBlank(s[e])) ++e;
  return s.substr(b, e - b);
}

inline void Check(const std::uint8_t* data, std::size_t size) {
  const std::string statement(reinterpret_cast<const char*>(data), size);
  const std::string adapted = AdaptDeleteStatement(statement);
  if (!EqualNoCase(FirstWord(statement), "delete")) {
    VELACCAP_FUZZ_CHECK(adapted == statement, "a statement other than a delete was changed");
    return;
  }
  if (adapted != statement) {
    VELACCAP_FUZZ_CHECK(adapted.starts_with("DELETE FROM "), "an adapted delete does not start DELETE FROM");
    VELACCAP_FUZZ_CHECK(AdaptDeleteStatement(adapted) == adapted, "an adapted delete changes when adapted again");
  }
}

}  // namespace velaccap::fuzz_delete_statement

#ifndef VELACCAP_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velaccap::fuzz_delete_statement::Check(data, size);
  return 0;
}
#endif
