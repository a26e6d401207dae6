// The host's string utility: data column names for R and Jet SQL, numbers as
// SQL writes them, paths as R reads them, and the value text of a statistic.
// The rules are described in docs/engine-status.md, section "Names and texts".
//
// Thread-safety: stateless; one instance may be used from any thread.
#pragma once

#include <string>
#include <vector>

#include "pramble/host/utilities.h"

namespace pramble::sqlhost {

class RJetStringUtilities : public host::StringUtilities {
 public:
  // for_sql False: a syntactically valid R name that the data file header and
  // R's read.table keep unchanged: R's make.names rules with every "_" turned
  // into "." and every non-ASCII character into ".". Applying it twice gives
  // the same name. for_sql True: that name as Jet SQL accepts it as an alias
  // or a column reference: bare when it is a plain identifier that is no SQL
  // keyword, otherwise in square brackets. `reserved` True brackets always.
  std::string MakeColumnName(const std::string& name, bool for_sql, bool reserved) override;

  // The number in `number_text` (blanks around it allowed) in the shortest
  // text that reads back exactly, point as separator, no grouping. Fails with
  // HostError 13 for a text that is no decimal number (a grouped or
  // comma-decimal text included: neither can be told apart safely).
  std::string FormatSqlNumber(const std::string& number_text) override;

  // `path` with backslashes, single quotes and control characters escaped for
  // an R single-quoted string literal; other bytes (UTF-8 included) unchanged.
  std::string RPath(const std::string& path) override;

  // `text` without leading and trailing blanks, tabs, carriage returns and
  // line feeds; the caller tests the answer with IsNumeric.
  std::string NumericText(const std::string& text) override;
};

// The R string-literal form of a path, as RJetStringUtilities::RPath gives it.
std::string RQuotablePath(const std::string& path);

// Of `names`, the one nearest to `word` for a "did you mean" hint: the
// smallest edit distance (insert, delete, replace, or swap two neighbours),
// without regard to case, and at most a third of the longer word's length
// (at least 1); "" when none is that near. The first of equals wins.
std::string NearestName(const std::string& word, const std::vector<std::string>& names);

}  // namespace pramble::sqlhost
