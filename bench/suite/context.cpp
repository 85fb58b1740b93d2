#include "context.h"

#include <dlfcn.h>
#include <omp.h>
#include <sched.h>

#include <cstring>
#include <fstream>
#include <sstream>

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif

extern char** environ;

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
  return {
      {"thp_enabled", thpMode("enabled")},
      {"thp_defrag", thpMode("defrag")},
      {"allocator", allocatorName()},
      {"openmp_runtime", openmpRuntime()},
      {"openmp_variables", runtimeVariables()},
      {"cpus", usableCpus()},
      {"compiler", std::string(kCompiler) + ", " + VOXGRID_CXX_FLAGS},
  };
}
