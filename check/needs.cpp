#include "check/needs.h"

#include <set>

#include "component/steps.h"
#include "dbaccess/ascii.h"

namespace velaccap::check {

namespace {

// A table and the columns of it that the run names, on one side.
struct TableNeed {
  const char* table;
  std::vector<const char*> columns;
};

// Columns the header and line field maps, the clearing statements, the
// queries and the merge statements name. The two releases differ where the
// purchase line's tax rate is concerned: iPBVTaxRate in 8.12, iTaxRate in 8.20.
const char* const kSalesHeader[] = {
    "SBVID",     "cSBVCode",  "cVouchType", "dDate",       "cDepCode",  "cPersonCode", "cSOCode",
    "cCusCode",  "cPayCode",  "cexch_name", "cMemo",       "iExchRate", "iTaxRate",    "bReturnFlag",
    "cMaker",    "cVerifier", "bFirst",     "citem_class", "citemcode", "cHeadCode",   "cDefine1",
    "cDefine2",  "cDefine3",  "cDefine4",   "cDefine5",    "cDefine6",  "cDefine7",    "cDefine8",
    "cDefine9",  "cDefine10", "bPayMent",   "cSTCode"};
const char* const kPurchaseHeader[] = {
    "PBVID",      "cPBVCode",    "cPBVBillType", "dPBVDate",  "cDepCode",     "cPersonCode", "cOrderCode",
    "cVenCode",   "cUnitCode",   "cPayCode",     "cexch_name", "cPBVMemo",    "cExchRate",   "iPBVTaxRate",
    "dSDate",     "bNegative",   "cPBVMaker",    "cPBVVerifier", "bFirst",    "citem_class", "citemcode",
    "cHeadCode",  "cDefine1",    "cDefine2",     "cDefine3",  "cDefine4",     "cDefine5",    "cDefine6",
    "cDefine7",   "cDefine8",    "cDefine9",     "cDefine10", "bPayMent",     "cBusType"};
const char* const kSalesLine[] = {"SBVID",    "AutoID",        "cInvCode",   "iQuantity", "iUnitPrice",
                                  "iTaxUnitPrice", "iMoney",   "iTax",       "iSum",      "iNatUnitPrice",
                                  "iNatMoney", "iNatTax",      "iNatSum",    "iMoneySum", "iExchSum",
                                  "cClue",     "dSignDate",    "cMemo",      "cFree1",    "cFree2",
                                  "iTaxRate"};
const char* const kPurchaseLineCommon[] = {"ID",       "PBVID",     "cInvCode", "dInDate",   "iPBVQuantity",
                                           "iOriCost", "iOriMoney", "iOriTaxPrice", "iOriSum", "iCost",
                                           "iMoney",   "iTaxPrice", "iSum",     "iOriTotal", "iTotal",
                                           "cClue",    "dSignDate", "cFree1",   "cFree2"};

std::vector<const char*> Join(std::initializer_list<std::pair<const char* const*, std::size_t>> parts,
                              std::initializer_list<const char*> more = {}) {
  std::vector<const char*> out;
  for (auto [p, n] : parts) out.insert(out.end(), p, p + n);
  out.insert(out.end(), more);
  return out;
}

template <std::size_t N>
std::pair<const char* const*, std::size_t> All(const char* const (&a)[N]) {
  return {a, N};
}

// The tables whose rows the steps with code of their own read (source) or
// write (target), by fixed names. Copied tables add their order columns
// (source) and the source's own columns (target) below.
std::vector<TableNeed> FixedNeeds(bool source) {
  return {
      {"Ap_CancelNo", {"iCancelNo", "cType", "cFlag"}},
      {"SaleBillVouch", Join({All(kSalesHeader)}, {"cChecker"})},
      {"SaleBillVouchs", Join({All(kSalesLine)})},
      {"PurBillVouch", Join({All(kPurchaseHeader)})},
      {"PurBillVouchs", Join({All(kPurchaseLineCommon)}, {source ? "iPBVTaxRate" : "iTaxRate"})},
      {"Ap_Detail", source ? std::vector<const char*>{"Auto_ID", "cVouchID", "cCoVouchID", "cCoVouchType", "cInvCode",
                                                      "iBVID"}
                           : std::vector<const char*>{"cVouchID", "cCoVouchID", "iBVID"}},
      {"Ap_InputCode",
       source ? std::vector<const char*>{"Auto_ID"}
              : std::vector<const char*>{"cNum", "cNote", "cNote_f", "cFlag", "cArCode", "cArCodeName", "cApCode",
                                         "cApCodeName"}},
      {"AccInformation", {"cSysID", "cName", "cValue"}},
  };
}

// The source keeps no cChecker of its own: the maker stands in for it.
bool SourceLacksByDesign(const std::string& table, const char* column) {
  return table == "SaleBillVouch" && std::string_view(column) == "cChecker";
}

// The order columns of a copy step's query: what follows "Order By".
std::vector<std::string> OrderColumns(const char* query) {
  std::vector<std::string> out;
  std::string_view q = query;
  const std::size_t at = q.find(" Order By ");
  if (at == std::string_view::npos) return out;
  q.remove_prefix(at + 10);
  while (!q.empty()) {
    const std::size_t comma = q.find(',');
    out.emplace_back(q.substr(0, comma));
    if (comma == std::string_view::npos) break;
    q.remove_prefix(comma + 1);
  }
  return out;
}

bool Has(const std::vector<std::string>& columns, std::string_view name) {
  for (const std::string& c : columns)
    if (EqualNoCase(c, name)) return true;
  return false;
}

// The tables of the step table in run order, each once.
std::vector<std::string> StepTables() {
  std::vector<std::string> out;
  for (const Step& step : StepTable()) out.emplace_back(step.table);
  return out;
}

const Step* CopyStep(const std::string& table) {
  for (const Step& step : StepTable())
    if (step.query && table == step.table) return &step;
  return nullptr;
}

const TableNeed* FixedNeed(const std::vector<TableNeed>& needs, const std::string& table) {
  for (const TableNeed& n : needs)
    if (table == n.table) return &n;
  return nullptr;
}

// Missing names of one side against the fixed needs of `role_source` (true:
// what an 8.12 source must have; false: what an 8.20 target must have).
// `columns` holds each step table's columns, or nothing for a missing table.
void CompareFixed(const std::vector<std::optional<std::vector<std::string>>>& columns, bool role_source,
                  std::vector<std::string>* missing) {
  const std::vector<TableNeed> needs = FixedNeeds(role_source);
  const std::vector<std::string> tables = StepTables();
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (!columns[i]) {
      missing->push_back(tables[i]);
      continue;
    }
    std::vector<std::string> wanted;
    if (const TableNeed* n = FixedNeed(needs, tables[i])) {
      for (const char* c : n->columns)
        if (!(role_source && SourceLacksByDesign(tables[i], c))) wanted.emplace_back(c);
    }
    if (role_source)
      if (const Step* step = CopyStep(tables[i]))
        for (std::string& c : OrderColumns(step->query)) wanted.push_back(std::move(c));
    std::set<std::string> seen;
    for (const std::string& c : wanted)
      if (!Has(*columns[i], c) && seen.insert(Upper(c)).second) missing->push_back(tables[i] + "." + c);
  }
}

std::string List(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

std::string Misfit(const Fit& fit, const std::string& name, const char* role, const char* release,
                   const char* other) {
  if (fit.ok()) return {};
  std::string text = std::string(role) + " " + name + " is not an " + release + " account set the run can use";
  if (fit.other_release) text += std::string(": it looks like an ") + other + " account set";
  text += "; it lacks " + List(fit.missing);
  return text;
}

}  // namespace

std::optional<std::vector<std::string>> SourceColumns(SourceDatabase& source, const std::string& table) {
  std::unique_ptr<SourceRecordset> rs;
  try {
    rs = source.OpenRecordset("Select * From " + table + " Where 1=0");
  } catch (const Error&) {
    return std::nullopt;
  }
  std::vector<std::string> out;
  for (int i = 0; i < rs->field_count(); ++i) out.push_back(rs->field_name(i));
  rs->close();
  return out;
}

std::optional<std::vector<std::string>> TargetColumns(TargetConnection& target, const std::string& table) {
  std::unique_ptr<TargetRecordset> rs;
  try {
    rs = target.ExecuteQuery("Select * From " + table + " Where 1=0");
  } catch (const Error&) {
    return std::nullopt;
  }
  std::vector<std::string> out;
  for (int i = 0; i < rs->field_count(); ++i) out.push_back(rs->field_name(i));
  rs->Close();
  return out;
}

Identity Identify(SourceDatabase& source, TargetConnection& target) {
  const std::vector<std::string> tables = StepTables();
  std::vector<std::optional<std::vector<std::string>>> src, tgt;
  for (const std::string& t : tables) {
    src.push_back(SourceColumns(source, t));
    tgt.push_back(TargetColumns(target, t));
  }
  Identity id;
  CompareFixed(src, true, &id.source.missing);
  CompareFixed(tgt, false, &id.target.missing);

  // A table copied by name writes every source column (but the left-out
  // one) into the same-named target column.
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const Step* step = CopyStep(tables[i]);
    const bool by_name = step || tables[i] == "Ap_Detail";
    if (!by_name || !src[i] || !tgt[i]) continue;
    const std::string left_out = step ? (step->left_out ? step->left_out : "") : "AUTO_ID";
    for (const std::string& c : *src[i]) {
      if (Upper(c) == left_out) continue;
      if (!Has(*tgt[i], c)) {
        const std::string name = tables[i] + "." + c;
        bool listed = false;
        for (const std::string& m : id.target.missing) listed = listed || EqualNoCase(m, name);
        if (!listed) id.target.missing.push_back(name);
      }
    }
  }

  // Which release a misfit looks like: the other role's fixed needs met.
  if (!id.source.ok()) {
    std::vector<std::string> as_target;
    CompareFixed(src, false, &as_target);
    id.source.other_release = as_target.empty();
  }
  if (!id.target.ok()) {
    std::vector<std::string> as_source;
    CompareFixed(tgt, true, &as_source);
    id.target.other_release = as_source.empty();
  }
  return id;
}

std::string SourceMisfit(const Fit& fit, const std::string& name) {
  return Misfit(fit, name, "SOURCE", "8.12", "8.20");
}

std::string TargetMisfit(const Fit& fit, const std::string& name) {
  return Misfit(fit, name, "TARGET", "8.20", "8.12");
}

}  // namespace velaccap::check
