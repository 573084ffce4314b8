#include "velaccap/value.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace velaccap {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads exactly `width` decimal digits at text[pos].
bool Digits(std::string_view text, std::size_t pos, std::size_t width, int* out) {
  if (pos + width > text.size()) return false;
  int v = 0;
  for (std::size_t i = pos; i < pos + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *out = v;
  return true;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Text holding a number, as the host language's numeric conversion reads it:
// blanks around it are allowed, a leading '+' too.
bool ParseNumberText(std::string_view text, double* out) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  if (b < e && text[b] == '+') ++b;
  if (b == e) return false;
  const char* first = text.data() + b;
  const char* last = text.data() + e;
  auto [ptr, ec] = std::from_chars(first, last, *out);
  if (ec == std::errc::result_out_of_range) {
    *out = std::numeric_limits<double>::infinity();  // reported as Overflow
    return true;
  }
  return ec == std::errc() && ptr == last && std::isfinite(*out);
}

std::int32_t RoundToInt32(double v) {
  // nearbyint under the default rounding mode rounds half to even, as the
  // host language's integer conversion does.
  double r = std::nearbyint(v);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw Error("Overflow");
  return static_cast<std::int32_t>(r);
}

}  // namespace

std::string FormatDateTime(const DateTime& dt) {
  char buf[kDateTimeTextSize];
  return std::string(buf, FormatDateTime(dt, buf));
}

std::size_t FormatDateTime(const DateTime& dt, char (&buf)[kDateTimeTextSize]) {
  // Written by hand: dates go out once per date field per row of a copy.
  char* p = buf;
  auto put = [&p](int v, int width) {
    if (v < 0) {
      *p++ = '-';
      v = -v;
    }
    char digits[12];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v > 0 && n < 10);
    for (int i = n; i < width; ++i) *p++ = '0';
    while (n > 0) *p++ = digits[--n];
  };
  put(dt.year, 4), *p++ = '-', put(dt.month, 2), *p++ = '-', put(dt.day, 2), *p++ = ' ';
  put(dt.hour, 2), *p++ = ':', put(dt.minute, 2), *p++ = ':', put(dt.second, 2);
  if (dt.microsecond != 0) *p++ = '.', put(dt.microsecond, 6);
  return static_cast<std::size_t>(p - buf);
}

bool ParseDateTime(std::string_view text, DateTime* out) {
  DateTime dt;
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
  if (!Digits(text, 0, 4, &dt.year) || !Digits(text, 5, 2, &dt.month) || !Digits(text, 8, 2, &dt.day))
    return false;
  if (dt.month < 1 || dt.month > 12 || dt.day < 1 || dt.day > DaysInMonth(dt.year, dt.month))
    return false;
  if (text.size() > 10) {
    if (text[10] != ' ' && text[10] != 'T') return false;
    if (text.size() < 16 || text[13] != ':') return false;
    if (!Digits(text, 11, 2, &dt.hour) || !Digits(text, 14, 2, &dt.minute)) return false;
    if (dt.hour > 23 || dt.minute > 59) return false;
    if (text.size() > 16) {
      if (text.size() < 19 || text[16] != ':' || !Digits(text, 17, 2, &dt.second) || dt.second > 59)
        return false;
      if (text.size() > 19) {
        // Fractions finer than a microsecond are cut, not rounded, so that a
        // second never rolls over into the next.
        if (text[19] != '.' || text.size() == 20) return false;
        int micro = 0, scale = 100000;
        for (std::size_t i = 20; i < text.size(); ++i) {
          if (text[i] < '0' || text[i] > '9') return false;
          micro += (text[i] - '0') * scale;
          scale /= 10;
        }
        dt.microsecond = micro;
      }
    }
  }
  *out = dt;
  return true;
}

std::string FormatNumber(double v) {
  if (v == 0) return "0";  // also for -0, which reads back equal
  char buf[400];  // the longest fixed form of a double is about 330 chars
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  if (ec != std::errc()) throw Error("Overflow");
  return std::string(buf, ptr);
}

