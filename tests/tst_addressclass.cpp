// AddressClass: parsing raw and Unicode text, display and header forms.

#include <addressclass.h>

#include <QTest>
#include <QTextCodec>
#include <QTextStream>

#include "systemcodec.h"

class tst_AddressClass : public QObject
{
    Q_OBJECT

private slots:
    void fromRaw_data();
    void fromRaw();
    void fromUnicode_data();
    void fromUnicode();
    void unicodeNotCarriedByUtf8();
    void defaultAndCopy();
    void equality();
    void translatedName();
    void fullAddressOfEightBitEmail_data();
    void fullAddressOfEightBitEmail();
    void headerFormNeverBreaksLines_data();
    void headerFormNeverBreaksLines();
    void decodedLineBreakStaysOutOfHeader();
    void textStream();
    void longInputIsLinear();
};

void tst_AddressClass::fromRaw_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("name");  // null QByteArray: expect null
    QTest::addColumn<QByteArray>("email");
    QTest::addColumn<QString>("translated");
    QTest::addColumn<QByteArray>("original");
    QTest::addColumn<QString>("full");

    const QByteArray null;
    QTest::newRow("name and angle address")
        << QByteArray("John Doe <john@example.com>") << QByteArray("John Doe") << QByteArray("john@example.com")
        << QStringLiteral("John Doe") << QByteArray("\"John Doe\"  <john@example.com>")
        << QStringLiteral("\"John Doe\" <john@example.com>");
    QTest::newRow("quoted name") << QByteArray("\"John Doe\" <john@example.com>") << QByteArray("John Doe")
                                 << QByteArray("john@example.com") << QStringLiteral("John Doe")
                                 << QByteArray("\"John Doe\"  <john@example.com>")
                                 << QStringLiteral("\"John Doe\" <john@example.com>");
    QTest::newRow("bare name and address") << QByteArray("John Doe john@example.com") << QByteArray("John Doe")
                                           << QByteArray("john@example.com") << QStringLiteral("John Doe")
                                           << QByteArray("\"John Doe\"  <john@example.com>")
                                           << QStringLiteral("\"John Doe\" <john@example.com>");
    QTest::newRow("encoded word name")
        << QByteArray("=?utf-8?B?w6k=?= <e@x.org>") << QByteArray("=?utf-8?B?w6k=?=") << QByteArray("e@x.org")
        << QStringLiteral("\u00e9") << QByteArray("=?utf-8?B?w6k=?= <e@x.org>") << QStringLiteral("\"\u00e9\" <e@x.org>");
    QTest::newRow("encoded words and plain")
        << QByteArray("=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>")
        << QByteArray("=?ISO-8859-1?Q?Andr=E9?= Pirard") << QByteArray("PIRARD@vm1.ulg.ac.be")
        << QStringLiteral("Andr\u00e9 Pirard") << QByteArray("=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>")
        << QStringLiteral("\"Andr\u00e9 Pirard\" <PIRARD@vm1.ulg.ac.be>");
    QTest::newRow("address only") << QByteArray("a@b.c") << null << QByteArray("a@b.c") << QString()
                                  << QByteArray("<a@b.c>") << QStringLiteral("a@b.c");
    QTest::newRow("angle address only") << QByteArray("<a@b.c>") << null << QByteArray("a@b.c") << QString()
                                        << QByteArray("<a@b.c>") << QStringLiteral("a@b.c");
    QTest::newRow("name only") << QByteArray("Only Name") << QByteArray("Only Name") << null
                               << QStringLiteral("Only Name") << QByteArray("\"Only Name\" ")
                               << QStringLiteral("\"Only Name\"");
    QTest::newRow("trailing comment dropped") << QByteArray("q@x.y (Comment)") << null << QByteArray("q@x.y")
                                              << QString() << QByteArray("<q@x.y>") << QStringLiteral("q@x.y");
    QTest::newRow("leading comment is name")
        << QByteArray("(Comment) q@x.y") << QByteArray("(Comment)") << QByteArray("q@x.y")
        << QStringLiteral("(Comment)") << QByteArray("\"(Comment)\"  <q@x.y>") << QStringLiteral("\"(Comment)\" <q@x.y>");
    QTest::newRow("second address ignored") << QByteArray("a@b c@d") << null << QByteArray("a@b") << QString()
                                            << QByteArray("<a@b>") << QStringLiteral("a@b");
    QTest::newRow("comma becomes space")
        << QByteArray("Doe, John <j@x>") << QByteArray("Doe John") << QByteArray("j@x") << QStringLiteral("Doe John")
        << QByteArray("\"Doe John\"  <j@x>") << QStringLiteral("\"Doe John\" <j@x>");
    QTest::newRow("semicolon and brackets") << QByteArray("<a@b>;") << null << QByteArray("a@b") << QString()
                                            << QByteArray("<a@b>") << QStringLiteral("a@b");
    QTest::newRow("white space collapsed")
        << QByteArray("  Spaced \t  Out\r\n\t  <s@x> ") << QByteArray("Spaced Out") << QByteArray("s@x")
        << QStringLiteral("Spaced Out") << QByteArray("\"Spaced Out\"  <s@x>") << QStringLiteral("\"Spaced Out\" <s@x>");
    QTest::newRow("first word with @ wins")
        << QByteArray("name@ <x@y>") << null << QByteArray("name@") << QString() << QByteArray("<name@>")
        << QStringLiteral("name@");
    QTest::newRow("latin1 bytes in name")
        << QByteArray("R\xe9my <r@x>") << QByteArray("R\xe9my") << QByteArray("r@x") << QStringLiteral("R\u00e9my")
        << QByteArray("\"R\xe9my\"  <r@x>") << QStringLiteral("\"R\u00e9my\" <r@x>");
    QTest::newRow("nul ends the text") << QByteArray("x\0y <a@b>", 9) << QByteArray("x") << null
                                       << QStringLiteral("x") << QByteArray("\"x\" ") << QStringLiteral("\"x\"");
    QTest::newRow("=? without ?= is quoted")
        << QByteArray("=?abc <a@b>") << QByteArray("=?abc") << QByteArray("a@b") << QStringLiteral("=?abc")
        << QByteArray("\"=?abc\"  <a@b>") << QStringLiteral("\"=?abc\" <a@b>");
    QTest::newRow("empty") << QByteArray("") << null << null << QString() << null << QString();
    QTest::newRow("white space only") << QByteArray(" \t\r\n ") << null << null << QString() << null << QString();
    QTest::newRow("separators only") << QByteArray("\"<>,;") << null << null << QString() << null << QString();
}

