#ifndef VOXGRID_TIMER_H
#define VOXGRID_TIMER_H

#include <chrono>

// Stopwatch. Every reading comes from one nanosecond count; a reading taken
// while the stopwatch runs moves endPoint to the moment of the reading.
// The clock is monotonic, so a clock adjustment never shows up in a result.
class Timer {
public:
  Timer();
  ~Timer() = default;
  void start();
  void stop();
  double getElapsedTime();
  double getElapsedTimeInSec();
  double getElapsedTimeInMilliSec();
  double getElapsedTimeInMicroSec();
  double getElapsedTimeInNanoSec();

private:
  using TimePoint = std::chrono::time_point<std::chrono::steady_clock, std::chrono::nanoseconds>;
  static TimePoint now();

  TimePoint startPoint;
  TimePoint endPoint;
  int stopped;
};

#endif
