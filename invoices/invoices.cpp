#include "invoices/invoices.h"

#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "component/table_copy.h"
#include "invoices/kinds.h"
#include "invoices/voucher_code.h"

namespace velaccap {

namespace {

using Pair = FieldMapWriter::Pair;

// ------------------------------------------------------------------ headers


constexpr Pair kSalesHeaderMap[] = {
    {"SBVID", "SBVID"},
    {"cSBVCode", "cSBVCode"},
    {"cVouchType", "cVouchType"},
    {"dDate", "dDate"},
    {"cDepCode", "cDepCode"},
    {"cPersonCode", "cPersonCode"},
    {"cSOCode", "cSOCode"},
    {"cCusCode", "cCusCode"},
    {"cPayCode", "cPayCode"},
    {"cexch_name", "cexch_name"},
    {"cMemo", "cMemo"},
    {"iExchRate", "iExchRate"},
    {"iTaxRate", "iTaxRate"},
    {"bReturnFlag", "bReturnFlag"},
    {"cMaker", "cMaker"},
    // The 8.12 checker is not carried over: the maker stands in for it.
    {"cChecker", "cMaker"},
    {"cVerifier", "cVerifier"},
    {"bFirst", "bFirst"},
    {"citem_class", "citem_class"},
    {"citemcode", "citemcode"},
    {"cHeadCode", "cHeadCode"},
    {"cDefine1", "cDefine1"},
    {"cDefine2", "cDefine2"},
    {"cDefine3", "cDefine3"},
    {"cDefine4", "cDefine4"},
    {"cDefine5", "cDefine5"},
    {"cDefine6", "cDefine6"},
    {"cDefine7", "cDefine7"},
    {"cDefine8", "cDefine8"},
    {"cDefine9", "cDefine9"},
    {"cDefine10", "cDefine10"},
    {"bPayMent", "bPayMent"},
};

constexpr Pair kPurchaseHeaderMap[] = {
    {"PBVID", "PBVID"},
    {"cPBVCode", "cPBVCode"},
    {"cPBVBillType", "cPBVBillType"},
    {"dPBVDate", "dPBVDate"},
    {"cDepCode", "cDepCode"},
    {"cPersonCode", "cPersonCode"},
    {"cOrderCode", "cOrderCode"},
    {"cVenCode", "cVenCode"},
    {"cUnitCode", "cUnitCode"},
    {"cPayCode", "cPayCode"},
    {"cexch_name", "cexch_name"},
    {"cPBVMemo", "cPBVMemo"},
    // Spelled with the text prefix in both schemas.
    {"cExchRate", "cExchRate"},
    {"iPBVTaxRate", "iPBVTaxRate"},
    {"dSDate", "dSDate"},
    {"bNegative", "bNegative"},
    {"cPBVMaker", "cPBVMaker"},
    {"cPBVVerifier", "cPBVVerifier"},
    {"bFirst", "bFirst"},
    {"citem_class", "citem_class"},
    {"citemcode", "citemcode"},
    {"cHeadCode", "cHeadCode"},
    {"cDefine1", "cDefine1"},
    {"cDefine2", "cDefine2"},
    {"cDefine3", "cDefine3"},
    {"cDefine4", "cDefine4"},
    {"cDefine5", "cDefine5"},
    {"cDefine6", "cDefine6"},
    {"cDefine7", "cDefine7"},
    {"cDefine8", "cDefine8"},
    {"cDefine9", "cDefine9"},
    {"cDefine10", "cDefine10"},
    {"bPayMent", "bPayMent"},
};

}  // namespace

const HeaderKind kSalesHeaders{
    "Delete SaleBillVouch Where cSTCode Is Null",
    "Select * From SaleBillVouch Where cSTCode Is Null And Instr(cSBVCode,' ')=0 Order By SBVID",
    "SaleBillVouch",
    kSalesHeaderMap,
    std::size(kSalesHeaderMap),
    std::nullopt,
};

namespace {

// The sales merge pass may have left one of its query results in the slot;
// the purchase header step is where the run turns pessimistic for good.
}  // namespace

const HeaderKind kPurchaseHeaders{
    "Delete PurBillVouch Where cBusType Is Null",
    "Select * From PurBillVouch Where cBusType Is Null And Instr(cPBVCode,' ')=0 Order By PBVID",
    "PurBillVouch",
    kPurchaseHeaderMap,
    std::size(kPurchaseHeaderMap),
    LockType::Pessimistic,
};

namespace {

void MigrateHeaders(RunContext& ctx, const HeaderKind& kind) {
  if (kind.lock_first) ctx.table->set_lock_type(*kind.lock_first);
  RunCopyFrame(ctx, CopyFrame{kind.clear, kind.query, kind.table, std::nullopt},
               FieldMapWriter(kind.map, kind.map_size));
}

// ------------------------------------------------------------------ details


constexpr Pair kSalesLineMap[] = {
    {"SBVID", "SaleBillVouchs.SBVID"},
    {"AutoID", "AutoID"},
    {"cInvCode", "cInvCode"},
    {"iQuantity", "iQuantity"},
    {"iUnitPrice", "iUnitPrice"},
    {"iTaxUnitPrice", "iTaxUnitPrice"},
    {"iMoney", "iMoney"},
    {"iTax", "iTax"},
    {"iSum", "iSum"},
    {"iNatUnitPrice", "iNatUnitPrice"},
    {"iNatMoney", "iNatMoney"},
    {"iNatTax", "iNatTax"},
    {"iNatSum", "iNatSum"},
    {"iMoneySum", "iMoneySum"},
    {"iExchSum", "iExchSum"},
    {"cClue", "cClue"},
    {"dSignDate", "dSignDate"},
    {"cMemo", "SaleBillVouchs.cMemo"},
    {"cFree1", "cFree1"},
    {"cFree2", "cFree2"},
    {"iTaxRate", "SaleBillVouchs.iTaxRate"},
};

constexpr Pair kPurchaseLineMap[] = {
    {"ID", "ID"},
    {"PBVID", "PurBillVouchs.PBVID"},
    {"cInvCode", "cInvCode"},
    {"dInDate", "dInDate"},
    {"iPBVQuantity", "iPBVQuantity"},
    {"iOriCost", "iOriCost"},
    {"iOriMoney", "iOriMoney"},
    {"iOriTaxPrice", "iOriTaxPrice"},
    {"iOriSum", "iOriSum"},
    {"iCost", "iCost"},
    {"iMoney", "iMoney"},
    {"iTaxPrice", "iTaxPrice"},
    {"iSum", "iSum"},
    {"iOriTotal", "iOriTotal"},
    {"iTotal", "iTotal"},
    {"cClue", "cClue"},
    {"dSignDate", "dSignDate"},
    {"cFree1", "cFree1"},
    {"cFree2", "cFree2"},
    // The 8.20 line has one tax rate column for both kinds.
    {"iTaxRate", "PurBillVouchs.iPBVTaxRate"},
};

constexpr const char* kSalesInsertNumbers[] = {
    "iQuantity", "iUnitPrice", "iTaxUnitPrice", "iMoney",   "iTax",      "iSum",
    "iNatUnitPrice", "iNatMoney", "iNatTax",    "iNatSum", "iMoneySum", "iExchSum",
};

constexpr const char* kPurchaseInsertNumbers[] = {
    "iPBVQuantity", "iOriCost", "iOriMoney", "iOriTaxPrice", "iOriSum", "iCost",
    "iMoney",       "iTaxPrice", "iSum",     "iOriTotal",    "iTotal",
};

}  // namespace

const DetailKind kSalesDetails{
    "Delete SaleBillVouchs From SaleBillVouch Where cSTCode Is Null And "
    "SaleBillVouchs.SBVID=SaleBillVouch.SBVID",
    "Select * From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID=SaleBillVouch.SBVID "
    " Where cSTCode Is Null And Instr(cSBVCode,' ')=0 Order By SaleBillVouchs.SBVID,SaleBillVouchs.AutoID",
    "SaleBillVouchs",
    kSalesLineMap,
    std::size(kSalesLineMap),

    "Select * From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID=SaleBillVouch.SBVID "
    " Where cSTCode Is Null And Instr(cSBVCode,' ')>0 Order By SaleBillVouchs.SBVID,SaleBillVouchs.AutoID",
    "cSBVCode",
    "cVouchType",
    "SBVID",

    "Select * From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID=SaleBillVouch.SBVID"
    " Where cVouchType='",
    "' And cSBVCode='",

    {{"Update SaleBillVouchs Set iQuantity=iQuantity+", "iQuantity"},
     {",iSum=iSum+", "iSum"},
     {",iNatSum=iNatSum+", "iNatSum"},
     {",iMoneySum=iMoneySum+", "iMoneySum"},
     {",iExchSum=iExchSum+", "iExchSum"}},
    " From SaleBillVouch Where SaleBillVouchs.SBVID=SaleBillVouch.SBVID And SaleBillVouch.cVouchType='",
    "' And SaleBillVouch.cSBVCode='",
    "' And SaleBillVouchs.cInvCode='",

    "Insert Into SaleBillVouchs (SBVID,AutoID,cInvCode,iQuantity,iUnitPrice,iTaxUnitPrice,iMoney,iTax,"
    "iSum,iNatUnitPrice,iNatMoney,iNatTax,iNatSum,iMoneySum,iExchSum,cMemo,iTaxRate) Values(",
    "AutoID",
    kSalesInsertNumbers,
    std::size(kSalesInsertNumbers),
    "SaleBillVouchs.cMemo",
    "SaleBillVouchs.iTaxRate",
};

namespace {

}  // namespace

const DetailKind kPurchaseDetails{
    "Delete PurBillVouchs From PurBillVouch Where cBusType Is Null And "
    "PurBillVouchs.PBVID=PurBillVouch.PBVID",
    "Select * From PurBillVouchs INNER JOIN PurBillVouch ON PurBillVouchs.PBVID=PurBillVouch.PBVID "
    " Where cBusType Is Null And Instr(cPBVCode,' ')=0 Order By PurBillVouchs.PBVID,PurBillVouchs.ID",
    "PurBillVouchs",
    kPurchaseLineMap,
    std::size(kPurchaseLineMap),

    "Select * From PurBillVouchs INNER JOIN PurBillVouch ON PurBillVouchs.PBVID=PurBillVouch.PBVID "
    " Where cBusType Is Null And Instr(cPBVCode,' ')>0 Order By PurBillVouchs.PBVID,PurBillVouchs.ID",
    "cPBVCode",
    "cPBVBillType",
    "PBVID",

    "Select * From PurBillVouchs INNER JOIN PurBillVouch ON PurBillVouchs.PBVID=PurBillVouch.PBVID"
    " Where cPBVBillType='",
    "' And cPBVCode='",

    {{"Update PurBillVouchs Set iPBVQuantity=iPBVQuantity+", "iPBVQuantity"},
     {",iSum=iSum+", "iSum"},
     {",iOriSum=iOriSum+", "iOriSum"},
     {",iTotal=iTotal+", "iTotal"},
     {",iOriTotal=iOriTotal+", "iOriTotal"}},
    " From PurBillVouch Where PurBillVouchs.PBVID=PurBillVouch.PBVID And PurBillVouch.cPBVBillType='",
    "' And PurBillVouch.cPBVCode='",
    "' And PurBillVouchs.cInvCode='",

    "Insert Into PurBillVouchs (PBVID,ID,cInvCode,iPBVQuantity,iOriCost,iOriMoney,iOriTaxPrice,"
    "iOriSum,iCost,iMoney,iTaxPrice,iSum,iOriTotal,iTotal,iTaxRate) Values(",
    "ID",
    kPurchaseInsertNumbers,
    std::size(kPurchaseInsertNumbers),
    nullptr,
    "PurBillVouchs.iPBVTaxRate",
};

namespace {

// Source columns found by name on first use and by index after that. A
// column is looked up only when a statement needs it, so a missing one fails
// where that statement is built.
class SourceColumns {
 public:
  explicit SourceColumns(const SourceRecordset& rs) : rs_(rs) {}
  const Value& operator[](const char* name) {
    for (const auto& [key, index] : found_)
      if (key == name) return rs_.field_value(index);
    const int index = rs_.field_index(name);
    found_.emplace_back(name, index);
    return rs_.field_value(index);
  }

