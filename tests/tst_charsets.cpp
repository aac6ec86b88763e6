// Encoded-word decoding (MIMECodec::translate) and the charset registry.
// Every test that touches the locale codec sets it and restores it after.

#include <charsets.h>
#include <mimecodec.h>

#include <QLocale>
#include <QTest>
#include <QTextCodec>

#include "systemcodec.h"

// The default charset with \a codec as the locale codec and \a locale as the default locale.
static QString defaultCharset(QTextCodec* codec, const char* locale)
{
    QTextCodec* old = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(codec);
    QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
    const QString name = CharSets::thisInstance()->getDefaultCharset();
    QTextCodec::setCodecForLocale(old);
    QLocale::setDefault(QLocale::c());
    return name;
}

class tst_CharSets : public QObject
{
    Q_OBJECT

private slots:
    // Decoding never depends on the locale codec: run with one that differs
    // from every charset the rows use.
    void initTestCase() { QTextCodec::setCodecForLocale(QTextCodec::codecForName("KOI8-U")); }
    void translate_data();
    void translate();
    void registry();
};

void tst_CharSets::translate_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QByteArray>("warnings"); // expected diagnostics, '|' between

    const QByteArray none;
    QTest::newRow("empty is null") << QByteArray("\0abc", 4) << QString() << none;
    QTest::newRow("plain, 8-bit is latin1") << QByteArray("caf\xe9") << QStringLiteral("caf\u00e9") << none;
    QTest::newRow("q latin1 starting with =") << QByteArray("=?ISO-8859-1?Q?=E9t=E9?=") << QStringLiteral("\u00e9t\u00e9") << none;
    QTest::newRow("b utf8, lower-case letters, space between words dropped")
        << QByteArray("Re: =?utf-8?b?w6k=?= =?UTF-8?q?a_b=c3=a9?= ok") << QStringLiteral("Re: \u00e9a b\u00e9 ok") << none;
    QTest::newRow("adjacent words") << QByteArray("=?utf-8?Q?a?==?utf-8?Q?b?=") << QStringLiteral("ab") << none;
    QTest::newRow("unterminated after word") << QByteArray("=?utf-8?Q?ok?= =?utf-8?Q?no") << QStringLiteral("ok =?utf-8?Q?no") << none;
    QTest::newRow("mixed charsets") << QByteArray("=?KOI8-R?B?8NLJ18XU?= / =?gb2312?Q?=D6=D0=CE=C4?=")
                                    << QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442 / \u4e2d\u6587") << none;
    // Zero bytes: the decoded text ends at the first one (base64); the
    // quoted-printable decoder drops it.
    QTest::newRow("b zero in middle") << QByteArray("=?utf-8?B?YQAi?= c") << QStringLiteral("a c") << none;
    QTest::newRow("q zero dropped, bad escape kept") << QByteArray("=?utf-8?Q?a=00b=ZZc=?=") << QStringLiteral("ab=ZZc") << none;
    QTest::newRow("q soft breaks") << QByteArray("=?utf-8?Q?a=\nb=\r\nc?=") << QStringLiteral("abc") << none;
    QTest::newRow("unknown charset, per run of words")
        << QByteArray("=?x-a?Q?caf=E9?= =?x-a?B?Mg==?= =?X-B?Q?=333?=") << QStringLiteral("caf\u00e9233")
        << QByteArray("Warning: could not find textcodec for x-a.|Warning: could not find textcodec for X-B.");
    QTest::newRow("unknown encoding letter") << QByteArray("=?utf-8?X?a=41b?=") << QStringLiteral("a=41b") << none;
    QTest::newRow("no ? inside") << QByteArray("=?abc?=") << QStringLiteral("abc")
                                 << QByteArray("Warning: could not find textcodec for abc.");
    // The second '?' is the one of "?=", so no closing mark follows it.
    QTest::newRow("one ? inside") << QByteArray("=?utf-8?abc?=") << QStringLiteral("=?utf-8?abc?=") << none;
    QTest::newRow("b junk skipped, stops at pad") << QByteArray("=?utf-8?B?w6*k=ZGVm?=") << QStringLiteral("\u00e9") << none;
    // RFC 2047, section 8: blanks and folds between words go, text keeps its
    // blank; RFC 2231 adds a language after the charset.
    QTest::newRow("8 word then text") << QByteArray("(=?ISO-8859-1?Q?a?= b)") << QStringLiteral("(a b)") << none;
    QTest::newRow("8 folded") << QByteArray("(=?ISO-8859-1?Q?a?=\r\n    =?ISO-8859-1?Q?b?=)") << QStringLiteral("(ab)") << none;
    QTest::newRow("8 two charsets") << QByteArray("(=?ISO-8859-1?Q?a?= =?ISO-8859-2?Q?_b?=)") << QStringLiteral("(a b)") << none;
    QTest::newRow("2231 language") << QByteArray("=?US-ASCII*EN?Q?Keith_Moore?=") << QStringLiteral("Keith Moore") << none;
    // mimekit/messages__japanese.eml: stateful ISO-2022-JP over two words.
    QTest::newRow("japanese") << QByteArray("=?ISO-2022-JP?B?GyRCRnxLXDhsJWEhPCVrJUYlOSVIGyhCICh0ZXN0aW5nIEph?=\r\n "
                                            "=?ISO-2022-JP?B?cGFuZXNlIGVtYWlscyk=?=")
                              << QStringLiteral("\u65e5\u672c\u8a9e\u30e1\u30fc\u30eb\u30c6\u30b9\u30c8 (testing Japanese emails)") << none;
    // A character split between two words in one charset decodes whole.
    QTest::newRow("split q") << QByteArray("=?utf-8?Q?=E3=81=BE=E3=81=BF=E3=82?= =?utf-8?Q?=80=E3=82=81=E3=82=82?=")
                             << QStringLiteral("\u307e\u307f\u3080\u3081\u3082") << none;
    // RFC 6532: raw UTF-8 is UTF-8, beside encoded words too.
    QTest::newRow("6532 utf-8") << QByteArray("S\xc3\xa4ying hi \xf0\x9f\x8e\x89") << QStringLiteral("S\u00e4ying hi \U0001F389") << none;
    QTest::newRow("utf-8 beside word") << QByteArray("\xc3\xa9t\xc3\xa9 =?utf-8?Q?=C3=A9?=") << QStringLiteral("\u00e9t\u00e9 \u00e9") << none;
    // Megabyte values of any shape decode in one linear pass (a rescan per word would time out).
    QTest::newRow("60000 words") << QByteArray("=?utf-8?B?w6k=?= ").repeated(60000) << QString(60000, QChar(0xe9)) + u' ' << none;
    for (const char* unit : {"=?a?b?c", "=?utf-8?Q?a"})
        QTest::addRow("openings only: %s", unit) << QByteArray(unit).repeated(100000)
                                                 << QString::fromLatin1(unit).repeated(100000) << none;
}

