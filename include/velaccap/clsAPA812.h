// The ledger upgrade component: one call carries one account set's
// receivables and payables ledger from its 8.12 database into its 8.20
// database.
#pragma once

#include <string>

#include "velaccap/dbaccess.h"

namespace velaccap {

class clsAPA812 {
 public:
  // Runs the whole migration from dbSource into oCn, step by step. Returns
  // true when every step completed; false when one failed, in which case
  // ErrDescription() tells why. Never throws. Nothing is rolled back: a host
  // that wants all or nothing encloses the call in its own transaction.
  bool UpdateA812ToS820(SourceDatabase& dbSource, TargetConnection& oCn);

  // The description of the error that stopped the last run; empty before
  // the first run and after a successful one.
  std::string ErrDescription() const { return err_description_; }

 private:
  std::string err_description_;
};

}  // namespace velaccap
