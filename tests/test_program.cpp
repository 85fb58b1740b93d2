// Runs the built voxgrid-bench as a user would and checks its output byte for byte.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>

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
  int status = -1;
};

// `setup` is shell text run before the program (environment, limits).
Outcome runProgram(const std::string& setup) {
  const std::string errPath = testing::TempDir() + "voxgrid_bench_stderr.txt";
  Outcome r;
  FILE* pipe = popen((setup + "; exec " VOXGRID_BENCH_PATH " 2>" + errPath).c_str(), "r");
  if (pipe == nullptr)
    return r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
    r.out.append(buf, n);
  const int st = pclose(pipe);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ostringstream err;
  err << std::ifstream(errPath).rdbuf();
  r.err = err.str();
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);)
    r.lines.push_back(line);
  return r;
}

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

TEST(ProgramFailure, OutOfMemoryEndsCleanlyWithOutputIntact) {
  // 64 MiB of address space: enough to start, too little for a 128 MB grid.
  const Outcome r = runProgram("export OMP_NUM_THREADS=1; ulimit -v 65536");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "voxgrid-bench: out of memory in voxgridtest\n");
  EXPECT_EQ(r.out, "\n Number of threads=1 \n");
}

} // namespace
