#include "thread_binding.h"

#include <cstdlib>
#include <stdexcept>

namespace voxgrid {

void checkBinding(const std::string& mode) {
  if (mode != "close" && mode != "spread" && mode != "none" && mode != "inherit") {
    throw std::invalid_argument("bad --bind \"" + mode +
                                "\": expected close, spread, none or inherit");
  }
}

void applyBinding(const std::string& mode) {
  checkBinding(mode);
  if (mode == "inherit") {
    return;
  }
  if (mode == "none") {
    setenv("OMP_PROC_BIND", "false", 1);
    unsetenv("OMP_PLACES");
    return;
  }
  setenv("OMP_PROC_BIND", mode.c_str(), 1);
  setenv("OMP_PLACES", "cores", 1);
}

std::string bindingInForce(const std::string& mode) {
  const char* bind = std::getenv("OMP_PROC_BIND");
  const char* places = std::getenv("OMP_PLACES");
  std::string text;
  if (bind == nullptr && places == nullptr) {
    text = "unbound: OMP_PROC_BIND and OMP_PLACES unset";
  } else {
    text = std::string("OMP_PROC_BIND=") + (bind != nullptr ? bind : "(unset)") +
           ", OMP_PLACES=" + (places != nullptr ? places : "(unset)");
  }
  return text + (mode == "inherit" ? " (from the environment)" : " (--bind=" + mode + ")");
}

} // namespace voxgrid
