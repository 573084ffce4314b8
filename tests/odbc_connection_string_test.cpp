// Connection strings read as the driver manager reads them, passwords masked
// whole whatever their spelling, and a failed connect's message showing the
// target but no password character.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dbaccess/odbc.h"
#include "dbaccess/odbc_connection_string.h"
#include "tests/support.h"
#include "velaccap/open.h"

namespace velaccap {
namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(testsupport::NewPrivateOdbcDriverList());

// key=value|key=value... of the attributes read, then "!N" when the text is
// unreadable from offset N.
std::string Read(std::string_view text) {
  OdbcConnectionString cs = ParseOdbcConnectionString(text);
  std::string out;
  for (const OdbcAttribute& a : cs.attributes) {
    if (!out.empty()) out += '|';
    out += a.key + "=" + a.value;
  }
  if (!cs.complete()) out += "!" + std::to_string(cs.unreadable_from);
  return out;
}

TEST(OdbcConnectionString, ReadsBracedValuesEscapedBracesAndKeysInAnyCase) {
  EXPECT_EQ(Read("DSN=ledger;UID=sa;PWD=secret"), "DSN=ledger|UID=sa|PWD=secret");
  EXPECT_EQ(Read("DRIVER={ODBC Driver 18 for SQL Server};Server=h,1433;"), "DRIVER=ODBC Driver 18 for SQL Server|Server=h,1433");
  EXPECT_EQ(Read("PWD={top}}secret;x}"), "PWD=top}secret;x");
  EXPECT_EQ(Read("PWD={}}}}};a=b"), "PWD=}}|a=b");
  EXPECT_EQ(Read("PWD={};a=b"), "PWD=|a=b");
  // Blanks around keys, around a braced value and empty parts are no text of
  // an attribute; an unbraced value is kept as written, '{' and '}' included.
  EXPECT_EQ(Read(" ;\tDatabase \t= x y ;; pwd = {a;b} ; Server=a}b{c; "),
            "Database= x y |pwd=a;b|Server=a}b{c");
  EXPECT_EQ(Read(""), "");
  EXPECT_EQ(Read(";"), "");

  OdbcConnectionString cs = ParseOdbcConnectionString("dsn=one;Password={p;w};DSN=two");
  EXPECT_EQ(cs.Value("DSN"), "one");  // the first of a repeated key, as the driver manager takes it
  EXPECT_EQ(cs.Value("PASSWORD"), "p;w");
  EXPECT_EQ(cs.Value("UID"), std::nullopt);
  ASSERT_EQ(cs.attributes.size(), 3u);
  // Spans: the key without blanks; the value from '=' to ';', braces included.
  const OdbcAttribute& pw = cs.attributes[1];
  EXPECT_EQ(pw.key_begin, 8u);
  EXPECT_EQ(pw.key_end, 16u);
  EXPECT_EQ(pw.value_begin, 17u);
  EXPECT_EQ(pw.value_end, 22u);
  EXPECT_TRUE(pw.braced);
  EXPECT_FALSE(cs.attributes[0].braced);
}

TEST(OdbcConnectionString, StopsAtWhatCannotBeRead) {
  EXPECT_EQ(Read("DSN=x;PWD={secret"), "DSN=x!10");      // unterminated brace: from its value
  EXPECT_EQ(Read("DSN=x;PWD={se}cret;a=b"), "DSN=x!10");  // text after the closing brace
  EXPECT_EQ(Read("DSN=x;PWD={se}}"), "DSN=x!10");         // "}}" is a brace of the value, none closes it
  EXPECT_EQ(Read("DSN=x;secret;a=b"), "DSN=x!6");         // no '='
  EXPECT_EQ(Read("DSN=x; =secret"), "DSN=x!6");           // no key
  EXPECT_EQ(Read("DSN=x;{PWD}=secret"), "DSN=x!6");     // a brace in the key
  EXPECT_EQ(Read("DSN={x; pwd =secret}"), "!4");          // a password inside another value
  EXPECT_EQ(Read("secret"), "!0");
}

TEST(OdbcConnectionString, MasksEveryPasswordWholeAndNothingElse) {
  EXPECT_EQ(MaskOdbcPasswords("DSN=ledger;UID=sa;PWD=secret"), "DSN=ledger;UID=sa;PWD=***");
  EXPECT_EQ(MaskOdbcPasswords("PWD={top}}secret;x}"), "PWD=***");
  EXPECT_EQ(MaskOdbcPasswords("PWD={top}}secret;x};Database=d"), "PWD=***;Database=d");
  EXPECT_EQ(MaskOdbcPasswords("Password=a;pwd={b;c};x=1; PassWord = {d}} } ;pWd="),
            "Password=***;pwd=***;x=1; PassWord =***;pWd=***");
  // Blanks before the brace: the braces still hold the ';'.
  EXPECT_EQ(MaskOdbcPasswords("PWD= {se;Server=cret};UID=u"), "PWD=***;UID=u");
  // Everything but the password values stays byte for byte.
  EXPECT_EQ(MaskOdbcPasswords(" DRIVER={Free TDS} ;Server=h;;UID=u;TDS_Version=7.4; "),
            " DRIVER={Free TDS} ;Server=h;;UID=u;TDS_Version=7.4; ");
  EXPECT_EQ(MaskOdbcPasswords("PWDX=shown;XPWD=shown;PW=shown"), "PWDX=shown;XPWD=shown;PW=shown");
  // From what cannot be read on, all is masked.
  EXPECT_EQ(MaskOdbcPasswords("DSN=x;PWD={secret"), "DSN=x;PWD=***");
  EXPECT_EQ(MaskOdbcPasswords("DSN=x;PWD={se}cret;a=b"), "DSN=x;PWD=***");
  EXPECT_EQ(MaskOdbcPasswords("DSN={x;PWD=secret"), "DSN=***");
  EXPECT_EQ(MaskOdbcPasswords("PWD=a;secret;b=c"), "PWD=***;***");
  EXPECT_EQ(MaskOdbcPasswords("PWD{a=b}"), "***");
  // A brace left open before the password: legal, but the password would
  // be shown as part of another value.
  EXPECT_EQ(MaskOdbcPasswords("UID=u;Database={d;PWD=secret;x=}"), "UID=u;Database=***");
  EXPECT_EQ(MaskOdbcPasswords("PWD={d;PWD=secret;x=}"), "PWD=***");
  EXPECT_EQ(MaskOdbcPasswords("secret"), "***");
  EXPECT_EQ(MaskOdbcPasswords(""), "");
}

// A password given apart from the connection string is added braced, so
// that whatever it holds reads back whole and is masked whole.
TEST(OdbcConnectionString, AddsAPasswordBracedWhereNoneIs) {
  EXPECT_EQ(AddOdbcPassword("DSN=x", "p"), "DSN=x;PWD={p}");
  EXPECT_EQ(AddOdbcPassword("DSN=x;", "top}secret;x"), "DSN=x;PWD={top}}secret;x}");
  EXPECT_EQ(AddOdbcPassword("DSN=x; \t", "p"), "DSN=x; \tPWD={p}");
  EXPECT_EQ(AddOdbcPassword("", "p"), "PWD={p}");
  // A password written in the string wins; an unreadable string is left as
  // it is; no password, nothing added.
  for (const char* text : {"DSN=x;pwd=own", "Password={o;wn};DSN=x", "DSN={x", "DSN=x;secret"})
    EXPECT_EQ(AddOdbcPassword(text, "p"), text);
  EXPECT_EQ(AddOdbcPassword("DSN=x", ""), "DSN=x");

  std::mt19937 rng(7);
  const std::string chars = "{};= \tab}}{{";
  for (int round = 0; round < 2000; ++round) {
    std::string password;
    for (int n = 1 + static_cast<int>(rng() % 8); n > 0; --n) password += chars[rng() % chars.size()];
    const std::string text = AddOdbcPassword("DRIVER={Free TDS};UID=u", password);
    const OdbcConnectionString cs = ParseOdbcConnectionString(text);
    ASSERT_TRUE(cs.complete()) << text;
    ASSERT_EQ(cs.Value("PWD"), password) << text;
    ASSERT_EQ(cs.Value("UID"), "u") << text;
    ASSERT_EQ(MaskOdbcPasswords(text), "DRIVER={Free TDS};UID=u;PWD=***") << text;
  }
  // Awkward spellings a user may write: the braces' ends where the reader
  // finds them, the rest masked.
  EXPECT_EQ(MaskOdbcPasswords("PWD={a}}};b}"), "PWD=***;***");
  EXPECT_EQ(MaskOdbcPasswords("UID=u;PWD={;};PWD=x"), "UID=u;PWD=***;PWD=***");
  EXPECT_EQ(MaskOdbcPasswords("PWD= {x} ;UID=u"), "PWD=***;UID=u");
}

// Connection strings whose password values alone hold '#', some of them
// damaged as a user may damage them: every '#' must be masked.
TEST(OdbcConnectionString, NoPasswordCharacterSurvivesMaskingWhateverTheDamage) {
  std::mt19937 rng(12345);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::vector<std::string> keys = {"DSN", "UID", "Server", "Database", "DRIVER", "x"};
  const std::vector<std::string> password_keys = {"PWD", "pwd", "Password", "PASSWORD", " PwD\t"};
  const std::string other_chars = "ab {};= \t";
  const std::string secret_chars = "#{};= \t";
  auto text = [&](const std::string& chars, bool unbraced) {
    std::string v;
    for (int n = pick(6); n > 0; --n) v += chars[pick(static_cast<int>(chars.size()))];
    if (!unbraced) return v;
    // An unbraced value ends at ';' and one starting with '{' is braced.
    std::string out;
    for (char c : v)
      if (c != ';') out += c;
    std::size_t first = out.find_first_not_of(" \t\r\n\f\v");
    if (first != std::string::npos && out[first] == '{') out[first] = 'a';
    return out;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string cs;
    for (int n = 1 + pick(4); n > 0; --n) {
      const bool secret = pick(2) == 0;
      std::string key = secret ? password_keys[pick(5)] : keys[pick(6)];
      const std::string& chars = secret ? secret_chars : other_chars;
      std::string value;
      switch (pick(5)) {
        case 0: value = text(chars, true); break;
        case 1: {  // braced, '}' doubled
          std::string v;
          for (char c : text(chars, false)) v += c == '}' ? std::string("}}") : std::string(1, c);
          value = "{" + v + "}";
          break;
        }
        case 2: value = "{" + text(chars, false) + "}"; break;   // '}' maybe not doubled
        case 3: value = " {" + text(chars, false); break;         // maybe unterminated
        case 4: value = text(chars, true) + "}" + text(chars, true); break;
      }
      if (!secret) {
        // Other values hold no '#'.
        for (char& c : value)
          if (c == '#') c = 'a';
      }
      const bool no_key = pick(10) == 0, no_equals = pick(12) == 0;
      if (no_key) key.clear();
      for (char& c : value) {
        // Without its key or '=' a value is no password; without '=' its own
        // '=' would make an attribute of another key.
        if (c == '#' && (no_key || no_equals)) c = 'a';
        if (c == '=' && no_equals) c = 'a';
      }
      cs += key + (no_equals ? "" : "=") + value + ";";
    }
    if (pick(2)) cs.pop_back();
    const std::string masked = MaskOdbcPasswords(cs);
    ASSERT_EQ(masked.find('#'), std::string::npos) << cs << " -> " << masked;
  }
}

TEST(OdbcConnectionString, AFailedConnectShowsTheTargetAndNoPassword) {
  auto message = [](const std::string& cs) {
    try {
      OpenOdbcTarget(cs);
    } catch (const InputError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  std::string m = message("Driver={NoSuchDriver};Server=h;PWD={top}}secret;x};Database={a;b}");
  EXPECT_EQ(m.rfind("Cannot connect to the ODBC target (Driver=NoSuchDriver, Server=h, Database=a;b): ", 0), 0u) << m;
  for (const char* piece : {"top", "secret", ";x"}) EXPECT_EQ(m.find(piece), std::string::npos) << m;

  // Past an unreadable part nothing is named, lest a password be taken for a value.
  m = message("DSN=NoSuchDsn;PWD={se;Server=cret");
  EXPECT_EQ(m.rfind("Cannot connect to the ODBC target (DSN=NoSuchDsn): ", 0), 0u) << m;
  EXPECT_EQ(m.find("cret"), std::string::npos) << m;
  m = message("DSN= {NoSuchDsn};Password={Database=cret};Database=d");
  EXPECT_EQ(m.rfind("Cannot connect to the ODBC target (DSN=NoSuchDsn, Database=d): ", 0), 0u) << m;
  EXPECT_EQ(m.find("cret"), std::string::npos) << m;
}

}  // namespace
}  // namespace velaccap
