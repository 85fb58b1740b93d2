// Runs the built voxgrid-bench as a user would and checks its output byte for byte.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
  std::string out, err;
  std::vector<std::string> lines; // stdout, split at each end of line
  int status = -1;                // as bash reports it: 128 + N for a death by signal N
};

// Runs `script` with bash, where $BENCH (and $SUITE, when built) name the programs.
Outcome run(const std::string& script) {
  const std::string dir = testing::TempDir();
  // Per process: CTest may run these tests side by side.
  const std::string tag = std::to_string(getpid());
  const std::string scriptPath = dir + "voxgrid_test_script_" + tag + ".sh";
  const std::string errPath = dir + "voxgrid_test_stderr_" + tag + ".txt";
  std::ofstream(scriptPath) << script << "\n";
  setenv("BENCH", VOXGRID_BENCH_PATH, 1);
#ifdef VOXGRID_SUITE_PATH
  setenv("SUITE", VOXGRID_SUITE_PATH, 1);
  setenv("NAMED_SUITE", VOXGRID_NAMED_SUITE_PATH, 1);
#endif
  Outcome r;
  const std::string command = "bash " + scriptPath + " 2>" + errPath;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
    r.out.append(buf, n);
  const int st = pclose(pipe);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ostringstream err;
  err << std::ifstream(errPath).rdbuf();
  std::remove(scriptPath.c_str());
  std::remove(errPath.c_str());
  r.err = err.str();
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);)
    r.lines.push_back(line);
  return r;
}

Outcome runProgram(const std::string& setup) { return run(setup + "; exec \"$BENCH\""); }

// A time as the stream writes a double by default (%g with 6 significant digits).
bool isStreamDouble(const std::string& s) {
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  std::ostringstream back;
  back << v;
  return !s.empty() && *end == '\0' && v >= 0 && back.str() == s;
}

class Program : public testing::TestWithParam<const char*> {};

TEST_P(Program, PrintsSevenLinesOfTheExpectedShape) {
  const std::string threads = GetParam();
  cpu_set_t cpus; // the runtime's default team: one thread per usable CPU
  sched_getaffinity(0, sizeof cpus, &cpus);
  const int team = threads.empty() ? CPU_COUNT(&cpus) : std::stoi(threads);
  const std::string setup =
      threads.empty() ? "unset OMP_NUM_THREADS" : "export OMP_NUM_THREADS=" + threads;

  const Outcome a = runProgram(setup);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.err, "");
  ASSERT_EQ(a.lines.size(), 7u) << a.out;
  EXPECT_EQ(a.out.back(), '\n');
  EXPECT_EQ(a.lines[0], "");
  EXPECT_EQ(a.lines[1], " Number of threads=" + std::to_string(team) + " ");
  EXPECT_EQ(a.lines[3], "Number of threads = 4");
  EXPECT_EQ(a.lines[5], "");
  for (int t : {2, 4, 6})
    EXPECT_TRUE(isStreamDouble(a.lines[t])) << a.lines[t];

  const Outcome b = runProgram(setup);
  ASSERT_EQ(b.lines.size(), 7u) << b.out;
  for (int same : {0, 1, 3, 5})
    EXPECT_EQ(a.lines[same], b.lines[same]);
}

INSTANTIATE_TEST_SUITE_P(OmpNumThreads, Program, testing::Values("", "1", "3"),
                         [](const auto& info) {
                           return *info.param ? std::string(info.param) : std::string("unset");
                         });

// Every failure ends with one line on standard error and a non-zero status, never an abort.
struct Failure {
  const char* name;
  bool suite;         // needs voxgrid-suite
  const char* script; // bash
  const char* err;    // how standard error's one line begins
  const char* out;    // all of standard output, or nullptr for anything
};

