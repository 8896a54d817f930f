// What a kernel body (a *_x86.inc file) sees when it is opened on its own, as
// an editor or a code indexer does, instead of through simd_x86_targets.inc:
// the 128-bit operations and the names of namespace tiko, so that the body
// reads without false errors. Each body includes this, with the headers its
// kernel file includes, only while TIKO_X86_AVX2 is undefined, which it never
// is in a build: the build always comes through simd_x86_targets.inc.
#pragma once

#ifdef TIKO_X86_BODY
#error "a kernel body is compiled through image/simd_x86_targets.inc only"
#endif

#include "image/simd_x86.h"

#if TIKO_SIMD_X86
#define TIKO_X86_AVX2 0
#include "image/simd_x86_ops.h"
#endif

using namespace tiko;  // a body is written inside a namespace of tiko
