// The ODBC connection-string reader and the masking built on it, on any
// text: no crash; spans lie in the text in order and give back the keys;
// the masked text reads back as the same attributes with "***" for every
// password, and masking it again changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbaccess/odbc_connection_string.h"
#include "fuzz/fuzz_check.h"

namespace velaccap::fuzz_connection_string {

inline void Check(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const OdbcConnectionString cs = ParseOdbcConnectionString(text);

  std::size_t at = 0;
  for (const OdbcAttribute& a : cs.attributes) {
    VELACCAP_FUZZ_CHECK(at <= a.key_begin && a.key_begin < a.key_end && a.key_end < a.value_begin &&
                            a.value_begin <= a.value_end && a.value_end <= text.size(),
                        "attribute spans out of order");
    VELACCAP_FUZZ_CHECK(text.substr(a.key_begin, a.key_end - a.key_begin) == a.key, "key span");
    VELACCAP_FUZZ_CHECK(text[a.value_begin - 1] == '=', "no '=' before the value");
    VELACCAP_FUZZ_CHECK(a.value_end == text.size() || text[a.value_end] == ';', "no ';' after the value");
    if (!a.braced)
      VELACCAP_FUZZ_CHECK(text.substr(a.value_begin, a.value_end - a.value_begin) == a.value, "value span");
    at = a.value_end;
  }
  if (!cs.complete()) VELACCAP_FUZZ_CHECK(at <= cs.unreadable_from && cs.unreadable_from < text.size(), "unreadable part");

  const std::string masked = MaskOdbcPasswords(text);
  const OdbcConnectionString back = ParseOdbcConnectionString(masked);
  const std::size_t n = cs.attributes.size();
  VELACCAP_FUZZ_CHECK(back.attributes.size() >= n, "the masked text has fewer attributes: " + masked);
  for (std::size_t i = 0; i < n; ++i) {
    const OdbcAttribute& a = cs.attributes[i];
    const OdbcAttribute& b = back.attributes[i];
    VELACCAP_FUZZ_CHECK(a.key == b.key, "key " + std::to_string(i + 1) + " differs once masked: " + masked);
    VELACCAP_FUZZ_CHECK(b.value == (IsOdbcPasswordKey(a.key) ? "***" : a.value),
                        "value " + std::to_string(i + 1) + " once masked: " + masked);
  }
  if (cs.complete()) {
    VELACCAP_FUZZ_CHECK(back.complete() && back.attributes.size() == n, "a readable text masked is not: " + masked);
  } else {
    // The unreadable rest became "***": at most the value of the attribute
    // it began in.
    VELACCAP_FUZZ_CHECK(masked.ends_with("***"), "the unreadable rest is not masked: " + masked);
    VELACCAP_FUZZ_CHECK(back.attributes.size() <= n + 1, "the masked rest reads as attributes: " + masked);
    if (back.attributes.size() == n + 1) VELACCAP_FUZZ_CHECK(back.attributes[n].value == "***", "masked rest");
  }
  VELACCAP_FUZZ_CHECK(MaskOdbcPasswords(masked) == masked, "masking twice changes the text: " + masked);
}

}  // namespace velaccap::fuzz_connection_string

#ifndef VELACCAP_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velaccap::fuzz_connection_string::Check(data, size);
  return 0;
}
#endif
