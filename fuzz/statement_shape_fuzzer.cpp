// The statement-shape scanner of the SQLite target on any text: no crash;
// a shape holds one `?` outside quotes and comments per literal taken out;
// putting the literals back and shaping again gives the same shape and
// literals. And the engine itself is the judge: a statement that compiles
// on a small database is run as written and then as the shape cache hands it
// out (shape and bound literals), each inside a transaction rolled back
// after; the results, the column names and types, the rows changed, the
// error and the tables left must all be the same.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "dbaccess/ascii.h"
#include "dbaccess/sqlite_common.h"
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

// A private in-memory database whose clock stands still, so that date
// functions without a time give the same value to both runs.
class Engine {
 public:
  static Engine& Get() {
    static Engine engine;
    return engine;
  }

  // The statement's whole outcome: columns, rows, error, changes and the
  // tables afterwards, as text. Empty when the run was cut short.
  std::string Run(sqlite3_stmt* st) {
    std::string out;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const char* decl = sqlite3_column_decltype(st, i);
      out += std::string("column ") + sqlite3_column_name(st, i) + " " + (decl ? decl : "-") + "\n";
    }
    steps_ = 0;
    int rc;
    int rows = 0;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      if (++rows > 1000) return {};
      AppendRow(st, &out);
    }
    if (rc == SQLITE_INTERRUPT || rc == SQLITE_NOMEM || steps_ > kMaxSteps) return {};
    out += "rc " + std::to_string(rc);
    if (rc != SQLITE_DONE) out += std::string(" ") + sqlite3_errmsg(db_);
    out += "\nchanges " + std::to_string(sqlite3_changes(db_)) + "\n";
    sqlite3_reset(st);
    steps_ = 0;
    for (const char* dump : {"SELECT * FROM T ORDER BY rowid", "SELECT * FROM U ORDER BY a"}) {
      sqlite3_stmt* d = nullptr;
      if (sqlite3_prepare_v2(db_, dump, -1, &d, nullptr) != SQLITE_OK) std::abort();
      while (sqlite3_step(d) == SQLITE_ROW) AppendRow(d, &out);
      sqlite3_finalize(d);
    }
    return out;
  }

  void Exec(const char* sql) {
    // A failed statement may have rolled back the transaction already.
    sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  }

  sqlite3* db() const { return db_; }
  const std::shared_ptr<sqlite_internal::ShapeCache>& cache() const { return cache_; }

 private:
  static constexpr long kMaxSteps = 20000;

  Engine() {
    base_ = sqlite3_vfs_find(nullptr);
    vfs_ = *base_;
    vfs_.zName = "velaccap-fuzz-still-clock";
    vfs_.xCurrentTime = [](sqlite3_vfs*, double* now) {
      *now = 2460000.5;
      return SQLITE_OK;
    };
    vfs_.xCurrentTimeInt64 = [](sqlite3_vfs*, sqlite3_int64* now) {
      *now = 212544000000000LL;  // 2460000.5 days in milliseconds
      return SQLITE_OK;
    };
    sqlite3_vfs_register(&vfs_, 0);
    if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs_.zName) != SQLITE_OK)
      std::abort();
    // Bounds on what one input may cost.
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, 100000);
    sqlite3_limit(db_, SQLITE_LIMIT_COMPOUND_SELECT, 8);
    sqlite3_limit(db_, SQLITE_LIMIT_EXPR_DEPTH, 100);
    sqlite3_progress_handler(
        db_, 100,
        [](void* self) { return ++static_cast<Engine*>(self)->steps_ > kMaxSteps ? 1 : 0; }, this);
    const char* schema =
        "CREATE TABLE T (a INTEGER, b TEXT, c REAL, d);"
        "CREATE TABLE U (a INTEGER PRIMARY KEY, b TEXT COLLATE NOCASE, c NUMERIC, d DATETIME);"
        "INSERT INTO T VALUES (1,'x',1.5,NULL),(2,'Y',-0.0,'2'),(3,'x''y',1e300,x'00ff'),(NULL,'',0,2.5);"
        "INSERT INTO U VALUES (1,'A7',10,'2024-01-02 03:04:05'),(2,'a7 2',20.25,NULL),(7,'b',-3,'x');";
    if (sqlite3_exec(db_, schema, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    cache_ = std::make_shared<sqlite_internal::ShapeCache>(
        sqlite_internal::Connection(db_, [](sqlite3*) {}), sqlite_internal::kShapeCapacity);
  }

  static void AppendRow(sqlite3_stmt* st, std::string* out) {
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER: *out += "i" + std::to_string(sqlite3_column_int64(st, i)); break;
        case SQLITE_FLOAT: {
          // Bit for bit: -0.0 and 0.0 differ.
          double v = sqlite3_column_double(st, i);
          std::uint64_t bits;
          std::memcpy(&bits, &v, sizeof bits);
          *out += "r" + std::to_string(bits);
          break;
        }
        case SQLITE_TEXT:
          *out += "t'" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                     static_cast<std::size_t>(sqlite3_column_bytes(st, i))) + "'";
          break;
        case SQLITE_BLOB: {
          const char* p = static_cast<const char*>(sqlite3_column_blob(st, i));
          *out += "b'" + std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, i))) + "'";
          break;
        }
        default: *out += "null"; break;
      }
      *out += '|';
    }
    *out += '\n';
  }

  sqlite3_vfs* base_ = nullptr;
  sqlite3_vfs vfs_{};
  sqlite3* db_ = nullptr;
  long steps_ = 0;
  std::shared_ptr<sqlite_internal::ShapeCache> cache_;
};


