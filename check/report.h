// How the check's findings are shown: lines for people, JSON for programs.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "check/check.h"

namespace velaccap::check {

// The first error, where the run would stop; nullptr when there is none.
const Problem* FirstError(const std::vector<Problem>& problems);

// One line per problem, then a closing line saying whether and where the
// run would stop.
void PrintProblems(std::ostream& out, const std::vector<Problem>& problems);

// The problems of a document ProblemsJson wrote; what it does not hold as a
// problem is left out.
std::vector<Problem> ProblemsOf(const nlohmann::ordered_json& doc);

// The check's exit code: 0 the run would go to its end, 1 it would stop, 2
// migrate would refuse the databases (an error before the first step).
int ExitCode(const std::vector<Problem>& problems);

// The same as one JSON document: after what `head` holds (the document's
// format, version and times, which the caller knows), source, target,
// status, exit_code, would_stop, the stop, the counts and every problem.
std::string ProblemsJson(nlohmann::ordered_json head, const std::string& source, const std::string& target,
                         const std::vector<Problem>& problems);

}  // namespace velaccap::check
