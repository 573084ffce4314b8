#include "bench/odbc_round_trips.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <unordered_map>

namespace velaccap::bench {

namespace {

RoundTrips g_counted{};
long long g_wait_ns = 0;
std::chrono::steady_clock::duration g_waited{};

// A statement's cursor: a server cursor costs a round trip per fetch and to
// close, once its execute has opened it.
struct CursorState {
  bool server = false;
  bool open = false;
  SQLULEN paramset = 1;
};
long long g_arrays = 0;
std::unordered_map<SQLHSTMT, CursorState>& Cursors() {
  static std::unordered_map<SQLHSTMT, CursorState> cursors;
  return cursors;
}

void Trip(RoundTripKind kind) {
  ++g_counted[kind];
  if (g_wait_ns == 0) return;
  // A sleep wakes up late by the scheduler's latency (50 to 100 µs on a busy
  // machine), so it ends that much early and the rest is waited out awake.
  const auto start = std::chrono::steady_clock::now();
  const auto until = start + std::chrono::nanoseconds(g_wait_ns);
  constexpr long long kWakeUpNs = 100'000;
  if (g_wait_ns > kWakeUpNs) {
    const timespec nap{0, g_wait_ns - kWakeUpNs};
    nanosleep(&nap, nullptr);
  }
  while (std::chrono::steady_clock::now() < until) {
  }
  g_waited += std::chrono::steady_clock::now() - start;
}

void Closed(SQLHSTMT h) {
  auto it = Cursors().find(h);
  if (it != Cursors().end() && it->second.open) {
    it->second.open = false;
    Trip(kCursor);
  }
}

// An execute closes the statement's cursor left open, and opens a new one.
void Executed(SQLHSTMT h, SQLRETURN rc) {
  Closed(h);
  auto it = Cursors().find(h);
  if (it != Cursors().end() && it->second.server && (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO))
    it->second.open = true;
}

void Fetched(SQLHSTMT h) {
  auto it = Cursors().find(h);
  if (it != Cursors().end() && it->second.open) Trip(kCursor);
}

}  // namespace

RoundTrips CountedRoundTrips() { return g_counted; }

long long CountedArrays() { return g_arrays; }

void SetRoundTripTime(long long microseconds) {
  g_wait_ns = microseconds * 1000;
  // The kernel may otherwise let a wait run 50 µs long, a sixth of a LAN's
  // round trip.
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
}

double WaitedSeconds() { return std::chrono::duration<double>(g_waited).count(); }

}  // namespace velaccap::bench

using velaccap::bench::Trip;

