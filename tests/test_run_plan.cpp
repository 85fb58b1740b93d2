// What the suite plans before a run: the memory a sample needs, the limits it
// reads and the verdict against them, each sample's deadline, the report's
// file, and the progress line while it runs.

#include "memory_plan.h"
#include "out_file.h"
#include "progress.h"
#include "sample_process.h"
#include "sweep_flags.h"

#include <voxgrid/detail/sweep_plan.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace voxgrid {
namespace {

constexpr std::int64_t MB = 1000 * 1000;

// A sample's peak, part by part, over shapes, sweeps, heaps and the cases that do not sweep.
struct NeedRow {
  Shape shape;
  const char* sweeps;
  bool sweeping;
  bool aged;
  std::int64_t grid, output, aging, points; // bytes
  std::optional<std::int64_t> stated = {};  // what the layout says its grid takes
  bool roofs = false;                       // the ceiling, whose roofs copy into a second block
};

const NeedRow kNeeds[] = {
    // 128 MB of ints, 320,000 rows at 48 B and 400 slices at 32 B.
    {{400, 800, 100}, "sum,stencil", true, false, 143372800, 143372800, 0, 0},
    {{400, 800, 100}, "none", true, false, 143372800, 0, 0, 0},
    {{400, 800, 100}, "all", false, false, 143372800, 0, 0, 0}, // a floor: no sweeps
    // The aging: the grid's bytes, and 24 B for each of 246,154 blocks; 4,000,000 points of 12 B.
    {{400, 800, 100}, "all", true, true, 143372800, 143372800, 133907696, 48000000},
    {{400, 800, 100}, "sum,gather", true, true, 143372800, 0, 133907696, 48000000},
    // The ceiling copies the grid for its roofs even where no stencil runs.
    {{400, 800, 100}, "sum", true, false, 143372800, 143372800, 0, 0, {}, true},
    {{400, 800, 100}, "none", true, false, 143372800, 0, 0, 0, {}, true},
    // A small grid reads one point per element.
    {{10, 10, 10}, "gather", true, false, 4000 + 4800 + 320, 0, 0, 12000},
    {{1, 1, 1}, "all", true, true, 4 + 48 + 32, 4 + 48 + 32, 4 + 24, 12},
    // Four fields a voxel: four times the values; the streaming step's second grid
    // is the output's, and one field's stream (no such grid runs) adds none.
    {{400, 800, 100, 4}, "fields,stream", true, false, 527372800, 527372800, 0, 0},
    {{400, 800, 100, 4}, "sum", true, true, 527372800, 0, 535630784, 0},
    {{400, 800, 100, 1}, "stream", true, false, 143372800, 0, 0, 0},
    // A layout that states its bytes is taken at its word, output included.
    {{400, 800, 100}, "stencil", true, false, 7 * MB, 7 * MB, 0, 0, 7 * MB},
};

TEST(SampleNeed, CountsEveryPartOfASample) {
  for (const NeedRow& r : kNeeds) {
    SCOPED_TRACE(shapeName(r.shape) + " " + r.sweeps + (r.aged ? " aged" : ""));
    const SampleNeed need =
        sampleNeed(r.shape, parseSweeps(r.sweeps, 3), r.sweeping, r.aged, r.stated, 4, r.roofs);
    EXPECT_EQ(need.grid, r.grid);
    EXPECT_EQ(need.output, r.output);
    EXPECT_EQ(need.aging, r.aging);
    EXPECT_EQ(need.points, r.points);
    EXPECT_EQ(need.total(), r.grid + r.output + r.aging + r.points);
  }
  SampleNeed need = sampleNeed({400, 800, 100}, parseSweeps("all", 3), true, true);
  EXPECT_EQ(needText(need),
            "grid 143 MB + stencil's output 143 MB + heap aging 134 MB + gather's points 48 MB");
  need.estimated = true;
  EXPECT_EQ(needText(need).substr(0, 24), "grid 143 MB estimated + ");
  EXPECT_EQ(needText(sampleNeed({400, 800, 100, 4}, parseSweeps("sum,stream", 3), true, false)),
            "grid 527 MB + the streaming step's second grid 527 MB");
}

// Given the limits, not read from this machine: the least decides, and 20 % is close.
struct LimitRow {
  std::int64_t need;
  std::vector<MemoryLimit> limits;
  Verdict verdict;
  const char* least; // nullptr: no limit
};

const LimitRow kLimits[] = {
    {287 * MB, {{"available memory", 22 * 1000 * MB}}, Verdict::kFits, "available memory"},
    {287 * MB,
     {{"available memory", 22 * 1000 * MB}, {"RLIMIT_AS", 96 * MB}},
     Verdict::kRefused,
     "RLIMIT_AS"},
    {287 * MB,
     {{"cgroup v2", 300 * MB}, {"available memory", 900 * MB}},
     Verdict::kClose,
     "cgroup v2"},
    {240 * MB, {{"cgroup v1", 300 * MB}}, Verdict::kFits, "cgroup v1"},
    {241 * MB, {{"cgroup v1", 300 * MB}}, Verdict::kClose, "cgroup v1"},
    {301 * MB, {{"cgroup v1", 300 * MB}}, Verdict::kRefused, "cgroup v1"},
    {287 * MB, {{"cgroup v2", 0}}, Verdict::kRefused, "cgroup v2"},
    {287 * MB, {}, Verdict::kFits, nullptr}, // nothing readable: nothing to refuse on
};

TEST(MemoryCheck, TheLeastLimitDecidesAndAMarginWarns) {
  for (const LimitRow& r : kLimits) {
    SCOPED_TRACE(limitsText(r.limits) + ", need " + bytesText(r.need));
    const MemoryCheck check = checkMemory(r.need, r.limits);
    EXPECT_EQ(check.verdict, r.verdict);
    ASSERT_EQ(check.least.has_value(), r.least != nullptr);
    if (r.least != nullptr) {
      EXPECT_EQ(check.least->name, r.least);
    }
  }
  EXPECT_EQ(limitsText({}), "no limit could be read");
  EXPECT_EQ(limitsText({{"available memory", 22900 * MB}, {"RLIMIT_AS", 96 * MB}}),
            "available memory 22.9 GB, RLIMIT_AS 96 MB");
}

// A fresh directory of the test's own.
std::filesystem::path tempDir() {
  std::string dir = testing::TempDir() + "voxgrid_plan_XXXXXX";
  return mkdtemp(dir.data()) == nullptr ? std::filesystem::path() : std::filesystem::path(dir);
}

void write(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

std::string read(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// The limits read from a machine's files, written under a directory of the test's own.
struct LimitFiles {
  const char* name;
  std::vector<std::pair<const char*, const char*>> files;
  std::vector<std::pair<std::string, std::int64_t>> limits;
};

const char* const kCgroupV2 = "0::/user.slice/run.scope\n";
const char* const kV2Max = "sys/fs/cgroup/user.slice/run.scope/memory.max";
const char* const kV2Used = "sys/fs/cgroup/user.slice/run.scope/memory.current";

const LimitFiles kLimitFiles[] = {
    {"V2Number",
     {{"proc/meminfo", "MemTotal: 8192 kB\nMemAvailable:    2048 kB\n"},
      {"proc/self/cgroup", kCgroupV2},
      {kV2Max, "1000000000\n"},
      {kV2Used, "300000000\n"}},
     {{"available memory", 2048 * 1024}, {"cgroup v2", 700000000}}},
    {"V2Max", {{"proc/self/cgroup", kCgroupV2}, {kV2Max, "max\n"}, {kV2Used, "300000000\n"}}, {}},
    {"V2UsedPastItsLimit",
     {{"proc/self/cgroup", kCgroupV2}, {kV2Max, "100000000\n"}, {kV2Used, "150000000\n"}},
     {{"cgroup v2", 0}}},
    // A container shows its own cgroup as the hierarchy's root.
    {"V2AsTheRoot",
     {{"proc/self/cgroup", kCgroupV2},
      {"sys/fs/cgroup/memory.max", "500000000\n"},
      {"sys/fs/cgroup/memory.current", "100000000\n"}},
     {{"cgroup v2", 400000000}}},
    {"V1",
     {{"proc/self/cgroup", "7:pids:/job\n3:cpu,memory:/job\n"},
      {"sys/fs/cgroup/memory/job/memory.limit_in_bytes", "2000000000\n"},
      {"sys/fs/cgroup/memory/job/memory.usage_in_bytes", "500000000\n"}},
     {{"cgroup v1", 1500000000}}},
    {"V1Unlimited",
     {{"proc/self/cgroup", "3:memory:/job\n"},
      {"sys/fs/cgroup/memory/job/memory.limit_in_bytes", "9223372036854771712\n"},
      {"sys/fs/cgroup/memory/job/memory.usage_in_bytes", "500000000\n"}},
     {}},
    {"NonePresent", {}, {}},
};

TEST(MemoryLimits, ReadTheAvailableMemoryAndTheCgroupsLimitLessItsUse) {
  for (const LimitFiles& row : kLimitFiles) {
    SCOPED_TRACE(row.name);
    const std::filesystem::path root = tempDir();
    ASSERT_FALSE(root.empty());
    for (const auto& [path, text] : row.files)
      write(root / path, text);
    std::vector<std::pair<std::string, std::int64_t>> read;
    for (const MemoryLimit& l : readMemoryLimits(root.string()))
      read.emplace_back(l.name, l.bytes);
    EXPECT_EQ(read, row.limits);
    std::filesystem::remove_all(root);
  }
}

// Each row adds to the one before (more bytes, the aged heap, a sweep, more
// passes), and says how many passes over the grid kTimeoutRule names for it:
// build, fill, checks, release, the aging, and each sweep's passes and check.
struct TimeoutRow {
  Shape shape;
  int elementBytes;
  bool aged;
  const char* sweeps;
  int passes;
  int named;
};

const TimeoutRow kTimeouts[] = {
    {{1, 1, 1}, 4, false, "none", 1, 4},
    {{400, 800, 100}, 1, false, "none", 1, 4},
    {{400, 800, 100}, 4, false, "none", 1, 4},
    {{400, 800, 100}, 4, true, "none", 1, 5},
    {{400, 800, 100}, 4, true, "sum", 1, 7},
    {{400, 800, 100}, 4, true, "sum", 5, 11},
    {{400, 800, 100}, 4, true, "sum,stencil", 5, 17},
    {{400, 800, 100}, 4, true, "sum,stencil,planes", 5, 23}, // the tests' own sweep
    {{800, 800, 100}, 8, true, "sum,stencil,planes", 5, 23},
};

TEST(SampleTimeout, AMinuteAndEveryPassTheRuleNamesAt100MBs) {
  double before = 0;
  int namedBefore = 0;
  for (const TimeoutRow& r : kTimeouts) {
    SCOPED_TRACE(shapeName(r.shape) + " " + r.sweeps + (r.aged ? " aged" : ""));
    const double t =
        sampleTimeout(r.shape, parseSweeps(r.sweeps, r.passes), r.aged, r.elementBytes);
    const double pass = static_cast<double>(elementCount(r.shape)) * r.elementBytes / 100e6;
    EXPECT_GT(t, before);
    // Nothing the rule names is left out, of the whole or of what this row adds;
    // and it stays a deadline.
    EXPECT_GE(t - 60, r.named * pass);
    EXPECT_GE(t - before, (r.named - namedBefore) * pass);
    EXPECT_LE(t - 60, 4 * r.named * pass + 1e-6);
    before = t;
    namedBefore = r.named;
  }
  EXPECT_NE(std::string(kTimeoutRule).find("60 s"), std::string::npos);
}

// --benchmark_out: the report replaces the file whole, through a link the
// file it names, keeping the file's permissions; a run that ends without it
// leaves the file as it was. Every path is in a directory of the test's own.
struct OutRow {
  const char* name;
  const char* link; // nullptr: the file itself is given
  int mode;         // the file's before the run; -1: none there
  bool keep;        // whether the run ended with a whole report
};

const OutRow kOuts[] = {
    {"FileKeepsItsMode", nullptr, 0640, true},
    {"LinkElsewhereReplacesItsFile", "links/out.json", 0600, true},
    {"LinkBesideItsFile", "reports/out.json", 0640, true},
    {"StoppedRunLeavesTheFile", "links/out.json", 0640, false},
    {"NewFile", nullptr, -1, true},
    {"LinkToNoFileYet", "links/out.json", -1, true},
};

TEST(OutFile, ReplacesTheFileALinkNamesAndKeepsItsMode) {
  namespace fs = std::filesystem;
  for (const OutRow& r : kOuts) {
    SCOPED_TRACE(r.name);
    const fs::path root = tempDir();
    ASSERT_FALSE(root.empty());
    const fs::path file = root / "reports/real.json";
    fs::create_directories(root / "reports");
    if (r.mode >= 0) {
      write(file, "earlier");
      ASSERT_EQ(chmod(file.c_str(), static_cast<mode_t>(r.mode)), 0);
    }
    fs::path target = file;
    if (r.link != nullptr) {
      target = root / r.link;
      fs::create_directories(target.parent_path());
      fs::create_symlink(fs::relative(file, target.parent_path()), target);
    }
    const OutFile f = planOutFile(target.string());
    EXPECT_EQ(checkOutFile(f), "");
    write(f.writing, "report");
    EXPECT_EQ(finishOutFile(f, r.keep), 0);

    EXPECT_EQ(read(file), r.keep ? "report" : r.mode >= 0 ? "earlier" : "");
    if (r.mode >= 0) {
      struct stat st {};
      ASSERT_EQ(stat(file.c_str(), &st), 0);
      EXPECT_EQ(static_cast<int>(st.st_mode & 07777), r.mode);
    }
    if (r.link != nullptr) {
      EXPECT_TRUE(fs::is_symlink(target));
      EXPECT_EQ(fs::canonical(target), fs::canonical(file));
    }
    // No temporary is left beside the file, or beside the link.
    std::set<std::string> names;
    for (const fs::path& dir : {root / "reports", root / "links"})
      if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
          names.insert(e.path().filename());
    std::set<std::string> expected;
    if (r.link != nullptr)
      expected.insert("out.json");
    if (r.mode >= 0 || r.keep)
      expected.insert("real.json");
    EXPECT_EQ(names, expected);
    fs::remove_all(root);
  }
}

TEST(Progress, ModesLinesAndDurations) {
  const std::pair<const char*, ProgressMode> modes[] = {
      {"auto", ProgressMode::kLines}, {"on", ProgressMode::kInPlace}, {"off", ProgressMode::kOff}};
  for (const auto& m : modes)
    EXPECT_EQ(parseProgress(m.first, false), m.second) << m.first;
  EXPECT_EQ(parseProgress("auto", true), ProgressMode::kInPlace);
  EXPECT_THROW(parseProgress("yes", true), std::invalid_argument);
  for (const auto& d : std::vector<std::pair<double, const char*>>{
           {0.2, "0 s"}, {59.4, "59 s"}, {65, "1 min 05 s"}, {3725, "1 h 02 min"}})
    EXPECT_EQ(durationText(d.first), d.second);

  // Off a terminal: one line per round as it starts, none per case, and an
  // estimate of what is left once a round has run.
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  Progress p(ProgressMode::kLines, 2, 2, 4, out);
  p.startRound(1);
  p.startCase("a/threads:1");
  p.sampleDone();
  p.startCase("b/threads:1");
  p.sampleDone();
  p.clear(); // nothing to take back off a file
  p.startRound(2);
  p.startCase("b/threads:1");
  std::rewind(out);
  char text[512] = {};
  const std::size_t n = std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  const std::string lines(text, n);
  EXPECT_EQ(lines, "voxgrid-suite: round 1 of 2: 0 s so far\n"
                   "voxgrid-suite: round 2 of 2: 0 s so far, about 0 s left\n");
  EXPECT_EQ(p.line(), "voxgrid-suite: round 2 of 2: 0 s so far, about 0 s left");
  // On a terminal the line names the case within its round.
  std::FILE* screen = std::tmpfile();
  ASSERT_NE(screen, nullptr);
  Progress shown(ProgressMode::kInPlace, 2, 2, 4, screen);
  shown.startRound(1);
  shown.startCase("a/threads:1");
  EXPECT_EQ(shown.line(), "voxgrid-suite: round 1 of 2, case 1 of 2, a/threads:1: 0 s so far");
  std::fclose(screen);
}

} // namespace
} // namespace voxgrid
