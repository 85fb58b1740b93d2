#include "case_filter.h"

#include <regex>

namespace voxgrid {

bool filterSelects(const std::string& filter, const std::string& name) {
  // "all" means everything only as the whole filter: "-all" leaves out the
  // names that hold "all", as Google Benchmark reads it.
  std::string pattern = filter.empty() || filter == "all" ? "." : filter;
  const bool negative = pattern[0] == '-';
  if (negative) {
    pattern.erase(0, 1);
  }
  // std::regex's extended grammar, which Google Benchmark compiles the filter
  // with: glibc's regcomp would take "\d" or "a{,2}", which it refuses.
  try {
    return std::regex_search(name, std::regex(pattern, std::regex::extended)) != negative;
  } catch (const std::regex_error&) {
    return false;
  }
}

} // namespace voxgrid
