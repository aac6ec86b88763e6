// Encoded-word decoding (MIMECodec::translate) and the charset registry.
//
// Charset results never depend on the machine: every test that touches the
// locale codec sets it explicitly and restores it afterwards.

#include <charsets.h>
#include <mimecodec.h>

#include <QLocale>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTest>
#include <QTextCodec>

#include "systemcodec.h"

namespace {

QTextCodec* systemCodec()
{
    static QTextCodec* codec = new SystemCodec;  // owned by Qt's codec registry
    return codec;
}

// Sets the locale codec (and optionally the default locale) for one scope.
struct LocaleScope {
    QTextCodec* oldCodec = QTextCodec::codecForLocale();
    QLocale oldLocale;
    explicit LocaleScope(QTextCodec* codec, const QString& locale = QString())
    {
        QTextCodec::setCodecForLocale(codec);
        if (!locale.isNull())
            QLocale::setDefault(QLocale(locale));
    }
    ~LocaleScope()
    {
        QTextCodec::setCodecForLocale(oldCodec);
        QLocale::setDefault(oldLocale);
    }
};

} // namespace

class tst_CharSets : public QObject
{
    Q_OBJECT

private slots:
    // Decoding never depends on the locale codec: run with one that differs
    // from every charset the rows use.
    void initTestCase()
    {
        systemCodec();
        m_oldCodec = QTextCodec::codecForLocale();
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("KOI8-U"));
    }
    void cleanupTestCase() { QTextCodec::setCodecForLocale(m_oldCodec); }

    void translate_data();
    void translate();
    void translateNullAndEmpty();
    void translateUnknownCharsetWarnsPerWord();
    void translateMatchesTransferDecoders();
    void translateLargeInputs_data();
    void translateLargeInputs();

    void fromQTCodec_data();
    void fromQTCodec();
    void fromQTCodecCaches();
    void getDefaultCharset_data();
    void getDefaultCharset();
    void getCodec_data();
    void getCodec();
    void isRFC822_data();
    void isRFC822();
    void singleton();

private:
    QTextCodec* m_oldCodec = nullptr;
};

