// What the sample's rows are written with: a prepared insert per table that
// binds C++ values (an optional or kNull as Null), and a seeded generator
// that gives a seed the same rows on every platform.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>

#include "velaccap/value.h"

namespace velaccap::sample {

struct Null {};
inline constexpr Null kNull;

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

using Text = std::optional<std::string>;

// A prepared insert, reused for every row of its table.
class Insert {
 public:
  Insert(sqlite3* db, std::string_view table, std::initializer_list<const char*> columns)
      : db_(db), columns_(columns.size()) {
    std::string sql = "INSERT INTO " + std::string(table) + " (";
    std::string marks;
    for (const char* c : columns) {
      if (!marks.empty()) {
        sql += ',';
        marks += ',';
      }
      sql += c;
      marks += '?';
    }
    sql += ") VALUES (" + marks + ")";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st_, nullptr) != SQLITE_OK)
      throw Error(std::string(sqlite3_errmsg(db)) + " in: " + sql);
  }
  ~Insert() { sqlite3_finalize(st_); }
  Insert(const Insert&) = delete;
  Insert& operator=(const Insert&) = delete;

  template <typename... Args>
  void Row(const Args&... values) {
    if (sizeof...(values) != columns_) throw Error("sample: value count does not match the columns");
    int i = 0;
    (Bind(++i, values), ...);
    if (sqlite3_step(st_) != SQLITE_DONE) {
      std::string msg = sqlite3_errmsg(db_);
      sqlite3_reset(st_);
      throw Error(msg);
    }
    sqlite3_reset(st_);
  }

 private:
  template <typename T>
  void Bind(int i, const T& v) {
    if constexpr (std::is_same_v<T, Null>) {
      sqlite3_bind_null(st_, i);
    } else if constexpr (IsOptional<T>::value) {
      if (v)
        Bind(i, *v);
      else
        sqlite3_bind_null(st_, i);
    } else if constexpr (std::is_same_v<T, bool>) {
      sqlite3_bind_int(st_, i, v ? 1 : 0);
    } else if constexpr (std::is_integral_v<T>) {
      sqlite3_bind_int64(st_, i, static_cast<sqlite3_int64>(v));
    } else if constexpr (std::is_floating_point_v<T>) {
      sqlite3_bind_double(st_, i, static_cast<double>(v));
    } else {
      std::string_view s(v);
      sqlite3_bind_text(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
  }

  sqlite3* db_;
  size_t columns_;
  sqlite3_stmt* st_ = nullptr;
};

// The standard distributions differ between library implementations; plain
// modulo over the engine keeps a seed's rows the same everywhere.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : engine_(seed) {}
  std::uint64_t Below(std::uint64_t n) { return engine_() % n; }
  long long Between(long long lo, long long hi) {
    return lo + static_cast<long long>(Below(static_cast<std::uint64_t>(hi - lo + 1)));
  }
  bool Percent(int p) { return Below(100) < static_cast<std::uint64_t>(p); }

 private:
  std::mt19937_64 engine_;
};

inline std::string Pad(long long n, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*lld", width, n);
  return buf;
}

// Amounts are made in whole cents so that every stored number has a short,
// exact decimal form.
inline double Cents(long long cents) { return static_cast<double>(cents) / 100.0; }
inline long long PercentOf(long long cents, long long pct) {
  long long x = cents * pct;
  return (x >= 0 ? x + 50 : x - 50) / 100;
}

}  // namespace velaccap::sample