void tst_AddressClass::fromRaw()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, email);
    QFETCH(QString, translated);
    QFETCH(QByteArray, original);
    QFETCH(QString, full);

    const AddressClass a{QCString(raw)};
    QCOMPARE(QByteArray(a.name), name);
    QCOMPARE(a.name.isNull(), name.isNull());
    QCOMPARE(QByteArray(a.email), email);
    QCOMPARE(a.email.isNull(), email.isNull());
    QCOMPARE(a.getTranslated_name(), translated);
    QCOMPARE(a.getTranslated_name().isNull(), translated.isNull());
    QCOMPARE(QByteArray(a.getOriginalAddress()), original);
    QCOMPARE(a.fullAddress(), full);
    // The same text given as a C string parses alike.
    QCOMPARE(AddressClass(raw.constData()), a);
}

void tst_AddressClass::fromUnicode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("email");
    QTest::addColumn<QString>("translated");
    QTest::addColumn<QByteArray>("original");

    const QByteArray null;
    // Non-ASCII names become one UTF-8 base64 encoded word (without a
    // terminating zero byte).
    QTest::newRow("Zoe") << QStringLiteral("Zo\u00eb <zoe@example.com>") << QByteArray("=?utf-8?B?Wm/Dqw==?=")
                         << QByteArray("zoe@example.com") << QStringLiteral("Zo\u00eb")
                         << QByteArray("=?utf-8?B?Wm/Dqw==?= <zoe@example.com>");
    QTest::newRow("e-acute alone") << QStringLiteral("\u00e9") << QByteArray("=?utf-8?B?w6k=?=") << null
                                   << QStringLiteral("\u00e9") << QByteArray("=?utf-8?B?w6k=?=");
    QTest::newRow("ascii name") << QStringLiteral("John Doe <j@x>") << QByteArray("John Doe") << QByteArray("j@x")
                                << QStringLiteral("John Doe") << QByteArray("\"John Doe\"  <j@x>");
    QTest::newRow("comma in name") << QStringLiteral("M\u00fcller, Hans <h@x>")
                                   << QByteArray("=?utf-8?B?TcO8bGxlciBIYW5z?=") << QByteArray("h@x")
                                   << QStringLiteral("M\u00fcller Hans") << QByteArray("=?utf-8?B?TcO8bGxlciBIYW5z?= <h@x>");
    QTest::newRow("cjk") << QStringLiteral("\u65e5\u672c <n@x>") << QByteArray("=?utf-8?B?5pel5pys?=")
                         << QByteArray("n@x") << QStringLiteral("\u65e5\u672c") << QByteArray("=?utf-8?B?5pel5pys?= <n@x>");
    QTest::newRow("unicode address") << QStringLiteral("caf\u00e9 <\u00fc@x.de>") << QByteArray("=?utf-8?B?Y2Fmw6k=?=")
                                     << QByteArray("\xc3\xbc@x.de") << QStringLiteral("caf\u00e9")
                                     << QByteArray("=?utf-8?B?Y2Fmw6k=?= <\xc3\xbc@x.de>");
    QTest::newRow("address only") << QStringLiteral("<a@b>") << null << QByteArray("a@b") << QString()
                                  << QByteArray("<a@b>");
    QTest::newRow("no-break space separates") << QStringLiteral("a\u00a0b <x@y>") << QByteArray("a b")
                                              << QByteArray("x@y") << QStringLiteral("a b") << QByteArray("\"a b\"  <x@y>");
    QTest::newRow("long name stays one line")
        << QStringLiteral("\u00e9").repeated(60)
        << QByteArray("=?utf-8?B?" + QByteArray("\xc3\xa9").repeated(60).toBase64() + "?=") << null
        << QStringLiteral("\u00e9").repeated(60)
        << QByteArray("=?utf-8?B?" + QByteArray("\xc3\xa9").repeated(60).toBase64() + "?=");
    QTest::newRow("empty") << QString() << null << null << QString() << null;
}

