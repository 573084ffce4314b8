#include "sample/sample.h"

#include <sqlite3.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "run/account_set.h"
#include "sample/rows.h"
#include "schema/schema.h"
#include "velaccap/value.h"

namespace velaccap::sample {

namespace {

struct Invoice {
  bool sales = true;
  long long id = 0;
  std::string type;
  Text code;
  Text marker;
  bool negative = false;
  bool foreign = false;  // in US dollars
  int tax_rate = 17;
  std::vector<std::string> items;  // one per line, in line order
  std::vector<long long> line_ids;
  int continuations = 0;  // continuation invoices made for it so far
};

// One Ap_Detail row's telling columns; the rest are filled in.
struct Reference {
  const char* flag;
  std::string vouch_type;
  Text vouch_id;
  Text co_type;
  Text co_id;
  Text inv_code;
  long long bvid = 0;
  Text digest;
};

class Generator {
 public:
  Generator(sqlite3* db, const SampleOptions& options)
      : db_(db),
        rng_(options.seed),
        lines_(options.lines),
        sales_header_(db, "SaleBillVouch",
                      {"SBVID", "cSBVCode", "cVouchType", "cSTCode", "dDate", "cDepCode", "cPersonCode",
                       "cSOCode", "cCusCode", "cPayCode", "cexch_name", "cMemo", "iExchRate", "iTaxRate",
                       "bReturnFlag", "cMaker", "cChecker", "cVerifier", "bFirst", "citem_class",
                       "citemcode", "cHeadCode", "cDefine1", "cDefine2", "cDefine3", "cDefine4",
                       "cDefine5", "cDefine6", "cDefine7", "cDefine8", "cDefine9", "cDefine10",
                       "bPayMent", "cShipAddress", "iPrintCount"}),
        sales_line_(db, "SaleBillVouchs",
                    {"AutoID", "SBVID", "cInvCode", "iQuantity", "iUnitPrice", "iTaxUnitPrice", "iMoney",
                     "iTax", "iSum", "iNatUnitPrice", "iNatMoney", "iNatTax", "iNatSum", "iMoneySum",
                     "iExchSum", "cClue", "dSignDate", "cMemo", "cFree1", "cFree2", "iTaxRate",
                     "iSettleNum"}),
        purchase_header_(db, "PurBillVouch",
                         {"PBVID", "cPBVBillType", "cPBVCode", "cBusType", "dPBVDate", "cDepCode",
                          "cPersonCode", "cOrderCode", "cVenCode", "cUnitCode", "cPayCode", "cexch_name",
                          "cPBVMemo", "cExchRate", "iPBVTaxRate", "dSDate", "bNegative", "cPBVMaker",
                          "cPBVVerifier", "bFirst", "citem_class", "citemcode", "cHeadCode", "cDefine1",
                          "cDefine2", "cDefine3", "cDefine4", "cDefine5", "cDefine6", "cDefine7",
                          "cDefine8", "cDefine9", "cDefine10", "bPayMent", "iPrintCount"}),
        purchase_line_(db, "PurBillVouchs",
                       {"ID", "PBVID", "cInvCode", "dInDate", "iPBVQuantity", "iOriCost", "iOriMoney",
                        "iOriTaxPrice", "iOriSum", "iCost", "iMoney", "iTaxPrice", "iSum", "iOriTotal",
                        "iTotal", "cClue", "dSignDate", "cFree1", "cFree2", "iPBVTaxRate", "iSettleNum"}),
        detail_(db, "Ap_Detail",
                {"Auto_ID", "cFlag", "cVouchType", "cVouchID", "dVouchDate", "iPeriod", "cDwCode",
                 "cDeptCode", "cPerson", "cItem_Class", "cItemCode", "cDigest", "cInvCode", "iBVID",
                 "cCoVouchType", "cCoVouchID", "iAmount", "iRAmount", "iAmount_f", "iRAmount_f",
                 "cexch_name", "iExchRate", "iQuantity", "cCancelNo", "bPrePay", "cOperator"}) {}

  SampleCounts Run() {
    FixedInvoices();
    FixedReferences();
    BulkInvoices(true, (lines_ + 1) / 2);
    BulkInvoices(false, lines_ / 2);
    CancelNumbers();
    InputCodes();
    Options();
    Settings();
    Vouchers();
    return counts_;
  }

 private:
  // ------------------------------------------------------------ invoices

