// The two voucher-code operations shared by the invoice merge and the payables
// detail ledger: the parent code of a continuation invoice, and the id of an
// invoice's detail line for an item, looked up in the target.
#pragma once

#include <cstdint>
#include <string>

#include "velaccap/dbaccess.h"

namespace velaccap {

// The first word of `code`: leading blanks (character 32 only, not tabs) are
// dropped, then everything from the first blank on. Empty for blanks only.
std::string GetFirstWord(const std::string& code);

// The id of the first detail line of invoice (`vouch_type`, `code`) carrying
// item `inv_code` in the target: a sales line when the vouch type begins with
// the digit 2, a purchase line otherwise. 0 when no line matches, and 0
// without any statement when one of the three texts is empty.
std::int32_t GetDetailLineId(const std::string& vouch_type, const std::string& code,
                             const std::string& inv_code, TargetConnection& oCn);

}  // namespace velaccap
