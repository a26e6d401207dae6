// Small helpers the benchmark tables share: medians, fixed-point numbers,
// kilobytes as megabytes, and what the machine is and how loaded it was.
#pragma once

#include <string>
#include <vector>

namespace pramble::bench {

double Median(std::vector<double> v);
// `v` with `decimals` digits after the point.
std::string Fixed(double v, int decimals);
// `kb` kilobytes as megabytes with one decimal.
std::string Mb(double kb);
// The value of the first "KEY : VALUE" line of /proc/cpuinfo with that key.
std::string CpuInfo(const std::string& key);
// The three load averages of /proc/loadavg.
std::string LoadAverage();
// This program's path.
std::string SelfPath();

}  // namespace pramble::bench