  std::string Date() { return "2002-" + Pad(rng_.Between(1, 12), 2) + "-" + Pad(rng_.Between(1, 28), 2) + " 00:00:00"; }
  std::string Person() { return "P" + Pad(rng_.Between(1, 30), 3); }
  std::string Dept() { return Pad(rng_.Between(1, 8), 2); }
  template <typename T>
  std::optional<T> Sometimes(int pct, T value) {
    return rng_.Percent(pct) ? std::optional<T>(std::move(value)) : std::nullopt;
  }

  Invoice NewInvoice(bool sales, std::string type, Text code, Text marker = std::nullopt, bool negative = false) {
    Invoice inv;
    inv.sales = sales;
    inv.id = sales ? ++sales_id_ : ++purchase_id_;
    inv.type = std::move(type);
    inv.code = std::move(code);
    inv.marker = std::move(marker);
    inv.negative = negative;
    inv.foreign = rng_.Percent(10);
    inv.tax_rate = rng_.Percent(80) ? 17 : 13;
    Header(inv);
    return inv;
  }

  void Header(const Invoice& inv) {
    const double rate = inv.foreign ? 8.27 : 1.0;
    const char* currency = inv.foreign ? "USD" : "人民币";
    const std::string date = Date();
    Text memo;
    if (rng_.Percent(30)) memo = rng_.Percent(10) ? "Customer's own order" : "Delivered " + date.substr(0, 10);
    if (inv.sales) {
      sales_header_.Row(inv.id, inv.code, inv.type, inv.marker, date, Dept(), Person(),
                        Sometimes(60, "SO" + Pad(inv.id, 7)), "C" + Pad(rng_.Between(1, 200), 4),
                        Sometimes(70, Pad(rng_.Between(1, 4), 2)), currency, memo, rate,
                        static_cast<double>(inv.tax_rate), inv.negative, "Zhang Wei", "Li Na",
                        Sometimes(50, std::string("Wang Fang")), false, Sometimes(20, std::string("00")),
                        Sometimes(20, "PRJ" + Pad(rng_.Between(1, 9), 2)), "1131",
                        Sometimes(30, std::string("contract")), kNull, kNull, Sometimes(20, Date()),
                        Sometimes(20, rng_.Between(1, 99)), kNull, Sometimes(20, Cents(rng_.Between(1, 9999))),
                        kNull, kNull, kNull, rng_.Percent(50), Sometimes(50, std::string("No. 8 Harbour Road")),
                        rng_.Between(0, 3));
    } else {
      purchase_header_.Row(inv.id, inv.type, inv.code, inv.marker, date, Dept(), Person(),
                           Sometimes(60, "PO" + Pad(inv.id, 7)), "V" + Pad(rng_.Between(1, 150), 4),
                           Sometimes(30, "V" + Pad(rng_.Between(1, 150), 4)),
                           Sometimes(70, Pad(rng_.Between(1, 4), 2)), currency, memo, rate,
                           static_cast<double>(inv.tax_rate), Sometimes(50, Date()), inv.negative, "Zhao Lei",
                           Sometimes(50, std::string("Sun Li")), false, Sometimes(20, std::string("00")),
                           Sometimes(20, "PRJ" + Pad(rng_.Between(1, 9), 2)), "2121",
                           Sometimes(30, std::string("framework")), kNull, kNull, Sometimes(20, Date()),
                           Sometimes(20, rng_.Between(1, 99)), kNull, Sometimes(20, Cents(rng_.Between(1, 9999))),
                           kNull, kNull, kNull, rng_.Percent(50), rng_.Between(0, 3));
    }
  }

