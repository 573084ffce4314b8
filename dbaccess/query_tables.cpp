#include "dbaccess/query_tables.h"

#include "dbaccess/ascii.h"

namespace velaccap {

namespace {

bool WordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '@' ||
         c == '#' || c == '$' || c == '.';
}

}  // namespace

std::optional<std::vector<std::string>> TablesReadBy(std::string_view query) {
  std::vector<std::string> tables;
  bool first = true, after_from = false, table_next = false;
  std::size_t i = 0;
  while (i < query.size()) {
    const char c = query[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++i;
    } else if (c == '\'') {
      // A text literal; '' stands for a quote inside it.
      if (first || table_next) return std::nullopt;
      for (++i;; ++i) {
        if (i >= query.size()) return std::nullopt;
        if (query[i] != '\'') continue;
        if (i + 1 < query.size() && query[i + 1] == '\'') {
          ++i;
          continue;
        }
        ++i;
        break;
      }
    } else if (WordChar(c)) {
      std::size_t end = i;
      while (end < query.size() && WordChar(query[end])) ++end;
      const std::string_view word = query.substr(i, end - i);
      i = end;
      if (first) {
        if (!EqualNoCase(word, "select")) return std::nullopt;
        first = false;
      } else if (table_next) {
        if (word.find('.') != std::string_view::npos) return std::nullopt;
        tables.emplace_back(word);
        table_next = false;
      } else if (EqualNoCase(word, "into")) {
        return std::nullopt;
      } else if (EqualNoCase(word, "from") || EqualNoCase(word, "join")) {
        after_from = after_from || EqualNoCase(word, "from");
        table_next = true;
      }
    } else if (c == '=' || c == '<' || c == '>' || c == '*' || c == '+' || c == '!' || c == '%') {
      if (table_next) return std::nullopt;
      ++i;
    } else if (c == '-' && (i + 1 >= query.size() || query[i + 1] != '-')) {
      if (table_next) return std::nullopt;
      ++i;
    } else if (c == ',' && !after_from) {
      ++i;
    } else {
      // Parentheses, quoted names, comments, a second statement, a comma
      // in the FROM clause, or anything else this reader does not know.
      return std::nullopt;
    }
  }
  if (first || table_next || tables.empty()) return std::nullopt;
  return tables;
}

std::string SqlitePlainTableQuery(std::string_view name, bool no_triggers) {
  std::string literal = "'";
  for (char c : name) literal += c == '\'' ? std::string("''") : std::string(1, c);
  literal += "' COLLATE NOCASE";
  std::string sql = "SELECT (SELECT count(*) FROM main.sqlite_master WHERE type='table' AND name=" + literal +
                    " AND sql NOT LIKE 'CREATE VIRTUAL%')=1 AND (SELECT count(*) FROM temp.sqlite_master WHERE name=" +
                    literal + " OR tbl_name=" + literal + ")=0";
  if (no_triggers)
    sql += " AND (SELECT count(*) FROM main.sqlite_master WHERE type='trigger' AND tbl_name=" + literal + ")=0";
  return sql;
}

bool QueryCannotSeeHeldRows(std::string_view query, const std::string& held,
                            const std::function<bool(const std::string&, bool)>& plain) {
  const std::optional<std::vector<std::string>> tables = TablesReadBy(query);
  if (!tables || !plain(held, true)) return false;
  for (const std::string& t : *tables)
    if (EqualNoCase(t, held) || !plain(t, false)) return false;
  return true;
}

}  // namespace velaccap
