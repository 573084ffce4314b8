#include "velaccap/clsAPA812.h"

#include <exception>

#include "component/run_context.h"
#include "component/steps.h"

namespace velaccap {

bool clsAPA812::UpdateA812ToS820(SourceDatabase& dbSource, TargetConnection& oCn) {
  err_description_.clear();
  // The one error path: the first failure anywhere ends the run. The run's
  // recordsets are released as the context unwinds, before the description
  // is stored; nothing done so far is undone.
  try {
    RunContext ctx{dbSource, oCn, oCn.NewRecordset()};
    ctx.table->set_lock_type(LockType::Optimistic);
    for (const Step& step : StepTable()) RunStep(ctx, step);
    return true;
  } catch (const std::exception& e) {
    err_description_ = e.what();
  } catch (...) {
    err_description_ = "Unknown error";
  }
  return false;
}

}  // namespace velaccap
