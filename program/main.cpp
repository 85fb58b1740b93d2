// voxgrid-bench: times building, filling and releasing a 400 x 800 x 100 grid
// of int under three storage layouts, each filled in an OpenMP parallel region.

#include "Timer.h"
#include "layouts.h"

#include <omp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// Hands the allocator's free memory back to the system. Without it glibc keeps
// the heap a test released and the next test builds its grid on pages that are
// already mapped, which measures the test before it rather than the layout.
static void releaseFreeHeap() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

int main() {
  int numthtreads = 0;
#pragma omp parallel
  {
#pragma omp single nowait
    numthtreads = omp_get_num_threads();
  }
  std::printf("\n Number of threads=%d \n", numthtreads);

  // Keep the probed team for the default-team fills; the three-loop fill asks for its own 4.
  omp_set_num_threads(numthtreads);

  const int nx = 400;
  const int ny = 800;
  const int nz = 100;

  struct LayoutTest {
    const char* name;
    void (*run)(int, int, int);
  };
  const LayoutTest tests[] = {
      {"voxgridtest", voxgridtest},
      {"voxgridLineartest", voxgridLineartest},
      {"voxgridLinearOneIndextest", voxgridLinearOneIndextest},
  };

  const char* running = "";
  int writeError = 0; // errno of the first write to standard output that failed
  try {
    Timer tm;
    for (const LayoutTest& test : tests) {
      running = test.name;
      releaseFreeHeap();
      tm.start();
      test.run(nx, ny, nz);
      tm.stop();
      std::cout << tm.getElapsedTimeInMilliSec() << std::endl;
      if (!std::cout && writeError == 0) {
        writeError = errno;
      }
    }
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "voxgrid-bench: out of memory in %s\n", running);
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "voxgrid-bench: %s failed: %s\n", running, e.what());
    return 1;
  }

  // A run whose lines did not all reach standard output has failed.
  if (std::fflush(stdout) != 0 && writeError == 0) {
    writeError = errno;
  }
  if (std::ferror(stdout) != 0 || !std::cout) {
    std::fprintf(stderr, "voxgrid-bench: cannot write standard output: %s\n",
                 writeError != 0 ? std::strerror(writeError) : "write error");
    return 1;
  }
  return 0;
}
