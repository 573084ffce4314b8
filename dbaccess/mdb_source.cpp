// Loading an Access file into a private SQLite database.
//
// The source queries are written for the Access engine, and SQLite runs them
// as written once the tables are there. So each user table is copied, one row
// at a time, into a SQLite table of the same name whose declared column types
// tell the SQLite source which kind of value each column holds. Text columns
// are declared COLLATE NOCASE because the Access engine compares text without
// regard to letter case, and the source queries rely on it.
//
// Values are taken from the row bytes rather than from libmdb's text
// rendering: that rendering loses Null against empty text, cuts long memos,
// and cannot format dates outside the years 1900 to about 2700.

#include "dbaccess/mdb.h"

#include "dbaccess/ascii.h"

#include <mdbtools.h>
#include <sqlite3.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "dbaccess/sqlite.h"
#include "velaccap/open.h"

namespace velaccap {

namespace {

struct MdbCloser {
  void operator()(MdbHandle* h) const { mdb_close(h); }
};
struct TableFreer {
  void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};
struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using Handle = std::unique_ptr<MdbHandle, MdbCloser>;
using Table = std::unique_ptr<MdbTableDef, TableFreer>;
using Db = std::unique_ptr<sqlite3, SqliteCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// Row offsets on a data page carry flags in their top bits.
constexpr int kRowOffsetMask = 0x1fff;

// Access keeps dates between the years 100 and 9999; anything far beyond
// that is a damaged value, not a date.
constexpr double kMaxDateMagnitude = 1e7;

std::string Quote(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

[[noreturn]] void ThrowSqlite(sqlite3* db) { throw Error(sqlite3_errmsg(db)); }

void Exec(sqlite3* db, const std::string& sql) {
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) ThrowSqlite(db);
}

// The declared type that makes the SQLite source hand the column's values
// back as the kind of value the Access engine gives.
const char* DeclaredType(const MdbColumn& col) {
  switch (col.col_type) {
    case MDB_BOOL: return "BIT";
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_COMPLEX: return "INTEGER";
    case MDB_MONEY: return "MONEY";
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_NUMERIC: return "DOUBLE";
    case MDB_DATETIME: return "DATETIME";
    case MDB_TEXT:
    case MDB_MEMO:
    case MDB_REPID: return "TEXT COLLATE NOCASE";
    default: return "BLOB";  // binary, OLE objects and anything unknown
  }
}

std::int64_t LittleEndian(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  if (bytes < 8 && (v >> (bytes * 8 - 1)) != 0) v |= ~std::uint64_t{0} << (bytes * 8);  // sign
  return static_cast<std::int64_t>(v);
}

// The bytes a value of a fixed-width type takes in a row; 0 for the rest.
int FixedWidth(int type) {
  switch (type) {
    case MDB_BYTE: return 1;
    case MDB_INT: return 2;
    case MDB_LONGINT:
    case MDB_COMPLEX:
    case MDB_FLOAT: return 4;
    case MDB_MONEY:
    case MDB_DOUBLE:
    case MDB_DATETIME: return 8;
    case MDB_REPID: return 16;
    case MDB_NUMERIC: return 17;
    default: return 0;
  }
}

// Reads one table of the open file into SQLite.
class TableLoader {
 public:
  TableLoader(const std::string& path, MdbHandle* mdb, sqlite3* db, MdbCatalogEntry* entry)
      : path_(path), mdb_(mdb), db_(db), entry_(entry), name_(entry->object_name) {}

  // Whatever fails on the way names the file and the table.
  void Load() {
    try {
      LoadRows();
    } catch (const InputError&) {
      throw;
    } catch (const Error& e) {
      Fail(std::string("the file is damaged: ") + e.what());
    }
  }

 private:
  void LoadRows() {
    Table table(mdb_read_table(entry_));
    if (!table || !mdb_read_columns(table.get())) Fail("cannot read its definition");
    MdbTableDef* t = table.get();
    for (unsigned i = 0; i < t->num_cols; ++i)
      columns_.push_back(static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i)));
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (columns_[i]->name[0] == '\0')
        Fail("its definition has a column without a name (column " + std::to_string(i + 1) + "); the file is damaged");
      for (std::size_t j = 0; j < i; ++j)
        if (EqualNoCase(columns_[i]->name, columns_[j]->name))
          Fail("its definition names the column '" + std::string(columns_[i]->name) + "' twice; the file is damaged");
    }

