// The names the tool's messages give a target: a file as it is, a connection
// string with no password character left.
#include <gtest/gtest.h>

#include <string>

#include "run/account_set.h"

namespace velaccap::run {
namespace {

// The masking itself is the connection string reader's; here, that the
// prefix is kept and a string without it is masked too.
TEST(DisplayName, MasksEveryPasswordOfAConnectionString) {
  EXPECT_EQ(DisplayName("odbc:PWD=secret;DSN=x"), "odbc:PWD=***;DSN=x");
  EXPECT_EQ(DisplayName("odbc:DSN={x;PWD=secret"), "odbc:DSN=***");
  EXPECT_EQ(DisplayName("DSN=x;PWD=secret"), "DSN=x;PWD=***");
}

TEST(DisplayName, ShowsAFileNameAsItIs) {
  for (const char* name : {"ledger820.db", "/data/run=3/ledger.db", "ODBC-notes;PWD.db", "C:\\ledgers\\a b.db"})
    EXPECT_EQ(DisplayName(name), name);
}

}  // namespace
}  // namespace velaccap::run
