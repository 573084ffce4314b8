-- An empty account set of release 8.20 in SQL Server, as far as the ledger
-- upgrade writes it: the same tables, columns, keys, indexes and option rows
-- as target_820.sql, in SQL Server's own types. Text is nvarchar so that any
-- script survives; ids that the upgrade takes over from 8.12 (invoice and
-- invoice line ids) are plain primary keys, ids it leaves to the target are
-- identities. One batch: run it with sqlcmd -i, or through any ODBC client,
-- on an empty database.

CREATE TABLE Ap_AlarmSet (
  cFlag NVARCHAR(2) NOT NULL,
  cNum NVARCHAR(10) NOT NULL,
  cName NVARCHAR(40),
  iDays INT,
  bAlarm BIT,
  cMemo NVARCHAR(60),
  bEmail BIT DEFAULT 0,
  PRIMARY KEY (cFlag, cNum)
);

CREATE TABLE Ap_BillAge (
  cFlag NVARCHAR(2) NOT NULL,
  cNum NVARCHAR(10) NOT NULL,
  cName NVARCHAR(40),
  iBeginDays INT,
  iEndDays INT,
  PRIMARY KEY (cFlag, cNum)
);

-- 8.20 keeps one row per flag and type: the highest number handed out.
CREATE TABLE Ap_CancelNo (
  Auto_ID INT IDENTITY(1,1) PRIMARY KEY,
  cFlag NVARCHAR(2),
  cType NVARCHAR(10),
  iCancelNo INT
);

CREATE TABLE Ap_CloseBill (
  Auto_ID INT IDENTITY(1,1) PRIMARY KEY,
  cFlag NVARCHAR(2),
  cVouchType NVARCHAR(2),
  cVouchID NVARCHAR(30),
  dVouchDate DATETIME,
  cDwCode NVARCHAR(20),
  cDeptCode NVARCHAR(12),
  cPerson NVARCHAR(20),
  cItem_Class NVARCHAR(2),
  cItemCode NVARCHAR(20),
  cDigest NVARCHAR(60),
  cexch_name NVARCHAR(8),
  iExchRate FLOAT,
  iAmount MONEY,
  iAmount_f MONEY,
  cSSCode NVARCHAR(3),
  cNoteNo NVARCHAR(30),
  iPeriod INT,
  bStartFlag BIT,
  cOperator NVARCHAR(20)
);

CREATE TABLE Ap_CtrlCode (
  Auto_ID INT IDENTITY(1,1) PRIMARY KEY,
  cFlag NVARCHAR(2),
  cCode NVARCHAR(20),
  cKm NVARCHAR(15),
  cKmName NVARCHAR(40),
  cPreKm NVARCHAR(15),
  iType INT
);

-- Sales invoices. Rows whose cSTCode holds a value belong to the sales
-- module, not to the ledger; the upgrade leaves them alone.
CREATE TABLE SaleBillVouch (
  SBVID INT NOT NULL PRIMARY KEY,
  cVouchType NVARCHAR(2) NOT NULL,
  cSBVCode NVARCHAR(30) NOT NULL,
  cSTCode NVARCHAR(2),
  dDate DATETIME,
  cDepCode NVARCHAR(12),
  cPersonCode NVARCHAR(20),
  cSOCode NVARCHAR(30),
  cCusCode NVARCHAR(20),
  cPayCode NVARCHAR(3),
  cexch_name NVARCHAR(8),
  cMemo NVARCHAR(60),
  iExchRate FLOAT,
  iTaxRate FLOAT,
  bReturnFlag BIT,
  cMaker NVARCHAR(20),
  cChecker NVARCHAR(20),
  cVerifier NVARCHAR(20),
  bFirst BIT,
  citem_class NVARCHAR(2),
  citemcode NVARCHAR(20),
  cHeadCode NVARCHAR(15),
  cDefine1 NVARCHAR(20),
  cDefine2 NVARCHAR(20),
  cDefine3 NVARCHAR(20),
  cDefine4 DATETIME,
  cDefine5 INT,
  cDefine6 DATETIME,
  cDefine7 FLOAT,
  cDefine8 NVARCHAR(4),
  cDefine9 NVARCHAR(8),
  cDefine10 NVARCHAR(60),
  bPayMent BIT,
  cSource NVARCHAR(10) DEFAULT 'AR',
  iVerifyState INT DEFAULT 0,
  dVerifyDate DATETIME
);
-- The parent lookup of the continuation merge and the line lookup of the
-- payables detail ledger search by type and code.
CREATE INDEX SaleBillVouch_Code ON SaleBillVouch (cVouchType, cSBVCode);
CREATE INDEX SaleBillVouch_STCode ON SaleBillVouch (cSTCode);

