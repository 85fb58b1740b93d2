#include "sample_process.h"

#include "cases.h"
#include "heap_flags.h"
#include "program_layouts.h"
#include "run_stop.h"
#include "sample_line.h"
#include "sweep_flags.h"

#include <voxgrid/detail/phases.h>

#include <fcntl.h>
#include <omp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <sstream>

namespace voxgrid {

namespace {

constexpr int kReportFd = 3;
using Clock = std::chrono::steady_clock;

bool writeAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

} // namespace

const char* const kTimeoutRule =
    "60 s + each pass over the grid at 100 MB/s (build, fill, checks, release, the heap's aging, "
    "each sweep's passes and its check)";

double sampleTimeout(const Shape& shape, const SweepPlan& plan, bool aged, int elementBytes) {
  double passes = 6 + (aged ? 2 : 0); // build, fill, its check, release, and slack
  for (int step = kSum; step < kStepCount; ++step) {
    if (plan.on[step]) {
      passes += plan.passes + (step == kStencil ? 6 : 1); // its output, the probe, its check
    }
  }
  // Each sweep the program added, and its reference block: made, filled, swept.
  passes += static_cast<double>(std::count(plan.added.begin(), plan.added.end(), true)) *
            (plan.passes + 3);
  const double bytes = static_cast<double>(shape.nx) * shape.ny * shape.nz * elementBytes;
  return 60 + passes * bytes / 100e6;
}

std::string formatSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

bool isSampleMode(int argc, char** argv) {
  return argc >= 2 && std::strcmp(argv[1], "--sample") == 0;
}

int runSampleMode(int argc, char** argv) {
  const char* const usage =
      "usage: --sample CASE SHAPE THREADS SWEEPS PASSES POINTS HEAP FREED FIELDS";
  if (argc != 11) {
    return fail(usage);
  }
  // The case and its team, so that the marks can be told apart by case.
  markPhase("start-up", (std::string(argv[2]) + " " + argv[4]).c_str());
  const Case* c = findCase(argv[2]);
  if (c == nullptr) {
    return fail(std::string("no case named ") + argv[2]);
  }
  try {
    std::vector<Shape> shapes = parseShapes(argv[3]);
    for (Shape& shape : shapes) {
      shape.fields = std::stoi(argv[10]);
    }
    const int threads = std::stoi(argv[4]);
    SweepPlan plan = parseSweeps(argv[5], std::stoi(argv[6]));
    plan.points = std::stoll(argv[7]);
    const std::vector<HeapPlan> heaps = parseHeaps(argv[8], parseHeapFreed(argv[9]));
    if (shapes.size() != 1 || threads < 0 || plan.passes < 0 || plan.points < 0 ||
        heaps.size() != 1) {
      return fail(usage);
    }
    if (threads > 0) {
      omp_set_num_threads(threads);
    }
    // Start the team as the program's probe does, so creating its threads
    // stays outside the sample; a case with a team of its own gets that
    // team's threads started too, or its fill would create them.
    int team = 0;
#pragma omp parallel
    {
#pragma omp single nowait
      team = omp_get_num_threads();
    }
    omp_set_num_threads(team);
    if (c->ownTeam()) { // a region with nothing in it, g++ drops
#pragma omp parallel num_threads(kLinearTeam)
      {
#pragma omp single nowait
        team = omp_get_num_threads();
      }
    }
    markPhase("team");

    const Sample s = c->run(shapes[0], plan, heaps[0]);
    if (!writeAll(kReportFd, formatSample(s))) {
      return fail(std::string("cannot write the sample's report: ") + std::strerror(errno));
    }
    markPhase("report");
    return 0;
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

namespace {

// How a finished sample process ended, in words.
std::string endedHow(int status) {
  if (WIFSIGNALED(status)) {
    return "sample process killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  }
  return "sample process exited with status " + std::to_string(WEXITSTATUS(status));
}

enum class Wait { kEnded, kLate, kFailed };

// Reads fd to its end or to the deadline. A stop ends the wait as an end does:
// the caller kills the process either way.
Wait readUntilEnd(int fd, std::string& text, Clock::time_point deadline, std::string& error) {
  char buf[4096];
  for (;;) {
    if (stopSignal() != 0) {
      return Wait::kEnded;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return Wait::kLate;
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
    if (ready < 0 && errno != EINTR) {
      error = std::string("cannot wait for the sample's report: ") + std::strerror(errno);
      return Wait::kFailed;
    }
    if (ready <= 0) {
      continue;
    }
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return Wait::kEnded;
    } else if (errno != EINTR) {
      error = std::string("cannot read the sample's report: ") + std::strerror(errno);
      return Wait::kFailed;
    }
  }
}

// Reaps the process by the deadline, killing it if it is still there then (or
// once a stop has come); kLate when it had to be killed for the deadline.
Wait reap(pid_t pid, Clock::time_point deadline, int& status, std::string& error) {
  auto pause = std::chrono::microseconds(20);
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      return Wait::kEnded;
    }
    if (done < 0 && errno != EINTR) {
      error = std::string("cannot reap the sample process: ") + std::strerror(errno);
      return Wait::kFailed;
    }
    const bool late = Clock::now() >= deadline;
    if (late || stopSignal() != 0) {
      kill(pid, SIGKILL); // not reaped yet, so still this sample's pid
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return late ? Wait::kLate : Wait::kEnded;
    }
    // Once its report has ended the process is exiting: a short wait, growing.
    timespec t{0, static_cast<long>(std::chrono::nanoseconds(pause).count())};
    nanosleep(&t, nullptr);
    pause = std::min(pause * 2, std::chrono::microseconds(10000));
  }
}

} // namespace

SampleResult spawnSample(const std::string& caseName, const Shape& shape, int threads,
                         const SweepPlan& plan, const HeapPlan& heap, double timeout) {
  SampleResult result;
  const auto started = Clock::now();
  if (stopSignal() != 0) { // the run is stopping: start nothing more
    result.error = "stopped";
    return result;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    result.error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return result;
  }
  // The child's standard output takes what the layout tests print; its report
  // and its messages come back through the pipe.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], kReportFd);

  std::string exe = "/proc/self/exe";
  std::string flag = "--sample";
  std::string shapeText = shapeName(shape);
  std::string threadText = std::to_string(threads);
  std::string caseText = caseName;
  std::string sweepText = sweepsName(plan);
  std::string passText = std::to_string(plan.passes);
  std::string pointText = std::to_string(plan.points);
  std::string heapText = heap.aged ? "aged" : "fresh";
  char freedText[32];
  std::snprintf(freedText, sizeof freedText, "%.17g", heap.freed);
  std::string fieldText = std::to_string(shape.fields);
  char* argv[] = {exe.data(),        flag.data(),      caseText.data(),  shapeText.data(),
                  threadText.data(), sweepText.data(), passText.data(),  pointText.data(),
                  heapText.data(),   freedText,        fieldText.data(), nullptr};
  pid_t pid = 0;
  markPhase("spawn");
  const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawned != 0) {
    close(fds[0]);
    result.error = std::string("cannot start a sample process: ") + std::strerror(spawned);
    return result;
  }

  // From here a stop kills it; one that came before the handler could see the pid, too.
  setSampleInFlight(pid);
  if (stopSignal() != 0) {
    kill(pid, SIGKILL);
  }
  const auto deadline =
      started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
  std::string text, waitError;
  Wait read = readUntilEnd(fds[0], text, deadline, waitError);
  markPhase("report-read");
  close(fds[0]);
  if (read != Wait::kEnded) {
    kill(pid, SIGKILL);
  }
  // Cleared before the reaping, after which the pid may be another's; a stop
  // that comes now is seen by reap, which kills the process itself.
  setSampleInFlight(0);
  int status = 0;
  const Wait reaped = reap(pid, deadline, status, waitError);
  markPhase("reaped");
  if (stopSignal() != 0) {
    result.error = "stopped";
    return result;
  }
  if (read == Wait::kEnded && reaped == Wait::kLate) {
    read = Wait::kLate;
  }

  // The report is the line that parses; any other line is the process's message.
  std::string message;
  std::istringstream lines(text);
  bool reported = false;
  for (std::string line; std::getline(lines, line);) {
    if (parseSample(line, result.sample)) {
      reported = true;
    } else if (!line.empty()) {
      message = line;
    }
  }
  if (read == Wait::kLate) {
    result.error = "no end within " + formatSeconds(timeout) +
                   " (--sample-timeout); the sample process was killed";
  } else if (read == Wait::kFailed) {
    result.error = waitError + "; the sample process was killed";
  } else if (reaped == Wait::kFailed) {
    result.error = waitError;
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && reported) {
    result.ok = true;
  } else {
    result.error = message.empty() ? endedHow(status) : message + " (" + endedHow(status) + ")";
  }
  return result;
}

} // namespace voxgrid
