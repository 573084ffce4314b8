// What a fuzz target does when a property it checks does not hold. Under
// libFuzzer it stops the process, so the input is kept as a crash; replayed
// by the regression test it throws, so the test names the input and goes on.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#ifdef VELACCAP_FUZZ_REPLAY
#define VELACCAP_FUZZ_CHECK(cond, what)                                                     \
  do {                                                                                      \
    if (!(cond)) throw std::logic_error(std::string(what) + " (" #cond ")");                \
  } while (0)
#else
#define VELACCAP_FUZZ_CHECK(cond, what)                                                     \
  do {                                                                                      \
    if (!(cond)) {                                                                          \
      std::fprintf(stderr, "fuzz check failed: %s (%s)\n", std::string(what).c_str(), #cond); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)
#endif
