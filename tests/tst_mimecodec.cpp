#include <ktconfig.h>
#include <mimecodec.h>

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// A byte array from a literal, embedded zero bytes included.
template<qsizetype N> static QByteArray B(const char (&s)[N]) { return QByteArray(s, N - 1); }
static QByteArray rep(const char* s, int times) { return QByteArray(s).repeated(times); }

using namespace Qt::StringLiterals;

class tst_MIMECodec : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void transforms_data();
    void transforms();
    void base64_data();
    void base64();
    void base64Encode();
    void footer();
    void vectors_data();
    void vectors();

private:
    QTemporaryDir m_settingsDir;
};

void tst_MIMECodec::initTestCase()
{
    // Never touch the real user's settings.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    KTConfig::init(QCoreApplication::instance());
}

void tst_MIMECodec::transforms_data()
{
    QTest::addColumn<QByteArray>("function"); // a name, or "encode:"/"decode:" and an encoding
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    int n = 0;
    auto row = [&n](const char* function, const QByteArray& in, const QByteArray& out) {
        QTest::addRow("%d %s", ++n, function) << QByteArray(function) << in << out;
    };
    row("encodeEndLine", B("a\nb\r\n\rc\0\n"), B("a\r\nb\r\r\n\rc"));
    row("decodeEndLine", B("\ra\r\nb\0\r\n"), B("a\nb"));
    row("unfold", B("\n\ta\n b\r\n\tc\n\t\n\td\n\t\0\n\te"), B("\n\ta\n b\rc\n\td"));
    row("fold", rep("x", 152), rep("x", 76) + "\n\t" + rep("x", 76) + "\n\t");
    row("fold", rep("a\n", 38) + "b", rep("a\n", 38) + "\n\tb"); // line feeds count
    row("canonicalForm", rep("x", 76), rep("x", 76));
    row("canonicalForm", rep("x", 78), rep("x", 77) + "\r\nx");
    row("canonicalForm", rep("x", 76) + "\n" + rep("x", 76) + "\r", rep("x", 76) + "\n" + rep("x", 76) + "\r\r\n"); // LF restarts
    // Quoted-printable: an '=' that starts no escape or soft break stays as it is.
    row("decodeQP", B("a=3Db=\r\nc=\nd=e9=0D=0A=00\xE9"), B("a=bcd\xE9\r\n\xE9"));
    row("decodeQP", B("abc=\0=41"), B("abc"));
    const QByteArray a73 = rep("a", 73);
    row("encodeQP", a73 + "bcd", a73 + "bc=\r\nd");
    row("encodeQP", rep("a", 71) + "\xE9" + "bc", rep("a", 71) + "=E9b=\r\nc");
    row("encodeQPCompat", a73 + "@bc", a73 + "=\r\n=40bc");
    // By encoding name; the library counts a NUL after text results.
    const QByteArray unknown = B("unknown encoding\0");
    row("decode:BASE64", B("AAD/"), B("\0\0\xFF"));
    row("decode:Quoted-Printable", B("a=41\0=42"), B("aA\0"));
    row("decode:quoted-printable-compat", B("a"), unknown);
    row("decode:", B("a"), unknown);
    row("encode:base64", B("a\0"), B("YQA=\n\0"));
    row("encode:Base64", rep("abc", 20), rep("YWJj", 19) + "\nYWJj\n" + B("\0"));
    for (const char* passThrough : {"encode:7bit", "encode:8bit", "encode:NONE", "encode:binary"})
        row(passThrough, B("\0\xFF=b"), B("\0\xFF=b"));
    row("encode:", B("abc"), B(""));
}

void tst_MIMECodec::transforms()
{
    QFETCH(QByteArray, function);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const QCString in(input);
    const QByteArray name = function.mid(7);
    const char* enc = name.isEmpty() ? nullptr : name.constData();
    const QByteArray out = function == "encodeEndLine" ? MIMECodec::encodeEndLine(in)
        : function == "decodeEndLine"                  ? MIMECodec::decodeEndLine(in)
        : function == "unfold"                         ? MIMECodec::unfold(in)
        : function == "fold"                           ? MIMECodec::fold(in)
        : function == "canonicalForm"                  ? MIMECodec::canonicalForm(in)
        : function == "decodeQP"                       ? MIMECodec::decodeQuotedPrintable(in)
        : function.startsWith("encodeQP")              ? MIMECodec::encodeQuotedPrintable(in, function.endsWith("Compat"), false)
        : function.startsWith("decode:")               ? MIMECodec::decode(input, enc)
                                                       : MIMECodec::encode(input, enc, false);
    QCOMPARE(out, expected);
    QVERIFY(!out.isNull() || function.startsWith("encode:"));
}

