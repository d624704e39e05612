#include "core/system/ProcessMemory.h"

#include <cstdio>
#include <cstdlib> // defines __GLIBC__ where it is the C library
#include <cstring>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#ifdef __linux__
#include <sys/mman.h>

#include <cstdint>
#endif

void ProcessMemory::returnLargeBlocksAtOnce()
{
#ifdef __GLIBC__
    constexpr int kLargeBlock = 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kLargeBlock);
#endif
}

void ProcessMemory::preferLargePages(void* data, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kLargePage = 2 * 1024 * 1024;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (start + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t end = (start + bytes) & ~(kLargePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE); // a hint: failure is no fault
#else
    (void)data;
    (void)bytes;
#endif
}

long long ProcessMemory::availableBytes()
{
#ifdef __linux__
    std::FILE* info = std::fopen("/proc/meminfo", "r");
    if (!info)
        return -1;
    char line[256];
    long long bytes = -1;
    while (std::fgets(line, sizeof line, info)) {
        long long kilobytes = 0;
        if (std::strncmp(line, "MemAvailable:", 13) == 0 && std::sscanf(line + 13, "%lld", &kilobytes) == 1) {
            bytes = kilobytes * 1024;
            break;
        }
    }
    std::fclose(info);
    return bytes;
#else
    return -1;
#endif
}