CREATE TABLE SaleBillVouchs (
  AutoID INT NOT NULL PRIMARY KEY,
  SBVID INT NOT NULL,
  cInvCode NVARCHAR(20),
  iQuantity FLOAT,
  iUnitPrice FLOAT,
  iTaxUnitPrice FLOAT,
  iMoney MONEY,
  iTax MONEY,
  iSum MONEY,
  iNatUnitPrice FLOAT,
  iNatMoney MONEY,
  iNatTax MONEY,
  iNatSum MONEY,
  iMoneySum MONEY,
  iExchSum MONEY,
  cClue NVARCHAR(30),
  dSignDate DATETIME,
  cMemo NVARCHAR(60),
  cFree1 NVARCHAR(20),
  cFree2 NVARCHAR(20),
  iTaxRate FLOAT,
  iSettleNum FLOAT DEFAULT 0,
  cDefine22 NVARCHAR(60)
);
-- One search for the merge's update and the detail line lookup: lines of an
-- invoice carrying an item.
CREATE INDEX SaleBillVouchs_Inv ON SaleBillVouchs (SBVID, cInvCode);

-- Purchase invoices. Rows whose cBusType holds a value belong to the
-- purchasing module.
CREATE TABLE PurBillVouch (
  PBVID INT NOT NULL PRIMARY KEY,
  cPBVBillType NVARCHAR(2) NOT NULL,
  cPBVCode NVARCHAR(30) NOT NULL,
  cBusType NVARCHAR(8),
  dPBVDate DATETIME,
  cDepCode NVARCHAR(12),
  cPersonCode NVARCHAR(20),
  cOrderCode NVARCHAR(30),
  cVenCode NVARCHAR(20),
  cUnitCode NVARCHAR(20),
  cPayCode NVARCHAR(3),
  cexch_name NVARCHAR(8),
  cPBVMemo NVARCHAR(60),
  cExchRate FLOAT,
  iPBVTaxRate FLOAT,
  dSDate DATETIME,
  bNegative BIT,
  cPBVMaker NVARCHAR(20),
  cPBVVerifier NVARCHAR(20),
  bFirst BIT,
  citem_class NVARCHAR(2),
  citemcode NVARCHAR(20),
  cHeadCode NVARCHAR(15),
  cDefine1 NVARCHAR(20),
  cDefine2 NVARCHAR(20),
  cDefine3 NVARCHAR(20),
  cDefine4 DATETIME,
  cDefine5 INT,
  cDefine6 DATETIME,
  cDefine7 FLOAT,
  cDefine8 NVARCHAR(4),
  cDefine9 NVARCHAR(8),
  cDefine10 NVARCHAR(60),
  bPayMent BIT,
  cSource NVARCHAR(10) DEFAULT 'AP',
  iVerifyState INT DEFAULT 0,
  dVerifyDate DATETIME
);
CREATE INDEX PurBillVouch_Code ON PurBillVouch (cPBVBillType, cPBVCode);
CREATE INDEX PurBillVouch_BusType ON PurBillVouch (cBusType);

CREATE TABLE PurBillVouchs (
  ID INT NOT NULL PRIMARY KEY,
  PBVID INT NOT NULL,
  cInvCode NVARCHAR(20),
  dInDate DATETIME,
  iPBVQuantity FLOAT,
  iOriCost FLOAT,
  iOriMoney MONEY,
  iOriTaxPrice MONEY,
  iOriSum MONEY,
  iCost FLOAT,
  iMoney MONEY,
  iTaxPrice MONEY,
  iSum MONEY,
  iOriTotal MONEY,
  iTotal MONEY,
  cClue NVARCHAR(30),
  dSignDate DATETIME,
  cFree1 NVARCHAR(20),
  cFree2 NVARCHAR(20),
  iTaxRate FLOAT,
  iSettleNum FLOAT DEFAULT 0,
  cDefine22 NVARCHAR(60)
);
CREATE INDEX PurBillVouchs_Inv ON PurBillVouchs (PBVID, cInvCode);

