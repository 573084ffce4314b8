// What one run of the migration works on: the caller's two databases and the
// run's one target table recordset, which every row-writing step reuses.
#pragma once

#include <memory>

#include "velaccap/dbaccess.h"

namespace velaccap {

struct RunContext {
  SourceDatabase& source;
  TargetConnection& target;
  // The target table recordset slot. Bound to the target at set-up with lock
  // type optimistic; the merge passes replace it with their parent query
  // results, and later steps reopen whatever stands here on their own table.
  std::unique_ptr<TargetRecordset> table;
};

}  // namespace velaccap
