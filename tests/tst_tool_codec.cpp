#include <mimecodec.h>
#include <orvaneversion.h>

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "toolrun.h"

// The tool reads its input in 1 MiB chunks; inputs of a few MiB prove that
// the chunked streaming gives what one-shot MIMECodec::encode/decode gives.
static constexpr int Big = 3 << 20;


class tst_ToolCodec : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void codec_data();
    void codec();
    void md5();
    void md5MissingFile();
    void help_data();
    void help();
    void version();
    void badArguments_data();
    void badArguments();

private:
    Run run(const QStringList& args, const QByteArray& input = QByteArray());
    QString writeTemp(const QString& name, const QByteArray& data);

    QTemporaryDir m_tmp;
};

static QByteArray randomBytes(quint32 seed, qsizetype size, const QByteArray& alphabet = QByteArray())
{
    QRandomGenerator rng(seed);
    QByteArray b(size, Qt::Uninitialized);
    for (char& c : b)
        c = alphabet.isEmpty() ? char(rng.bounded(256)) : alphabet.at(int(rng.bounded(alphabet.size())));
    return b;
}

void tst_ToolCodec::initTestCase()
{
    if (QByteArray(ORVANE_TOOL).isEmpty())
        QSKIP("the orvane-mail tool is not built");
    QVERIFY(QFile::exists(QStringLiteral(ORVANE_TOOL)));
    QVERIFY(m_tmp.isValid());
    // Neither this process nor the tool may see real settings: the footer
    // comes out as the built-in one on both sides.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_tmp.filePath(QStringLiteral("settings")));
}

Run tst_ToolCodec::run(const QStringList& args, const QByteArray& input)
{
    return runTool(args, m_tmp.filePath(QStringLiteral("tool-config")), input, 300000);
}

QString tst_ToolCodec::writeTemp(const QString& name, const QByteArray& data)
{
    return writeTestFile(m_tmp.filePath(name), data);
}

void tst_ToolCodec::codec_data()
{
    QTest::addColumn<bool>("viaStdin");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<bool>("footer");
    QTest::addColumn<QByteArray>("input");

    const QByteArray random = randomBytes(1, Big);
    const QByteArray b64 = MIMECodec::encodeBase64(random, true, true).chopped(1);
    const QByteArray text = randomBytes(2, Big, "aaaaaaaaaabcdefghij  \t\t\r\n\n=@\xE9\xFF");
    const QByteArray qpText = MIMECodec::encodeQuotedPrintable(QCString(text), false, false);
    const QByteArray qpNoise = randomBytes(3, Big, "====\r\n\n\n0A9fdG x");
    QByteArray qpNul = qpNoise;
    qpNul[Big - (1 << 20) + 7] = '\0';
    QByteArray junkThenLetters(Big, ' ');
    junkThenLetters += "YQ";
    QByteArray oneQuantumThenJunk("YWJj");
    oneQuantumThenJunk += QByteArray(Big, '\n');

    struct Row {
        const char* name;
        const char* command;
        const char* encoding;
        bool footer;
        QByteArray input;
    };
    const QList<Row> rows = {
        {"encode base64, empty", "encode", "base64", false, QByteArray()},
        {"encode base64, 1 byte", "encode", "base64", false, QByteArray("\xE9")},
        {"encode base64, 57 KiB", "encode", "base64", false, random.left(57 * 1024)},
        {"encode base64, 1 MiB", "encode", "base64", false, random.left(1 << 20)},
        {"encode base64, 18 x 57 KiB", "encode", "base64", false, random.left(18 * 57 * 1024)},
        {"encode base64, 3 MiB", "encode", "base64", false, random},
        {"encode BASE64, 3 MiB + 1", "encode", "BASE64", false, random + 'x'},
        {"decode base64, 3 MiB", "decode", "base64", false, b64},
        {"decode base64, CR LF", "decode", "base64", false, MIMECodec::encodeEndLine(QCString(b64))},
        {"decode base64, pads mid-stream", "decode", "base64", false, QByteArray("YQ==\n").repeated(Big / 5)},
        {"decode base64, random bytes", "decode", "base64", false, randomBytes(4, Big)},
        {"decode base64, pads and breaks", "decode", "base64", false, randomBytes(5, Big, "AB/==\n\r *")},
        {"decode base64, junk then letters", "decode", "base64", false, junkThenLetters},
        {"decode base64, one quantum then junk", "decode", "base64", false, oneQuantumThenJunk},
        {"encode quoted-printable", "encode", "quoted-printable", false, text},
        {"encode quoted-printable-compat", "encode", "Quoted-Printable-Compat", false, text.left(1 << 20)},
        {"encode quoted-printable, NUL", "encode", "quoted-printable", false, QByteArray("a=b\0c", 5)},
        {"encode quoted-printable, footer", "encode", "quoted-printable", true, QByteArray("Hola\n")},
        {"decode quoted-printable", "decode", "quoted-printable", false, qpText},
        {"decode quoted-printable, noise", "decode", "quoted-printable", false, qpNoise},
        {"decode quoted-printable, NUL after 2 MiB", "decode", "quoted-printable", false, qpNul},
        {"decode quoted-printable, no line feed", "decode", "quoted-printable", false,
         randomBytes(6, Big, "=0A9x ")},
        {"encode 7bit", "encode", "7bit", false, random},
        {"decode binary", "decode", "binary", false, random},
    };
    for (const Row& r : rows) {
        for (bool viaStdin : {false, true}) {
            QTest::addRow("%s, %s", r.name, viaStdin ? "stdin" : "file")
                << viaStdin << QString::fromLatin1(r.command)
                << QString::fromLatin1(r.encoding) << r.footer << r.input;
        }
    }
}

