#include <mimepart.h>

#include <QTest>

// Expected byte images are written from the record layout by hand: a string
// is a 32-bit big-endian length counting a trailing NUL, the bytes, the NUL;
// a number is a 32-bit big-endian signed integer.

class tst_MimePart : public QObject
{
    Q_OBJECT
private slots:
    void defaults();
    void copyResetsVersion();
    void description_data();
    void description();
    void unsupportedDescriptionVersion();
    void streamOut_data();
    void streamOut();
    void streamIn_data();
    void streamIn();
    void streamInUnsupportedVersion();
    void streamInTruncated();
};

static QByteArray written(const MimePart& p)
{
    QByteArray out;
    QDataStream ds(&out, QIODevice::WriteOnly);
    ds.setVersion(QDataStream::Qt_3_3);
    ds << p;
    return out;
}

static QString describe(const MimePart& p)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
        .arg(QString::fromLatin1(p.type), QString::fromLatin1(p.mimetype),
             QString::fromLatin1(p.encoding), QString::number(p.offset), QString::number(p.length),
             QString::fromLatin1(p.charset), QString::fromLatin1(p.cid),
             QString::fromLatin1(p.name), QString::fromLatin1(p.version));
}

void tst_MimePart::defaults()
{
    MimePart p;
    QCOMPARE(describe(p), QStringLiteral("attachment|text/plain|8bit|0|0|us-ascii|||1"));
    for (const QCString* s : { &p.name, &p.cid, &p.embeddedPath })
        QVERIFY(!s->isNull());
}

void tst_MimePart::copyResetsVersion()
{
    MimePart p;
    p.version = "7";
    p.embeddedPath = "/x";
    p.offset = 3;
    MimePart c(p);
    QCOMPARE(c.version, QCString("1"));
    QCOMPARE(c.embeddedPath, QCString("/x"));
    QCOMPARE(c.offset, 3);
}

void tst_MimePart::description_data()
{
    QTest::addColumn<QCString>("line");
    QTest::addColumn<QString>("expected");  // type|mime|enc|off|len|charset|cid|name|version

    QTest::newRow("V 1 pdf") << QCString("V 1 attachment application/pdf base64 120 3456 us-ascii unknown eC5wZGYA")
                             << QStringLiteral("attachment|application/pdf|base64|120|3456|us-ascii|unknown|x.pdf|1");
    QTest::newRow("V 1 empty name") << QCString("V 1 text text/plain 8bit 0 6 us-ascii unknown AA==")
                                    << QStringLiteral("text|text/plain|8bit|0|6|us-ascii|unknown||1");
    QTest::newRow("V 1 name with blank") << QCString("  V 1 related image/gif 7bit 1 2 utf-8 c1 bXkgZmlsZS50eHQA")
                                         << QStringLiteral("related|image/gif|7bit|1|2|utf-8|c1|my file.txt|1");
    QTest::newRow("V1 glued") << QCString("V1 digest message/rfc822 8bit 5 6 a b AA==")
                              << QStringLiteral("digest|message/rfc822|8bit|5|6|a|b||1");
    QTest::newRow("T rest is charset") << QCString("T text/html quoted-printable 10 20   iso-8859-1 x")
                                       << QStringLiteral("text|text/html|quoted-printable|10|20|iso-8859-1 x|||1");
    QTest::newRow("A") << QCString("A application/zip base64 9 10 eC5wZGYA")
                       << QStringLiteral("attachment|application/zip|base64|9|10|us-ascii||x.pdf|1");
    QTest::newRow("R rest is name") << QCString("R image/png img1 base64 7 8 a.png")
                                    << QStringLiteral("related|image/png|base64|7|8|us-ascii|img1| a.png|1");
    QTest::newRow("D") << QCString("D 10 20") << QStringLiteral("digest|text/plain|8bit|10|20|us-ascii|||1");
    QTest::newRow("negative and junk numbers") << QCString("D -4 x")
                                               << QStringLiteral("digest|text/plain|8bit|-4|0|us-ascii|||1");
    QTest::newRow("huge number saturates") << QCString("D 99999999999999999999 1")
                                           << QStringLiteral("digest|text/plain|8bit|2147483647|1|us-ascii|||1");
    QTest::newRow("other letter") << QCString("X 1 2") << QStringLiteral("unknown|text/plain|8bit|0|0|us-ascii|||1");
    QTest::newRow("empty") << QCString("") << QStringLiteral("unknown|text/plain|8bit|0|0|us-ascii|||1");
    QTest::newRow("null") << QCString() << QStringLiteral("unknown|text/plain|8bit|0|0|us-ascii|||1");
    QTest::newRow("V truncated") << QCString("V 1 text")
                                 << QStringLiteral("text|||0|0||||1");
}

void tst_MimePart::description()
{
    QFETCH(QCString, line);
    QFETCH(QString, expected);
    QCOMPARE(describe(MimePart(line)), expected);
}

void tst_MimePart::unsupportedDescriptionVersion()
{
    QTest::ignoreMessage(QtDebugMsg, "Unsupported part version.");
    MimePart p(QCString("V 2 text text/html 7bit 1 2 utf-8 c AA=="));
    QCOMPARE(describe(p), QStringLiteral("attachment|text/plain|8bit|0|0|us-ascii|||2"));
}

