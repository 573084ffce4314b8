#include <memory>
#include <string>

#include "ledger/ledger.h"

namespace velaccap {

namespace {

// A value as it stands between the single quotes of a statement. Quotes are
// doubled so the target stores the text itself; Null gives the empty text.
std::string Literal(const Value& v) { return QuoteDoubled(v.ToStatementText()); }

}  // namespace

void TransferOptions(RunContext& ctx) {
  std::unique_ptr<SourceRecordset> source = ctx.source.OpenRecordset(
      "SELECT cSysID,cName,cValue FROM AccInformation WHERE cSysID='AR' or cSysID='AP' "
      "ORDER BY cSysID,cName");
  // The query names its three columns, so they stand at fixed positions.
  constexpr int kSysId = 0, kName = 1, kValue = 2;
  while (!source->eof()) {
    const Value& value = source->field_value(kValue);
    std::string statement = value.is_null()
                                ? std::string("Update AccInformation Set cValue=Null")
                                : "Update AccInformation Set cValue='" + Literal(value) + "'";
    // An option the target lacks changes no row, which is not an error.
    statement += " Where cSysID='" + Literal(source->field_value(kSysId)) + "' And cName='" +
                 Literal(source->field_value(kName)) + "'";
    ctx.target.Execute(statement);
    source->move_next();
  }
  source->close();
}

}  // namespace velaccap