void tst_AddressClass::fromUnicode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, email);
    QFETCH(QString, translated);
    QFETCH(QByteArray, original);

    const AddressClass a(text);
    QCOMPARE(QByteArray(a.name), name);
    QCOMPARE(a.name.isNull(), name.isNull());
    QCOMPARE(QByteArray(a.email), email);
    QCOMPARE(a.email.isNull(), email.isNull());
    QCOMPARE(a.getTranslated_name(), translated);
    QCOMPARE(QByteArray(a.getOriginalAddress()), original);
    // The header form read back gives the same display name.
    QCOMPARE(AddressClass(a.getOriginalAddress()).getTranslated_name(), translated);
}

// Text that UTF-8 cannot carry (a lone surrogate) is labelled with the
// locale codec when that codec can encode it.
void tst_AddressClass::unicodeNotCarriedByUtf8()
{
    QTextCodec* old = QTextCodec::codecForLocale();
    const QString text = QString(QChar(0xD800)) + QLatin1String(" <a@b>");
    QTextCodec::setCodecForLocale(new SystemCodec);  // owned by Qt's codec registry
    const AddressClass viaLocale(text);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    const AddressClass viaUtf8(text);
    QTextCodec::setCodecForLocale(old);
    QCOMPARE(QByteArray(viaLocale.name), QByteArray("=?System?B?Pw==?="));
    QVERIFY(viaUtf8.name.startsWith("=?utf-8?B?"));
    QVERIFY(viaUtf8.name.endsWith("?="));
}

void tst_AddressClass::defaultAndCopy()
{
    const AddressClass d;
    QVERIFY(d.name.isNull());
    QVERIFY(d.email.isNull());
    QVERIFY(d.getTranslated_name().isNull());
    QVERIFY(d.getOriginalAddress().isEmpty());
    QVERIFY(d.fullAddress().isEmpty());

    AddressClass a(QCString("=?utf-8?Q?Jos=C3=A9?= <j@x>"));
    AddressClass b(a);
    QCOMPARE(b, a);
    AddressClass c;
    c = a;
    QCOMPARE(c, a);
    QCOMPARE(c.getTranslated_name(), QStringLiteral("Jos\u00e9"));
}

void tst_AddressClass::equality()
{
    const AddressClass a(QCString("A <a@x>"));
    AddressClass b(QCString("A <a@x>"));
    QVERIFY(a == b);
    b.setTranslated_name(QStringLiteral("other"));
    QVERIFY(!(a == b));
    b = a;
    b.email = "b@x";
    QVERIFY(!(a == b));
    b = a;
    b.name = "B";
    QVERIFY(!(a == b));
}

