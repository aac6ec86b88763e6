#include <md5.h>
#include <mimecodec.h>

#include <QCryptographicHash>
#include <QTest>

static QByteArray md5Hex(const QByteArray& data)
{
    md5_state_t st;
    md5_byte_t digest[16];
    md5_init(&st);
    md5_append(&st, reinterpret_cast<const md5_byte_t*>(data.constData()), int(data.size()));
    md5_finish(&st, digest);
    return QByteArray(reinterpret_cast<const char*>(digest), 16).toHex();
}

// The text a CRAM-MD5 response encodes, with the NUL checked and removed.
static QByteArray cramText(const QByteArray& response)
{
    if (response.isEmpty() || response.back() != '\0')
        return QByteArray("<no NUL>");
    return MIMECodec::decodeBase64(response.chopped(1));
}

class tst_Md5 : public QObject
{
    Q_OBJECT
private slots:
    void rfc1321_data();
    void rfc1321();
    void blockBoundaries_data();
    void blockBoundaries();
    void splitAppends_data();
    void splitAppends();
    void oneByteAtATime();
    void emptyAndNegativeCounts();

    void hmacMd5_data();
    void hmacMd5();
    void cramMd5Rfc2195();
    void cramMd5LongPassword();
    void cramMd5Format_data();
    void cramMd5Format();

    void encodeMessageId_data();
    void encodeMessageId();
};

void tst_Md5::rfc1321_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("digest");
    QTest::newRow("empty") << QByteArray("") << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
    QTest::newRow("a") << QByteArray("a") << QByteArray("0cc175b9c0f1b6a831c399e269772661");
    QTest::newRow("abc") << QByteArray("abc") << QByteArray("900150983cd24fb0d6963f7d28e17f72");
    QTest::newRow("message digest") << QByteArray("message digest")
                                    << QByteArray("f96b697d7cb7938d525a2f31aaf161d0");
    QTest::newRow("alphabet") << QByteArray("abcdefghijklmnopqrstuvwxyz")
                              << QByteArray("c3fcd3d76192e4007dfb496cca67e13b");
    QTest::newRow("alnum")
        << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
        << QByteArray("d174ab98d277d9f5a5611c2c9f419d9f");
    QTest::newRow("8 x 1234567890") << QByteArray("1234567890").repeated(8)
                                    << QByteArray("57edf4a22be3c955ac49da2e2107b67a");
}

void tst_Md5::rfc1321()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, digest);
    QCOMPARE(md5Hex(input), digest);
}

// Lengths around the padding and block edges, against Qt's own MD5.
void tst_Md5::blockBoundaries_data()
{
    QTest::addColumn<int>("size");
    for (int n : {55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000, 100000})
        QTest::addRow("%d bytes", n) << n;
}

void tst_Md5::blockBoundaries()
{
    QFETCH(int, size);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 131 + 7) & 0xFF);
    QCOMPARE(md5Hex(data), QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

void tst_Md5::splitAppends_data()
{
    QTest::addColumn<QList<int>>("cuts");
    QTest::newRow("at 0") << QList<int>{0};
    QTest::newRow("at 1") << QList<int>{1};
    QTest::newRow("at 55") << QList<int>{55};
    QTest::newRow("at 56") << QList<int>{56};
    QTest::newRow("at 63") << QList<int>{63};
    QTest::newRow("at 64") << QList<int>{64};
    QTest::newRow("at 65") << QList<int>{65};
    QTest::newRow("at 199") << QList<int>{199};
    QTest::newRow("at 200") << QList<int>{200};
    QTest::newRow("1, 2, 70, 128") << QList<int>{1, 2, 70, 128};
    QTest::newRow("63, 127, 191") << QList<int>{63, 127, 191};
    QTest::newRow("10, 10 (empty piece)") << QList<int>{10, 10, 140};
}

void tst_Md5::splitAppends()
{
    QFETCH(QList<int>, cuts);
    QByteArray data(200, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i ^ 0x5A);
    md5_state_t st;
    md5_byte_t digest[16];
    md5_init(&st);
    int from = 0;
    cuts.append(int(data.size()));
    for (int cut : cuts) {
        md5_append(&st, reinterpret_cast<const md5_byte_t*>(data.constData()) + from, cut - from);
        from = cut;
    }
    md5_finish(&st, digest);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(digest), 16).toHex(), md5Hex(data));
}

