#include <md5.h>
#include <mimecodec.h>

#include <QMessageAuthenticationCode>
#include <QTest>

/// The digest of \a data given to md5_append in pieces of \a step bytes (0: whole).
static QByteArray md5Hex(const QByteArray& data, int step = 0)
{
    md5_state_t st;
    md5_byte_t digest[16];
    md5_init(&st);
    const auto* bytes = reinterpret_cast<const md5_byte_t*>(data.constData());
    const int n = int(data.size());
    for (int from = 0; from < n; from += step ? step : n)
        md5_append(&st, bytes + from, qMin(step ? step : n, n - from));
    md5_append(&st, nullptr, 0);
    md5_append(&st, reinterpret_cast<const md5_byte_t*>("x"), -1); // negative counts append nothing
    md5_finish(&st, digest);
    return QByteArray(reinterpret_cast<const char*>(digest), 16).toHex();
}

/// The CRAM-MD5 response to \a challenge and the text it encodes (the closing NUL checked and removed).
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

// RFC 1321 vectors (62 bytes pad into a second block, 80 span two), whole,
// a byte at a time and in pieces that straddle the block edge.
void tst_Md5::digests()
{
    const QList<QByteArray> vectors = {"", "d41d8cd98f00b204e9800998ecf8427e", "abc", "900150983cd24fb0d6963f7d28e17f72",
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f",
        QByteArray("1234567890").repeated(8), "57edf4a22be3c955ac49da2e2107b67a"};
    for (int i = 0; i < vectors.size(); i += 2)
        QCOMPARE(md5Hex(vectors[i]) + md5Hex(vectors[i], 1) + md5Hex(vectors[i], 7), vectors[i + 1].repeated(3));
}

void tst_Md5::hmacAndCram()
{
    // RFC 2195's example, and RFC 2202's HMAC-MD5 case 7: a key longer than a block is hashed first.
    QCOMPARE(cram("tim", "tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
             "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw = tim b913a602c7eda7a495b4e6e7334d3890");
    QCOMPARE(cram("user", QByteArray(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data")
                 .split('=').last(),
             " user 6f630fad67cda0ee1fb1f562db3aa53e");
    // A key of exactly one block is used as it is.
    const QByteArray key64 = QByteArray(63, 'p') + 'q';
    QCOMPARE(cram("u", key64, "<1@x>").split(' ').last(),
             QMessageAuthenticationCode::hash("<1@x>", key64, QCryptographicHash::Md5).toHex());
    // One line of base64 however long the user name: 58 bytes give 80 characters.
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
