#include "options.h"

#include "out_file.h"
#include "thread_binding.h"

#include <cstdlib>
#include <stdexcept>

namespace voxgrid {

const char* const kDefaultShape = "400x800x100";
const int kDefaultSamples = 1;
const int kDefaultPasses = 3;
const char* const kDefaultSweeps = "sum,stencil";
// One iteration per repetition: the suite decides how many samples an iteration
// takes. 15 repetitions of one sample each: their median's order-statistic
// interval [x4, x12] covers 96.5 %.
const std::vector<const char*> kDefaultFlags = {"--benchmark_repetitions=15",
                                                "--benchmark_display_aggregates_only=true",
                                                "--benchmark_min_time=0"};

namespace {

int positiveInt(const std::string& flag, const std::string& value) {
  std::size_t used = 0;
  int v = 0;
  try {
    v = std::stoi(value, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != value.size() || v < 1 || value[0] == '+' || value[0] == ' ') {
    throw std::invalid_argument(flag + " must be a whole number of at least 1, not \"" + value +
                                "\"");
  }
  return v;
}

double positiveSeconds(const std::string& flag, const std::string& value) {
  char* end = nullptr;
  const double v = std::strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0' || !(v > 0 && v < 1e9) ||
      value.find_first_of(" \t\n") != std::string::npos) {
    throw std::invalid_argument(flag + " must be a number of seconds above 0, not \"" + value +
                                "\"");
  }
  return v;
}

bool takes(const std::string& arg, const std::string& flag, std::string& value) {
  const std::string prefix = flag + "=";
  if (arg.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  value = arg.substr(prefix.size());
  return true;
}

} // namespace

std::string lastValue(const std::vector<std::string>& args, const std::string& name,
                      const std::string& fallback) {
  const std::string prefix = "--" + name + "=";
  std::string value = fallback;
  for (const std::string& a : args) {
    if (a.compare(0, prefix.size(), prefix) == 0) {
      value = a.substr(prefix.size());
    }
  }
  return value;
}

Options parseOptions(int argc, char** argv) {
  Options o;
  o.samples = kDefaultSamples;
  std::string shapes = kDefaultShape;
  std::string sweeps = kDefaultSweeps;
  std::string heaps = "fresh";
  double freed = kDefaultHeapFreed;
  int passes = kDefaultPasses;
  int points = 0;
  o.benchmarkArgs.assign(kDefaultFlags.begin(), kDefaultFlags.end());
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    std::string value;
    if (takes(a, "--shape", value)) {
      shapes = value;
    } else if (takes(a, "--samples", value)) {
      o.samples = positiveInt("--samples", value);
    } else if (takes(a, "--passes", value)) {
      passes = positiveInt("--passes", value);
    } else if (takes(a, "--sweeps", value)) {
      sweeps = value;
    } else if (takes(a, "--points", value)) {
      points = positiveInt("--points", value);
    } else if (takes(a, "--heap", value)) {
      heaps = value;
    } else if (takes(a, "--heap-freed", value)) {
      freed = parseHeapFreed(value);
    } else if (takes(a, "--progress", value)) {
      o.progress = value;
    } else if (takes(a, "--bind", value)) {
      checkBinding(value);
      o.bind = value;
    } else if (takes(a, "--sample-timeout", value)) {
      o.sampleTimeout = positiveSeconds("--sample-timeout", value);
    } else if (a == "--shape" || a == "--samples" || a == "--passes" || a == "--sweeps" ||
               a == "--points" || a == "--heap" || a == "--heap-freed" || a == "--progress" ||
               a == "--bind" || a == "--sample-timeout") {
      std::string message = a;
      message += " needs a value (" + a + "=...); see --help";
      throw std::invalid_argument(message);
    } else {
      o.benchmarkArgs.push_back(a);
    }
  }
  o.shapes = parseShapes(shapes);
  o.sweeps = parseSweeps(sweeps, passes);
  o.sweeps.points = points;
  o.heaps = parseHeaps(heaps, freed);
  positiveInt("--benchmark_repetitions", lastValue(o.benchmarkArgs, "benchmark_repetitions", "1"));
  // Every sample is taken in rounds before Google Benchmark reports them, one
  // iteration per repetition: more iterations, or warm-up ones, would report
  // the same samples again.
  for (const char* flag : {"benchmark_min_time", "benchmark_min_warmup_time"}) {
    const std::string v = lastValue(o.benchmarkArgs, flag, "0");
    char* end = nullptr;
    if (std::strtod(v.c_str(), &end) != 0 || v.empty() || *end != '\0') {
      throw std::invalid_argument(std::string("--") + flag + " must stay 0, not \"" + v +
                                  "\": a repetition is --samples fresh-process samples; take "
                                  "more with --samples or --benchmark_repetitions");
    }
  }
  for (const char* flag : {"benchmark_format", "benchmark_out_format"}) {
    const std::string v = lastValue(o.benchmarkArgs, flag, "json");
    if (v != "console" && v != "json" && v != "csv") {
      throw std::invalid_argument(std::string("--") + flag +
                                  " must be console, json or csv, not \"" + v + "\"");
    }
  }
  const std::string out = lastValue(o.benchmarkArgs, "benchmark_out", "");
  if (!out.empty()) {
    // The run writes a temporary beside it (see out_file.h): that must be possible, too.
    o.out = planOutFile(out);
    const std::string why = checkOutFile(o.out);
    if (!why.empty()) {
      throw std::invalid_argument("cannot write --benchmark_out=" + out + ": " + why);
    }
  }
  return o;
}

} // namespace voxgrid