void tst_Md5::oneByteAtATime()
{
    const QByteArray data = QByteArray("1234567890").repeated(8);
    md5_state_t st;
    md5_byte_t digest[16];
    md5_init(&st);
    for (char c : data) {
        const md5_byte_t b = md5_byte_t(c);
        md5_append(&st, &b, 1);
    }
    md5_finish(&st, digest);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(digest), 16).toHex(),
             QByteArray("57edf4a22be3c955ac49da2e2107b67a"));
}

void tst_Md5::emptyAndNegativeCounts()
{
    const md5_byte_t abc[] = {'a', 'b', 'c'};
    md5_state_t st;
    md5_byte_t digest[16];
    md5_init(&st);
    md5_append(&st, abc, 0);
    md5_append(&st, abc, 3);
    md5_append(&st, abc, -1);
    md5_append(&st, abc, -64);
    md5_append(&st, nullptr, 0);
    QCOMPARE(st.count[0], md5_word_t(24));
    QCOMPARE(st.count[1], md5_word_t(0));
    md5_finish(&st, digest);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(digest), 16).toHex(),
             QByteArray("900150983cd24fb0d6963f7d28e17f72"));
}

// RFC 2202's HMAC-MD5 cases, through the CRAM-MD5 response: it encodes
// "user " and the hex HMAC of the challenge keyed with the password.
void tst_Md5::hmacMd5_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("hmac");
    QByteArray key4;
    for (int i = 1; i <= 25; ++i)
        key4.append(char(i));
    QTest::newRow("1") << QByteArray(16, '\x0b') << QByteArray("Hi There")
                       << QByteArray("9294727a3638bb1c13f48ef8158bfc9d");
    QTest::newRow("2") << QByteArray("Jefe") << QByteArray("what do ya want for nothing?")
                       << QByteArray("750c783e6ab0b503eaa86e310a5db738");
    QTest::newRow("3") << QByteArray(16, '\xaa') << QByteArray(50, '\xdd')
                       << QByteArray("56be34521d144c88dbb8c733f0e8b3f6");
    QTest::newRow("4") << key4 << QByteArray(50, '\xcd')
                       << QByteArray("697eaf0aca3a3aea3a75164746ffaa79");
    QTest::newRow("5") << QByteArray(16, '\x0c') << QByteArray("Test With Truncation")
                       << QByteArray("56461ef2342edc00f9bab995690efd4c");
    QTest::newRow("6") << QByteArray(80, '\xaa')
                       << QByteArray("Test Using Larger Than Block-Size Key - Hash Key First")
                       << QByteArray("6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    QTest::newRow("7") << QByteArray(80, '\xaa')
                       << QByteArray("Test Using Larger Than Block-Size Key and Larger Than One "
                                     "Block-Size Data")
                       << QByteArray("6f630fad67cda0ee1fb1f562db3aa53e");
}

void tst_Md5::hmacMd5()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, hmac);
    const QByteArray r = MIMECodec::CramMd5Digest(QCString("user"), QCString(key), QCString(data));
    QCOMPARE(cramText(r), "user " + hmac);
}

void tst_Md5::cramMd5Rfc2195()
{
    const QByteArray r = MIMECodec::CramMd5Digest(
        QCString("tim"), QCString("tanstaaftanstaaf"),
        QCString("<1896.697170952@postoffice.reston.mci.net>"));
    QCOMPARE(r, QByteArray("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw") + '\0');
    QCOMPARE(cramText(r), QByteArray("tim b913a602c7eda7a495b4e6e7334d3890"));
}

