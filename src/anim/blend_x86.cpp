// The compositor's row kernels for the x86 kernel sets: the body in
// blend_x86.inc, compiled once for SSE4.1 and once for AVX2.
#include <type_traits>

#include "anim/blend.h"
#include "image/simd_x86.h"

#if TIKO_SIMD_X86

TIKO_TARGET_SSE41_BEGIN
namespace tiko::x86_sse41 {
#define TIKO_X86_AVX2 0
#include "image/simd_x86_ops.h"
#include "anim/blend_x86.inc"
#undef TIKO_X86_AVX2
const BlendKernels kBlendKernels = {BlendRowBits, BlendRowAlpha, BlendRowOpaque};
}  // namespace tiko::x86_sse41
TIKO_TARGET_END

TIKO_TARGET_AVX2_BEGIN
namespace tiko::x86_avx2 {
#define TIKO_X86_AVX2 1
#include "image/simd_x86_ops.h"
#include "anim/blend_x86.inc"
#undef TIKO_X86_AVX2
const BlendKernels kBlendKernels = {BlendRowBits, BlendRowAlpha, BlendRowOpaque};
}  // namespace tiko::x86_avx2
TIKO_TARGET_END

#endif  // TIKO_SIMD_X86

namespace tiko {

const BlendKernels* BlendKernelsX86(int32_t set) {
#if TIKO_SIMD_X86
  switch (set) {
    case kKernelsSse41:
      return &x86_sse41::kBlendKernels;
    case kKernelsAvx2:
      return &x86_avx2::kBlendKernels;
    default:
      return nullptr;
  }
#else
  (void)set;
  return nullptr;
#endif
}

}  // namespace tiko
