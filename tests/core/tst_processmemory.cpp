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

class TestProcessMemory : public QObject
{
    Q_OBJECT

private slots:
    void bigBlocksStayMapped();
};

void TestProcessMemory::bigBlocksStayMapped()
{
#ifndef __GLIBC__
    QSKIP("The bound is set for the GNU C library only.");
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