extern "C" {

SQLRETURN __real_SQLExecDirect(SQLHSTMT, SQLCHAR*, SQLINTEGER);
SQLRETURN __real_SQLExecDirectW(SQLHSTMT, SQLWCHAR*, SQLINTEGER);
SQLRETURN __real_SQLExecute(SQLHSTMT);
SQLRETURN __real_SQLPrepare(SQLHSTMT, SQLCHAR*, SQLINTEGER);
SQLRETURN __real_SQLPrepareW(SQLHSTMT, SQLWCHAR*, SQLINTEGER);
SQLRETURN __real_SQLEndTran(SQLSMALLINT, SQLHANDLE, SQLSMALLINT);
SQLRETURN __real_SQLSetConnectAttr(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER);
SQLRETURN __real_SQLColumns(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                            SQLSMALLINT);
SQLRETURN __real_SQLColumnsW(SQLHSTMT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT,
                             SQLWCHAR*, SQLSMALLINT);
SQLRETURN __real_SQLTables(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                           SQLSMALLINT);
SQLRETURN __real_SQLTablesW(SQLHSTMT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT,
                            SQLWCHAR*, SQLSMALLINT);
SQLRETURN __real_SQLSetStmtAttr(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER);
SQLRETURN __real_SQLFetch(SQLHSTMT);
SQLRETURN __real_SQLFetchScroll(SQLHSTMT, SQLSMALLINT, SQLLEN);
SQLRETURN __real_SQLFreeStmt(SQLHSTMT, SQLUSMALLINT);
SQLRETURN __real_SQLCloseCursor(SQLHSTMT);
SQLRETURN __real_SQLFreeHandle(SQLSMALLINT, SQLHANDLE);

SQLRETURN __wrap_SQLExecDirect(SQLHSTMT h, SQLCHAR* text, SQLINTEGER n) {
  Trip(velaccap::bench::kExecute);
  const SQLRETURN rc = __real_SQLExecDirect(h, text, n);
  velaccap::bench::Executed(h, rc);
  return rc;
}

SQLRETURN __wrap_SQLExecDirectW(SQLHSTMT h, SQLWCHAR* text, SQLINTEGER n) {
  Trip(velaccap::bench::kExecute);
  const SQLRETURN rc = __real_SQLExecDirectW(h, text, n);
  velaccap::bench::Executed(h, rc);
  return rc;
}

SQLRETURN __wrap_SQLExecute(SQLHSTMT h) {
  Trip(velaccap::bench::kExecute);
  if (velaccap::bench::Cursors()[h].paramset > 1) ++velaccap::bench::g_arrays;
  const SQLRETURN rc = __real_SQLExecute(h);
  velaccap::bench::Executed(h, rc);
  return rc;
}

SQLRETURN __wrap_SQLPrepare(SQLHSTMT h, SQLCHAR* text, SQLINTEGER n) {
  Trip(velaccap::bench::kPrepare);
  return __real_SQLPrepare(h, text, n);
}

SQLRETURN __wrap_SQLPrepareW(SQLHSTMT h, SQLWCHAR* text, SQLINTEGER n) {
  Trip(velaccap::bench::kPrepare);
  return __real_SQLPrepareW(h, text, n);
}

SQLRETURN __wrap_SQLEndTran(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT how) {
  Trip(velaccap::bench::kTransaction);
  return __real_SQLEndTran(type, h, how);
}

SQLRETURN __wrap_SQLSetConnectAttr(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER n) {
  if (attribute == SQL_ATTR_AUTOCOMMIT) Trip(velaccap::bench::kTransaction);
  return __real_SQLSetConnectAttr(h, attribute, value, n);
}

SQLRETURN __wrap_SQLColumns(SQLHSTMT h, SQLCHAR* c, SQLSMALLINT cn, SQLCHAR* s, SQLSMALLINT sn, SQLCHAR* t,
                            SQLSMALLINT tn, SQLCHAR* col, SQLSMALLINT coln) {
  Trip(velaccap::bench::kCatalog);
  return __real_SQLColumns(h, c, cn, s, sn, t, tn, col, coln);
}

SQLRETURN __wrap_SQLColumnsW(SQLHSTMT h, SQLWCHAR* c, SQLSMALLINT cn, SQLWCHAR* s, SQLSMALLINT sn, SQLWCHAR* t,
                             SQLSMALLINT tn, SQLWCHAR* col, SQLSMALLINT coln) {
  Trip(velaccap::bench::kCatalog);
  return __real_SQLColumnsW(h, c, cn, s, sn, t, tn, col, coln);
}

SQLRETURN __wrap_SQLTables(SQLHSTMT h, SQLCHAR* c, SQLSMALLINT cn, SQLCHAR* s, SQLSMALLINT sn, SQLCHAR* t,
                           SQLSMALLINT tn, SQLCHAR* ty, SQLSMALLINT tyn) {
  Trip(velaccap::bench::kCatalog);
  return __real_SQLTables(h, c, cn, s, sn, t, tn, ty, tyn);
}

SQLRETURN __wrap_SQLTablesW(SQLHSTMT h, SQLWCHAR* c, SQLSMALLINT cn, SQLWCHAR* s, SQLSMALLINT sn, SQLWCHAR* t,
                            SQLSMALLINT tn, SQLWCHAR* ty, SQLSMALLINT tyn) {
  Trip(velaccap::bench::kCatalog);
  return __real_SQLTablesW(h, c, cn, s, sn, t, tn, ty, tyn);
}

SQLRETURN __wrap_SQLSetStmtAttr(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER n) {
  if (attribute == SQL_ATTR_CURSOR_TYPE)
    velaccap::bench::Cursors()[h].server = reinterpret_cast<SQLULEN>(value) != SQL_CURSOR_FORWARD_ONLY;
  if (attribute == SQL_ATTR_PARAMSET_SIZE) velaccap::bench::Cursors()[h].paramset = reinterpret_cast<SQLULEN>(value);
  return __real_SQLSetStmtAttr(h, attribute, value, n);
}

SQLRETURN __wrap_SQLFetch(SQLHSTMT h) {
  velaccap::bench::Fetched(h);
  return __real_SQLFetch(h);
}

SQLRETURN __wrap_SQLFetchScroll(SQLHSTMT h, SQLSMALLINT how, SQLLEN offset) {
  velaccap::bench::Fetched(h);
  return __real_SQLFetchScroll(h, how, offset);
}

SQLRETURN __wrap_SQLFreeStmt(SQLHSTMT h, SQLUSMALLINT option) {
  if (option == SQL_CLOSE || option == SQL_DROP) velaccap::bench::Closed(h);
  return __real_SQLFreeStmt(h, option);
}

SQLRETURN __wrap_SQLCloseCursor(SQLHSTMT h) {
  velaccap::bench::Closed(h);
  return __real_SQLCloseCursor(h);
}

SQLRETURN __wrap_SQLFreeHandle(SQLSMALLINT type, SQLHANDLE h) {
  if (type == SQL_HANDLE_STMT) {
    velaccap::bench::Closed(h);
    velaccap::bench::Cursors().erase(h);
  }
  return __real_SQLFreeHandle(type, h);
}

}  // extern "C"