CREATE TABLE Ap_Detail (
  Auto_ID INT IDENTITY(1,1) PRIMARY KEY,
  cFlag NVARCHAR(2),
  cVouchType NVARCHAR(2),
  cVouchID NVARCHAR(30),
  dVouchDate DATETIME,
  iPeriod INT,
  cDwCode NVARCHAR(20),
  cDeptCode NVARCHAR(12),
  cPerson NVARCHAR(20),
  cItem_Class NVARCHAR(2),
  cItemCode NVARCHAR(20),
  cDigest NVARCHAR(60),
  cInvCode NVARCHAR(20),
  iBVID INT,
  cCoVouchType NVARCHAR(2),
  cCoVouchID NVARCHAR(30),
  iAmount MONEY,
  iRAmount MONEY,
  iAmount_f MONEY,
  iRAmount_f MONEY,
  cexch_name NVARCHAR(8),
  iExchRate FLOAT,
  iQuantity FLOAT,
  cCancelNo NVARCHAR(20),
  bPrePay BIT,
  cOperator NVARCHAR(20),
  iAmount_s FLOAT DEFAULT 0,
  cProcStyle NVARCHAR(2)
);
CREATE INDEX Ap_Detail_Vouch ON Ap_Detail (cVouchType, cVouchID);
CREATE INDEX Ap_Detail_CoVouch ON Ap_Detail (cCoVouchType, cCoVouchID);

CREATE TABLE Ap_InputCode (
  Auto_ID INT IDENTITY(1,1) PRIMARY KEY,
  cNum NVARCHAR(4) NOT NULL,
  cNote NVARCHAR(40),
  cNote_f NVARCHAR(20),
  cFlag NVARCHAR(2) NOT NULL,
  cArCode NVARCHAR(15),
  cArCodeName NVARCHAR(40),
  cApCode NVARCHAR(15),
  cApCodeName NVARCHAR(40)
);
CREATE UNIQUE INDEX Ap_InputCode_Num ON Ap_InputCode (cNum, cFlag);

CREATE TABLE Ap_InvCode (
  Auto_ID INT IDENTITY(1,1) PRIMARY KEY,
  cFlag NVARCHAR(2),
  cInvCode NVARCHAR(20),
  cInvName NVARCHAR(60),
  cKm NVARCHAR(15),
  cTaxKm NVARCHAR(15)
);

CREATE TABLE Ap_Note (
  Auto_ID INT IDENTITY(1,1) PRIMARY KEY,
  cFlag NVARCHAR(2),
  cNoteNo NVARCHAR(30),
  cNoteType NVARCHAR(2),
  cDwCode NVARCHAR(20),
  dSignDate DATETIME,
  dEndDate DATETIME,
  iAmount MONEY,
  iRate FLOAT,
  cBank NVARCHAR(40),
  cDigest NVARCHAR(60),
  bSettle BIT,
  cOperator NVARCHAR(20)
);

CREATE TABLE Ap_Note_Sub (
  ID INT IDENTITY(1,1) PRIMARY KEY,
  cNoteNo NVARCHAR(30),
  iNo INT,
  dDate DATETIME,
  cProcess NVARCHAR(10),
  iAmount MONEY,
  cMemo NVARCHAR(60)
);

CREATE TABLE Ap_SStyleCode (
  Auto_ID INT IDENTITY(1,1) PRIMARY KEY,
  cSSCode NVARCHAR(3),
  cSSName NVARCHAR(20),
  bNote BIT,
  cKm NVARCHAR(15)
);

CREATE TABLE Ap_Vouch (
  Auto_ID INT IDENTITY(1,1) PRIMARY KEY,
  cFlag NVARCHAR(2),
  cVouchType NVARCHAR(2),
  cVouchID NVARCHAR(30),
  dVouchDate DATETIME,
  cDwCode NVARCHAR(20),
  cDeptCode NVARCHAR(12),
  cPerson NVARCHAR(20),
  cDigest NVARCHAR(60),
  cexch_name NVARCHAR(8),
  iExchRate FLOAT,
  iAmount MONEY,
  iAmount_f MONEY,
  cSSCode NVARCHAR(3),
  cNoteNo NVARCHAR(30),
  bStartFlag BIT,
  cOperator NVARCHAR(20),
  cCheckMan NVARCHAR(20)
);
CREATE INDEX Ap_Vouch_Vouch ON Ap_Vouch (cVouchType, cVouchID);

