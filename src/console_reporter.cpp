#include "console_reporter.h"

#include <voxgrid/detail/steps.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace voxgrid {

namespace {

constexpr const char* kDebugWarning = "***WARNING*** Library was built as DEBUG";

std::string format(const char* fmt, double v) {
  char text[64];
  std::snprintf(text, sizeof text, fmt, v);
  return text;
}

// About three significant figures, without exponents for the usual sizes.
std::string number(double v) {
  const double a = std::fabs(v);
  return format(a >= 1000  ? "%.0f"
                : a >= 100 ? "%.1f"
                : a >= 10  ? "%.2f"
                : a >= 1   ? "%.3f"
                           : "%.3g",
                v);
}

bool spreadRow(const benchmark::BenchmarkReporter::Run& run) {
  return run.run_type == benchmark::BenchmarkReporter::Run::RT_Aggregate &&
         (run.aggregate_name == "stddev" || run.aggregate_name == "cv");
}

} // namespace

bool SuiteConsoleReporter::ReportContext(const Context& context) {
  name_field_width_ = context.name_field_width;
  std::ostringstream basic;
  PrintBasicContext(&basic, context);
  std::istringstream lines(basic.str());
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, std::char_traits<char>::length(kDebugWarning), kDebugWarning) != 0) {
      GetErrorStream() << line << '\n';
    }
  }
  return true;
}

void SuiteConsoleReporter::PrintHeader(const Run& run) {
  (void)run;
  char line[512];
  std::snprintf(line, sizeof line, "%-*s %14s %10s  %s", static_cast<int>(name_field_width_),
                "Benchmark", "Time/sample", "Iterations", "Counters (per sample)");
  const std::string text = line;
  GetOutputStream() << std::string(text.size() + 10, '-') << '\n'
                    << text << '\n'
                    << std::string(text.size() + 10, '-') << '\n';
}

void SuiteConsoleReporter::PrintRunData(const Run& run) {
  std::ostream& out = GetOutputStream();
  char head[512];
  std::snprintf(head, sizeof head, "%-*s ", static_cast<int>(name_field_width_),
                run.benchmark_name().c_str());
  out << head;
  if (run.error_occurred) {
    out << "ERROR OCCURRED: '" << run.error_message << "'\n";
    return;
  }
  const std::string shown =
      run.aggregate_unit == benchmark::kPercentage
          ? format("%.1f", run.real_accumulated_time * 100) + " %"
          : number(run.GetAdjustedRealTime()) + " " + benchmark::GetTimeUnitString(run.time_unit);
  char cells[128];
  std::snprintf(cells, sizeof cells, "%14s %10lld", shown.c_str(),
                static_cast<long long>(run.iterations));
  out << cells;
  if (!spreadRow(run)) {
    // The steps in their order, what they faulted and allocated, then anything else.
    std::vector<std::string> names;
    for (const StepInfo& step : kSteps) {
      names.push_back(std::string(step.name) + "_ms");
      if (step.sweep) {
        names.push_back(std::string(step.name) + "_" + step.rate);
      }
    }
    names.insert(names.end(), {"faults", "blocks"});
    for (const auto& c : run.counters) {
      if (std::find(names.begin(), names.end(), c.first) == names.end()) {
        names.push_back(c.first);
      }
    }
    for (const std::string& name : names) {
      const auto c = run.counters.find(name);
      if (c == run.counters.end()) {
        continue;
      }
      out << "  " << name << '=';
      if (name == "bytes_per_second") {
        out << number(c->second.value * 1e-9) << "G/s";
      } else if (name == "faults" || name == "blocks") {
        out << format("%.0f", c->second.value);
      } else {
        out << number(c->second.value);
      }
    }
  }
  out << '\n';
}

} // namespace voxgrid
