#include "context.h"

#include <dlfcn.h>
#if defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif
#include <omp.h>
#include <sched.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif

extern char** environ;

namespace voxgrid {

#if defined(__clang__)
constexpr const char* kCompiler = "clang " __clang_version__;
#elif defined(__GNUC__)
constexpr const char* kCompiler = "g++ " __VERSION__;
#else
constexpr const char* kCompiler = "unknown compiler";
#endif

#ifndef VOXGRID_CXX_FLAGS
#define VOXGRID_CXX_FLAGS "(unknown)"
#endif

std::string thpSetting(const std::string& fileText) {
  const std::size_t open = fileText.find('[');
  const std::size_t close = fileText.find(']', open);
  if (open == std::string::npos || close == std::string::npos || close == open + 1) {
    return "unavailable";
  }
  return fileText.substr(open + 1, close - open - 1);
}

std::string thpMode(const char* name) {
  std::ifstream in(std::string("/sys/kernel/mm/transparent_hugepage/") + name);
  std::ostringstream text;
  text << in.rdbuf();
  return thpSetting(text.str());
}

long long cacheSizeBytes(const std::string& text) {
  std::istringstream in(text);
  long long n = -1;
  std::string unit;
  if (!(in >> n) || n < 0) {
    return -1;
  }
  in >> unit;
  const long long scale = unit.empty() ? 1 : unit == "K" ? 1024 : unit == "M" ? 1024 * 1024 : 0;
  return scale > 0 ? n * scale : -1;
}

long long lastLevelCacheBytes(const std::string& dir) {
  int top = 0;
  long long bytes = -1;
  for (int index = 0; index < 16; ++index) {
    const std::string cache = dir + "/index" + std::to_string(index) + "/";
    std::ifstream levelFile(cache + "level"), sizeFile(cache + "size");
    int level = 0;
    std::string size;
    if (!(levelFile >> level) || !(sizeFile >> size)) {
      continue; // the indices need not be consecutive on every kernel
    }
    const long long b = cacheSizeBytes(size);
    if (b > 0 && (level > top || (level == top && b > bytes))) {
      top = level;
      bytes = b;
    }
  }
  return bytes;
}

long long llcBytes() {
  static const long long bytes = lastLevelCacheBytes("/sys/devices/system/cpu/cpu0/cache");
  return bytes;
}

namespace {

// A symbol of the running process, looked up as the dynamic linker sees it.
template <class Fn> Fn symbol(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
}

// The shared object that defines the OpenMP runtime's entry points.
std::string openmpRuntime() {
  Dl_info info{};
  std::string lib = "linked statically";
  if (dladdr(reinterpret_cast<void*>(&omp_get_num_procs), &info) != 0 && info.dli_fname) {
    lib = info.dli_fname;
  }
  return lib + ", OpenMP " + std::to_string(_OPENMP);
}

std::string runtimeVariables() {
  std::string vars;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "OMP_", 4) == 0 || std::strncmp(*e, "GOMP_", 5) == 0) {
      vars += (vars.empty() ? "" : " ") + std::string(*e);
    }
  }
  return vars.empty() ? "(none set)" : vars;
}

// "0-3,6 (5 CPUs)".
std::string usableCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) {
    return "unknown";
  }
  std::string list;
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (!CPU_ISSET(c, &set)) {
      continue;
    }
    int last = c;
    while (last + 1 < CPU_SETSIZE && CPU_ISSET(last + 1, &set)) {
      ++last;
    }
    list += (list.empty() ? "" : ",") + std::to_string(c);
    if (last > c) {
      list += "-" + std::to_string(last);
    }
    c = last;
  }
  return list + " (" + std::to_string(CPU_COUNT(&set)) + " CPUs)";
}

} // namespace

namespace {

// Each architecture's vector extensions, narrowest first.
const std::vector<std::vector<std::string>> kIsaOrders = {{"sse2", "avx", "avx2", "avx512f"},
                                                          {"neon", "sve", "sve2"}};

} // namespace

