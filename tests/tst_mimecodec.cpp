#include <ktconfig.h>
#include <mimecodec.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// A byte array from a literal, embedded zero bytes included.
template<qsizetype N>
static QByteArray B(const char (&s)[N])
{
    return QByteArray(s, N - 1);
}

static QByteArray rep(const char* s, int times)
{
    return QByteArray(s).repeated(times);
}

class tst_MIMECodec : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void encodeEndLine_data();
    void encodeEndLine();
    void decodeEndLine_data();
    void decodeEndLine();

    void decodeQuotedPrintable_data();
    void decodeQuotedPrintable();
    void encodeQuotedPrintable_data();
    void encodeQuotedPrintable();
    void quotedPrintableLines_data();
    void quotedPrintableLines();

    void unfold_data();
    void unfold();
    void fold_data();
    void fold();
    void canonicalForm_data();
    void canonicalForm();

    void decodeBase64_data();
    void decodeBase64();
    void decodeBase64View();
    void encodeBase64_data();
    void encodeBase64();
    void base64RoundTrip_data();
    void base64RoundTrip();

    void decodeByName_data();
    void decodeByName();
    void encodeByName_data();
    void encodeByName();
    void nullEncodingName();

    void defaultFooter();
    void footer_data();
    void footer();

    void vectors_data();
    void vectors();

private:
    QTemporaryDir m_settingsDir;
};

void tst_MIMECodec::initTestCase()
{
    // Never touch the real user's settings.
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    KTConfig::init(QCoreApplication::instance());
    QCOMPARE(KTConfig::ktKeyBase, QStringLiteral("Orvane/"));
}

// ---------------------------------------------------------------- line ends

void tst_MIMECodec::encodeEndLine_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("no LF") << B("abc") << B("abc");
    QTest::newRow("LF") << B("a\nb") << B("a\r\nb");
    QTest::newRow("LF only") << B("\n\n") << B("\r\n\r\n");
    QTest::newRow("CR LF gets another CR") << B("a\r\nb") << B("a\r\r\nb");
    QTest::newRow("lone CR stays") << B("a\rb") << B("a\rb");
    QTest::newRow("stops at NUL") << B("a\nb\0c\n") << B("a\r\nb");
}

void tst_MIMECodec::encodeEndLine()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray(MIMECodec::encodeEndLine(QCString(input))), expected);
}

void tst_MIMECodec::decodeEndLine_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("CR LF") << B("a\r\nb\r\n") << B("a\nb\n");
    QTest::newRow("CR anywhere") << B("\ra\rb\r") << B("ab");
    QTest::newRow("only CRs") << B("\r\r") << B("");
    QTest::newRow("stops at NUL") << B("a\r\n\0\r\n") << B("a\n");
}

void tst_MIMECodec::decodeEndLine()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray(MIMECodec::decodeEndLine(QCString(input))), expected);
}

// ---------------------------------------------------------- quoted-printable

void tst_MIMECodec::decodeQuotedPrintable_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("escape and soft breaks") << B("a=3Db=\r\nc=\nd") << B("a=bcd");
    QTest::newRow("lower-case digits") << B("=3d") << B("=");
    QTest::newRow("mixed case") << B("=e9=E9=eA") << B("\xE9\xE9\xEA");
    QTest::newRow("lone = at the end") << B("abc=") << B("abc");
    QTest::newRow("only =") << B("=") << B("");
    QTest::newRow("two soft breaks") << B("=\n=\r\n") << B("");
    QTest::newRow("hard breaks kept") << B("a\r\nb\n") << B("a\r\nb\n");
    QTest::newRow("encoded breaks") << B("=0D=0A") << B("\r\n");
    QTest::newRow("8-bit bytes copied") << B("\xE9t\xE9") << B("\xE9t\xE9");
    QTest::newRow("decoded zero dropped") << B("a=00b") << B("ab");
    QTest::newRow("stops at NUL") << B("a\0=41") << B("a");
    // An '=' that does not start an escape or a soft break stays as it is.
    QTest::newRow("non-hex first") << B("x=G1y") << B("x=G1y");
    QTest::newRow("non-hex second") << B("x=1Gy") << B("x=1Gy");
    QTest::newRow("one digit at end") << B("a=4") << B("a=4");
    QTest::newRow("= then =XX") << B("==41") << B("=A");
    QTest::newRow("= CR at end") << B("a=\r") << B("a=\r");
    QTest::newRow("= CR not LF") << B("a=\rxb") << B("a=\rxb");
    QTest::newRow("= space LF is no soft break") << B("a= \nb") << B("a= \nb");
    QTest::newRow("= TAB") << B("a=\tb") << B("a=\tb");
}

