// The tables a query reads, told from its text where that is certain. A
// backend that holds saved rows back uses it to let a query through without
// writing them first, when the query cannot see them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velaccap {

// The names that follow FROM and JOIN in `query`, when the query is one plain
// SELECT: no parenthesis (a function or a subquery could read any table), no
// comment, no quoted or qualified name, no INTO, no comma after its first
// FROM, and every text literal closed. Otherwise nullopt: what it reads is
// not certain.
std::optional<std::vector<std::string>> TablesReadBy(std::string_view query);

// True when `query` certainly cannot see rows held back for table `held`:
// it reads named tables only, none of them `held`, all plain by `plain`
// (table, no_triggers), and `held` itself plain with no trigger. The rule
// both backends keep their held rows by.
bool QueryCannotSeeHeldRows(std::string_view query, const std::string& held,
                            const std::function<bool(const std::string&, bool)>& plain);

// A SQLite query of one row and column, 1 when `name` (compared without
// regard to letter case) is an ordinary table of the main database that no
// temporary table, view or trigger shadows or watches, and, with
// `no_triggers`, on which no trigger fires: rows written into it then change
// nothing else, and reading it reads nothing else. 0 otherwise. The name
// stands in the text as a literal, its quotes doubled.
std::string SqlitePlainTableQuery(std::string_view name, bool no_triggers);

}  // namespace velaccap
