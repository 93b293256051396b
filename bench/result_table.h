// Reads the "result ..." lines of any number of runs and prints, as a
// Markdown table, the median of each figure over the runs, the ratios the
// goals are stated in, and whether each goal is met.
#pragma once

#include <iosfwd>
#include <string>

namespace halvyn::bench {

// False when the file cannot be read or holds no result line.
bool PrintResultTable(const std::string& path, std::ostream& out);

}  // namespace halvyn::bench
