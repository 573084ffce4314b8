#include "progress/run_report.h"

#include <array>
#include <cstdio>
#include <string_view>

#include <nlohmann/json.hpp>

#include "dbaccess/ascii.h"
#include "progress/table.h"
#include "velaccap/layers.h"

namespace velaccap::progress {

namespace {

using Clock = std::chrono::steady_clock;

// What the layers watch for in a step beyond rows read and written.
enum class Role {
  kPlain,       // copies, the cancellation numbers, the input codes, options
  kHeaders,     // invoice headers: rows left out
  kLines,       // invoice lines: rows left out, the merge's updates and inserts
  kReferences,  // Ap_Detail: rows left out, references rewritten
};

// A step as the report sees it: its target table (the name its clearing
// statement and source queries use), the count of what its source queries
// read, and the count of its whole source table.
struct PlanStep {
  const char* table;
  Role role;
  Family family;  // of the invoice steps
  const char* to_read;
  const char* total;  // nullptr: no rows left out are reported
};

// The counts mirror the steps' own queries: the invoice steps read ordinary
// headers, and the lines of owned invoices in two passes, ordinary ones
// (Instr(...)=0) and continuation ones (>0), counted here in one scan; the
// cancellation numbers read one row per group.
constexpr PlanStep kPlan[kSteps] = {
    {"Ap_AlarmSet", Role::kPlain, Family::kSales, "Select count(*) From Ap_AlarmSet", nullptr},
    {"Ap_BillAge", Role::kPlain, Family::kSales, "Select count(*) From Ap_BillAge", nullptr},
    {"Ap_CancelNo", Role::kPlain, Family::kSales,
     "Select count(*) From (Select Max(iCancelNo) As ID,cType,cFlag From Ap_CancelNo Group By cFlag,cType)",
     nullptr},
    {"Ap_CloseBill", Role::kPlain, Family::kSales, "Select count(*) From Ap_CloseBill", nullptr},
    {"Ap_CtrlCode", Role::kPlain, Family::kSales, "Select count(*) From Ap_CtrlCode", nullptr},
    {"SaleBillVouch", Role::kHeaders, Family::kSales,
     "Select count(*) From SaleBillVouch Where cSTCode Is Null And Instr(cSBVCode,' ')=0",
     "Select count(*) From SaleBillVouch"},
    {"SaleBillVouchs", Role::kLines, Family::kSales,
     "Select count(*) From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID=SaleBillVouch.SBVID"
     " Where cSTCode Is Null And Instr(cSBVCode,' ')>=0",
     "Select count(*) From SaleBillVouchs"},
    {"PurBillVouch", Role::kHeaders, Family::kPurchase,
     "Select count(*) From PurBillVouch Where cBusType Is Null And Instr(cPBVCode,' ')=0",
     "Select count(*) From PurBillVouch"},
    {"PurBillVouchs", Role::kLines, Family::kPurchase,
     "Select count(*) From PurBillVouchs INNER JOIN PurBillVouch ON PurBillVouchs.PBVID=PurBillVouch.PBVID"
     " Where cBusType Is Null And Instr(cPBVCode,' ')>=0",
     "Select count(*) From PurBillVouchs"},
    {"Ap_Detail", Role::kReferences, Family::kSales, "Select count(*) From Ap_Detail",
     "Select count(*) From Ap_Detail"},
    {"Ap_InputCode", Role::kPlain, Family::kSales, "Select count(*) From Ap_InputCode", nullptr},
    {"Ap_InvCode", Role::kPlain, Family::kSales, "Select count(*) From Ap_InvCode", nullptr},
    {"Ap_Note", Role::kPlain, Family::kSales, "Select count(*) From Ap_Note", nullptr},
    {"Ap_Note_Sub", Role::kPlain, Family::kSales, "Select count(*) From Ap_Note_Sub", nullptr},
    {"Ap_SStyleCode", Role::kPlain, Family::kSales, "Select count(*) From Ap_SStyleCode", nullptr},
    {"Ap_Vouch", Role::kPlain, Family::kSales, "Select count(*) From Ap_Vouch", nullptr},
    {"Ap_Vouchs", Role::kPlain, Family::kSales, "Select count(*) From Ap_Vouchs", nullptr},
    {"Ap_VouchType", Role::kPlain, Family::kSales, "Select count(*) From Ap_VouchType", nullptr},
    {"Ar_BadAge", Role::kPlain, Family::kSales, "Select count(*) From Ar_BadAge", nullptr},
    {"Ar_BadPara", Role::kPlain, Family::kSales, "Select count(*) From Ar_BadPara", nullptr},
    {"AccInformation", Role::kPlain, Family::kSales,
     "Select count(*) From AccInformation Where cSysID='AR' or cSysID='AP'", nullptr},
};

// Source rows between two clock reads of the live line: a clock read per
// row would cost more than the counting itself.
constexpr long long kRowsPerClockRead = 1024;

// A step's counters while the run goes on.
struct Counters {
  const PlanStep* plan = nullptr;  // nullptr: operations before the first step
  long long to_read = -1;
  long long total = -1;
  long long read = 0, written = 0, updated = 0, added_into = 0, added_into_lines = 0, appended = 0,
            rewritten = 0, deleted = 0;
  Clock::time_point started{};
  Clock::duration time{};
  bool completed = false;
};

// The single row count of a count query; -1 when it fails.
long long CountRows(SourceDatabase& source, const char* query) {
  try {
    std::unique_ptr<SourceRecordset> rs = source.OpenRecordset(query);
    long long n = -1;
    if (!rs->eof()) {
      const Value& v = rs->field_value(0);
      if (v.type() == Value::Type::Integer) n = v.integer();
      else if (v.type() == Value::Type::Real) n = static_cast<long long>(v.real());
    }
    rs->close();
    return n;
  } catch (const std::exception&) {
    return -1;
  }
}

// The word after `keyword` and a blank at the start of `text`, or empty.
std::string_view WordAfterLeading(std::string_view text, std::string_view keyword) {
  if (text.size() <= keyword.size() + 1 || !EqualNoCase(text.substr(0, keyword.size()), keyword) ||
      text[keyword.size()] != ' ')
    return {};
  std::string_view rest = text.substr(keyword.size() + 1);
  const std::size_t begin = rest.find_first_not_of(' ');
  if (begin == std::string_view::npos) return {};
  rest = rest.substr(begin);
  return rest.substr(0, rest.find_first_of(" (\t\n"));
}

// The word after the first " From " of a query, or empty.
std::string_view TableOfQuery(std::string_view query) {
  for (std::size_t i = 0; i + 6 <= query.size(); ++i) {
    if ((query[i] == ' ' || query[i] == '\n' || query[i] == '\t') && EqualNoCase(query.substr(i + 1, 4), "From") &&
        i + 5 < query.size() && query[i + 5] == ' ')
      return WordAfterLeading(query.substr(i + 1), "From");
  }
  return {};
}

enum class Kind { kOther, kDelete, kUpdate, kInsert };

// Told apart by the leading keyword; the first letter settles most at once.
Kind KindOf(std::string_view statement) {
  if (statement.size() < 8) return Kind::kOther;
  switch (statement[0]) {
    case 'D':
    case 'd':
      return EqualNoCase(statement.substr(0, 7), "Delete ") ? Kind::kDelete : Kind::kOther;
    case 'U':
    case 'u':
      return EqualNoCase(statement.substr(0, 7), "Update ") ? Kind::kUpdate : Kind::kOther;
    case 'I':
    case 'i':
      return EqualNoCase(statement.substr(0, 7), "Insert ") ? Kind::kInsert : Kind::kOther;
    default:
      return Kind::kOther;
  }
}

}  // namespace

// ------------------------------------------------------------------ recorder

class RunReport::Recorder {
 public:
  explicit Recorder(const ReportOptions& options)
      : now_(options.now), observer_(options.observer), source_name_(options.source_name),
        target_name_(options.target_name) {
    start_ = options.start ? *options.start : now_();
    if (!options.phases) own_phases_ = std::make_unique<Phases>(options.live, nullptr, start_, now_);
    phases_ = options.phases ? options.phases : own_phases_.get();
    for (int i = 0; i < kSteps; ++i) steps_[i + 1].plan = &kPlan[i];
  }