void tst_CharSets::translate()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, expected);
    QFETCH(QByteArray, warnings);
    for (const QByteArray& w : warnings.split('|'))
        if (!w.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, w.constData());
    const QString got = MIMECodec::translate(QCString(raw));
    QCOMPARE(got, expected);
    QCOMPARE(got.isNull(), raw.startsWith('\0')); // only empty input gives a null string
}

void tst_CharSets::registry()
{
    CharSets* cs = CharSets::thisInstance();
    // Alternative spellings map to the normalised name; the answer is cached.
    const QStringList names = QStringLiteral("iso8859-2,iso10646-1,gb2312.1980-0,tis620-0,utf8,utf8,set-zh,UTF8,X,")
                                  .split(QLatin1Char(','));
    QStringList got;
    for (const QString& n : names)
        got << cs->fromQTCodec(n);
    QCOMPARE(got.join(QLatin1Char(',')), QStringLiteral("iso-8859-2,unicode,set-gbk,iso-8859-11,utf-8,utf-8,set-zh,UTF8,X,"));

    // "System" names no codec until one is made.
    QTest::ignoreMessage(QtDebugMsg, "Warning: could not find textcodec for System.");
    MIMECodec::translate(QCString("=?System?Q?=E9?="));
    // The default charset: the locale codec's name, and for the platform's
    // own ("System") one by the language.
    static QTextCodec* const system = new SystemCodec; // owned by Qt's codec registry
    for (const char* row : {"de_DE ISO-8859-1", "sv_SE ISO-8859-1", "pl_PL ISO-8859-2", "ja_JP System"})
        QCOMPARE(defaultCharset(system, row), QString::fromLatin1(row + 6));
    QCOMPARE(defaultCharset(QTextCodec::codecForName("KOI8-R"), "de_DE"), QStringLiteral("KOI8-R"));
    // A new locale codec empties the charset cache: "System" names a codec now.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("KOI8-R"));
    static int misses = 0;
    const QtMessageHandler testLog = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) { ++misses; });
    MIMECodec::translate(QCString("=?System?Q?=E9?="));
    qInstallMessageHandler(testLog);
    QCOMPARE(misses, 0);
    // The locale codec when it can encode the text.
    QCOMPARE(CharSets::getCodec(QStringLiteral("\u041f")), QTextCodec::codecForLocale());
    QCOMPARE(CharSets::getCodec(QStringLiteral("\u00e9")), nullptr);
    QVERIFY(CharSets::isRFC822(QCString("Hello, world ~\x7f\x01")) && CharSets::isRFC822(QCString(QByteArray("ab\0\xff", 4))));
    QVERIFY(!CharSets::isRFC822(QCString("caf\xe9")) && !CharSets::isRFC822(QCString("\x80")));
}

QTEST_GUILESS_MAIN(tst_CharSets)
#include "tst_charsets.moc"
