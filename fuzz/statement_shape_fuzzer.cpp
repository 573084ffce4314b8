// The statement-shape scanner of the SQLite target on any text: no crash;
// a shape holds one `?` outside quotes and comments per literal taken out;
// putting the literals back and shaping again gives the same shape and
// literals, so the scanner reads its own output as it read the statement.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbaccess/sqlite_shapes.h"
#include "fuzz/fuzz_check.h"

namespace velaccap::fuzz_statement_shape {

using sqlite_internal::Literal;
using sqlite_internal::MakeShape;
using sqlite_internal::Shape;

// Calls `at(i)` for each `?` of `text` outside string literals, quoted
// names and comments, tokenized as SQLite does.
template <class F>
void ForEachMark(std::string_view text, F at) {
  std::size_t i = 0;
  auto skip_quoted = [&](char close, bool doubled) {
    for (++i; i < text.size(); ++i) {
      if (text[i] != close) continue;
      if (doubled && i + 1 < text.size() && text[i + 1] == close) {
        ++i;
        continue;
      }
      ++i;
      return;
    }
  };
  while (i < text.size()) {
    const char c = text[i];
    if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      std::size_t e = text.find('\n', i);
      i = e == std::string_view::npos ? text.size() : e;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      std::size_t e = text.find("*/", i + 2);
      i = e == std::string_view::npos ? text.size() : e + 2;
    } else if (c == '\'' || c == '"' || c == '`') {
      skip_quoted(c, true);
    } else if (c == '[') {
      skip_quoted(']', false);
    } else {
      if (c == '?') at(i);
      ++i;
    }
  }
}

inline std::string Spelled(const Literal& lit) {
  switch (lit.kind) {
    case Literal::Kind::Text: {
      std::string out = "'";
      for (char c : lit.text) {
        if (c == '\'') out += '\'';
        out += c;
      }
      return out + "'";
    }
    case Literal::Kind::Integer: return std::to_string(lit.integer);
    case Literal::Kind::Decimal: return lit.text;
  }
  return {};
}

inline void Check(const std::uint8_t* data, std::size_t size) {
  const std::string_view sql(reinterpret_cast<const char*>(data), size);
  Shape shape;
  if (!MakeShape(sql, &shape)) return;
  VELACCAP_FUZZ_CHECK(shape.count > 0 && shape.count <= shape.literals.size(), "literal count out of range");

  std::size_t marks = 0;
  std::string rebuilt;
  std::size_t copied = 0;
  ForEachMark(shape.text, [&](std::size_t at) {
    if (marks < shape.count) {
      rebuilt.append(shape.text, copied, at - copied);
      rebuilt += Spelled(shape.literals[marks]);
      copied = at + 1;
    }
    ++marks;
  });
  rebuilt.append(shape.text, copied);
  VELACCAP_FUZZ_CHECK(marks == shape.count, "shape has " + std::to_string(marks) + " marks for " +
                                                std::to_string(shape.count) + " literals: " + shape.text);

  Shape again;
  VELACCAP_FUZZ_CHECK(MakeShape(rebuilt, &again), "the statement rebuilt from its shape is not shaped: " + rebuilt);
  VELACCAP_FUZZ_CHECK(again.text == shape.text, "the rebuilt statement has another shape: " + again.text);
  VELACCAP_FUZZ_CHECK(again.count == shape.count, "the rebuilt statement has another literal count");
  for (std::size_t i = 0; i < shape.count; ++i) {
    const Literal& a = shape.literals[i];
    const Literal& b = again.literals[i];
    VELACCAP_FUZZ_CHECK(a.kind == b.kind && a.text == b.text && a.integer == b.integer,
                        "literal " + std::to_string(i + 1) + " differs once rebuilt");
  }
}

}  // namespace velaccap::fuzz_statement_shape

#ifndef VELACCAP_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velaccap::fuzz_statement_shape::Check(data, size);
  return 0;
}
#endif
