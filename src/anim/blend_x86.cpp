// The compositor's row kernels for the x86 kernel sets: the body in
// blend_x86.inc, compiled once for SSE4.1 and once for AVX2.
#include <type_traits>

#include "anim/blend.h"
#include "image/simd_x86.h"

#define TIKO_X86_BODY "anim/blend_x86.inc"
#define TIKO_X86_TABLE const BlendKernels kBlendKernels = {BlendRowBits, BlendRowAlpha, BlendRowOpaque};
#include "image/simd_x86_targets.inc"

namespace tiko {

const BlendKernels* BlendKernelsX86(int32_t set) {
#if TIKO_SIMD_X86
  return X86TableOf(set, &x86_sse41::kBlendKernels, &x86_avx2::kBlendKernels);
#else
  (void)set;
  return nullptr;
#endif
}

}  // namespace tiko
