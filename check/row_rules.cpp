#include "check/row_rules.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "check/keys.h"
#include "dbaccess/ascii.h"
#include "invoices/kinds.h"

namespace velaccap::check {

enum class RuleKind { kLines, kHeaders, kApDetail, kOptions };

struct RowRule {
  RuleKind kind;
  const char* query;
  const char* table;
  const DetailKind* lines = nullptr;  // kLines
  bool merge = false;                 // kLines: the merge pass, whose texts go into statements
  const char* id_column = nullptr;    // kHeaders
};

namespace {

// Made on first use: the kinds are other files' objects.
const std::vector<RowRule>& Rules() {
  static const std::vector<RowRule> rules = {
      {RuleKind::kHeaders, kSalesHeaders.query, "SaleBillVouch", nullptr, false, "SBVID"},
      {RuleKind::kHeaders, kPurchaseHeaders.query, "PurBillVouch", nullptr, false, "PBVID"},
      {RuleKind::kLines, kSalesDetails.copy_query, "SaleBillVouchs", &kSalesDetails, false},
      {RuleKind::kLines, kSalesDetails.merge_query, "SaleBillVouchs", &kSalesDetails, true},
      {RuleKind::kLines, kPurchaseDetails.copy_query, "PurBillVouchs", &kPurchaseDetails, false},
      {RuleKind::kLines, kPurchaseDetails.merge_query, "PurBillVouchs", &kPurchaseDetails, true},
      {RuleKind::kApDetail, "Select * From Ap_Detail Order By Auto_ID", "Ap_Detail"},
      {RuleKind::kOptions,
       "SELECT cSysID,cName,cValue FROM AccInformation WHERE cSysID='AR' or cSysID='AP' ORDER BY cSysID,cName",
       "AccInformation"},
  };
  return rules;
}

// Slots of RowCheck::indexes_.
enum Slot { kId, kCode, kType, kItem, kMemo, kCoId, kCoType };

bool HasNul(const Value& v) { return v.type() == Value::Type::Text && v.text().find('\0') != std::string::npos; }

bool Infinite(const Value& v) { return v.type() == Value::Type::Real && !std::isfinite(v.real()); }

// An id the run can tie rows to: a whole number.
bool WholeNumber(const Value& v) {
  return v.type() == Value::Type::Integer ||
         (v.type() == Value::Type::Real && std::isfinite(v.real()) && v.real() == std::trunc(v.real()));
}

std::string_view Bare(std::string_view name) {
  const std::size_t dot = name.find('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

}  // namespace

const RowRule* RuleFor(std::string_view query) {
  for (const RowRule& r : Rules())
    if (query == r.query) return &r;
  return nullptr;
}

const char* RowCheck::table() const { return rule_.table; }

int RowCheck::Index(int& cached, std::string_view name) const {
  if (cached < 0) cached = rs_.field_index(name);
  return cached;
}

std::string RowCheck::Key() const {
  auto at = [&](Slot s, std::string_view name) -> const Value& { return rs_.field_value(Index(indexes_[s], name)); };
  switch (rule_.kind) {
    case RuleKind::kLines:
      return LineKey(rule_.lines->line_id_column, at(kId, rule_.lines->line_id_column),
                     at(kCode, rule_.lines->code_column));
    case RuleKind::kHeaders: return RowKey(rule_.id_column, at(kId, rule_.id_column));
    case RuleKind::kApDetail: return RowKey("Auto_ID", at(kId, "Auto_ID"));
    case RuleKind::kOptions: return Shown(rs_.field_value(0)) + " " + Shown(rs_.field_value(1));
  }
  return {};
}

std::string RowCheck::Fault(const char** code) const {
  const char* kind = "";
  std::string fault = FaultOf(&kind);
  if (code) *code = kind;
  return fault;
}

std::string RowCheck::FaultOf(const char** code) const {
  auto at = [&](Slot s, std::string_view name) -> const Value& { return rs_.field_value(Index(indexes_[s], name)); };
  // Texts that the run puts into a statement: a NUL byte ends the statement
  // there, and the engine refuses what is left, naming no row.
  auto nul = [&](Slot s, std::string_view name) -> std::string {
    if (!HasNul(at(s, name))) return {};
    *code = "nul-byte";
    return std::string(Bare(name)) + " holds a NUL byte, which would cut the run's statement short";
  };
  std::string fault;
  switch (rule_.kind) {
    case RuleKind::kHeaders: {
      const Value& id = at(kId, rule_.id_column);
      if (!WholeNumber(id) && (*code = "id-not-whole-number"))
        return std::string(rule_.id_column) + " is " + (id.is_null() ? "Null" : Shown(id) + ", not a whole number") +
               ": the invoice's lines cannot be tied to it, and the target would make up an id of its own";
      return {};
    }
    case RuleKind::kLines: {
      // An id the target makes up for the line may be the next line's.
      const Value& id = at(kId, rule_.lines->line_id_column);
      if (!WholeNumber(id) && (*code = "id-not-whole-number"))
        return std::string(rule_.lines->line_id_column) + " is " +
               (id.is_null() ? "Null" : Shown(id) + ", not a whole number") +
               ": the target would make up an id of its own for the line, which may be another line's";
      // The amounts are the map's number columns of the line.
      if (!amounts_found_) {
        for (std::size_t i = 0; i < rule_.lines->map_size; ++i) {
          const std::string_view source = rule_.lines->map[i].source;
          if (Bare(source).starts_with('i')) amounts_.emplace_back(rs_.field_index(source), Bare(source));
        }
        amounts_found_ = true;
      }
      if (std::string fault = Amounts(); !fault.empty() && (*code = "not-an-amount")) return fault;
      if (!rule_.merge) return {};
      const DetailKind& d = *rule_.lines;
      for (auto [slot, name] : {std::pair{kType, d.type_column}, {kCode, d.code_column}, {kItem, "cInvCode"},
                                {kMemo, d.memo_column}})
        if (name && !(fault = nul(slot, name)).empty()) return fault;
      return {};
    }
    case RuleKind::kApDetail: {
      if (!amounts_found_) {
        // The amounts the reconciliation sums, those the source has (found
        // by name here: a failed lookup would count as the source's failure).
        for (const char* name : {"iAmount", "iRAmount", "iAmount_f", "iRAmount_f", "iQuantity"})
          for (int i = 0; i < rs_.field_count(); ++i)
            if (EqualNoCase(rs_.field_name(i), name)) amounts_.emplace_back(i, name);
        amounts_found_ = true;
      }
      if (std::string fault = Amounts(); !fault.empty() && (*code = "not-an-amount")) return fault;
      // Only a reference to a continuation invoice is looked up by a statement.
      const Value& co = at(kCoId, "cCoVouchID");
      if (co.type() != Value::Type::Text || co.text().find(' ') == std::string::npos) return {};
      for (auto [slot, name] : {std::pair{kCoType, "cCoVouchType"}, {kCoId, "cCoVouchID"}, {kItem, "cInvCode"}})
        if (!(fault = nul(slot, name)).empty()) return fault;
      return {};
    }
    case RuleKind::kOptions:
      for (int i = 0; i < 3; ++i)
        if (HasNul(rs_.field_value(i)) && (*code = "nul-byte"))
          return rs_.field_name(i) + " holds a NUL byte, which would cut the run's statement short";
      return {};
  }
  return {};
}

std::string RowCheck::Amounts() const {
  // Bytes stay bytes wherever they are copied: in an amount they are none.
  for (const auto& [i, name] : amounts_) {
    const Value& v = rs_.field_value(i);
    if (Infinite(v) || v.type() == Value::Type::Binary)
      return std::string(name) + " holds " + Shown(v) + ", which is not an amount";
  }
  return {};
}

std::string RowRules::Named(const std::string& failure) const {
  if (row_.empty() || (failure != "Type mismatch" && failure != "Overflow" && failure != "Invalid use of Null"))
    return failure;
  bool same = false;
  try {
    value_.ToInt32();
  } catch (const Error& e) {
    same = failure == e.what();
  }
  if (same) return row_ + ": " + column_ + " " + Shown(value_) + " cannot be converted (" + failure + ")";
  return row_ + ": " + failure;
}

namespace {

// The table a query reads first, for naming rows of queries without rules.
std::string TableOf(std::string_view query) {
  const std::string upper = Upper(std::string(query));
  std::size_t at = upper.find(" FROM ");
  if (at == std::string::npos) return {};
  at += 6;
  const std::size_t end = query.find_first_of(" ,", at);
  return std::string(query.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
}

class RuledRecordset : public SourceRecordsetLayer {
 public:
  RuledRecordset(std::unique_ptr<SourceRecordset> inner, const RowRule* rule, std::string table, RowRules& owner)
      : SourceRecordsetLayer(std::move(inner)), table_(std::move(table)), owner_(owner) {
    if (rule) check_.emplace(*rule, *inner_);
  }
  ~RuledRecordset() override { Leave(); }

  // A row is put to the rules when the run first reads from it, so that a
  // refused row is the one the run stands on.
  const Value& field_value(int index) const override {
    if (!checked_) {
      // Refused at every read, so that a reader that drops the error (one
      // naming the row) cannot let the row pass.
      if (check_ && !inner_->eof()) {
        const std::string fault = check_->Fault();
        if (!fault.empty()) throw Error(table_ + " " + check_->Key() + ": " + fault);
      }
      checked_ = true;
    }
    last_ = index;
    return inner_->field_value(index);
  }
  using SourceRecordset::field_value;
  void move_next() override {
    inner_->move_next();
    checked_ = false;
    last_ = -1;
  }
  void close() override {
    Leave();
    inner_->close();
  }

 private:
  // Released before its end: a value the run could not take is the one it
  // read last.
  void Leave() {
    if (left_) return;
    left_ = true;
    try {
      if (last_ < 0 || inner_->eof()) return;
      std::string key;
      if (check_) {
        key = check_->Key();
      } else {
        for (int i = 0; i < inner_->field_count() && key.empty(); ++i)
          if (EqualNoCase(inner_->field_name(i), "Auto_ID")) key = RowKey(inner_->field_name(i), inner_->field_value(i));
        if (key.empty() && inner_->field_count() > 0) key = RowKey(inner_->field_name(0), inner_->field_value(0));
      }
      owner_.Left(table_ + " " + key, std::string(Bare(inner_->field_name(last_))), inner_->field_value(last_));
    } catch (const std::exception&) {
      // A row that cannot be named leaves the run's own message alone.
    }
  }

  std::string table_;
  RowRules& owner_;
  std::optional<RowCheck> check_;
  mutable bool checked_ = false;
  mutable int last_ = -1;
  bool left_ = false;
};

}  // namespace

std::unique_ptr<SourceRecordset> RowRules::OpenRecordset(const std::string& query) {
  const RowRule* rule = RuleFor(query);
  std::string table = rule ? rule->table : TableOf(query);
  return std::make_unique<RuledRecordset>(inner_.OpenRecordset(query), rule, std::move(table), *this);
}

}  // namespace velaccap::check