  void Count(SourceDatabase& source) {
    for (int i = 1; i <= kSteps; ++i) {
      Counters& c = steps_[i];
      c.to_read = CountRows(source, c.plan->to_read);
      if (c.plan->total) c.total = CountRows(source, c.plan->total);
      all_to_read_ = all_to_read_ < 0 || c.to_read < 0 ? -1 : all_to_read_ + c.to_read;
    }
  }

  Counters& current() { return *current_; }
  const Counters& step(int number) const { return steps_[number]; }

  // A clearing statement or a source query names the table of a step after
  // the current one: that step begins. Operations of the current step, and
  // anything unforeseen, stay where they are.
  void SeenTable(std::string_view table) {
    if (table.empty() || finished_) return;
    for (int i = index_ + 1; i <= kSteps; ++i) {
      if (EqualNoCase(table, steps_[i].plan->table)) {
        Begin(i);
        return;
      }
    }
  }

  // One source row read in the current step, counted by the recordset.
  void RowRead() {
    if (--countdown_ > 0) return;
    countdown_ = kRowsPerClockRead;
    Observe();
    if (!phases_->wants_rows()) return;
    phases_->Rows(current_->read, AllRead(), all_to_read_);
  }

  void Finish(bool succeeded) {
    if (finished_) return;
    finished_ = true;
    const Clock::time_point t = now_();
    EndCurrent(t);
    if (succeeded && index_ > 0) current_->completed = true;
    end_ = t;
    phases_->Clear();
  }

