#include "race_replay.h"

#include "race.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace voxgrid {

namespace {

struct Costs {
  std::vector<double> total;
  std::vector<std::map<std::string, double>> sweeps;
};

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) {
    out.push_back(field);
  }
  return out;
}

double number(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0') {
    throw std::invalid_argument("not a number: \"" + text + "\"");
  }
  return v;
}

} // namespace

bool isReplayMode(int argc, char** argv) {
  return argc == 2 && std::strcmp(argv[1], "--race-replay") == 0;
}

int runReplayMode() {
  RaceSettings settings;
  std::vector<Contender> contenders;
  std::vector<Costs> costs;
  int lineNo = 0;
  try {
    std::map<std::string, std::size_t> index;
    std::string line;
    while (std::getline(std::cin, line)) {
      ++lineNo;
      const std::vector<std::string> f = fields(line);
      if (f.size() == 2 && f[0] == "limit") {
        settings.rule.limit = static_cast<int>(number(f[1]));
      } else if (f.size() == 4 && f[0] == "case" && !index.count(f[1])) {
        index[f[1]] = contenders.size();
        Contender c;
        c.name = f[1];
        c.group = f[2];
        c.reference = f[3] == "reference";
        contenders.push_back(c);
        costs.emplace_back();
      } else if (f.size() >= 3 && f[0] == "cost" && index.count(f[1])) {
        Costs& c = costs[index[f[1]]];
        c.total.push_back(number(f[2]));
        c.sweeps.emplace_back();
        for (std::size_t n = 3; n < f.size(); ++n) {
          const std::size_t eq = f[n].find('=');
          if (eq == std::string::npos) {
            throw std::invalid_argument("not SWEEP=MS: \"" + f[n] + "\"");
          }
          c.sweeps.back()[f[n].substr(0, eq)] = number(f[n].substr(eq + 1));
        }
      } else {
        throw std::invalid_argument("not a record of a replay");
      }
    }
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "voxgrid-suite: --race-replay: line %d: %s\n", lineNo, e.what());
    return 1;
  }
  if (settings.rule.limit < 1) {
    std::fprintf(stderr, "voxgrid-suite: --race-replay: no limit of at least 1 round\n");
    return 1;
  }
  Race race(contenders, settings);
  for (int round = 1;; ++round) {
    for (std::size_t n = 0; n < costs.size(); ++n) {
      if (!race.sampling(n)) {
        continue;
      }
      const auto k = static_cast<std::size_t>(round - 1);
      if (k < costs[n].total.size()) {
        race.record(n, round, costs[n].total[k], costs[n].sweeps[k]);
      } else {
        race.fail(n);
      }
    }
    if (!race.endRound(round, 0)) {
      break;
    }
  }
  for (std::size_t n = 0; n < contenders.size(); ++n) {
    const RaceEnd& end = race.end(n);
    std::string undecided;
    for (const Use& use : end.undecided) {
      undecided += (undecided.empty() ? "" : ",") + useName(use);
    }
    std::printf("case\t%s\t%d\t%s\t%s\n", contenders[n].name.c_str(), end.rounds, end.why.c_str(),
                undecided.c_str());
  }
  std::printf("run\t%d\t%s\n", race.rounds(), race.why().c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace voxgrid
