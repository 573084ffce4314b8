// Statements arrive in SQL Server's dialect. An engine that lacks a form gets
// the equivalent it has; every other statement passes as it stands.
#pragma once

#include <string>

namespace velaccap {

// "Delete T"                  -> "DELETE FROM T"
// "Delete T Where c"          -> "DELETE FROM T WHERE c"
// "Delete T From U Where c"   -> "DELETE FROM T WHERE EXISTS (SELECT 1 FROM U WHERE c)"
// Anything else (including "Delete From T ...") is returned unchanged.
std::string AdaptDeleteStatement(const std::string& statement);

}  // namespace velaccap
