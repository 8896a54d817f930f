// The kernel sets, and how every kernel family chooses its kernels from them:
// a set the processor does not run, or that does not exist, gets the
// references, and each fast set the processor runs gets a table of its own,
// so the differential suites compare the kernels that callers really run.
#include "image/kernel_set.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "anim/blend.h"
#include "image/convert.h"
#include "image/intake.h"
#include "image/scale.h"
#include "simd_sets.h"

namespace tiko {
namespace {

struct Family {
  const char* name;
  const void* (*kernelsOf)(int32_t set);
};

const Family kFamilies[] = {
    {"blend", [](int32_t set) -> const void* { return &BlendKernelsOf(set); }},
    {"convert", [](int32_t set) -> const void* { return &ConvertKernelsOf(set); }},
    {"scale", [](int32_t set) -> const void* { return &ScaleKernelsOf(set); }},
    {"intake", [](int32_t set) -> const void* { return &IntakeKernelsOf(set); }},
};

TEST(KernelSet, EveryFamilyChoosesItsKernelsTheSameWay) {
  for (const Family& family : kFamilies) {
    const void* references = family.kernelsOf(kKernelsScalar);
    std::set<const void*> tables = {references};
    for (int32_t set = kKernelsScalar - 2; set <= kKernelSetCount + 1; ++set) {
      const std::string where = std::string(family.name) + " under set " + std::to_string(set);
      if (set == kKernelsScalar || !KernelSetSupported(set)) {
        EXPECT_EQ(family.kernelsOf(set), references) << where;
      } else {
        EXPECT_TRUE(tables.insert(family.kernelsOf(set)).second) << where << " shares another set's table";
      }
    }
  }
}

TEST(KernelSet, TheReferencesRunEverywhereAndNothingPastTheSets) {
  EXPECT_EQ(KernelSetSupported(kKernelsScalar), 1);
  for (const int32_t set : {kKernelsScalar - 1, kKernelSetCount, kKernelSetCount + 30}) {
    EXPECT_EQ(KernelSetSupported(set), 0) << set;
  }
#if !TIKO_SIMD_X86
  EXPECT_TRUE(FastKernelSets().empty()) << "a build without fast kernels runs only the references";
#endif
}

// Unless a test has selected another set (and every test puts back the one it
// found), the set in use is the best one the processor runs.
TEST(KernelSet, TheFirstChoiceIsTheBestSupportedSet) {
  EXPECT_EQ(ActiveKernelSet(), SupportedKernelSets().back());
}

TEST(KernelSet, OnlySupportedSetsCanBeSelected) {
  const int32_t chosen = ActiveKernelSet();
  for (int32_t set = kKernelsScalar - 1; set <= kKernelSetCount; ++set) {
    if (KernelSetSupported(set)) {
      EXPECT_EQ(SelectKernelSet(set), 1) << set;
      EXPECT_EQ(ActiveKernelSet(), set);
    } else {
      const int32_t before = ActiveKernelSet();
      EXPECT_EQ(SelectKernelSet(set), 0) << set;
      EXPECT_EQ(ActiveKernelSet(), before) << set;
    }
  }
  SelectKernelSet(chosen);
}

}  // namespace
}  // namespace tiko