void tst_CharSets::translate_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QByteArray>("warning");  // expected diagnostic, if any

    const QByteArray none;
    // Rows that the rules state directly.
    QTest::newRow("q latin1") << QByteArray("=?ISO-8859-1?Q?caf=E9?=") << QStringLiteral("caf\u00e9") << none;
    QTest::newRow("b utf8 padded") << QByteArray("=?utf-8?B?w6k=?=") << QStringLiteral("\u00e9") << none;
    QTest::newRow("q text starts with =") << QByteArray("=?ISO-8859-1?Q?=E9t=E9?=") << QStringLiteral("\u00e9t\u00e9") << none;
    QTest::newRow("space between words kept")
        << QByteArray("a =?utf-8?Q?b?= =?utf-8?Q?c?= d") << QStringLiteral("a b c d") << none;
    QTest::newRow("adjacent words") << QByteArray("=?utf-8?Q?a?==?utf-8?Q?b?=") << QStringLiteral("ab") << none;
    QTest::newRow("underscore stays") << QByteArray("=?utf-8?Q?a_b?=") << QStringLiteral("a_b") << none;
    QTest::newRow("plain") << QByteArray("plain text") << QStringLiteral("plain text") << none;
    QTest::newRow("unterminated") << QByteArray("x =?broken") << QStringLiteral("x =?broken") << none;
    QTest::newRow("unterminated after word")
        << QByteArray("=?utf-8?Q?ok?= =?utf-8?Q?no") << QStringLiteral("ok =?utf-8?Q?no") << none;
    QTest::newRow("text around") << QByteArray("Re: =?utf-8?Q?caf=C3=A9?= ok") << QStringLiteral("Re: caf\u00e9 ok") << none;
    QTest::newRow("8-bit outside words is latin1") << QByteArray("caf\xe9") << QStringLiteral("caf\u00e9") << none;
    QTest::newRow("lower-case letters") << QByteArray("=?utf-8?q?=c3=a9?= =?UTF-8?b?w6k=?=") << QStringLiteral("\u00e9 \u00e9") << none;
    QTest::newRow("empty q text") << QByteArray("=?utf-8?Q?" "?=") << QString() << none;
    QTest::newRow("trailing = in q text") << QByteArray("=?utf-8?Q?a=?=") << QStringLiteral("a") << none;

    // Charsets known to ICU.
    QTest::newRow("iso-8859-2") << QByteArray("=?ISO-8859-2?Q?=B1?=") << QStringLiteral("\u0105") << none;
    QTest::newRow("iso-8859-15") << QByteArray("=?iso-8859-15?Q?=A4?=") << QStringLiteral("\u20ac") << none;
    QTest::newRow("iso-8859-7") << QByteArray("=?ISO-8859-7?B?xevr3OTh?=") << QStringLiteral("\u0395\u03bb\u03bb\u03ac\u03b4\u03b1") << none;
    QTest::newRow("windows-1252") << QByteArray("=?windows-1252?Q?=80?=") << QStringLiteral("\u20ac") << none;
    QTest::newRow("windows-1251") << QByteArray("=?windows-1251?B?z/Do4uXy?=") << QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442") << none;
    QTest::newRow("koi8-r") << QByteArray("=?KOI8-R?B?8NLJ18XU?=") << QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442") << none;
    QTest::newRow("big5") << QByteArray("=?Big5?B?pKSk5Q==?=") << QStringLiteral("\u4e2d\u6587") << none;
    QTest::newRow("gbk") << QByteArray("=?GBK?B?1tDOxA==?=") << QStringLiteral("\u4e2d\u6587") << none;
    QTest::newRow("gb2312") << QByteArray("=?gb2312?Q?=D6=D0=CE=C4?=") << QStringLiteral("\u4e2d\u6587") << none;
    QTest::newRow("shift_jis") << QByteArray("=?Shift_JIS?B?k/qWe4zq?=") << QStringLiteral("\u65e5\u672c\u8a9e") << none;
    QTest::newRow("euc-jp") << QByteArray("=?EUC-JP?B?xvzL3Ljs?=") << QStringLiteral("\u65e5\u672c\u8a9e") << none;
    QTest::newRow("iso-2022-jp") << QByteArray("=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=") << QStringLiteral("\u65e5\u672c\u8a9e") << none;
    QTest::newRow("euc-kr") << QByteArray("=?EUC-KR?B?x9GxuQ==?=") << QStringLiteral("\ud55c\uad6d") << none;
    QTest::newRow("utf-7") << QByteArray("=?UTF-7?Q?+AOkgrA-?=") << QStringLiteral("\u00e9\u20ac") << none;
    QTest::newRow("us-ascii") << QByteArray("=?us-ascii?Q?hello?=") << QStringLiteral("hello") << none;
    QTest::newRow("mixed charsets")
        << QByteArray("=?KOI8-R?B?8NLJ18XU?= / =?ISO-8859-1?Q?caf=E9?=")
        << QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442 / caf\u00e9") << none;

    // Zero bytes: the decoded text ends at the first one (base64); the
    // quoted-printable decoder drops it.
    QTest::newRow("b with terminator") << QByteArray("=?utf-8?B?w6kA?=") << QStringLiteral("\u00e9") << none;
    QTest::newRow("b zero in middle") << QByteArray("=?utf-8?B?YQBi?= c") << QStringLiteral("a c") << none;
    QTest::newRow("utf-16 starts with zero") << QByteArray("=?UTF-16BE?B?AOk=?=") << QString() << none;
    QTest::newRow("q zero dropped") << QByteArray("=?utf-8?Q?a=00b?=") << QStringLiteral("ab") << none;
    QTest::newRow("nul ends the raw text") << QByteArray("ab\0=?utf-8?Q?c?=", 16) << QStringLiteral("ab") << none;

    // Unknown charsets and encodings.
    QTest::newRow("unknown charset")
        << QByteArray("=?x-unknown?Q?caf=E9?=") << QStringLiteral("caf\u00e9")
        << QByteArray("Warning: could not find textcodec for x-unknown.");
    QTest::newRow("unknown encoding letter") << QByteArray("=?utf-8?X?a=41b?=") << QStringLiteral("a=41b") << none;
    QTest::newRow("no ? inside") << QByteArray("=?abc?=") << QStringLiteral("abc")
                                  << QByteArray("Warning: could not find textcodec for abc.");
    // The second '?' is the one of "?=", so no closing mark follows it.
    QTest::newRow("one ? inside") << QByteArray("=?utf-8?abc?=") << QStringLiteral("=?utf-8?abc?=") << none;
    QTest::newRow("empty charset") << QByteArray("=??Q?a?=") << QStringLiteral("a")
                                   << QByteArray("Warning: could not find textcodec for .");

    // Malformed encoded text decodes what it can.
    QTest::newRow("b unpadded") << QByteArray("=?utf-8?B?w6k?=") << QStringLiteral("\u00e9") << none;
    QTest::newRow("b junk skipped") << QByteArray("=?utf-8?B?w6*k=?=") << QStringLiteral("\u00e9") << none;
    QTest::newRow("b stops at pad") << QByteArray("=?utf-8?B?YWJj=ZGVm?=") << QStringLiteral("abc") << none;
    QTest::newRow("b single char") << QByteArray("=?utf-8?B?Y?=") << QString() << none;
    QTest::newRow("q bad escape kept") << QByteArray("=?utf-8?Q?a=ZZb?=") << QStringLiteral("a=ZZb") << none;
    QTest::newRow("q invalid utf8")
        << QByteArray("=?utf-8?Q?a=FFb?=") << QStringLiteral("a\ufffdb") << none;
}

