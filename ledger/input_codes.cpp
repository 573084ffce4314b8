#include <string>

#include "component/table_copy.h"
#include "ledger/ledger.h"

namespace velaccap {

void MigrateInputCodes(RunContext& ctx) {
  CopyTable(ctx, "Ap_InputCode", "Select * From Ap_InputCode Order By Auto_ID", "AUTO_ID");
  // 8.20 needs the exchange-difference account code, which 8.12 lacks. It is
  // added whatever the copy brought: a clash with a copied "49" is the
  // target's to refuse. The note is UTF-8 and goes out byte for byte.
  static const char kInsert[] =
      "INSERT INTO Ap_Inputcode(cNum,cNote,cNote_f,cFlag,cArCode,cArCodeName,cApCode,cApCodeName)";
  static const char kValues[] =
      " VALUES('49','币种兑换差异入账科目','dhcyrzkm','RP',Null,Null,Null,Null)";
  ctx.target.Execute(std::string(kInsert) + kValues);
}

}  // namespace velaccap
