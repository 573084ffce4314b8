#include "velaccap/value.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velaccap {
namespace {

void ExpectError(const Value& v, const char* text) {
  try {
    v.ToInt32();
    ADD_FAILURE() << DebugString(v) << " converted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), text) << DebugString(v);
  }
}

TEST(ValueTest, ToInt32RoundsHalfToEvenAndConvertsNumberText) {
  EXPECT_EQ(Value::Integer(-7).ToInt32(), -7);
  EXPECT_EQ(Value::Real(2.5).ToInt32(), 2);
  EXPECT_EQ(Value::Real(3.5).ToInt32(), 4);
  EXPECT_EQ(Value::Real(-2.5).ToInt32(), -2);
  EXPECT_EQ(Value::Real(2.6).ToInt32(), 3);
  EXPECT_EQ(Value::Text(" 42 ").ToInt32(), 42);
  EXPECT_EQ(Value::Text("12.5").ToInt32(), 12);
  EXPECT_EQ(Value::Text("-3").ToInt32(), -3);
  EXPECT_EQ(Value::Text("+1e3").ToInt32(), 1000);
  EXPECT_EQ(Value::Integer(2147483647).ToInt32(), 2147483647);
  EXPECT_EQ(Value::Real(-2147483648.0).ToInt32(), -2147483647 - 1);
}

TEST(ValueTest, ToInt32Failures) {
  ExpectError(Value(), "Invalid use of Null");
  ExpectError(Value::Integer(2147483648LL), "Overflow");
  ExpectError(Value::Real(2147483647.5), "Overflow");  // rounds to the even 2147483648
  ExpectError(Value::Real(NAN), "Overflow");
  ExpectError(Value::Text("99999999999"), "Overflow");
  ExpectError(Value::Text("12abc"), "Type mismatch");
  ExpectError(Value::Text(""), "Type mismatch");
  ExpectError(Value::Text("nan"), "Type mismatch");
  ExpectError(Value::Date(DateTime{}), "Type mismatch");
}

TEST(ValueTest, NumbersInPlainShortestForm) {
  EXPECT_EQ(FormatNumber(-2), "-2");
  EXPECT_EQ(FormatNumber(2.0), "2");
  EXPECT_EQ(FormatNumber(0.1), "0.1");
  EXPECT_EQ(FormatNumber(1e20), "100000000000000000000");
  EXPECT_EQ(FormatNumber(1.5e-7), "0.00000015");
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(123456.789), "123456.789");
}

TEST(ValueTest, TextAndStatementForms) {
  EXPECT_EQ(Value::Integer(-12).ToText(), "-12");
  EXPECT_EQ(Value::Real(0.25).ToText(), "0.25");
  EXPECT_EQ(Value::YesNo(true).ToText(), "True");
  EXPECT_EQ(Value::YesNo(false).ToStatementText(), "0");
  EXPECT_EQ(Value::YesNo(true).ToStatementText(), "1");
  EXPECT_EQ(Value().ToStatementText(), "");
  EXPECT_EQ(Value::Text("it's").ToStatementText(), "it's");
  EXPECT_THROW(Value().ToText(), Error);
  EXPECT_EQ(DebugString(Value::Text("it's")), "'it''s'");
  EXPECT_EQ(DebugString(Value()), "NULL");
  EXPECT_EQ(QuoteDoubled("a''b'"), "a''''b''");
}

// Where a statement expects a number, only a number may stand: anything else
// would become part of the statement.
TEST(ValueTest, NumberTextAcceptsOnlyPlainNumbers) {
  auto number = [](const Value& v) {
    std::string out = "unchanged";
    return v.ToNumberText(&out) ? out : "refused";
  };
  EXPECT_EQ(number(Value()), "");
  EXPECT_EQ(number(Value::Integer(-7)), "-7");
  EXPECT_EQ(number(Value::Real(-2.5)), "-2.5");
  EXPECT_EQ(number(Value::YesNo(true)), "1");
  for (const char* plain : {"12", "-0.5", "2.50", ".5", "5.", "1e3", "1E-3", "-1e+2", "0012"})
    EXPECT_EQ(number(Value::Text(plain)), plain);
  EXPECT_EQ(number(Value::Text("+4")), "4");  // after a fragment's '+'
  for (const char* hostile : {"0 Where 0; DELETE FROM Ap_AlarmSet; --", "1000000 --", "abc", "NaN", "inf",
                              "-infinity", "1,5", " 1", "1 ", "", "+", "-", ".", "e5", "1e", "--1", "+-1", "0x10",
                              "1e999", "1)", "1'"})
    EXPECT_EQ(number(Value::Text(hostile)), "refused") << hostile;
  EXPECT_EQ(number(Value::Real(INFINITY)), "refused");
  EXPECT_EQ(number(Value::Real(NAN)), "refused");
  EXPECT_EQ(number(Value::Date(DateTime{})), "refused");
}

TEST(ValueTest, DateTimeTextRoundTrip) {
  DateTime dt;
  ASSERT_TRUE(ParseDateTime("2024-02-29 23:59:58", &dt));
  EXPECT_EQ(dt, (DateTime{2024, 2, 29, 23, 59, 58, 0}));
  EXPECT_EQ(FormatDateTime(dt), "2024-02-29 23:59:58");
  ASSERT_TRUE(ParseDateTime("2001-07-04", &dt));
  EXPECT_EQ(FormatDateTime(dt), "2001-07-04 00:00:00");
  ASSERT_TRUE(ParseDateTime("2001-07-04T08:30", &dt));
  EXPECT_EQ(FormatDateTime(dt), "2001-07-04 08:30:00");
  ASSERT_TRUE(ParseDateTime("2001-07-04 08:30:01.5", &dt));
  EXPECT_EQ(FormatDateTime(dt), "2001-07-04 08:30:01.500000");
  EXPECT_EQ(Value::Date(dt).ToStatementText(), "2001-07-04 08:30:01.500000");

  DateTime untouched{1, 2, 3, 4, 5, 6, 7};
  for (const char* bad : {"2023-02-29", "2001-13-01", "2001-07-04 24:00", "2001-07-04 08:30:", "2001-7-4",
                          "2001-07-04x", "04.07.2001", "", "2001-07-04 08:30:01."}) {
    EXPECT_FALSE(ParseDateTime(bad, &untouched)) << bad;
  }
  EXPECT_EQ(untouched, (DateTime{1, 2, 3, 4, 5, 6, 7}));
}

}  // namespace
}  // namespace velaccap