void tst_MIMECodec::decodeQuotedPrintable()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const QCString out = MIMECodec::decodeQuotedPrintable(QCString(input));
    QCOMPARE(QByteArray(out), expected);
    QVERIFY(!out.isNull());
}

void tst_MIMECodec::encodeQuotedPrintable_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("compat");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray a73 = rep("a", 73);
    QTest::newRow("empty") << B("") << false << B("");
    QTest::newRow("LF") << B("x\ny") << false << B("x=0Ay");
    QTest::newRow("CR LF") << B("a\r\nb") << false << B("a=0D=0Ab");
    QTest::newRow("equals") << B("a=b") << false << B("a=3Db");
    QTest::newRow("8-bit") << B("\xE9") << false << B("=E9");
    QTest::newRow("upper-case hex") << B("\xAB\xCD") << false << B("=AB=CD");
    QTest::newRow("controls and DEL") << B("\x01\x1B\x7F") << false << B("=01=1B=7F");
    QTest::newRow("TAB and SPACE literal") << B("a\tb c ") << false << B("a\tb c ");
    QTest::newRow("specials literal") << B("!\"#@[\\]^`{|}~$") << false << B("!\"#@[\\]^`{|}~$");
    QTest::newRow("compat specials")
        << B("!\"#@[\\]^`{|}~$") << true << B("=21=22=23=40=5B=5C=5D=5E=60=7B=7C=7D=7E$");
    QTest::newRow("compat at") << B("@") << true << B("=40");
    QTest::newRow("compat dollar") << B("$") << true << B("$");
    QTest::newRow("stops at NUL") << B("ab\0cd") << false << B("ab");

    // Soft breaks.
    QTest::newRow("200 a") << rep("a", 200) << false
                           << rep("a", 75) + "=\r\n" + rep("a", 75) + "=\r\n" + rep("a", 50);
    QTest::newRow("75 a end in a soft break") << rep("a", 75) << false << rep("a", 75) + "=\r\n";
    QTest::newRow("74 a") << rep("a", 74) << false << rep("a", 74);
    QTest::newRow("30 escapes") << rep("\xFF", 30) << false << rep("=FF", 25) + "=\r\n" + rep("=FF", 5);
    QTest::newRow("plain look-ahead") << a73 + "bcd" << false << a73 + "bc=\r\nd";
    QTest::newRow("space in look-ahead") << a73 + "bc d" << false << a73 + "=\r\nbc d";
    QTest::newRow("TAB in look-ahead") << a73 + "\tbc" << false << a73 + "=\r\n\tbc";
    QTest::newRow("escape in look-ahead") << rep("a", 74) + "\xE9" << false
                                          << a73 + "=\r\na=E9";
    QTest::newRow("escape reaches 75") << rep("a", 72) + "=" << false << rep("a", 72) + "=3D=\r\n";
    QTest::newRow("escape reaches 74") << rep("a", 71) + "\xE9" + "bc" << false
                                       << rep("a", 71) + "=E9b=\r\nc";
    QTest::newRow("special in look-ahead, compat") << a73 + "@bc" << true << a73 + "=\r\n=40bc";
    QTest::newRow("special in look-ahead, plain") << a73 + "@bc" << false << a73 + "@b=\r\nc";
}

void tst_MIMECodec::encodeQuotedPrintable()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, compat);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray(MIMECodec::encodeQuotedPrintable(QCString(input), compat, false)), expected);
}

