-- An account set of release 8.12 as the ledger upgrade reads it: the
-- receivables and payables tables, the invoices the ledger owns and the
-- options table. Declared types follow the Access originals (TEXT/VARCHAR,
-- INTEGER for Long and Counter, DOUBLE and MONEY, DATETIME, BIT for Yes/No),
-- so a reader that maps declared types sees what DAO would hand over.

-- Ageing alarm settings, per flag (R receivables, P payables).
CREATE TABLE Ap_AlarmSet (
  cFlag VARCHAR(2) NOT NULL,
  cNum VARCHAR(10) NOT NULL,
  cName VARCHAR(40),
  iDays INTEGER,
  bAlarm BIT,
  cMemo VARCHAR(60),
  PRIMARY KEY (cFlag, cNum)
);

-- Ageing intervals.
CREATE TABLE Ap_BillAge (
  cFlag VARCHAR(2) NOT NULL,
  cNum VARCHAR(10) NOT NULL,
  cName VARCHAR(40),
  iBeginDays INTEGER,
  iEndDays INTEGER,
  PRIMARY KEY (cFlag, cNum)
);

-- Cancellation numbers handed out, per flag and type; 8.20 keeps the highest.
CREATE TABLE Ap_CancelNo (
  Auto_ID INTEGER PRIMARY KEY,
  cFlag VARCHAR(2),
  cType VARCHAR(10),
  iCancelNo INTEGER,
  dDate DATETIME,
  cOperator VARCHAR(20)
);

-- Closing balances carried into the ledger.
CREATE TABLE Ap_CloseBill (
  Auto_ID INTEGER PRIMARY KEY,
  cFlag VARCHAR(2),
  cVouchType VARCHAR(2),
  cVouchID VARCHAR(30),
  dVouchDate DATETIME,
  cDwCode VARCHAR(20),
  cDeptCode VARCHAR(12),
  cPerson VARCHAR(20),
  cDigest VARCHAR(60),
  cexch_name VARCHAR(8),
  iExchRate DOUBLE,
  iAmount MONEY,
  iAmount_f MONEY,
  cSSCode VARCHAR(3),
  cNoteNo VARCHAR(30),
  iPeriod INTEGER,
  bStartFlag BIT,
  cOperator VARCHAR(20)
);

-- Control accounts per customer or vendor class.
CREATE TABLE Ap_CtrlCode (
  Auto_ID INTEGER PRIMARY KEY,
  cFlag VARCHAR(2),
  cCode VARCHAR(20),
  cKm VARCHAR(15),
  cKmName VARCHAR(40),
  cPreKm VARCHAR(15),
  iType INTEGER
);

-- Sales invoice headers. cSTCode set marks an invoice of another module.
CREATE TABLE SaleBillVouch (
  SBVID INTEGER PRIMARY KEY,
  cSBVCode VARCHAR(30),
  cVouchType VARCHAR(2),
  cSTCode VARCHAR(2),
  dDate DATETIME,
  cDepCode VARCHAR(12),
  cPersonCode VARCHAR(20),
  cSOCode VARCHAR(30),
  cCusCode VARCHAR(20),
  cPayCode VARCHAR(3),
  cexch_name VARCHAR(8),
  cMemo VARCHAR(60),
  iExchRate DOUBLE,
  iTaxRate DOUBLE,
  bReturnFlag BIT,
  cMaker VARCHAR(20),
  cChecker VARCHAR(20),
  cVerifier VARCHAR(20),
  bFirst BIT,
  citem_class VARCHAR(2),
  citemcode VARCHAR(20),
  cHeadCode VARCHAR(15),
  cDefine1 VARCHAR(20),
  cDefine2 VARCHAR(20),
  cDefine3 VARCHAR(20),
  cDefine4 DATETIME,
  cDefine5 INTEGER,
  cDefine6 DATETIME,
  cDefine7 DOUBLE,
  cDefine8 VARCHAR(4),
  cDefine9 VARCHAR(8),
  cDefine10 VARCHAR(60),
  bPayMent BIT,
  cShipAddress VARCHAR(60),
  iPrintCount INTEGER
);
CREATE INDEX SaleBillVouch_Code ON SaleBillVouch (cVouchType, cSBVCode);

