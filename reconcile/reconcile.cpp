#include "reconcile/reconcile.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "component/steps.h"
#include "dbaccess/ascii.h"

namespace velaccap::reconcile {

namespace {

std::string Plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// ------------------------------------------------------------------ values

// A count or sum as an engine hands it over: an integer, a real, or text
// where a driver reports an aggregate's type as text. Null - a sum over no
// rows, or over Nulls only - adds nothing, so it stands for 0.
bool AsNumber(const Value& v, double* out) {
  switch (v.type()) {
    case Value::Type::Null: *out = 0; return true;
    case Value::Type::Integer: *out = static_cast<double>(v.integer()); return true;
    case Value::Type::Real: *out = v.real(); return true;
    case Value::Type::YesNo: *out = v.yes_no() ? 1 : 0; return true;
    case Value::Type::Text: {
      const std::string& t = v.text();
      const char* begin = t.data() + (!t.empty() && t[0] == '+');
      auto [ptr, ec] = std::from_chars(begin, t.data() + t.size(), *out);
      return ec == std::errc() && ptr == t.data() + t.size() && !t.empty();
    }
    case Value::Type::DateTime:
    case Value::Type::Binary: return false;
  }
  return false;
}

double Amount(const Value& v, const std::string& query) {
  double d;
  if (!AsNumber(v, &d)) throw Error("reconciliation: " + query + " gave " + DebugString(v) + ", which is not a number");
  return d;
}

long long Count(const Value& v, const std::string& query) {
  if (v.type() == Value::Type::Integer) return v.integer();
  return std::llround(Amount(v, query));
}

// A sum for people: rounded to millionths, below the four decimals money
// keeps, so that the noise of adding doubles in another order does not show;
// two sums that differ beyond the tolerance below still print differently.
std::string FormatAmount(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  std::string s = buf;
  if (s.find('.') != std::string::npos) {
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

// Sums of the same doubles taken in another order (the target adds the
// merged lines into their parents one by one) differ in the last bits.
bool SameAmount(double a, double b) {
  if (a == b) return true;  // also two equal infinities, whose difference is no number
  return std::fabs(a - b) <= 1e-9 * std::fmax(std::fabs(a), std::fabs(b)) + 1e-6;
}

// A number column's value in one form whatever type the engine gave it, so
// that 9, 9.0 and "9" compare equal; Null stays distinct.
std::string NumberText(const Value& v) {
  if (v.is_null()) return "NULL";
  if (v.type() == Value::Type::Integer) return std::to_string(v.integer());
  double d;
  if (AsNumber(v, &d)) return FormatNumber(d);
  return DebugString(v);
}

// A text column's value, Null-safe, for keys: Null is not the empty text.
std::optional<std::string> KeyText(const Value& v) {
  if (v.is_null()) return std::nullopt;
  return v.ToText();
}

std::string ShowKey(const std::optional<std::string>& k) {
  return k ? "'" + QuoteDoubled(*k) + "'" : std::string("NULL");
}

// ------------------------------------------------------------------ queries

// A failed query, named with its database side; passed on as it is by the
// handlers around an enclosing query, and named with its check by the run.
class QueryError : public Error {
 public:
  QueryError(const char* side, const std::string& query, const std::exception& e)
      : Error(std::string(side) + " query failed: " + query + ": " + e.what()) {}
};

// A column as a database declares it.
struct Column {
  std::string name;
  ColumnType type;
};

// The columns of `table` on one side, learned from an empty query.
template <class Db>
std::vector<Column> ColumnsOf(Db& db, const char* side, const std::string& table) {
  const std::string query = "SELECT * FROM " + table + " WHERE 1=0";
  try {
    std::vector<Column> out;
    if constexpr (std::is_same_v<Db, SourceDatabase>) {
      std::unique_ptr<SourceRecordset> rs = db.OpenRecordset(query);
      for (int i = 0; i < rs->field_count(); ++i) out.push_back({rs->field_name(i), rs->field_type(i)});
      rs->close();
    } else {
      std::unique_ptr<TargetRecordset> rs = db.ExecuteQuery(query);
      for (int i = 0; i < rs->field_count(); ++i) out.push_back({rs->field_name(i), rs->field_type(i)});
      rs->Close();
    }
    return out;
  } catch (const Error& e) {
    throw QueryError(side, query, e);
  }
}

const Column* FindColumn(const std::vector<Column>& columns, std::string_view name) {
  for (const Column& c : columns)
    if (EqualNoCase(c.name, name)) return &c;
  return nullptr;
}

const char* TypeName(ColumnType t) {
  switch (t) {
    case ColumnType::kNumber: return "a number";
    case ColumnType::kText: return "text";
    case ColumnType::kDateTime: return "a date";
    case ColumnType::kYesNo: return "yes/no";
    case ColumnType::kBinary: return "binary";
    case ColumnType::kUnknown: break;
  }
  return "of no declared type";
}

// A learned column name as an identifier both engines read: in brackets,
// which neither SQLite nor SQL Server takes for anything else.
std::optional<std::string> Bracketed(const std::string& name) {
  if (name.empty() || name.find_first_of("[]") != std::string::npos) return std::nullopt;
  return "[" + name + "]";
}

// A table the run copies column by column by name, and the columns whose
// values do not arrive as they left: numbered by the target, or rewritten.
struct ByName {
  std::string table;
  std::vector<std::string> skipped;  // in capitals
  bool adds_code_49 = false;
};

std::vector<ByName> TablesCopiedByName() {
  std::vector<ByName> out;
  for (const Step& step : StepTable()) {
    const std::string table = step.table;
    if (step.query)
      out.push_back({table, step.left_out ? std::vector<std::string>{step.left_out} : std::vector<std::string>{}});
    else if (table == "Ap_Detail")
      out.push_back({table, {"AUTO_ID", "IBVID", "CCOVOUCHID", "CVOUCHID"}});
    else if (table == "Ap_InputCode")
      out.push_back({table, {"AUTO_ID"}, true});
  }
  return out;
}

// The values of the first row of a query; for aggregates, the only row.
std::vector<Value> SourceRow(SourceDatabase& db, const std::string& query) {
  try {
    std::unique_ptr<SourceRecordset> rs = db.OpenRecordset(query);
    if (rs->eof()) throw Error("no row");
    std::vector<Value> row;
    for (int i = 0; i < rs->field_count(); ++i) row.push_back(rs->field_value(i));
    rs->close();
    return row;
  } catch (const Error& e) {
    throw QueryError("source", query, e);
  }
}

std::vector<Value> TargetRow(TargetConnection& db, const std::string& query) {
  try {
    std::unique_ptr<TargetRecordset> rs = db.ExecuteQuery(query);
    if (rs->eof()) throw Error("no row");
    std::vector<Value> row;
    for (int i = 0; i < rs->field_count(); ++i) row.push_back(rs->field_value(i));
    rs->Close();
    return row;
  } catch (const Error& e) {
    throw QueryError("target", query, e);
  }
}

// ------------------------------------------------------------------ checks

// One invoice family: its header and line tables and the columns that tell
// the ledger's own invoices (marker Null) and their codes.
struct Family {
  const char* header;
  const char* lines;
  const char* header_id;  // joins a line to its header
  const char* line_id;
  const char* marker;
  const char* code;
  const char* type;
  const char* sums[5];  // the quantity and the amounts the merge adds
};

const Family kSales{"SaleBillVouch", "SaleBillVouchs", "SBVID", "AutoID", "cSTCode", "cSBVCode", "cVouchType",
                    {"iQuantity", "iSum", "iNatSum", "iMoneySum", "iExchSum"}};
const Family kPurchases{"PurBillVouch", "PurBillVouchs", "PBVID", "ID", "cBusType", "cPBVCode", "cPBVBillType",
                        {"iPBVQuantity", "iSum", "iOriSum", "iTotal", "iOriTotal"}};

class Checker {
 public:
  Checker(SourceDatabase& source, TargetConnection& target, const std::optional<RunCounts>& counts)
      : source_(source), target_(target), counts_(counts) {}

  Result Run();

 private:
  // Runs one check; a query it cannot run stops the proof, named.
  void Check(const std::string& what, const std::function<void()>& check);

  void CopiedByName(const ByName& t);
  void CancelNumbers();
  void Invoices(const Family& f, std::optional<long long> added_into);
  long long AddedInto(const Family& f);
  void Options();

  void Pass(std::string line) { result_.checked.push_back(std::move(line)); }
  void Differ(std::string table, std::string what, std::string source, std::string target) {
    result_.differences.push_back({std::move(table), std::move(what), std::move(source), std::move(target)});
  }

  SourceDatabase& source_;
  TargetConnection& target_;
  const std::optional<RunCounts>& counts_;
  Result result_;
};

void Checker::Check(const std::string& what, const std::function<void()>& check) {
  try {
    check();
  } catch (const Error& e) {
    throw Error("reconciliation: the check of " + what + " could not run: " + e.what());
  }
}

void Checker::CopiedByName(const ByName& t) {
  const std::vector<Column> src = ColumnsOf(source_, "source", t.table);
  const std::vector<Column> tgt = ColumnsOf(target_, "target", t.table);

  // Every column on both sides has its values that are not Null counted;
  // those both sides declare numbers are summed too. Each side's query
  // names a column as that side spells it.
  struct Compared {
    std::string name;
    bool summed;
  };
  std::vector<Compared> compared;
  std::string source_query = "SELECT COUNT(*)", target_query = "SELECT COUNT(*)";
  auto skipped = [&](const std::string& name) {
    for (const std::string& k : t.skipped)
      if (Upper(name) == k) return true;
    return false;
  };
  auto not_compared = [&](const std::string& column, std::string reason) {
    result_.not_compared.push_back({t.table, column, std::move(reason)});
  };
  for (const Column& from : src) {
    if (skipped(from.name)) continue;
    const Column* c = FindColumn(tgt, from.name);
    const std::optional<std::string> sq = Bracketed(from.name), tq = c ? Bracketed(c->name) : std::nullopt;
    if (!c) {
      not_compared(from.name, "only in the source");
    } else if (!sq || !tq) {
      not_compared(from.name, "a name that cannot be quoted");
    } else {
      const bool summed = from.type == ColumnType::kNumber && c->type == ColumnType::kNumber;
      // A number on one side only: the sum a reader expects is not taken.
      if (!summed && (from.type == ColumnType::kNumber || c->type == ColumnType::kNumber))
        not_compared(from.name, std::string(TypeName(from.type)) + " in the source, " + TypeName(c->type) +
                                 " in the target: counted, not summed");
      compared.push_back({from.name, summed});
      source_query += ",SUM(CASE WHEN " + *sq + " IS NULL THEN 0 ELSE 1 END)";
      target_query += ",SUM(CASE WHEN " + *tq + " IS NULL THEN 0 ELSE 1 END)";
      // As floating point: an integer column's sum would overflow SQL Server's int.
      if (summed) {
        source_query += ",SUM(CAST(" + *sq + " AS FLOAT))";
        target_query += ",SUM(CAST(" + *tq + " AS FLOAT))";
      }
    }
  }
  for (const Column& c : tgt)
    if (!skipped(c.name) && !FindColumn(src, c.name)) not_compared(c.name, "only in the target");
  source_query += " FROM " + t.table;
  target_query += " FROM " + t.table;

  std::vector<Value> s = SourceRow(source_, source_query);
  std::vector<Value> v = TargetRow(target_, target_query);
  const long long sn = Count(s[0], source_query), tn = Count(v[0], target_query);
  if (!t.adds_code_49) {
    if (sn == tn)
      Pass(t.table + ": " + Plural(tn, "row", "rows") + ", as in the source");
    else
      Differ(t.table, "rows", std::to_string(sn), std::to_string(tn));
  } else if (tn == sn + 1) {
    Pass(t.table + ": " + Plural(tn, "row", "rows") + ", the source's " + std::to_string(sn) + " and the added code 49");
  } else {
    Differ(t.table, "rows, the source's and code 49", std::to_string(sn + 1), std::to_string(tn));
  }
  if (compared.empty()) return;

  // The added code's row holds the target's defaults: the values leave it
  // out, and so leave out on both sides every row of that code and flag.
  if (t.adds_code_49) {
    const std::string other = " WHERE COALESCE(cNum,'')<>'49' OR COALESCE(cFlag,'')<>'RP'";
    source_query += other;
    target_query += other;
    s = SourceRow(source_, source_query);
    v = TargetRow(target_, target_query);
  }
  // With rows missing or added, every column's count differs; the sums
  // still tell what the missing rows held.
  const bool counted = sn + (t.adds_code_49 ? 1 : 0) == tn;
  const std::size_t before = result_.differences.size();
  std::string sums;
  std::size_t at = 1;
  for (const Compared& c : compared) {
    const long long a = Count(s[at], source_query), b = Count(v[at], target_query);
    ++at;
    if (a != b && counted) Differ(t.table, "values of " + c.name + " (not Null)", std::to_string(a), std::to_string(b));
    if (!c.summed) continue;
    const double x = Amount(s[at], source_query), y = Amount(v[at], target_query);
    ++at;
    sums += (sums.empty() ? "" : ", ") + c.name;
    if (!SameAmount(x, y)) Differ(t.table, "sum of " + c.name, FormatAmount(x), FormatAmount(y));
  }
  if (result_.differences.size() == before && counted)
    Pass(t.table + ": non-Null values of " + Plural(static_cast<long long>(compared.size()), "column", "columns") +
         (sums.empty() ? "" : " and sums of " + sums) + " as in the source");
}

void Checker::CancelNumbers() {
  using Key = std::pair<std::optional<std::string>, std::optional<std::string>>;
  struct Group {
    std::string highest;  // NumberText of the source's maximum
    long long seen = 0;   // target rows of the group
  };
  auto show = [](const Key& k) { return "cFlag " + ShowKey(k.first) + ", cType " + ShowKey(k.second); };

  const std::size_t before = result_.differences.size();
  // One entry per group: as many as the target should hold rows.
  std::map<Key, Group> groups;
  const std::string source_query = "SELECT cFlag, cType, Max(iCancelNo) FROM Ap_CancelNo GROUP BY cFlag, cType";
  try {
    std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(source_query);
    for (; !rs->eof(); rs->move_next())
      groups[{KeyText(rs->field_value(0)), KeyText(rs->field_value(1))}].highest = NumberText(rs->field_value(2));
    rs->close();
  } catch (const Error& e) {
    throw QueryError("source", source_query, e);
  }

  // Rows the source has no group for are listed up to a bound, then counted,
  // so that a target full of strangers cannot flood the result.
  constexpr long long kListed = 10;
  long long strangers = 0, rows = 0;
  const std::string target_query = "SELECT cFlag, cType, iCancelNo FROM Ap_CancelNo";
  try {
    std::unique_ptr<TargetRecordset> rs = target_.ExecuteQuery(target_query);
    for (; !rs->eof(); rs->move_next()) {
      ++rows;
      const Key key{KeyText(rs->field_value(0)), KeyText(rs->field_value(1))};
      const std::string number = NumberText(rs->field_value(2));
      auto it = groups.find(key);
      if (it == groups.end()) {
        if (++strangers <= kListed) Differ("Ap_CancelNo", "row of " + show(key), "none", "iCancelNo " + number);
        continue;
      }
      if (++it->second.seen == 1 && number != it->second.highest)
        Differ("Ap_CancelNo", "iCancelNo of " + show(key), it->second.highest, number);
    }
    rs->Close();
  } catch (const Error& e) {
    throw QueryError("target", target_query, e);
  }
  if (strangers > kListed)
    Differ("Ap_CancelNo", "further rows of groups the source lacks", "0", std::to_string(strangers - kListed));

  for (const auto& [key, group] : groups) {
    if (group.seen == 0)
      Differ("Ap_CancelNo", "row of " + show(key), "iCancelNo " + group.highest, "none");
    else if (group.seen > 1)
      Differ("Ap_CancelNo", "rows of " + show(key), "1", std::to_string(group.seen));
  }
  if (result_.differences.size() == before)
    Pass("Ap_CancelNo: " + Plural(rows, "row", "rows") + ", one per flag and type of the source with its highest number");
}

void Checker::Invoices(const Family& f, std::optional<long long> added_into) {
  const std::string H = f.header, L = f.lines, hid = f.header_id, lid = f.line_id;
  const std::string marker = f.marker, code = f.code, type = f.type;
  const std::string join = " FROM " + L + " l INNER JOIN " + H + " h ON l." + hid + "=h." + hid;

  // Headers: the run copies the owned ordinary ones; a continuation invoice
  // never gets a header of its own.
  {
    const std::string sq =
        "SELECT COUNT(*) FROM " + H + " WHERE " + marker + " IS NULL AND Instr(" + code + ",' ')=0";
    const std::string tq = "SELECT COUNT(*) FROM " + H + " WHERE " + marker + " IS NULL";
    const long long s = Count(SourceRow(source_, sq)[0], sq);
    const long long t = Count(TargetRow(target_, tq)[0], tq);
    if (s == t)
      Pass(H + ": " + Plural(t, "owned invoice", "owned invoices") + ", as the source's ordinary ones");
    else
      Differ(H, "owned invoices", std::to_string(s), std::to_string(t));
  }

  std::string plain_sums, weighted_sums, picked;
  for (const char* c : f.sums) {
    plain_sums += std::string(",SUM(l.") + c + ")";
    weighted_sums += std::string(",SUM(c.") + c + "*c.n)";
    picked += std::string("l.") + c + ",";
  }

  // Ordinary lines are copied one for one.
  const std::string ordinary_query = "SELECT COUNT(*)" + plain_sums + join + " WHERE h." + marker +
                                     " IS NULL AND Instr(h." + code + ",' ')=0";
  // A continuation line is added into every line of its item that the
  // parent invoice (same type, code's first word) holds, so its amounts
  // count once per such line; with none it is appended, or added into the
  // one line an earlier continuation line of the item appended: once.
  const std::string trimmed = "LTrim(h." + code + ")";
  const std::string parent = "CASE WHEN Instr(" + trimmed + ",' ')>0 THEN Substr(" + trimmed + ",1,Instr(" +
                             trimmed + ",' ')-1) ELSE " + trimmed + " END";
  const std::string continuation_query =
      "SELECT COUNT(*)" + weighted_sums + " FROM (SELECT " + picked + "CASE WHEN COUNT(o." + lid +
      ")>0 THEN COUNT(o." + lid + ") ELSE 1 END AS n" + join + " LEFT JOIN " + H + " p ON p." + type + "=h." +
      type + " AND p." + code + "=" + parent + " AND p." + marker + " IS NULL LEFT JOIN " + L + " o ON o." + hid +
      "=p." + hid + " AND o.cInvCode=COALESCE(l.cInvCode,'') WHERE h." + marker + " IS NULL AND Instr(h." + code +
      ",' ')>0 GROUP BY l." + lid + ") c";
  const std::string target_query = "SELECT COUNT(*)" + plain_sums + join + " WHERE h." + marker + " IS NULL";

  const std::vector<Value> ordinary = SourceRow(source_, ordinary_query);
  const std::vector<Value> continuation = SourceRow(source_, continuation_query);
  const std::vector<Value> target = TargetRow(target_, target_query);

  const long long ord = Count(ordinary[0], ordinary_query);
  const long long cont = Count(continuation[0], continuation_query);
  if (!added_into) {
    // Without the run's own count: a continuation line is appended when its
    // parent holds no ordinary line of its item and no earlier continuation
    // line of the item was appended; every other one is added into a line.
    const std::string appended_query =
        "SELECT COUNT(*) FROM (SELECT DISTINCT h." + type + "," + parent + ",COALESCE(l.cInvCode,'')" + join +
        " LEFT JOIN " + H + " p ON p." + type + "=h." + type + " AND p." + code + "=" + parent + " AND p." + marker +
        " IS NULL LEFT JOIN " + L + " o ON o." + hid + "=p." + hid + " AND o.cInvCode=COALESCE(l.cInvCode,'') WHERE h." +
        marker + " IS NULL AND Instr(h." + code + ",' ')>0 AND o." + lid + " IS NULL) a";
    added_into = cont - Count(SourceRow(source_, appended_query)[0], appended_query);
  }
  const long long expected = ord + cont - *added_into;
  const long long t = Count(target[0], target_query);
  if (expected == t)
    Pass(L + ": " + Plural(t, "owned line", "owned lines") + ", the source's " + std::to_string(ord) + " ordinary and " +
         std::to_string(cont) + " continuation lines less " + std::to_string(*added_into) +
         " added into existing lines");
  else
    Differ(L, "owned lines", std::to_string(expected), std::to_string(t));

  bool all_same = true;
  std::string names;
  for (int i = 0; i < 5; ++i) {
    const double s = Amount(ordinary[i + 1], ordinary_query) + Amount(continuation[i + 1], continuation_query);
    const double v = Amount(target[i + 1], target_query);
    names += std::string(i ? ", " : "") + f.sums[i];
    if (!SameAmount(s, v)) {
      all_same = false;
      Differ(L, std::string("sum of ") + f.sums[i] + " over owned lines", FormatAmount(s), FormatAmount(v));
    }
  }
  if (all_same) Pass(L + ": sums of " + names + " over owned lines as in the source");
}

void Checker::Options() {
  // Each option is looked up as the run's update finds it, so the target's
  // own comparison of names (letter case, trailing blanks) decides alike.
  const std::string source_query =
      "SELECT cSysID,cName,cValue FROM AccInformation WHERE cSysID='AR' or cSysID='AP' ORDER BY cSysID,cName";
  long long matched = 0, absent = 0;
  bool all_same = true;
  try {
    std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(source_query);
    for (; !rs->eof(); rs->move_next()) {
      const Value& sys = rs->field_value(0);
      const Value& name = rs->field_value(1);
      const Value& value = rs->field_value(2);
      const std::optional<std::string> expected =
          value.is_null() ? std::nullopt : std::optional<std::string>(value.ToStatementText());
      const std::string target_query = "SELECT cValue FROM AccInformation WHERE cSysID='" +
                                       QuoteDoubled(sys.ToStatementText()) + "' AND cName='" +
                                       QuoteDoubled(name.ToStatementText()) + "'";
      std::unique_ptr<TargetRecordset> t;
      try {
        t = target_.ExecuteQuery(target_query);
        if (t->eof()) ++absent;
        for (; !t->eof(); t->move_next()) {
          ++matched;
          const Value held = t->field_value(0);
          const std::optional<std::string> got = KeyText(held);
          if (got != expected) {
            all_same = false;
            Differ("AccInformation", "cValue of " + sys.ToStatementText() + " " + name.ToStatementText(),
                   ShowKey(expected), ShowKey(got));
          }
        }
        t->Close();
      } catch (const Error& e) {
        throw QueryError("target", target_query, e);
      }
    }
    rs->close();
  } catch (const QueryError&) {
    throw;
  } catch (const Error& e) {
    throw QueryError("source", source_query, e);
  }
  if (all_same) {
    std::string line = "AccInformation: " + Plural(matched, "AR and AP option value", "AR and AP option values") + ", as in the source";
    if (absent > 0) line += " (the target lacks " + std::to_string(absent) + " of the source's)";
    Pass(line);
  }
}

Result Checker::Run() {
  // In the order of the run's steps.
  const std::vector<ByName> by_name = TablesCopiedByName();
  for (const Step& step : StepTable()) {
    const std::string table = step.table;
    for (const ByName& t : by_name)
      if (t.table == table) Check(table, [&] { CopiedByName(t); });
    if (table == "Ap_CancelNo") Check(table, [&] { CancelNumbers(); });
    if (table == "SaleBillVouchs")
      Check("the sales invoices", [&] {
        Invoices(kSales, counts_ ? std::optional(counts_->sales_lines_added_into) : std::nullopt);
      });
    if (table == "PurBillVouchs")
      Check("the purchase invoices", [&] {
        Invoices(kPurchases, counts_ ? std::optional(counts_->purchase_lines_added_into) : std::nullopt);
      });
    if (table == "AccInformation") Check("the options", [&] { Options(); });
  }
  return std::move(result_);
}

}  // namespace

Result Reconcile(SourceDatabase& source, TargetConnection& target, const std::optional<RunCounts>& counts) {
  return Checker(source, target, counts).Run();
}

void PrintResult(std::ostream& out, const Result& result) {
  out << "Reconciliation with the source:\n";
  for (const std::string& line : result.checked) out << "  " << line << '\n';
  if (!result.not_compared.empty()) {
    out << "Not compared:\n";
    for (const NotCompared& n : result.not_compared) out << "  " << n.table << "." << n.column << ": " << n.reason << '\n';
  }
  if (result.ok()) {
    out << "No differences: nothing was lost.\n";
    return;
  }
  out << "Differences from the source:\n";
  for (const Difference& d : result.differences)
    out << "  " << d.table << ", " << d.what << ": source " << d.source << ", target " << d.target << '\n';
}

}  // namespace velaccap::reconcile
