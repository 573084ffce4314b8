// The invoice steps of the run: sales and purchase headers, and their detail
// lines, where the lines of continuation invoices (codes holding a blank) are
// folded into their parent invoices. Only invoices whose marker field is Null
// belong to this ledger; the steps read and clear no others.
#pragma once

#include "component/run_context.h"

namespace velaccap {

// Step 6: replaces the owned sales headers of ordinary invoices.
void MigrateSalesHeaders(RunContext& ctx);

// Step 7: copies the lines of ordinary sales invoices, then merges the lines
// of continuation invoices into their parents. The merge leaves its last
// parent query result, closed, in ctx.table.
void MigrateSalesDetails(RunContext& ctx);

// Step 8: sets the table recordset's lock type to pessimistic for the rest of
// the run, then replaces the owned purchase headers of ordinary invoices.
void MigratePurchaseHeaders(RunContext& ctx);

// Step 9: the purchase counterpart of step 7.
void MigratePurchaseDetails(RunContext& ctx);

}  // namespace velaccap
