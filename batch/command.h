// The batch's commands on the tool's command line: `batch` and
// `batch-report`.
#pragma once

#include <functional>
#include <optional>

namespace CLI {
class App;
}

namespace velaccap::batch {

// Adds the commands to `app`. The function returned runs the command that
// was parsed and gives its exit code, or nothing when neither was.
std::function<std::optional<int>()> AddCommands(CLI::App& app);

}  // namespace velaccap::batch
