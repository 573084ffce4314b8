// The ledger steps of the run: cancellation numbers, the payables detail
// ledger, input codes and the receivable and payable options. Each runs on the
// run's databases and table recordset and throws Error on the first failure.
#pragma once

#include "component/run_context.h"

namespace velaccap {

// Step 3: replaces Ap_CancelNo with one row per cFlag and cType of the
// source, carrying that group's highest iCancelNo.
void MigrateCancelNumbers(RunContext& ctx);

// Step 10: copies Ap_Detail by column name with the table recordset locked
// pessimistically; references to continuation invoices are rewritten to the
// parent invoice and its detail line for the same item.
void MigrateApDetail(RunContext& ctx);

// Step 11: copies Ap_InputCode, then adds the exchange-difference code "49".
void MigrateInputCodes(RunContext& ctx);

// Step 21: sets the target's AR and AP option values to the source's.
void TransferOptions(RunContext& ctx);

}  // namespace velaccap
