#include "app/memoryrelease.h"
#include "platform/platform.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

// Memory handed back after a page change must never cost data: only pages that
// hold nothing of ours may go, and one run through several pages releases once.
class MemoryReleaseTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mappedFilesKeepTheirContent_data();
    void mappedFilesKeepTheirContent();
    void quickPageChangesReleaseOnce_data();
    void quickPageChangesReleaseOnce();
};

void MemoryReleaseTest::mappedFilesKeepTheirContent_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("writable");

    QTest::newRow("read-only font") << "Sans.ttf" << false;
    QTest::newRow("read-only font collection, upper-case suffix") << "CJK.TTC" << false;
    QTest::newRow("changed private copy of a font") << "Changed.otf" << true;
    QTest::newRow("changed private copy of another file") << "data.bin" << true;
}

void MemoryReleaseTest::mappedFilesKeepTheirContent()
{
    QFETCH(QString, fileName);
    QFETCH(bool, writable);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const long page = sysconf(_SC_PAGESIZE);
    const qsizetype size = 4 * page;
    QByteArray content(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        content[i] = char('a' + i % 26);
    QFile file(dir.filePath(fileName));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.write(content), size);
    QVERIFY(file.flush());

    const int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    void *mapped = mmap(nullptr, size_t(size), protection, MAP_PRIVATE, file.handle(), 0);
    QVERIFY(mapped != MAP_FAILED);
    auto *bytes = static_cast<char *>(mapped);
    QByteArray expected = content;
    if (writable) {
        // A change only this process holds: dropping its page would lose it.
        std::memcpy(bytes + page, "changed", 7);
        std::memcpy(expected.data() + page, "changed", 7);
    }
    QCOMPARE(QByteArray(bytes, size), expected);

    Platform::releaseUnusedMemory();

    QCOMPARE(QByteArray(bytes, size), expected);
    munmap(mapped, size_t(size));
}

void MemoryReleaseTest::quickPageChangesReleaseOnce_data()
{
    QTest::addColumn<int>("schedules");
    QTest::addColumn<int>("gapMs");

    QTest::newRow("one page change") << 1 << 0;
    QTest::newRow("a quick run through five pages") << 5 << 100;
}

void MemoryReleaseTest::quickPageChangesReleaseOnce()
{
    QFETCH(int, schedules);
    QFETCH(int, gapMs);
    MemoryRelease release(nullptr, nullptr);
    for (int i = 0; i < schedules; ++i) {
        release.schedule();
        QTest::qWait(gapMs);
    }
    QCOMPARE(release.releaseCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(release.releaseCount(), 1, MemoryRelease::kSettleMs * 4);
    QTest::qWait(MemoryRelease::kSettleMs + 200);
    QCOMPARE(release.releaseCount(), 1);
}

QTEST_MAIN(MemoryReleaseTest)
#include "tst_memoryrelease.moc"
