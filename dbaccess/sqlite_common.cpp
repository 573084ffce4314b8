#include "dbaccess/sqlite_common.h"

#include <chrono>
#include <cstring>
#include <filesystem>

#include "velaccap/open.h"

namespace velaccap::sqlite_internal {

void ThrowLast(sqlite3* db) { throw Error(sqlite3_errmsg(db)); }

Connection Adopt(sqlite3* db) {
  return Connection(db, [](sqlite3* d) { sqlite3_close_v2(d); });
}

std::string LockedMessage(const char* role, const std::string& path, int wait_ms) {
  return std::string(role) + " database " + path + ": another program holds a lock on it (waited " +
         std::to_string((wait_ms + 999) / 1000) + " s; see --wait); nothing was written";
}

std::string QuickCheck(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &raw, nullptr) != SQLITE_OK) return sqlite3_errmsg(db);
  Stmt st(raw);
  int rc = sqlite3_step(st.get());
  if (rc != SQLITE_ROW) return sqlite3_errmsg(db);
  const char* first = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
  std::string problem = first ? first : "";
  // The check words its report over lines; a message has one.
  if (problem.starts_with("*** in database main ***\n")) problem.erase(0, 25);
  for (char& c : problem)
    if (c == '\n') c = ' ';
  return problem == "ok" ? std::string() : problem;
}

namespace {

// Another program's lock waited on for wait_ms at most, as the engine's own
// busy timeout waits, but given up at once when the caller is interrupted.
struct LockWait {
  int wait_ms;
  bool (*interrupted)();
  std::chrono::steady_clock::time_point since;
};

int WaitForLock(void* data, int count) {
  auto* wait = static_cast<LockWait*>(data);
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) wait->since = now;
  if ((wait->interrupted && wait->interrupted()) || now - wait->since >= std::chrono::milliseconds(wait->wait_ms))
    return 0;
  sqlite3_sleep(10);
  return 1;
}

}  // namespace

std::string PlainPath(const std::string& path) { return path.starts_with("file:") ? "./" + path : path; }

Connection OpenExisting(const std::string& path, int flags, const char* role, const OpenOptions& options) {
  const std::string what = std::string("cannot open ") + role + " database " + path + ": ";
  std::error_code exists;
  if (path.starts_with("file:") && !std::filesystem::exists(path, exists))
    throw InputError(what + "no such file; a SOURCE or TARGET is a file name, never a SQLite URI (file:...)");
  // The allocator's statistics take a global mutex on every allocation, a
  // few per row, and nothing here reads them. This can only be set before
  // SQLite starts; in a host that started it already, it stays as it was.
  static const int no_statistics = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  (void)no_statistics;
  sqlite3* raw = nullptr;
  // Each connection is used by one thread at a time, so SQLite's own
  // locking of every call is not needed.
  int rc = sqlite3_open_v2(PlainPath(path).c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  // The wait's state lives as long as the connection that calls back into it.
  auto wait = std::make_shared<LockWait>(LockWait{options.wait_ms, options.interrupted, {}});
  Connection db(raw, [wait](sqlite3* d) { sqlite3_close_v2(d); });
  if (rc != SQLITE_OK) {
    std::string why = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    throw InputError(what + why);
  }
  // Before the first read, which waits as any other for a lock.
  sqlite3_busy_handler(db.get(), WaitForLock, wait.get());
  // Opening is lazy: the header is read at the first statement; a hot
  // journal that a killed writer left is rolled back there too (which a
  // read-only connection cannot do).
  rc = sqlite3_exec(db.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    if ((rc & 0xff) == SQLITE_BUSY) throw InputError(LockedMessage(role, path, options.wait_ms));
    std::string why = sqlite3_errmsg(db.get());
    std::error_code ec;
    if (!(flags & SQLITE_OPEN_READWRITE) && std::filesystem::exists(path + "-journal", ec))
      why += " (a write to it was interrupted and left " + path +
             "-journal; open the file once for writing, for example with the sqlite3 shell, to recover it)";
    throw InputError(what + why);
  }
  if ((flags & SQLITE_OPEN_READWRITE) && sqlite3_db_readonly(db.get(), "main") == 1)
    throw InputError(what + "the file cannot be written");
  if (options.verify) {
    const std::string problem = QuickCheck(db.get());
    if (!problem.empty()) {
      if (problem == "database is locked") throw InputError(LockedMessage(role, path, options.wait_ms));
      throw InputError(std::string(role) + " database " + path + " is damaged: the engine's quick check reports: " +
                       problem);
    }
  }
  return db;
}

Stmt Prepare(sqlite3* db, std::string_view sql, const char** tail) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, tail) != SQLITE_OK)
    ThrowLast(db);
  return Stmt(raw);
}

