#include "memory_plan.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace voxgrid {

const double kMemoryMargin = 0.2;

namespace {

// Generous per-grid extras: a row layout's heap header and pointer (or vector)
// per row, 48 bytes covers both; a slice table entry per slice.
constexpr std::int64_t kPerRow = 48;
constexpr std::int64_t kPerSlice = 32;
// Each aging block costs malloc a header and rounding (16 bytes at most on
// average) and the list that holds it a pointer.
constexpr std::int64_t kPerAgingBlock = 24;

// The number after `key` in a "key: value kB" file such as /proc/meminfo, in bytes.
std::optional<std::int64_t> kilobytes(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size(), key) == 0) {
      std::istringstream value(line.substr(key.size()));
      long long kb = 0;
      if (value >> kb) {
        return kb * 1024;
      }
    }
  }
  return std::nullopt;
}

// The first line of a file as a number of bytes; "max" and v1's near-2^63
// "no limit" give nothing.
std::optional<std::int64_t> number(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text) || text == "max") {
    return std::nullopt;
  }
  try {
    const long long v = std::stoll(text);
    if (v < 0 || v >= (1LL << 62)) {
      return std::nullopt;
    }
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// This process's memory cgroup limit less its usage, v2 or v1, where one is set and readable.
std::optional<MemoryLimit> cgroupLimit(const std::string& root) {
  std::ifstream in(root + "/proc/self/cgroup");
  for (std::string line; std::getline(in, line);) {
    // v2: "0::/path"; v1: "N:memory:/path" (or with other controllers, comma-separated).
    const std::size_t a = line.find(':');
    const std::size_t b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) {
      continue;
    }
    const std::string controllers = line.substr(a + 1, b - a - 1);
    const std::string path = line.substr(b + 1);
    std::string dir, max, current, name;
    if (controllers.empty()) {
      dir = root;
      dir += "/sys/fs/cgroup" + path;
      max = "/memory.max", current = "/memory.current";
      name = "cgroup v2";
    } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
      dir = root;
      dir += "/sys/fs/cgroup/memory" + path;
      max = "/memory.limit_in_bytes", current = "/memory.usage_in_bytes", name = "cgroup v1";
    } else {
      continue;
    }
    // A container may show its own cgroup as the root of its hierarchy.
    for (const std::string& d : {dir, dir.substr(0, dir.size() - path.size())}) {
      const std::optional<std::int64_t> limit = number(d + max);
      const std::optional<std::int64_t> used = number(d + current);
      if (limit && used) {
        return MemoryLimit{name, std::max<std::int64_t>(0, *limit - *used)};
      }
    }
  }
  return std::nullopt;
}

} // namespace

SampleNeed sampleNeed(const Shape& s, const SweepPlan& plan, bool sweeps, bool aged,
                      std::optional<std::int64_t> stated, int elementBytes, bool roofs) {
  // Every field of every voxel.
  const std::int64_t n = std::int64_t{s.nx} * s.ny * s.nz * s.fields;
  const std::int64_t bytes = n * elementBytes;
  SampleNeed need;
  need.grid = stated.value_or(bytes + kPerRow * s.nx * s.ny + kPerSlice * s.nx);
  // The stencil's output and the streaming step's second grid are made one
  // after the other, each freed before the next: one more grid at most.
  const bool second = plan.on[kStencil] || (plan.on[kStream] && s.fields > 1);
  if (sweeps && plan.passes > 0 && (second || (roofs && plan.any()))) {
    need.output = need.grid;
    need.roofsOnly = !second;
    need.streamOnly = !plan.on[kStencil] && second;
  }
  if (aged) {
    const std::int64_t blocks =
        bytes / static_cast<std::int64_t>((kAgingMinBytes + kAgingMaxBytes) / 2) + 1;
    need.aging = bytes + kPerAgingBlock * blocks;
  }
  if (sweeps && plan.on[kGather] && plan.passes > 0) {
    need.points = pointsFor(plan, s) * 3 * static_cast<std::int64_t>(sizeof(int));
  }
  return need;
}

std::vector<MemoryLimit> readMemoryLimits(const std::string& root) {
  std::vector<MemoryLimit> limits;
  if (const auto available = kilobytes(root + "/proc/meminfo", "MemAvailable:")) {
    limits.push_back({"available memory", *available});
  }
  if (const auto cgroup = cgroupLimit(root)) {
    limits.push_back(*cgroup);
  }
  return limits;
}

std::vector<MemoryLimit> readMemoryLimits() {
  std::vector<MemoryLimit> limits = readMemoryLimits("");
  rlimit as{};
  if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
    // A sample process starts as large as this one: what it may add is what is left.
    const std::int64_t own = kilobytes("/proc/self/status", "VmSize:").value_or(0);
    limits.push_back(
        {"RLIMIT_AS", std::max<std::int64_t>(0, static_cast<std::int64_t>(as.rlim_cur) - own)});
  }
  return limits;
}

MemoryCheck checkMemory(std::int64_t need, const std::vector<MemoryLimit>& limits) {
  MemoryCheck check;
  for (const MemoryLimit& l : limits) {
    if (!check.least || l.bytes < check.least->bytes) {
      check.least = l;
    }
  }
  if (!check.least) {
    return check;
  }
  const double left = static_cast<double>(check.least->bytes);
  if (static_cast<double>(need) > left) {
    check.verdict = Verdict::kRefused;
  } else if (static_cast<double>(need) > (1 - kMemoryMargin) * left) {
    check.verdict = Verdict::kClose;
  }
  return check;
}

std::string bytesText(std::int64_t bytes) {
  char text[32];
  const double b = static_cast<double>(bytes);
  if (b >= 1e9) {
    std::snprintf(text, sizeof text, "%.1f GB", b / 1e9);
  } else if (b >= 1e6) {
    std::snprintf(text, sizeof text, "%.0f MB", b / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.0f kB", b / 1e3);
  }
  return text;
}

std::string needText(const SampleNeed& need) {
  std::string text = "grid " + bytesText(need.grid) + (need.estimated ? " estimated" : "");
  const std::pair<const char*, std::int64_t> parts[] = {{need.roofsOnly ? "the roofs' second block"
                                                         : need.streamOnly
                                                             ? "the streaming step's second grid"
                                                             : "stencil's output",
                                                         need.output},
                                                        {"heap aging", need.aging},
                                                        {"gather's points", need.points}};
  for (const auto& p : parts) {
    if (p.second > 0) {
      text += std::string(" + ") + p.first + " " + bytesText(p.second);
    }
  }
  return text;
}

std::string limitsText(const std::vector<MemoryLimit>& limits) {
  std::string text;
  for (const MemoryLimit& l : limits) {
    text += (text.empty() ? "" : ", ") + l.name + " " + bytesText(l.bytes);
  }
  return text.empty() ? "no limit could be read" : text;
}

} // namespace voxgrid
