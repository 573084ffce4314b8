-- The least 8.20 account set the run can write: the tables of the run with
-- the columns its statements and field maps name, the source's own columns
-- of the tables copied by name, each table's key, and columns of its own
-- that the run leaves to their defaults. Written apart from schema/.

CREATE TABLE AP_ALARMSET (cflag TEXT NOT NULL, CNUM TEXT NOT NULL, bAlarm INTEGER DEFAULT 0,
                          PRIMARY KEY (cflag, CNUM));
CREATE TABLE Ap_BillAge (iBeginDays REAL, cNum TEXT NOT NULL, cFlag TEXT NOT NULL, PRIMARY KEY (cFlag, cNum));
CREATE TABLE Ap_CancelNo (ID INTEGER PRIMARY KEY AUTOINCREMENT, cflag TEXT, ctype TEXT, icancelno INTEGER,
                          dMigrated TEXT DEFAULT '2026-01-01');
CREATE TABLE Ap_CloseBill (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, dVouchDate TEXT, cDigest TEXT,
                           iAmount NUMERIC, iPeriod INTEGER DEFAULT 1);
CREATE TABLE Ap_CtrlCode (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, iType INTEGER DEFAULT 3);

CREATE TABLE SaleBillVouch (
  SBVID INTEGER PRIMARY KEY, cSTCode TEXT, cChecker TEXT, cSBVCode TEXT NOT NULL, cVouchType TEXT NOT NULL,
  ddate TEXT, cDepCode TEXT, cPersonCode TEXT, cSOCode TEXT, cCusCode TEXT, cPayCode TEXT, cexch_name TEXT,
  cMemo TEXT, iExchRate REAL, iTaxRate NUMERIC, bReturnFlag INTEGER, cMaker TEXT, cVerifier TEXT,
  bFirst INTEGER, citem_class TEXT, citemcode TEXT, cHeadCode TEXT, cDefine1 TEXT, cDefine2 TEXT,
  cDefine3 TEXT, cDefine4 TEXT, cDefine5 TEXT, cDefine6 TEXT, cDefine7 TEXT, cDefine8 TEXT, cDefine9 TEXT,
  cDefine10 TEXT, bPayMent INTEGER, iVersion INTEGER DEFAULT 820);
CREATE TABLE SaleBillVouchs (
  AUTOID INTEGER PRIMARY KEY, sbvid INTEGER NOT NULL, cinvcode TEXT, iQuantity REAL, iUnitPrice REAL,
  iTaxUnitPrice REAL, iMoney REAL, iTax REAL, iSum NUMERIC, iNatUnitPrice REAL, iNatMoney REAL, iNatTax REAL,
  iNatSum NUMERIC, iMoneySum REAL, iExchSum REAL, cClue TEXT, dSignDate TEXT, cMemo TEXT, cFree1 TEXT,
  cFree2 TEXT, iTaxRate REAL, cWhCode TEXT);
CREATE TABLE PurBillVouch (
  cBusType TEXT, PBVID INTEGER PRIMARY KEY, cPBVBillType TEXT NOT NULL, cPBVCode TEXT NOT NULL, dPBVDate TEXT,
  cDepCode TEXT, cPersonCode TEXT, cOrderCode TEXT, cVenCode TEXT, cUnitCode TEXT, cPayCode TEXT,
  cexch_name TEXT, cPBVMemo TEXT, cExchRate REAL, iPBVTaxRate REAL, dSDate TEXT, bNegative INTEGER,
  cPBVMaker TEXT, cPBVVerifier TEXT, bFirst INTEGER, citem_class TEXT, citemcode TEXT, cHeadCode TEXT,
  cDefine1 TEXT, cDefine2 TEXT, cDefine3 TEXT, cDefine4 TEXT, cDefine5 TEXT, cDefine6 TEXT, cDefine7 TEXT,
  cDefine8 TEXT, cDefine9 TEXT, cDefine10 TEXT, bPayMent INTEGER);
CREATE TABLE PurBillVouchs (
  ID INTEGER PRIMARY KEY, PBVID INTEGER NOT NULL, cInvCode TEXT, dInDate TEXT, iPBVQuantity REAL,
  iOriCost REAL, iOriMoney REAL, iOriTaxPrice REAL, iOriSum REAL, iCost REAL, iMoney REAL, iTaxPrice REAL,
  iSum REAL, iOriTotal NUMERIC, iTotal NUMERIC, cClue TEXT, dSignDate TEXT, cFree1 TEXT, cFree2 TEXT,
  itaxrate REAL);

CREATE TABLE Ap_Detail (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, cvouchid TEXT, cCoVouchID TEXT,
                        cCoVouchType TEXT, cInvCode TEXT, IBVID INTEGER, iAmount REAL, iExchRate REAL,
                        cCheckedBy TEXT);
CREATE TABLE Ap_InputCode (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, cNum TEXT NOT NULL, cNote TEXT,
                           cNote_f TEXT, cFlag TEXT, cArCode TEXT, cArCodeName TEXT, cApCode TEXT,
                           cApCodeName TEXT, iOrder INTEGER DEFAULT 7);
CREATE TABLE Ap_InvCode (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, cInvCode TEXT);
CREATE TABLE Ap_Note (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, iAmount REAL);
CREATE TABLE Ap_Note_Sub (ID INTEGER PRIMARY KEY AUTOINCREMENT, iNo NUMERIC);
CREATE TABLE Ap_SStyleCode (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, cSSName TEXT);
CREATE TABLE Ap_Vouch (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, dVouchDate TEXT, iAmount REAL);
CREATE TABLE Ap_Vouchs (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, iAmount REAL);
CREATE TABLE Ap_VouchType (cTypeCode TEXT PRIMARY KEY);
CREATE TABLE Ar_BadAge (cNum TEXT PRIMARY KEY, iEndDays REAL);
CREATE TABLE Ar_BadPara (iMethod INTEGER, dJtDate TEXT);
CREATE TABLE AccInformation (cSysID TEXT NOT NULL, cName TEXT NOT NULL, cValue TEXT, cCaption TEXT,
                             PRIMARY KEY (cSysID, cName));
INSERT INTO AccInformation (cSysID, cName, cValue) VALUES
  ('AR', 'bAutoVerify', '1'), ('AP', 'bCtlCredit', '0'), ('GL', 'iYear', '2026');