void tst_AddressClass::translatedName()
{
    AddressClass a;
    a.name = "=?ISO-8859-1?Q?caf=E9?=";
    QVERIFY(a.getTranslated_name().isNull());
    a.translateName();
    QCOMPARE(a.getTranslated_name(), QStringLiteral("caf\u00e9"));
    a.setTranslated_name(QStringLiteral("x"));
    QCOMPARE(a.getTranslated_name(), QStringLiteral("x"));
    QCOMPARE(a.fullAddress(), QStringLiteral("\"x\""));
    a.name = QCString();
    a.translateName();
    QVERIFY(a.getTranslated_name().isNull());
}

void tst_AddressClass::fullAddressOfEightBitEmail_data()
{
    QTest::addColumn<QByteArray>("email");
    QTest::addColumn<QString>("full");
    QTest::newRow("utf-8 bytes") << QByteArray("\xc3\xbc@x.de") << QStringLiteral("\u00fc@x.de");
    QTest::newRow("latin1 bytes") << QByteArray("\xfc@x.de") << QStringLiteral("\u00fc@x.de");
    QTest::newRow("truncated utf-8") << QByteArray("\xc3@x") << QStringLiteral("\u00c3@x");
}

// Bytes from 0x80 up in an address are shown as UTF-8 when they are
// well-formed UTF-8, else as Latin-1.
void tst_AddressClass::fullAddressOfEightBitEmail()
{
    QFETCH(QByteArray, email);
    QFETCH(QString, full);
    const AddressClass a{QCString(email)};
    QCOMPARE(a.fullAddress(), full);
}

void tst_AddressClass::headerFormNeverBreaksLines_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("email");
    QTest::addColumn<QByteArray>("original");
    QTest::newRow("crlf in name") << QByteArray("Evil\r\nBcc: x@y") << QByteArray("a@b")
                                  << QByteArray("\"Evil  Bcc: x@y\"  <a@b>");
    QTest::newRow("lf in email") << QByteArray() << QByteArray("a@b>\nBcc: x@y")
                                 << QByteArray("<a@b> Bcc: x@y>");
    QTest::newRow("cr in encoded name") << QByteArray("=?utf-8?Q?a?=\r") << QByteArray("a@b")
                                        << QByteArray("=?utf-8?Q?a?=  <a@b>");
    QTest::newRow("nul ends a field") << QByteArray("ab\0\nc", 5) << QByteArray() << QByteArray("\"ab\" ");
}

// Fields set directly by a caller never carry a line break into a header.
void tst_AddressClass::headerFormNeverBreaksLines()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, email);
    QFETCH(QByteArray, original);
    AddressClass a;
    a.name = name;
    a.email = email;
    QCOMPARE(QByteArray(a.getOriginalAddress()), original);
}

// A decoded display name may hold a line break; the header form built from
// its display form by the Unicode parser does not.
void tst_AddressClass::decodedLineBreakStaysOutOfHeader()
{
    const AddressClass parsed(QCString("=?utf-8?Q?Evil=0D=0ABcc:_x?= <a@b>"));
    QCOMPARE(parsed.getTranslated_name(), QStringLiteral("Evil\r\nBcc:_x"));
    const AddressClass again(parsed.fullAddress());
    QVERIFY(!again.getOriginalAddress().contains('\n'));
    QVERIFY(!again.getOriginalAddress().contains('\r'));
}

void tst_AddressClass::textStream()
{
    QString out;
    QTextStream s(&out);
    s << AddressClass(QCString("R\xe9my <r@x>"));
    s.flush();
    QCOMPARE(out, QStringLiteral("\"R\u00e9my\"  <r@x>"));
}

void tst_AddressClass::longInputIsLinear()
{
    const QByteArray words = QByteArray("word ").repeated(200000) + "a@b";
    const AddressClass a{QCString(words)};
    QCOMPARE(a.email, QCString("a@b"));
    QCOMPARE(a.name.size(), 200000 * 5 - 1);
    const AddressClass u(QString::fromLatin1(words));
    QCOMPARE(u.name.size(), 200000 * 5 - 1);
}

QTEST_GUILESS_MAIN(tst_AddressClass)
#include "tst_addressclass.moc"
