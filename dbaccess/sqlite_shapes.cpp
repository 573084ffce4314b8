#include "dbaccess/sqlite_shapes.h"

#include <charconv>

#include "dbaccess/ascii.h"

namespace velaccap::sqlite_internal {

namespace {

// Character classes as SQLite's tokenizer has them.
bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == '\v'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IdStart(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80; }
bool IdChar(unsigned char c) { return IdStart(c) || IsDigit(c) || c == '$'; }

// What is open at one parenthesis level. Literals inside any of these stay
// as written: a result column's text is its name, a number in ORDER BY or
// GROUP BY is a column position, and a type's size must be a literal.
struct Level {
  bool result_list = false;
  bool position_list = false;
  bool type_size = false;
};

constexpr int kMaxDepth = 32;

// Reduces a statement while scanning it token by token as SQLite does.
class Scanner {
 public:
  Scanner(std::string_view sql, Shape* out) : sql_(sql), out_(out) {}

  bool Run() {
    out_->text.clear();
    out_->text.reserve(sql_.size());
    out_->count = 0;
    while (i_ < sql_.size()) {
      const unsigned char c = sql_[i_];
      if (IsSpace(c)) {
        out_->text += static_cast<char>(c);
        ++i_;
      } else if (c == '-' && Peek(1) == '-') {
        std::size_t e = sql_.find('\n', i_);
        Copy(e == std::string_view::npos ? sql_.size() : e);
      } else if (c == '/' && Peek(1) == '*') {
        std::size_t e = sql_.find("*/", i_ + 2);
        Copy(e == std::string_view::npos ? sql_.size() : e + 2);
      } else if (ended_ || c == 0) {
        return false;  // a second statement follows
      } else if (!Token(c)) {
        return false;
      }
    }
    return started_ && out_->count > 0;
  }

 private:
  unsigned char Peek(std::size_t ahead) const {
    return i_ + ahead < sql_.size() ? sql_[i_ + ahead] : 0;
  }

  // Copies the source up to `end` unchanged.
  void Copy(std::size_t end) {
    out_->text.append(sql_.substr(i_, end - i_));
    i_ = end;
  }

  bool Kept() const {
    for (int d = 0; d <= depth_; ++d)
      if (levels_[d].result_list || levels_[d].position_list || levels_[d].type_size) return true;
    return false;
  }

  Literal& Add(Literal::Kind kind) {
    if (out_->count == out_->literals.size()) out_->literals.emplace_back();
    Literal& lit = out_->literals[out_->count++];
    lit.kind = kind;
    lit.text.clear();
    out_->text += '?';
    return lit;
  }

  bool Token(unsigned char c) {
    if (!started_ && !IdStart(c)) return false;
    bool as_type = false;  // an identifier of a type after AS
    bool ok = true;
    if (c == '\'') {
      ok = String();
    } else if (IsDigit(c) || (c == '.' && IsDigit(Peek(1)))) {
      ok = Number();
    } else if (IdStart(c)) {
      ok = Word(&as_type);
    } else if (c == '"' || c == '`' || c == '[') {
      ok = QuotedName();
      as_type = after_as_;
    } else if (c == '(') {
      if (depth_ + 1 == kMaxDepth) return false;
      const bool type = after_as_ && as_names_ > 0;
      levels_[++depth_] = Level();
      levels_[depth_].type_size = type;
      Copy(i_ + 1);
    } else if (c == ')') {
      if (depth_ == 0) return false;
      --depth_;
      Copy(i_ + 1);
    } else if (c == ';') {
      ended_ = true;
      Copy(i_ + 1);
    } else if (c == '?' || c == ':' || c == '@' || c == '$' || c == '#') {
      return false;  // parameters of its own
    } else {
      Copy(i_ + 1);
    }
    if (as_type) {
      ++as_names_;
    } else if (!just_as_) {
      after_as_ = false;
      as_names_ = 0;
    }
    just_as_ = false;
    return ok;
  }

  bool String() {
    std::size_t j = i_ + 1;
    std::string& content = content_;  // kept, so its buffer serves every literal
    content.clear();
    for (;;) {
      const std::size_t quote = sql_.find('\'', j);
      if (quote == std::string_view::npos) return false;  // unterminated: the engine's error
      content.append(sql_.data() + j, quote - j);
      j = quote + 1;
      if (j < sql_.size() && sql_[j] == '\'') {
        content += '\'';
        ++j;
        continue;
      }
      break;
    }
    // A digit right after would join the `?` into a numbered parameter.
    if (j < sql_.size() && IsDigit(sql_[j])) return false;
    if (Kept()) {
      Copy(j);
    } else {
      Add(Literal::Kind::Text).text.assign(content);
      i_ = j;
    }
    return true;
  }