  // Adds a line and returns its id. A line of a continuation invoice has no
  // Null among the values the merge writes into statements.
  long long Line(Invoice& inv, const std::string& item, long long qty, Text memo, bool continuation) {
    const long long price = rng_.Between(100, 99999);  // unit price without tax, in cents
    const long long money = qty * price;
    const long long tax = PercentOf(money, inv.tax_rate);
    const long long sum = money + tax;
    const long long tax_price = PercentOf(price, 100 + inv.tax_rate);
    const double rate = inv.foreign ? 8.27 : 1.0;
    auto nat = [&](long long cents) { return Cents(std::llround(static_cast<double>(cents) * rate)); };
    const bool settled = rng_.Percent(40);
    const bool full = continuation || rng_.Percent(80);
    Text clue = full ? Text("CL" + Pad(rng_.Between(1, 9999), 5)) : std::nullopt;
    Text sign_date = full ? Text(Date()) : std::nullopt;
    Text free1 = rng_.Percent(30) ? Text("Red") : std::nullopt;
    long long id;
    if (inv.sales) {
      id = ++sales_line_id_;
      sales_line_.Row(id, inv.id, item, static_cast<double>(qty), Cents(price), Cents(tax_price), Cents(money),
                      Cents(tax), Cents(sum), nat(price), nat(money), nat(tax), nat(sum),
                      settled ? nat(sum) : 0.0, settled ? Cents(sum) : 0.0, clue, sign_date, memo, free1,
                      kNull, static_cast<double>(inv.tax_rate), settled ? static_cast<double>(qty) : 0.0);
      ++counts_.sales_lines;
    } else {
      id = ++purchase_line_id_;
      purchase_line_.Row(id, inv.id, item, full ? Text(Date()) : Text(), static_cast<double>(qty),
                     Cents(price), Cents(money), Cents(tax), Cents(sum), nat(price), nat(money), nat(tax),
                     nat(sum), settled ? Cents(sum) : 0.0, settled ? nat(sum) : 0.0, clue, sign_date, free1,
                     kNull, static_cast<double>(inv.tax_rate), settled ? static_cast<double>(qty) : 0.0);
      ++counts_.purchase_lines;
    }
    if (continuation) ++counts_.continuation_lines;
    inv.items.push_back(item);
    inv.line_ids.push_back(id);
    return id;
  }


  // A continuation invoice of `parent`, with a code of the given shape:
  // 0 "P k", 1 "P k 1", 2 " P k" (leading blank), 3 "P k " (trailing blank).
  Invoice Continuation(Invoice& parent, int shape) {
    const std::string k = std::to_string(++parent.continuations + 1);
    const std::string& p = *parent.code;
    std::string code = shape == 0 ? p + " " + k : shape == 1 ? p + " " + k + " 1" : shape == 2 ? " " + p + " " + k : p + " " + k + " ";
    return NewInvoice(parent.sales, parent.type, code);
  }

  void Ref(const Reference& r) {
    const long long amount = rng_.Between(-50000, 500000);
    const bool foreign = rng_.Percent(10);
    detail_.Row(++detail_id_, r.flag, r.vouch_type, r.vouch_id, Date(), rng_.Between(1, 12),
                (r.flag[0] == 'R' ? "C" : "V") + Pad(rng_.Between(1, 200), 4), Dept(), Person(), kNull, kNull,
                r.digest, r.inv_code, r.bvid, r.co_type, r.co_id, Cents(amount), Cents(rng_.Percent(50) ? amount : 0),
                foreign ? Cents(amount * 100 / 827) : Cents(amount), 0.0, foreign ? "USD" : "人民币",
                foreign ? 8.27 : 1.0, Sometimes(50, static_cast<double>(rng_.Between(1, 20))),
                Sometimes(20, "HX" + Pad(rng_.Between(1, 9999), 6)), rng_.Percent(5), "Zhang Wei");
    ++counts_.detail_rows;
  }

  const char* Flag(const Invoice& inv) const { return inv.sales ? "R" : "P"; }
  std::string Settlement(const Invoice& inv) { return (inv.sales ? "SK" : "FK") + Pad(++settlement_no_, 7); }
  const char* SettlementType(const Invoice& inv) const { return inv.sales ? "48" : "49"; }

