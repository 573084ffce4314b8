#include "check/check.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "check/keys.h"
#include "check/needs.h"
#include "check/row_rules.h"
#include "component/steps.h"
#include "dbaccess/ascii.h"
#include "invoices/kinds.h"
#include "invoices/voucher_code.h"

namespace velaccap::check {

namespace {

using Severity = Problem::Severity;

// What the run's statements make of a text value: Null concatenates as the
// empty text.
std::string StatementText(const Value& v) { return v.is_null() ? std::string() : v.ToText(); }

class Report {
 public:
  Report(std::vector<Problem>* out, const Options& options) : out_(out), options_(options) {}

  void Error(const char* code, int step, std::string table, std::string key, std::string reason,
             bool after_run = false) {
    out_->push_back({Severity::kError, step, std::move(table), std::move(key), std::move(reason), after_run, code});
  }

  // Warnings of one kind are listed up to a limit, then counted.
  void Warning(const char* code, int step, const std::string& table, std::string key, const std::string& reason) {
    Kind& kind = warnings_[table + "\t" + reason];
    kind.code = code;
    if (++kind.n <= options_.max_warnings_per_kind)
      out_->push_back({Severity::kWarning, step, table, std::move(key), reason, false, code});
  }

  // Closes the warnings of a table: how many were not listed.
  void FlushWarnings(int step, const std::string& table) {
    for (auto& [text, kind] : warnings_) {
      const int more = kind.n - options_.max_warnings_per_kind;
      if (!text.starts_with(table + "\t") || more <= 0) continue;
      out_->push_back({Severity::kWarning, step, table, "",
                       std::to_string(more) + (more == 1 ? " more row: " : " more rows: ") +
                           text.substr(table.size() + 1),
                       false, kind.code});
      kind.n = 0;
    }
  }

 private:
  struct Kind {
    int n = 0;
    const char* code = "";
  };
  std::vector<Problem>* out_;
  const Options& options_;
  std::map<std::string, Kind> warnings_;
};

// ------------------------------------------------------------ text matching

// The target compares texts in its own way; keys are folded to match so.
class Folder {
 public:
  explicit Folder(TextCompare compare) : compare_(compare) {}
  std::string operator()(std::string text) const {
    if (compare_ == TextCompare::kSqlServer) {
      text.erase(text.find_last_not_of(' ') + 1);
      text = Upper(text);
    }
    return text;
  }

 private:
  TextCompare compare_;
};

// An invoice as the merge and the lookups find it: vouch type and code.
std::string InvoiceKey(const std::string& type, const std::string& code) { return type + '\x1f' + code; }

// The invoices the merge and the lookups will look for, and what the target
// will hold of them: whether any line, and the items of their lines.
struct Invoice {
  bool has_lines = false;
  std::unordered_set<std::string> items;  // folded; Null items match nothing
  // Lines of an invoice the target keeps for another module under the same
  // vouch type and code: the merge's statements reach them too.
  bool has_kept_lines = false;
  std::unordered_set<std::string> kept_items;
};
using InvoiceIndex = std::unordered_map<std::string, Invoice>;

// ------------------------------------------------------------ families

struct Family {
  const HeaderKind& headers;
  const DetailKind& details;
  const char* header_table;
  const char* header_id;
  const char* marker;
  int header_step;
  int line_step;
};

const Family kFamilies[] = {
    {kSalesHeaders, kSalesDetails, "SaleBillVouch", "SBVID", "cSTCode", 6, 7},
    {kPurchaseHeaders, kPurchaseDetails, "PurBillVouch", "PBVID", "cBusType", 8, 9},
};

std::optional<std::int64_t> IntegerOf(const Value& v) {
  if (v.type() == Value::Type::Integer) return v.integer();
  if (v.type() == Value::Type::Real && v.real() == static_cast<double>(static_cast<std::int64_t>(v.real())))
    return static_cast<std::int64_t>(v.real());
  return std::nullopt;
}

// "Ap_Detail" is a table, "Ap_Detail.iBVID" a column.
const char* MissingCode(const std::string& name) {
  return name.find('.') == std::string::npos ? "missing-table" : "missing-column";
}

std::string Plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

class Checker {
 public:
  Checker(SourceDatabase& source, TargetConnection& target, const Options& options, std::vector<Problem>* out)
      : source_(source), target_(target), fold_(options.compare), report_(out, options), out_(out) {}

