// Controls of the testing backend: fault injection and accounting for the
// heap and the file services. Only test programs link this backend.
//
// The namespace is tiko::counting: one named tiko::testing would hide
// GoogleTest's ::testing in every test written inside namespace tiko.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tiko::counting {

// Heap. Allocations are numbered from 1 after each ResetHeap().
void ResetHeap();
// Makes allocation number `n` fail; with `forever`, every later one fails too.
// n = 0 switches injection off.
void FailAllocation(uint64_t n, bool forever = false);
uint64_t AllocationCount();  // allocations asked for since ResetHeap()
int64_t LiveBlocks();        // blocks allocated and not yet released
uint64_t FailedAllocations();
// Bytes of the largest single allocation asked for since ResetHeap(), failed
// ones included: what a hostile file managed to make the player ask for.
uint64_t LargestAllocation();

// Files. Reads are numbered from 1 after each ResetFiles().
enum class ReadFault { kNone, kFail, kShort };
void ResetFiles();
// Makes read number `n` fail or come back one byte short (a read of 0 bytes
// cannot be short and succeeds).
void FailRead(uint64_t n, ReadFault fault);
uint64_t ReadCount();
int64_t OpenFiles();  // files opened and not yet closed

// Sound: every wave file asked for, in order (also passed on to the sound
// window, when one is named).
void ResetSounds();
const std::vector<std::u16string>& PlayedWaves();

// Drawing: faults on request, and the draw handles counted.
void ResetDrawing();
void FailDrawOpen(bool fail);   // DrawOpen gives null while set
void FailDrawBegin(bool fail);  // DrawBegin fails while set
int64_t OpenDrawHandles();      // draw handles opened and not yet closed

// A trace of the services called, in order, while tracing is on:
// "draw-open", "draw-begin", "draw-frame", "draw-close", "canvas-acquire",
// "canvas-release", "window-rect", "bitmap-copy", "bitmap-delete",
// "file-open", "file-close", "alloc#N:BYTES" (N numbered as FailAllocation
// counts) and "free#N" ("free#?" for a block allocated before the trace).
// StartTrace clears the events; the blocks allocated while tracing stay known
// until StopTrace.
void StartTrace();
void StopTrace();
const std::vector<std::string>& TraceEvents();

}  // namespace tiko::counting
