#include <md5.h>
#include <mimecodec.h>

#include <QCryptographicHash>
#include <QTest>

/// The digest of \a data given to md5_append in pieces cut at \a cuts.
static QByteArray md5Hex(const QByteArray& data, QList<int> cuts = {})
{
    md5_state_t st;
    md5_byte_t digest[16];
    md5_init(&st);
    int from = 0;
    for (int cut : cuts << int(data.size())) {
        md5_append(&st, reinterpret_cast<const md5_byte_t*>(data.constData()) + from, cut - from);
        from = cut;
    }
    md5_append(&st, nullptr, 0);
    md5_append(&st, reinterpret_cast<const md5_byte_t*>("x"), -1); // negative counts append nothing
    md5_finish(&st, digest);
    return QByteArray(reinterpret_cast<const char*>(digest), 16).toHex();
}

/// The CRAM-MD5 response to \a challenge, and the text it encodes (the NUL checked and removed).
static QByteArray cram(const QByteArray& user, const QByteArray& key, const QByteArray& challenge)
{
    const QByteArray r = MIMECodec::CramMd5Digest(QCString(user), QCString(key), QCString(challenge));
    return r.back() == '\0' ? r.chopped(1) + " = " + MIMECodec::decodeBase64(r.chopped(1)) : QByteArray("<no NUL>");
}

class tst_Md5 : public QObject
{
    Q_OBJECT
private slots:
    void digests();
    void hmacAndCram();
    void encodeMessageId();
};

void tst_Md5::digests()
{
    // RFC 1321 vectors, whole and a byte at a time.
    const QList<QByteArray> vectors = {"", "d41d8cd98f00b204e9800998ecf8427e", "abc", "900150983cd24fb0d6963f7d28e17f72",
                                       QByteArray("1234567890").repeated(8), "57edf4a22be3c955ac49da2e2107b67a"};
    for (int i = 0; i < vectors.size(); i += 2) {
        QList<int> everyByte;
        for (int k = 1; k < vectors[i].size(); ++k)
            everyByte << k;
        QCOMPARE(md5Hex(vectors[i]) + md5Hex(vectors[i], everyByte), vectors[i + 1].repeated(2));
    }
    // Lengths around the padding and block edges against Qt's MD5, and pieces cut around the block edges.
    QByteArray data(200, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 131 + 7) & 0xFF);
    for (int size : {55, 56, 57, 63, 64, 65, 119, 120, 129})
        QCOMPARE(md5Hex(data.left(size)), QCryptographicHash::hash(data.left(size), QCryptographicHash::Md5).toHex());
    for (const QList<int>& cuts : QList<QList<int>>{{1}, {63}, {64}, {65}, {1, 2, 70, 128}, {63, 127, 191}, {10, 10, 140}})
        QCOMPARE(md5Hex(data, cuts), md5Hex(data));
}

void tst_Md5::hmacAndCram()
{
    // RFC 2202's HMAC-MD5 cases 1 and 7 (long key and data) through the CRAM-MD5 response.
    QCOMPARE(cram("user", QByteArray(16, '\x0b'), "Hi There").split('=').last(), " user 9294727a3638bb1c13f48ef8158bfc9d");
    QCOMPARE(cram("user", QByteArray(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data")
                 .split('=').last(),
             " user 6f630fad67cda0ee1fb1f562db3aa53e");
    QCOMPARE(cram("tim", "tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
             "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw = tim b913a602c7eda7a495b4e6e7334d3890");
    // A key longer than a block is replaced by its digest; one of exactly 64 bytes is not.
    for (int len : {64, 65}) {
        const QByteArray pw = QByteArray(len - 1, 'p') + 'q';
        QCOMPARE(cram("u", pw, "<1@x>") == cram("u", QCryptographicHash::hash(pw, QCryptographicHash::Md5), "<1@x>"), len > 64);
    }
    // One line of base64 however long the user name: 58 bytes give 80 characters.
    QCOMPARE(cram(QByteArray(24, 'n'), "s", "<c@h>").indexOf(' '), 76);
    const QByteArray at58 = cram(QByteArray(25, 'n'), "s", "<c@h>");
    QCOMPARE(at58.indexOf(' ') * 100 + at58.indexOf('\n'), 80 * 100 - 1);
}

void tst_Md5::encodeMessageId()
{
    auto id = [](const char* nr, const QString& user) { return MIMECodec::encodeMessageId(QString::fromLatin1(nr), user); };
    QCOMPARE(id("1234", QStringLiteral("ab")), QStringLiteral("MTIzNA.YW")); // pads dropped
    QCOMPARE(id("123", QString(QChar(0xFC))), QStringLiteral("MTIzAA./A")); // two pads; Latin-1
    // Past 76 characters the encoded name keeps its inner line feed.
    QCOMPARE(id("99", QString(60, QLatin1Char('u'))), QStringLiteral("OT.") + QStringLiteral("dXV1").repeated(19) + QStringLiteral("\ndXV1AA"));
}

QTEST_APPLESS_MAIN(tst_Md5)
#include "tst_md5.moc"