    std::string create = "CREATE TABLE " + Quote(name_) + " (";
    std::string insert = "INSERT INTO " + Quote(name_) + " VALUES (";
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (i) {
        create += ", ";
        insert += ", ";
      }
      create += Quote(columns_[i]->name) + " " + DeclaredType(*columns_[i]);
      insert += "?";
    }
    Exec(db_, create + ")");
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, (insert + ")").c_str(), -1, &raw, nullptr) != SQLITE_OK) ThrowSqlite(db_);
    Stmt st(raw);

    std::vector<MdbField> fields(columns_.size());
    unsigned long long rows = 0;
    mdb_rewind_table(t);
    while (mdb_fetch_row(t)) {
      // A damaged page map can lead the fetch over pages of other objects
      // or of garbage without end; the definition's count bounds it.
      if (rows == t->num_rows)
        Fail("it holds more rows than the " + std::to_string(t->num_rows) + " its definition counts; the file is damaged");
      // The fetch leaves the row's page in pg_buf and cur_row one past it.
      // Cracking it again gives each field's null flag, which the fetch
      // itself does not pass on.
      int start = 0;
      std::size_t size = 0;
      if (t->cur_row == 0 || mdb_find_row(mdb_, static_cast<int>(t->cur_row) - 1, &start, &size) != 0)
        Fail("cannot locate row " + std::to_string(rows + 1));
      mdb_crack_row(t, start & kRowOffsetMask, size, fields.data());
      for (std::size_t i = 0; i < columns_.size(); ++i) Bind(st.get(), static_cast<int>(i) + 1, fields[i]);
      if (sqlite3_step(st.get()) != SQLITE_DONE) ThrowSqlite(db_);
      sqlite3_reset(st.get());
      ++rows;
    }
    if (rows != t->num_rows)
      Fail("read " + std::to_string(rows) + " of its " + std::to_string(t->num_rows) + " rows; the file is damaged");
  }

  [[noreturn]] void Fail(const std::string& why) const {
    throw InputError("cannot read table " + name_ + " of Access file " + path_ + ": " + why);
  }

  const unsigned char* Bytes(const MdbField& f) const { return mdb_->pg_buf + f.start; }

  // Converts text as stored (the file's code page, or UCS-2 that may be
  // compressed) to UTF-8.
  void BindText(sqlite3_stmt* st, int k, const void* src, std::size_t n) {
    // One source byte never yields more than three UTF-8 bytes.
    text_.resize(3 * n + 16);
    int len = mdb_unicode2ascii(mdb_, static_cast<const char*>(src), n, text_.data(), text_.size() - 1);
    if (len < 0) len = 0;
    if (sqlite3_bind_text(st, k, text_.data(), len, SQLITE_TRANSIENT) != SQLITE_OK) ThrowSqlite(db_);
  }

  // Gathers a memo or OLE value, which may lie on pages of its own.
  void ReadLong(MdbColumn* col, const MdbField& f) {
    if (f.siz < MDB_MEMO_OVERHEAD) Fail("column " + std::string(col->name) + " holds a damaged value");
    unsigned char header[MDB_MEMO_OVERHEAD];
    std::memcpy(header, Bytes(f), sizeof header);
    std::uint32_t declared = static_cast<std::uint32_t>(LittleEndian(header, 4)) & 0x3fffffffu;
    long_.clear();
    chunk_.resize(2 * MDB_PGSIZE);
    // libmdb delivers each piece through the column's bound buffer; the
    // column is bound only for the duration of this read.
    col->bind_ptr = chunk_.data();
    std::size_t n = mdb_ole_read(mdb_, col, header, chunk_.size());
    while (n > 0) {
      long_.insert(long_.end(), chunk_.begin(), chunk_.begin() + static_cast<std::ptrdiff_t>(n));
      n = mdb_ole_read_next(mdb_, col, header);
    }
    col->bind_ptr = nullptr;
    if (long_.size() != declared)
      Fail("column " + std::string(col->name) + " holds " + std::to_string(long_.size()) + " of its " +
           std::to_string(declared) + " bytes");
  }

  void Bind(sqlite3_stmt* st, int k, const MdbField& f) {
    MdbColumn* col = columns_[static_cast<std::size_t>(f.colnum)];
    int rc = SQLITE_OK;
    // A yes/no value lives in the null mask itself: set means yes.
    if (col->col_type == MDB_BOOL) {
      rc = sqlite3_bind_int(st, k, f.is_null ? 0 : 1);
    } else if (f.is_null) {
      rc = sqlite3_bind_null(st, k);
    } else {
      // A damaged row can place a field outside its page or give it a
      // negative or short length; reading it would read past the page.
      if (f.start < 0 || f.siz < FixedWidth(col->col_type) || f.start + f.siz > MDB_PGSIZE)
        Fail("column " + std::string(col->name) + " holds a damaged value");
      const unsigned char* p = Bytes(f);
      switch (col->col_type) {
        case MDB_BYTE: rc = sqlite3_bind_int(st, k, p[0]); break;
        case MDB_INT: rc = sqlite3_bind_int64(st, k, LittleEndian(p, 2)); break;
        case MDB_LONGINT:
        case MDB_COMPLEX: rc = sqlite3_bind_int64(st, k, LittleEndian(p, 4)); break;
        case MDB_MONEY:
          // Currency is a count of ten-thousandths; the division gives the
          // double nearest to the exact amount.
          rc = sqlite3_bind_double(st, k, static_cast<double>(LittleEndian(p, 8)) / 10000.0);
          break;
        case MDB_FLOAT: {
          // A single passes on as the double of its shortest decimal form,
          // so that 0.05 arrives as 0.05 and not as 0.0500000007.
          float v = mdb_get_single(const_cast<unsigned char*>(p), 0);
          char buf[32];
          auto r = std::to_chars(buf, buf + sizeof buf, v);
          double d = v;
          std::from_chars(buf, r.ptr, d);
          rc = sqlite3_bind_double(st, k, d);
          break;
        }
        case MDB_DOUBLE: rc = sqlite3_bind_double(st, k, mdb_get_double(const_cast<unsigned char*>(p), 0)); break;
        case MDB_NUMERIC: {
          char* s = mdb_numeric_to_string(mdb_, f.start, col->col_scale, col->col_prec);
          double d = 0;
          auto r = std::from_chars(s, s + std::strlen(s), d);
          bool ok = r.ec == std::errc();
          g_free(s);
          if (!ok) Fail("column " + std::string(col->name) + " holds a damaged number");
          rc = sqlite3_bind_double(st, k, d);
          break;
        }
        case MDB_DATETIME: {
          double d = mdb_get_double(const_cast<unsigned char*>(p), 0);
          if (!std::isfinite(d) || std::fabs(d) > kMaxDateMagnitude)
            Fail("column " + std::string(col->name) + " holds a damaged date");
          std::string text = FormatDateTime(AccessDateToDateTime(d));
          rc = sqlite3_bind_text(st, k, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
          break;
        }
        case MDB_TEXT: BindText(st, k, p, static_cast<std::size_t>(f.siz)); return;
        case MDB_MEMO:
          ReadLong(col, f);
          BindText(st, k, long_.data(), long_.size());
          return;
        case MDB_OLE:
          ReadLong(col, f);
          rc = sqlite3_bind_blob(st, k, long_.data(), static_cast<int>(long_.size()), SQLITE_TRANSIENT);
          break;
        case MDB_REPID: {
          char* s = mdb_col_to_string(mdb_, mdb_->pg_buf, f.start, MDB_REPID, f.siz);
          rc = sqlite3_bind_text(st, k, s, -1, SQLITE_TRANSIENT);
          g_free(s);
          break;
        }
        default: rc = sqlite3_bind_blob(st, k, p, f.siz, SQLITE_TRANSIENT); break;
      }
    }
    if (rc != SQLITE_OK) ThrowSqlite(db_);
  }

  const std::string& path_;
  MdbHandle* mdb_;
  sqlite3* db_;
  MdbCatalogEntry* entry_;
  std::string name_;
  std::vector<MdbColumn*> columns_;
  std::vector<char> text_;
  std::vector<char> chunk_;
  std::vector<char> long_;
};