  // The cases the upgrade treats specially, always present whatever the
  // size: parents with repeated items, continuation codes of every shape
  // adding into and appending lines, the same code under another vouch
  // type, invoices of other modules, a Null code, a tab in a code.
  void FixedInvoices() {
    // Sales.
    s_parent_ = NewInvoice(true, "26", "0000001");
    Line(s_parent_, "I0001", 10, "First delivery", false);
    Line(s_parent_, "I0002", 5, std::nullopt, false);
    Line(s_parent_, "I0002", 1, std::nullopt, false);  // two lines of one item: both get the additions
    s_cont_ = NewInvoice(true, "26", "0000001 2");
    Line(s_cont_, "I0001", 3, "Kim's order", true);  // adds into the parent's line
    Line(s_cont_, "I0009", 2, std::nullopt, true);   // appended, Null memo
    Line(s_cont_, "I0009", -1, "", true);            // adds into the line just appended
    s_parent_.continuations = 1;
    Invoice other_type = NewInvoice(true, "27", "0000001");  // same code, not the parent
    Line(other_type, "I0009", 4, std::nullopt, false);
    s_cont3_ = NewInvoice(true, "26", "0000001 3 1");
    Line(s_cont3_, "I0002", -2, "Returned", true);
    s_lead_ = NewInvoice(true, "26", " 0000001 4");
    Line(s_lead_, "I0010", 6, "", true);
    s_parent_.continuations = 3;
    s_foreign_ = NewInvoice(true, "26", "0000002", "01");
    Line(s_foreign_, "I0003", 1, std::nullopt, false);
    Invoice foreign_cont = NewInvoice(true, "26", "0000003 2", "01");
    Line(foreign_cont, "I0004", 1, std::nullopt, true);
    Invoice null_code = NewInvoice(true, "26", std::nullopt);
    Line(null_code, "I0005", 1, std::nullopt, false);
    Invoice tab = NewInvoice(true, "26", "0000004\t1");
    Line(tab, "I0006", 2, std::nullopt, false);
    s_return_ = NewInvoice(true, "27", "0000002", std::nullopt, true);
    Line(s_return_, "I0007", -3, "Return", false);
    s_trail_ = NewInvoice(true, "27", "0000002 ");
    Line(s_trail_, "I0007", -1, std::nullopt, true);

    // Purchases.
    p_parent_ = NewInvoice(false, "01", "0000001");
    Line(p_parent_, "I0001", 10, std::nullopt, false);
    Line(p_parent_, "I0002", 5, std::nullopt, false);
    p_cont_ = NewInvoice(false, "01", "0000001 2");
    Line(p_cont_, "I0001", 2, std::nullopt, true);
    Line(p_cont_, "I0011", 3, std::nullopt, true);
    Line(p_cont_, "I0011", 1, std::nullopt, true);
    p_other_ = NewInvoice(false, "03", "0000001");
    Line(p_other_, "I0011", 7, std::nullopt, false);
    p_lead_ = NewInvoice(false, "01", " 0000001 3");
    Line(p_lead_, "I0002", -1, std::nullopt, true);
    Invoice p_foreign = NewInvoice(false, "01", "0000002", "普通采购");
    Line(p_foreign, "I0003", 1, std::nullopt, false);
    Invoice p_foreign_cont = NewInvoice(false, "01", "0000003 2", "普通采购");
    Line(p_foreign_cont, "I0004", 1, std::nullopt, true);
    Invoice p_return = NewInvoice(false, "03", "0000002", std::nullopt, true);
    Line(p_return, "I0012", -4, std::nullopt, false);
  }

  // Ledger lines for the fixed invoices: references to ordinary and to
  // continuation invoices, ones that find no line, Null and empty ones.
  void FixedReferences() {
    const Invoice& sp = s_parent_;
    Ref({"R", "26", "0000001", "26", "0000001", "I0001", sp.line_ids[0], std::string("Sales invoice")});
    // To a continuation: rewritten to the parent, the line found by item.
    Ref({"R", "48", "SK0000001", "26", "0000001 2", "I0001", s_cont_.line_ids[0], std::nullopt});
    Ref({"R", "26", "0000001 2", "26", "0000001 2", "I0009", s_cont_.line_ids[1], std::nullopt});
    Ref({"R", "26", "0000001 3 1", "26", "0000001 3 1", "I0002", s_cont3_.line_ids[0], std::nullopt});
    // The parent has no line for the item, or the item is Null: line id 0.
    Ref({"R", "48", "SK0000002", "26", " 0000001 4", "I0077", s_lead_.line_ids[0], std::nullopt});
    Ref({"R", "48", "SK0000003", "26", "0000001 2", std::nullopt, 0, std::nullopt});
    // No reference at all, or an empty one.
    Ref({"R", "48", "SK0000004", std::nullopt, std::nullopt, std::nullopt, 0, std::string("Advance receipt")});
    Ref({"R", "48", "SK0000005", "48", "", std::nullopt, 0, std::nullopt});
    // A blank in the own voucher code alone changes nothing.
    Ref({"R", "48", "SK0000006 1", "26", "0000001", "I0002", sp.line_ids[1], std::nullopt});
    Ref({"R", "48", "SK0000007", "27", "0000002 ", "I0007", s_trail_.line_ids[0], std::nullopt});
    Ref({"R", "26", "0000002", "26", "0000002", "I0003", s_foreign_.line_ids[0], std::nullopt});
    Ref({"P", "01", "0000001 2", "01", "0000001 2", "I0011", p_cont_.line_ids[1], std::nullopt});
    Ref({"P", "49", "FK0000001", "01", " 0000001 3", "I0002", p_lead_.line_ids[0], std::nullopt});
    Ref({"P", "49", "FK0000002", "03", "0000001", "I0011", p_other_.line_ids[0], std::nullopt});
    Ref({"P", "49", "FK0000003", std::nullopt, std::nullopt, std::nullopt, 0, std::string("O'Neil prepayment")});
    settlement_no_ = 100;
  }

