#include "options.h"

#include "memory.h"

#include "heap_flags.h"
#include "out_file.h"
#include "racing.h"
#include "sweep_flags.h"
#include "thread_binding.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>
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

int parseFields(const std::string& value) {
  const std::string why = "--fields must be a whole number from 1 to " +
                          std::to_string(kMaxFields) + " (the fields of a voxel), not \"" + value +
                          "\"";
  int v = 0;
  try {
    v = positiveInt("--fields", value);
  } catch (const std::invalid_argument&) {
    throw std::invalid_argument(why);
  }
  if (v > kMaxFields) {
    throw std::invalid_argument(why);
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

// A share as the help prints it: 0.5, not 0.500000.
std::string formatShare(double v) {
  std::ostringstream text;
  text << v;
  return text.str();
}

} // namespace

std::vector<std::string> parseMemories(const std::string& text) {
  std::vector<std::string> known;
  forEachMemory([&](auto memory) { known.emplace_back(decltype(memory)::kName); });
  if (text == "default") {
    return {};
  }
  if (text == "all") {
    return known;
  }
  std::string names;
  for (const std::string& k : known) {
    names += (names.empty() ? "" : ", ") + k;
  }
  const auto bad = [&] {
    return std::invalid_argument("bad --memory \"" + text +
                                 "\": expected default, all or a comma-separated list of " + names);
  };
  std::vector<std::string> picked;
  std::size_t from = 0;
  while (true) {
    const std::size_t comma = text.find(',', from);
    const std::string name = text.substr(from, comma - from);
    if (std::find(known.begin(), known.end(), name) == known.end() ||
        std::find(picked.begin(), picked.end(), name) != picked.end()) {
      throw bad();
    }
    picked.push_back(name);
    if (comma == std::string::npos) {
      return picked;
    }
    from = comma + 1;
  }
}

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

bool lastFlag(const std::vector<std::string>& args, const std::string& name) {
  bool set = false;
  for (const std::string& a : args) {
    if (a == "--" + name) {
      set = true;
    } else if (a.rfind("--" + name + "=", 0) == 0) {
      std::string v = a.substr(name.size() + 3);
      std::transform(v.begin(), v.end(), v.begin(),
                     [](unsigned char c) { return std::tolower(c); });
      set = v.empty() || v == "1" || v == "t" || v == "true" || v == "y" || v == "yes" || v == "on";
    }
  }
  return set;
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

namespace {

// What the flags set, as given, before each is checked and turned into Options.
struct Given {
  Options o;
  std::string shapes = kDefaultShape;
  std::string sweeps = kDefaultSweeps;
  bool sweepsGiven = false;
  std::string heaps = "fresh";
  std::string elements = "int32";
  double freed = kDefaultHeapFreed;
  int passes = kDefaultPasses;
  int points = 0;
  int fields = 1;
};

struct Flag {
  const char* name;  // "--shape"
  const char* value; // what it takes, as the help shows it
  std::string help;  // one paragraph; the help text wraps it
  // cppcheck-suppress unusedStructMember ; called through the table in parseOptions
  void (*take)(Given& g, const std::string& value);
};

// Every flag of the suite's own, in the help's order: parsing, the "needs a
// value" check and the help text all read this table.
const std::vector<Flag>& flags() {
  static const std::vector<Flag> table = {
      {"--shape", "NXxNYxNZ[,NXxNYxNZ...]",
       std::string("the grids to measure (default ") + kDefaultShape + ")",
       [](Given& g, const std::string& v) { g.shapes = v; }},
      {"--samples", "N",
       "fresh-process samples per repetition; a repetition reports the median one (default " +
           std::to_string(kDefaultSamples) + ")",
       [](Given& g, const std::string& v) { g.o.samples = positiveInt("--samples", v); }},
      {"--sweeps", "LIST|all|none",
       std::string("the sweeps each sample times after its fill, outside the case's time: any "
                   "of sum, stencil, lines_j, lines_i, gather and the program's own, "
                   "comma-separated (default ") +
           kDefaultSweeps + " and the program's own; none: build, fill and release only)",
       [](Given& g, const std::string& v) {
         g.sweeps = v;
         g.sweepsGiven = true;
       }},
      {"--passes", "N",
       "timed passes of each sweep per sample; the median pass is reported (default " +
           std::to_string(kDefaultPasses) + ")",
       [](Given& g, const std::string& v) { g.passes = positiveInt("--passes", v); }},
      {"--points", "N",
       "the points gather reads (default " + std::to_string(kDefaultPoints) +
           ", or one per element on a smaller grid)",
       [](Given& g, const std::string& v) { g.points = positiveInt("--points", v); }},
      {"--element", "LIST",
       "the element types the grids hold: any of int32, float, double, uint16, uint8, "
       "comma-separated (default int32)",
       [](Given& g, const std::string& v) { g.elements = v; }},
      {"--fields", "N",
       "the values each voxel holds, all of the element type, from 1 to " +
           std::to_string(kMaxFields) +
           ": with 2 or more the grids are the arrangements of a voxel's fields (aos, soa, "
           "soa_blocks, aosoa_vector, aosoa_line, with padding where it applies), beside the "
           "floors and ceilings; fields and stream join the default sweeps, and the others "
           "read field 0 (default 1)",
       [](Given& g, const std::string& v) { g.fields = parseFields(v); }},
      {"--heap", "fresh|aged|fresh,aged",
       "the heap each sample builds its grid on: a new process's, or one aged first by small "
       "blocks totalling the grid's bytes, a share of them freed (default fresh)",
       [](Given& g, const std::string& v) { g.heaps = v; }},
      {"--heap-freed", "F",
       "the share of the aging blocks freed, between 0 and 1 (default " +
           formatShare(kDefaultHeapFreed) + ")",
       [](Given& g, const std::string& v) { g.freed = parseHeapFreed(v); }},
      {"--memory", "default|all|LIST",
       "how the one-block layouts get their block, crossed with each index rule: any of "
       "touched (uninitialised, first touched by the parallel fill), huge (2 MiB pages, "
       "first touched by the fill), zeroed (value-initialised by one thread), "
       "comma-separated, or all (default: every rule under huge, every rule but row_major "
       "under touched, a rule's own loops under touched only)",
       [](Given& g, const std::string& v) { g.o.memories = parseMemories(v); }},
      {"--bind", "close|spread|none|inherit",
       "the samples' thread binding: close and spread set OMP_PROC_BIND to it and "
       "OMP_PLACES=cores (close pins as likwid-bench does), none sets OMP_PROC_BIND=false, "
       "inherit keeps the environment's (default inherit)",
       [](Given& g, const std::string& v) {
         checkBinding(v);
         g.o.bind = v;
       }},
      {"--sample-timeout", "S",
       "seconds a sample may run before it is stopped and its case failed (default: from the "
       "grid, the heap and the sweeps, see the context)",
       [](Given& g, const std::string& v) {
         g.o.sampleTimeout = positiveSeconds("--sample-timeout", v);
       }},
      {"--race", "on|off",
       "on: after " + std::to_string(kMinRaceRounds) +
           " rounds, a case is no longer sampled once more rounds could not change a decision "
           "it takes part in, and the run ends when none could, or at the round limit "
           "(--benchmark_repetitions); floors and ceilings take every round. off: every case "
           "takes every round (default on)",
       [](Given& g, const std::string& v) {
         if (v != "on" && v != "off") {
           throw std::invalid_argument("bad --race \"" + v + "\": expected on or off");
         }
         g.o.race = v == "on";
       }},
      {"--time-limit", "S",
       "ends the run after the round in progress once S seconds have passed, with the verdict "
       "of what it has and its undecided cells named (default: none)",
       [](Given& g, const std::string& v) { g.o.timeLimit = positiveSeconds("--time-limit", v); }},
      {"--progress", "auto|on|off",
       "where a long run is, on standard error: on keeps one line up to date in place, auto "
       "does so on a terminal and writes a line per round elsewhere, off shows nothing "
       "(default auto)",
       [](Given& g, const std::string& v) { g.o.progress = v; }},
  };
  return table;
}

// `text` wrapped to lines of at most `width` characters after `indent` spaces.
std::string wrapped(const std::string& text, std::size_t indent, std::size_t width) {
  std::string out;
  std::string line;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t space = text.find(' ', from);
    if (space == std::string::npos) {
      space = text.size();
    }
    const std::string word = text.substr(from, space - from);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n" + std::string(indent, ' ');
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    from = space + 1;
  }
  return out + line + "\n";
}

} // namespace

std::string suiteFlagsHelp() {
  constexpr std::size_t kColumn = 34;
  std::string text;
  for (const Flag& f : flags()) {
    std::string head = std::string("  ") + f.name + "=" + f.value;
    head += head.size() + 1 < kColumn ? std::string(kColumn - head.size(), ' ')
                                      : "\n" + std::string(kColumn, ' ');
    text += head + wrapped(f.help, kColumn, 80 - kColumn);
  }
  return text;
}

Options parseOptions(int argc, char** argv) {
  Given g;
  Options& o = g.o;
  o.samples = kDefaultSamples;
  o.benchmarkArgs.assign(kDefaultFlags.begin(), kDefaultFlags.end());
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto flag = std::find_if(flags().begin(), flags().end(), [&](const Flag& f) {
      return a.compare(0, std::strlen(f.name), f.name) == 0 &&
             (a.size() == std::strlen(f.name) || a[std::strlen(f.name)] == '=');
    });
    if (flag == flags().end()) {
      o.benchmarkArgs.push_back(a);
    } else if (a.size() == std::strlen(flag->name)) {
      std::string message = a;
      message += " needs a value (" + a + "=...); see --help";
      throw std::invalid_argument(message);
    } else {
      flag->take(g, a.substr(std::strlen(flag->name) + 1));
    }
  }
  const std::string& shapes = g.shapes;
  const std::string& sweeps = g.sweeps;
  const bool sweepsGiven = g.sweepsGiven;
  const std::string& heaps = g.heaps;
  const std::string& elements = g.elements;
  const double freed = g.freed;
  const int passes = g.passes;
  const int points = g.points;
  o.shapes = parseShapes(shapes);
  for (Shape& s : o.shapes) {
    s.fields = g.fields;
  }
  o.sweeps = parseSweeps(sweeps, passes);
  if (!sweepsGiven) { // a program that adds a sweep is run to measure it
    o.sweeps.added.assign(o.sweeps.added.size(), true);
    // and a grid of several fields, to read them all
    o.sweeps.on[kFieldsSum] = o.sweeps.on[kStream] = g.fields > 1;
  }
  for (int s = 0; s < kStepCount; ++s) {
    if (kSteps[s].fields && g.fields < 2 && sweeps == "all") { // all that apply
      o.sweeps.on[s] = false;
    }
    if (o.sweeps.on[s] && kSteps[s].fields && g.fields < 2) {
      throw std::invalid_argument(std::string("--sweeps=") + sweeps + " names " + kSteps[s].name +
                                  ", which reads several fields a voxel: add --fields=N, N "
                                  "from 2 to " +
                                  std::to_string(kMaxFields));
    }
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
