// The HTML report of `pramble report`: one self-contained page (styles
// inline, plots embedded as data: URLs, no scripts, nothing fetched) that
// opens in a browser from a plain file. For each item: its definitions in
// words and as written, the estimates with their units, the detection
// function and Q-Q plots beside the goodness of fit, and the warnings of
// its log; with the comparison of the items first when `with_comparison`.
//
//   std::ofstream("report.html") << ReportHtml(*project, {2, 7}, true);
//
// Thread-safety: one thread (it reads the project and its folder).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sqlhost/project/project.h"

namespace pramble::cli {

std::string ReportHtml(sqlhost::Project& project, const std::vector<std::int32_t>& ids,
                       bool with_comparison);

// `bytes` in base64 (RFC 4648, with padding).
std::string Base64(const std::string& bytes);

}  // namespace pramble::cli
