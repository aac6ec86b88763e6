#include <qcstring.h>

#include <QTest>

class tst_QCString : public QObject
{
    Q_OBJECT
private slots:
    void stream_data();
    void stream();
    void classicByteArray();
};

void tst_QCString::stream_data()
{
    // A 32-bit big-endian length counting a NUL, the bytes, the NUL; null is a bare zero length.
    QTest::addColumn<QCString>("value"); // expected back, and written unless the row is read only
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<bool>("ok");
    // Null, empty and a hostile length: see the date records in tst_dateclass.
    QTest::newRow("text") << QCString("abc") << QByteArray("0000000461626300") << true;
    // Read only: reading stops at the first NUL but consumes the whole record.
    QTest::newRow("embedded zero") << QCString("a") << QByteArray("0000000461006200") << true;
    QTest::newRow("short") << QCString() << QByteArray("000000046162") << false;
}

void tst_QCString::stream()
{
    QFETCH(QCString, value);
    QFETCH(QByteArray, hex);
    QFETCH(bool, ok);
    if (ok && value != "a") {
        QByteArray out;
        QDataStream ds(&out, QIODevice::WriteOnly);
        ds << value;
        QCOMPARE(out.toHex(), hex);
    }
    QDataStream ds(QByteArray::fromHex(hex));
    QCString s("junk");
    ds >> s;
    QCOMPARE(ds.status() == QDataStream::Ok, ok);
    QVERIFY(s.isNull() == value.isNull() && s == value && (!ok || ds.atEnd()));
}

// A 32-bit length and the bytes, no NUL; empty reads back as null; a hostile length reads what is there.
void tst_QCString::classicByteArray()
{
    QCOMPARE(QCString("abc").withTerminator(), QByteArray("abc\0", 4));
    for (const QByteArray& value : {QByteArray(), QByteArray(""), QByteArray("a\0b", 3)}) {
        QByteArray out;
        QDataStream w(&out, QIODevice::WriteOnly);
        Orvane::writeBytesClassic(w, value);
        QCOMPARE(out.toHex(), value.isEmpty() ? QByteArray("00000000") : QByteArray("00000003610062"));
        QDataStream in(out);
        const QByteArray back = Orvane::readBytesClassic(in);
        QVERIFY(back == value && back.isNull() == value.isEmpty() && in.status() == QDataStream::Ok);
    }
    QDataStream hostile(QByteArray::fromHex("80000000616263"));
    QVERIFY(Orvane::readBytesClassic(hostile).size() <= 3);
    QCOMPARE(hostile.status(), QDataStream::ReadPastEnd);
}

QTEST_APPLESS_MAIN(tst_QCString)
#include "tst_qcstring.moc"
