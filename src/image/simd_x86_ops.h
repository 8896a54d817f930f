// The operations the x86 kernels are written in, for one target. Included
// (deliberately without an include guard) inside a target region and a
// namespace of its own, with TIKO_X86_AVX2 set to 1 for the 256-bit build or
// 0 for the 128-bit one; see simd_x86.h.
//
// A vector V is one or two 128-bit blocks. Every byte shuffle, pack and unpack
// works inside a block, so a 256-bit kernel is two 128-bit kernels side by
// side: LoadBlocks puts bytes p .. p + 15 in the first block and p + stride ..
// p + stride + 15 in the second. Three-byte pixels then need the same shuffle
// patterns in both widths.
//
// D4 is four doubles: one register in the 256-bit build, two in the 128-bit
// one. The conversions keep their integers in 128-bit registers and their
// doubles in D4, four pixels at a time.

#ifndef TIKO_X86_AVX2
#error "define TIKO_X86_AVX2 before including simd_x86_ops.h"
#endif

#if TIKO_X86_AVX2

using V = __m256i;
inline constexpr int kBlocks = 2;

inline V Zero() { return _mm256_setzero_si256(); }
inline V Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
inline void Store(void* p, V v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
inline V LoadBlocks(const uint8_t* p, size_t stride) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride)), 1);
}
inline void StoreBlocks(uint8_t* p, size_t stride, V v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(v));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p + stride), _mm256_extracti128_si256(v, 1));
}
// 16 bytes from `first` in the first block and 16 from `second` in the second.
inline V LoadBlockPair(const uint8_t* first, const uint8_t* second) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(second)), 1);
}
inline V SetBlock(__m128i block) { return _mm256_broadcastsi128_si256(block); }
inline V SetBlocks(__m128i first, __m128i second) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1);
}
inline V Set8(int value) { return _mm256_set1_epi8(static_cast<char>(value)); }
inline V Set16(int value) { return _mm256_set1_epi16(static_cast<short>(value)); }
inline V Set32(int value) { return _mm256_set1_epi32(value); }
inline V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
inline V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
inline V Sub8(V a, V b) { return _mm256_sub_epi8(a, b); }
inline V And(V a, V b) { return _mm256_and_si256(a, b); }
inline V Or(V a, V b) { return _mm256_or_si256(a, b); }
inline V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
inline V Max8u(V a, V b) { return _mm256_max_epu8(a, b); }
inline V Min8u(V a, V b) { return _mm256_min_epu8(a, b); }
inline V CmpEq8(V a, V b) { return _mm256_cmpeq_epi8(a, b); }
inline V UnpackLo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
inline V UnpackHi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
inline V Shuffle8(V table, V index) { return _mm256_shuffle_epi8(table, index); }
inline V MulLo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
inline V MulLo32(V a, V b) { return _mm256_mullo_epi32(a, b); }
inline V MulEven32(V a, V b) { return _mm256_mul_epu32(a, b); }
inline V MaddUbs(V unsignedBytes, V signedBytes) { return _mm256_maddubs_epi16(unsignedBytes, signedBytes); }
inline V Madd16(V a, V b) { return _mm256_madd_epi16(a, b); }
inline V ShiftRight16(V a, int count) { return _mm256_srl_epi16(a, _mm_cvtsi32_si128(count)); }
inline V ShiftRightA16(V a, int count) { return _mm256_sra_epi16(a, _mm_cvtsi32_si128(count)); }
inline V ShiftRight64(V a, int count) { return _mm256_srl_epi64(a, _mm_cvtsi32_si128(count)); }
inline V PackS16(V a, V b) { return _mm256_packs_epi16(a, b); }
inline V PackU16(V a, V b) { return _mm256_packus_epi16(a, b); }
inline V PackU32(V a, V b) { return _mm256_packus_epi32(a, b); }
inline V BlendBytes(V a, V b, V mask) { return _mm256_blendv_epi8(a, b, mask); }
inline V BlendOddDwords(V even, V odd) { return _mm256_blend_epi32(even, odd, 0xAA); }
inline bool AllZero(V a) { return _mm256_testz_si256(a, a) != 0; }
inline bool AllOnes(V a) { return _mm256_testc_si256(a, _mm256_set1_epi32(-1)) != 0; }
// Four dwords read at byte offsets from base (the offsets are signed 32-bit).
inline V Gather32(const uint8_t* base, V offsets) {
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(base), offsets, 1);
}
// Bytes packed from 32-bit lanes by PackU32 then PackU16 of four vectors come
// out block by block; this puts them back in lane order.
inline V PackedInOrder(V packed) {
  return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}
// Words packed by PackU32 of two vectors, back in lane order.
inline V PackedWordsInOrder(V packed) { return _mm256_permute4x64_epi64(packed, 0xD8); }
// The even bytes of a then of b, in order.
inline V EvenBytes(V a, V b) {
  const V low = _mm256_set1_epi16(0xFF);
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(_mm256_and_si256(a, low), _mm256_and_si256(b, low)), 0xD8);
}

