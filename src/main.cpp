// voxgrid-bench: times building, filling and releasing a 400 x 800 x 100 grid
// of int under three storage layouts, each filled in an OpenMP parallel region.

#include "Timer.h"
#include "layouts.h"

#include <omp.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

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
  try {
    Timer tm;
    for (const LayoutTest& test : tests) {
      running = test.name;
      tm.start();
      test.run(nx, ny, nz);
      tm.stop();
      std::cout << tm.getElapsedTimeInMilliSec() << std::endl;
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
  return 0;
}
