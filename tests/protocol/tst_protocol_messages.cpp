// Proves the bytes of the two messages sent to the instrument: the version
// request, the data block header fields (block number and count, 7 bits each,
// high part first, cut to 14 bits), the pair encoding of data bytes, the stale
// pairs a short block leaves from the block before it in the reused buffer, the
// F7 at offset 520 and the three zero bytes, the block count of an image size,
// and the device id of each model word. Limits measured: block numbers and
// counts 0..16384, image sizes -5..2^62, pair positions 0 and 255.
#include "device_id.h"
#include "messages.h"

#include <QtTest>

#include <vector>

using Bytes = std::vector<unsigned char>;
Q_DECLARE_METATYPE(Bytes)

class TestProtocolMessages : public QObject
{
    Q_OBJECT

private slots:
    void deviceIdStartsAsSolune();
    void deviceIdForModel_data();
    void deviceIdForModel();
    void versionRequest_data();
    void versionRequest();
    void headerFields_data();
    void headerFields();
    void pairEncoding_data();
    void pairEncoding();
    void closingBytesAndUntouchedPairs();
    void shortSecondBlockKeepsStalePairs();
    void onlyShortBlockStaysSevenBit();
    void blockCountForSize_data();
    void blockCountForSize();
};

void TestProtocolMessages::deviceIdStartsAsSolune()
{
    // Runs first: nothing in this process has set the id yet.
    QCOMPARE(deviceId(), 0x02);
    setDeviceId(kVarnoxDeviceId);
    QCOMPARE(deviceId(), 0x03);
    setDeviceId(kSoluneDeviceId);
}

void TestProtocolMessages::deviceIdForModel_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("id");
    QTest::newRow("Varnox") << "Varnox" << 0x03;
    QTest::newRow("Solune") << "Solune" << 0x02;
    QTest::newRow("lower case") << "varnox" << -1;
    QTest::newRow("upper case") << "SOLUNE" << -1;
    QTest::newRow("trailing space") << "Varnox " << -1;
    QTest::newRow("longer word") << "Varnox2" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestProtocolMessages::deviceIdForModel()
{
    QFETCH(QString, word);
    QFETCH(int, id);
    QCOMPARE(::deviceIdForModel(word.toStdString()), id);
}

void TestProtocolMessages::versionRequest_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<Bytes>("expected");
    QTest::newRow("Varnox") << 0x03 << Bytes{0xF0, 0x03, 0x15, 0xF7};
    QTest::newRow("Solune") << 0x02 << Bytes{0xF0, 0x02, 0x15, 0xF7};
    QTest::newRow("only the low byte") << 0x103 << Bytes{0xF0, 0x03, 0x15, 0xF7};
}

void TestProtocolMessages::versionRequest()
{
    QFETCH(int, id);
    QFETCH(Bytes, expected);
    const auto message = buildVersionRequest(id);
    QCOMPARE(Bytes(message.begin(), message.end()), expected);
}

void TestProtocolMessages::headerFields_data()
{
    QTest::addColumn<unsigned>("number");
    QTest::addColumn<unsigned>("count");
    QTest::addColumn<Bytes>("fields"); // offsets 3..6
    QTest::newRow("200 of 300") << 200u << 300u << Bytes{0x01, 0x48, 0x02, 0x2C};
    QTest::newRow("1 of 1") << 1u << 1u << Bytes{0x00, 0x01, 0x00, 0x01};
    QTest::newRow("127 of 128") << 127u << 128u << Bytes{0x00, 0x7F, 0x01, 0x00};
    QTest::newRow("16383 of 16383") << 16383u << 16383u << Bytes{0x7F, 0x7F, 0x7F, 0x7F};
    QTest::newRow("16384 cut to 14 bits") << 16384u << 16385u << Bytes{0x00, 0x00, 0x00, 0x01};
}

void TestProtocolMessages::headerFields()
{
    QFETCH(unsigned, number);
    QFETCH(unsigned, count);
    QFETCH(Bytes, fields);
    DataBlockBuffer buffer{};
    const unsigned char data[1] = {0x42};
    buildDataBlockMessage(buffer, 0x03, number, count, data, 1);
    QCOMPARE(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{0xF0, 0x03, 0x01}));
    QCOMPARE(Bytes(buffer.begin() + 3, buffer.begin() + 7), fields);
    QCOMPARE(buffer[7], 0x01);
}

void TestProtocolMessages::pairEncoding_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("low");
    QTest::newRow("0xA5") << 0xA5 << 0x01 << 0x25;
    QTest::newRow("0x7F") << 0x7F << 0x00 << 0x7F;
    QTest::newRow("0x80") << 0x80 << 0x01 << 0x00;
    QTest::newRow("0x00") << 0x00 << 0x00 << 0x00;
    QTest::newRow("0xFF") << 0xFF << 0x01 << 0x7F;
    QTest::newRow("0x01") << 0x01 << 0x00 << 0x01;
}

