// The password of an ODBC target given apart from its connection string, so
// that it need not stand on the command line, where every user of the
// machine sees it (ps). As SQL Server's sqlcmd reads SQLCMDPASSWORD, the tool
// reads APUPGRADE_ODBC_PASSWORD; or it asks on the terminal.
#pragma once

#include <string>

namespace velaccap::run {

inline constexpr const char* kPasswordVariable = "APUPGRADE_ODBC_PASSWORD";

// The password to add to `target`'s connection string: empty for a file
// target and for a connection string that holds PWD or Password already
// (which wins); otherwise, with `prompt`, the answer typed on the terminal
// without echo, else the value of APUPGRADE_ODBC_PASSWORD (empty when
// unset). Throws InputError when `prompt` cannot be honoured: a file target,
// a connection string with a password, standard input not a terminal.
std::string OdbcPassword(const std::string& target, bool prompt);

// The target to connect to: an ODBC connection string gets the password
// given apart from it.
std::string ConnectName(const std::string& target, const std::string& password);

}  // namespace velaccap::run
