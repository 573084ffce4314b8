// The tool's help as a terminal shows it: CLI11's help with every line
// wrapped at 80 columns, a description's next lines under its first.
#pragma once

#include <memory>
#include <string>

namespace CLI {
class Formatter;
}

namespace velaccap::cli {

inline constexpr std::size_t kHelpColumns = 80;

// Wraps each line of `text` longer than `columns` at blanks; the next lines
// begin where the line's text (after a name column, when it has one) began.
std::string WrapHelp(const std::string& text, std::size_t columns = kHelpColumns);

// A CLI11 formatter whose help is wrapped so. Set it on the application
// before its commands are added: they take their parent's.
std::shared_ptr<CLI::Formatter> WrappingFormatter();

}  // namespace velaccap::cli
