#include "sample_process.h"

#include "cases.h"
#include "run_stop.h"

#include <fcntl.h>
#include <omp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
constexpr int kTimeoutSeconds = 120; // far beyond the largest grid's sample; a hang ends here

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

bool isSampleMode(int argc, char** argv) {
  return argc >= 2 && std::strcmp(argv[1], "--sample") == 0;
}

int runSampleMode(int argc, char** argv) {
  const char* const usage = "usage: --sample CASE SHAPE THREADS SWEEPS PASSES POINTS HEAP FREED";
  if (argc != 10) {
    return fail(usage);
  }
  const Case* c = findCase(argv[2]);
  if (c == nullptr) {
    return fail(std::string("no case named ") + argv[2]);
  }
  try {
    const std::vector<Shape> shapes = parseShapes(argv[3]);
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
    // stays outside the sample.
    int team = 0;
#pragma omp parallel
    {
#pragma omp single nowait
      team = omp_get_num_threads();
    }
    omp_set_num_threads(team);

    const Sample s = c->run(shapes[0], plan, heaps[0]);
    if (!writeAll(kReportFd, formatSample(s))) {
      return fail(std::string("cannot write the sample's report: ") + std::strerror(errno));
    }
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

// Reads fd to its end or to the deadline; false when the deadline came first.
bool readUntilEnd(int fd, std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
  char buf[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && (errno != EINTR || stopSignal() != 0)) {
      return true;
    }
    if (ready <= 0) {
      continue;
    }
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      return true;
    }
  }
}

} // namespace

SampleResult spawnSample(const std::string& caseName, const Shape& shape, int threads,
                         const SweepPlan& plan, const HeapPlan& heap) {
  SampleResult result;
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
  char* argv[] = {exe.data(),        flag.data(),      caseText.data(), shapeText.data(),
                  threadText.data(), sweepText.data(), passText.data(), pointText.data(),
                  heapText.data(),   freedText,        nullptr};
  pid_t pid = 0;
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
  std::string text;
  const bool ended = readUntilEnd(fds[0], text);
  close(fds[0]);
  setSampleInFlight(0);
  if (!ended || stopSignal() != 0) {
    kill(pid, SIGKILL);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    if (stopSignal() != 0) {
      kill(pid, SIGKILL); // not reaped yet, so still this sample's pid
    }
  }
  if (stopSignal() != 0) {
    result.error = "stopped";
    return result;
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
  if (!ended) {
    result.error = "no report within " + std::to_string(kTimeoutSeconds) + " s; stopped";
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && reported) {
    result.ok = true;
  } else {
    result.error = message.empty() ? endedHow(status) : message + " (" + endedHow(status) + ")";
  }
  return result;
}

} // namespace voxgrid
