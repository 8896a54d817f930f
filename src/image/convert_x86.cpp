// The colour conversions' row kernels for the x86 kernel sets: the body in
// convert_x86.inc, compiled once for SSE4.1 and once for AVX2.
#include "image/convert.h"
#include "image/layout.h"
#include "image/simd_x86.h"

#define TIKO_X86_BODY "image/convert_x86.inc"
#define TIKO_X86_TABLE const ConvertKernels kConvertKernels = {BgrRowToYuv422, Yuv422RowToBgr, BgrRowPairToYuv420, Yuv420RowToBgr};
#include "image/simd_x86_targets.inc"

namespace tiko {

const ConvertKernels* ConvertKernelsX86(int32_t set) {
#if TIKO_SIMD_X86
  return X86TableOf(set, &x86_sse41::kConvertKernels, &x86_avx2::kConvertKernels);
#else
  (void)set;
  return nullptr;
#endif
}

}  // namespace tiko