  double elapsed_seconds() const {
    return std::chrono::duration<double>((finished_ ? end_ : now_()) - start_).count();
  }

  const std::string& source_name() const { return source_name_; }
  const std::string& target_name() const { return target_name_; }

 private:
  void Begin(int index) {
    const Clock::time_point t = now_();
    EndCurrent(t);
    if (index_ > 0) current_->completed = true;
    index_ = index;
    current_ = &steps_[index];
    current_->started = t;
    Observe();
    phases_->Step(t, index, kSteps, current_->plan->table, current_->to_read, AllRead(), all_to_read_);
  }

  long long AllRead() const {
    long long all = 0;
    for (const Counters& c : steps_) all += c.read;
    return all;
  }

  void Observe() {
    if (observer_ && index_ > 0) observer_(index_, current_->plan->table, current_->read, current_->to_read);
  }

  void EndCurrent(Clock::time_point t) {
    if (index_ > 0) current_->time += t - current_->started;
  }

  Clock::time_point (*now_)();
  std::unique_ptr<Phases> own_phases_;
  Phases* phases_;
  long long all_to_read_ = 0;  // -1: a count could not be made
  std::function<void(int, const char*, long long, long long)> observer_;
  std::string source_name_, target_name_;
  // Index 0 takes whatever happens before the first step.
  std::array<Counters, kSteps + 1> steps_{};
  int index_ = 0;
  Counters* current_ = &steps_[0];
  long long countdown_ = kRowsPerClockRead;
  bool finished_ = false;
  Clock::time_point start_{}, end_{};
};

namespace {

using Recorder = RunReport::Recorder;

// ------------------------------------------------------------------ layers

// Counts the rows a step reads. The step is the one current when the query
// was opened: each step reads only its own queries.
class CountedSourceRecordset : public SourceRecordsetLayer {
 public:
  CountedSourceRecordset(std::unique_ptr<SourceRecordset> inner, Recorder& recorder)
      : SourceRecordsetLayer(std::move(inner)), recorder_(recorder), counters_(recorder.current()) {}
  void move_next() override {
    ++counters_.read;
    recorder_.RowRead();
    inner_->move_next();
  }

 private:
  Recorder& recorder_;
  Counters& counters_;
};

class CountedSource : public SourceDatabaseLayer {
 public:
  CountedSource(SourceDatabase& inner, Recorder& recorder) : SourceDatabaseLayer(inner), recorder_(recorder) {}
  std::unique_ptr<SourceRecordset> OpenRecordset(const std::string& query) override {
    // The options step clears nothing: its query is where it begins.
    recorder_.SeenTable(TableOfQuery(query));
    return SourceDatabaseLayer::OpenRecordset(query);
  }

 protected:
  std::unique_ptr<SourceRecordset> Wrap(std::unique_ptr<SourceRecordset> rs) override {
    return std::make_unique<CountedSourceRecordset>(std::move(rs), recorder_);
  }