// Whatever the input: lines of at most 76 characters, every line break a soft
// one, and decoding gives the input back.
void tst_MIMECodec::quotedPrintableLines_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("compat");
    QRandomGenerator rng(20261206);
    auto random = [&](const QByteArray& alphabet, int size) {
        QByteArray s(size, Qt::Uninitialized);
        for (char& c : s)
            c = alphabet.at(int(rng.bounded(alphabet.size())));
        return s;
    };
    QByteArray all;
    for (int c = 1; c < 256; ++c)
        all.append(char(c));
    for (int i = 0; i < 8; ++i) {
        const bool compat = i & 1;
        QTest::addRow("all bytes %d", i) << random(all, 5000) << compat;
        QTest::addRow("text %d", i) << random("aaaaaaaaaa bcd=@\t\r\n\xE9", 5000) << compat;
        QTest::addRow("plain and escapes %d", i) << random("ab\xFF", 3000) << compat;
    }
}

void tst_MIMECodec::quotedPrintableLines()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, compat);
    const QCString out = MIMECodec::encodeQuotedPrintable(QCString(input), compat, false);
    const QList<QByteArray> lines = out.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& l = lines.at(i);
        if (i + 1 < lines.size()) {
            QVERIFY2(l.endsWith("=\r"), l.constData());
            QVERIFY2(l.size() - 1 <= 76, l.constData());
        } else {
            QVERIFY2(l.size() <= 76, l.constData());
        }
        QVERIFY(!l.chopped(l.endsWith('\r') ? 1 : 0).contains('\r'));
    }
    QCOMPARE(QByteArray(MIMECodec::decodeQuotedPrintable(out)), input);
}

// ------------------------------------------------------------------ folding

void tst_MIMECodec::unfold_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("LF TAB") << B("a\n\tb") << B("ab");
    QTest::newRow("LF SPACE stays") << B("a\n b") << B("a\n b");
    QTest::newRow("CR LF TAB keeps CR") << B("a\r\n\tb") << B("a\rb");
    QTest::newRow("at the start stays") << B("\n\tb") << B("\n\tb");
    QTest::newRow("twice in a row") << B("a\n\t\n\tb") << B("a\n\tb");
    QTest::newRow("at the end") << B("a\n\t") << B("a");
    QTest::newRow("TAB LF stays") << B("a\t\nb") << B("a\t\nb");
    QTest::newRow("stops at NUL") << B("a\n\tb\0\n\tc") << B("ab");
}

void tst_MIMECodec::unfold()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray(MIMECodec::unfold(QCString(input))), expected);
}

void tst_MIMECodec::fold_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray x76 = rep("x", 76);
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("75") << rep("x", 75) << rep("x", 75);
    QTest::newRow("76") << x76 << x76 + "\n\t";
    QTest::newRow("77") << x76 + "y" << x76 + "\n\ty";
    QTest::newRow("152") << x76 + x76 << x76 + "\n\t" + x76 + "\n\t";
    // Line feeds count and do not restart the count.
    QTest::newRow("line feeds counted") << rep("a\n", 38) + "b" << rep("a\n", 38) + "\n\tb";
}

void tst_MIMECodec::fold()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray(MIMECodec::fold(QCString(input))), expected);
}

void tst_MIMECodec::canonicalForm_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray x77 = rep("x", 77);
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("76") << rep("x", 76) << rep("x", 76);
    QTest::newRow("77") << x77 << x77 + "\r\n";
    QTest::newRow("78") << x77 + "y" << x77 + "\r\ny";
    QTest::newRow("154") << x77 + x77 << x77 + "\r\n" + x77 + "\r\n";
    QTest::newRow("LF restarts") << rep("x", 76) + "\n" + x77 << rep("x", 76) + "\n" + x77 + "\r\n";
    QTest::newRow("LF not converted") << B("a\nb\n") << B("a\nb\n");
    QTest::newRow("CR counts") << rep("x", 76) + "\r" << rep("x", 76) + "\r\r\n";
}

void tst_MIMECodec::canonicalForm()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray(MIMECodec::canonicalForm(QCString(input))), expected);
}

// ------------------------------------------------------------------- base64

