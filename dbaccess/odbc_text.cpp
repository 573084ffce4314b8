// Text between the run's UTF-8 and the driver manager's UTF-16, and the
// driver's own words for a failure.
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "dbaccess/odbc_link.h"
#include "velaccap/value.h"

namespace velaccap::odbc_internal {

namespace {

// Converts between the run's UTF-8 and the driver manager's UTF-16 with
// iconv. Each thread keeps its own pair of descriptors: opening one per value
// would cost more than the conversion itself.
class Utf16 {
 public:
  static Utf16& ForThisThread() {
    thread_local Utf16 converter;
    return converter;
  }

  WideText ToWide(std::string_view utf8) {
    WideText out;
    ToWide(utf8, &out);
    return out;
  }

  // Into `out`, whose room is reused: a batch converts every row's text.
  void ToWide(std::string_view utf8, WideText* out) {
    out->resize(utf8.size());  // never more UTF-16 units than UTF-8 bytes
    Convert(to_wide_, utf8.data(), utf8.size(), reinterpret_cast<char*>(out->data()), out->size() * sizeof(SQLWCHAR),
            "UTF-8", out);
  }

  std::string ToUtf8(const SQLWCHAR* text, std::size_t n) {
    std::string out(n * 3, '\0');  // one UTF-16 unit never takes more than three bytes
    Convert(to_utf8_, reinterpret_cast<const char*>(text), n * sizeof(SQLWCHAR), out.data(), out.size(), "UTF-16",
            &out);
    return out;
  }

 private:
  static constexpr const char* kWide = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

  Utf16() : to_wide_(Open(kWide, "UTF-8")), to_utf8_(Open("UTF-8", kWide)) {}
  ~Utf16() {
    iconv_close(to_wide_);
    iconv_close(to_utf8_);
  }

  static iconv_t Open(const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      throw Error(std::string("Cannot convert text from ") + from + " to " + to + ": " + std::strerror(errno));
    }
    return cd;
  }

  // Converts `in` into `room` bytes at `dst` and trims `*out` to what was
  // written. Text that is not valid in its encoding stops the run: a
  // replacement character would change the stored value without a word.
  template <typename Out>
  static void Convert(iconv_t cd, const char* in, std::size_t in_len, char* dst, std::size_t room, const char* from,
                      Out* out) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in);
    char* cursor = dst;
    std::size_t left = room;
    if (iconv(cd, &src, &in_len, &cursor, &left) == static_cast<std::size_t>(-1)) {
      const int err = errno;
      throw Error(std::string("Text is not valid ") + from + " at byte " + std::to_string(src - in) + ": " +
                  std::strerror(err));
    }
    out->resize(static_cast<std::size_t>(cursor - dst) / sizeof(typename Out::value_type));
  }

  iconv_t to_wide_;
  iconv_t to_utf8_;
};

}  // namespace

WideText ToWide(std::string_view utf8) { return Utf16::ForThisThread().ToWide(utf8); }
void ToWide(std::string_view utf8, WideText* out) { Utf16::ForThisThread().ToWide(utf8, out); }

std::string ToUtf8(const SQLWCHAR* text, std::size_t n) { return Utf16::ForThisThread().ToUtf8(text, n); }

std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle, bool wide, SQLSMALLINT record) {
  SQLSMALLINT len = 0;
  SQLINTEGER native = 0;
  if (wide) {
    SQLWCHAR state[6];
    std::vector<SQLWCHAR> msg(1024);
    SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, msg.data(),
                                  static_cast<SQLSMALLINT>(msg.size()), &len);
    if (Ok(rc) && static_cast<std::size_t>(len) >= msg.size()) {
      msg.resize(static_cast<std::size_t>(len) + 1);
      rc = SQLGetDiagRecW(type, handle, record, state, &native, msg.data(), static_cast<SQLSMALLINT>(msg.size()), &len);
    }
    if (Ok(rc)) return ToUtf8(msg.data(), std::min<std::size_t>(static_cast<std::size_t>(len), msg.size() - 1));
  } else {
    SQLCHAR state[6];
    std::vector<SQLCHAR> msg(1024);
    SQLRETURN rc = SQLGetDiagRec(type, handle, record, state, &native, msg.data(),
                                 static_cast<SQLSMALLINT>(msg.size()), &len);
    if (Ok(rc) && static_cast<std::size_t>(len) >= msg.size()) {
      msg.resize(static_cast<std::size_t>(len) + 1);
      rc = SQLGetDiagRec(type, handle, record, state, &native, msg.data(), static_cast<SQLSMALLINT>(msg.size()), &len);
    }
    if (Ok(rc)) {
      return std::string(reinterpret_cast<const char*>(msg.data()),
                         std::min<std::size_t>(static_cast<std::size_t>(len), msg.size() - 1));
    }
  }
  return {};
}

}  // namespace velaccap::odbc_internal