void tst_MIMECodec::base64_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expectedHex");
    QTest::newRow("pads, lines") << B("YWJj\r\nYWI=\r\n") << QByteArray("abcab").toHex();
    QTest::newRow("junk between quanta") << B("**YWJj\x80\xFF ZGVm\0") << QByteArray("abcdef").toHex();
    QTest::newRow("junk after pads") << B("YQ==\n\n\n") << QByteArray("a").toHex();
    QTest::newRow("two bytes, three padded") << B("YQ=") << B("");
    // A quantum cut short by the end is completed with 'A'.
    QTest::newRow("short final quantum") << B("YWJjZA") << B("616263640000");
    // Pads count only at the very end (see the padding-mid-stream vector).
    QTest::newRow("pad quantum") << B("A===") << B("00");
    // Line breaks never make up a group: split anywhere, "YQ=" stays empty.
    QTest::newRow("three alphabet bytes, split") << B("Y\nQ=\n\n") << B("");
}

void tst_MIMECodec::base64()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expectedHex);
    QCOMPARE(MIMECodec::decodeBase64(input).toHex(), expectedHex);
    // The padding check never looks before the start of the input, even when
    // the bytes there are readable (a view into a larger buffer).
    const QByteArray buffer = "==" + input;
    QCOMPARE(MIMECodec::decodeBase64(QByteArray::fromRawData(buffer.constData() + 2, input.size())).toHex(), expectedHex);
}

void tst_MIMECodec::base64Encode()
{
    const QByteArray line = rep("YWJj", 19); // 57 input bytes, 76 characters
    QCOMPARE(MIMECodec::encodeBase64(B(""), true, false), B("\n\0"));
    QCOMPARE(MIMECodec::encodeBase64(rep("abc", 19) + "a", false, false), line + B("YQ==\0"));
}

// The footer file named by the older key when the product key is empty is
// appended (the product key alone: tst_ktconfig); a missing file gives the
// built-in footer; no text, no footer.
void tst_MIMECodec::footer()
{
    QTemporaryDir dir;
    QFile f(dir.filePath(u"footer"_s));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("Pie\n") == 4);
    f.close();
    QSettings(QSettings::UserScope, u"Norvatec"_s, u"Marovellin"_s).setValue(u"/marovellin/lite/email/footerText"_s, f.fileName());
    QSettings tovik(QSettings::UserScope, u"Norvatec"_s, u"Tovik"_s);
    const QCString body("Hola, mundo=\n");
    for (const auto& [file, footer] : {std::pair{u""_s, B("\nPie\n")}, {dir.filePath(u"none"_s), MIMECodec::defaultFooter()}}) {
        tovik.setValue(KTConfig::ktKeyBase + QLatin1String("/email/footerText"), file);
        QCOMPARE(MIMECodec::encode(body, "quoted-printable", true),
                 MIMECodec::encodeQuotedPrintable(QCString(body + footer), false, false) + B("\0"));
    }
    QCOMPARE(MIMECodec::encode(QByteArray(), "quoted-printable", true), B("\0"));
}

void tst_MIMECodec::vectors_data()
{
    QTest::addColumn<QString>("base");
    const QDir dir(QStringLiteral(ORVANE_TEST_DATA "/codecs"));
    const QStringList inputs = dir.entryList({QStringLiteral("*.in")}, QDir::Files, QDir::Name);
    QVERIFY(inputs.size() >= 10);
    for (const QString& in : inputs)
        QTest::newRow(qPrintable(in)) << dir.filePath(in.chopped(3));
}

// Files <name>.<encoding>.<decode|encode>.in with the expected .out beside.
void tst_MIMECodec::vectors()
{
    QFETCH(QString, base);
    const QStringList parts = base.split(QLatin1Char('.'));
    const bool decode = parts.last() == QLatin1String("decode");
    const QByteArray encoding = parts.at(parts.size() - 2).toLatin1();
    QFile in(base + QLatin1String(".in")), out(base + QLatin1String(".out"));
    QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::ReadOnly));
    const QByteArray input = in.readAll();
    QByteArray expected = out.readAll();
    // Everything but decoded base64 ends in a NUL counted in the size.
    if (!(decode && encoding == "base64"))
        expected.append('\0');
    QCOMPARE(decode ? MIMECodec::decode(input, encoding.constData()) : MIMECodec::encode(input, encoding.constData(), false), expected);
}

QTEST_GUILESS_MAIN(tst_MIMECodec)
#include "tst_mimecodec.moc"
