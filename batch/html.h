// The batch's report as one web page to look at: self-contained (its style
// inline, no script, nothing fetched), every set's status, rows and
// reconciliation, the failed sets first with their errors.
#pragma once

#include <string>
#include <vector>

#include "batch/report.h"

namespace velaccap::batch {

// Text made safe to stand in HTML, also inside attribute values.
std::string HtmlEscape(const std::string& text);

std::string HtmlReport(const std::vector<SetResult>& results, const std::string& title);

// The same page for `batch --check`: every set's verdict, the sets that
// would stop or cannot be used first, then each of those with its problems.
std::string HtmlCheckReport(const std::vector<CheckedSet>& sets, const std::string& title);

}  // namespace velaccap::batch