void tst_MIMECodec::decodeBase64_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expectedHex");
    auto hex = [](const QByteArray& s) { return s.toHex(); };
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("abc") << B("YWJj") << hex("abc");
    QTest::newRow("one pad") << B("YWI=") << hex("ab");
    QTest::newRow("two pads") << B("YQ==") << hex("a");
    QTest::newRow("two bytes") << B("YQ") << B("");
    QTest::newRow("three bytes") << B("YWJ") << B("");
    QTest::newRow("three bytes padded") << B("YQ=") << B("");
    QTest::newRow("trailing CR LF") << B("YWJjZA==\r\n") << hex("abcd");
    QTest::newRow("lines") << B("YWJj\r\nZGVm\r\n") << hex("abcdef");
    QTest::newRow("junk between quanta") << B("**YWJj\x80\xFF ZGVm\0") << hex("abcdef");
    QTest::newRow("junk after pads") << B("YQ==\n\n\n") << hex("a");
    QTest::newRow("binary") << B("AP/+") << B("00fffe");
    // A quantum cut short by the end is completed with 'A'.
    QTest::newRow("short final quantum") << B("YWJjZA") << B("616263640000");
    // A break inside a quantum is taken as a byte of value 0xFF.
    QTest::newRow("space inside quantum") << B("YW Jj") << B("616fc98c0000");
    QTest::newRow("LF inside quantum") << B("YW\nJj") << B("616fc98c0000");
    // Pads count only at the very end; inside they are the value 64.
    QTest::newRow("pads mid-stream") << B("YQ==YQ==") << B("61004061");
    QTest::newRow("pads then letters") << B("YQ==\nQQ") << B("610040410000");
    QTest::newRow("pad quantum") << B("A===") << B("00");
    QTest::newRow("two pads at the start") << B("==\n\n") << B("00");
    QTest::newRow("pad at index 0 only") << B("=\n\n\n") << B("03ff");
    QTest::newRow("only junk") << B("\r\n\r\n") << B("");
}

void tst_MIMECodec::decodeBase64()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expectedHex);
    QCOMPARE(MIMECodec::decodeBase64(input).toHex(), expectedHex);
}

// The padding check never looks before the start of the input, even when
// the bytes there are readable (a view into a larger buffer).
void tst_MIMECodec::decodeBase64View()
{
    static const char buffer[] = "==\n\n\n";
    const QByteArray view = QByteArray::fromRawData(buffer + 1, 4);
    QCOMPARE(MIMECodec::decodeBase64(view).toHex(), QByteArray("03ff"));
}

void tst_MIMECodec::encodeBase64_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("endNewLine");
    QTest::addColumn<bool>("endAllNewLines");
    QTest::addColumn<QByteArray>("expected");  // with the NUL
    const QByteArray line = rep("YWJj", 19);  // 57 input bytes, 76 characters
    QTest::newRow("abc") << B("abc") << false << false << B("YWJj\0");
    QTest::newRow("a") << B("a") << false << false << B("YQ==\0");
    QTest::newRow("ab") << B("ab") << false << false << B("YWI=\0");
    QTest::newRow("binary") << B("\x00\xFF\xFE") << false << false << B("AP/+\0");
    QTest::newRow("NUL counted") << B("abc\0") << false << false << B("YWJjAA==\0");
    QTest::newRow("empty") << B("") << false << false << B("\0");
    QTest::newRow("empty, all line feeds") << B("") << false << true << B("\0");
    QTest::newRow("empty, end line feed") << B("") << true << false << B("\n\0");
    QTest::newRow("empty, both") << B("") << true << true << B("\n\0");
    QTest::newRow("end line feed") << B("abc") << true << false << B("YWJj\n\0");
    QTest::newRow("57 bytes") << rep("abc", 19) << false << true << line + B("\0");
    QTest::newRow("57 bytes, end line feed") << rep("abc", 19) << true << true << line + B("\n\0");
    QTest::newRow("58 bytes") << rep("abc", 19) + "a" << false << true << line + B("\nYQ==\0");
    QTest::newRow("58 bytes, one line") << rep("abc", 19) + "a" << false << false << line + B("YQ==\0");
    QTest::newRow("59 bytes, both") << rep("abc", 19) + "ab" << true << true << line + B("\nYWI=\n\0");
    QTest::newRow("114 bytes") << rep("abc", 38) << false << true << line + "\n" + line + B("\0");
    QTest::newRow("114 bytes, both") << rep("abc", 38) << true << true << line + "\n" + line + B("\n\0");
}

