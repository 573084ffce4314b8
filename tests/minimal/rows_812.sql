-- A small 8.12 ledger written by column name, so that it fits the reference
-- schema and the least one alike: ordinary and continuation invoices of both
-- families, ledger lines that refer to them, and a row or two per table.

INSERT INTO Ap_AlarmSet (cFlag, cNum) VALUES ('R', '01'), ('P', '01');
INSERT INTO Ap_BillAge (cFlag, cNum, iBeginDays) VALUES ('R', '1', '0'), ('R', '2', '30');
INSERT INTO Ap_CancelNo (cFlag, cType, iCancelNo) VALUES ('R', 'A', 5), ('R', 'A', 9), ('R', 'A', 7), ('P', 'A', 3);
INSERT INTO Ap_CloseBill (Auto_ID, cDigest, iAmount, dVouchDate) VALUES
  (1, 'opening', 1250.5, '2025-12-31'), (2, 'opening', -20.25, '2025-12-31 10:30:00');
INSERT INTO Ap_CtrlCode (Auto_ID) VALUES (1), (2);

INSERT INTO SaleBillVouch (SBVID, cSBVCode, cVouchType, cSTCode, dDate, cCusCode, cMaker, iTaxRate, iExchRate,
                           bReturnFlag, bFirst, bPayMent, cMemo) VALUES
  (1, 'S001', '26', NULL, '2025-11-03', 'C01', 'ann', 17, 1, 0, 0, 0, 'first'),
  (2, 'S002', '26', NULL, '2025-11-04', 'C02', 'ann', 17, 1, 0, 0, 1, NULL),
  (3, 'S001 2', '26', NULL, '2025-11-05', 'C01', 'bob', 17, 1, 0, 0, 0, 'continued'),
  (4, 'S003', '26', 'ST', '2025-11-06', 'C03', 'cat', 17, 1, 0, 0, 0, 'another module');
INSERT INTO SaleBillVouchs (AutoID, SBVID, cInvCode, iQuantity, iUnitPrice, iTaxUnitPrice, iMoney, iTax, iSum,
                            iNatUnitPrice, iNatMoney, iNatTax, iNatSum, iMoneySum, iExchSum, cMemo, iTaxRate,
                            dSignDate) VALUES
  (1, 1, 'X', 2, 10, 11.7, 20, 3.4, 23.4, 10, 20, 3.4, 23.4, 23.4, 23.4, 'x line', 17, '2025-11-03'),
  (2, 1, 'Y', 1, 5.5, 6.435, 5.5, 0.935, 6.435, 5.5, 5.5, 0.935, 6.435, 6.435, 6.435, NULL, 17, NULL),
  (3, 2, 'X', 3, 10, 11.7, 30, 5.1, 35.1, 10, 30, 5.1, 35.1, 35.1, 35.1, NULL, 17, '2025-11-04'),
  (4, 3, 'X', 1, 10, 11.7, 10, 1.7, 11.7, 10, 10, 1.7, 11.7, 11.7, 11.7, 'into x', 17, NULL),
  (5, 3, 'Z', -1, 4, 4.68, -4, -0.68, -4.68, 4, -4, -0.68, -4.68, -4.68, -4.68, NULL, 17, NULL),
  (6, 4, 'X', 9, 1, 1.17, 9, 1.53, 10.53, 1, 9, 1.53, 10.53, 10.53, 10.53, NULL, 17, NULL);

INSERT INTO PurBillVouch (PBVID, cPBVCode, cPBVBillType, cBusType, dPBVDate, cVenCode, cPBVMaker, iPBVTaxRate,
                          cExchRate, bNegative, bFirst, bPayMent) VALUES
  (1, 'P001', '01', NULL, '2025-10-01', 'V01', 'dan', 13, '1', 0, 0, 0),
  (2, 'P001 1', '01', NULL, '2025-10-02', 'V01', 'dan', 13, '1', 0, 0, 0);
INSERT INTO PurBillVouchs (ID, PBVID, cInvCode, dInDate, iPBVQuantity, iOriCost, iOriMoney, iOriTaxPrice, iOriSum,
                           iCost, iMoney, iTaxPrice, iSum, iOriTotal, iTotal, iPBVTaxRate) VALUES
  (1, 1, 'M', '2025-10-01', 10, 2, 20, 2.6, 22.6, 2, 20, 2.6, 22.6, 22.6, 22.6, 13),
  (2, 2, 'M', NULL, 5, 2, 10, 1.3, 11.3, 2, 10, 1.3, 11.3, 11.3, 11.3, 13),
  (3, 2, 'N', NULL, 1.5, 4, 6, 0.78, 6.78, 4, 6, 0.78, 6.78, 6.78, 6.78, 13);

INSERT INTO Ap_Detail (Auto_ID, cVouchID, cCoVouchID, cCoVouchType, cInvCode, iBVID, iAmount, iExchRate) VALUES
  (1, 'V1', 'S001', '26', 'X', 1, '23.4', 1),
  (2, 'V2 1', 'S001 2', '26', 'Z', 5, '-4.68', 1),
  (3, 'V3', 'P001 1', '01', 'N', 3, '6.78', 1.25),
  (4, 'V4', NULL, NULL, NULL, 0, NULL, NULL);
INSERT INTO Ap_InputCode (Auto_ID, cNum, cNote, cNote_f, cFlag) VALUES (1, '01', 'receipts', 'sk', 'R');
INSERT INTO Ap_InvCode (Auto_ID, cInvCode) VALUES (1, 'X'), (2, 'M');
INSERT INTO Ap_Note (Auto_ID, iAmount) VALUES (1, 500), (2, 0.125);
INSERT INTO Ap_Note_Sub (ID, iNo) VALUES (7, 1), (8, 2);
INSERT INTO Ap_SStyleCode (Auto_ID) VALUES (1);
INSERT INTO Ap_Vouch (Auto_ID, iAmount, dVouchDate) VALUES (1, 99.99, '2025-09-30');
INSERT INTO Ap_Vouchs (Auto_ID, iAmount) VALUES (1, '99.99');
INSERT INTO Ap_VouchType (cTypeCode) VALUES ('26'), ('01');
INSERT INTO Ar_BadAge (cNum, iEndDays) VALUES ('1', 90);
INSERT INTO Ar_BadPara (dJtDate, iMethod) VALUES ('2025-12-31', 2);
INSERT INTO AccInformation (cSysID, cName, cValue) VALUES
  ('AR', 'bAutoVerify', '0'), ('AP', 'bCtlCredit', NULL), ('GL', 'iYear', '2025');