// Random values differ between two runs whatever the statement.
inline bool Deterministic(std::string_view sql) {
  const std::string upper = Upper(sql);
  for (const char* word : {"RANDOM", "CHANGES", "LAST_INSERT_ROWID"})
    if (upper.find(word) != std::string::npos) return false;
  return true;
}

inline void CompareWithTheEngine(std::string_view sql) {
  if (!Deterministic(sql)) return;
  Engine& engine = Engine::Get();
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(engine.db(), sql.data(), static_cast<int>(sql.size()), &raw, nullptr) != SQLITE_OK ||
      !raw) {
    sqlite3_finalize(raw);
    // The engine refuses the statement as written: so must the cache.
    sqlite_internal::ShapeCache::Lease lease;
    bool taken = false;
    try {
      taken = engine.cache()->Take(sql, &lease);
    } catch (const Error&) {
      return;
    }
    VELACCAP_FUZZ_CHECK(!taken || !lease, "the shape cache runs a statement the engine refuses as written");
    return;
  }
  sqlite_internal::Stmt written(raw);
  engine.Exec("BEGIN");
  const std::string expected = engine.Run(written.get());
  written.reset();
  engine.Exec("ROLLBACK");
  if (expected.empty()) return;

  sqlite_internal::ShapeCache::Lease lease;
  engine.Exec("BEGIN");
  std::string got;
  bool taken = false;
  try {
    taken = engine.cache()->Take(sql, &lease);
    if (taken) got = engine.Run(lease.get());
  } catch (const Error&) {
    // Prepared as written after all, and refused: it compiled above.
    lease.reset();
    engine.Exec("ROLLBACK");
    VELACCAP_FUZZ_CHECK(false, "the shape cache refuses a statement that compiles");
  }
  lease.reset();
  engine.Exec("ROLLBACK");
  if (!taken || got.empty()) return;
  VELACCAP_FUZZ_CHECK(got == expected, "shaped, the statement gives\n" + got + "as written\n" + expected);
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
  CompareWithTheEngine(sql);
}

}  // namespace velaccap::fuzz_statement_shape

#ifndef VELACCAP_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velaccap::fuzz_statement_shape::Check(data, size);
  return 0;
}
#endif