  void Run() {
    CheckIdentity();
    if (!identity_ok_) return;  // the run would not start; the rest cannot be read
    DeletedRows();
    ReadApDetail();  // first: its lookups add invoices to watch
    for (const Family& f : kFamilies) CheckFamily(f);
    ResolveLookups();
    CheckInputCodes();
    CheckOptions();
    std::stable_sort(out().begin(), out().end(),
                     [](const Problem& a, const Problem& b) { return a.step < b.step; });
  }

 private:
  std::vector<Problem>& out() { return *out_; }

  // --------------------------------------------------------- identity

  void CheckIdentity() {
    const Identity id = Identify(source_, target_);
    for (const std::string& m : id.source.missing)
      report_.Error(MissingCode(m), 0, m.substr(0, m.find('.')), "", "the source lacks " + m);
    for (const std::string& m : id.target.missing)
      report_.Error(MissingCode(m), 0, m.substr(0, m.find('.')), "", "the target lacks " + m);
    if (id.source.other_release)
      report_.Error("wrong-release", 0, "", "", "the source looks like an 8.20 account set, not an 8.12 one");
    if (id.target.other_release)
      report_.Error("wrong-release", 0, "", "", "the target looks like an 8.12 account set, not an 8.20 one");
    identity_ok_ = id.source.ok() && id.target.ok();
  }

  // --------------------------------------------------------- deletions

  long long TargetCount(const std::string& sql) {
    std::unique_ptr<TargetRecordset> rs = target_.ExecuteQuery(sql);
    const Value v = rs->field_value(0);
    rs->Close();
    if (v.is_null()) return 0;
    return v.type() == Value::Type::Integer ? v.integer() : v.ToInt32();
  }

  // What the clearing statements will delete: the user may not expect the
  // target's rows to go. The invoice steps delete only the rows they own.
  void DeletedRows() {
    for (const Step& step : StepTable()) {
      if (step.number == 21) continue;  // only updates
      std::string count = std::string("Select count(*) From ") + step.table;
      for (const Family& f : kFamilies) {
        const std::string owned = std::string(f.header_table) + "." + f.marker + " Is Null";
        if (step.number == f.header_step) count += " Where " + owned;
        if (step.number == f.line_step)
          count += std::string(" INNER JOIN ") + f.header_table + " ON " + step.table + "." + f.header_id + "=" +
                   f.header_table + "." + f.header_id + " Where " + owned;
      }
      const long long n = TargetCount(count);
      if (n > 0)
        report_.Warning("target-rows-deleted", step.number, step.table, "",
                        "the target holds " + Plural(n, "row", "rows") + " that the run deletes and replaces");
    }
  }

  // --------------------------------------------------------- Ap_Detail

  struct Lookup {
    std::string key;      // the row, for the message
    bool sales = false;   // the family the vouch type chooses
    std::string invoice;  // folded InvoiceKey of (type, parent code)
    std::string item;     // folded
  };

