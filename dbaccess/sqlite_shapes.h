// Statement shapes for the SQLite target. The migration sends one literal
// statement per row, differing only in its literals; compiling each anew
// cost more than running it. A plain SELECT, INSERT, UPDATE or DELETE is
// therefore reduced to its shape - the text with its string and number
// literals replaced by `?` - and the prepared shape is kept and reused with
// the literals bound, as SQL Server does with its simple parameterization.
// Whatever could behave differently so is run as written.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dbaccess/recordset_base.h"
#include "dbaccess/sqlite_common.h"
#include "velaccap/dbaccess.h"

namespace velaccap::sqlite_internal {

// A literal taken out of a statement, in the order of the `?` it became.
struct Literal {
  enum class Kind { Text, Integer, Decimal };
  Kind kind = Kind::Text;
  std::string text;       // Text: the content with '' undoubled; else the digits
  long long integer = 0;  // Integer: its value
};

// A statement's shape and the literals to bind into it.
struct Shape {
  std::string text;
  std::vector<Literal> literals;
  std::size_t count = 0;  // literals in use; the vector only grows, keeping its buffers
};

// A result's columns as a recordset names and reads them. Kept with a cached
// shape, so a query run once per row does not set them up once per row.
struct ResultColumns {
  std::shared_ptr<const recordset_internal::ColumnNames> names;
  std::vector<Family> families;
};

// Reduces `sql` to *out. Returns false when the statement is to be prepared
// as written: not a plain SELECT/INSERT/UPDATE/DELETE, more than one
// statement, parameters of its own, or no literal to take out.
bool MakeShape(std::string_view sql, Shape* out);

// The prepared shapes of one connection, the least recently used dropped
// first. Shared by the connection and its recordsets, as an open result may
// outlive either.
class ShapeCache : public std::enable_shared_from_this<ShapeCache> {
  struct Entry;

 public:
  // `capacity` 0 prepares every statement as written.
  ShapeCache(Connection db, std::size_t capacity);
  ~ShapeCache();
  ShapeCache(const ShapeCache&) = delete;
  ShapeCache& operator=(const ShapeCache&) = delete;

  // A statement ready to step. A cached one goes back to the cache, reset
  // and unbound, when the lease ends; it is not lent twice at a time.
  class Lease {
   public:
    Lease() = default;
    explicit Lease(Stmt own) : st_(own.get()), own_(std::move(own)) {}
    Lease(Lease&& other) noexcept { *this = std::move(other); }
    Lease& operator=(Lease&& other) noexcept;
    ~Lease() { reset(); }

    sqlite3_stmt* get() const { return st_; }
    explicit operator bool() const { return st_ != nullptr; }
    void reset();

    // The columns of the statement's result: those kept with its shape, or
    // read from the engine (and kept) when there are none yet.
    std::shared_ptr<const ResultColumns> columns();

   private:
    friend class ShapeCache;
    sqlite3_stmt* st_ = nullptr;
    Stmt own_;                            // a statement of this lease alone
    std::shared_ptr<ShapeCache> cache_;   // set when st_ is the cache's
    Entry* entry_ = nullptr;              // st_'s place in the cache
  };

  // Sets *out to the shape of the single statement `sql` with its literals
  // bound. Returns false when `sql` must be prepared as written - also when
  // its shape does not compile, so that errors are the engine's own for the
  // statement as written.
  bool Take(std::string_view sql, Lease* out);

  // Shapes held, for tests.
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string shape;
    Stmt stmt;  // null: the shape does not compile
    bool busy = false;
    std::shared_ptr<const ResultColumns> columns;  // set on first use as a result
  };

  bool Bind(sqlite3_stmt* st);
  bool DecimalValue(const std::string& digits, double* out);
  void Give(Entry* e);
  void Trim();

  Connection db_;
  std::size_t capacity_;
  Shape shape_;
  std::list<Entry> entries_;  // the most recently used first
  std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;
  Stmt convert_;  // "SELECT ?1": SQLite's own reading of a decimal literal
};

// The SQLite target with `capacity` shapes cached per connection; 0 runs
// every statement as written. OpenSqliteTarget uses the default.
std::unique_ptr<TargetConnection> OpenSqliteTargetWithShapes(const std::string& path, std::size_t capacity,
                                                             const OpenOptions& options = {});

// Shapes a target connection keeps.
constexpr std::size_t kShapeCapacity = 64;

}  // namespace velaccap::sqlite_internal
