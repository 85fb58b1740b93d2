#ifndef TIMER_H
#define TIMER_H

#include <chrono>

// The project's own stopwatch, named as many projects name theirs.
class Timer {
public:
  void start() { t_ = std::chrono::steady_clock::now(); }
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t_).count();
  }

private:
  std::chrono::steady_clock::time_point t_ = std::chrono::steady_clock::now();
};

#endif
