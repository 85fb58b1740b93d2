#include "case_filter.h"

#include <regex.h>

namespace voxgrid {

bool filterSelects(const std::string& filter, const std::string& name) {
  const bool negative = !filter.empty() && filter[0] == '-';
  std::string pattern = negative ? filter.substr(1) : filter;
  if (pattern.empty() || pattern == "all") {
    pattern = ".";
  }
  regex_t re;
  if (regcomp(&re, pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
    return false;
  }
  const bool found = regexec(&re, name.c_str(), 0, nullptr, 0) == 0;
  regfree(&re);
  return found != negative;
}

} // namespace voxgrid
