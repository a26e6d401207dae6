#include "sqlhost/dao/field_types.h"

#include <sqlite3.h>

#include <cctype>
#include <map>

#include "pramble/host/dao.h"

namespace pramble::sqlhost {

using namespace host::dao;

std::int32_t DaoTypeOfDeclaredType(const std::string& declared) {
  static const std::map<std::string, std::int32_t> kTypes = {
      {"BOOLEAN", kBoolean},   {"BOOL", kBoolean},       {"BIT", kBoolean},
      {"YESNO", kBoolean},     {"LOGICAL", kBoolean},    {"BYTE", kByte},
      {"TINYINT", kByte},      {"SMALLINT", kInteger},   {"SHORT", kInteger},
      {"INTEGER", kLong},      {"INT", kLong},           {"LONG", kLong},
      {"INT4", kLong},         {"MEDIUMINT", kLong},     {"COUNTER", kLong},
      {"AUTOINCREMENT", kLong}, {"CURRENCY", kCurrency}, {"MONEY", kCurrency},
      {"SINGLE", kSingle},     {"REAL4", kSingle},       {"FLOAT4", kSingle},
      {"DOUBLE", kDouble},     {"DOUBLE PRECISION", kDouble}, {"FLOAT", kDouble},
      {"REAL", kDouble},       {"NUMBER", kDouble},      {"DATE", kDate},
      {"DATETIME", kDate},     {"TIME", kDate},          {"TIMESTAMP", kDate},
      {"TEXT", kText},         {"VARCHAR", kText},       {"CHAR", kText},
      {"NVARCHAR", kText},     {"NCHAR", kText},         {"STRING", kText},
      {"CHARACTER", kText},    {"BLOB", kLongBinary},    {"LONGBINARY", kLongBinary},
      {"BINARY", kLongBinary}, {"VARBINARY", kLongBinary}, {"IMAGE", kLongBinary},
      {"OLEOBJECT", kLongBinary}, {"LONGTEXT", kMemo},   {"MEMO", kMemo},
      {"CLOB", kMemo},         {"NOTE", kMemo},          {"LONGCHAR", kMemo},
      {"BIGINT", kBigInt},     {"INT8", kBigInt},        {"DECIMAL", kDecimal},
      {"NUMERIC", kDecimal},   {"FLOAT8", kFloat},
  };
  std::string u;
  for (char c : declared) {
    if (c == '(') break;
    u += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  while (!u.empty() && std::isspace(static_cast<unsigned char>(u.back()))) u.pop_back();
  std::size_t b = 0;
  while (b < u.size() && std::isspace(static_cast<unsigned char>(u[b]))) ++b;
  u = u.substr(b);
  const auto it = kTypes.find(u);
  if (it != kTypes.end()) return it->second;
  if (u.find("INT") != std::string::npos) return kLong;
  if (u.find("CHAR") != std::string::npos || u.find("CLOB") != std::string::npos ||
      u.find("TEXT") != std::string::npos)
    return kText;
  if (u.find("BLOB") != std::string::npos) return kLongBinary;
  return kDouble;
}

std::string DeclaredTypeOfDaoType(std::int32_t dao_type) {
  switch (dao_type) {
    case kBoolean: return "BOOLEAN";
    case kByte: return "BYTE";
    case kInteger: return "SMALLINT";
    case kLong: return "INTEGER";
    case kCurrency: return "CURRENCY";
    case kSingle: return "SINGLE";
    case kDouble: return "DOUBLE";
    case kDate: return "DATETIME";
    case kLongBinary: return "BLOB";
    case kMemo: return "LONGTEXT";
    case kBigInt: return "BIGINT";
    case kDecimal: return "DECIMAL";
    case kFloat: return "FLOAT8";
    case kText:
    default: return "TEXT";
  }
}

std::int32_t DaoTypeOfStorageClass(int storage_class) {
  switch (storage_class) {
    case SQLITE_INTEGER: return kLong;
    case SQLITE_FLOAT: return kDouble;
    case SQLITE_TEXT: return kText;
    case SQLITE_BLOB: return kLongBinary;
    default: return 0;
  }
}

}  // namespace pramble::sqlhost
