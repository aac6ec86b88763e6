#include <mimecodec.h>

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "toolrun.h"

// The tool reads its input in 1 MiB chunks; inputs of a few MiB prove that
// the chunked streaming gives what one-shot MIMECodec::encode/decode gives.
static constexpr int Big = 3 << 20;

static QByteArray randomBytes(quint32 seed, qsizetype size, const QByteArray& alphabet = QByteArray())
{
    QRandomGenerator rng(seed);
    QByteArray b(size, Qt::Uninitialized);
    for (char& c : b)
        c = alphabet.isEmpty() ? char(rng.bounded(256)) : alphabet.at(int(rng.bounded(alphabet.size())));
    return b;
}

static QByteArray md5Line(const QByteArray& data, const QString& name)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex() + "  " + QFile::encodeName(name) + '\n';
}

class tst_ToolCodec : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void codec_data();
    void codec();
    void md5();
    void badArguments_data();
    void badArguments();

private:
    Run run(const QStringList& args, const QByteArray& input = QByteArray())
    {
        return runTool(args, m_tmp.filePath(QStringLiteral("tool-config")), input, 300000);
    }
    QString writeTemp(const QString& name, const QByteArray& data) { return writeTestFile(m_tmp.filePath(name), data); }

    QTemporaryDir m_tmp;
};

void tst_ToolCodec::initTestCase()
{
    if (QByteArray(ORVANE_TOOL).isEmpty())
        QSKIP("the orvane-mail tool is not built");
    // Neither this process nor the tool sees real settings.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
}

void tst_ToolCodec::codec_data()
{
    QTest::addColumn<bool>("viaStdin");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QByteArray>("input");

    const QByteArray random = randomBytes(1, Big);
    const QByteArray b64 = MIMECodec::encodeBase64(random, true, true).chopped(1);
    const QByteArray text = randomBytes(2, Big, "aaaaaaaaaabcdefghij  \t\t\r\n\n=@\xE9\xFF");
    QByteArray qpNul = randomBytes(3, Big, "====\r\n\n\n0A9fdG x");
    qpNul[Big - (1 << 20) + 7] = '\0';
    const QString enc = QStringLiteral("encode"), dec = QStringLiteral("decode");
    const QString b = QStringLiteral("base64"), qp = QStringLiteral("quoted-printable");
    QTest::newRow("encode base64, empty") << true << enc << b << QByteArray();
    QTest::newRow("encode base64, 18 x 57 KiB") << false << enc << b << random.left(18 * 57 * 1024);
    QTest::newRow("encode BASE64, 3 MiB + 1") << false << enc << QStringLiteral("BASE64") << random + 'x';
    QTest::newRow("decode base64, CR LF") << true << dec << b << QByteArray(MIMECodec::encodeEndLine(QCString(b64)));
    QTest::newRow("decode base64, pads mid-stream") << false << dec << b << QByteArray("YQ==\n").repeated(Big / 5);
    QTest::newRow("decode base64, pads and breaks") << true << dec << b << randomBytes(5, Big, "AB/==\n\r *");
    QTest::newRow("decode base64, junk then letters") << false << dec << b << QByteArray(Big, ' ') + "YQ";
    QTest::newRow("encode quoted-printable-compat") << true << enc << QStringLiteral("Quoted-Printable-Compat") << text;
    QTest::newRow("encode quoted-printable, NUL") << false << enc << qp << QByteArray("a=b\0c", 5);
    QTest::newRow("decode quoted-printable") << true << dec << qp
                                             << QByteArray(MIMECodec::encodeQuotedPrintable(QCString(text), false, false));
    QTest::newRow("decode quoted-printable, NUL after 2 MiB") << false << dec << qp << qpNul;
    QTest::newRow("decode quoted-printable, no line feed") << true << dec << qp << randomBytes(6, Big, "=0A9x ");
    QTest::newRow("decode binary") << true << dec << QStringLiteral("binary") << random;
}

void tst_ToolCodec::codec()
{
    QFETCH(bool, viaStdin);
    QFETCH(QString, command);
    QFETCH(QString, encoding);
    QFETCH(QByteArray, input);

    const QByteArray e = encoding.toLatin1();
    const bool encode = command == QLatin1String("encode");
    QByteArray expected = encode ? MIMECodec::encode(input, e.constData(), false) : MIMECodec::decode(input, e.constData());
    // The tool writes the text without the NUL the library counts.
    if (e.toLower().startsWith("quoted-printable") || (e.toLower() == "base64" && encode))
        expected.chop(1);

    QStringList args{command, QStringLiteral("--encoding"), encoding};
    const Run r = viaStdin ? run(args << QStringLiteral("-"), input) : run(args << writeTemp(QStringLiteral("input"), input));
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.rc, 0);
    QCOMPARE(r.out.size(), expected.size());
    QVERIFY2(r.out == expected, "the tool's output differs from the library's");
}

void tst_ToolCodec::md5()
{
    const QByteArray a = randomBytes(7, Big + 5);
    const QString pa = writeTemp(QStringLiteral("a.bin"), a);
    const QString pb = writeTemp(QStringLiteral("b.txt"), "abc");
    const QString pe = writeTemp(QStringLiteral("empty"), QByteArray());
    Run r = run({QStringLiteral("md5"), pa, pb, pe});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.rc, 0);
    QCOMPARE(r.out, md5Line(a, pa) + "900150983cd24fb0d6963f7d28e17f72  " + QFile::encodeName(pb) + '\n' + md5Line({}, pe));

    // The files that can be read are still digested.
    const QString missing = m_tmp.filePath(QStringLiteral("no-such-file"));
    r = run({QStringLiteral("md5"), missing, pb, QStringLiteral("-")}, "abc");
    QVERIFY(r.rc > 0);
    QVERIFY2(r.err.startsWith("orvane-mail: ") && r.err.contains("cannot open " + QFile::encodeName(missing)), r.err.constData());
    QCOMPARE(r.out, md5Line("abc", pb) + md5Line("abc", QStringLiteral("-")));
}

// Every failure: a message on stderr, a non-zero exit and nothing on stdout.
void tst_ToolCodec::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("message");
    const QString missing = m_tmp.filePath(QStringLiteral("no-such-file"));
    auto args = [](const char* line) { return QString::fromLatin1(line).split(QLatin1Char(' ')); };
    QTest::newRow("unknown encoding") << args("encode --encoding x-uuencode -") << QByteArray("unknown encoding");
    QTest::newRow("no encoding") << args("encode") << QByteArray("--encoding");
    QTest::newRow("missing file") << args("decode --encoding quoted-printable") + QStringList(missing) << QByteArray("cannot open");
    QTest::newRow("decode has no footer") << args("decode --encoding base64 --footer") << QByteArray("unknown option");
}

void tst_ToolCodec::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, message);
    const Run r = run(args, "YWJj");
    QVERIFY(r.rc > 0);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.startsWith("orvane-mail: ") && r.err.contains(message), r.err.constData());
}

QTEST_GUILESS_MAIN(tst_ToolCodec)
#include "tst_tool_codec.moc"
