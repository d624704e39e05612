// How the program takes big blocks from the system: after the start-up call, a block of a
// megabyte or more is mapped on its own even after a bigger one was freed, which the C
// library would otherwise take as a reason to keep such blocks in its heap from then on.

#include "core/system/ProcessMemory.h"

#include <QTest>

#include <cstdlib>
#include <cstring>

#ifdef __GLIBC__
#include <malloc.h>
#endif

// Under AddressSanitizer its own allocator serves the blocks, and the C library's bound does not apply.
#if defined(__SANITIZE_ADDRESS__)
#define BORVANE_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BORVANE_OWN_ALLOCATOR 1
#endif
#endif

class TestProcessMemory : public QObject
{
    Q_OBJECT

private slots:
    void bigBlocksStayMapped();
};

void TestProcessMemory::bigBlocksStayMapped()
{
#if !defined(__GLIBC__)
    QSKIP("The bound is set for the GNU C library only.");
#elif defined(BORVANE_OWN_ALLOCATOR)
    QSKIP("AddressSanitizer's allocator serves the blocks.");
#else
    ProcessMemory::returnLargeBlocksAtOnce();
    // Left alone, the library raises its bound to the size of a mapped block when that is freed.
    void* volatile bigger = std::malloc(8 * 1024 * 1024);
    QVERIFY(bigger);
    std::memset(bigger, 1, 4096);
    std::free(bigger);

    const std::size_t mappedBefore = mallinfo2().hblks;
    void* volatile piece = std::malloc(1024 * 1024 + 64); // a read piece and its header
    QVERIFY(piece);
    std::memset(piece, 1, 4096);
    const std::size_t mappedWith = mallinfo2().hblks;
    std::free(piece);
    QCOMPARE(mappedWith, mappedBefore + 1);
    QCOMPARE(std::size_t(mallinfo2().hblks), mappedBefore);
#endif
}

QTEST_APPLESS_MAIN(TestProcessMemory)
#include "tst_processmemory.moc"
