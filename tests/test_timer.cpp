#include "Timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

TEST(Timer, StoppedReadingIsStableAndUnitsAgree) {
  Timer tm;
  tm.start();
  pause();
  tm.stop();
  const double ns = tm.getElapsedTimeInNanoSec();
  pause();
  EXPECT_EQ(tm.getElapsedTimeInNanoSec(), ns);
  EXPECT_GE(ns, 50e6);
  EXPECT_EQ(tm.getElapsedTimeInMicroSec(), ns * 0.001);
  EXPECT_EQ(tm.getElapsedTimeInMilliSec(), ns * 1e-6);
  EXPECT_EQ(tm.getElapsedTimeInSec(), ns * 1e-9);
  EXPECT_EQ(tm.getElapsedTime(), tm.getElapsedTimeInSec());
}

TEST(Timer, ReadingWhileRunningGrowsUpToTheStop) {
  Timer tm; // runs from construction, no start needed
  const double first = tm.getElapsedTimeInNanoSec();
  EXPECT_GE(first, 0.0);
  pause();
  const double second = tm.getElapsedTimeInNanoSec();
  EXPECT_GE(second, first + 50e6);
  tm.stop();
  EXPECT_GE(tm.getElapsedTimeInNanoSec(), second);
}

TEST(Timer, StartAfterStopBeginsANewInterval) {
  Timer tm;
  tm.start();
  pause();
  tm.stop();
  const double old = tm.getElapsedTimeInNanoSec();
  tm.start();
  EXPECT_LT(tm.getElapsedTimeInNanoSec(), old); // measured from the new start
  tm.stop();
  EXPECT_LT(tm.getElapsedTimeInNanoSec(), old);
}

} // namespace
