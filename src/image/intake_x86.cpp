// The frame intake's row kernel for the x86 kernel sets: the body in
// intake_x86.inc, compiled once for SSE4.1 and once for AVX2.
#include <array>

#include "image/intake.h"
#include "image/simd_x86.h"

#define TIKO_X86_BODY "image/intake_x86.inc"
#define TIKO_X86_KERNELS IntakeKernels
#define TIKO_X86_ENTRIES {HalveRow}
#define TIKO_X86_TABLES IntakeKernelsX86
#include "image/simd_x86_targets.inc"
