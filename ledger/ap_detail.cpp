#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "component/table_copy.h"
#include "invoices/voucher_code.h"
#include "ledger/ledger.h"

namespace velaccap {

namespace {

// Writes one Ap_Detail row. What each source column gets is decided on the
// first row: a result's column list does not change from row to row.
class DetailRowWriter {
 public:
  explicit DetailRowWriter(TargetConnection& oCn) : oCn_(oCn) {}

  void operator()(const SourceRecordset& source, TargetRecordset& target) {
    const int n = source.field_count();
    if (static_cast<int>(kind_.size()) != n) Classify(source);

    bool continuation = false;
    std::string parent_code, inv_code, vouch_type;
    for (int i = 0; i < n; ++i) {
      switch (kind_[i]) {
        case Kind::kSkip:
          break;
        case Kind::kCopy:
          target.set_field(source.field_name(i), source.field_value(i));
          break;
        case Kind::kCoVouchId: {
          const Value& value = source.field_value(i);
          // A Null reference is not written, so the target's default stands.
          if (value.is_null()) break;
          const std::string code = value.ToText();
          target.set_field(source.field_name(i), Value::Text(GetFirstWord(code)));
          // A blank anywhere, leading and trailing ones included, names a
          // continuation invoice, whose lines now live in its parent.
          if (code.find(' ') != std::string::npos) {
            continuation = true;
            // Read back so the lookup uses the code as the target holds it.
            parent_code = target.field_value(source.field_name(i)).ToText();
            const Value& inv = source.field_value(Index(source, inv_code_, "cInvCode"));
            inv_code = inv.is_null() ? std::string() : inv.ToText();
            vouch_type = source.field_value(Index(source, co_vouch_type_, "cCoVouchType")).ToText();
          }
          break;
        }
      }
    }

    std::int32_t line_id = source.field_value(Index(source, bvid_, "iBVID")).ToInt32();
    if (continuation) {
      line_id = GetDetailLineId(vouch_type, parent_code, inv_code, oCn_);
      const Value& own = source.field_value(Index(source, vouch_id_, "cVouchID"));
      target.set_field("cVouchID", Value::Text(GetFirstWord(own.ToText())));
    }
    target.set_field("iBVID", Value::Integer(line_id));
  }

 private:
  enum class Kind { kCopy, kSkip, kCoVouchId };

  void Classify(const SourceRecordset& source) {
    const int n = source.field_count();
    kind_.assign(n, Kind::kCopy);
    for (int i = 0; i < n; ++i) {
      const std::string name = Upper(source.field_name(i));
      if (name == "AUTO_ID") kind_[i] = Kind::kSkip;
      else if (name == "CCOVOUCHID") kind_[i] = Kind::kCoVouchId;
    }
  }

  // Resolved when first needed, so a missing column fails where it is read.
  static int Index(const SourceRecordset& source, int& cached, std::string_view name) {
    if (cached < 0) cached = source.field_index(name);
    return cached;
  }

  TargetConnection& oCn_;
  std::vector<Kind> kind_;
  int inv_code_ = -1;
  int co_vouch_type_ = -1;
  int vouch_id_ = -1;
  int bvid_ = -1;
};

}  // namespace

void MigrateApDetail(RunContext& ctx) {
  const CopyFrame frame{
      "Delete Ap_Detail",
      "Select * From Ap_Detail Order By Auto_ID",
      "Ap_Detail",
      LockType::Pessimistic,
  };
  DetailRowWriter writer(ctx.target);
  RunCopyFrame(ctx, frame, std::ref(writer));
}

}  // namespace velaccap