namespace {

bool Has(const std::string& upper, const char* word) { return upper.find(word) != std::string::npos; }

// The declared type of a date column holds text; only text that our own
// formatting gives back unchanged becomes a date-time, so that every value
// is written to a target exactly as it was read.
bool CanonicalDateTime(std::string_view text, DateTime* out) {
  if (text.size() != 19 && text.size() != 26) return false;
  if (text[10] != ' ') return false;
  DateTime dt;
  if (!ParseDateTime(text, &dt)) return false;
  if (text.size() == 26 && dt.microsecond == 0) return false;
  *out = dt;
  return true;
}

void SetText(Value* slot, const char* p, std::size_t n) {
  if (slot->type() == Value::Type::Text) {
    // The slot is ours and not const; assigning into its string keeps the
    // buffer, which saves an allocation per text field per row.
    const_cast<std::string&>(slot->text()).assign(p, n);
  } else {
    *slot = Value::Text(std::string(p, n));
  }
}

constexpr std::int64_t kExactInDouble = std::int64_t{1} << 53;

}  // namespace

Family FamilyOf(const char* decl) {
  if (!decl || !*decl) return Family::Storage;
  const std::string t = Upper(decl);
  std::string first = t.substr(0, t.find_first_of(" (\t"));
  if (first == "BIT" || Has(t, "BOOL") || Has(t, "YESNO") || Has(t, "LOGICAL")) return Family::YesNo;
  if (Has(t, "BLOB") || Has(t, "BINARY") || Has(t, "IMAGE") || first == "OLE") return Family::Binary;
  if (Has(t, "CHAR") || Has(t, "TEXT") || Has(t, "CLOB") || Has(t, "MEMO") || Has(t, "STRING"))
    return Family::Text;
  if (Has(t, "DATE") || Has(t, "TIME")) return Family::DateTime;
  if (Has(t, "INT") || Has(t, "COUNTER") || Has(t, "BYTE") || Has(t, "LONG")) return Family::Integer;
  if (Has(t, "REAL") || Has(t, "FLOA") || Has(t, "DOUB") || Has(t, "SINGLE") || Has(t, "MONEY") ||
      Has(t, "CURRENCY"))
    return Family::Real;
  if (Has(t, "DEC") || Has(t, "NUMERIC")) return Family::Numeric;
  return Family::Storage;
}

ColumnType TypeOf(Family family) {
  switch (family) {
    case Family::Integer:
    case Family::Real:
    case Family::Numeric: return ColumnType::kNumber;
    case Family::Text: return ColumnType::kText;
    case Family::DateTime: return ColumnType::kDateTime;
    case Family::YesNo: return ColumnType::kYesNo;
    case Family::Binary: return ColumnType::kBinary;
    case Family::Storage: break;
  }
  return ColumnType::kUnknown;
}

std::vector<Family> Families(sqlite3_stmt* st) {
  std::vector<Family> out(sqlite3_column_count(st));
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = FamilyOf(sqlite3_column_decltype(st, static_cast<int>(i)));
  return out;
}

void ReadColumn(sqlite3_stmt* st, int i, Family family, Value* slot) {
  // The column's value is taken once and read through the value interface:
  // each column call re-enters the statement. The engine reserves this for
  // one thread at a time, as every connection here is used.
  sqlite3_value* value = sqlite3_column_value(st, i);
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      if (!slot->is_null()) *slot = Value();
      return;
    case SQLITE_INTEGER: {
      std::int64_t v = sqlite3_value_int64(value);
      if (family == Family::YesNo) {
        *slot = Value::YesNo(v != 0);
      } else if (family == Family::Real && v >= -kExactInDouble && v <= kExactInDouble) {
        // A whole number stored compactly in a floating-point column.
        *slot = Value::Real(static_cast<double>(v));
      } else {
        *slot = Value::Integer(v);
      }
      return;
    }
    case SQLITE_FLOAT:
      *slot = Value::Real(sqlite3_value_double(value));
      return;
    case SQLITE_BLOB: {
      // Bytes stay bytes, whatever the column is declared to hold.
      const char* p = static_cast<const char*>(sqlite3_value_blob(value));
      *slot = Value::Binary(std::string(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(value))));
      return;
    }
    default: {  // text
      const char* p = static_cast<const char*>(sqlite3_value_blob(value));
      std::size_t n = static_cast<std::size_t>(sqlite3_value_bytes(value));
      if (!p) p = "";
      DateTime dt;
      if (family == Family::DateTime && CanonicalDateTime(std::string_view(p, n), &dt)) {
        *slot = Value::Date(dt);
        return;
      }
      SetText(slot, p, n);
      return;
    }
  }
}

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  out += '"';
  return out;
}

}  // namespace velaccap::sqlite_internal
