#include "progress.h"

#include <sys/ioctl.h>

#include <cmath>
#include <stdexcept>

namespace voxgrid {

ProgressMode parseProgress(const std::string& text, bool stderrIsTerminal) {
  if (text == "auto") {
    return stderrIsTerminal ? ProgressMode::kInPlace : ProgressMode::kLines;
  }
  if (text == "on") {
    return ProgressMode::kInPlace;
  }
  if (text == "off") {
    return ProgressMode::kOff;
  }
  throw std::invalid_argument("bad --progress \"" + text + "\": expected on, off or auto");
}

std::string durationText(double seconds) {
  const long s = std::lround(seconds);
  char text[32];
  if (s < 60) {
    std::snprintf(text, sizeof text, "%ld s", s);
  } else if (s < 3600) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld h %02ld min", s / 3600, s / 60 % 60);
  }
  return text;
}

Progress::Progress(ProgressMode mode, int cases, int rounds, long samples, std::FILE* out)
    : mode_(mode), cases_(cases), rounds_(rounds), samples_(samples), out_(out) {}

double Progress::elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string Progress::line() const {
  std::string text =
      "voxgrid-suite: round " + std::to_string(round_) + " of " + std::to_string(rounds_);
  if (mode_ == ProgressMode::kInPlace) {
    text +=
        ", case " + std::to_string(inRound_) + " of " + std::to_string(cases_) + ", " + current_;
  }
  text += ": " + durationText(elapsed()) + " so far";
  // From the samples so far, once a whole round has run: earlier there is no telling.
  if (round_ > 1 && done_ > 0 && samples_ > done_) {
    const double left =
        elapsed() / static_cast<double>(done_) * static_cast<double>(samples_ - done_);
    text += ", about " + durationText(left) + " left";
  }
  return text;
}

void Progress::plan(int cases, long samplesLeft) {
  cases_ = cases;
  samples_ = done_ + samplesLeft;
}

void Progress::startRound(int round) {
  round_ = round;
  inRound_ = 0;
  if (mode_ == ProgressMode::kLines) {
    std::fprintf(out_, "%s\n", line().c_str());
    std::fflush(out_);
  }
}

void Progress::startCase(const std::string& name) {
  ++inRound_;
  current_ = name;
  if (mode_ == ProgressMode::kInPlace) {
    redraw();
  }
}

void Progress::sampleDone() {
  ++done_;
  if (mode_ == ProgressMode::kInPlace) {
    redraw();
  }
}

void Progress::clear() {
  if (mode_ == ProgressMode::kInPlace && shown_) {
    std::fputs("\r\033[K", out_); // back to the line's start, and erase it
    std::fflush(out_);
    shown_ = false;
  }
}

void Progress::redraw() {
  if (mode_ != ProgressMode::kInPlace || current_.empty()) {
    return;
  }
  std::string text = line();
  // A line wider than the terminal would wrap, and \r would only go back to its last part.
  winsize size{};
  if (ioctl(fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
      text.size() >= size.ws_col) {
    text.resize(size.ws_col - 1u);
  }
  std::fprintf(out_, "\r\033[K%s", text.c_str());
  std::fflush(out_);
  shown_ = true;
}

} // namespace voxgrid
