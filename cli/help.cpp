#include "cli/help.h"

#include <sstream>

#include <CLI/CLI.hpp>

namespace velaccap::cli {

namespace {

// Where a line's wrapped text continues: after a name column ("  --wait
// SECONDS=5   Wait ...", "  2    bad usage") at the text that follows it,
// otherwise at the line's own indent.
std::size_t HangOf(const std::string& line) {
  const std::size_t indent = line.find_first_not_of(' ');
  if (indent == std::string::npos) return 0;
  const std::size_t gap = line.find("  ", indent);
  if (indent > 0 && gap != std::string::npos && gap < 40) {
    const std::size_t text = line.find_first_not_of(' ', gap);
    if (text != std::string::npos && text < 48) return text;
  }
  return indent;
}

class Wrapping : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    return WrapHelp(CLI::Formatter::make_help(app, std::move(name), mode));
  }
};

}  // namespace

std::string WrapHelp(const std::string& text, std::size_t columns) {
  std::string out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::size_t hang = HangOf(line);
    while (line.size() > columns) {
      std::size_t cut = line.rfind(' ', columns);
      if (cut == std::string::npos || cut <= hang) cut = line.find(' ', columns);
      if (cut == std::string::npos) break;  // one word longer than the line
      std::size_t end = cut;
      while (end > 0 && line[end - 1] == ' ') --end;
      out += line.substr(0, end) + '\n';
      const std::size_t next = line.find_first_not_of(' ', cut);
      if (next == std::string::npos) {
        line.clear();
        break;
      }
      line = std::string(hang, ' ') + line.substr(next);
    }
    out += line;
    out += '\n';
  }
  if (!text.empty() && text.back() != '\n' && !out.empty()) out.pop_back();
  return out;
}

std::shared_ptr<CLI::Formatter> WrappingFormatter() { return std::make_shared<Wrapping>(); }

}  // namespace velaccap::cli