bool IsSystemTable(const MdbCatalogEntry& entry) {
  return mdb_is_system_table(const_cast<MdbCatalogEntry*>(&entry)) ||
         std::strncmp(entry.object_name, "MSys", 4) == 0;
}

// The user tables named in the file's system table of objects. libmdb's own
// catalog reader also parses every object's property blob, and a damaged
// blob sends it into a loop that never ends; the load needs no properties,
// so only the object's id, name, type and flags are read here.
std::vector<std::unique_ptr<MdbCatalogEntry>> ReadUserTables(const std::string& path, MdbHandle* mdb) {
  auto fail = [&path] { throw InputError("cannot open Access file " + path + ": cannot read its catalog"); };
  MdbCatalogEntry objects{};
  objects.mdb = mdb;
  objects.object_type = MDB_TABLE;
  objects.table_pg = 2;  // the system table of objects always starts there
  std::strcpy(objects.object_name, "MSysObjects");
  Table table(mdb_read_table(&objects));
  if (!table || !mdb_read_columns(table.get())) fail();

  std::vector<char> id(MDB_BIND_SIZE), name(MDB_BIND_SIZE), type(MDB_BIND_SIZE), flags(MDB_BIND_SIZE);
  int id_len = 0, name_len = 0, type_len = 0, flags_len = 0;
  if (mdb_bind_column_by_name(table.get(), const_cast<gchar*>("Id"), id.data(), &id_len) < 0 ||
      mdb_bind_column_by_name(table.get(), const_cast<gchar*>("Name"), name.data(), &name_len) < 0 ||
      mdb_bind_column_by_name(table.get(), const_cast<gchar*>("Type"), type.data(), &type_len) < 0 ||
      mdb_bind_column_by_name(table.get(), const_cast<gchar*>("Flags"), flags.data(), &flags_len) < 0)
    fail();

  std::vector<std::unique_ptr<MdbCatalogEntry>> tables;
  unsigned long long rows = 0;
  mdb_rewind_table(table.get());
  while (mdb_fetch_row(table.get())) {
    if (++rows > table->num_rows) fail();  // a damaged page map; see TableLoader
    if ((std::atol(type.data()) & 0x7F) != MDB_TABLE) continue;
    auto entry = std::make_unique<MdbCatalogEntry>();
    entry->mdb = mdb;
    entry->object_type = MDB_TABLE;
    std::strncpy(entry->object_name, name.data(), MDB_MAX_OBJ_NAME);
    entry->table_pg = static_cast<unsigned long>(std::atol(id.data())) & 0x00FFFFFF;
    entry->flags = static_cast<int>(std::atol(flags.data()));
    if (!IsSystemTable(*entry)) tables.push_back(std::move(entry));
  }
  return tables;
}

}  // namespace

