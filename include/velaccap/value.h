// A column value as the data-access layer hands it over: Null, integer,
// floating-point, UTF-8 text, date-time, yes/no or bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace velaccap {

// Every failure of a database operation, and every failed value conversion,
// is raised as an Error whose text is the engine's, driver's or runtime's own
// description. The run turns the first one into its ErrDescription.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A calendar date and time of day, without time zone.
struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int microsecond = 0;

  bool operator==(const DateTime&) const = default;
};

// "YYYY-MM-DD HH:MM:SS", with ".ffffff" only when the fraction is not zero.
std::string FormatDateTime(const DateTime& dt);
// The same into `buf`, without allocating; returns its length. The buffer
// holds every field at its widest.
inline constexpr std::size_t kDateTimeTextSize = 96;
std::size_t FormatDateTime(const DateTime& dt, char (&buf)[kDateTimeTextSize]);

// Reads "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.f...]]" (a 'T' may stand for the
// blank). Returns false, leaving *out untouched, for anything else.
bool ParseDateTime(std::string_view text, DateTime* out);

// The bytes of a binary value (an OLE object, a binary column), kept apart
// from text so that nothing reads them as characters.
struct Bytes {
  std::string data;
  bool operator==(const Bytes&) const = default;
};

class Value {
 public:
  enum class Type { Null, Integer, Real, Text, DateTime, YesNo, Binary };

  Value() = default;  // Null
  static Value Integer(std::int64_t v) { return Value(Rep(std::in_place_index<1>, v)); }
  static Value Real(double v) { return Value(Rep(std::in_place_index<2>, v)); }
  static Value Text(std::string v) { return Value(Rep(std::in_place_index<3>, std::move(v))); }
  static Value Date(const DateTime& v) { return Value(Rep(std::in_place_index<4>, v)); }
  static Value YesNo(bool v) { return Value(Rep(std::in_place_index<5>, v)); }
  static Value Binary(std::string bytes) { return Value(Rep(std::in_place_index<6>, Bytes{std::move(bytes)})); }

  Type type() const { return static_cast<Type>(rep_.index()); }
  bool is_null() const { return rep_.index() == 0; }

  // Direct access; the caller must have checked type().
  std::int64_t integer() const { return std::get<1>(rep_); }
  double real() const { return std::get<2>(rep_); }
  const std::string& text() const { return std::get<3>(rep_); }
  const DateTime& date() const { return std::get<4>(rep_); }
  bool yes_no() const { return std::get<5>(rep_); }
  const std::string& binary() const { return std::get<6>(rep_).data; }

  // The value as text, as the host language's string conversion gives it:
  // numbers in their shortest plain form, dates formatted, yes/no as
  // "True"/"False", bytes as they are. Null cannot be converted and raises
  // "Invalid use of Null".
  std::string ToText() const;

  // Conversion to a 32-bit signed integer: integers pass, a fractional
  // number rounds half to even, text holding a number is converted. Null
  // raises "Invalid use of Null", a value out of range "Overflow", anything
  // else "Type mismatch".
  std::int32_t ToInt32() const;

  // The value as it stands inside a statement built by concatenation: Null
  // contributes empty text, a number its shortest plain text that reads back
  // as the same value, text as it is (no quoting here), yes/no as 1 or 0.
  // Bytes cannot stand in a statement and raise "Type mismatch".
  std::string ToStatementText() const;

  // The value as it stands in a statement where a number is expected. Sets
  // *out and returns true for Null (empty text, as above), integers, finite
  // reals, yes/no, and text that is a plain decimal literal ("12", "-0.5",
  // "1e3"; a leading '+' dropped). Returns false for anything else - text
  // that would read as more than a number, infinity, NaN, a date, bytes - so that
  // no value can become part of the statement around it.
  bool ToNumberText(std::string* out) const;

  bool operator==(const Value&) const = default;

 private:
  using Rep = std::variant<std::monostate, std::int64_t, double, std::string, DateTime, bool, Bytes>;
  explicit Value(Rep rep) : rep_(std::move(rep)) {}
  Rep rep_;
};

// The shortest plain (never exponent) decimal text that reads back as v.
std::string FormatNumber(double v);

// A readable rendering for traces, tests and diagnostics: NULL, numbers,
// 'text', #date#, True/False, X'hex' for bytes.
std::string DebugString(const Value& v);

// DebugString cut to `max` characters (and "...") with control characters
// shown as '?', for messages: a damaged or hostile value cannot flood or
// garble the terminal.
std::string ShortDebugString(const Value& v, std::size_t max);

// The text with every single quote doubled, so that it can stand between
// the single quotes of a statement literal and mean itself.
std::string QuoteDoubled(std::string_view text);

}  // namespace velaccap