const Failure kFailures[] = {
    {"OutOfMemory", false, "export OMP_NUM_THREADS=1; ulimit -v 65536; exec \"$BENCH\"",
     "voxgrid-bench: out of memory in voxgridtest\n", "\n Number of threads=1 \n"},
    {"FullDevice", false, "exec \"$BENCH\" >/dev/full",
     "voxgrid-bench: cannot write standard output: No space left on device\n", ""},
    {"StdoutClosed", false, "exec \"$BENCH\" >&-",
     "voxgrid-bench: cannot write standard output: Bad file descriptor\n", ""},
    {"ReaderGone", false, "set -o pipefail; trap '' PIPE; \"$BENCH\" | head -c 1 >/dev/null",
     "voxgrid-bench: cannot write standard output: Broken pipe\n", ""},
    {"SuiteNothingMatched", true, "\"$SUITE\" --benchmark_filter=no-such-case",
     "Failed to match any benchmarks against regex: no-such-case\n", ""},
    {"SuiteNoRepetitions", true, "\"$SUITE\" --benchmark_repetitions=0",
     "voxgrid-suite: --benchmark_repetitions must be a whole number of at least 1, not \"0\"\n",
     ""},
    {"SuiteNegativeRepetitions", true, "\"$SUITE\" --benchmark_repetitions=-1",
     "voxgrid-suite: --benchmark_repetitions must be a whole number of at least 1, not \"-1\"\n",
     ""},
    {"SuiteBadShape", true, "\"$SUITE\" --shape=400x800",
     "voxgrid-suite: bad --shape \"400x800\": expected NXxNYxNZ", ""},
    {"SuiteBadSweeps", true, "\"$SUITE\" --sweeps=sum,avg",
     "voxgrid-suite: bad --sweeps \"sum,avg\": expected all, none, or a list of sum, stencil, "
     "lines_j, lines_i, gather",
     ""},
    {"SuiteBadHeap", true, "\"$SUITE\" --heap=used",
     "voxgrid-suite: bad --heap \"used\": expected fresh, aged or fresh,aged\n", ""},
    {"SuiteHeapFreedZero", true, "\"$SUITE\" --heap=aged --heap-freed=0",
     "voxgrid-suite: bad --heap-freed \"0\": expected a share between 0 and 1", ""},
    {"SuiteHeapFreedWhole", true, "\"$SUITE\" --heap-freed=1",
     "voxgrid-suite: bad --heap-freed \"1\": expected a share between 0 and 1", ""},
    {"SuiteNoPoints", true, "\"$SUITE\" --points=0",
     "voxgrid-suite: --points must be a whole number of at least 1, not \"0\"\n", ""},
    {"SuiteNegativePoints", true, "\"$SUITE\" --points=-4",
     "voxgrid-suite: --points must be a whole number of at least 1, not \"-4\"\n", ""},
    {"SuitePointsNotANumber", true, "\"$SUITE\" --points=many",
     "voxgrid-suite: --points must be a whole number of at least 1, not \"many\"\n", ""},
    {"SuiteNoPasses", true, "\"$SUITE\" --passes=0",
     "voxgrid-suite: --passes must be a whole number of at least 1, not \"0\"\n", ""},
    // The report is written beside its file first, and nothing can be made in a /proc directory.
    {"SuiteReportDirTakesNoTemporary", true,
     "\"$SUITE\" --benchmark_filter=floor/pages:4k/shape:2x2x2/threads:1 --shape=2x2x2 "
     "--samples=1 --benchmark_repetitions=1 --benchmark_out=/proc/self/comm",
     "voxgrid-suite: cannot write --benchmark_out=/proc/self/comm: no temporary file can be made "
     "in /proc/",
     ""},
    {"SuiteReportFileFull", true,
     "\"$SUITE\" --benchmark_filter=floor/pages:4k/shape:2x2x2/threads:1 --shape=2x2x2 "
     "--samples=1 --benchmark_repetitions=1 --benchmark_format=json "
     "--benchmark_out=/dev/full --benchmark_out_format=json >/dev/null",
     "voxgrid-suite: cannot write --benchmark_out=/dev/full: No space left on device\n", ""},
    {"SuiteStdoutFull", true,
     "\"$SUITE\" --benchmark_filter=floor/pages:4k/shape:2x2x2/threads:1 --shape=2x2x2 "
     "--samples=1 --benchmark_repetitions=1 --benchmark_format=json >/dev/full",
     "voxgrid-suite: cannot write the report to standard output: No space left on device\n", ""},
    // Under 100 MB of address space the 128 MB grid cannot be held: refused before any sample.
    {"SuiteRefusesWhatCannotFit", true,
     "ulimit -v 100000; \"$SUITE\" --benchmark_filter=floor/pages:4k/.*/threads:1 "
     "--shape=2x2x2,400x800x100 --samples=1 --benchmark_repetitions=1 --benchmark_format=json",
     "voxgrid-suite: a sample at 400x800x100 needs up to 143 MB (grid 143 MB), more than the ", ""},
    // A layout of one's own whose name cannot stand beside the others.
    {"LayoutNameTaken", true, "VOXGRID_TEST_LAYOUT_NAME=nested \"$NAMED_SUITE\"",
     "voxgrid-suite: the layout name \"nested\" is taken\n", ""},
    {"LayoutNameEmpty", true, "VOXGRID_TEST_LAYOUT_NAME= \"$NAMED_SUITE\"",
     "voxgrid-suite: a layout has an empty name\n", ""},
    {"LayoutNameOutsideItsCharacters", true, "VOXGRID_TEST_LAYOUT_NAME='My Grid' \"$NAMED_SUITE\"",
     "voxgrid-suite: the layout name \"My Grid\" holds characters outside [a-z0-9_]\n", ""},
    {"SuiteBadProgress", true, "\"$SUITE\" --progress=yes",
     "voxgrid-suite: bad --progress \"yes\": expected on, off or auto\n", ""},
    {"SuiteBadBinding", true, "\"$SUITE\" --bind=tight",
     "voxgrid-suite: bad --bind \"tight\": expected close, spread, none or inherit\n", ""},
    {"SuiteNoSampleTimeout", true, "\"$SUITE\" --sample-timeout=0",
     "voxgrid-suite: --sample-timeout must be a number of seconds above 0, not \"0\"\n", ""},
    // Samples are taken in rounds, one iteration per repetition.
    {"SuiteMinTime", true, "\"$SUITE\" --benchmark_min_time=0.5",
     "voxgrid-suite: --benchmark_min_time must stay 0, not \"0.5\": a repetition is --samples "
     "fresh-process samples; take more with --samples or --benchmark_repetitions\n",
     ""},
    // A sample past its deadline is killed and fails its case; the run goes on to its end.
    {"SuiteSamplePastItsDeadline", true,
     "\"$SUITE\" --benchmark_filter=floor/pages:4k/shape:200x200x200/threads:1 "
     "--shape=200x200x200 --benchmark_repetitions=2 --sample-timeout=0.001 "
     "--benchmark_format=json >/dev/null",
     "voxgrid-suite: 1 of 1 cases failed; first: floor/pages:4k/shape:200x200x200/threads:1: no "
     "end within 0.001 s (--sample-timeout); the sample process was killed\n",
     ""},
};