void tst_ToolCodec::codec()
{
    QFETCH(bool, viaStdin);
    QFETCH(QString, command);
    QFETCH(QString, encoding);
    QFETCH(bool, footer);
    QFETCH(QByteArray, input);

    const QByteArray enc = encoding.toLatin1();
    QByteArray expected = command == QLatin1String("encode")
        ? MIMECodec::encode(input, enc.constData(), footer)
        : MIMECodec::decode(input, enc.constData());
    // The tool writes the text without the NUL the library counts.
    const QByteArray lower = enc.toLower();
    if (lower.startsWith("quoted-printable") || (lower == "base64" && command == QLatin1String("encode"))) {
        QCOMPARE(expected.back(), '\0');
        expected.chop(1);
    }

    QStringList args{command, QStringLiteral("--encoding"), encoding};
    if (footer)
        args << QStringLiteral("--footer");
    Run r;
    if (viaStdin) {
        r = run(args << QStringLiteral("-"), input);
    } else {
        const QString path = writeTemp(QStringLiteral("input"), input);
        QVERIFY(!path.isEmpty());
        r = run(args << path);
    }
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.rc, 0);
    QCOMPARE(r.out.size(), expected.size());
    QVERIFY2(r.out == expected, "the tool's output differs from the library's");
}

void tst_ToolCodec::md5()
{
    const QByteArray a = randomBytes(7, Big + 5);
    const QByteArray b = QByteArray("abc");
    const QString pa = writeTemp(QStringLiteral("a.bin"), a);
    const QString pb = writeTemp(QStringLiteral("b.txt"), b);
    const QString pe = writeTemp(QStringLiteral("empty"), QByteArray());
    auto line = [](const QByteArray& data, const QString& name) {
        return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex() + "  "
            + QFile::encodeName(name) + '\n';
    };
    Run r = run({QStringLiteral("md5"), pa, pb, pe});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.rc, 0);
    QCOMPARE(r.out, line(a, pa) + line(b, pb) + line(QByteArray(), pe));
    QVERIFY(r.out.contains("900150983cd24fb0d6963f7d28e17f72  "));

    r = run({QStringLiteral("md5")}, a);
    QCOMPARE(r.rc, 0);
    QCOMPARE(r.out, line(a, QStringLiteral("-")));
    r = run({QStringLiteral("md5"), QStringLiteral("-")}, b);
    QCOMPARE(r.out, QByteArray("900150983cd24fb0d6963f7d28e17f72  -\n"));
}