  // Ordinary invoices, some of other modules, some returns, and continuation
  // invoices of recent ordinary ones, until `wanted` lines are written.
  void BulkInvoices(bool sales, long long wanted) {
    const char* types[2] = {sales ? "26" : "01", sales ? "27" : "03"};
    long long next_code[2] = {100, 100};
    std::vector<Invoice> parents[2];  // recent ordinary invoices per type
    long long written = 0;
    while (written < wanted) {
      const int t = static_cast<int>(rng_.Below(2));
      const long long n = std::min<long long>(rng_.Between(1, 6), wanted - written);
      written += n;
      const int kind = static_cast<int>(rng_.Below(100));
      if (kind < 12 && !parents[t].empty()) {
        Invoice& parent = parents[t][rng_.Below(parents[t].size())];
        Invoice cont = Continuation(parent, static_cast<int>(rng_.Below(4)));
        std::string last_new;
        for (long long i = 0; i < n; ++i) {
          std::string item;
          if (rng_.Percent(50)) {
            item = parent.items[rng_.Below(parent.items.size())];  // adds into the parent's line
          } else if (!last_new.empty() && rng_.Percent(30)) {
            item = last_new;  // a second line of an item appended just before
          } else {
            item = last_new = "I" + Pad(rng_.Between(401, 500), 4);
          }
          const long long qty = rng_.Percent(15) ? -rng_.Between(1, 5) : rng_.Between(1, 20);
          Text memo = rng_.Percent(30) ? Text() : rng_.Percent(15) ? Text("") : Text("Follow-up " + item);
          const long long id = Line(cont, item, qty, memo, true);
          if (rng_.Percent(40)) {
            const bool own = rng_.Percent(50);
            Ref({Flag(cont), own ? cont.type : SettlementType(cont), own ? cont.code : Settlement(cont), cont.type,
                 cont.code, item, id, std::nullopt});
          }
        }
        if (rng_.Percent(10))  // an item neither the parent nor the continuation has
          Ref({Flag(cont), SettlementType(cont), Settlement(cont), cont.type, cont.code, std::string("I9999"), 0,
               std::nullopt});
        continue;
      }
      Text marker;
      if (kind >= 12 && kind < 18) marker = sales ? "01" : "普通采购";
      const bool negative = rng_.Percent(10);
      Invoice inv = NewInvoice(sales, types[t], Pad(next_code[t]++, 7), marker, negative);
      for (long long i = 0; i < n; ++i) {
        const std::string item = "I" + Pad(rng_.Between(1, 400), 4);
        const long long qty = negative ? -rng_.Between(1, 10) : rng_.Between(1, 50);
        const long long id = Line(inv, item, qty, Sometimes(40, "Line " + std::to_string(i + 1)), false);
        if (rng_.Percent(30)) {
          const bool own = rng_.Percent(50);
          Ref({Flag(inv), own ? inv.type : SettlementType(inv), own ? inv.code : Settlement(inv), inv.type,
               inv.code, item, id, std::nullopt});
        }
      }
      if (rng_.Percent(10)) {
        const bool empty = rng_.Percent(30);
        Ref({Flag(inv), SettlementType(inv), Settlement(inv), empty ? Text(SettlementType(inv)) : Text(),
             empty ? Text("") : Text(), std::nullopt, 0, std::string("Prepayment")});
      }
      if (!marker) {
        std::vector<Invoice>& pool = parents[t];
        inv.line_ids.clear();  // only the items matter from here
        if (pool.size() < 32)
          pool.push_back(std::move(inv));
        else
          pool[rng_.Below(pool.size())] = std::move(inv);
      }
    }
  }

  // ------------------------------------------------------------ ledger tables