// "voxgrid-suite: not built: ...", "voxgrid-suite: warning: ...", "voxgrid-suite: CASE not run:
// ...", "voxgrid-suite: plan: ...", "voxgrid-suite: round R of N...".
bool isSuiteNote(const std::string& line) {
  const std::string tool = "voxgrid-suite: ";
  if (line.rfind(tool, 0) != 0)
    return false;
  const std::string rest = line.substr(tool.size());
  const std::size_t space = rest.find(' ');
  return rest.rfind("not built: ", 0) == 0 || rest.rfind("warning: ", 0) == 0 ||
         rest.rfind("plan: ", 0) == 0 || rest.rfind("round ", 0) == 0 ||
         (space != std::string::npos && rest.compare(space, 10, " not run: ") == 0);
}

class ProgramFailure : public testing::TestWithParam<Failure> {};

TEST_P(ProgramFailure, EndsWithOneLineAndStatusOne) {
  const Failure& f = GetParam();
#ifndef VOXGRID_SUITE_PATH
  if (f.suite)
    GTEST_SKIP() << "voxgrid-suite is not built";
#endif
  const Outcome r = run(f.script);
  // What the suite says of the build and the machine before it runs (cases not
  // built, cases not run, assertions on) is a note, not the failure.
  std::string failure;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);) {
    if (!isSuiteNote(line))
      failure += line + "\n";
  }
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(failure.rfind(f.err, 0), 0u) << r.err;
  EXPECT_EQ(std::count(failure.begin(), failure.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.back(), '\n');
  if (f.out != nullptr) {
    EXPECT_EQ(r.out, f.out);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ProgramFailure, testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// A run stopped by a signal: its sample processes ended with it, and its
// --benchmark_out file whole or as it was before.
enum class When { kMidSample, kAfterSample };

struct Stop {
  const char* name;
  int signal;
  When when;    // mid-sample, or as soon as the first sample process is gone
  bool earlier; // a whole report from an earlier run is in the file's place
};

void PrintTo(const Stop& s, std::ostream* os) { *os << s.name; }

const Stop kStops[] = {
    {"IntMidSample", SIGINT, When::kMidSample, false},
    {"TermMidSample", SIGTERM, When::kMidSample, false},
    {"HupMidSample", SIGHUP, When::kMidSample, false},
    {"IntAfterSample", SIGINT, When::kAfterSample, false},
    {"TermAfterSample", SIGTERM, When::kAfterSample, false},
    {"HupAfterSample", SIGHUP, When::kAfterSample, false},
    {"IntKeepsEarlierReport", SIGINT, When::kMidSample, true},
    {"TermKeepsEarlierReport", SIGTERM, When::kAfterSample, true},
    {"HupKeepsEarlierReport", SIGHUP, When::kMidSample, true},
};

#ifdef VOXGRID_SUITE_PATH
std::string readFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// The pids under /proc.
std::vector<pid_t> processes() {
  std::vector<pid_t> pids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr)
    return pids;
  while (const dirent* e = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (pid > 0 && *end == '\0')
      pids.push_back(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return pids;
}

// The live children of `parent`, by the parent pid in /proc/PID/stat (after the
// command's name, which may hold spaces and parentheses).
std::vector<pid_t> childrenOf(pid_t parent) {
  std::vector<pid_t> found;
  for (pid_t pid : processes()) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t name = stat.rfind(')');
    if (name == std::string::npos)
      continue;
    std::istringstream rest(stat.substr(name + 1));
    char state = 0;
    long ppid = 0;
    if (rest >> state >> ppid && ppid == parent && state != 'Z')
      found.push_back(pid);
  }
  return found;
}

// The processes whose environment holds `entry`: what a run started, and what they started.
std::vector<pid_t> carrying(const std::string& entry) {
  std::vector<pid_t> found;
  for (pid_t pid : processes()) {
    std::istringstream env(readFile("/proc/" + std::to_string(pid) + "/environ"));
    for (std::string e; std::getline(env, e, '\0');) {
      if (e == entry) {
        found.push_back(pid);
        break;
      }
    }
  }
  return found;
}

// The names in a directory, but . and ..
std::set<std::string> entries(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..")
        names.insert(name);
    }
    closedir(d);
  }
  return names;
}

