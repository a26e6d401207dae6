// The error that a host operation throws. It carries a number and a
// description, as the host's objects report them (for instance 3021 "No
// current record." from a recordset, 91 for an object that is not set, 6 for
// an overflow). The component's error routine reads both when it reports an
// unexpected error.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pramble::host {

class HostError : public std::runtime_error {
 public:
  HostError(std::int32_t number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  std::int32_t number() const noexcept { return number_; }
  std::string description() const { return what(); }

 private:
  std::int32_t number_;
};

// Error numbers used by the host and its tests.
inline constexpr std::int32_t kErrOverflow = 6;
inline constexpr std::int32_t kErrTypeMismatch = 13;
inline constexpr std::int32_t kErrObjectNotSet = 91;
inline constexpr std::int32_t kErrFileNotFound = 53;
inline constexpr std::int32_t kErrPathFileAccess = 75;
inline constexpr std::int32_t kErrNoCurrentRecord = 3021;
inline constexpr std::int32_t kErrItemNotFound = 3265;
inline constexpr std::int32_t kErrSql = 3075;          // syntax or run-time error in a query
inline constexpr std::int32_t kErrDatabaseLocked = 3260; // locked by another user
inline constexpr std::int32_t kErrReadOnly = 3051;     // cannot open or write the file
inline constexpr std::int32_t kErrTableNotFound = 3078;
inline constexpr std::int32_t kErrElementNotFound = 35601;
inline constexpr std::int32_t kErrObjectExists = 3012;      // a table or query of that name exists
inline constexpr std::int32_t kErrUpdateWithoutEdit = 3020; // Update/SetValue without AddNew or Edit
inline constexpr std::int32_t kErrNotUpdatable = 3027;      // the recordset or database is read-only
inline constexpr std::int32_t kErrInvalidOperation = 3219;  // e.g. a query opened as a table
inline constexpr std::int32_t kErrNotSupported = 3251;      // e.g. Seek on a non-table recordset
inline constexpr std::int32_t kErrObjectClosed = 3420;      // the recordset has been closed

}  // namespace pramble::host
