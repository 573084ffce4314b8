// The ODBC target's recordsets, made for the connection object.
#pragma once

#include <memory>

#include "dbaccess/odbc_link.h"
#include "velaccap/dbaccess.h"

namespace velaccap::odbc_internal {

// A new, closed recordset on `link`: a table opened for adding rows or a
// read-only result, as TargetRecordset describes. Kept apart from the
// connection so that each can change without the other.
std::unique_ptr<TargetRecordset> NewOdbcRecordset(std::shared_ptr<Link> link);

}  // namespace velaccap::odbc_internal