void tst_MIMECodec::encodeBase64()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, endNewLine);
    QFETCH(bool, endAllNewLines);
    QFETCH(QByteArray, expected);
    QCOMPARE(MIMECodec::encodeBase64(input, endNewLine, endAllNewLines), expected);
}

void tst_MIMECodec::base64RoundTrip_data()
{
    QTest::addColumn<QByteArray>("input");
    QRandomGenerator rng(57);
    for (int size : {1, 2, 3, 4, 5, 6, 7, 8, 9, 56, 57, 58, 59, 60, 62, 63, 64, 113, 114, 115, 171, 172, 1000, 65537}) {
        QByteArray b(size, Qt::Uninitialized);
        for (char& c : b)
            c = char(rng.bounded(256));
        QTest::addRow("%d bytes", size) << b;
    }
}

void tst_MIMECodec::base64RoundTrip()
{
    QFETCH(QByteArray, input);
    const QByteArray flat = MIMECodec::encodeBase64(input, false, false);
    QCOMPARE(flat.chopped(1), input.toBase64());
    const QByteArray lines = MIMECodec::encodeBase64(input, true, true);
    QCOMPARE(lines.back(), '\0');
    for (const QByteArray& l : lines.chopped(2).split('\n'))
        QVERIFY(l.size() <= 76);
    QCOMPARE(MIMECodec::decodeBase64(lines), input);
    QCOMPARE(MIMECodec::decodeBase64(MIMECodec::encodeEndLine(QCString(lines.chopped(1)))), input);
}

// ----------------------------------------------------------- codecs by name

void tst_MIMECodec::decodeByName_data()
{
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray unknown = B("unknown encoding\0");
    QCOMPARE(unknown.size(), 17);
    QTest::newRow("base64") << B("base64") << B("YWJj") << B("abc");
    QTest::newRow("BASE64") << B("BASE64") << B("YWJj") << B("abc");
    QTest::newRow("Base64 binary") << B("Base64") << B("AAD/") << B("\0\0\xFF");
    QTest::newRow("quoted-printable") << B("quoted-printable") << B("a=3Db") << B("a=b\0");
    QTest::newRow("Quoted-Printable") << B("Quoted-Printable") << B("=E9") << B("\xE9\0");
    QTest::newRow("qp stops at NUL") << B("quoted-printable") << B("a=41\0=42") << B("aA\0");
    QTest::newRow("qp empty") << B("quoted-printable") << B("") << B("\0");
    QTest::newRow("7bit") << B("7bit") << B("a\0b\r\n") << B("a\0b\r\n");
    QTest::newRow("8BIT") << B("8BIT") << B("\xE9\0") << B("\xE9\0");
    QTest::newRow("none") << B("none") << B("=41") << B("=41");
    QTest::newRow("Binary") << B("Binary") << B("YWJj") << B("YWJj");
    QTest::newRow("compat is no decoding") << B("quoted-printable-compat") << B("a") << unknown;
    QTest::newRow("x-uuencode") << B("x-uuencode") << B("a") << unknown;
    QTest::newRow("empty name") << B("") << B("a") << unknown;
}

void tst_MIMECodec::decodeByName()
{
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(MIMECodec::decode(input, encoding.constData()), expected);
}

