// g++ 12 warns of a maybe-uninitialized std::function inside libstdc++'s own
// regex compiler once ASan instruments it (a known false positive); it is not
// this file's code, and the sanitizer build treats warnings as errors.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

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