  void ReadApDetail() {
    constexpr int kStep = 10;
    const std::string table = "Ap_Detail";
    std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset("Select * From Ap_Detail Order By Auto_ID");
    const int auto_id = rs->field_index("Auto_ID"), co_id = rs->field_index("cCoVouchID"),
              co_type = rs->field_index("cCoVouchType"), inv = rs->field_index("cInvCode"),
              bvid = rs->field_index("iBVID"), vouch_id = rs->field_index("cVouchID");
    const RowCheck rules(*RuleFor("Select * From Ap_Detail Order By Auto_ID"), *rs);
    for (; !rs->eof(); rs->move_next()) {
      const std::string key = RowKey("Auto_ID", rs->field_value(auto_id));
      if (Refused(rules, kStep)) continue;
      const Value& co = rs->field_value(co_id);
      const bool continuation = !co.is_null() && co.ToText().find(' ') != std::string::npos;
      // The conversions the step makes, in its order: the reference's vouch
      // type, the line id, then the row's own voucher id.
      std::string failed;
      int column = -1;
      for (int c : {co_type, bvid, vouch_id}) {
        if (!continuation && c != bvid) continue;
        try {
          if (c == bvid)
            rs->field_value(c).ToInt32();
          else
            rs->field_value(c).ToText();
        } catch (const velaccap::Error& e) {
          failed = e.what();
          column = c;
          break;
        }
      }
      if (column >= 0) {
        report_.Error("unconvertible-value", kStep, table, key,
                      rs->field_name(column) + " " + Shown(rs->field_value(column)) + " cannot be converted (" +
                          failed + "); the step stops here");
        continue;
      }
      if (!continuation) continue;
      const std::string parent = GetFirstWord(co.ToText());
      const Value& i = rs->field_value(inv);
      const std::string item = i.is_null() ? std::string() : i.ToText();
      const std::string type = rs->field_value(co_type).ToText();
      if (type.empty() || parent.empty() || item.empty()) {
        report_.Warning("empty-reference", kStep, table, key,
                        "refers to a continuation invoice with an empty vouch type, code or item: no line is "
                        "looked up and iBVID becomes 0");
        continue;
      }
      Lookup l{key, type[0] == '2', InvoiceKey(fold_(type), fold_(parent)), fold_(item)};
      (l.sales ? sales_watch_ : purchase_watch_).emplace(l.invoice, Invoice{});
      lookups_.push_back(std::move(l));
    }
    rs->close();
  }

  void ResolveLookups() {
    for (const Lookup& l : lookups_) {
      const InvoiceIndex& index = l.sales ? sales_watch_ : purchase_watch_;
      auto it = index.find(l.invoice);
      if (it == index.end() || !it->second.items.count(l.item))
        report_.Warning("reference-finds-no-line", 10, "Ap_Detail", l.key,
                        "refers to a continuation invoice whose parent will hold no line of its item: iBVID "
                        "becomes 0");
    }
    report_.FlushWarnings(10, "Ap_Detail");
  }

  // --------------------------------------------------------- invoices

