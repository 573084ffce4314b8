#include <functional>
#include <iterator>
#include <optional>

#include "component/table_copy.h"
#include "ledger/ledger.h"

namespace velaccap {

void MigrateCancelNumbers(RunContext& ctx) {
  // Only the highest number of each flag and type survives: the grouping
  // query does the reduction, the frame writes one row per group.
  static const FieldMapWriter::Pair kMap[] = {
      {"iCancelNo", "ID"},
      {"cType", "cType"},
      {"cFlag", "cFlag"},
  };
  FieldMapWriter writer(kMap, std::size(kMap));
  const CopyFrame frame{
      "Delete Ap_CancelNo",
      "Select Max(iCancelNo) As ID,cType,cFlag From Ap_CancelNo Group By cFlag,cType",
      "Ap_CancelNo",
      std::nullopt,
  };
  RunCopyFrame(ctx, frame, std::ref(writer));
}

}  // namespace velaccap