// Whether text is one JSON object, whole: every string ended, every bracket
// closed in order, and nothing after the last.
bool isWholeJson(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  if (first == std::string::npos || text[first] != '{')
    return false;
  std::vector<char> closers;
  bool inString = false;
  bool escaped = false;
  for (std::size_t i = first; i <= last; ++i) {
    const char c = text[i];
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      closers.push_back(c == '{' ? '}' : ']');
    } else if (c == '}' || c == ']') {
      if (closers.empty() || closers.back() != c)
        return false;
      closers.pop_back();
      if (closers.empty() && i != last)
        return false;
    }
  }
  return closers.empty() && !inString;
}

// Polls `done` every few milliseconds for at most `seconds`.
template <typename Done> bool within(double seconds, Done done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

#endif

class SuiteStop : public testing::TestWithParam<Stop> {};

TEST_P(SuiteStop, EndsItsSamplesAndLeavesNoPartialReport) {
#ifndef VOXGRID_SUITE_PATH
  GTEST_SKIP() << "voxgrid-suite is not built";
#else
  const Stop& stop = GetParam();
  // Whatever the suite leaves running when it dies comes to this process, where it is seen.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0) << std::strerror(errno);
  std::string dir = testing::TempDir() + "voxgrid_stop_XXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr) << std::strerror(errno);
  const std::string reports = dir + "/reports";
  const std::string out = reports + "/out.json";
  const std::string errPath = dir + "/stderr.txt";
  ASSERT_EQ(mkdir(reports.c_str(), 0755), 0);

  std::string earlier;
  if (stop.earlier) {
    const Outcome r = run("\"$SUITE\" --benchmark_filter=floor/pages:4k/shape:2x2x2/threads:1 "
                          "--shape=2x2x2 --samples=1 --benchmark_repetitions=1 "
                          "--benchmark_format=json --benchmark_out=" +
                          out + " >/dev/null");
    ASSERT_EQ(r.status, 0) << r.err;
    earlier = readFile(out);
    ASSERT_TRUE(isWholeJson(earlier)) << earlier;
  }

  // Started as from an interactive shell: the three signals at their defaults, none blocked.
  const std::string tag = "VOXGRID_STOP_TEST=" + std::to_string(getpid()) + "-" + stop.name;
  std::vector<std::string> argText = {VOXGRID_SUITE_PATH,
                                      "--shape=400x800x100",
                                      "--samples=3",
                                      "--benchmark_repetitions=50",
                                      "--benchmark_filter=nested/.*threads:1",
                                      "--benchmark_format=json",
                                      "--benchmark_out=" + out};
  std::vector<char*> argv;
  for (std::string& a : argText)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e)
    envp.push_back(*e);
  envp.push_back(const_cast<char*>(tag.c_str()));
  envp.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&defaults, s);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t suite = 0;
  const int spawned = posix_spawn(&suite, argv[0], &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ASSERT_EQ(spawned, 0) << std::strerror(spawned);

  int waitStatus = 0;
  bool reaped = false;
  const auto ended = [&] {
    reaped = reaped || waitpid(suite, &waitStatus, WNOHANG) == suite;
    return reaped;
  };
  std::vector<pid_t> sample;
  const bool sampling = within(60, [&] {
    sample = childrenOf(suite);
    return !sample.empty() || ended();
  });
  if (sampling && !reaped && stop.when == When::kAfterSample) {
    const pid_t first = sample[0];
    within(60, [&] {
      const std::vector<pid_t> now = childrenOf(suite);
      return std::find(now.begin(), now.end(), first) == now.end() || ended();
    });
  }
  if (!reaped)
    kill(suite, stop.signal);
  const bool stopped = within(30, ended);
  if (!stopped) {
    kill(suite, SIGKILL);
    waitpid(suite, &waitStatus, 0);
  }
  const std::string err = readFile(errPath);
  EXPECT_TRUE(sampling) << "no sample process within 60 s\n" << err;
  EXPECT_TRUE(stopped) << "still running 30 s after the signal\n" << err;

  // As bash reports it.
  const int status = WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : WEXITSTATUS(waitStatus);
  EXPECT_EQ(status, 128 + stop.signal) << err;
  const std::vector<pid_t> left = carrying(tag);
  EXPECT_TRUE(left.empty()) << left.size() << " processes of the run left, pid " << left[0];
  // Neither alive nor unreaped: a sample process the suite did not reap would be this one's now.
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD) << "a process the suite started was left to this one";
  for (pid_t pid : left)
    kill(pid, SIGKILL);
  while (waitpid(-1, nullptr, 0) > 0) { // what was left, so the next case starts clean
  }

  const std::set<std::string> found = entries(reports);
  if (stop.earlier) {
    EXPECT_EQ(found, std::set<std::string>{"out.json"});
    EXPECT_EQ(readFile(out), earlier) << "the earlier report was not left as it was";
  } else if (!found.empty()) {
    EXPECT_EQ(found, std::set<std::string>{"out.json"});
    EXPECT_TRUE(isWholeJson(readFile(out))) << readFile(out);
  }
  std::remove(out.c_str());
  std::remove(errPath.c_str());
  rmdir(reports.c_str());
  rmdir(dir.c_str());
#endif
}

INSTANTIATE_TEST_SUITE_P(Signal, SuiteStop, testing::ValuesIn(kStops),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
