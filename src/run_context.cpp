#include "run_context.h"

#include "cases.h"
#include "context.h"
#include "counters.h"
#include "heap_flags.h"
#include "index_fill.h"
#include "rounds.h"
#include "sample_process.h"
#include "shape_list.h"
#include "sweep_flags.h"
#include "thread_binding.h"

#include <voxgrid/detail/added_sweeps.h>
#include <voxgrid/detail/steps.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

namespace voxgrid {

namespace {

// The gather's points per sample: one count, or one per shape where they differ.
std::string gatherPoints(const Options& o) {
  std::string each;
  std::set<std::int64_t> counts;
  for (const Shape& s : o.shapes) {
    const std::int64_t n = pointsFor(o.sweeps, s);
    counts.insert(n);
    each += (each.empty() ? "" : ", ") + shapeName(s) + ": " + std::to_string(n);
  }
  return counts.size() == 1 ? std::to_string(*counts.begin()) : each;
}

// The deadline each sample waits under.
std::string timeoutText(const std::vector<Instance*>& selected, double timeoutOverride) {
  if (timeoutOverride > 0) {
    return formatSeconds(timeoutOverride) + " (--sample-timeout)";
  }
  double longest = 0;
  for (const Instance* in : selected) {
    longest = std::max(
        longest, sampleTimeout(in->shape, in->plan, in->heap.aged, info(in->c->element).bytes));
  }
  return "from each sample's plan: " + std::string(kTimeoutRule) + "; at most " +
         formatSeconds(longest) + " in this run";
}

// Names once each, in the order first met, comma-separated.
template <class Pick> std::string caseList(Pick pick) {
  std::vector<std::string> names;
  for (const Case& c : suiteCases()) {
    if (pick(c) && std::find(names.begin(), names.end(), c.name) == names.end()) {
      names.emplace_back(c.name);
    }
  }
  std::string text;
  for (const std::string& n : names) {
    text += (text.empty() ? "" : ",") + n;
  }
  return text;
}

} // namespace

std::string roofKernelsText(bool streaming) {
  std::string text;
  for (int roof = 0; roof < kRoofCount; ++roof) {
    if (roof == kRoofCopyStreaming && !streaming) {
      continue; // the machine has no streaming stores, so no such roof
    }
    text +=
        (text.empty() ? "" : "; ") + std::string(kRoofs[roof].counter) + ": " + kRoofs[roof].kernel;
  }
  return text + "; each the median pass, measured in bandwidth/stores:plain's own sample every "
                "round, at its shape, element type and thread count";
}

ContextPairs suiteTables() {
  std::string sweeps;
  std::string reads;
  for (const StepInfo& s : kSteps) {
    if (s.sweep) {
      sweeps += (sweeps.empty() ? "" : ",") + std::string(s.name);
      reads += (reads.empty() ? "" : "; ") + std::string(s.name) + ": " + s.reads;
    }
  }
  std::string elements;
  for (const ElementInfo& e : kElementInfo) {
    elements += (elements.empty() ? "" : ",") + std::string(e.name);
  }
  std::ostringstream threshold;
  threshold << kHugeEnough;
  ContextPairs tables = {
      {"case_order", caseList([](const Case&) { return true; })},
      {"sweeping_cases", caseList([](const Case& c) { return c.sweeps(); })},
      {"huge_page_cases", caseList([](const Case& c) { return c.hugePages(); })},
      // The arrangements of several fields a voxel: run only where --fields is 2 or more.
      {"field_cases", caseList([](const Case& c) { return c.fields(); })},
      {"sweep_names", sweeps},
      {"sweep_reads", reads},
      {"element_types", elements},
      {"isa_orders", isaOrdersText()},
      {"huge_page_threshold", threshold.str()},
  };
  const ContextPairs words = storageWords();
  tables.insert(tables.end(), words.begin(), words.end());
  return tables;
}

ContextPairs runSettings(const Options& o, const std::vector<Instance*>& selected,
                         double timeoutOverride) {
  ContextPairs c;
  c.emplace_back("samples_per_iteration", std::to_string(o.samples));
  c.emplace_back("fields", std::to_string(o.shapes.empty() ? 1 : o.shapes.front().fields));
  c.emplace_back("sweeps", sweepsName(o.sweeps));
  c.emplace_back("passes_per_sample", std::to_string(o.sweeps.passes));
  if (o.sweeps.anyAdded()) {
    std::string names;
    for (std::size_t a = 0; a < o.sweeps.added.size(); ++a) {
      if (o.sweeps.added[a]) {
        names += (names.empty() ? "" : ",") + std::string(addedSweeps()[a].name);
      }
    }
    c.emplace_back("added_sweeps", names);
  }
  if (o.sweeps.on[kGather]) {
    c.emplace_back("gather_points", gatherPoints(o));
  }
  c.emplace_back("heap", heapsName(o.heaps));
  if (o.heaps.back().aged) {
    c.emplace_back("heap_recipe", heapRecipe(o.heaps.back().freed));
  }
  c.emplace_back("thread_binding", bindingInForce(o.bind));
  c.emplace_back("bytes_per_element", bytesPerElementText());
  c.emplace_back("roof_kernels", roofKernelsText(haveStreamingStores()));
  char order[224];
  std::snprintf(order, sizeof order,
                "interleaved: round r takes repetition r of every case, in an order shuffled for "
                "each round from seed 0x%llx; one warm-up sample first, and one before each "
                "sample of a case on huge pages, discarded",
                static_cast<unsigned long long>(kOrderSeed));
  c.emplace_back("sample_order", order);
  c.emplace_back("sample_timeout", timeoutText(selected, timeoutOverride));
  return c;
}

} // namespace voxgrid
