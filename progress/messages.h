// The tool's errors as people read them among other programs' output: every
// line begins with the tool's name, also the later lines of a message that
// spans several (a refusal listing each problem).
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace velaccap::progress {

inline constexpr std::string_view kToolPrefix = "apupgrade: ";

// `text` with kToolPrefix before each of its lines, each ended by a newline.
std::string ErrorLines(std::string_view text);

// Writes ErrorLines(text) to `err`.
void SayError(std::ostream& err, std::string_view text);

}  // namespace velaccap::progress