void tst_MIMECodec::encodeByName_data()
{
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("footer");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("base64") << B("base64") << B("abc") << false << B("YWJj\n\0");
    QTest::newRow("BASE64 empty") << B("BASE64") << B("") << false << B("\n\0");
    QTest::newRow("base64 takes zero bytes") << B("base64") << B("a\0") << false << B("YQA=\n\0");
    QTest::newRow("base64 ignores footer") << B("base64") << B("abc") << true << B("YWJj\n\0");
    QTest::newRow("base64 lines") << B("Base64") << rep("abc", 20) << false
                                  << rep("YWJj", 19) + "\nYWJj\n" + B("\0");
    QTest::newRow("quoted-printable") << B("quoted-printable") << B("a=b") << false << B("a=3Db\0");
    QTest::newRow("qp stops at NUL") << B("quoted-printable") << B("a@\0b") << false << B("a@\0");
    QTest::newRow("qp empty") << B("quoted-printable") << B("") << false << B("\0");
    QTest::newRow("QUOTED-PRINTABLE-COMPAT") << B("QUOTED-PRINTABLE-COMPAT") << B("a@b") << false << B("a=40b\0");
    QTest::newRow("7bit") << B("7bit") << B("a\0b") << false << B("a\0b");
    QTest::newRow("8bit") << B("8bit") << B("\xE9") << false << B("\xE9");
    QTest::newRow("NONE") << B("NONE") << B("a=b") << false << B("a=b");
    QTest::newRow("binary") << B("binary") << B("\0\xFF") << false << B("\0\xFF");
    QTest::newRow("unknown") << B("x-uuencode") << B("abc") << false << B("");
    QTest::newRow("empty name") << B("") << B("abc") << false << B("");
}

void tst_MIMECodec::encodeByName()
{
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, input);
    QFETCH(bool, footer);
    QFETCH(QByteArray, expected);
    QCOMPARE(MIMECodec::encode(input, encoding.constData(), footer), expected);
}

void tst_MIMECodec::nullEncodingName()
{
    QCOMPARE(MIMECodec::decode(QByteArray("YWJj"), nullptr), QByteArray("unknown encoding", 17));
    QCOMPARE(MIMECodec::encode(QByteArray("abc"), nullptr, false), QByteArray());
}

// ------------------------------------------------------------------- footer

void tst_MIMECodec::defaultFooter()
{
    const QByteArray f = MIMECodec::defaultFooter();
    QCOMPARE(f.size(), 257);
    QCOMPARE(qsizetype(qstrlen(f.constData())), f.size());
    const QByteArray rule = rep("-", 13) + "\n";
    QVERIFY(f.startsWith("\n" + rule));
    QVERIFY(f.endsWith("\n" + rule));
    const QByteArray inner = f.mid(1 + rule.size(), f.size() - 1 - 2 * rule.size());
    QVERIFY(inner.endsWith('\n'));
    const QList<QByteArray> lines = inner.chopped(1).split('\n');
    QCOMPARE(lines.size(), 11);
    QCOMPARE(lines.count(QByteArray()), 3);
    for (const QByteArray& l : lines)
        QVERIFY2(l.isEmpty() || !l.startsWith('-'), l.constData());
}

// Settings values for a row: "-" leaves the key unset, "@file" is the footer
// file of the row, "@missing" a file that does not exist, "@dir" a directory.
void tst_MIMECodec::footer_data()
{
    QTest::addColumn<QString>("tovik");
    QTest::addColumn<QString>("marovellin");
    QTest::addColumn<QByteArray>("fileText");  // null: no file
    QTest::addColumn<QByteArray>("expected");  // what is appended to the text
    const QByteArray builtin = MIMECodec::defaultFooter();
    const QByteArray text = B("Gracias por su pedido.\nNorvatec\n");
    const QString none = QStringLiteral("-");
    const QString file = QStringLiteral("@file");
    const QString empty = QString(QLatin1String(""));
    QTest::newRow("file from the product key") << file << none << text << "\n" + text;
    QTest::newRow("file without final LF") << file << none << B("Hola") << B("\nHola");
    QTest::newRow("empty file appends nothing") << file << none << B("") << B("");
    QTest::newRow("file of one LF") << file << none << B("\n") << B("\n\n");
    QTest::newRow("missing file") << QStringLiteral("@missing") << none << QByteArray() << builtin;
    QTest::newRow("directory") << QStringLiteral("@dir") << none << QByteArray() << builtin;
    // With no value the default file under the data directory is used; it
    // does not exist here.
    QTest::newRow("nothing configured") << none << none << QByteArray() << builtin;
    QTest::newRow("older key ignored when product key unset") << none << file << text << builtin;
    QTest::newRow("older key when product key empty") << empty << file << text << "\n" + text;
    QTest::newRow("older key unset") << empty << none << text << builtin;
    QTest::newRow("both empty") << empty << empty << text << builtin;
    QTest::newRow("product key wins") << file << QStringLiteral("@missing") << text << "\n" + text;
}