-- Sales invoice lines.
CREATE TABLE SaleBillVouchs (
  AutoID INTEGER PRIMARY KEY,
  SBVID INTEGER NOT NULL,
  cInvCode VARCHAR(20),
  iQuantity DOUBLE,
  iUnitPrice DOUBLE,
  iTaxUnitPrice DOUBLE,
  iMoney MONEY,
  iTax MONEY,
  iSum MONEY,
  iNatUnitPrice DOUBLE,
  iNatMoney MONEY,
  iNatTax MONEY,
  iNatSum MONEY,
  iMoneySum MONEY,
  iExchSum MONEY,
  cClue VARCHAR(30),
  dSignDate DATETIME,
  cMemo VARCHAR(60),
  cFree1 VARCHAR(20),
  cFree2 VARCHAR(20),
  iTaxRate DOUBLE,
  iSettleNum DOUBLE
);
CREATE INDEX SaleBillVouchs_SBVID ON SaleBillVouchs (SBVID);

-- Purchase invoice headers. cBusType set marks an invoice of another module.
CREATE TABLE PurBillVouch (
  PBVID INTEGER PRIMARY KEY,
  cPBVBillType VARCHAR(2),
  cPBVCode VARCHAR(30),
  cBusType VARCHAR(8),
  dPBVDate DATETIME,
  cDepCode VARCHAR(12),
  cPersonCode VARCHAR(20),
  cOrderCode VARCHAR(30),
  cVenCode VARCHAR(20),
  cUnitCode VARCHAR(20),
  cPayCode VARCHAR(3),
  cexch_name VARCHAR(8),
  cPBVMemo VARCHAR(60),
  cExchRate DOUBLE,
  iPBVTaxRate DOUBLE,
  dSDate DATETIME,
  bNegative BIT,
  cPBVMaker VARCHAR(20),
  cPBVVerifier VARCHAR(20),
  bFirst BIT,
  citem_class VARCHAR(2),
  citemcode VARCHAR(20),
  cHeadCode VARCHAR(15),
  cDefine1 VARCHAR(20),
  cDefine2 VARCHAR(20),
  cDefine3 VARCHAR(20),
  cDefine4 DATETIME,
  cDefine5 INTEGER,
  cDefine6 DATETIME,
  cDefine7 DOUBLE,
  cDefine8 VARCHAR(4),
  cDefine9 VARCHAR(8),
  cDefine10 VARCHAR(60),
  bPayMent BIT,
  iPrintCount INTEGER
);
CREATE INDEX PurBillVouch_Code ON PurBillVouch (cPBVBillType, cPBVCode);

-- Purchase invoice lines.
CREATE TABLE PurBillVouchs (
  ID INTEGER PRIMARY KEY,
  PBVID INTEGER NOT NULL,
  cInvCode VARCHAR(20),
  dInDate DATETIME,
  iPBVQuantity DOUBLE,
  iOriCost DOUBLE,
  iOriMoney MONEY,
  iOriTaxPrice MONEY,
  iOriSum MONEY,
  iCost DOUBLE,
  iMoney MONEY,
  iTaxPrice MONEY,
  iSum MONEY,
  iOriTotal MONEY,
  iTotal MONEY,
  cClue VARCHAR(30),
  dSignDate DATETIME,
  cFree1 VARCHAR(20),
  cFree2 VARCHAR(20),
  iPBVTaxRate DOUBLE,
  iSettleNum DOUBLE
);
CREATE INDEX PurBillVouchs_PBVID ON PurBillVouchs (PBVID);

-- The payables and receivables detail ledger: one row per ledger line,
-- referring to the voucher it settles (cCoVouchID of type cCoVouchType) and
-- to the invoice line concerned (iBVID).
CREATE TABLE Ap_Detail (
  Auto_ID INTEGER PRIMARY KEY,
  cFlag VARCHAR(2),
  cVouchType VARCHAR(2),
  cVouchID VARCHAR(30),
  dVouchDate DATETIME,
  iPeriod INTEGER,
  cDwCode VARCHAR(20),
  cDeptCode VARCHAR(12),
  cPerson VARCHAR(20),
  cItem_Class VARCHAR(2),
  cItemCode VARCHAR(20),
  cDigest VARCHAR(60),
  cInvCode VARCHAR(20),
  iBVID INTEGER,
  cCoVouchType VARCHAR(2),
  cCoVouchID VARCHAR(30),
  iAmount MONEY,
  iRAmount MONEY,
  iAmount_f MONEY,
  iRAmount_f MONEY,
  cexch_name VARCHAR(8),
  iExchRate DOUBLE,
  iQuantity DOUBLE,
  cCancelNo VARCHAR(20),
  bPrePay BIT,
  cOperator VARCHAR(20)
);