std::string buildIsa() {
#if defined(__AVX512F__)
  return "avx512f";
#elif defined(__AVX2__)
  return "avx2";
#elif defined(__AVX__)
  return "avx";
#elif defined(__SSE2__)
  return "sse2";
#elif defined(__ARM_FEATURE_SVE2)
  return "sve2";
#elif defined(__ARM_FEATURE_SVE)
  return "sve";
#elif defined(__ARM_NEON)
  return "neon";
#else
  return "scalar";
#endif
}

std::string cpuIsa() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) {
    return "avx512f";
  }
  if (__builtin_cpu_supports("avx2")) {
    return "avx2";
  }
  if (__builtin_cpu_supports("avx")) {
    return "avx";
  }
  return __builtin_cpu_supports("sse2") ? "sse2" : "scalar";
#elif defined(__aarch64__)
  const unsigned long hw = getauxval(AT_HWCAP);
#if defined(HWCAP2_SVE2)
  if ((getauxval(AT_HWCAP2) & HWCAP2_SVE2) != 0) {
    return "sve2";
  }
#endif
  if ((hw & HWCAP_SVE) != 0) {
    return "sve";
  }
  return (hw & HWCAP_ASIMD) != 0 ? "neon" : "scalar";
#else
  return "scalar";
#endif
}

bool isaBelow(const std::string& isa, const std::string& than) {
  for (const std::vector<std::string>& order : kIsaOrders) {
    const auto a = std::find(order.begin(), order.end(), isa);
    const auto b = std::find(order.begin(), order.end(), than);
    if (a != order.end() && b != order.end()) {
      return a < b;
    }
  }
  // Scalar code is below any vector extension.
  return isa == "scalar" && than != "scalar";
}

std::string isaOrdersText() {
  std::string text;
  for (const std::vector<std::string>& order : kIsaOrders) {
    std::string line;
    for (const std::string& isa : order) {
      line += (line.empty() ? "" : "<") + isa;
    }
    text += (text.empty() ? "" : "; ") + line;
  }
  return text;
}

std::string allocatorName() {
  using Mallctl = int (*)(const char*, void*, std::size_t*, void*, std::size_t);
  using MiVersion = int (*)();
  using TcVersion = const char* (*)(int*, int*, const char**);
  if (auto mallctl = symbol<Mallctl>("mallctl")) {
    const char* version = nullptr;
    std::size_t size = sizeof version;
    if (mallctl("version", &version, &size, nullptr, 0) == 0 && version != nullptr) {
      const std::string v = version; // "5.3.0-0-g54eaed1...": the release, then the commit
      return "jemalloc " + v.substr(0, v.find('-'));
    }
    return "jemalloc";
  }
  if (auto miVersion = symbol<MiVersion>("mi_version")) {
    const int v = miVersion(); // 212 is 2.1.2
    return "mimalloc " + std::to_string(v / 100) + "." + std::to_string(v / 10 % 10) + "." +
           std::to_string(v % 10);
  }
  if (auto tcVersion = symbol<TcVersion>("tc_version")) {
    return std::string("tcmalloc ") + tcVersion(nullptr, nullptr, nullptr);
  }
#if defined(__GLIBC__)
  return std::string("glibc ") + gnu_get_libc_version();
#else
  return "the C library's malloc";
#endif
}

std::vector<std::pair<std::string, std::string>> machineContext() {
  std::vector<std::pair<std::string, std::string>> context = {
      {"thp_enabled", thpMode("enabled")},
      {"thp_defrag", thpMode("defrag")},
      {"allocator", allocatorName()},
      {"openmp_runtime", openmpRuntime()},
      {"openmp_variables", runtimeVariables()},
      {"cpus", usableCpus()},
      {"compiler", std::string(kCompiler) + ", " + VOXGRID_CXX_FLAGS},
      {"build_isa", buildIsa()},
      {"cpu_isa", cpuIsa()},
  };
  // What decides whether a gather's grid fits in the cache (steps.h); unsaid where unknown.
  if (llcBytes() > 0) {
    context.emplace_back("llc_bytes", std::to_string(llcBytes()));
  }
  return context;
}

} // namespace voxgrid
