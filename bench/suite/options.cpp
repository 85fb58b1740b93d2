#include "options.h"

#include "out_file.h"
#include "thread_binding.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
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

std::vector<ElementType> parseElements(const std::string& text) {
  std::string names;
  for (const ElementInfo& e : kElementInfo) {
    names += names.empty() ? e.name : std::string(", ") + e.name;
  }
  const auto bad = [&] {
    return std::invalid_argument("bad --element \"" + text +
                                 "\": expected a comma-separated list of " + names);
  };
  std::vector<ElementType> types;
  std::size_t from = 0;
  while (true) {
    const std::size_t comma = text.find(',', from);
    const std::string name = text.substr(from, comma - from);
    const auto* found = std::find_if(std::begin(kElementInfo), std::end(kElementInfo),
                                     [&](const ElementInfo& e) { return name == e.name; });
    if (found == std::end(kElementInfo)) {
      throw bad();
    }
    const auto type = static_cast<ElementType>(found - std::begin(kElementInfo));
    if (std::find(types.begin(), types.end(), type) != types.end()) {
      throw bad();
    }
    types.push_back(type);
    if (comma == std::string::npos) {
      return types;
    }
    from = comma + 1;
  }
}

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
  bool sweepsGiven = false;
  std::string heaps = "fresh";
  std::string elements = "int32";
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
      sweepsGiven = true;
    } else if (takes(a, "--points", value)) {
      points = positiveInt("--points", value);
    } else if (takes(a, "--element", value)) {
      elements = value;
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
               a == "--points" || a == "--element" || a == "--heap" || a == "--heap-freed" ||
               a == "--progress" || a == "--bind" || a == "--sample-timeout") {
      std::string message = a;
      message += " needs a value (" + a + "=...); see --help";
      throw std::invalid_argument(message);
    } else {
      o.benchmarkArgs.push_back(a);
    }
  }
  o.shapes = parseShapes(shapes);
  o.sweeps = parseSweeps(sweeps, passes);
  if (!sweepsGiven) { // a program that adds a sweep is run to measure it
    o.sweeps.added.assign(o.sweeps.added.size(), true);
  }
  o.sweeps.points = points;
  o.heaps = parseHeaps(heaps, freed);
  std::fill(std::begin(o.elements), std::end(o.elements), false);
  for (const ElementType e : parseElements(elements)) {
    o.elements[static_cast<int>(e)] = true;
  }
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
