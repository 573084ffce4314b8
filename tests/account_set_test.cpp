// The names the tool's messages give a target: a file as it is, a connection
// string with no password character left.
#include <gtest/gtest.h>

#include <string>

#include "run/account_set.h"

namespace velaccap::run {
namespace {

TEST(DisplayName, MasksEveryPasswordOfAConnectionString) {
  EXPECT_EQ(DisplayName("odbc:DSN=ledger;UID=sa;PWD=secret"), "odbc:DSN=ledger;UID=sa;PWD=***");
  // A braced password with an escaped brace and a ';' of its own.
  EXPECT_EQ(DisplayName("odbc:PWD={top}}secret;x}"), "odbc:PWD=***");
  EXPECT_EQ(DisplayName("odbc:Driver={FreeTDS};password={a;b};Server=h;Pwd=c"),
            "odbc:Driver={FreeTDS};password=***;Server=h;Pwd=***");
  // The first attribute right after the prefix.
  EXPECT_EQ(DisplayName("odbc:PWD=secret;DSN=x"), "odbc:PWD=***;DSN=x");
  // Unreadable from an unterminated brace on.
  EXPECT_EQ(DisplayName("odbc:DSN={x;PWD=secret"), "odbc:DSN=***");
  EXPECT_EQ(DisplayName("odbc:DSN=x;PWD={se;cret"), "odbc:DSN=x;PWD=***");
  // A connection string without its prefix is masked all the same.
  EXPECT_EQ(DisplayName("DSN=x;PWD=secret"), "DSN=x;PWD=***");
  EXPECT_EQ(DisplayName("x;PWD=secret"), "***");
}

TEST(DisplayName, ShowsAFileNameAsItIs) {
  for (const char* name : {"ledger820.db", "/data/run=3/ledger.db", "ODBC-notes;PWD.db", "C:\\ledgers\\a b.db"})
    EXPECT_EQ(DisplayName(name), name);
}

}  // namespace
}  // namespace velaccap::run
