#include "dbaccess/dialect.h"

#include <string_view>

#include "dbaccess/ascii.h"

namespace velaccap {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Splits the statement into blank-separated words while remembering where
// each word starts, so that a tail can be taken verbatim.
class Words {
 public:
  explicit Words(std::string_view text) : text_(text) {}

  // The next word, or empty at the end; `start` receives its position.
  std::string_view Next(std::size_t* start = nullptr) {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    std::size_t b = pos_;
    while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
    if (start) *start = b;
    return text_.substr(b, pos_ - b);
  }

  // What follows the current position, without surrounding blanks.
  std::string_view Rest() const {
    std::size_t b = pos_, e = text_.size();
    while (b < e && IsBlank(text_[b])) ++b;
    while (e > b && IsBlank(text_[e - 1])) --e;
    return text_.substr(b, e - b);
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string AdaptDeleteStatement(const std::string& statement) {
  Words words(statement);
  if (!EqualNoCase(words.Next(), "delete")) return statement;
  std::string_view table = words.Next();
  if (table.empty() || EqualNoCase(table, "from")) return statement;

  std::string out = "DELETE FROM ";
  out += table;
  std::string_view next = words.Next();
  if (next.empty()) return out;

  if (EqualNoCase(next, "where")) {
    std::string_view condition = words.Rest();
    if (condition.empty()) return statement;
    out += " WHERE ";
    out += condition;
    return out;
  }

  if (EqualNoCase(next, "from")) {
    // The joined tables run up to the first word "where"; the condition is
    // everything after it and may refer to both sides.
    std::size_t from_start = 0, where_start = 0;
    std::string_view first = words.Next(&from_start);
    if (first.empty() || EqualNoCase(first, "where")) return statement;
    std::size_t from_end = from_start + first.size();
    for (;;) {
      std::string_view w = words.Next(&where_start);
      if (w.empty()) return statement;
      if (EqualNoCase(w, "where")) break;
      from_end = where_start + w.size();
    }
    std::string_view condition = words.Rest();
    if (condition.empty()) return statement;
    out += " WHERE EXISTS (SELECT 1 FROM ";
    out += std::string_view(statement).substr(from_start, from_end - from_start);
    out += " WHERE ";
    out += condition;
    out += ")";
    return out;
  }
  return statement;
}

}  // namespace velaccap
