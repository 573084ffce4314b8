#include "invoices/voucher_code.h"

#include <memory>

namespace velaccap {

std::string GetFirstWord(const std::string& code) {
  // Only the character 32 separates words: a tab belongs to the word.
  const std::size_t start = code.find_first_not_of(' ');
  if (start == std::string::npos) return std::string();
  const std::size_t end = code.find(' ', start);
  return code.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::int32_t GetDetailLineId(const std::string& vouch_type, const std::string& code,
                             const std::string& inv_code, TargetConnection& oCn) {
  if (vouch_type.empty() || code.empty() || inv_code.empty()) return 0;
  // Sales vouch types are the "2*" family; every other type is a purchase.
  std::string statement;
  if (vouch_type[0] == '2') {
    statement =
        "Select AutoID From SaleBillVouchs INNER JOIN SaleBillVouch ON "
        "SaleBillVouchs.SBVID=SaleBillVouch.SBVID Where cVouchType='";
    statement += QuoteDoubled(vouch_type);
    statement += "' and cSBVCode='";
  } else {
    statement =
        "Select ID From PurBillVouchs INNER JOIN PurBillVouch ON "
        "PurBillVouchs.PBVID=PurBillVouch.PBVID Where cPBVBillType='";
    statement += QuoteDoubled(vouch_type);
    statement += "' and cPBVCode='";
  }
  statement += QuoteDoubled(code);
  statement += "' and cInvCode='";
  statement += QuoteDoubled(inv_code);
  statement += "'";

  std::unique_ptr<TargetRecordset> lookup = oCn.NewRecordset();
  lookup->OpenQuery(statement);
  const std::int32_t id = lookup->bof() ? 0 : lookup->field_value(0).ToInt32();
  lookup->Close();
  return id;
}

}  // namespace velaccap