void tst_ToolCodec::md5MissingFile()
{
    const QString pb = writeTemp(QStringLiteral("b.txt"), "abc");
    const QString missing = m_tmp.filePath(QStringLiteral("no-such-file"));
    const Run r = run({QStringLiteral("md5"), missing, pb});
    QVERIFY(r.rc != 0);
    QVERIFY2(r.err.contains("cannot open"), r.err.constData());
    QVERIFY(r.err.contains(QFile::encodeName(missing)));
    // The files that can be read are still digested.
    QCOMPARE(r.out, "900150983cd24fb0d6963f7d28e17f72  " + QFile::encodeName(pb) + '\n');
}

void tst_ToolCodec::help_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("encode") << QStringLiteral("encode");
    QTest::newRow("decode") << QStringLiteral("decode");
    QTest::newRow("md5") << QStringLiteral("md5");
}

void tst_ToolCodec::help()
{
    QFETCH(QString, command);
    const Run r = run({command, QStringLiteral("--help")});
    QCOMPARE(r.rc, 0);
    QCOMPARE(r.err, QByteArray());
    QVERIFY2(r.out.startsWith("usage: orvane-mail " + command.toLatin1() + ' '), r.out.constData());
    QVERIFY(r.out.count('\n') > 2);
    // The general usage lists the command.
    const Run all = run({QStringLiteral("--help")});
    QCOMPARE(all.rc, 0);
    QVERIFY(all.out.contains("\n  " + command.toLatin1() + ' '));
}

void tst_ToolCodec::version()
{
    const Run r = run({QStringLiteral("--version")});
    QCOMPARE(r.rc, 0);
    QCOMPARE(r.out, QByteArray("orvane-mail " ORVANE_MAIL_VERSION "\n"));
}

// Every failure: a message on stderr, a non-zero exit and nothing on stdout.
void tst_ToolCodec::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("message");
    const QString missing = m_tmp.filePath(QStringLiteral("no-such-file"));
    const QString enc = QStringLiteral("--encoding");
    QTest::newRow("encode, unknown encoding")
        << QStringList{QStringLiteral("encode"), enc, QStringLiteral("x-uuencode"), QStringLiteral("-")}
        << QByteArray("unknown encoding");
    QTest::newRow("decode, unknown encoding")
        << QStringList{QStringLiteral("decode"), enc, QStringLiteral("x-uuencode")}
        << QByteArray("unknown encoding");
    QTest::newRow("decode, compat is no decoding")
        << QStringList{QStringLiteral("decode"), enc, QStringLiteral("quoted-printable-compat")}
        << QByteArray("unknown encoding");
    QTest::newRow("encode, no encoding") << QStringList{QStringLiteral("encode")} << QByteArray("--encoding");
    QTest::newRow("encode, missing file")
        << QStringList{QStringLiteral("encode"), enc, QStringLiteral("base64"), missing}
        << QByteArray("cannot open");
    QTest::newRow("decode, missing file")
        << QStringList{QStringLiteral("decode"), enc, QStringLiteral("quoted-printable"), missing}
        << QByteArray("cannot open");
    QTest::newRow("md5, missing file") << QStringList{QStringLiteral("md5"), missing}
                                       << QByteArray("cannot open");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("decode"), enc, QStringLiteral("base64"), QStringLiteral("--fast")}
        << QByteArray("unknown option");
    QTest::newRow("decode has no footer")
        << QStringList{QStringLiteral("decode"), enc, QStringLiteral("base64"), QStringLiteral("--footer")}
        << QByteArray("unknown option");
}

void tst_ToolCodec::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, message);
    const Run r = run(args, "YWJj");
    QVERIFY(r.rc > 0);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.startsWith("orvane-mail: "), r.err.constData());
    QVERIFY2(r.err.contains(message), r.err.constData());
}

QTEST_GUILESS_MAIN(tst_ToolCodec)
#include "tst_tool_codec.moc"
