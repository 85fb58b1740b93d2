#include "Timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>

namespace {

void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

// Only what holds however loaded the machine is: a running stopwatch moves on,
// a stopped one does not, every unit reads the same interval, and start()
// begins a new one.
TEST(Timer, RunsFromConstructionStopsFixedAndRestartsAfresh) {
  Timer tm; // runs from construction, no start needed
  const double first = tm.getElapsedTimeInNanoSec();
  pause();
  EXPECT_GT(tm.getElapsedTimeInNanoSec(), first);
  tm.stop();
  const double ns = tm.getElapsedTimeInNanoSec();
  pause();
  EXPECT_EQ(tm.getElapsedTimeInNanoSec(), ns);
  const std::pair<double (Timer::*)(), double> units[] = {{&Timer::getElapsedTime, 1e9},
                                                          {&Timer::getElapsedTimeInSec, 1e9},
                                                          {&Timer::getElapsedTimeInMilliSec, 1e6},
                                                          {&Timer::getElapsedTimeInMicroSec, 1e3}};
  for (const auto& [read, nsEach] : units)
    EXPECT_DOUBLE_EQ((tm.*read)() * nsEach, ns);

  // Restarted inside another's interval, its own can be no longer; and it runs again.
  Timer outer;
  tm.start();
  tm.stop();
  outer.stop();
  EXPECT_LE(tm.getElapsedTimeInNanoSec(), outer.getElapsedTimeInNanoSec());
  tm.start();
  const double restarted = tm.getElapsedTimeInNanoSec();
  pause();
  EXPECT_GT(tm.getElapsedTimeInNanoSec(), restarted);
}

} // namespace
