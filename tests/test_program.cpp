// Runs the built voxgrid-bench as a user would and checks its output byte for byte.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
    {"SuiteBadProgress", true, "\"$SUITE\" --progress=yes",
     "voxgrid-suite: bad --progress \"yes\": expected on, off or auto\n", ""},
};

// "voxgrid-suite: not built: ...", "voxgrid-suite: warning: ...", "voxgrid-suite: CASE not run:
// ...", "voxgrid-suite: plan: ...", "voxgrid-suite: case K of N, ...".
bool isSuiteNote(const std::string& line) {
  const std::string tool = "voxgrid-suite: ";
  if (line.rfind(tool, 0) != 0)
    return false;
  const std::string rest = line.substr(tool.size());
  const std::size_t space = rest.find(' ');
  return rest.rfind("not built: ", 0) == 0 || rest.rfind("warning: ", 0) == 0 ||
         rest.rfind("plan: ", 0) == 0 || rest.rfind("case ", 0) == 0 ||
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

} // namespace