inline V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
inline V Sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
inline V CmpEq16(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
inline V CmpEq32(V a, V b) { return _mm256_cmpeq_epi32(a, b); }
inline V MulHi16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
inline V ShiftRight32(V a, int count) { return _mm256_srl_epi32(a, _mm_cvtsi32_si128(count)); }
inline V PackS32(V a, V b) { return _mm256_packs_epi32(a, b); }
inline V PairAdd32(V a, V b) { return _mm256_hadd_epi32(a, b); }
// One bit per byte, per dword.
inline uint32_t ByteMask(V a) { return static_cast<uint32_t>(_mm256_movemask_epi8(a)); }
inline uint32_t DwordMask(V a) { return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(a))); }
// The low 8 bytes of each block, to p and p + stride.
inline void StoreBlocksLow8(uint8_t* p, size_t stride, V v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(v));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p + stride), _mm256_extracti128_si256(v, 1));
}
// Dword `index` of each block, to p and p + stride.
inline void StoreBlocksDword(uint8_t* p, size_t stride, V v, int index) {
  const int32_t first = index == 0 ? _mm256_extract_epi32(v, 0) : _mm256_extract_epi32(v, 1);
  const int32_t second = index == 0 ? _mm256_extract_epi32(v, 4) : _mm256_extract_epi32(v, 5);
  std::memcpy(p, &first, sizeof first);
  std::memcpy(p + stride, &second, sizeof second);
}
// Bytes 0 .. 8 x kBlocks - 1 of `bytes` as words, the first eight in the first
// block.
inline V WidenBytes(__m128i bytes) { return _mm256_cvtepu8_epi16(bytes); }
inline __m128i LoadWidenable(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i LoadHalfWidenable(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Block(V v, int index) { return index == 0 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1); }
inline V FromBlocks(__m128i first, __m128i second) { return SetBlocks(first, second); }

using D4 = __m256d;
inline D4 DSet(double value) { return _mm256_set1_pd(value); }
inline D4 ToDouble(__m128i ints) { return _mm256_cvtepi32_pd(ints); }
inline __m128i Truncate(D4 a) { return _mm256_cvttpd_epi32(a); }
inline D4 DAdd(D4 a, D4 b) { return _mm256_add_pd(a, b); }
inline D4 DSub(D4 a, D4 b) { return _mm256_sub_pd(a, b); }
inline D4 DMul(D4 a, D4 b) { return _mm256_mul_pd(a, b); }
// {a0 + a1, a2 + a3, b0 + b1, b2 + b3}: the sums of neighbouring lanes.
inline D4 PairSums(D4 a, D4 b) { return _mm256_permute4x64_pd(_mm256_hadd_pd(a, b), 0xD8); }
// {a0, a2, b0, b2}: the even lanes.
inline D4 EvenLanes(D4 a, D4 b) { return _mm256_permute4x64_pd(_mm256_unpacklo_pd(a, b), 0xD8); }

#else  // 128-bit

using V = __m128i;
inline constexpr int kBlocks = 1;

inline V Zero() { return _mm_setzero_si128(); }
inline V Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void Store(void* p, V v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
inline V LoadBlocks(const uint8_t* p, size_t) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void StoreBlocks(uint8_t* p, size_t, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline V LoadBlockPair(const uint8_t* first, const uint8_t*) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
}
inline V SetBlock(__m128i block) { return block; }
inline V SetBlocks(__m128i first, __m128i) { return first; }
inline V Set8(int value) { return _mm_set1_epi8(static_cast<char>(value)); }
inline V Set16(int value) { return _mm_set1_epi16(static_cast<short>(value)); }
inline V Set32(int value) { return _mm_set1_epi32(value); }
inline V Add16(V a, V b) { return _mm_add_epi16(a, b); }
inline V Add32(V a, V b) { return _mm_add_epi32(a, b); }
inline V Sub8(V a, V b) { return _mm_sub_epi8(a, b); }
inline V And(V a, V b) { return _mm_and_si128(a, b); }
inline V Or(V a, V b) { return _mm_or_si128(a, b); }
inline V Xor(V a, V b) { return _mm_xor_si128(a, b); }
inline V Max8u(V a, V b) { return _mm_max_epu8(a, b); }
inline V Min8u(V a, V b) { return _mm_min_epu8(a, b); }
inline V CmpEq8(V a, V b) { return _mm_cmpeq_epi8(a, b); }
inline V UnpackLo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
inline V UnpackHi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
inline V Shuffle8(V table, V index) { return _mm_shuffle_epi8(table, index); }
inline V MulLo16(V a, V b) { return _mm_mullo_epi16(a, b); }
inline V MulLo32(V a, V b) { return _mm_mullo_epi32(a, b); }
inline V MulEven32(V a, V b) { return _mm_mul_epu32(a, b); }
inline V MaddUbs(V unsignedBytes, V signedBytes) { return _mm_maddubs_epi16(unsignedBytes, signedBytes); }
inline V Madd16(V a, V b) { return _mm_madd_epi16(a, b); }
inline V ShiftRight16(V a, int count) { return _mm_srl_epi16(a, _mm_cvtsi32_si128(count)); }
inline V ShiftRightA16(V a, int count) { return _mm_sra_epi16(a, _mm_cvtsi32_si128(count)); }
inline V ShiftRight64(V a, int count) { return _mm_srl_epi64(a, _mm_cvtsi32_si128(count)); }
inline V PackS16(V a, V b) { return _mm_packs_epi16(a, b); }
inline V PackU16(V a, V b) { return _mm_packus_epi16(a, b); }
inline V PackU32(V a, V b) { return _mm_packus_epi32(a, b); }
inline V BlendBytes(V a, V b, V mask) { return _mm_blendv_epi8(a, b, mask); }
inline V BlendOddDwords(V even, V odd) { return _mm_blend_epi16(even, odd, 0xCC); }
inline bool AllZero(V a) { return _mm_testz_si128(a, a) != 0; }
inline bool AllOnes(V a) { return _mm_testc_si128(a, _mm_set1_epi32(-1)) != 0; }
inline V Gather32(const uint8_t* base, V offsets) {
  alignas(16) int32_t at[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(at), offsets);
  uint32_t value[4];
  for (int k = 0; k < 4; ++k) std::memcpy(&value[k], base + at[k], sizeof(uint32_t));
  return _mm_setr_epi32(static_cast<int>(value[0]), static_cast<int>(value[1]), static_cast<int>(value[2]),
                        static_cast<int>(value[3]));
}
inline V PackedInOrder(V packed) { return packed; }
inline V PackedWordsInOrder(V packed) { return packed; }
inline V EvenBytes(V a, V b) {
  const V low = _mm_set1_epi16(0xFF);
  return _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low));
}