 private:
  Recorder& recorder_;
};

// Counts the rows added through a table recordset into the step that opened
// it, and on Ap_Detail the pending rows whose cVouchID is set twice: the
// step sets it once from the source row and again when it rewrites a
// reference to a continuation invoice.
class CountedRecordset : public TargetRecordsetLayer {
 public:
  CountedRecordset(std::unique_ptr<TargetRecordset> inner, Recorder& recorder)
      : TargetRecordsetLayer(std::move(inner)), recorder_(recorder) {}
  void OpenTable() override {
    TargetRecordsetLayer::OpenTable();
    counters_ = &recorder_.current();
    watch_vouch_id_ = counters_->plan && counters_->plan->role == Role::kReferences;
    vouch_id_sets_ = 0;
  }
  void OpenQuery(const std::string& query) override {
    counters_ = nullptr;
    watch_vouch_id_ = false;
    TargetRecordsetLayer::OpenQuery(query);
  }
  void AddNew() override {
    TargetRecordsetLayer::AddNew();
    if (counters_) ++counters_->written;
    vouch_id_sets_ = 0;
  }
  // Called for every column of every row: the common case is one test and
  // the forwarding call.
  void set_field(std::string_view name, const Value& value) override {
    if (watch_vouch_id_) [[unlikely]]
      NoteField(name);
    inner_->set_field(name, value);
  }
  void Close() override {
    counters_ = nullptr;
    watch_vouch_id_ = false;
    TargetRecordsetLayer::Close();
  }

 private:
  void NoteField(std::string_view name) {
    if (name.size() == 8 && EqualNoCase(name, "cVouchID") && ++vouch_id_sets_ == 2) ++counters_->rewritten;
  }

  Recorder& recorder_;
  Counters* counters_ = nullptr;  // the step adding rows, while open on a table
  bool watch_vouch_id_ = false;
  int vouch_id_sets_ = 0;
};

// Clearing statements, updates and inserts run as counted executions; a
// clearing statement also marks the start of its step.
class CountedTarget : public TargetConnectionLayer {
 public:
  CountedTarget(TargetConnection& inner, Recorder& recorder) : TargetConnectionLayer(inner), recorder_(recorder) {}
  void Execute(const std::string& statement) override {
    if (const Kind kind = KindOf(statement); kind == Kind::kOther)
      inner_.Execute(statement);
    else
      Counted(kind, statement);
  }
  long long ExecuteCount(const std::string& statement) override {
    const Kind kind = KindOf(statement);
    return kind == Kind::kOther ? inner_.ExecuteCount(statement) : Counted(kind, statement);
  }

 protected:
  std::unique_ptr<TargetRecordset> Wrap(std::unique_ptr<TargetRecordset> rs) override {
    return std::make_unique<CountedRecordset>(std::move(rs), recorder_);
  }

 private:
  long long Counted(Kind kind, const std::string& statement) {
    if (kind == Kind::kDelete) recorder_.SeenTable(WordAfterLeading(statement, "Delete"));
    Counters& c = recorder_.current();
    const long long changed = inner_.ExecuteCount(statement);
    const bool merge = c.plan && c.plan->role == Role::kLines;
    switch (kind) {
      case Kind::kDelete:
        c.deleted += changed;
        break;
      case Kind::kUpdate:
        c.updated += changed;
        if (merge && changed > 0) {
          ++c.added_into;
          c.added_into_lines += changed;
        }
        break;
      case Kind::kInsert:
        c.written += changed;
        if (merge) c.appended += changed;
        break;
      case Kind::kOther:
        break;
    }
    return changed;
  }

  Recorder& recorder_;
};

StepReport ReportOf(int number, const Counters& c) {
  StepReport r;
  r.step = number;
  r.table = c.plan->table;
  r.to_read = c.to_read;
  r.read = c.read;
  r.written = c.written;
  r.updated = c.updated;
  r.added_into = c.added_into;
  r.added_into_lines = c.added_into_lines;
  r.appended = c.appended;
  r.rewritten = c.rewritten;
  if (c.plan->total && c.total >= 0 && c.completed) r.left_out = c.total - c.read;
  r.deleted = c.deleted;
  r.seconds = std::chrono::duration<double>(c.time).count();
  r.completed = c.completed;
  return r;
}

// The number of the step that folds a family's continuation lines.
int StepOf(Family family) {
  for (int i = 0; i < kSteps; ++i)
    if (kPlan[i].role == Role::kLines && kPlan[i].family == family) return i + 1;
  return 0;
}

// ------------------------------------------------------------------ output

std::string Plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", s);
  return text;
}

std::vector<std::string> Cells(const StepReport& r) {
  return {r.table,
          std::to_string(r.read),
          std::to_string(r.written),
          std::to_string(r.updated),
          std::to_string(r.added_into),
          std::to_string(r.appended),
          std::to_string(r.rewritten),
          r.left_out ? std::to_string(*r.left_out) : "-",
          std::to_string(r.deleted),
          Seconds(r.seconds)};
}

nlohmann::json Counts(const StepReport& r) {
  nlohmann::json j;
  j["read"] = r.read;
  j["written"] = r.written;
  j["updated"] = r.updated;
  j["added_into"] = r.added_into;
  j["added_into_lines"] = r.added_into_lines;
  j["appended"] = r.appended;
  j["rewritten"] = r.rewritten;
  j["left_out"] = r.left_out ? nlohmann::json(*r.left_out) : nlohmann::json(nullptr);
  j["deleted"] = r.deleted;
  j["seconds"] = r.seconds;
  return j;
}

}  // namespace