CREATE TABLE Ap_Vouchs (
  Auto_ID INT IDENTITY(1,1) PRIMARY KEY,
  cVouchType NVARCHAR(2),
  cVouchID NVARCHAR(30),
  cDwCode NVARCHAR(20),
  cKm NVARCHAR(15),
  iAmount MONEY,
  iAmount_f MONEY,
  cDigest NVARCHAR(60),
  cDeptCode NVARCHAR(12),
  cPerson NVARCHAR(20)
);

CREATE TABLE Ap_VouchType (
  cTypeCode NVARCHAR(2) PRIMARY KEY,
  cTypeName NVARCHAR(20),
  cFlag NVARCHAR(2),
  iSign INT,
  bSystem BIT
);

CREATE TABLE Ar_BadAge (
  cNum NVARCHAR(4) PRIMARY KEY,
  iBeginDays INT,
  iEndDays INT,
  iRate FLOAT
);

CREATE TABLE Ar_BadPara (
  dJtDate DATETIME,
  cKm NVARCHAR(15),
  iMethod INT,
  iRate FLOAT,
  iAmount MONEY,
  cOperator NVARCHAR(20)
);

CREATE TABLE AccInformation (
  cSysID NVARCHAR(2) NOT NULL,
  cName NVARCHAR(40) NOT NULL,
  cValue NVARCHAR(255),
  cCaption NVARCHAR(60),
  cType NVARCHAR(10),
  cDefault NVARCHAR(255),
  PRIMARY KEY (cSysID, cName)
);

-- The receivable and payable options of a fresh 8.20 account set, with
-- their release defaults. bRedInvoiceCheck and bMultiCurrency are new in
-- 8.20; the rest existed in 8.12. One option of another subsystem shows that
-- the upgrade leaves foreign options alone.
INSERT INTO AccInformation (cSysID, cName, cValue, cCaption, cType, cDefault) VALUES
  ('AR', 'bAutoVerify', '1', 'Verify on saving', 'bool', '1'),
  ('AR', 'bCtlCredit', '0', 'Control credit limits', 'bool', '0'),
  ('AR', 'bRedInvoiceCheck', '1', 'Check red invoices against their originals', 'bool', '1'),
  ('AR', 'cAgeBase', 'dDate', 'Ageing base date', 'text', 'dDate'),
  ('AR', 'cBadDebtMethod', 'Ageing', 'Bad-debt provision method', 'text', 'Ageing'),
  ('AR', 'cStatementTitle', 'Statement', 'Statement title', 'text', 'Statement'),
  ('AR', 'cVouchCodeRule', 'auto', 'Voucher numbering', 'text', 'auto'),
  ('AR', 'dStartDate', '2003-01-01', 'Start date of the ledger', 'date', NULL),
  ('AR', 'iPrecision', '2', 'Amount precision', 'int', '2'),
  ('AP', 'bAutoVerify', '1', 'Verify on saving', 'bool', '1'),
  ('AP', 'bCtlCredit', '0', 'Control credit limits', 'bool', '0'),
  ('AP', 'bMultiCurrency', '0', 'Settle in several currencies', 'bool', '0'),
  ('AP', 'bPrePayVerify', '0', 'Verify prepayments', 'bool', '0'),
  ('AP', 'cAgeBase', 'dDate', 'Ageing base date', 'text', 'dDate'),
  ('AP', 'cDefaultSettle', '1', 'Default settlement style', 'text', '1'),
  ('AP', 'cVouchCodeRule', 'auto', 'Voucher numbering', 'text', 'auto'),
  ('AP', 'dStartDate', '2003-01-01', 'Start date of the ledger', 'date', NULL),
  ('AP', 'iPrecision', '2', 'Amount precision', 'int', '2'),
  ('GL', 'iPrecision', '2', 'Amount precision', 'int', '2');
