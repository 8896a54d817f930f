// The rescalers' kernels for the x86 kernel sets: the body in scale_x86.inc,
// compiled once for SSE4.1 and once for AVX2.
#include <algorithm>
#include <climits>

#include "image/scale.h"
#include "image/simd_x86.h"

#define TIKO_X86_BODY "image/scale_x86.inc"
#define TIKO_X86_KERNELS ScaleKernels
#define TIKO_X86_ENTRIES {InterpolatePlane, PickPlane, ScalePacked422, ScaleBitRow}
#define TIKO_X86_TABLES ScaleKernelsX86
#include "image/simd_x86_targets.inc"
