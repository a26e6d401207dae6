// The host's results utility: the texts of engine status values, the
// compressed text form of stored output and logs, and the fields and primary
// key of a new results table.
//
// Compressed form (docs/engine-status.md, section "Compressed texts"): the
// marker "#pramble-zlib-base64#" followed by the base64 text of the zlib
// stream of the UTF-8 bytes. A plain text is never taken for it unless it
// starts with the marker and decodes completely.
//
// Thread-safety: stateless; one instance may be used from any thread.
#pragma once

#include <string>

#include "pramble/host/utilities.h"

namespace pramble::sqlhost {

class SqliteResultsUtilities : public host::ResultsUtilities {
 public:
  // "Stopped", "Finished", "Finished with warnings", "R reported an error",
  // "R ended abnormally", "R was killed", "R could not be started" for the
  // engine status values 0 to 6 (pramble/host/r_process.h); "Unknown status N"
  // for any other N.
  std::string GetEngineStatusText(std::int32_t engine_status) override;
  std::string CompressText(const std::string& text) override;
  // A 32-bit integer field. `attributes` (DAO field attributes) are not used.
  void AddLongField(host::dao::TableDef& table, const std::string& name,
                    std::int32_t attributes, bool required) override;
  // A long text field. `default_value` is a Jet default-value expression: a
  // double-quoted literal (a doubled quote inside stands for one) gives that
  // text, so "\"\"" gives the empty text; a number gives the number; "" none.
  void AddMemoField(host::dao::TableDef& table, const std::string& name,
                    const std::string& default_value, bool allow_zero_length) override;
  // The primary key on field_name and, when not empty, the second and third field.
  void AddPrimaryKey(host::dao::TableDef& table, const std::string& field_name,
                     const std::string& second_field, const std::string& third_field) override;
};

// The prefix that marks a compressed text.
inline constexpr char kCompressedTextMarker[] = "#pramble-zlib-base64#";

// True when `text` is in the compressed form and decodes.
bool IsCompressedText(const std::string& text);

// The original of a compressed text; any other text is answered unchanged.
std::string DecompressText(const std::string& text);

}  // namespace pramble::sqlhost
