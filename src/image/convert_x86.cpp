// The colour conversions' row kernels for the x86 kernel sets: the body in
// convert_x86.inc, compiled once for SSE4.1 and once for AVX2.
#include "image/convert.h"
#include "image/layout.h"
#include "image/simd_x86.h"

#define TIKO_X86_BODY "image/convert_x86.inc"
#define TIKO_X86_KERNELS ConvertKernels
#define TIKO_X86_ENTRIES {BgrRowToYuv422, Yuv422RowToBgr, BgrRowPairToYuv420, Yuv420RowToBgr}
#define TIKO_X86_TABLES ConvertKernelsX86
#include "image/simd_x86_targets.inc"