inline V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
inline V Sub32(V a, V b) { return _mm_sub_epi32(a, b); }
inline V CmpEq16(V a, V b) { return _mm_cmpeq_epi16(a, b); }
inline V CmpEq32(V a, V b) { return _mm_cmpeq_epi32(a, b); }
inline V MulHi16(V a, V b) { return _mm_mulhi_epu16(a, b); }
inline V ShiftRight32(V a, int count) { return _mm_srl_epi32(a, _mm_cvtsi32_si128(count)); }
inline V PackS32(V a, V b) { return _mm_packs_epi32(a, b); }
inline V PairAdd32(V a, V b) { return _mm_hadd_epi32(a, b); }
inline uint32_t ByteMask(V a) { return static_cast<uint32_t>(_mm_movemask_epi8(a)); }
inline uint32_t DwordMask(V a) { return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(a))); }
inline void StoreBlocksLow8(uint8_t* p, size_t, V v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }
inline void StoreBlocksDword(uint8_t* p, size_t, V v, int index) {
  const int32_t value = index == 0 ? _mm_cvtsi128_si32(v) : _mm_extract_epi32(v, 1);
  std::memcpy(p, &value, sizeof value);
}
inline V WidenBytes(__m128i bytes) { return _mm_cvtepu8_epi16(bytes); }
inline __m128i LoadWidenable(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline __m128i LoadHalfWidenable(const uint8_t* p) {
  int32_t value;
  std::memcpy(&value, p, sizeof value);
  return _mm_cvtsi32_si128(value);
}
inline __m128i Block(V v, int) { return v; }
inline V FromBlocks(__m128i first, __m128i) { return first; }

struct D4 {
  __m128d low, high;
};
inline D4 DSet(double value) { return D4{_mm_set1_pd(value), _mm_set1_pd(value)}; }
inline D4 ToDouble(__m128i ints) { return D4{_mm_cvtepi32_pd(ints), _mm_cvtepi32_pd(_mm_unpackhi_epi64(ints, ints))}; }
inline __m128i Truncate(D4 a) { return _mm_unpacklo_epi64(_mm_cvttpd_epi32(a.low), _mm_cvttpd_epi32(a.high)); }
inline D4 DAdd(D4 a, D4 b) { return D4{_mm_add_pd(a.low, b.low), _mm_add_pd(a.high, b.high)}; }
inline D4 DSub(D4 a, D4 b) { return D4{_mm_sub_pd(a.low, b.low), _mm_sub_pd(a.high, b.high)}; }
inline D4 DMul(D4 a, D4 b) { return D4{_mm_mul_pd(a.low, b.low), _mm_mul_pd(a.high, b.high)}; }
inline D4 PairSums(D4 a, D4 b) { return D4{_mm_hadd_pd(a.low, a.high), _mm_hadd_pd(b.low, b.high)}; }
inline D4 EvenLanes(D4 a, D4 b) { return D4{_mm_unpacklo_pd(a.low, a.high), _mm_unpacklo_pd(b.low, b.high)}; }

#endif

// Pixels handled by one vector of per-pixel weights: 16 per block.
inline constexpr int kPixelsPerBlock = 16;
inline constexpr int kVectorPixels = kPixelsPerBlock * kBlocks;
inline constexpr int kVectorDwords = 4 * kBlocks;
inline constexpr int kVectorWords = 8 * kBlocks;