  void CheckFamily(const Family& f) {
    InvoiceIndex& watch = &f == &kFamilies[0] ? sales_watch_ : purchase_watch_;
    const DetailKind& d = f.details;
    const std::string lines = d.table;

    // The invoices the merge looks for: one pass over the continuation lines.
    {
      std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(d.merge_query);
      const int code = rs->field_index(d.code_column), type = rs->field_index(d.type_column);
      for (; !rs->eof(); rs->move_next())
        watch.emplace(InvoiceKey(fold_(StatementText(rs->field_value(type))),
                                 fold_(GetFirstWord(rs->field_value(code).ToText()))),
                      Invoice{});
      rs->close();
    }

    // Headers: the owned ordinary ones the step writes, and ids that clash
    // with headers the target keeps (marker set) or repeat in the source.
    std::vector<std::int64_t> new_headers;
    std::unordered_set<std::int64_t> kept_headers;
    {
      std::unique_ptr<TargetRecordset> rs = target_.ExecuteQuery(std::string("Select ") + f.header_id + " From " +
                                                                 f.header_table + " Where " + f.marker +
                                                                 " Is Not Null");
      for (; !rs->eof(); rs->move_next())
        if (auto id = IntegerOf(rs->field_value(0))) kept_headers.insert(*id);
      rs->Close();
    }
    {
      std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(f.headers.query);
      const int id = rs->field_index(f.header_id);
      const RowCheck rules(*RuleFor(f.headers.query), *rs);
      for (; !rs->eof(); rs->move_next()) {
        if (Refused(rules, f.header_step)) continue;
        const std::optional<std::int64_t> v = IntegerOf(rs->field_value(id));
        if (!v) continue;
        if (kept_headers.count(*v))
          report_.Error("key-collides-with-kept", f.header_step, f.header_table, RowKey(f.header_id, rs->field_value(id)),
                        "the target keeps an invoice of another module with this id (its " + std::string(f.marker) +
                            " is set); the new header collides with it");
        new_headers.push_back(*v);
      }
      rs->close();
    }
    std::sort(new_headers.begin(), new_headers.end());
    for (std::size_t i = 1; i < new_headers.size(); ++i)
      if (new_headers[i] == new_headers[i - 1] && (i < 2 || new_headers[i - 2] != new_headers[i]))
        report_.Error("duplicate-key", f.header_step, f.header_table,
                      std::string(f.header_id) + " " + std::to_string(new_headers[i]),
                      "two source invoices have this id; the second collides with the first");
    auto is_new_header = [&](std::int64_t id) { return std::binary_search(new_headers.begin(), new_headers.end(), id); };

    // Target lines that outlive the clearing: lines of kept headers, and
    // lines whose header is gone and not written again.
    std::unordered_set<std::int64_t> surviving;
    {
      const std::string sql = std::string("Select ") + lines + "." + d.line_id_column + "," + lines + "." +
                              f.header_id + "," + f.header_table + "." + f.header_id + "," + f.header_table + "." +
                              f.marker + "," + f.header_table + "." + d.type_column + "," + f.header_table + "." +
                              d.code_column + "," + lines + ".cInvCode From " + lines + " LEFT JOIN " +
                              f.header_table + " ON " + lines + "." + f.header_id + "=" + f.header_table + "." +
                              f.header_id;
      std::unique_ptr<TargetRecordset> rs = target_.ExecuteQuery(sql);
      for (; !rs->eof(); rs->move_next()) {
        const Value line_id = rs->field_value(0), header_of_line = rs->field_value(1), header = rs->field_value(2),
                    marker = rs->field_value(3);
        const bool kept_header = !header.is_null() && !marker.is_null();
        const std::optional<std::int64_t> hid = IntegerOf(header_of_line);
        const bool survives = kept_header || !hid || !is_new_header(*hid);
        if (!survives) continue;
        if (auto id = IntegerOf(line_id)) surviving.insert(*id);
        if (kept_header) Watch(watch, rs->field_value(4), rs->field_value(5), rs->field_value(6), true);
      }
      rs->Close();
    }

    // The copy pass: the lines it writes, their ids, and what they give the
    // invoices the merge and the lookups look for.
    std::vector<std::int64_t> written;
    {
      std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(d.copy_query);
      const int id = rs->field_index(d.line_id_column), code = rs->field_index(d.code_column),
                type = rs->field_index(d.type_column), inv = rs->field_index("cInvCode");
      const RowCheck rules(*RuleFor(d.copy_query), *rs);
      for (; !rs->eof(); rs->move_next()) {
        Refused(rules, f.line_step);
        if (auto v = IntegerOf(rs->field_value(id))) {
          if (surviving.count(*v))
            report_.Error("key-collides-with-kept", f.line_step, lines,
                          LineKey(d.line_id_column, rs->field_value(id), rs->field_value(code)),
                          "the target keeps a line with this id (of another module's invoice, or without a "
                          "header); the copied line collides with it");
          written.push_back(*v);
        }
        Watch(watch, rs->field_value(type), rs->field_value(code), rs->field_value(inv));
      }
      rs->close();
    }

    // Ids the copy pass writes twice collide there, before any merge; the
    // rare repeats are named in the pass's own order by a second reading.
    std::sort(written.begin(), written.end());
    std::unordered_set<std::int64_t> repeated;
    for (std::size_t i = 1; i < written.size(); ++i)
      if (written[i] == written[i - 1]) repeated.insert(written[i]);
    if (!repeated.empty()) {
      std::unordered_set<std::int64_t> seen;
      std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(d.copy_query);
      const int id = rs->field_index(d.line_id_column), code = rs->field_index(d.code_column);
      for (; !rs->eof(); rs->move_next()) {
        const std::optional<std::int64_t> v = IntegerOf(rs->field_value(id));
        if (v && repeated.count(*v) && !seen.insert(*v).second)
          report_.Error("duplicate-key", f.line_step, lines,
                        LineKey(d.line_id_column, rs->field_value(id), rs->field_value(code)),
                        "an earlier line the run writes has this id; this one collides with it");
      }
      rs->close();
    }
    std::unordered_set<std::int64_t> appended;

    // The merge pass, line by line as the run takes them.
    {
      std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(d.merge_query);
      const int code = rs->field_index(d.code_column), type = rs->field_index(d.type_column),
                inv = rs->field_index("cInvCode"), id = rs->field_index(d.line_id_column);
      const RowCheck rules(*RuleFor(d.merge_query), *rs);
      for (; !rs->eof(); rs->move_next()) {
        if (Refused(rules, f.line_step)) continue;
        const std::string parent = GetFirstWord(rs->field_value(code).ToText());
        const std::string vouch_type = StatementText(rs->field_value(type));
        const std::string key = LineKey(d.line_id_column, rs->field_value(id), rs->field_value(code));
        Invoice& invoice = watch[InvoiceKey(fold_(vouch_type), fold_(parent))];
        if (!NumbersOk(*rs, d.added, std::size(d.added), f.line_step, lines, key)) continue;
        const std::string item = fold_(StatementText(rs->field_value(inv)));
        if (!invoice.has_lines) {
          report_.Error("parent-without-lines", f.line_step, lines, key,
                        "its parent invoice '" + parent + "' of vouch type '" + vouch_type +
                            "' will have no lines in the target; the merge stops here");
          continue;
        }
        // The update reaches lines of a kept invoice of the same type and
        // code, and an appended line may go to it: the owned lines then no
        // longer balance with the source.
        if (invoice.kept_items.count(item) || (!invoice.items.count(item) && invoice.has_kept_lines))
          report_.Error("merge-reaches-kept-invoice", f.line_step, lines, key,
                        "its parent '" + parent + "' of vouch type '" + vouch_type +
                            "' is also an invoice the target keeps for another module, and the merge reaches its "
                            "lines: the owned lines then differ from the source, and the reconciliation stops "
                            "migrate (exit 3; with --no-verify the run completes)",
                        true);
        if (invoice.items.count(item)) continue;  // added into the parent's line
        // Appended: the insert carries the line's own numbers.
        std::vector<const char*> numbers{d.line_id_column};
        numbers.insert(numbers.end(), d.numbers, d.numbers + d.number_count);
        numbers.push_back(d.tax_rate_column);
        std::vector<Piece> pieces;
        for (const char* n : numbers) pieces.push_back({"", n});
        if (!NumbersOk(*rs, pieces.data(), pieces.size(), f.line_step, lines, key)) continue;
        invoice.items.insert(item);
        if (auto v = IntegerOf(rs->field_value(id))) {
          if (surviving.count(*v))
            report_.Error("key-collides-with-kept", f.line_step, lines, key,
                          "the appended line keeps its id, which a line the target keeps already has");
          else if (std::binary_search(written.begin(), written.end(), *v) || !appended.insert(*v).second)
            report_.Error("duplicate-key", f.line_step, lines, key,
                          "the appended line keeps its id, which a line the run has written already has");
        }
      }
      rs->close();
    }

    LeftOut(f);
  }

