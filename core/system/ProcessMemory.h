#pragma once

// How the program takes memory from the system and gives it back.

#include <cstddef>

namespace ProcessMemory {

// A block of a megabyte or more is taken from the system on its own and given back the moment it
// is freed. Left to itself the C library raises that bound (up to 32 MB) once such a block is
// freed, and keeps later freed blocks resident until the top of its heap is free: Scintilla's
// line index, which grows by copying, then leaves its old copies behind on every drop after the
// first (on the 85 MB spiral vase 5 to 12 MB more at the peak, 0.06x to 0.15x the file). Called
// once, at the start, before any big block is taken.
void returnLargeBlocksAtOnce();

// Asks the system to back the whole 2 MB pages within bytes at data with large pages, where it
// offers them on request: a body of 85 MB is then faulted in by some forty faults, not twenty
// thousand, which the batch mode's read spent a tenth of its time on. Call it before the block is
// first written. Nothing happens elsewhere, or when the system declines.
void preferLargePages(void* data, std::size_t bytes);

// The memory the system can still give without swapping, in bytes (Linux's MemAvailable in
// /proc/meminfo); -1 where it cannot be told.
long long availableBytes();

} // namespace ProcessMemory