std::string Value::ToText() const {
  switch (type()) {
    case Type::Null: throw Error("Invalid use of Null");
    case Type::Integer: return std::to_string(integer());
    case Type::Real: return FormatNumber(real());
    case Type::Text: return text();
    case Type::DateTime: return FormatDateTime(date());
    case Type::YesNo: return yes_no() ? "True" : "False";
    case Type::Binary: return binary();
  }
  return {};
}

std::int32_t Value::ToInt32() const {
  switch (type()) {
    case Type::Null: throw Error("Invalid use of Null");
    case Type::Integer:
      if (integer() < std::numeric_limits<std::int32_t>::min() ||
          integer() > std::numeric_limits<std::int32_t>::max())
        throw Error("Overflow");
      return static_cast<std::int32_t>(integer());
    case Type::Real: return RoundToInt32(real());
    case Type::Text: {
      double v;
      if (!ParseNumberText(text(), &v)) throw Error("Type mismatch");
      return RoundToInt32(v);
    }
    default: throw Error("Type mismatch");
  }
}

std::string Value::ToStatementText() const {
  switch (type()) {
    case Type::Null: return {};
    case Type::YesNo: return yes_no() ? "1" : "0";
    case Type::Binary: throw Error("Type mismatch");
    default: return ToText();
  }
}

namespace {

// [+-]digits[.digits][e[+-]digits] or [+-].digits..., nothing around it.
bool PlainDecimal(std::string_view t) {
  std::size_t i = 0, n = t.size();
  auto digits = [&] {
    const std::size_t from = i;
    while (i < n && t[i] >= '0' && t[i] <= '9') ++i;
    return i - from;
  };
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < n && t[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == n;
}

}  // namespace

bool Value::ToNumberText(std::string* out) const {
  switch (type()) {
    case Type::Null: out->clear(); return true;
    case Type::Integer: *out = std::to_string(integer()); return true;
    case Type::Real:
      if (!std::isfinite(real())) return false;
      *out = FormatNumber(real());
      return true;
    case Type::YesNo: out->assign(1, yes_no() ? '1' : '0'); return true;
    case Type::Text: {
      std::string_view t = text();
      if (!PlainDecimal(t)) return false;
      // A literal too large for the engines' numbers would overflow there.
      double v;
      auto [ptr, ec] = std::from_chars(t.data() + (t[0] == '+'), t.data() + t.size(), v);
      if (ec != std::errc() || ptr != t.data() + t.size() || !std::isfinite(v)) return false;
      // The fragment before a number may end in '+'; "++" would still read
      // as a number, but the plus adds nothing.
      if (t[0] == '+') t.remove_prefix(1);
      out->assign(t);
      return true;
    }
    case Type::DateTime:
    case Type::Binary: return false;
  }
  return false;
}

namespace {

std::string Enclosed(char mark, const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += mark;
  out += text;
  out += mark;
  return out;
}

}  // namespace

std::string DebugString(const Value& v) {
  switch (v.type()) {
    case Value::Type::Null: return "NULL";
    // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) on
    // a literal joined to a temporary string.
    case Value::Type::Text: return Enclosed('\'', QuoteDoubled(v.text()));
    case Value::Type::DateTime: return Enclosed('#', FormatDateTime(v.date()));
    case Value::Type::Binary: {
      static const char kHex[] = "0123456789ABCDEF";
      std::string out = "X'";
      out.reserve(v.binary().size() * 2 + 3);
      for (unsigned char c : v.binary()) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      out += '\'';
      return out;
    }
    default: return v.ToText();
  }
}

std::string ShortDebugString(const Value& v, std::size_t max) {
  std::string s = DebugString(v);
  if (s.size() > max) s = s.substr(0, max) + "...";
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  return s;
}

std::string QuoteDoubled(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace velaccap