// A key longer than a block is replaced by its digest; one of exactly 64
// bytes is not.
void tst_Md5::cramMd5LongPassword()
{
    const QCString challenge("<12345@example.org>");
    for (int len : {64, 65, 200}) {
        QByteArray pw(len, 'p');
        pw[len - 1] = 'q';
        const QByteArray digest = QCryptographicHash::hash(pw, QCryptographicHash::Md5);
        const QByteArray viaLong = MIMECodec::CramMd5Digest(QCString("u"), QCString(pw), challenge);
        const QByteArray viaDigest = MIMECodec::CramMd5Digest(QCString("u"), QCString(digest), challenge);
        if (len > 64)
            QCOMPARE(viaLong, viaDigest);
        else
            QVERIFY(viaLong != viaDigest);
    }
}

void tst_Md5::cramMd5Format_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<int>("encodedSize");  // without the NUL
    QTest::addColumn<int>("lineFeedAt");   // -1: none
    QTest::newRow("u") << QByteArray("u") << 48 << -1;                      // 34 bytes
    QTest::newRow("24 characters") << QByteArray(24, 'n') << 76 << -1;      // 57 bytes
    QTest::newRow("25 characters") << QByteArray(25, 'n') << 81 << 76;      // 58 bytes
    QTest::newRow("100 characters") << QByteArray(100, 'n') << 180 + 2 << 76;
}

void tst_Md5::cramMd5Format()
{
    QFETCH(QByteArray, user);
    QFETCH(int, encodedSize);
    QFETCH(int, lineFeedAt);
    const QByteArray r = MIMECodec::CramMd5Digest(QCString(user), QCString("secret"), QCString("<c@h>"));
    QCOMPARE(r.size(), encodedSize + 1);
    QCOMPARE(r.back(), '\0');
    QCOMPARE(int(r.indexOf('\n')), lineFeedAt);
    QVERIFY(r.at(r.size() - 2) != '\n');  // no final line feed
    const QByteArray text = cramText(r);
    QCOMPARE(text.size(), user.size() + 33);
    QVERIFY(text.startsWith(user + ' '));
    const QByteArray hex = text.mid(user.size() + 1);
    QCOMPARE(hex, hex.toLower());
    QCOMPARE(QByteArray::fromHex(hex).toHex(), hex);
}

void tst_Md5::encodeMessageId_data()
{
    QTest::addColumn<QString>("indexNr");
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("expected");
    QTest::newRow("1234 ab") << QStringLiteral("1234") << QStringLiteral("ab") << QStringLiteral("MTIzNA.YW");
    QTest::newRow("empty") << QString() << QString() << QStringLiteral("AA.AA");
    QTest::newRow("one character") << QStringLiteral("1") << QStringLiteral("x") << QStringLiteral("MQ.eA");
    QTest::newRow("no pad") << QStringLiteral("12") << QStringLiteral("x") << QStringLiteral("MT.eA");
    QTest::newRow("two pads") << QStringLiteral("123") << QStringLiteral("x") << QStringLiteral("MTIzAA.eA");
    QTest::newRow("address") << QStringLiteral("4711") << QStringLiteral("juan.perez@norvatec.es")
                             << QStringLiteral("NDcxMQ.anVhbi5wZXJlekBub3J2YXRlYy5lcw");
    QTest::newRow("Latin-1") << QStringLiteral("1") << QString(QChar(0xFC)) << QStringLiteral("MQ./A");
    // Past 76 characters the encoded name keeps its inner line feed.
    QTest::newRow("long name") << QStringLiteral("99") << QString(60, QLatin1Char('u'))
                               << QStringLiteral("OT.") + QStringLiteral("dXV1").repeated(19)
                                      + QStringLiteral("\ndXV1AA");
}

void tst_Md5::encodeMessageId()
{
    QFETCH(QString, indexNr);
    QFETCH(QString, userName);
    QFETCH(QString, expected);
    QCOMPARE(MIMECodec::encodeMessageId(indexNr, userName), expected);
}

QTEST_APPLESS_MAIN(tst_Md5)
#include "tst_md5.moc"
