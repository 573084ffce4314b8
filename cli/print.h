// What the commands' printing shares.
#pragma once

#include <string>

namespace velaccap::cli {

// "1 check", "2 checks".
inline std::string Plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace velaccap::cli