  void CancelNumbers() {
    Insert ins(db_, "Ap_CancelNo", {"cFlag", "cType", "iCancelNo", "dDate", "cOperator"});
    // Groups with Null flags, Null types, and one whose numbers are all Null.
    ins.Row("R", "01", 5, Date(), "Zhang Wei");
    ins.Row("R", "01", 9, Date(), "Zhang Wei");
    ins.Row("R", "01", 7, kNull, kNull);
    ins.Row("P", "01", 3, Date(), "Zhao Lei");
    ins.Row(kNull, "02", 4, Date(), kNull);
    ins.Row(kNull, "02", 6, Date(), kNull);
    ins.Row("R", kNull, 2, kNull, kNull);
    ins.Row("P", "03", kNull, Date(), "Zhao Lei");
    ins.Row("P", "03", kNull, kNull, kNull);
    ins.Row(kNull, kNull, 1, kNull, kNull);
    for (long long i = 0, n = lines_ / 100; i < n; ++i)
      ins.Row(rng_.Percent(50) ? "R" : "P", Pad(rng_.Between(4, 8), 2), rng_.Between(1, 100000), Date(), "Li Na");
  }

  void InputCodes() {
    Insert ins(db_, "Ap_InputCode",
               {"cNum", "cNote", "cNote_f", "cFlag", "cArCode", "cArCodeName", "cApCode", "cApCodeName"});
    ins.Row("01", "应收科目", "yskm", "R", "1131", "应收账款", kNull, kNull);
    ins.Row("02", "预收科目", "yskm2", "R", "2131", "预收账款", kNull, kNull);
    ins.Row("03", "销售收入科目", "xssr", "R", "5101", "主营业务收入", kNull, kNull);
    ins.Row("04", "应交增值税科目", "yjzzs", "RP", "21710105", "销项税额", "21710101", "进项税额");
    ins.Row("05", "应付科目", "yfkm", "P", kNull, kNull, "2121", "应付账款");
    ins.Row("06", "预付科目", "yfkm2", "P", kNull, kNull, "1151", "预付账款");
    ins.Row("07", "采购科目", "cgkm", "P", kNull, kNull, "1201", "物资采购");
    ins.Row("08", "汇兑损益科目", "hdsy", "RP", "5503", "财务费用", "5503", "财务费用");
    ins.Row("09", "Vendor's discount", "xjzk", "P", kNull, kNull, "5503", kNull);
    ins.Row("10", "坏账准备科目", "hzzb", "R", "1141", "坏账准备", kNull, kNull);
    ins.Row("48", "Exchange account (receivables)", "hdkm", "R", "5503", kNull, kNull, kNull);
  }

  void Options() {
    Insert ins(db_, "AccInformation", {"cSysID", "cName", "cValue", "cCaption", "cType"});
    ins.Row("AP", "bAutoVerify", "1", "Verify on saving", "bool");
    ins.Row("AP", "bCtlCredit", "1", "Control credit limits", "bool");
    ins.Row("AP", "bPrePayVerify", "1", "Verify prepayments", "bool");
    ins.Row("AP", "cAgeBase", "dDate", "Ageing base date", "text");
    ins.Row("AP", "cDefaultSettle", "", "Default settlement style", "text");  // empty, not Null
    ins.Row("AP", "cVouchCodeRule", "auto", "Voucher numbering", "text");
    ins.Row("AP", "dStartDate", "2002-01-01", "Start date of the ledger", "date");
    ins.Row("AP", "iPrecision", "3", "Amount precision", "int");
    ins.Row("AR", "bAutoVerify", "0", "Verify on saving", "bool");
    ins.Row("AR", "bCtlCredit", "1", "Control credit limits", "bool");
    ins.Row("AR", "cAgeBase", "dVouchDate", "Ageing base date", "text");
    ins.Row("AR", "cBadDebtMethod", kNull, "Bad-debt provision method", "text");
    ins.Row("AR", "cOldReportStyle", "classic", "Report style (8.12 only)", "text");
    ins.Row("AR", "cStatementTitle", "Customer's statement", "Statement title", "text");
    ins.Row("AR", "cVouchCodeRule", "manual", "Voucher numbering", "text");
    ins.Row("AR", "dStartDate", "2002-01-01", "Start date of the ledger", "date");
    ins.Row("AR", "iPrecision", "2", "Amount precision", "int");
    ins.Row("FA", "cDeprMethod", "straight", "Depreciation method", "text");
    ins.Row("GL", "iPrecision", "4", "Amount precision", "int");
    ins.Row("SA", "bCtlCredit", "0", "Control credit limits", "bool");
  }

  // ------------------------------------------------------------ copied tables

