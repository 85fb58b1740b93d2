#ifndef VOXGRID_INSTANCE_H
#define VOXGRID_INSTANCE_H

#include <voxgrid/detail/heap_aging.h>
#include <voxgrid/detail/registry.h>
#include <voxgrid/detail/sample.h>
#include <voxgrid/detail/sweep_plan.h>
#include <voxgrid/shape.h>

#include <string>
#include <vector>

namespace voxgrid {

// One registered case at one shape, heap and team size (threads 0: the
// default team), and the samples the run takes of it.
struct Instance {
  std::string name;
  const Case* c;
  Shape shape;
  int threads;
  SweepPlan plan; // none for the cases that do not sweep
  HeapPlan heap;
  std::vector<std::vector<Sample>> rounds; // the samples of each round it ran in
  bool warned = false;                     // about its huge pages, once
  int reported = 0;                        // the repetitions handed to Google Benchmark
};

} // namespace voxgrid

#endif
