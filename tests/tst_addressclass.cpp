// AddressClass: parsing raw and Unicode text, display and header forms.

#include <addressclass.h>

#include <QTest>
#include <QTextCodec>
#include <QTextStream>

#include "systemcodec.h"

namespace {
QString text(const QCString& s)
{
    return s.isNull() ? QStringLiteral("~") : QString::fromLatin1(s);
}

/// name|email|translated name|header form|display form; null fields as "~".
QString fields(const AddressClass& a)
{
    QString stream;
    QTextStream ts(&stream);
    ts << a;
    ts.flush();
    if (stream != QString::fromLatin1(a.getOriginalAddress()))
        return QStringLiteral("stream differs: ") + stream;
    return QStringList{text(a.name), text(a.email), a.getTranslated_name().isNull() ? QStringLiteral("~") : a.getTranslated_name(),
                       text(a.getOriginalAddress()), a.fullAddress()}
        .join(QLatin1Char('|'));
}
} // namespace

class tst_AddressClass : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void unicodeNotCarriedByUtf8();
    void headerFormNeverBreaksLines();
};

void tst_AddressClass::parse_data()
{
    QTest::addColumn<bool>("unicode"); // else the text's Latin-1 bytes are parsed
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    auto raw = [](const char* name, const QString& in, const QString& out) { QTest::newRow(name) << false << in << out; };
    raw("encoded words and plain", QStringLiteral("=?ISO-8859-1?Q?Andr=E9?= Pirard <P@vm1>"),
        QStringLiteral("=?ISO-8859-1?Q?Andr=E9?= Pirard|P@vm1|Andr\u00e9 Pirard|=?ISO-8859-1?Q?Andr=E9?= Pirard <P@vm1>|\"Andr\u00e9 Pirard\" <P@vm1>"));
    raw("address only, comment dropped", QStringLiteral("<a@b.c>; (Comment)"), QStringLiteral("~|a@b.c|~|<a@b.c>|a@b.c"));
    raw("name only", QStringLiteral("Only Name"), QStringLiteral("Only Name|~|Only Name|\"Only Name\" |\"Only Name\""));
    raw("leading comment dropped", QStringLiteral("(C) q@x"), QStringLiteral("~|q@x|~|<q@x>|q@x"));
    raw("second address ignored", QStringLiteral("a@b c@d"), QStringLiteral("~|a@b|~|<a@b>|a@b"));
    raw("comma and white space collapsed", QStringLiteral("  Doe, \t John\r\n\t  <j@x> "),
        QStringLiteral("Doe John|j@x|Doe John|\"Doe John\"  <j@x>|\"Doe John\" <j@x>"));
    raw("angle address beats word with @", QStringLiteral("name@ <x@y>"), QStringLiteral("name@|x@y|name@|\"name@\"  <x@y>|\"name@\" <x@y>"));
    raw("nul ends the text", QStringLiteral("x") + QChar(0) + QStringLiteral("y <a@b>"), QStringLiteral("~|x|~|<x>|x"));
    raw("=? without ?= is quoted", QStringLiteral("=?abc <a@b>"), QStringLiteral("=?abc|a@b|=?abc|\"=?abc\"  <a@b>|\"=?abc\" <a@b>"));
    raw("unterminated quote runs to the end", QStringLiteral(" \"<>,;"), QStringLiteral("<>,;|~|<>,;|\"<>,;\" |\"<>,;\""));
    // Address bytes show as UTF-8 when well-formed, else as Latin-1.
    raw("utf-8 address", QStringLiteral("\u00c3\u00bc@x"), QStringLiteral("~|\u00c3\u00bc@x|~|<\u00c3\u00bc@x>|\u00fc@x"));
    raw("truncated utf-8 address", QStringLiteral("\u00c3@x"), QStringLiteral("~|\u00c3@x|~|<\u00c3@x>|\u00c3@x"));
    // RFC 5322, appendix A, and real messages: quoted names with escapes,
    // comments anywhere, routes, a bare local name.
    raw("A.1.2 escapes", QStringLiteral("\"Giant; \\\"Big\\\" Box\" <sysservices@example.net>"),
        QStringLiteral("Giant; \"Big\" Box|sysservices@example.net|Giant; \"Big\" Box|\"Giant; \\\"Big\\\" Box\"  <sysservices@example.net>|\"Giant; \"Big\" Box\" <sysservices@example.net>"));
    raw("A.5 comments", QStringLiteral("Pete(A wonderful \\) chap) <pete(his account)@silly.test(his host)>"),
        QStringLiteral("Pete|pete@silly.test|Pete|\"Pete\"  <pete@silly.test>|\"Pete\" <pete@silly.test>"));
    raw("A.6.3 route", QStringLiteral("<@a.test,@b.test:joe@c.test>"), QStringLiteral("~|joe@c.test|~|<joe@c.test>|joe@c.test"));
    raw("quoted name holds @", QStringLiteral("\"user@gmail.com via Lista\" <lista@example.org>"),
        QStringLiteral("user@gmail.com via Lista|lista@example.org|user@gmail.com via Lista|\"user@gmail.com via Lista\"  <lista@example.org>|\"user@gmail.com via Lista\" <lista@example.org>"));
    raw("6532 utf-8", QStringLiteral("J\u00c3\u00b8ran <j\u00c3\u00b8ran@example.com>"),
        QStringLiteral("J\u00c3\u00b8ran|j\u00c3\u00b8ran@example.com|J\u00f8ran|\"J\u00c3\u00b8ran\"  <j\u00c3\u00b8ran@example.com>|\"J\u00f8ran\" <j\u00f8ran@example.com>"));
    raw("encoded word in quotes", QStringLiteral("\"=?utf-8?Q?Jos=C3=A9_Mart=C3=ADnez?=\" <jose@example.com>"),
        QStringLiteral("=?utf-8?Q?Jos=C3=A9_Mart=C3=ADnez?=|jose@example.com|Jos\u00e9 Mart\u00ednez|=?utf-8?Q?Jos=C3=A9_Mart=C3=ADnez?= <jose@example.com>|\"Jos\u00e9 Mart\u00ednez\" <jose@example.com>"));
    raw("local name", QStringLiteral("user2"), QStringLiteral("~|user2|~|<user2>|user2"));
    // Non-ASCII names become one UTF-8 base64 encoded word, however long.
    auto uni = [](const char* name, const QString& in, const QString& out) { QTest::newRow(name) << true << in << out; };
    uni("unicode: comma in name", QStringLiteral("M\u00fcller, Hans <h@x>"),
        QStringLiteral("=?utf-8?B?TcO8bGxlciBIYW5z?=|h@x|M\u00fcller Hans|=?utf-8?B?TcO8bGxlciBIYW5z?= <h@x>|\"M\u00fcller Hans\" <h@x>"));
    uni("unicode address", QStringLiteral("\u65e5 <\u00fc@x>"),
        QStringLiteral("=?utf-8?B?5pel?=|\u00c3\u00bc@x|\u65e5|=?utf-8?B?5pel?= <\u00c3\u00bc@x>|\"\u65e5\" <\u00fc@x>"));
    uni("unicode: no-break space separates", QStringLiteral("a\u00a0b <x@y>"), QStringLiteral("a b|x@y|a b|\"a b\"  <x@y>|\"a b\" <x@y>"));
    uni("unicode: long name", QStringLiteral("\u00e9").repeated(60),
        QStringLiteral("=?utf-8?B?%1?=|~|%2|=?utf-8?B?%1?=|\"%2\"")
            .arg(QString::fromLatin1(QByteArray("\xc3\xa9").repeated(60).toBase64()), QStringLiteral("\u00e9").repeated(60)));
    uni("unicode: empty", QString(), QStringLiteral("~|~|~|~|"));
    // 200000 words before the address: linear time.
    const QString words = QStringLiteral("word ").repeated(200000), name = words.chopped(1);
    const QString many = QStringLiteral("%1|a@b|%1|\"%1\"  <a@b>|\"%1\" <a@b>").arg(name);
    raw("200000 words", words + QLatin1String("a@b"), many);
    uni("unicode: 200000 words", words + QLatin1String("a@b"), many);
}