  bool Number() {
    std::size_t j = i_;
    while (j < sql_.size() && IsDigit(sql_[j])) ++j;
    bool decimal = false;
    if (j < sql_.size() && sql_[j] == '.') {
      decimal = true;
      ++j;
      while (j < sql_.size() && IsDigit(sql_[j])) ++j;
    }
    bool exponent = false;
    if (j < sql_.size() && (sql_[j] == 'e' || sql_[j] == 'E')) {
      std::size_t k = j + 1;
      if (k < sql_.size() && (sql_[k] == '+' || sql_[k] == '-')) ++k;
      if (k < sql_.size() && IsDigit(sql_[k])) {
        exponent = true;
        j = k;
        while (j < sql_.size() && IsDigit(sql_[j])) ++j;
      }
    }
    // Hexadecimal, digit separators and malformed numbers are not shaped.
    if (j < sql_.size() && IdChar(sql_[j])) return false;
    const std::string_view digits = sql_.substr(i_, j - i_);
    if (Kept() || exponent) {
      Copy(j);
      return true;
    }
    if (!decimal) {
      long long v = 0;
      auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (ec != std::errc() || end != digits.data() + digits.size()) {
        Copy(j);  // beyond 64 bits: SQLite reads it as a real
        return true;
      }
      Add(Literal::Kind::Integer).integer = v;
    } else {
      // Zero stays: a negated literal zero is -0.0, a negated parameter 0.0.
      if (digits.size() > 40 || digits.find_first_not_of("0.") == std::string_view::npos) {
        Copy(j);
        return true;
      }
      Add(Literal::Kind::Decimal).text.assign(digits);
    }
    i_ = j;
    return true;
  }

  bool Word(bool* as_type) {
    std::size_t j = i_;
    while (j < sql_.size() && IdChar(sql_[j])) ++j;
    const std::string_view w = sql_.substr(i_, j - i_);
    const auto is = [w](std::string_view keyword) { return EqualNoCase(w, keyword); };
    if (w.size() == 1 && (w[0] == 'x' || w[0] == 'X') && j < sql_.size() && sql_[j] == '\'')
      return false;  // a blob literal
    if (!started_) {
      if (!is("SELECT") && !is("INSERT") && !is("UPDATE") && !is("DELETE")) return false;
      started_ = true;
    }
    // Only reserved words end a list; a word SQLite also takes as a name
    // could be a column.
    Level& lv = levels_[depth_];
    if (is("SELECT") || is("RETURNING")) {
      lv.result_list = true;
      lv.position_list = false;
    } else if (is("ORDER") || is("GROUP")) {
      lv.result_list = false;
      lv.position_list = true;
    } else if (is("FROM") || is("WHERE") || is("HAVING") || is("LIMIT") || is("UNION") || is("EXCEPT") ||
               is("INTERSECT") || is("VALUES")) {
      lv.result_list = false;
      lv.position_list = false;
    } else if (is("AS")) {
      after_as_ = just_as_ = true;
      as_names_ = 0;
    } else {
      *as_type = after_as_;
    }
    Copy(j);
    return true;
  }

  bool QuotedName() {
    const char close = sql_[i_] == '[' ? ']' : sql_[i_];
    std::size_t j = i_ + 1;
    for (;;) {
      if (j >= sql_.size()) return false;
      if (sql_[j] == close) {
        if (close != ']' && j + 1 < sql_.size() && sql_[j + 1] == close) {
          j += 2;
          continue;
        }
        break;
      }
      ++j;
    }
    Copy(j + 1);
    return true;
  }

  std::string_view sql_;
  Shape* out_;
  std::string content_;  // a text literal's content, its quotes undoubled
  std::size_t i_ = 0;
  bool started_ = false;  // the first word was seen
  bool ended_ = false;    // a ';' was seen
  bool after_as_ = false, just_as_ = false;
  int as_names_ = 0;  // identifiers since AS
  Level levels_[kMaxDepth];
  int depth_ = 0;
};

}  // namespace

bool MakeShape(std::string_view sql, Shape* out) {
  // The engine reads a statement only up to a NUL byte; a shape would bind
  // what follows. Such a statement runs as written, to the engine's error.
  if (sql.find('\0') != std::string_view::npos) return false;
  return Scanner(sql, out).Run();
}

ShapeCache::ShapeCache(Connection db, std::size_t capacity) : db_(std::move(db)), capacity_(capacity) {}

ShapeCache::~ShapeCache() = default;

ShapeCache::Lease& ShapeCache::Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    reset();
    st_ = other.st_;
    own_ = std::move(other.own_);
    cache_ = std::move(other.cache_);
    entry_ = other.entry_;
    other.st_ = nullptr;
    other.entry_ = nullptr;
  }
  return *this;
}

void ShapeCache::Lease::reset() {
  if (cache_) {
    cache_->Give(entry_);
    cache_.reset();
    entry_ = nullptr;
  }
  own_.reset();
  st_ = nullptr;
}

