#include "tests/support.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace testsupport {

std::string SharedDir() { return std::string(VELACCAP_SOURCE_DIR) + "/../shared"; }

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "velaccap-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {

sqlite3* Open(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    std::string msg = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(path + ": " + msg);
  }
  return db;
}

}  // namespace

void Exec(const std::string& db_path, const std::string& sql) {
  sqlite3* db = Open(db_path);
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "?";
    sqlite3_free(err);
    sqlite3_close(db);
    throw std::runtime_error(msg + " in: " + sql);
  }
  sqlite3_close(db);
}

Rows Query(const std::string& db_path, const std::string& sql) {
  sqlite3* db = Open(db_path);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    std::string msg = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(msg + " in: " + sql);
  }
  Rows rows;
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const unsigned char* t = sqlite3_column_text(st, i);
      row.push_back(sqlite3_column_type(st, i) == SQLITE_NULL ? "NULL" : reinterpret_cast<const char*>(t));
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

}  // namespace testsupport