  // Small setting tables, fixed apart from a few dates.
  void Settings() {
    Insert alarm(db_, "Ap_AlarmSet", {"cFlag", "cNum", "cName", "iDays", "bAlarm", "cMemo"});
    alarm.Row("P", "01", "30 days", 30, true, kNull);
    alarm.Row("P", "02", "60 days", 60, false, kNull);
    alarm.Row("R", "01", "30 days", 30, true, "Call the customer");
    alarm.Row("R", "02", "60 days", 60, true, "Customer's second notice");
    alarm.Row("R", "03", "90 days", 90, false, kNull);

    Insert age(db_, "Ap_BillAge", {"cFlag", "cNum", "cName", "iBeginDays", "iEndDays"});
    const char* flags[2] = {"P", "R"};
    for (const char* f : flags) {
      age.Row(f, "01", "1-30", 1, 30);
      age.Row(f, "02", "31-90", 31, 90);
      age.Row(f, "03", "91-365", 91, 365);
      age.Row(f, "04", "over a year", 366, kNull);
    }

    Insert close(db_, "Ap_CloseBill",
                 {"cFlag", "cVouchType", "cVouchID", "dVouchDate", "cDwCode", "cDeptCode", "cPerson", "cDigest",
                  "cexch_name", "iExchRate", "iAmount", "iAmount_f", "cSSCode", "cNoteNo", "iPeriod", "bStartFlag",
                  "cOperator"});
    for (long long i = 1, n = std::max<long long>(5, lines_ / 50); i <= n; ++i) {
      const bool r = rng_.Percent(50);
      const long long amount = rng_.Between(-10000, 1000000);
      close.Row(r ? "R" : "P", r ? "48" : "49", (r ? "SK" : "FK") + Pad(i, 7), Date(),
                (r ? "C" : "V") + Pad(rng_.Between(1, 150), 4), Dept(), Person(), Sometimes(50, std::string("Closing")),
                "人民币", 1.0, Cents(amount), Cents(amount), Pad(rng_.Between(1, 6), 1), kNull, rng_.Between(1, 12),
                i == 1, "Zhang Wei");
    }

    Insert ctrl(db_, "Ap_CtrlCode", {"cFlag", "cCode", "cKm", "cKmName", "cPreKm", "iType"});
    for (int i = 1; i <= 10; ++i) {
      const bool r = i <= 5;
      ctrl.Row(r ? "R" : "P", Pad(i, 2), r ? "1131" : "2121", r ? "应收账款" : "应付账款", r ? "2131" : "1151", i % 3);
    }

    Insert inv(db_, "Ap_InvCode", {"cFlag", "cInvCode", "cInvName", "cKm", "cTaxKm"});
    for (int i = 1; i <= 40; ++i)
      inv.Row(i % 2 ? "R" : "P", "I" + Pad(i, 4), "Item " + std::to_string(i), i % 2 ? "5101" : "1201",
              i % 5 ? Text(i % 2 ? "21710105" : "21710101") : Text());

    Insert style(db_, "Ap_SStyleCode", {"cSSCode", "cSSName", "bNote", "cKm"});
    style.Row("1", "Cash", false, "1001");
    style.Row("2", "Cheque", false, "1002");
    style.Row("3", "Bank draft", true, "1111");
    style.Row("4", "Wire transfer", false, "1002");
    style.Row("5", "Acceptance bill", true, "1111");
    style.Row("6", "Other", false, kNull);

    Insert type(db_, "Ap_VouchType", {"cTypeCode", "cTypeName", "cFlag", "iSign", "bSystem"});
    type.Row("01", "Purchase invoice", "P", 1, true);
    type.Row("03", "Purchase return invoice", "P", -1, true);
    type.Row("26", "Sales invoice", "R", 1, true);
    type.Row("27", "VAT sales invoice", "R", 1, true);
    type.Row("48", "Receipt", "R", -1, true);
    type.Row("49", "Payment", "P", -1, true);
    type.Row("P0", "Other payable", "P", 1, false);
    type.Row("R0", "Other receivable", "R", 1, false);

    Insert bad_age(db_, "Ar_BadAge", {"cNum", "iBeginDays", "iEndDays", "iRate"});
    bad_age.Row("01", 1, 180, 0.005);
    bad_age.Row("02", 181, 365, 0.1);
    bad_age.Row("03", 366, 730, 0.3);
    bad_age.Row("04", 731, kNull, 1.0);

    Insert bad_para(db_, "Ar_BadPara", {"dJtDate", "cKm", "iMethod", "iRate", "iAmount", "cOperator"});
    bad_para.Row("2001-12-31 00:00:00", "1141", 1, 0.005, 1523.5, "Zhang Wei");
    bad_para.Row("2002-03-31 00:00:00", "1141", 1, 0.005, 1710.25, "Zhang Wei");
    bad_para.Row("2002-06-30 00:00:00", "1141", 2, kNull, 1802.0, kNull);
    bad_para.Row("2002-09-30 00:00:00", "1141", 2, kNull, kNull, "Li Na");
  }

