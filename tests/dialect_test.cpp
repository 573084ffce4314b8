#include "dbaccess/dialect.h"
#include "dbaccess/query_tables.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velaccap {
namespace {

TEST(DialectTest, AdaptsTheThreeDeleteForms) {
  EXPECT_EQ(AdaptDeleteStatement("Delete Ap_AlarmSet"), "DELETE FROM Ap_AlarmSet");
  EXPECT_EQ(AdaptDeleteStatement("Delete SaleBillVouch Where cSTCode Is Null"),
            "DELETE FROM SaleBillVouch WHERE cSTCode Is Null");
  EXPECT_EQ(AdaptDeleteStatement("Delete SaleBillVouchs From SaleBillVouch Where cSTCode Is Null And "
                                 "SaleBillVouchs.SBVID=SaleBillVouch.SBVID"),
            "DELETE FROM SaleBillVouchs WHERE EXISTS (SELECT 1 FROM SaleBillVouch WHERE cSTCode Is Null And "
            "SaleBillVouchs.SBVID=SaleBillVouch.SBVID)");
}

TEST(DialectTest, KeywordsInAnyCaseAndBlanks) {
  EXPECT_EQ(AdaptDeleteStatement("  DELETE\tT  "), "DELETE FROM T");
  EXPECT_EQ(AdaptDeleteStatement("delete T\n  where\ta = 'x  y'"), "DELETE FROM T WHERE a = 'x  y'");
  EXPECT_EQ(AdaptDeleteStatement("dElEtE T\r\nfrom  U\nWHERE T.id=U.id "),
            "DELETE FROM T WHERE EXISTS (SELECT 1 FROM U WHERE T.id=U.id)");
  // Only the first "where" ends the table list.
  EXPECT_EQ(AdaptDeleteStatement("Delete T From U Where x In (Select y From V Where z=1)"),
            "DELETE FROM T WHERE EXISTS (SELECT 1 FROM U WHERE x In (Select y From V Where z=1))");
}

TEST(DialectTest, LeavesOtherStatementsAlone) {
  for (const char* s : {
           "Delete From T",
           "delete from T Where a=1",
           "DELETE FROM T WHERE EXISTS (SELECT 1)",
           "Update T Set a=U.a From U Where T.id=U.id",
           "Select * From T",
           "Insert Into T (a) Values ('Delete T')",
           "Deleted T",
           "Delete",
           "Delete T Where",
           "Delete T From U",
           "Delete T Into U",
       }) {
    EXPECT_EQ(AdaptDeleteStatement(s), s);
  }
}

}  // namespace
// What a query reads is told only where its text leaves no doubt.
TEST(DialectTest, TablesReadByAPlainSelectOnly) {
  using Tables = std::optional<std::vector<std::string>>;
  EXPECT_EQ(TablesReadBy("Select AutoID From SaleBillVouchs INNER JOIN SaleBillVouch ON "
                         "SaleBillVouchs.SBVID=SaleBillVouch.SBVID Where cVouchType='26' and cSBVCode='A7' "
                         "and cInvCode='it''s, (x) from Ap_Detail; --'"),
            (Tables{{"SaleBillVouchs", "SaleBillVouch"}}));
  EXPECT_EQ(TablesReadBy("select a, b from T t left join U u on t.x=u.x where a>-1"), (Tables{{"T", "U"}}));
  for (const char* unsure :
       {"Select count(*) From T", "Select a From T Where a In (Select a From U)", "Select a From T, U",
        "Select a From dbo.T", "Select a From [T]", "Select a From \"T\"", "Select a Into X From T",
        "Select a From T; Delete U", "Select a From T -- U", "Select a From T /* U */", "Select 'open From T",
        "Update T Set a=1", "Select 1", "Select a From", "With c As (Select 1) Select * From c"})
    EXPECT_EQ(TablesReadBy(unsure), std::nullopt) << unsure;
}

}  // namespace velaccap