// ------------------------------------------------------------------ report

RunReport::RunReport(SourceDatabase& source, TargetConnection& target, ReportOptions options)
    : recorder_(std::make_unique<Recorder>(options)) {
  recorder_->Count(options.count_on ? *options.count_on : source);
  source_ = std::make_unique<CountedSource>(source, *recorder_);
  target_ = std::make_unique<CountedTarget>(target, *recorder_);
}

RunReport::~RunReport() = default;

SourceDatabase& RunReport::source() { return *source_; }
TargetConnection& RunReport::target() { return *target_; }

void RunReport::Finish(bool succeeded) { recorder_->Finish(succeeded); }

void RunReport::ReleaseLayers() {
  source_.reset();
  target_.reset();
}

std::vector<StepReport> RunReport::steps() const {
  std::vector<StepReport> all;
  all.reserve(kSteps);
  for (int i = 1; i <= kSteps; ++i) all.push_back(ReportOf(i, recorder_->step(i)));
  return all;
}

StepReport RunReport::totals() const {
  StepReport t;
  t.table = "Total";
  t.to_read = 0;
  t.completed = true;
  for (const StepReport& r : steps()) {
    t.to_read = t.to_read < 0 || r.to_read < 0 ? -1 : t.to_read + r.to_read;
    t.read += r.read;
    t.written += r.written;
    t.updated += r.updated;
    t.added_into += r.added_into;
    t.added_into_lines += r.added_into_lines;
    t.appended += r.appended;
    t.rewritten += r.rewritten;
    if (r.left_out) t.left_out = t.left_out.value_or(0) + *r.left_out;
    t.deleted += r.deleted;
    t.seconds += r.seconds;
    t.completed = t.completed && r.completed;
  }
  return t;
}

double RunReport::elapsed_seconds() const { return recorder_->elapsed_seconds(); }

long long RunReport::added_into(Family family) const { return recorder_->step(StepOf(family)).added_into; }
long long RunReport::added_into_lines(Family family) const {
  return recorder_->step(StepOf(family)).added_into_lines;
}
long long RunReport::appended(Family family) const { return recorder_->step(StepOf(family)).appended; }

void RunReport::PrintTable(std::ostream& out) const {
  // The table name stands left, the numbers right, as in pgloader's report.
  using A = Table::Align;
  Table table({{"table", A::kLeft},
               {"read", A::kRight},
               {"written", A::kRight},
               {"updated", A::kRight},
               {"added into", A::kRight},
               {"appended", A::kRight},
               {"rewritten", A::kRight},
               {"left out", A::kRight},
               {"deleted", A::kRight},
               {"seconds", A::kRight}});
  for (const StepReport& r : steps()) table.Row(Cells(r));
  table.Rule();
  const StepReport t = totals();
  table.Row(Cells(t));
  table.Print(out);

  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.2f", elapsed_seconds());
  out << "Total: " << Plural(t.read, "row read", "rows read") << ", "
      << Plural(t.written, "row written", "rows written") << ", "
      << Plural(t.updated, "row updated", "rows updated") << ", "
      << Plural(t.deleted, "row deleted", "rows deleted") << " in " << elapsed << " s\n";
}

nlohmann::json RunReport::ToJson() const {
  nlohmann::json j;
  j["source"] = recorder_->source_name();
  j["target"] = recorder_->target_name();
  j["elapsed_seconds"] = elapsed_seconds();
  nlohmann::json tables = nlohmann::json::array();
  for (const StepReport& r : steps()) {
    nlohmann::json t = Counts(r);
    t["step"] = r.step;
    t["table"] = r.table;
    t["to_read"] = r.to_read >= 0 ? nlohmann::json(r.to_read) : nlohmann::json(nullptr);
    t["completed"] = r.completed;
    tables.push_back(std::move(t));
  }
  j["tables"] = std::move(tables);
  j["totals"] = Counts(totals());
  return j;
}

}  // namespace velaccap::progress