std::shared_ptr<const ResultColumns> ShapeCache::Lease::columns() {
  if (!st_) return nullptr;
  const int n = sqlite3_column_count(st_);
  // A statement recompiled after a change of schema may have other columns.
  if (entry_ && entry_->columns && static_cast<int>(entry_->columns->families.size()) == n) return entry_->columns;
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(st_, i);
    names.emplace_back(name ? name : "");
  }
  auto made = std::make_shared<ResultColumns>();
  made->names = std::make_shared<const recordset_internal::ColumnNames>(std::move(names));
  made->families = Families(st_);
  if (entry_) entry_->columns = made;
  return made;
}

void ShapeCache::Give(Entry* e) {
  sqlite3_reset(e->stmt.get());
  sqlite3_clear_bindings(e->stmt.get());
  e->busy = false;
  Trim();
}

void ShapeCache::Trim() {
  auto it = entries_.end();
  while (entries_.size() > capacity_ && it != entries_.begin()) {
    --it;
    if (it->busy) continue;
    index_.erase(it->shape);
    it = entries_.erase(it);
  }
}

bool ShapeCache::DecimalValue(const std::string& digits, double* out) {
  sqlite3* db = db_.get();
  if (!convert_) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v3(db, "SELECT ?1", -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK) {
      sqlite3_finalize(raw);
      return false;
    }
    convert_.reset(raw);
  }
  sqlite3_stmt* st = convert_.get();
  // A text value read as a real goes through the converter the parser uses
  // for a decimal literal, so the bound value is the one the literal gives.
  bool ok = sqlite3_bind_text(st, 1, digits.data(), static_cast<int>(digits.size()), SQLITE_STATIC) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW;
  if (ok) *out = sqlite3_column_double(st, 0);
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  return ok;
}

bool ShapeCache::Bind(sqlite3_stmt* st) {
  if (sqlite3_bind_parameter_count(st) != static_cast<int>(shape_.count)) return false;
  for (std::size_t i = 0; i < shape_.count; ++i) {
    const Literal& lit = shape_.literals[i];
    const int param = static_cast<int>(i) + 1;
    int rc = SQLITE_OK;
    switch (lit.kind) {
      case Literal::Kind::Text:
        // Copied: the shape is rewritten by the next statement while this
        // one may still be read.
        rc = sqlite3_bind_text64(st, param, lit.text.data(), lit.text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
      case Literal::Kind::Integer:
        rc = sqlite3_bind_int64(st, param, lit.integer);
        break;
      case Literal::Kind::Decimal: {
        double v = 0;
        if (!DecimalValue(lit.text, &v)) return false;
        rc = sqlite3_bind_double(st, param, v);
        break;
      }
    }
    if (rc != SQLITE_OK) return false;
  }
  return true;
}

bool ShapeCache::Take(std::string_view sql, Lease* out) {
  out->reset();
  if (capacity_ == 0 || !MakeShape(sql, &shape_)) return false;
  sqlite3* db = db_.get();
  const int size = static_cast<int>(shape_.text.size());

  // The statement as written, when its shape does not serve.
  auto as_written = [&] {
    *out = Lease(Prepare(db, sql));
    return true;
  };

  auto found = index_.find(shape_.text);
  Entry* e = nullptr;
  if (found != index_.end()) {
    e = &*found->second;
    entries_.splice(entries_.begin(), entries_, found->second);
    if (!e->stmt) return as_written();
    if (e->busy) {
      // The same shape is still being read: this use gets a statement of its own.
      sqlite3_stmt* raw = nullptr;
      if (sqlite3_prepare_v2(db, shape_.text.data(), size, &raw, nullptr) != SQLITE_OK || !raw) {
        sqlite3_finalize(raw);
        return as_written();
      }
      Stmt own(raw);
      if (!Bind(raw)) return as_written();
      *out = Lease(std::move(own));
      return true;
    }
  } else {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v3(db, shape_.text.data(), size, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    Stmt st(raw);
    if (rc != SQLITE_OK || !raw) {
      // Only a statement that compiles as written marks its shape as
      // useless; otherwise the error is thrown and the shape may serve later
      // (a table created meanwhile).
      *out = Lease(Prepare(db, sql));
      st.reset();
    }
    entries_.emplace_front();
    e = &entries_.front();
    e->shape = shape_.text;
    e->stmt = std::move(st);
    index_.emplace(e->shape, entries_.begin());
    e->busy = true;  // not the one to drop
    Trim();
    e->busy = false;
    if (!e->stmt) return true;
  }
  if (!Bind(e->stmt.get())) {
    sqlite3_clear_bindings(e->stmt.get());
    return as_written();
  }
  e->busy = true;
  out->st_ = e->stmt.get();
  out->entry_ = e;
  out->cache_ = shared_from_this();
  return true;
}

}  // namespace velaccap::sqlite_internal