  // Bills and vouchers of the ledger, scaled with the invoices.
  void Vouchers() {
    Insert note(db_, "Ap_Note",
                {"cFlag", "cNoteNo", "cNoteType", "cDwCode", "dSignDate", "dEndDate", "iAmount", "iRate", "cBank",
                 "cDigest", "bSettle", "cOperator"});
    Insert sub(db_, "Ap_Note_Sub", {"cNoteNo", "iNo", "dDate", "cProcess", "iAmount", "cMemo"});
    for (long long i = 1, n = std::max<long long>(3, lines_ / 100); i <= n; ++i) {
      const bool r = rng_.Percent(50);
      const std::string no = "PJ" + Pad(i, 6);
      const double amount = Cents(rng_.Between(10000, 10000000));
      note.Row(r ? "R" : "P", no, r ? "01" : "02", (r ? "C" : "V") + Pad(rng_.Between(1, 150), 4), Date(), Date(),
               amount, Sometimes(50, 0.05), Sometimes(70, std::string("Bank of Commerce")), kNull, rng_.Percent(50),
               "Li Na");
      sub.Row(no, 1, Date(), "endorse", amount, kNull);
      sub.Row(no, 2, Date(), "settle", amount, Sometimes(30, std::string("Bearer's discount")));
    }

    Insert vouch(db_, "Ap_Vouch",
                 {"cFlag", "cVouchType", "cVouchID", "dVouchDate", "cDwCode", "cDeptCode", "cPerson", "cDigest",
                  "cexch_name", "iExchRate", "iAmount", "iAmount_f", "cSSCode", "cNoteNo", "bStartFlag", "cOperator"});
    Insert lines(db_, "Ap_Vouchs",
                 {"cVouchType", "cVouchID", "cDwCode", "cKm", "iAmount", "iAmount_f", "cDigest", "cDeptCode",
                  "cPerson"});
    for (long long i = 1, n = std::max<long long>(5, lines_ / 20); i <= n; ++i) {
      const bool r = rng_.Percent(50);
      const std::string type = r ? "48" : "49";
      const std::string id = (r ? "SK" : "FK") + Pad(i, 7);
      const std::string dw = (r ? "C" : "V") + Pad(rng_.Between(1, 150), 4);
      const long long a = rng_.Between(100, 5000000), b = rng_.Between(100, 5000000);
      vouch.Row(r ? "R" : "P", type, id, Date(), dw, Dept(), Person(), Sometimes(60, std::string("Settlement")),
                "人民币", 1.0, Cents(a + b), Cents(a + b), Pad(rng_.Between(1, 6), 1), kNull, false, "Zhang Wei");
      lines.Row(type, id, dw, r ? "1131" : "2121", Cents(a), Cents(a), kNull, Dept(), Person());
      lines.Row(type, id, dw, r ? "1131" : "2121", Cents(b), Cents(b), Sometimes(20, std::string("Client's share")),
                Dept(), Person());
    }
  }

  sqlite3* db_;
  Rng rng_;
  long long lines_;
  Insert sales_header_, sales_line_, purchase_header_, purchase_line_, detail_;
  long long sales_id_ = 0, purchase_id_ = 0, sales_line_id_ = 0, purchase_line_id_ = 0;
  long long detail_id_ = 0, settlement_no_ = 0;
  Invoice s_parent_, s_cont_, s_cont3_, s_lead_, s_foreign_, s_return_, s_trail_;
  Invoice p_parent_, p_cont_, p_other_, p_lead_;
  SampleCounts counts_;
};

}  // namespace

SampleCounts WriteSample(const std::string& path, const SampleOptions& options) {
  run::SqliteHandle db = run::CreateSqliteFile(path, schema::kSource812);
  try {
    // Nothing to protect while the file is being made: no journal, no syncs.
    run::ExecSql(db.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN");
    SampleCounts counts = Generator(db.get(), options).Run();
    run::ExecSql(db.get(), "COMMIT");
    return counts;
  } catch (...) {
    db.reset();
    std::error_code ec;
    std::filesystem::remove(path, ec);
    throw;
  }
}

}  // namespace velaccap::sample
