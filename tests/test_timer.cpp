#include "Timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

TEST(Timer, RunsFromConstructionStopsFixedInEveryUnitAndRestartsAfresh) {
  Timer tm; // runs from construction, no start needed
  const double first = tm.getElapsedTimeInNanoSec();
  pause();
  const double second = tm.getElapsedTimeInNanoSec();
  EXPECT_GE(first, 0.0);
  EXPECT_GE(second, first + 50e6);
  tm.stop();
  const double ns = tm.getElapsedTimeInNanoSec();
  EXPECT_GE(ns, second);
  pause();
  EXPECT_EQ(tm.getElapsedTimeInNanoSec(), ns);
  EXPECT_EQ(tm.getElapsedTimeInMicroSec(), ns * 0.001);
  EXPECT_EQ(tm.getElapsedTimeInMilliSec(), ns * 1e-6);
  EXPECT_EQ(tm.getElapsedTimeInSec(), ns * 1e-9);
  EXPECT_EQ(tm.getElapsedTime(), tm.getElapsedTimeInSec());

  tm.start(); // a new interval, then read as the program does: started, stopped, read
  tm.stop();
  const double restarted = tm.getElapsedTimeInNanoSec();
  EXPECT_GE(restarted, 0.0);
  EXPECT_LT(restarted, ns);
  tm.start(); // and running again
  EXPECT_GE(tm.getElapsedTimeInNanoSec(), 0.0);
}

} // namespace