 private:
  const SourceRecordset& rs_;
  std::vector<std::pair<const char*, int>> found_;
};

// A text value between the quotes of a literal. Quotes inside are doubled so
// the target compares or stores the text itself; Null leaves the quotes empty.
std::string TextLiteral(const Value& v) { return v.is_null() ? std::string() : QuoteDoubled(v.ToText()); }

// A value shown in a message: as a literal, cut short when long, so that a
// hostile or damaged value cannot flood the terminal.
std::string Shown(const Value& v) { return ShortDebugString(v, 80); }

// A number as it stands in a merge statement. The statements are built by
// concatenation, so a value that is not a number - text a database that
// types loosely can hold in a number column - would become part of the
// statement itself. It stops the run before anything is sent, naming the row.
std::string Number(const DetailKind& kind, SourceColumns& row, const char* column) {
  const Value& value = row[column];
  std::string text;
  if (value.ToNumberText(&text)) return text;
  throw Error(std::string(kind.table) + " line " + kind.line_id_column + " " + Shown(row[kind.line_id_column]) +
              " of invoice " + Shown(row[kind.code_column]) + ": " + column + " holds " + Shown(value) +
              ", which is not a number");
}

void MergeLine(RunContext& ctx, const DetailKind& kind, SourceColumns& row) {
  const std::string parent = GetFirstWord(row[kind.code_column].ToText());
  const std::string vouch_type = TextLiteral(row[kind.type_column]);

  std::string query = kind.parent_head;
  query += vouch_type;
  query += kind.parent_code_joint;
  query += QuoteDoubled(parent);
  query += "'";
  // The result takes the table recordset's place: the steps after the merge
  // reopen whatever stands there.
  ctx.table = ctx.target.ExecuteQuery(query);

  std::string update;
  for (const Piece& p : kind.added) {
    update += p.fragment;
    update += Number(kind, row, p.column);
  }
  update += kind.update_type_joint;
  update += vouch_type;
  update += kind.update_code_joint;
  update += QuoteDoubled(parent);
  update += kind.update_inv_joint;
  update += TextLiteral(row["cInvCode"]);
  update += "'";
  const long long changed = ctx.target.ExecuteCount(update);

  if (changed == 0) {
    // No test for an empty result: a parent without lines stops the run with
    // the target's own description of the failed read.
    const Value parent_id = ctx.table->field_value(std::string_view(kind.parent_id_column));
    std::string parent_id_text;
    if (!parent_id.ToNumberText(&parent_id_text))
      throw Error(std::string(kind.table) + ": the parent invoice's " + kind.parent_id_column + " in the target is " +
                  Shown(parent_id) + ", which is not a number");
    std::string insert = kind.insert_head;
    insert += parent_id_text;
    insert += ",";
    insert += Number(kind, row, kind.line_id_column);
    insert += ",'";
    insert += TextLiteral(row["cInvCode"]);
    insert += "',";
    for (std::size_t i = 0; i < kind.number_count; ++i) {
      insert += Number(kind, row, kind.numbers[i]);
      insert += ",";
    }
    if (kind.memo_column) {
      const Value& memo = row[kind.memo_column];
      if (memo.is_null()) {
        insert += "Null";
      } else {
        insert += "'";
        insert += QuoteDoubled(memo.ToText());
        insert += "'";
      }
      insert += ",";
    }
    insert += Number(kind, row, kind.tax_rate_column);
    insert += ")";
    ctx.target.Execute(insert);
  }
  ctx.table->Close();
}

void MigrateDetails(RunContext& ctx, const DetailKind& kind) {
  RunCopyFrame(ctx, CopyFrame{kind.clear, kind.copy_query, kind.table, std::nullopt},
               FieldMapWriter(kind.map, kind.map_size));

  // Each line's outcome depends on what the target holds at that moment,
  // lines appended for earlier rows of this pass included.
  std::unique_ptr<SourceRecordset> source = ctx.source.OpenRecordset(kind.merge_query);
  SourceColumns row(*source);
  while (!source->eof()) {
    MergeLine(ctx, kind, row);
    source->move_next();
  }
  source->close();
}

}  // namespace

void MigrateSalesHeaders(RunContext& ctx) { MigrateHeaders(ctx, kSalesHeaders); }
void MigrateSalesDetails(RunContext& ctx) { MigrateDetails(ctx, kSalesDetails); }
void MigratePurchaseHeaders(RunContext& ctx) { MigrateHeaders(ctx, kPurchaseHeaders); }
void MigratePurchaseDetails(RunContext& ctx) { MigrateDetails(ctx, kPurchaseDetails); }

}  // namespace velaccap
