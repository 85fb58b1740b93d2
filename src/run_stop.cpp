#include "run_stop.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace voxgrid {

namespace {

// Lock-free, so the handler may touch them.
std::atomic<int> caught{0};
std::atomic<pid_t> inFlight{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free,
              "the handler needs lock-free atomics");

std::string temporaryFile;
std::string targetFile;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onStopSignal(int signo) {
  const int saved = errno;
  int none = 0;
  caught.compare_exchange_strong(none, signo);
  const pid_t pid = inFlight.load();
  if (pid > 0) {
    kill(pid, SIGKILL);
  }
  errno = saved;
}

} // namespace

void catchStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : kStopSignals) {
    sigaddset(&sa.sa_mask, s);
  }
  // No SA_RESTART: a write blocked on a full pipe gives way, and the run goes on to its stop.
  sa.sa_flags = 0;
  for (int s : kStopSignals) {
    struct sigaction old {};
    if (s == SIGHUP && sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(s, &sa, nullptr);
  }
}

int stopSignal() { return caught.load(); }

void setSampleInFlight(pid_t pid) { inFlight.store(pid); }

void removeOnStop(const std::string& temporary, const std::string& target) {
  temporaryFile = temporary;
  targetFile = target;
}

void stopRun() {
  const int signo = caught.load();
  if (!temporaryFile.empty()) {
    unlink(temporaryFile.c_str());
  }
  std::fprintf(stderr, "voxgrid-suite: stopped by signal %d (%s)%s%s%s\n", signo, strsignal(signo),
               targetFile.empty() ? "" : "; --benchmark_out=", targetFile.c_str(),
               targetFile.empty() ? "" : " not written");
  std::fflush(stdout);
  // Dying by the signal, rather than exiting, tells a calling shell to stop too.
  signal(signo, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signo);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signo);
  // Only where the signal could not end the process.
  // cppcheck-suppress unreachableCode
  std::_Exit(128 + signo);
}

} // namespace voxgrid
