// voxgrid-suite: repeated measurements of the three layout tests beside this
// machine's floor (allocate, first-touch fill in parallel, release) and its
// write-bandwidth ceiling (the same fill into memory that is already touched).

#include "layouts.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <omp.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <streambuf>
#include <vector>

namespace {

constexpr int nx = 400;
constexpr int ny = 800;
constexpr int nz = 100;
constexpr int kCount = nx * ny * nz;
constexpr std::int64_t kGridBytes = std::int64_t{kCount} * sizeof(int);

// Stores each element's linear index, vectorised and split statically across the team.
void fillIndex(int* grid, int n) {
#pragma omp parallel for simd schedule(static)
  for (int index = 0; index < n; ++index) {
    grid[index] = index;
  }
}

// Hands the allocator's free memory back to the system outside the timed
// interval, so that every iteration builds its grid on fresh pages, as a new
// process would, instead of on pages an earlier iteration already mapped.
void coldStart(benchmark::State& state) {
  state.PauseTiming();
  malloc_trim(0);
  state.ResumeTiming();
}

void reportBytes(benchmark::State& state) {
  state.SetBytesProcessed(state.iterations() * kGridBytes);
}

template <void (*LayoutTest)(int, int, int)> void BM_Layout(benchmark::State& state) {
  omp_set_num_threads(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    coldStart(state);
    LayoutTest(nx, ny, nz);
  }
  reportBytes(state);
}

// The three-loop test asks for its own team of 4, so the default team does not matter.
void BM_FlatThreeLoops(benchmark::State& state) {
  for (auto _ : state) {
    coldStart(state);
    voxgridLineartest(nx, ny, nz);
  }
  reportBytes(state);
}

void BM_Floor(benchmark::State& state) {
  omp_set_num_threads(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    coldStart(state);
    int* grid = new int[kCount]; // uninitialised: pages are first touched by the parallel fill
    fillIndex(grid, kCount);
    benchmark::DoNotOptimize(grid);
    benchmark::ClobberMemory();
    delete[] grid;
  }
  reportBytes(state);
}

void BM_Bandwidth(benchmark::State& state) {
  omp_set_num_threads(static_cast<int>(state.range(0)));
  const std::unique_ptr<int[]> grid(new int[kCount]);
  fillIndex(grid.get(), kCount); // map every page before timing
  for (auto _ : state) {
    fillIndex(grid.get(), kCount);
    benchmark::DoNotOptimize(grid.get());
    benchmark::ClobberMemory();
  }
  reportBytes(state);
}

// 1, the powers of two below the processor count, and the processor count.
void threadCounts(benchmark::internal::Benchmark* b) {
  const int procs = omp_get_num_procs();
  for (int t = 1; t < procs; t *= 2) {
    b->Arg(t);
  }
  b->Arg(procs);
}

void sweep(benchmark::internal::Benchmark* b) {
  b->ArgName("threads")->Apply(threadCounts)->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Layout<voxgridtest>)->Name("nested")->Apply(sweep);
BENCHMARK(BM_FlatThreeLoops)
    ->Name("flat_three_loops/team_of_4")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Layout<voxgridLinearOneIndextest>)->Name("flat_one_index")->Apply(sweep);
BENCHMARK(BM_Floor)->Name("floor")->Apply(sweep);
BENCHMARK(BM_Bandwidth)->Name("bandwidth")->Apply(sweep);

// An output stream over a file descriptor: the report's channel, kept apart
// from fd 1, where the layout tests print their own lines.
class FdBuf : public std::streambuf {
public:
  explicit FdBuf(int fd) : fd_(fd) { setp(buf_, buf_ + sizeof buf_); }

protected:
  int overflow(int c) override {
    if (sync() != 0) {
      return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      sputc(traits_type::to_char_type(c));
    }
    return traits_type::not_eof(c);
  }

  int sync() override {
    for (const char* p = pbase(); p < pptr();) {
      const ssize_t n = write(fd_, p, static_cast<std::size_t>(pptr() - p));
      if (n <= 0) {
        return -1;
      }
      p += n;
    }
    setp(buf_, buf_ + sizeof buf_);
    return 0;
  }

private:
  int fd_;
  char buf_[4096];
};

} // namespace

int main(int argc, char** argv) {
  // Defaults come first, so the same flags given by the user override them.
  std::vector<char*> args{argv[0], const_cast<char*>("--benchmark_repetitions=5"),
                          const_cast<char*>("--benchmark_display_aggregates_only=true")};
  args.insert(args.end(), argv + 1, argv + argc);
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) {
    return 1;
  }
  benchmark::BenchmarkReporter* display = benchmark::CreateDefaultDisplayReporter();

  // The report goes to the original standard output; fd 1 itself goes to
  // /dev/null, so what the layout tests print never mixes into it.
  std::fflush(stdout);
  const int reportFd = dup(STDOUT_FILENO);
  if (reportFd < 0 || std::freopen("/dev/null", "w", stdout) == nullptr) {
    std::perror("voxgrid-suite: cannot set aside standard output");
    return 1;
  }
  FdBuf reportBuf(reportFd);
  std::ostream report(&reportBuf);
  display->SetOutputStream(&report);

  benchmark::RunSpecifiedBenchmarks(display);
  benchmark::Shutdown();
  report.flush();
  return report ? 0 : 1;
}
