-- The least 8.12 account set the run can read: the tables of the run with
-- only the columns its queries, field maps and copies name, and each table's
-- key. Written apart from schema/: other column order, other letter case,
-- amounts as REAL, NUMERIC or TEXT, dates as TEXT, a few columns of its own.

CREATE TABLE Ap_AlarmSet (cNum TEXT NOT NULL, CFLAG TEXT NOT NULL, PRIMARY KEY (CFLAG, cNum));
CREATE TABLE ap_billage (cnum TEXT NOT NULL, cflag TEXT NOT NULL, iBeginDays TEXT, PRIMARY KEY (cflag, cnum));
CREATE TABLE Ap_CancelNo (cType TEXT, iCancelNo NUMERIC, cFlag TEXT, cRemark TEXT, auto_id INTEGER PRIMARY KEY);
CREATE TABLE Ap_CloseBill (iAmount REAL, AUTO_ID INTEGER PRIMARY KEY, cDigest TEXT, dVouchDate TEXT);
CREATE TABLE Ap_CtrlCode (Auto_ID INTEGER PRIMARY KEY);

CREATE TABLE SaleBillVouch (
  bPayMent INTEGER, cDefine10 TEXT, cDefine9 TEXT, cDefine8 TEXT, cDefine7 REAL, cDefine6 TEXT,
  cDefine5 NUMERIC, cDefine4 TEXT, cDefine3 TEXT, cDefine2 TEXT, cDefine1 TEXT, cHeadCode TEXT,
  citemcode TEXT, citem_class TEXT, bFirst INTEGER, cVerifier TEXT, CMAKER TEXT, bReturnFlag INTEGER,
  iTaxRate TEXT, iExchRate NUMERIC, cMemo TEXT, cexch_name TEXT, cPayCode TEXT, cCusCode TEXT,
  cSOCode TEXT, cPersonCode TEXT, cDepCode TEXT, dDate TEXT, cVouchType TEXT, cSBVCode TEXT,
  cstcode TEXT, sbvid INTEGER PRIMARY KEY, cPrintedBy TEXT);
CREATE TABLE SaleBillVouchs (
  iTaxRate REAL, cFree2 TEXT, cFree1 TEXT, cMemo TEXT, dSignDate TEXT, cClue TEXT, iExchSum TEXT,
  iMoneySum NUMERIC, iNatSum REAL, iNatTax REAL, iNatMoney REAL, iNatUnitPrice REAL, iSum TEXT,
  iTax REAL, iMoney NUMERIC, iTaxUnitPrice REAL, iUnitPrice REAL, IQUANTITY NUMERIC, cInvCode TEXT,
  SBVID INTEGER NOT NULL, autoid INTEGER PRIMARY KEY, iBatch INTEGER);
CREATE TABLE PurBillVouch (
  PBVID INTEGER PRIMARY KEY, bPayMent INTEGER, cDefine1 TEXT, cDefine2 TEXT, cDefine3 TEXT, cDefine4 TEXT,
  cDefine5 TEXT, cDefine6 TEXT, cDefine7 TEXT, cDefine8 TEXT, cDefine9 TEXT, cDefine10 TEXT, cHeadCode TEXT,
  citemcode TEXT, citem_class TEXT, bFirst INTEGER, cPBVVerifier TEXT, cPBVMaker TEXT, bNegative INTEGER,
  dSDate TEXT, iPBVTaxRate REAL, cExchRate TEXT, cPBVMemo TEXT, cexch_name TEXT, cPayCode TEXT,
  cUnitCode TEXT, cVenCode TEXT, cOrderCode TEXT, cPersonCode TEXT, cDepCode TEXT, dPBVDate TEXT,
  cPBVBillType TEXT, cPBVCode TEXT, cBusType TEXT);
CREATE TABLE PurBillVouchs (
  cFree2 TEXT, cFree1 TEXT, dSignDate TEXT, cClue TEXT, iTotal NUMERIC, iOriTotal TEXT, iSum REAL,
  iTaxPrice REAL, iMoney REAL, iCost REAL, iOriSum NUMERIC, iOriTaxPrice REAL, iOriMoney REAL, iOriCost REAL,
  ipbvquantity TEXT, dInDate TEXT, cInvCode TEXT, pbvid INTEGER NOT NULL, iPBVTaxRate REAL,
  id INTEGER PRIMARY KEY);

CREATE TABLE Ap_Detail (iBVID NUMERIC, cInvCode TEXT, cCoVouchType TEXT, CCOVOUCHID TEXT, cVouchID TEXT,
                        iAmount TEXT, iExchRate REAL, Auto_Id INTEGER PRIMARY KEY);
CREATE TABLE Ap_InputCode (cApCodeName TEXT, cApCode TEXT, cArCodeName TEXT, cArCode TEXT, cFlag TEXT,
                           cNote_f TEXT, cNote TEXT, cNum TEXT, Auto_ID INTEGER PRIMARY KEY);
CREATE TABLE Ap_InvCode (Auto_ID INTEGER PRIMARY KEY, cInvCode TEXT);
CREATE TABLE Ap_Note (Auto_ID INTEGER PRIMARY KEY, iAmount NUMERIC);
CREATE TABLE Ap_Note_Sub (iNo INTEGER, id INTEGER PRIMARY KEY);
CREATE TABLE Ap_SStyleCode (Auto_ID INTEGER PRIMARY KEY, cSSName TEXT);
CREATE TABLE Ap_Vouch (Auto_ID INTEGER PRIMARY KEY, iAmount REAL, dVouchDate TEXT);
CREATE TABLE Ap_Vouchs (Auto_ID INTEGER PRIMARY KEY, iAmount TEXT);
CREATE TABLE Ap_VouchType (cTypeCode TEXT PRIMARY KEY);
CREATE TABLE Ar_BadAge (cNum TEXT PRIMARY KEY, iEndDays INTEGER);
CREATE TABLE Ar_BadPara (dJtDate TEXT, iMethod INTEGER);
CREATE TABLE AccInformation (cValue TEXT, cName TEXT NOT NULL, cSysID TEXT NOT NULL, PRIMARY KEY (cSysID, cName));