  // A row the run's own rules refuse (row_rules.h) stops it there.
  bool Refused(const RowCheck& rules, int step) {
    const char* code = "";
    const std::string fault = rules.Fault(&code);
    if (fault.empty()) return false;
    report_.Error(code, step, rules.table(), rules.Key(), fault);
    return true;
  }

  // Records a line of an invoice the run will hold, if it is one watched.
  void Watch(InvoiceIndex& watch, const Value& type, const Value& code, const Value& item, bool kept = false) {
    if (type.is_null() || code.is_null()) return;  // '' in a statement never matches Null
    auto it = watch.find(InvoiceKey(fold_(type.ToText()), fold_(code.ToText())));
    if (it == watch.end()) return;
    it->second.has_lines = true;
    if (!item.is_null()) it->second.items.insert(fold_(item.ToText()));
    if (kept) {
      it->second.has_kept_lines = true;
      if (!item.is_null()) it->second.kept_items.insert(fold_(item.ToText()));
    }
  }

  // A Null number leaves a gap in the statement; anything but a number would
  // become part of it. Either stops the run at this line.
  bool NumbersOk(const SourceRecordset& rs, const Piece* pieces, std::size_t n, int step, const std::string& table,
                 const std::string& key) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
      const Value& v = rs.field_value(pieces[i].column);
      if (v.is_null()) {
        report_.Error("null-number", step, table, key,
                      std::string(pieces[i].column) + " is Null, which leaves the merge's statement malformed");
        return false;
      }
      if (!v.ToNumberText(&text)) {
        report_.Error("not-a-number", step, table, key, std::string(pieces[i].column) + " holds " + Shown(v) + ", which is not a number");
        return false;
      }
    }
    return true;
  }