void tst_CharSets::translate()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, expected);
    QFETCH(QByteArray, warning);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, warning.constData());
    const QString got = MIMECodec::translate(QCString(raw));
    QCOMPARE(got, expected);
    QVERIFY(!got.isNull());  // only empty input gives a null string
}

void tst_CharSets::translateNullAndEmpty()
{
    QVERIFY(MIMECodec::translate(QCString()).isNull());
    QVERIFY(MIMECodec::translate(QCString("")).isNull());
    QVERIFY(MIMECodec::translate(QCString("\0abc", 4)).isNull());
}

void tst_CharSets::translateUnknownCharsetWarnsPerWord()
{
    QTest::ignoreMessage(QtDebugMsg, "Warning: could not find textcodec for x-a.");
    QTest::ignoreMessage(QtDebugMsg, "Warning: could not find textcodec for x-a.");
    QTest::ignoreMessage(QtDebugMsg, "Warning: could not find textcodec for X-B.");
    QCOMPARE(MIMECodec::translate("=?x-a?Q?1?= =?x-a?B?Mg==?= =?X-B?Q?=333?="), QStringLiteral("1 2 33"));
}

// For well-formed text the encoded-word decoder gives exactly what the
// transfer decoders give: random bytes through base64 and quoted-printable.
void tst_CharSets::translateMatchesTransferDecoders()
{
    QRandomGenerator rng(20261206);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(int(rng.bounded(0, 60)), Qt::Uninitialized);
        for (char& c : bytes)
            c = char(rng.bounded(0, 256));
        // base64 (without the NUL the encoder appends)
        QByteArray b64 = MIMECodec::encodeBase64(bytes, false, false);
        b64.chop(1);
        QByteArray expected = MIMECodec::decode(b64, "base64");
        expected.truncate(qstrnlen(expected.constData(), expected.size()));
        QCOMPARE(MIMECodec::translate(QCString("x =?ISO-8859-1?B?" + b64 + "?= y")),
                 QLatin1String("x ") + QString::fromLatin1(expected) + QLatin1String(" y"));
        // quoted-printable of random printable text with escapes, '=' and '_'
        QByteArray q;
        for (int i = 0; i < 20; ++i) {
            const int k = int(rng.bounded(0, 5));
            if (k == 0)
                q += '=';
            else if (k == 1)
                q += "=" + QByteArray::number(rng.bounded(0, 256), 16).rightJustified(2, '0').toUpper();
            else
                q += char(rng.bounded(0x21, 0x7f));
        }
        q.replace('?', '_');
        const QByteArray qd = MIMECodec::decode(q, "quoted-printable");
        const QString exp = QString::fromLatin1(qd.constData(), qstrnlen(qd.constData(), qd.size()));
        // The closing "?=" is the first one after the text starts.
        if (q.contains("?="))
            continue;
        QCOMPARE(MIMECodec::translate(QCString("=?ISO-8859-1?Q?" + q + "?=")), exp);
    }
}

void tst_CharSets::translateLargeInputs_data()
{
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<int>("repeat");
    QTest::addColumn<int>("expectedLength");  // -1: only bounded by the input

    QTest::newRow("many words") << QByteArray("=?utf-8?B?w6k=?= ") << 60000 << 120000;
    QTest::newRow("many openings") << QByteArray("=?") << 500000 << -1;
    QTest::newRow("openings and ?") << QByteArray("=?a?b?c") << 150000 << -1;
    QTest::newRow("question marks") << QByteArray("?") << 1000000 << 1000000;
    QTest::newRow("unterminated q") << QByteArray("=?utf-8?Q?=E9") << 80000 << -1;
    QTest::newRow("spaces") << QByteArray(" ") << 1000000 << 1000000;
    QTest::newRow("long b text") << QByteArray("QUJD") << 250000 << 750000;
}

