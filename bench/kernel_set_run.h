// Runs a benchmark under one kernel set: tiko's benchmarks take the set as an
// argument (0 the scalar references, 1 SSE4.1, 2 AVX2), skip a set the
// processor lacks, label their results with the set's name, and go back to
// the best set when done.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "image/kernel_set.h"

namespace tiko {

class KernelSetRun {
 public:
  KernelSetRun(benchmark::State& state, int64_t set) : ok_(SelectKernelSet(static_cast<int32_t>(set)) == 1) {
    if (!ok_) state.SkipWithError("kernel set not supported here");
    state.SetLabel(KernelSetName(static_cast<int32_t>(set)));
  }
  ~KernelSetRun() {
    for (int32_t set = kKernelSetCount - 1; set >= kKernelsScalar; --set) {
      if (SelectKernelSet(set)) break;
    }
  }
  KernelSetRun(const KernelSetRun&) = delete;
  KernelSetRun& operator=(const KernelSetRun&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

}  // namespace tiko
