#include <voxgrid/detail/phases.h>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace voxgrid {

namespace {

// The file, opened on the first mark; -1 where no file was asked for.
int phaseFile() {
  static const int fd = [] {
    const char* const path = std::getenv("VOXGRID_PHASES");
    return path == nullptr || *path == '\0'
               ? -1
               : open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }();
  return fd;
}

} // namespace

void markPhase(const char* name, const char* detail) {
  const int fd = phaseFile();
  if (fd < 0) {
    return;
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  char line[512];
  const int n =
      std::snprintf(line, sizeof line, "phase %ld %s %lld%s%s\n", static_cast<long>(getpid()), name,
                    static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                    detail == nullptr ? "" : " ", detail == nullptr ? "" : detail);
  // One write per line under O_APPEND, so that the suite's and its samples' lines never interleave.
  if (n > 0 && static_cast<std::size_t>(n) < sizeof line) {
    (void)!write(fd, line, static_cast<std::size_t>(n));
  }
}

} // namespace voxgrid