void TestProtocolMessages::pairEncoding()
{
    QFETCH(int, byte);
    QFETCH(int, high);
    QFETCH(int, low);
    // First and last pair position of a full block; the neighbours differ so
    // a pair written one position off would show.
    unsigned char data[256];
    for (int k = 0; k < 256; ++k)
        data[k] = static_cast<unsigned char>(k == 0 || k == 255 ? byte : 0x33);
    DataBlockBuffer buffer{};
    buildDataBlockMessage(buffer, 0x02, 1, 1, data, 256);
    QCOMPARE(int(buffer[8]), high);
    QCOMPARE(int(buffer[9]), low);
    QCOMPARE(int(buffer[10]), 0x00);
    QCOMPARE(int(buffer[11]), 0x33);
    QCOMPARE(int(buffer[518]), high);
    QCOMPARE(int(buffer[519]), low);
    QCOMPARE(int(buffer[516]), 0x00);
    QCOMPARE(int(buffer[517]), 0x33);
    QCOMPARE(int(buffer[520]), 0xF7);
}

void TestProtocolMessages::closingBytesAndUntouchedPairs()
{
    DataBlockBuffer buffer;
    buffer.fill(0xEE);
    const unsigned char data[3] = {0x80, 0x01, 0xFF};
    buildDataBlockMessage(buffer, 0x03, 2, 9, data, 3);
    const Bytes pairs(buffer.begin() + 8, buffer.begin() + 14);
    QCOMPARE(pairs, (Bytes{0x01, 0x00, 0x00, 0x01, 0x01, 0x7F}));
    for (std::size_t i = 14; i < 520; ++i)
        QVERIFY2(buffer[i] == 0xEE, qPrintable(QString("offset %1 was written").arg(i)));
    QCOMPARE(Bytes(buffer.begin() + 520, buffer.end()), (Bytes{0xF7, 0x00, 0x00, 0x00}));
    QCOMPARE(buffer.size(), std::size_t(524));
}

void TestProtocolMessages::shortSecondBlockKeepsStalePairs()
{
    // A 257-byte image: block 1 full, block 2 carries byte 256 only.
    QByteArray image(257, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    const auto *bytes = reinterpret_cast<const unsigned char *>(image.constData());
    QCOMPARE(::blockCountForSize(image.size()), 2u);

    DataBlockBuffer buffer{};
    buildDataBlockMessage(buffer, 0x03, 1, 2, bytes, 256);
    const DataBlockBuffer first = buffer;
    buildDataBlockMessage(buffer, 0x03, 2, 2, bytes + 256, 1);

    QCOMPARE(Bytes(buffer.begin() + 3, buffer.begin() + 7), (Bytes{0x00, 0x02, 0x00, 0x02}));
    QCOMPARE(int(buffer[8]), (bytes[256] >> 7) & 1);
    QCOMPARE(int(buffer[9]), bytes[256] & 0x7F);
    QCOMPARE(Bytes(buffer.begin() + 10, buffer.begin() + 520),
             Bytes(first.begin() + 10, first.begin() + 520));
    QCOMPARE(int(buffer[520]), 0xF7);
    QCOMPARE(Bytes(buffer.begin() + 521, buffer.end()), (Bytes{0, 0, 0}));
}

void TestProtocolMessages::onlyShortBlockStaysSevenBit()
{
    // An upload starts from a zeroed buffer, so an image shorter than one
    // block leaves zeros in the unused pairs and the message stays valid SysEx.
    const unsigned char data[5] = {0xFF, 0xFE, 0x80, 0x81, 0xF7};
    DataBlockBuffer buffer{};
    buildDataBlockMessage(buffer, 0x03, 1, 1, data, 5);
    for (std::size_t i = 1; i < 520; ++i)
        QVERIFY2(buffer[i] < 0x80, qPrintable(QString("offset %1").arg(i)));
    for (std::size_t i = 18; i < 520; ++i)
        QCOMPARE(int(buffer[i]), 0);
}

void TestProtocolMessages::blockCountForSize_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<unsigned>("count");
    QTest::newRow("empty") << qint64(0) << 0u;
    QTest::newRow("negative") << qint64(-5) << 0u;
    QTest::newRow("1 byte") << qint64(1) << 1u;
    QTest::newRow("256") << qint64(256) << 1u;
    QTest::newRow("257") << qint64(257) << 2u;
    QTest::newRow("512") << qint64(512) << 2u;
    QTest::newRow("largest numbered") << kMaxImageSize << 16383u;
    QTest::newRow("one past") << kMaxImageSize + 1 << 16384u;
    QTest::newRow("saturates") << (qint64(1) << 62) << 0xFFFFFFFFu;
}

void TestProtocolMessages::blockCountForSize()
{
    QFETCH(qint64, size);
    QFETCH(unsigned, count);
    QCOMPARE(::blockCountForSize(size), count);
}

QTEST_GUILESS_MAIN(TestProtocolMessages)
#include "tst_protocol_messages.moc"
