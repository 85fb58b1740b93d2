#include "Timer.h"

Timer::TimePoint Timer::now() {
  return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now());
}

Timer::Timer() : startPoint(now()), endPoint(startPoint), stopped(0) {}

void Timer::start() {
  stopped = 0;
  startPoint = now();
}

void Timer::stop() {
  stopped = 1;
  endPoint = now();
}

double Timer::getElapsedTime() { return getElapsedTimeInSec(); }

// Multiplying (not dividing) keeps every unit derived the same way from the count.
double Timer::getElapsedTimeInSec() { return getElapsedTimeInNanoSec() * 1e-9; }

double Timer::getElapsedTimeInMilliSec() { return getElapsedTimeInNanoSec() * 1e-6; }

double Timer::getElapsedTimeInMicroSec() { return getElapsedTimeInNanoSec() * 0.001; }

double Timer::getElapsedTimeInNanoSec() {
  if (stopped == 0) {
    endPoint = now();
  }
  return static_cast<double>((endPoint - startPoint).count());
}