DateTime AccessDateToDateTime(double value) {
  if (!std::isfinite(value) || std::fabs(value) > kMaxDateMagnitude)
    throw Error("date value out of range: " + FormatNumber(value));
  double whole = std::trunc(value);
  long long day = static_cast<long long>(whole);
  long long secs = std::llround(std::fabs(value - whole) * 86400.0);
  if (secs >= 86400) {  // rounded up to midnight: the next calendar day
    secs -= 86400;
    ++day;
  }
  using namespace std::chrono;
  constexpr sys_days kZero = sys_days{year{1899} / December / 30};
  year_month_day ymd{kZero + days{day}};
  DateTime dt;
  dt.year = static_cast<int>(ymd.year());
  dt.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  dt.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  dt.hour = static_cast<int>(secs / 3600);
  dt.minute = static_cast<int>(secs / 60 % 60);
  dt.second = static_cast<int>(secs % 60);
  return dt;
}

std::unique_ptr<SourceDatabase> OpenAccessSource(const std::string& path) {
  return OpenAccessSource(path, kAccessInMemoryLimit);
}

std::unique_ptr<SourceDatabase> OpenAccessSource(const std::string& path, std::uintmax_t in_memory_limit) {
  std::error_code ec;
  std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || !std::filesystem::is_regular_file(path, ec))
    throw InputError("cannot open Access file " + path + ": no such file");
  if (!std::ifstream(path, std::ios::binary))
    throw InputError("cannot open Access file " + path + ": not readable");
  Handle mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
  if (!mdb) throw InputError("cannot open Access file " + path + ": not an Access database");
  const auto tables = ReadUserTables(path, mdb.get());

  // An empty name gives SQLite's private temporary file, removed on close.
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(size > in_memory_limit ? "" : ":memory:", &raw,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) {
    if (!db) throw Error(sqlite3_errstr(rc));
    ThrowSqlite(db.get());
  }
  // Nobody else sees this database and it is rebuilt on every open, so
  // there is nothing to journal or sync.
  Exec(db.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
  Exec(db.get(), "BEGIN");
  for (const auto& entry : tables) TableLoader(path, mdb.get(), db.get(), entry.get()).Load();
  Exec(db.get(), "COMMIT");
  return AdoptSqliteSource(db.release());
}

}  // namespace velaccap