void tst_AddressClass::parse()
{
    QFETCH(bool, unicode);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    const QByteArray raw = input.toLatin1();
    const AddressClass a = unicode ? AddressClass(input) : AddressClass(QCString(raw.constData(), raw.size()));
    QCOMPARE(fields(a), expected);
    if (!unicode)
        QCOMPARE(AddressClass(raw.constData()), a);
    // The header form reads back to the same display name.
    QCOMPARE(AddressClass(a.getOriginalAddress()).getTranslated_name(), a.getTranslated_name());
}

// Text that UTF-8 cannot carry (a lone surrogate) is labelled with the
// locale codec when that codec can encode it.
void tst_AddressClass::unicodeNotCarriedByUtf8()
{
    QTextCodec* old = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(new SystemCodec); // owned by Qt's codec registry
    const AddressClass viaLocale(QString(QChar(0xD800)) + QLatin1String(" <a@b>"));
    QTextCodec::setCodecForLocale(old);
    QCOMPARE(QByteArray(viaLocale.name), QByteArray("=?System?B?Pw==?="));
}

// Fields set directly by a caller, or decoded from a name, never carry a
// line break into a header.
void tst_AddressClass::headerFormNeverBreaksLines()
{
    // Quoted names and addresses: see tst_addresslistclass.
    AddressClass a;
    a.name = "=?utf-8?Q?a?=\r";
    a.email = "a@b";
    QCOMPARE(QByteArray(a.getOriginalAddress()), QByteArray("=?utf-8?Q?a?=  <a@b>"));
    const AddressClass parsed(QCString("=?utf-8?Q?Evil=0D=0ABcc:_x?= <a@b>"));
    QCOMPARE(parsed.getTranslated_name(), QStringLiteral("Evil\r\nBcc: x"));
    const QCString again = AddressClass(parsed.fullAddress()).getOriginalAddress();
    QVERIFY(!again.contains('\n') && !again.contains('\r'));
}

QTEST_GUILESS_MAIN(tst_AddressClass)
#include "tst_addressclass.moc"
