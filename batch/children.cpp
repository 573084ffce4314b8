#include "batch/children.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <sstream>
#include <string_view>
#include <thread>

#include "dbaccess/odbc_connection_string.h"
#include "run/account_set.h"
#include "run/password.h"
#include "velaccap/open.h"

namespace velaccap::batch {

namespace {

using Clock = std::chrono::steady_clock;

// After SIGTERM or SIGINT a run rolls back at its next database operation;
// one that does not end within this long is killed, and its target
// recovered from the engine's journal.
constexpr auto kTermGrace = std::chrono::seconds(5);

volatile sig_atomic_t g_signal = 0;

void NoteSignal(int sig) {
  if (g_signal == 0) g_signal = sig;
}

// SIGINT and SIGTERM stop the batch from starting sets, for the object's
// lifetime; the running children are told by the batch itself, once, as
// they run in process groups of their own and a terminal's Ctrl-C does not
// reach them.
class Interrupts {
 public:
  Interrupts() {
    g_signal = 0;
    struct sigaction sa {};
    sa.sa_handler = NoteSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old_int_);
    sigaction(SIGTERM, &sa, &old_term_);
  }
  ~Interrupts() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
  }
  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

// A child that runs one set.
struct Child {
  std::size_t index = 0;
  pid_t pid = -1;
  Clock::time_point start;
  bool timed_out = false;   // SIGTERM sent for the timeout
  bool interrupted = false; // the batch's interrupt forwarded
  bool killed = false;      // SIGKILL sent
  Clock::time_point term_at;
};

}  // namespace

std::string SignalName(int sig) {
  switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGKILL: return "SIGKILL";
    case SIGSEGV: return "SIGSEGV";
    case SIGABRT: return "SIGABRT";
    case SIGBUS: return "SIGBUS";
    default: return "signal " + std::to_string(sig);
  }
}

std::string ErrorLines(const std::string& text) {
  std::string out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("apupgrade: ", 0) == 0) line.erase(0, 11);
    if (line.empty()) continue;
    out += (out.empty() ? "" : " / ") + line;
  }
  if (out.size() > 4000) out = out.substr(0, 4000) + " ...";
  return out;
}

ChildTarget SplitPassword(const std::string& target) {
  constexpr std::string_view kOdbc = "odbc:";
  if (!target.starts_with(kOdbc)) return {target, {}};
  const std::string text = target.substr(kOdbc.size());
  const OdbcConnectionString parsed = ParseOdbcConnectionString(text);
  if (!parsed.complete())
    throw Error("the connection string of " + run::DisplayName(target) +
                " cannot be read whole, so its password cannot be kept off the migration's command line");
  ChildTarget out{std::string(kOdbc), {}};
  std::size_t from = 0;
  bool first = true;
  for (const OdbcAttribute& a : parsed.attributes) {
    if (!IsOdbcPasswordKey(a.key)) continue;
    // The driver manager takes the first of repeated keys.
    if (first) out.password = a.value;
    first = false;
    out.argument += text.substr(from, a.key_begin - from);
    from = a.value_end < text.size() && text[a.value_end] == ';' ? a.value_end + 1 : a.value_end;
  }
  out.argument += text.substr(from);
  // A password that ended the string leaves the separator before it.
  if (!first && from >= text.size() && out.argument.ends_with(';')) out.argument.pop_back();
  return out;
}

pid_t Spawn(const std::string& tool, const std::vector<std::string>& args, const std::string& out_path,
            const std::string& err_path, const std::string& password) {
  std::vector<char*> argv{const_cast<char*>(tool.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Made before fork: only async-signal-safe calls run between fork and exec.
  const std::string variable = std::string(run::kPasswordVariable) + "=";
  const std::string setting = variable + password;
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e)
    if (password.empty() || !std::string_view(*e).starts_with(variable)) envp.push_back(*e);
  if (!password.empty()) envp.push_back(const_cast<char*>(setting.c_str()));
  envp.push_back(nullptr);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in < 0 || out < 0 || err < 0) {
    const int e = errno;
    for (int fd : {in, out, err})
      if (fd >= 0) ::close(fd);
    throw Error("cannot create " + err_path + ": " + std::strerror(e));
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    // Ignored until the migration watches for them itself: it does so from
    // its start to its commit. A signal that came after its commit would
    // otherwise end it before its summary says the set is done.
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGTERM, SIG_IGN);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(tool.c_str(), argv.data(), envp.data());
    const char msg[] = "apupgrade: cannot start the migration's process\n";
    (void)!::write(2, msg, sizeof msg - 1);
    ::_exit(127);
  }
  const int e = errno;
  for (int fd : {in, out, err}) ::close(fd);
  if (pid < 0) throw Error(std::string("cannot start a process for the set: ") + std::strerror(e));
  return pid;
}

int Schedule(std::size_t count, int jobs, int timeout_seconds, const std::function<pid_t(std::size_t)>& start,
             const std::function<void(std::size_t, const Ended&)>& ended,
             const std::function<void(std::size_t running, std::size_t next)>& tick, const bool* stop) {
  Interrupts interrupts;
  std::map<pid_t, Child> running;
  std::size_t next = 0;
  int interrupt = 0;
  for (;;) {
    for (;;) {
      int status = 0;
      const pid_t pid = ::waitpid(-1, &status, WNOHANG);
      if (pid <= 0) break;
      auto it = running.find(pid);
      if (it == running.end()) continue;
      const Child c = it->second;
      running.erase(it);
      ended(c.index, Ended{status, c.timed_out, c.interrupted,
                           std::chrono::duration<double>(Clock::now() - c.start).count()});
    }
    const auto now = Clock::now();
    if (g_signal != 0 && interrupt == 0) interrupt = g_signal;
    for (auto& [pid, c] : running) {
      if (interrupt != 0 && !c.interrupted && !c.timed_out) {
        // Told once: a second signal would end the run without its rollback.
        c.interrupted = true;
        c.term_at = now;
        ::kill(pid, interrupt);
      }
      if (timeout_seconds > 0 && !c.timed_out && !c.interrupted &&
          now - c.start >= std::chrono::seconds(timeout_seconds)) {
        c.timed_out = true;
        c.term_at = now;
        ::kill(pid, SIGTERM);
      }
      if ((c.timed_out || c.interrupted) && !c.killed && now - c.term_at >= kTermGrace) {
        c.killed = true;
        ::kill(pid, SIGKILL);
      }
    }
    while (interrupt == 0 && !*stop && next < count && running.size() < static_cast<std::size_t>(jobs)) {
      Child c;
      c.index = next++;
      c.start = Clock::now();
      c.pid = start(c.index);
      if (c.pid > 0) running[c.pid] = c;
    }
    tick(running.size(), next);
    if (running.empty() && (interrupt != 0 || *stop || next == count)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return interrupt;
}

}  // namespace velaccap::batch