-- Input codes: the accounts that entries of each kind post to.
CREATE TABLE Ap_InputCode (
  Auto_ID INTEGER PRIMARY KEY,
  cNum VARCHAR(4),
  cNote VARCHAR(40),
  cNote_f VARCHAR(20),
  cFlag VARCHAR(2),
  cArCode VARCHAR(15),
  cArCodeName VARCHAR(40),
  cApCode VARCHAR(15),
  cApCodeName VARCHAR(40)
);

-- Accounts per inventory item.
CREATE TABLE Ap_InvCode (
  Auto_ID INTEGER PRIMARY KEY,
  cFlag VARCHAR(2),
  cInvCode VARCHAR(20),
  cInvName VARCHAR(60),
  cKm VARCHAR(15),
  cTaxKm VARCHAR(15)
);

-- Commercial bills (drafts) received and issued.
CREATE TABLE Ap_Note (
  Auto_ID INTEGER PRIMARY KEY,
  cFlag VARCHAR(2),
  cNoteNo VARCHAR(30),
  cNoteType VARCHAR(2),
  cDwCode VARCHAR(20),
  dSignDate DATETIME,
  dEndDate DATETIME,
  iAmount MONEY,
  iRate DOUBLE,
  cBank VARCHAR(40),
  cDigest VARCHAR(60),
  bSettle BIT,
  cOperator VARCHAR(20)
);

-- Processing history of the commercial bills.
CREATE TABLE Ap_Note_Sub (
  ID INTEGER PRIMARY KEY,
  cNoteNo VARCHAR(30),
  iNo INTEGER,
  dDate DATETIME,
  cProcess VARCHAR(10),
  iAmount MONEY,
  cMemo VARCHAR(60)
);

-- Settlement styles.
CREATE TABLE Ap_SStyleCode (
  Auto_ID INTEGER PRIMARY KEY,
  cSSCode VARCHAR(3),
  cSSName VARCHAR(20),
  bNote BIT,
  cKm VARCHAR(15)
);

-- Receipt, payment and adjustment vouchers: headers and lines.
CREATE TABLE Ap_Vouch (
  Auto_ID INTEGER PRIMARY KEY,
  cFlag VARCHAR(2),
  cVouchType VARCHAR(2),
  cVouchID VARCHAR(30),
  dVouchDate DATETIME,
  cDwCode VARCHAR(20),
  cDeptCode VARCHAR(12),
  cPerson VARCHAR(20),
  cDigest VARCHAR(60),
  cexch_name VARCHAR(8),
  iExchRate DOUBLE,
  iAmount MONEY,
  iAmount_f MONEY,
  cSSCode VARCHAR(3),
  cNoteNo VARCHAR(30),
  bStartFlag BIT,
  cOperator VARCHAR(20)
);

CREATE TABLE Ap_Vouchs (
  Auto_ID INTEGER PRIMARY KEY,
  cVouchType VARCHAR(2),
  cVouchID VARCHAR(30),
  cDwCode VARCHAR(20),
  cKm VARCHAR(15),
  iAmount MONEY,
  iAmount_f MONEY,
  cDigest VARCHAR(60),
  cDeptCode VARCHAR(12),
  cPerson VARCHAR(20)
);

-- Voucher types of the ledger.
CREATE TABLE Ap_VouchType (
  cTypeCode VARCHAR(2) PRIMARY KEY,
  cTypeName VARCHAR(20),
  cFlag VARCHAR(2),
  iSign INTEGER,
  bSystem BIT
);

-- Bad-debt ageing and bad-debt parameters of the receivables.
CREATE TABLE Ar_BadAge (
  cNum VARCHAR(4) PRIMARY KEY,
  iBeginDays INTEGER,
  iEndDays INTEGER,
  iRate DOUBLE
);

CREATE TABLE Ar_BadPara (
  dJtDate DATETIME,
  cKm VARCHAR(15),
  iMethod INTEGER,
  iRate DOUBLE,
  iAmount MONEY,
  cOperator VARCHAR(20)
);

-- Options of every subsystem, one row per subsystem and option name.
CREATE TABLE AccInformation (
  cSysID VARCHAR(2) NOT NULL,
  cName VARCHAR(40) NOT NULL,
  cValue VARCHAR(255),
  cCaption VARCHAR(60),
  cType VARCHAR(10),
  PRIMARY KEY (cSysID, cName)
);
