#include <qcstring.h>

#include <QBuffer>
#include <QTest>

class tst_QCString : public QObject
{
    Q_OBJECT
private slots:
    void nullAndEmpty();
    void streamOut_data();
    void streamOut();
    void streamIn_data();
    void streamIn();
    void hostileLength();
    void classicByteArray_data();
    void classicByteArray();
};

static QByteArray streamed(const QCString& s)
{
    QByteArray out;
    QDataStream ds(&out, QIODevice::WriteOnly);
    ds.setVersion(QDataStream::Qt_3_3);
    ds << s;
    return out;
}

void tst_QCString::nullAndEmpty()
{
    QVERIFY(QCString().isNull());
    QVERIFY(QCString(static_cast<const char*>(nullptr)).isNull());
    QVERIFY(!QCString("").isNull());
    QVERIFY(QCString("").isEmpty());
    QCOMPARE(QCString(QByteArray("a\0b", 3)).cLength(), qsizetype(1));
    QCOMPARE(QCString("abc").withTerminator(), QByteArray("abc\0", 4));
}

void tst_QCString::streamOut_data()
{
    QTest::addColumn<QCString>("value");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("null") << QCString() << QByteArray("00000000");
    QTest::newRow("empty") << QCString("") << QByteArray("0000000100");
    QTest::newRow("text") << QCString("abc") << QByteArray("0000000461626300");
    QTest::newRow("embedded zero") << QCString(QByteArray("a\0b", 3)) << QByteArray("000000046100620" "0");
}

void tst_QCString::streamOut()
{
    QFETCH(QCString, value);
    QFETCH(QByteArray, hex);
    QCOMPARE(streamed(value).toHex(), hex);
}

void tst_QCString::streamIn_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QCString>("expected");
    QTest::addColumn<bool>("ok");
    QTest::newRow("null") << QByteArray("00000000") << QCString() << true;
    QTest::newRow("empty") << QByteArray("0000000100") << QCString("") << true;
    QTest::newRow("text") << QByteArray("0000000461626300") << QCString("abc") << true;
    // Reading stops at the first NUL but consumes the whole record.
    QTest::newRow("embedded zero") << QByteArray("0000000461006200") << QCString("a") << true;
    QTest::newRow("short") << QByteArray("000000046162") << QCString() << false;
    QTest::newRow("no length") << QByteArray("0000") << QCString() << false;
}

void tst_QCString::streamIn()
{
    QFETCH(QByteArray, hex);
    QFETCH(QCString, expected);
    QFETCH(bool, ok);
    const QByteArray raw = QByteArray::fromHex(hex);
    QDataStream ds(raw);
    ds.setVersion(QDataStream::Qt_3_3);
    QCString s("junk");
    ds >> s;
    QCOMPARE(ds.status() == QDataStream::Ok, ok);
    QCOMPARE(s.isNull(), expected.isNull());
    QCOMPARE(s, expected);
    if (ok)
        QVERIFY(ds.atEnd());
}

void tst_QCString::hostileLength()
{
    // A length of 2^31 over a stream of a few bytes must neither crash nor
    // allocate gigabytes.
    const QByteArray raw = QByteArray::fromHex("80000000616263");
    QDataStream ds(raw);
    ds.setVersion(QDataStream::Qt_3_3);
    QCString s;
    ds >> s;
    QCOMPARE(ds.status(), QDataStream::ReadPastEnd);
    QVERIFY(s.isNull());

    QDataStream ds2(raw);
    const QByteArray b = Orvane::readBytesClassic(ds2);
    QCOMPARE(ds2.status(), QDataStream::ReadPastEnd);
    QVERIFY(b.size() <= 3);
}

void tst_QCString::classicByteArray_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("null") << QByteArray() << QByteArray("00000000");
    QTest::newRow("empty") << QByteArray("") << QByteArray("00000000");
    QTest::newRow("bytes") << QByteArray("a\0b", 3) << QByteArray("00000003610062");
}

void tst_QCString::classicByteArray()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, hex);
    QByteArray out;
    {
        QDataStream ds(&out, QIODevice::WriteOnly);
        Orvane::writeBytesClassic(ds, value);
    }
    QCOMPARE(out.toHex(), hex);
    QDataStream in(out);
    QCOMPARE(Orvane::readBytesClassic(in), value.isEmpty() ? QByteArray() : value);
    QCOMPARE(in.status(), QDataStream::Ok);
}

QTEST_APPLESS_MAIN(tst_QCString)
#include "tst_qcstring.moc"
