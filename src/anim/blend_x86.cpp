// The compositor's row kernels for the x86 kernel sets: the body in
// blend_x86.inc, compiled once for SSE4.1 and once for AVX2.
#include <type_traits>

#include "anim/blend.h"
#include "image/simd_x86.h"

#define TIKO_X86_BODY "anim/blend_x86.inc"
#define TIKO_X86_KERNELS BlendKernels
#define TIKO_X86_ENTRIES {BlendRowBits, BlendRowAlpha, BlendRowOpaque}
#define TIKO_X86_TABLES BlendKernelsX86
#include "image/simd_x86_targets.inc"
