// The rescalers' interpolation for the x86 kernel sets: the body in
// scale_x86.inc, compiled once for SSE4.1 and once for AVX2.
#include <algorithm>
#include <climits>

#include "image/scale.h"
#include "image/simd_x86.h"

#define TIKO_X86_BODY "image/scale_x86.inc"
#define TIKO_X86_TABLE const ScaleKernels kScaleKernels = {InterpolatePlane, PickPlane, ScalePacked422};
#include "image/simd_x86_targets.inc"

namespace tiko {

const ScaleKernels* ScaleKernelsX86(int32_t set) {
#if TIKO_SIMD_X86
  return X86TableOf(set, &x86_sse41::kScaleKernels, &x86_avx2::kScaleKernels);
#else
  (void)set;
  return nullptr;
#endif
}

}  // namespace tiko