  // Invoices and lines the rules leave out: the user may not expect it.
  void LeftOut(const Family& f) {
    const DetailKind& d = f.details;
    const std::string h = f.header_table, l = d.table;
    {
      std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(
          "Select " + std::string(f.header_id) + " From " + h + " Where " + f.marker + " Is Null And " +
          d.code_column + " Is Null Order By " + f.header_id);
      for (; !rs->eof(); rs->move_next())
        report_.Warning("invoice-without-code", f.header_step, h, std::string(f.header_id) + " " + Shown(rs->field_value(0)),
                        "the invoice has no code: the run leaves it and its lines out");
      rs->close();
      report_.FlushWarnings(f.header_step, h);
    }
    {
      std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(
          "Select " + l + "." + d.line_id_column + " From " + l + " LEFT JOIN " + h + " ON " + l + "." + f.header_id +
          "=" + h + "." + f.header_id + " Where " + h + "." + f.header_id + " Is Null Order By " + l + "." +
          d.line_id_column);
      for (; !rs->eof(); rs->move_next())
        report_.Warning("line-without-header", f.line_step, l, std::string(d.line_id_column) + " " + Shown(rs->field_value(0)),
                        "the line has no invoice header in the source: the run leaves it out");
      rs->close();
      report_.FlushWarnings(f.line_step, l);
    }
  }

  // --------------------------------------------------------- input codes

  void CheckInputCodes() {
    std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(
        "Select Auto_ID From Ap_InputCode Where cNum='49' And cFlag='RP' Order By Auto_ID");
    for (; !rs->eof(); rs->move_next())
      report_.Error("input-code-exists", 11, "Ap_InputCode", "Auto_ID " + Shown(rs->field_value(0)),
                    "the source already holds input code 49 with flag RP, which the run adds; the added row "
                    "collides with it");
    rs->close();
  }

  // --------------------------------------------------------- options

  void CheckOptions() {
    std::set<std::pair<std::string, std::string>> target_options;
    {
      std::unique_ptr<TargetRecordset> rs =
          target_.ExecuteQuery("Select cSysID,cName From AccInformation Where cSysID='AR' or cSysID='AP'");
      for (; !rs->eof(); rs->move_next())
        target_options.emplace(fold_(StatementText(rs->field_value(0))), fold_(StatementText(rs->field_value(1))));
      rs->Close();
    }
    constexpr const char* kQuery =
        "SELECT cSysID,cName,cValue FROM AccInformation WHERE cSysID='AR' or cSysID='AP' ORDER BY cSysID,cName";
    std::unique_ptr<SourceRecordset> rs = source_.OpenRecordset(kQuery);
    const RowCheck rules(*RuleFor(kQuery), *rs);
    for (; !rs->eof(); rs->move_next()) {
      if (Refused(rules, 21)) continue;
      const std::string sys = StatementText(rs->field_value(0)), name = StatementText(rs->field_value(1));
      if (!target_options.count({fold_(sys), fold_(name)}))
        report_.Warning("option-not-in-target", 21, "AccInformation", sys + " " + name,
                        "the target has no such option: its value is not carried");
    }
    rs->close();
    report_.FlushWarnings(21, "AccInformation");
  }

  SourceDatabase& source_;
  TargetConnection& target_;
  Folder fold_;
  Report report_;
  std::vector<Problem>* out_;
  bool identity_ok_ = false;
  InvoiceIndex sales_watch_, purchase_watch_;
  std::vector<Lookup> lookups_;
};

}  // namespace

bool FirstIdentityError(const std::vector<Problem>& problems) {
  for (const Problem& p : problems)
    if (p.severity == Severity::kError && p.step == 0) return true;
  return false;
}

std::vector<Problem> FindProblems(SourceDatabase& source, TargetConnection& target, const Options& options) {
  std::vector<Problem> problems;
  Checker(source, target, options, &problems).Run();
  return problems;
}

}  // namespace velaccap::check
