// Runs the built voxgrid-bench as a user would and checks its output byte for byte.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Outcome {
  std::string out, err;
  int status = -1; // as bash reports it: 128 + N for a death by signal N
};

std::string readFile(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Runs `script` with bash, where $BENCH (and $SUITE, when built) name the programs.
Outcome run(const std::string& script) {
  // Per process: CTest may run these tests side by side.
  const std::string errPath =
      testing::TempDir() + "voxgrid_test_stderr_" + std::to_string(getpid()) + ".txt";
  setenv("VOXGRID_TEST_SCRIPT", script.c_str(), 1);
  setenv("BENCH", VOXGRID_BENCH_PATH, 1);
#ifdef VOXGRID_SUITE_PATH
  setenv("SUITE", VOXGRID_SUITE_PATH, 1);
  setenv("NAMED_SUITE", VOXGRID_NAMED_SUITE_PATH, 1);
#endif
  Outcome r;
  FILE* pipe = popen(("bash -c \"$VOXGRID_TEST_SCRIPT\" 2>" + errPath).c_str(), "r");
  if (pipe == nullptr)
    return r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
    r.out.append(buf, n);
  const int st = pclose(pipe);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.err = readFile(errPath);
  std::remove(errPath.c_str());
  return r;
}

// A time as the stream writes a double by default (%g with 6 significant digits).
bool isStreamDouble(const std::string& s) {
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  std::ostringstream back;
  back << v;
  return !s.empty() && *end == '\0' && back.str() == s;
}

class Program : public testing::TestWithParam<const char*> {};

TEST_P(Program, PrintsSevenLinesOfTheExpectedShape) {
  const std::string threads = GetParam(); // OMP_NUM_THREADS, or "unset"
  // Unset, the runtime's team is one thread per usable CPU.
  cpu_set_t cpus;
  sched_getaffinity(0, sizeof cpus, &cpus);
  const int team = threads == "unset" ? CPU_COUNT(&cpus) : std::stoi(threads);
  const std::string setup =
      threads == "unset" ? "unset OMP_NUM_THREADS" : "export OMP_NUM_THREADS=" + threads;

  const Outcome a = run(setup + "; exec \"$BENCH\"");
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.err, "");
  // Every byte is fixed but the three times, each a double as the stream writes it.
  std::string shape;
  std::istringstream lines(a.out);
  for (std::string line; std::getline(lines, line);)
    shape += (isStreamDouble(line) ? "TIME" : line) + "\n";
  ASSERT_EQ(shape, "\n Number of threads=" + std::to_string(team) +
                       " \nTIME\nNumber of threads = 4\nTIME\n\nTIME\n")
      << a.out;
  EXPECT_EQ(a.out.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(OmpNumThreads, Program, testing::Values("unset", "1", "3"),
                         [](const auto& info) { return std::string(info.param); });

// Every failure ends with one line on standard error and a non-zero status, never an abort.
struct Failure {
  const char* name;
  const char* script;   // bash; one that runs $SUITE or $NAMED_SUITE needs voxgrid-suite built
  const char* err;      // how standard error's one line begins
  const char* out = ""; // all of standard output
};

const Failure kFailures[] = {
    {"OutOfMemory", "export OMP_NUM_THREADS=1; ulimit -v 65536; exec \"$BENCH\"",
     "voxgrid-bench: out of memory in voxgridtest\n", "\n Number of threads=1 \n"},
    {"FullDevice", "exec \"$BENCH\" >/dev/full",
     "voxgrid-bench: cannot write standard output: No space left on device\n"},
    {"StdoutClosed", "exec \"$BENCH\" >&-",
     "voxgrid-bench: cannot write standard output: Bad file descriptor\n"},
    {"ReaderGone", "set -o pipefail; trap '' PIPE; \"$BENCH\" | head -c 1 >/dev/null",
     "voxgrid-bench: cannot write standard output: Broken pipe\n"},
    {"SuiteNothingMatched", "\"$SUITE\" --benchmark_filter=no-such-case",
     "Failed to match any benchmarks against regex: no-such-case\n"},
    // The whole-number flags share one parser: each flag is given one kind of bad value.
    {"SuiteNegativeRepetitions", "\"$SUITE\" --benchmark_repetitions=-1",
     "voxgrid-suite: --benchmark_repetitions must be a whole number of at least 1, not \"-1\"\n"},
    {"SuitePointsNotANumber", "\"$SUITE\" --points=many",
     "voxgrid-suite: --points must be a whole number of at least 1, not \"many\"\n"},
    {"SuiteNoPasses", "\"$SUITE\" --passes=0",
     "voxgrid-suite: --passes must be a whole number of at least 1, not \"0\"\n"},
    {"SuiteBadShape", "\"$SUITE\" --shape=400x800",
     "voxgrid-suite: bad --shape \"400x800\": expected NXxNYxNZ"},
    {"SuiteBadSweeps", "\"$SUITE\" --sweeps=sum,avg",
     "voxgrid-suite: bad --sweeps \"sum,avg\": expected all, none, or a list of sum, stencil, "
     "lines_j, lines_i, gather"},
    {"SuiteBadHeap", "\"$SUITE\" --heap=used",
     "voxgrid-suite: bad --heap \"used\": expected fresh, aged or fresh,aged\n"},
    {"SuiteBadElement", "\"$SUITE\" --element=float,int64",
     "voxgrid-suite: bad --element \"float,int64\": expected a comma-separated list of int32, "
     "float, double, uint16, uint8\n"},
    // The fields of a voxel: none, fewer than none, a word, more than a D3Q19 lattice has.
    {"SuiteNoFields", "\"$SUITE\" --fields=0",
     "voxgrid-suite: --fields must be a whole number from 1 to 19 (the fields of a voxel), not "
     "\"0\"\n"},
    {"SuiteNegativeFields", "\"$SUITE\" --fields=-3",
     "voxgrid-suite: --fields must be a whole number from 1 to 19 (the fields of a voxel), not "
     "\"-3\"\n"},
    {"SuiteFieldsNotANumber", "\"$SUITE\" --fields=four",
     "voxgrid-suite: --fields must be a whole number from 1 to 19 (the fields of a voxel), not "
     "\"four\"\n"},
    {"SuiteTooManyFields", "\"$SUITE\" --fields=20",
     "voxgrid-suite: --fields must be a whole number from 1 to 19 (the fields of a voxel), not "
     "\"20\"\n"},
    {"SuiteStreamOfOneField", "\"$SUITE\" --sweeps=sum,stream",
     "voxgrid-suite: --sweeps=sum,stream names stream, which reads several fields a voxel: add "
     "--fields=N, N from 2 to 19\n"},
    {"SuiteHeapFreedZero", "\"$SUITE\" --heap=aged --heap-freed=0",
     "voxgrid-suite: bad --heap-freed \"0\": expected a share between 0 and 1"},
    {"SuiteHeapFreedWhole", "\"$SUITE\" --heap-freed=1",
     "voxgrid-suite: bad --heap-freed \"1\": expected a share between 0 and 1"},
    // The report is written beside its file first, and nothing can be made in a /proc directory.
    {"SuiteReportDirTakesNoTemporary",
     "\"$SUITE\" --benchmark_filter=floor/pages:4k/shape:2x2x2/threads:1 --shape=2x2x2 "
     "--samples=1 --benchmark_repetitions=1 --benchmark_out=/proc/self/comm",
     "voxgrid-suite: cannot write --benchmark_out=/proc/self/comm: no temporary file can be made "
     "in /proc/"},
    {"SuiteReportFileFull",
     "\"$SUITE\" --benchmark_filter=floor/pages:4k/shape:2x2x2/threads:1 --shape=2x2x2 "
     "--samples=1 --benchmark_repetitions=1 --benchmark_format=json "
     "--benchmark_out=/dev/full --benchmark_out_format=json >/dev/null",
     "voxgrid-suite: cannot write --benchmark_out=/dev/full: No space left on device\n"},
    {"SuiteStdoutFull",
     "\"$SUITE\" --benchmark_filter=floor/pages:4k/shape:2x2x2/threads:1 --shape=2x2x2 "
     "--samples=1 --benchmark_repetitions=1 --benchmark_format=json >/dev/full",
     "voxgrid-suite: cannot write the report to standard output: No space left on device\n"},
    // Under 300 MB of address space, most of it the suite's own (its libraries,
    // its threads' stacks), the 320 MB grid cannot be held: refused before any sample.
    {"SuiteRefusesWhatCannotFit",
     "ulimit -v 300000; \"$SUITE\" --benchmark_filter=floor/pages:4k/.*/threads:1 "
     "--shape=2x2x2,1000x800x100 --samples=1 --benchmark_repetitions=1 --benchmark_format=json",
     "voxgrid-suite: a sample at 1000x800x100 needs up to 358 MB (grid 358 MB), more than the "},
    // 19 fields of 32 M voxels, and the streaming step's second grid: 4.9 GB.
    {"SuiteRefusesFieldsThatCannotFit",
     "ulimit -v 3000000; \"$SUITE\" --benchmark_filter=aos/memory:touched/.*/threads:1 "
     "--fields=19 --sweeps=stream --samples=1 --benchmark_repetitions=1 --benchmark_format=json",
     "voxgrid-suite: a sample at 400x800x100 of 19 fields needs up to 4.9 GB (grid 2.4 GB + the "
     "streaming step's second grid 2.4 GB), more than the "},
    // A layout of one's own whose name cannot stand beside the others.
    {"LayoutNameTaken", "VOXGRID_TEST_LAYOUT_NAME=nested \"$NAMED_SUITE\"",
     "voxgrid-suite: the layout name \"nested\" is taken\n"},
    {"LayoutNameEmpty", "VOXGRID_TEST_LAYOUT_NAME= \"$NAMED_SUITE\"",
     "voxgrid-suite: a layout has an empty name\n"},
    {"LayoutNameOutsideItsCharacters", "VOXGRID_TEST_LAYOUT_NAME='My Grid' \"$NAMED_SUITE\"",
     "voxgrid-suite: the layout name \"My Grid\" holds characters outside [a-z0-9_]\n"},
    // A sweep of one's own likewise, and one whose checksum is not the reference block's.
    {"SweepNameTaken", "VOXGRID_TEST_SWEEP_NAME=gather \"$NAMED_SUITE\"",
     "voxgrid-suite: the sweep name \"gather\" is taken\n"},
    {"SweepNameAll", "VOXGRID_TEST_SWEEP_NAME=all \"$NAMED_SUITE\"",
     "voxgrid-suite: the sweep name \"all\" is taken\n"},
    {"SweepNameOutsideItsCharacters", "VOXGRID_TEST_SWEEP_NAME=Max-Projection \"$NAMED_SUITE\"",
     "voxgrid-suite: the sweep name \"Max-Projection\" holds characters outside [a-z0-9_]\n"},
    {"SweepBytesForNoSweep", "VOXGRID_TEST_BYTES_NAME=planes \"$NAMED_SUITE\"",
     "voxgrid-suite: bytes are stated for \"planes\", which no sweep is called\n"},
    {"SweepDiffersFromTheReferenceBlock",
     "VOXGRID_TEST_SWEEP_NAME=access_size \"$NAMED_SUITE\" --benchmark_filter=^nested/ "
     "--shape=2x2x2 --samples=1 --benchmark_repetitions=1 --benchmark_format=json >/dev/null",
     "voxgrid-suite: 2 of 2 cases failed; first: nested/shape:2x2x2/threads:1: access_size: got 8 "
     "on the layout, 24 on the reference block (sample process exited with status 1)\n"},
    {"SuiteBadProgress", "\"$SUITE\" --progress=yes",
     "voxgrid-suite: bad --progress \"yes\": expected on, off or auto\n"},
    {"SuiteBadBinding", "\"$SUITE\" --bind=tight",
     "voxgrid-suite: bad --bind \"tight\": expected close, spread, none or inherit\n"},
    {"SuiteBadMemory", "\"$SUITE\" --memory=touched,pages",
     "voxgrid-suite: bad --memory \"touched,pages\": expected default, all or a comma-separated "
     "list of touched, huge, zeroed\n"},
    {"SuiteNoSampleTimeout", "\"$SUITE\" --sample-timeout=0",
     "voxgrid-suite: --sample-timeout must be a number of seconds above 0, not \"0\"\n"},
    {"SuiteBadRace", "\"$SUITE\" --race=yes",
     "voxgrid-suite: bad --race \"yes\": expected on or off\n"},
    {"SuiteNegativeTimeLimit", "\"$SUITE\" --time-limit=-5",
     "voxgrid-suite: --time-limit must be a number of seconds above 0, not \"-5\"\n"},
    {"SuiteTimeLimitNotANumber", "\"$SUITE\" --time-limit=1m",
     "voxgrid-suite: --time-limit must be a number of seconds above 0, not \"1m\"\n"},
    // Samples are taken in rounds, one iteration per repetition.
    {"SuiteMinTime", "\"$SUITE\" --benchmark_min_time=0.5",
     "voxgrid-suite: --benchmark_min_time must stay 0, not \"0.5\": a repetition is --samples "
     "fresh-process samples; take more with --samples or --benchmark_repetitions\n"},
    // A sample past its deadline is killed and fails its case; the run goes on to its end.
    {"SuiteSamplePastItsDeadline",
     "\"$SUITE\" --benchmark_filter=floor/pages:4k/shape:200x200x200/threads:1 "
     "--shape=200x200x200 --benchmark_repetitions=2 --sample-timeout=0.001 "
     "--benchmark_format=json >/dev/null",
     "voxgrid-suite: 1 of 1 cases failed; first: floor/pages:4k/shape:200x200x200/threads:1: no "
     "end within 0.001 s (--sample-timeout); the sample process was killed\n"},
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
  if (std::strstr(f.script, "SUITE") != nullptr)
    GTEST_SKIP() << "voxgrid-suite is not built";
#endif
  const Outcome r = run(f.script);
  // What the suite says of the build and the machine before it runs (cases not
  // built, cases not run, assertions on) is a note, not the failure.
  std::string failure;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);)
    if (!isSuiteNote(line))
      failure += line + "\n";
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(failure.rfind(f.err, 0), 0u) << r.err;
  EXPECT_EQ(std::count(failure.begin(), failure.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.back(), '\n');
  EXPECT_EQ(r.out, f.out);
}

INSTANTIATE_TEST_SUITE_P(Table, ProgramFailure, testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// A run stopped by a signal: its sample processes ended with it, and its
// --benchmark_out file as it was before.
struct Stop {
  const char* name;
  int signal;
  bool afterSample; // as soon as the first sample process is gone, not mid-sample
  bool earlier;     // a whole report from an earlier run is in the file's place
};

void PrintTo(const Stop& s, std::ostream* os) { *os << s.name; }

// The signal, its moment and whether a report is in place each take their own path: every pair
// of them is met here. A row per signal, mid-sample first.
const Stop kStops[] = {
    {"IntKeepsEarlierReport", SIGINT, false, true}, {"IntAfterSample", SIGINT, true, false},
    {"TermMidSample", SIGTERM, false, false},       {"TermKeepsEarlierReport", SIGTERM, true, true},
    {"HupKeepsEarlierReport", SIGHUP, false, true}, {"HupAfterSample", SIGHUP, true, false},
};

#ifdef VOXGRID_SUITE_PATH
// Whether process `pid` is live and its environment holds `entry` (a zombie's reads empty).
bool carries(pid_t pid, const std::string& entry) {
  const std::string env = readFile("/proc/" + std::to_string(pid) + "/environ");
  return ('\0' + env).find('\0' + entry + '\0') != std::string::npos;
}

// The processes but `except` that carry `entry`: what a run started, and what they started.
std::vector<pid_t> carrying(const std::string& entry, pid_t except = 0) {
  std::vector<pid_t> found;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string name = e.path().filename();
    const pid_t pid =
        name.find_first_not_of("0123456789") == std::string::npos ? std::stoi(name) : 0;
    if (pid != 0 && pid != except && carries(pid, entry))
      found.push_back(pid);
  }
  return found;
}

// Whether text is one JSON object, whole: every string ended, every bracket
// closed in order, and nothing after the last.
bool isWholeJson(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  if (first == std::string::npos || text[first] != '{')
    return false;
  std::string closers;
  bool inString = false;
  bool escaped = false;
  for (std::size_t i = first; i <= last; ++i) {
    const char c = text[i];
    if (inString) {
      inString = escaped || c != '"';
      escaped = !escaped && c == '\\';
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      closers.push_back(c == '{' ? '}' : ']');
    } else if (c == '}' || c == ']') {
      if (closers.empty() || closers.back() != c || (closers.size() == 1 && i != last))
        return false;
      closers.pop_back();
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
  ASSERT_TRUE(std::filesystem::create_directory(reports));

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
  std::string tag = "VOXGRID_STOP_TEST=" + std::to_string(getpid()) + "-" + stop.name;
  const std::string outFlag = "--benchmark_out=" + out;
  const pid_t suite = fork();
  ASSERT_NE(suite, -1) << std::strerror(errno);
  if (suite == 0) {
    for (int s : {SIGINT, SIGTERM, SIGHUP})
      signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
    dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    putenv(tag.data());
    execl(VOXGRID_SUITE_PATH, VOXGRID_SUITE_PATH, "--shape=400x800x100", "--samples=3",
          "--benchmark_repetitions=50", "--benchmark_filter=nested/.*threads:1",
          "--benchmark_format=json", outFlag.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }

  int waitStatus = 0;
  bool reaped = false;
  const auto ended = [&] {
    reaped = reaped || waitpid(suite, &waitStatus, WNOHANG) == suite;
    return reaped;
  };
  std::vector<pid_t> sample; // the run's processes but the suite itself
  const bool sampling = within(60, [&] {
    sample = carrying(tag, suite);
    return !sample.empty() || ended();
  });
  if (sampling && !reaped && stop.afterSample)
    within(60, [&] { return !carries(sample[0], tag) || ended(); });
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

  std::set<std::string> found;
  for (const auto& e : std::filesystem::directory_iterator(reports))
    found.insert(e.path().filename());
  // A stopped run writes no report ("not written", it says): what was in place is left as it
  // was, none is made where there was none, and no temporary is left beside it.
  EXPECT_EQ(found, stop.earlier ? std::set<std::string>{"out.json"} : std::set<std::string>{});
  EXPECT_EQ(readFile(out), earlier) << "the report in place was not left as it was";
  std::filesystem::remove_all(dir);
#endif
}

INSTANTIATE_TEST_SUITE_P(Signal, SuiteStop, testing::ValuesIn(kStops),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