void tst_MimePart::streamOut_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("default") << QString() << QByteArray(
        "000000023100"                      // version "1"
        "0000000b6174746163686d656e7400"    // "attachment"
        "0000000b746578742f706c61696e00"    // "text/plain"
        "000000053862697400"                // "8bit"
        "00000000"                          // offset 0
        "00000000"                          // length 0
        "0000000975732d617363696900"        // "us-ascii"
        "0000000100"                        // cid ""
        "0000000100");                      // name ""
    QTest::newRow("pdf") << QStringLiteral("V 1 attachment application/pdf base64 120 3456 us-ascii unknown eC5wZGYA")
                         << QByteArray(
        "000000023100"
        "0000000b6174746163686d656e7400"
        "000000106170706c69636174696f6e2f70646600"  // "application/pdf"
        "0000000762617365363400"                    // "base64"
        "00000078"                                  // 120
        "00000d80"                                  // 3456
        "0000000975732d617363696900"
        "00000008756e6b6e6f776e00"                  // "unknown"
        "00000006782e70646600");                    // "x.pdf"
    QTest::newRow("extremes") << QStringLiteral("V 1 text text/html quoted-printable -1 2147483647 utf-8 c@d YSBiAA==")
                              << QByteArray(
        "000000023100"
        "000000057465787400"                        // "text"
        "0000000a746578742f68746d6c00"              // "text/html"
        "0000001171756f7465642d7072696e7461626c6500"
        "ffffffff"                                  // -1
        "7fffffff"                                  // 2147483647
        "000000067574662d3800"                      // "utf-8"
        "0000000463406400"                          // "c@d"
        "0000000461206200");                        // "a b"
}

void tst_MimePart::streamOut()
{
    QFETCH(QString, line);
    QFETCH(QByteArray, hex);
    MimePart p = line.isNull() ? MimePart() : MimePart(QCString(line.toLatin1()));
    p.version = "9";           // the writer always writes "1"
    p.embeddedPath = "/never";  // and never the path
    QCOMPARE(written(p).toHex(), hex);
}

void tst_MimePart::streamIn_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QString>("expected");  // type|mime|enc|off|len|charset|cid|name|version
    QTest::addColumn<QCString>("embeddedPath");

    QTest::newRow("current layout") << QByteArray(
        "000000023100" "0000000b6174746163686d656e7400" "000000106170706c69636174696f6e2f70646600"
        "0000000762617365363400" "00000078" "00000d80" "0000000975732d617363696900"
        "00000008756e6b6e6f776e00" "00000006782e70646600")
        << QStringLiteral("attachment|application/pdf|base64|120|3456|us-ascii|unknown|x.pdf|1")
        << QCString("keep");
    QTest::newRow("text layout") << QByteArray(
        "000000057465787400" "0000000b746578742f706c61696e00" "000000053762697400" "00000005"
        "00000006" "0000000b69736f2d383835392d3100")
        << QStringLiteral("text|text/plain|7bit|5|6|iso-8859-1|||7") << QCString("keep");
    QTest::newRow("related layout") << QByteArray(
        "0000000872656c6174656400" "0000000a696d6167652f706e6700" "00000005696d673100"
        "0000000762617365363400" "00000007" "00000008" "00000006612e706e6700" "000000072f746d702f7000")
        << QStringLiteral("related|image/png|base64|7|8|us-ascii|img1|a.png|7") << QCString("/tmp/p");
    QTest::newRow("attachment layout") << QByteArray(
        "0000000b6174746163686d656e7400" "000000106170706c69636174696f6e2f7a697000"
        "0000000762617365363400" "00000009" "0000000a" "000000067a2e7a697000" "0000000100")
        << QStringLiteral("attachment|application/zip|base64|9|10|us-ascii||z.zip|7") << QCString("");
    QTest::newRow("digest layout") << QByteArray("0000000764696765737400" "0000000b" "0000000c" "0000000100")
        << QStringLiteral("digest|text/plain|8bit|11|12|us-ascii|||7") << QCString("");
}

void tst_MimePart::streamIn()
{
    QFETCH(QByteArray, hex);
    QFETCH(QString, expected);
    QFETCH(QCString, embeddedPath);
    QByteArray bytes = QByteArray::fromHex(hex);
    QDataStream ds(bytes);
    ds.setVersion(QDataStream::Qt_3_3);
    MimePart p;
    p.version = "7";  // the older layouts leave it alone
    p.embeddedPath = "keep";
    ds >> p;
    QCOMPARE(ds.status(), QDataStream::Ok);
    QVERIFY(ds.atEnd());
    QCOMPARE(describe(p), expected);
    QCOMPARE(p.embeddedPath, embeddedPath);
}

void tst_MimePart::streamInUnsupportedVersion()
{
    QByteArray bytes = QByteArray::fromHex("000000023200" "000000057465787400");
    QDataStream ds(bytes);
    ds.setVersion(QDataStream::Qt_3_3);
    MimePart p;
    QTest::ignoreMessage(QtDebugMsg, "Unsupported part version: 2.");
    ds >> p;
    QCOMPARE(p.type, QCString("unknown"));
    QCOMPARE(p.version, QCString("2"));
    QCOMPARE(p.mimetype, QCString("text/plain"));
    QVERIFY(!ds.atEnd());  // the rest of the record is left unread
}

void tst_MimePart::streamInTruncated()
{
    // A hostile length word must neither crash nor allocate what it claims.
    QByteArray bytes = QByteArray::fromHex("000000023100" "000000057465787400" "7ffffff0616263");
    QDataStream ds(bytes);
    ds.setVersion(QDataStream::Qt_3_3);
    MimePart p;
    ds >> p;
    QVERIFY(ds.status() != QDataStream::Ok);
}

QTEST_APPLESS_MAIN(tst_MimePart)
#include "tst_mimepart.moc"
