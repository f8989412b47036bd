// The folded CRC-64 against the table-driven one: every length up to 4 KiB
// from aligned and misaligned starts, long odd lengths, continuation from an
// earlier value, and random cuts of one buffer.
#include "Crc64.h"

#include <QTest>

#include <random>
#include <vector>

using namespace AlibabaCloud::OSS;

namespace {

std::vector<unsigned char> randomBytes(size_t size, unsigned seed)
{
    std::mt19937_64 random(seed);
    std::vector<unsigned char> bytes(size);
    for (unsigned char& b : bytes)
        b = static_cast<unsigned char>(random());
    return bytes;
}

uint64_t byTable(uint64_t previous, const unsigned char* data, size_t length)
{
    Crc64 crc(previous);
    crc.updateByTable(data, length);
    return crc.value();
}

} // namespace

class TestCrc64 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void foldingMatchesTables_data();
    void foldingMatchesTables();
    void randomCutsMatchOneTablePass_data();
    void randomCutsMatchOneTablePass();
};

void TestCrc64::init()
{
    if (!Crc64::hasFolding())
        QSKIP("this processor has no carry-less multiplication: update() always takes the tables");
}

void TestCrc64::foldingMatchesTables_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("shortest");
    QTest::addColumn<int>("longest");
    QTest::addColumn<int>("step");
    QTest::addColumn<quint64>("previous");

    QTest::newRow("every length to 4096, aligned") << 0 << 0 << 4096 << 1 << quint64(0);
    QTest::newRow("every length to 4096, one byte in") << 1 << 0 << 4096 << 1 << quint64(0);
    QTest::newRow("every length to 4096, eight bytes in, continued")
        << 8 << 0 << 4096 << 1 << quint64(0x0123456789ABCDEFULL);
    QTest::newRow("every length to 4096, fifteen bytes in, continued")
        << 15 << 0 << 4096 << 1 << quint64(0xFFFFFFFFFFFFFFFFULL);
    QTest::newRow("odd lengths to 1 MiB, three bytes in") << 3 << 4097 << (1 << 20) << 65521 << quint64(0);
    QTest::newRow("odd lengths to 1 MiB, continued")
        << 0 << 5000 << (1 << 20) << 99991 << quint64(0x995DC9BBDF1939FAULL);
}

void TestCrc64::foldingMatchesTables()
{
    QFETCH(int, start);
    QFETCH(int, shortest);
    QFETCH(int, longest);
    QFETCH(int, step);
    QFETCH(quint64, previous);

    const std::vector<unsigned char> bytes = randomBytes(size_t(start + longest), 1);
    for (int length = shortest; length <= longest; length += step) {
        Crc64 folded(previous);
        folded.updateByFolding(bytes.data() + start, size_t(length));
        const uint64_t expected = byTable(previous, bytes.data() + start, size_t(length));
        if (folded.value() != expected)
            QFAIL(qPrintable(QString("length %1: folded %2, tables %3")
                                 .arg(length)
                                 .arg(folded.value(), 16, 16, QLatin1Char('0'))
                                 .arg(expected, 16, 16, QLatin1Char('0'))));
    }
}

void TestCrc64::randomCutsMatchOneTablePass_data()
{
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<int>("longestCut");

    // Cuts around the point where update() changes from tables to folding,
    // and cuts of many kilobytes.
    QTest::newRow("cuts up to 600 bytes") << 2u << 600;
    QTest::newRow("cuts up to 5000 bytes") << 3u << 5000;
    QTest::newRow("cuts up to 200 KiB") << 4u << 200 * 1024;
}

void TestCrc64::randomCutsMatchOneTablePass()
{
    QFETCH(unsigned, seed);
    QFETCH(int, longestCut);

    const std::vector<unsigned char> bytes = randomBytes((1 << 21) + 7, seed);
    const uint64_t expected = byTable(0, bytes.data(), bytes.size());
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> cutLength(0, longestCut);

    // Every other cut goes on in a fresh object from the value so far, as a
    // caller that keeps only the number does.
    Crc64 crc;
    size_t offset = 0;
    for (int cut = 0; offset < bytes.size(); ++cut) {
        const size_t length = std::min(bytes.size() - offset, size_t(cutLength(random)));
        if (cut % 2)
            crc = Crc64(crc.value());
        crc.update(bytes.data() + offset, length);
        offset += length;
    }
    QCOMPARE(crc.value(), expected);
}

QTEST_APPLESS_MAIN(TestCrc64)
#include "tst_Crc64.moc"
