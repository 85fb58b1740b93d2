#ifndef VOXGRID_PROGRESS_H
#define VOXGRID_PROGRESS_H

#include <chrono>
#include <cstdio>
#include <string>

namespace voxgrid {

// Where a long run is, on standard error: on a terminal one line kept up to
// date in place, elsewhere (a pipe, a file, a Slurm log) one plain line per
// round as it starts (a round takes one repetition of every case). Standard
// output and the JSON never see it.

enum class ProgressMode { kOff, kLines, kInPlace };

// --progress=on|off|auto: auto is in place on a terminal and lines elsewhere,
// on is in place anywhere. Anything else throws std::invalid_argument.
ProgressMode parseProgress(const std::string& text, bool stderrIsTerminal);

// "45 s", "3 min 05 s", "1 h 02 min".
std::string durationText(double seconds);

class Progress {
public:
  Progress(ProgressMode mode, int cases, int rounds, long samples, std::FILE* out = stderr);
  // Round `round` (from 1) begins, then each case within it.
  void startRound(int round);
  void startCase(const std::string& name);
  void sampleDone();
  // After a round: the cases the run still samples, and the samples they may take at most.
  void plan(int cases, long samplesLeft);
  // Takes the in-place line off the screen before a row is printed, and puts it back after.
  void clear();
  void redraw();
  // The line as it would stand now, for the tests.
  std::string line() const;

private:
  double elapsed() const;
  ProgressMode mode_;
  int cases_;
  int rounds_;
  long samples_;
  std::FILE* out_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  int round_ = 0;
  int inRound_ = 0; // the cases begun in this round
  std::string current_;
  long done_ = 0;
  bool shown_ = false;
};

} // namespace voxgrid

#endif
