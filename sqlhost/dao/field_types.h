// DAO field types (sqlhost/dao.h) and SQLite declared column types, both ways.
//
// Declared type -> DAO type (case ignored, a "(n)" size ignored):
//   BOOLEAN BOOL BIT YESNO LOGICAL                      kBoolean  1
//   BYTE TINYINT                                        kByte     2
//   SMALLINT SHORT                                      kInteger  3
//   INTEGER INT LONG INT4 MEDIUMINT COUNTER AUTOINCREMENT kLong   4
//   CURRENCY MONEY                                      kCurrency 5
//   SINGLE REAL4 FLOAT4                                 kSingle   6
//   DOUBLE "DOUBLE PRECISION" FLOAT REAL NUMBER         kDouble   7
//   DATE DATETIME TIME TIMESTAMP                        kDate     8
//   TEXT VARCHAR CHAR NVARCHAR NCHAR STRING CHARACTER   kText    10
//   BLOB LONGBINARY BINARY VARBINARY IMAGE OLEOBJECT    kLongBinary 11
//   LONGTEXT MEMO CLOB NOTE LONGCHAR                    kMemo    12
//   BIGINT INT8                                         kBigInt  16
//   DECIMAL NUMERIC                                     kDecimal 20
//   FLOAT8                                              kFloat   21
// any other name by SQLite's affinity rules: containing INT kLong; CHAR,
// CLOB or TEXT kText; BLOB kLongBinary; anything else kDouble.
//
// A column without a declared type (an expression of a query) takes its type
// from the storage class of its first non-Null value: integer kLong, real
// kDouble, text kText, blob kLongBinary; no non-Null value at all: kText.
//
// DAO type -> declared type, for the tables the host creates: the first name
// of each row above, except kText "TEXT", kMemo "LONGTEXT" and kDouble
// "DOUBLE" (so that each reads back as the same type and gets the right
// SQLite affinity: a memo holding "123" stays a text).
#pragma once

#include <cstdint>
#include <string>

namespace pramble::sqlhost {

std::int32_t DaoTypeOfDeclaredType(const std::string& declared);
std::string DeclaredTypeOfDaoType(std::int32_t dao_type);
// The DAO type for a SQLite storage class (SQLITE_INTEGER ...); 0 for NULL.
std::int32_t DaoTypeOfStorageClass(int storage_class);

}  // namespace pramble::sqlhost
