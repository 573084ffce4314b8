// A network between the run and its ODBC driver, simulated at the driver
// manager's boundary: the calls of the ODBC backend that cost a server a
// round trip are counted and, with a round-trip time set, each waits that
// long before it goes on. Linked into the network benchmark only, with the
// linker's --wrap for each function (see CMakeLists.txt), so that the
// backend's calls, and no one else's, pass through it.
//
// What counts as a round trip, as SQL Server's drivers spend them:
// - execute: SQLExecDirect, SQLExecute (an array of parameters is one);
// - prepare: SQLPrepare (a driver that prepares on the server at once; one
//   that defers it to the first execute spends none);
// - catalog: SQLColumns, SQLTables;
// - transaction: SQLEndTran, and switching autocommit on or off;
// - cursor: a fetch from a server cursor (any cursor type but forward-only)
//   and closing one. A forward-only result comes with its execute: its
//   fetches and its close cost nothing more.
// The login is not counted. Besides, the executes of arrays of more than one
// row are counted apart: SQL Server's drivers go on past a refused row of
// an array, so there the backend sets a savepoint before each such array, one
// round trip more that the SQLite driver, which stops at the row, is not
// asked for.
#pragma once

#include <array>
#include <cstddef>

namespace velaccap::bench {

enum RoundTripKind : std::size_t { kExecute, kPrepare, kCatalog, kTransaction, kCursor, kRoundTripKinds };

inline constexpr const char* kRoundTripKindNames[kRoundTripKinds] = {"execute", "prepare", "catalog", "transaction",
                                                                   "cursor"};

using RoundTrips = std::array<long long, kRoundTripKinds>;

// The round trips counted so far in this process.
RoundTrips CountedRoundTrips();

// The executes of arrays of more than one row so far.
long long CountedArrays();

// Each round trip from now on waits `microseconds` (0: none).
void SetRoundTripTime(long long microseconds);

// The time the waits took in all, in seconds: what the simulated network
// added, as the system's timers kept it.
double WaitedSeconds();

}  // namespace velaccap::bench