// Megabyte values of any shape decode in one linear pass (a rescan per
// word would not finish within the test's timeout).
void tst_CharSets::translateLargeInputs()
{
    QFETCH(QByteArray, unit);
    QFETCH(int, repeat);
    QFETCH(int, expectedLength);
    QByteArray raw = unit.repeated(repeat);
    if (unit == "QUJD")
        raw = "=?us-ascii?B?" + raw + "?=";
    // Words with unknown charsets would write one diagnostic each.
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    const QString got = MIMECodec::translate(QCString(raw));
    QLoggingCategory::setFilterRules(QString());
    if (expectedLength >= 0)
        QCOMPARE(got.size(), expectedLength);
    else
        QVERIFY(got.size() > 0 && got.size() <= raw.size());
}

void tst_CharSets::fromQTCodec_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("iso8859-2") << QStringLiteral("iso8859-2") << QStringLiteral("iso-8859-2");
    QTest::newRow("iso8859-1") << QStringLiteral("iso8859-1") << QStringLiteral("iso-8859-1");
    QTest::newRow("iso8859-12") << QStringLiteral("iso8859-12") << QStringLiteral("iso-8859-12");
    QTest::newRow("iso8859-15") << QStringLiteral("iso8859-15") << QStringLiteral("iso-8859-15");
    QTest::newRow("iso10646-1") << QStringLiteral("iso10646-1") << QStringLiteral("unicode");
    QTest::newRow("koi8-r") << QStringLiteral("koi8-r") << QStringLiteral("koi8r");
    QTest::newRow("koi8-u") << QStringLiteral("koi8-u") << QStringLiteral("koi8u");
    QTest::newRow("microsoft-cp1251") << QStringLiteral("microsoft-cp1251") << QStringLiteral("cp 1251");
    QTest::newRow("paratype-cp154") << QStringLiteral("paratype-cp154") << QStringLiteral("pt 154");
    QTest::newRow("jisx0208") << QStringLiteral("jisx0208.1983-0") << QStringLiteral("eucjp");
    QTest::newRow("ksc5601") << QStringLiteral("ksc5601.1987-0") << QStringLiteral("euckr");
    QTest::newRow("tis620.2533-1") << QStringLiteral("tis620.2533-1") << QStringLiteral("set-th-th");
    QTest::newRow("gb2312 first row wins") << QStringLiteral("gb2312.1980-0") << QStringLiteral("set-gbk");
    QTest::newRow("cns11643") << QStringLiteral("cns11643.1986-") << QStringLiteral("set-zh-tw");
    QTest::newRow("big5-0") << QStringLiteral("big5-0") << QStringLiteral("big5");
    QTest::newRow("tscii-0") << QStringLiteral("tscii-0") << QStringLiteral("tscii");
    QTest::newRow("utf8") << QStringLiteral("utf8") << QStringLiteral("utf-8");
    QTest::newRow("utf16") << QStringLiteral("utf16") << QStringLiteral("utf-16");
    QTest::newRow("tis620-0") << QStringLiteral("tis620-0") << QStringLiteral("iso-8859-11");
    QTest::newRow("normalised maps to itself") << QStringLiteral("iso-8859-5") << QStringLiteral("iso-8859-5");
    QTest::newRow("set-zh") << QStringLiteral("set-zh") << QStringLiteral("set-zh");
    QTest::newRow("Any") << QStringLiteral("Any") << QStringLiteral("Any");
    QTest::newRow("unknown") << QStringLiteral("X") << QStringLiteral("X");
    QTest::newRow("case-sensitive") << QStringLiteral("UTF8") << QStringLiteral("UTF8");
    QTest::newRow("case-sensitive any") << QStringLiteral("any") << QStringLiteral("any");
    QTest::newRow("empty") << QStringLiteral("") << QStringLiteral("");
}

void tst_CharSets::fromQTCodec()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    CharSets* cs = CharSets::thisInstance();
    QCOMPARE(cs->fromQTCodec(name), expected);
    QCOMPARE(cs->fromQTCodec(name), expected);  // the cached answer
}

void tst_CharSets::fromQTCodecCaches()
{
    // A subclass sees the cache through the base behaviour: the first answer
    // for a name stays, whatever the tables say later.
    CharSets* cs = CharSets::thisInstance();
    QCOMPARE(cs->fromQTCodec(QStringLiteral("utf8")), QStringLiteral("utf-8"));
    QCOMPARE(cs->fromQTCodec(QStringLiteral("utf8")), QStringLiteral("utf-8"));
}

