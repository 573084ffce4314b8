#include "run/password.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "dbaccess/odbc_connection_string.h"
#include "run/account_set.h"
#include "velaccap/open.h"

namespace velaccap::run {

namespace {

// The terminal's settings while echo is off, for a signal to put back before
// the process ends.
int g_tty = -1;
struct termios g_saved;
struct sigaction g_old_int, g_old_term, g_old_hup;

void RestoreAndRaise(int sig) {
  tcsetattr(g_tty, TCSAFLUSH, &g_saved);
  signal(sig, SIG_DFL);
  raise(sig);
}

// Reads one line from the terminal with echo off.
std::string AskTerminal(const std::string& question) {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw InputError(std::string("--password-prompt: cannot open the terminal: ") + std::strerror(errno));
  struct termios quiet;
  if (tcgetattr(fd, &g_saved) != 0) {
    const int e = errno;
    ::close(fd);
    throw InputError(std::string("--password-prompt: cannot read the terminal's settings: ") + std::strerror(e));
  }
  g_tty = fd;
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = RestoreAndRaise;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &g_old_int);
  sigaction(SIGTERM, &sa, &g_old_term);
  sigaction(SIGHUP, &sa, &g_old_hup);
  quiet = g_saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  tcsetattr(fd, TCSAFLUSH, &quiet);
  [[maybe_unused]] ssize_t written = ::write(fd, question.data(), question.size());
  std::string answer;
  int error = 0;
  for (;;) {
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0 || c == '\n') break;
    answer += c;
  }
  tcsetattr(fd, TCSAFLUSH, &g_saved);
  sigaction(SIGINT, &g_old_int, nullptr);
  sigaction(SIGTERM, &g_old_term, nullptr);
  sigaction(SIGHUP, &g_old_hup, nullptr);
  g_tty = -1;
  ::close(fd);
  if (error != 0) throw InputError(std::string("--password-prompt: cannot read the terminal: ") + std::strerror(error));
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  return answer;
}

}  // namespace

std::string OdbcPassword(const std::string& target, bool prompt) {
  constexpr std::string_view kOdbc = "odbc:";
  if (!target.starts_with(kOdbc)) {
    if (prompt) throw InputError("--password-prompt is for an odbc: TARGET; " + target + " is a file");
    return {};
  }
  const OdbcConnectionString cs = ParseOdbcConnectionString(std::string_view(target).substr(kOdbc.size()));
  if (cs.Find("PWD") || cs.Find("Password")) {
    if (prompt)
      throw InputError("--password-prompt: the connection string of TARGET holds a password already (" +
                       DisplayName(target) + ")");
    return {};
  }
  if (prompt) {
    if (!isatty(STDIN_FILENO))
      throw InputError(std::string("--password-prompt needs a terminal, and standard input is none; give the "
                                   "password in ") +
                       kPasswordVariable + " instead");
    return AskTerminal("Password for " + DisplayName(target) + ": ");
  }
  const char* value = std::getenv(kPasswordVariable);
  return value ? value : "";
}

std::string ConnectName(const std::string& target, const std::string& password) {
  constexpr std::string_view kOdbc = "odbc:";
  if (password.empty() || !target.starts_with(kOdbc)) return target;
  return std::string(kOdbc) + AddOdbcPassword(std::string_view(target).substr(kOdbc.size()), password);
}

}  // namespace velaccap::run
