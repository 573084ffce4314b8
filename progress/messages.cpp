#include "progress/messages.h"

namespace velaccap::progress {

std::string ErrorLines(std::string_view text) {
  std::string out;
  while (!text.empty() || out.empty()) {
    const std::size_t end = text.find('\n');
    out += kToolPrefix;
    out += text.substr(0, end);
    out += '\n';
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return out;
}

void SayError(std::ostream& err, std::string_view text) { err << ErrorLines(text); }

}  // namespace velaccap::progress
