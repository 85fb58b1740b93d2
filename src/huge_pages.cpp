#include <voxgrid/detail/huge_pages.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <sstream>

namespace voxgrid {

long anonHugeBytes(const std::string& smapsText) {
  std::istringstream lines(smapsText);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string key, unit;
    long kb = -1;
    if (words >> key >> kb >> unit && key == "AnonHugePages:" && unit == "kB" && kb >= 0) {
      return kb * 1024;
    }
  }
  return -1;
}

long anonHugeBytes() {
  // Read into the stack: the sample reads this between its steps, where the
  // heap's counts and a test's allocation hooks should see nothing of it.
  const int fd = open("/proc/self/smaps_rollup", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  char buf[4096];
  std::size_t used = 0;
  for (ssize_t n;
       used < sizeof buf - 1 && (n = read(fd, buf + used, sizeof buf - 1 - used)) != 0;) {
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      close(fd);
      return -1;
    }
    used += static_cast<std::size_t>(n);
  }
  close(fd);
  return anonHugeBytes(std::string(buf, used));
}

} // namespace voxgrid