void tst_MIMECodec::footer()
{
    QFETCH(QString, tovik);
    QFETCH(QString, marovellin);
    QFETCH(QByteArray, fileText);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString filePath = dir.filePath(QStringLiteral("footer.txt"));
    if (!fileText.isNull()) {
        QFile f(filePath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(fileText), fileText.size());
    }
    auto value = [&](const QString& v) {
        if (v == QLatin1String("@file"))
            return filePath;
        if (v == QLatin1String("@missing"))
            return dir.filePath(QStringLiteral("no-such-file.txt"));
        if (v == QLatin1String("@dir"))
            return dir.path();
        return v;
    };
    auto configure = [&](const QString& app, const QString& key, const QString& v) {
        QSettings s(QSettings::UserScope, QStringLiteral("Norvatec"), app);
        s.clear();
        if (v != QLatin1String("-"))
            s.setValue(key, value(v));
        s.sync();
        QCOMPARE(s.status(), QSettings::NoError);
    };
    configure(QStringLiteral("Tovik"), KTConfig::ktKeyBase + QLatin1String("/email/footerText"), tovik);
    configure(QStringLiteral("Marovellin"), QStringLiteral("/marovellin/lite/email/footerText"), marovellin);
    QVERIFY(!QFile::exists(KTConfig::ktData + QLatin1String("/text_mail.txt")));

    const QCString body("Hola, mundo=\n");
    const QByteArray want = MIMECodec::encodeQuotedPrintable(QCString(body + expected), false, false);
    QCOMPARE(QByteArray(MIMECodec::encodeQuotedPrintable(body, false, true)), want);
    QCOMPARE(MIMECodec::encode(body, "quoted-printable", true), want + B("\0"));
    const QByteArray wantCompat = MIMECodec::encodeQuotedPrintable(QCString(body + expected), true, false);
    QCOMPARE(QByteArray(MIMECodec::encodeQuotedPrintable(body, true, true)), wantCompat);
    // No text, no footer.
    QCOMPARE(QByteArray(MIMECodec::encodeQuotedPrintable(QCString(""), false, true)), B(""));
    QCOMPARE(MIMECodec::encode(QByteArray(), "quoted-printable", true), B("\0"));
}

// ---------------------------------------------------------- vectors in files

void tst_MIMECodec::vectors_data()
{
    QTest::addColumn<QString>("base");
    const QDir dir(QStringLiteral(ORVANE_TEST_DATA "/codecs"));
    const QStringList inputs = dir.entryList({QStringLiteral("*.in")}, QDir::Files, QDir::Name);
    QVERIFY(inputs.size() >= 10);
    for (const QString& in : inputs)
        QTest::newRow(qPrintable(in)) << dir.filePath(in.chopped(3));
}

void tst_MIMECodec::vectors()
{
    QFETCH(QString, base);
    const QStringList parts = QFileInfo(base).fileName().split(QLatin1Char('.'));
    QVERIFY2(parts.size() >= 3, "name the file <name>.<encoding>.<direction>.in");
    const QString direction = parts.at(parts.size() - 1);
    const QByteArray encoding = parts.at(parts.size() - 2).toLatin1();

    QFile in(base + QLatin1String(".in"));
    QFile out(base + QLatin1String(".out"));
    QVERIFY(in.open(QIODevice::ReadOnly));
    QVERIFY2(out.open(QIODevice::ReadOnly), "the expected .out file is missing");
    const QByteArray input = in.readAll();
    QByteArray expected = out.readAll();

    QByteArray result;
    if (direction == QLatin1String("decode"))
        result = MIMECodec::decode(input, encoding.constData());
    else if (direction == QLatin1String("encode"))
        result = MIMECodec::encode(input, encoding.constData(), false);
    else
        QFAIL("the direction is decode or encode");
    // Everything but decoded base64 ends in a NUL counted in the size.
    if (!(direction == QLatin1String("decode") && encoding == "base64"))
        expected.append('\0');
    QCOMPARE(result.size(), expected.size());
    QCOMPARE(result, expected);
}

QTEST_GUILESS_MAIN(tst_MIMECodec)
#include "tst_mimecodec.moc"
