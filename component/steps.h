// The run's step table: 21 steps in their binding order.
#pragma once

#include <span>

#include "component/run_context.h"

namespace velaccap {

struct Step {
  int number;
  const char* table;  // the target table the step writes
  // A generic copy is fully described by its query and left-out column
  // (nullptr: no column left out); a step with code of its own has `run`.
  const char* query;
  const char* left_out;
  void (*run)(RunContext& ctx);
};

std::span<const Step> StepTable();

// Runs one step of the table on ctx.
void RunStep(RunContext& ctx, const Step& step);

}  // namespace velaccap