void tst_CharSets::getDefaultCharset_data()
{
    QTest::addColumn<QByteArray>("codec");  // empty: the injected "System"
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");

    QTest::newRow("System de") << QByteArray() << QStringLiteral("de_DE") << QStringLiteral("ISO-8859-1");
    QTest::newRow("System en") << QByteArray() << QStringLiteral("en_US") << QStringLiteral("ISO-8859-1");
    QTest::newRow("System es") << QByteArray() << QStringLiteral("es_ES") << QStringLiteral("ISO-8859-1");
    QTest::newRow("System nb") << QByteArray() << QStringLiteral("nb_NO") << QStringLiteral("ISO-8859-1");
    QTest::newRow("System sv") << QByteArray() << QStringLiteral("sv_SE") << QStringLiteral("ISO-8859-1");
    QTest::newRow("System pl") << QByteArray() << QStringLiteral("pl_PL") << QStringLiteral("ISO-8859-2");
    QTest::newRow("System cs") << QByteArray() << QStringLiteral("cs_CZ") << QStringLiteral("ISO-8859-2");
    QTest::newRow("System hr") << QByteArray() << QStringLiteral("hr_HR") << QStringLiteral("ISO-8859-2");
    QTest::newRow("System ja") << QByteArray() << QStringLiteral("ja_JP") << QStringLiteral("System");
    QTest::newRow("System ru") << QByteArray() << QStringLiteral("ru_RU") << QStringLiteral("System");
    QTest::newRow("System C") << QByteArray() << QStringLiteral("C") << QStringLiteral("System");
    QTest::newRow("utf-8 codec") << QByteArray("UTF-8") << QStringLiteral("de_DE") << QStringLiteral("UTF-8");
    QTest::newRow("latin1 codec") << QByteArray("ISO-8859-1") << QStringLiteral("ja_JP") << QStringLiteral("ISO-8859-1");
    QTest::newRow("koi8-r codec") << QByteArray("KOI8-R") << QStringLiteral("ru_RU") << QStringLiteral("KOI8-R");
}

void tst_CharSets::getDefaultCharset()
{
    QFETCH(QByteArray, codec);
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QTextCodec* c = codec.isEmpty() ? systemCodec() : QTextCodec::codecForName(codec);
    QVERIFY(c);
    LocaleScope scope(c, locale);
    QCOMPARE(CharSets::thisInstance()->getDefaultCharset(), expected);
}

void tst_CharSets::getCodec_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expectCodec");

    QTest::newRow("latin1 e-acute") << QByteArray("ISO-8859-1") << QStringLiteral("\u00e9") << true;
    QTest::newRow("latin1 euro") << QByteArray("ISO-8859-1") << QStringLiteral("\u20ac") << false;
    QTest::newRow("latin1 empty") << QByteArray("ISO-8859-1") << QString() << true;
    QTest::newRow("koi8-r cyrillic") << QByteArray("KOI8-R") << QStringLiteral("\u041f") << true;
    QTest::newRow("koi8-r e-acute") << QByteArray("KOI8-R") << QStringLiteral("\u00e9") << false;
    QTest::newRow("utf-8 anything") << QByteArray("UTF-8") << QStringLiteral("\u65e5\u20ac") << true;
}

void tst_CharSets::getCodec()
{
    QFETCH(QByteArray, codec);
    QFETCH(QString, text);
    QFETCH(bool, expectCodec);
    QTextCodec* c = QTextCodec::codecForName(codec);
    QVERIFY(c);
    LocaleScope scope(c);
    QCOMPARE(CharSets::getCodec(text), expectCodec ? c : nullptr);
}

void tst_CharSets::isRFC822_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("expected");
    QTest::newRow("null") << QByteArray() << true;
    QTest::newRow("empty") << QByteArray("") << true;
    QTest::newRow("ascii") << QByteArray("Hello, world ~\x7f\x01") << true;
    QTest::newRow("e9") << QByteArray("caf\xe9") << false;
    QTest::newRow("80") << QByteArray("\x80") << false;
    QTest::newRow("utf-8") << QByteArray("\xc3\xa9") << false;
    QTest::newRow("high byte after nul") << QByteArray("ab\0\xff", 4) << true;
}

void tst_CharSets::isRFC822()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, expected);
    QCOMPARE(CharSets::isRFC822(QCString(text)), expected);
}

void tst_CharSets::singleton()
{
    CharSets* a = CharSets::thisInstance();
    QVERIFY(a);
    QCOMPARE(CharSets::thisInstance(), a);
}

QTEST_GUILESS_MAIN(tst_CharSets)
#include "tst_charsets.moc"
