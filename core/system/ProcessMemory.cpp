#include "core/system/ProcessMemory.h"

#include <cstdlib> // defines __GLIBC__ where it is the C library

#ifdef __GLIBC__
#include <malloc.h>
#endif

void ProcessMemory::returnLargeBlocksAtOnce()
{
#ifdef __GLIBC__
    constexpr int kLargeBlock = 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kLargeBlock);
#endif
}
