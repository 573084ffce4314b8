// The batch's children: each set migrated (or checked) by a process of the
// tool of its own, N at a time, told of the batch's interrupt, ended at its
// timeout, with an ODBC password kept off its command line.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace velaccap::batch {

// "SIGINT", "SIGKILL", ... or "signal N".
std::string SignalName(int sig);

// The messages a child wrote on stderr, as one line: "apupgrade: " left off.
std::string ErrorLines(const std::string& text);

// A set's target as a child's argument: the command line is every local
// user's to read (/proc/PID/cmdline), so the password of a connection string
// is taken out of it, to be handed over in the child's environment, which
// only its owner can read.
struct ChildTarget {
  std::string argument;
  std::string password;  // empty: none taken out
};

ChildTarget SplitPassword(const std::string& target);

// Starts `tool` with `args` in a process group of its own, its stdout and
// stderr into the files given, its stdin empty, with `password` (when not
// empty) as the ODBC password in its environment.
pid_t Spawn(const std::string& tool, const std::vector<std::string>& args, const std::string& out_path,
            const std::string& err_path, const std::string& password = "");

// How a child ended, as the scheduler saw it.
struct Ended {
  int status = 0;  // waitpid's
  bool timed_out = false;
  bool interrupted = false;
  double seconds = 0;
};

// Runs `count` children, `jobs` at a time: `start(i)` starts the i-th and
// returns its pid, `ended(i, how)` takes its end. Stops starting at an
// interrupt and forwards it to the running ones; enforces the timeout;
// `tick` draws progress. Returns the signal that interrupted, or 0.
int Schedule(std::size_t count, int jobs, int timeout_seconds, const std::function<pid_t(std::size_t)>& start,
             const std::function<void(std::size_t, const Ended&)>& ended,
             const std::function<void(std::size_t running, std::size_t next)>& tick, const bool* stop);

}  // namespace velaccap::batch
