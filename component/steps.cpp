#include "component/steps.h"

#include "component/table_copy.h"
#include "invoices/invoices.h"
#include "ledger/ledger.h"

namespace velaccap {

namespace {

// Steps 1 to 7 open their tables with the lock type the set-up gave the table
// recordset (optimistic); the purchase header step switches it to
// pessimistic for the rest of the run, and the payables detail ledger sets it
// again because the merge pass before it may have replaced the recordset.
constexpr Step kSteps[] = {
    {1, "Ap_AlarmSet", "Select * From Ap_AlarmSet Order By cFlag,cNum", nullptr, nullptr},
    {2, "Ap_BillAge", "Select * From Ap_BillAge Order By cFlag,cNum", nullptr, nullptr},
    {3, "Ap_CancelNo", nullptr, nullptr, MigrateCancelNumbers},
    {4, "Ap_CloseBill", "Select * From Ap_CloseBill Order By Auto_ID", "AUTO_ID", nullptr},
    {5, "Ap_CtrlCode", "Select * From Ap_CtrlCode Order By Auto_ID", "AUTO_ID", nullptr},
    {6, "SaleBillVouch", nullptr, nullptr, MigrateSalesHeaders},
    {7, "SaleBillVouchs", nullptr, nullptr, MigrateSalesDetails},
    {8, "PurBillVouch", nullptr, nullptr, MigratePurchaseHeaders},
    {9, "PurBillVouchs", nullptr, nullptr, MigratePurchaseDetails},
    {10, "Ap_Detail", nullptr, nullptr, MigrateApDetail},
    {11, "Ap_InputCode", nullptr, nullptr, MigrateInputCodes},
    {12, "Ap_InvCode", "Select * From Ap_InvCode Order By Auto_ID", "AUTO_ID", nullptr},
    {13, "Ap_Note", "Select * From Ap_Note Order By Auto_ID", "AUTO_ID", nullptr},
    {14, "Ap_Note_Sub", "Select * From Ap_Note_Sub Order By ID", "ID", nullptr},
    {15, "Ap_SStyleCode", "Select * From Ap_SStyleCode Order By Auto_ID", "AUTO_ID", nullptr},
    {16, "Ap_Vouch", "Select * From Ap_Vouch Order By Auto_ID", "AUTO_ID", nullptr},
    {17, "Ap_Vouchs", "Select * From Ap_Vouchs Order By Auto_ID", "AUTO_ID", nullptr},
    {18, "Ap_VouchType", "Select * From Ap_VouchType Order By cTypeCode", nullptr, nullptr},
    {19, "Ar_BadAge", "Select * From Ar_BadAge Order By cNum", nullptr, nullptr},
    {20, "Ar_BadPara", "Select * From Ar_BadPara Order By dJtDate", nullptr, nullptr},
    {21, "AccInformation", nullptr, nullptr, TransferOptions},
};

}  // namespace

std::span<const Step> StepTable() { return kSteps; }

void RunStep(RunContext& ctx, const Step& step) {
  if (step.run)
    step.run(ctx);
  else
    CopyTable(ctx, step.table, step.query, step.left_out ? step.left_out : "");
}

}  // namespace velaccap
