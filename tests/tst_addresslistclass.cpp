// AddressListClass: splitting at commas outside quotes, the joined forms.

#include <addresslistclass.h>

#include <QTest>

#include <algorithm>
#include <QTextStream>

class tst_AddressListClass : public QObject
{
    Q_OBJECT

private slots:
    void fromRaw_data();
    void fromRaw();
    void fromUnicode_data();
    void fromUnicode();
    void entries();
    void listOperations();
    void nullWhenNothingToPrint();
    void headerFormNeverBreaksLines();
    void textStream();
    void largeListIsLinear();
};

// Joined forms are compared with '|' between list entries.
static QString joined(const QStringList& l) { return l.join(QLatin1Char('|')); }

void tst_AddressListClass::fromRaw_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("display");       // returnString
    QTest::addColumn<QByteArray>("header");     // toQCString
    QTest::addColumn<QString>("headerList");    // toQStringList, '|'-joined
    QTest::addColumn<QString>("displayList");   // returnNameStringList, '|'-joined

    QTest::newRow("two addresses") << QByteArray("a1@x, a2@y") << 2 << QStringLiteral("a1@x, a2@y")
                                   << QByteArray("<a1@x>, <a2@y>") << QStringLiteral("<a1@x>|<a2@y>")
                                   << QStringLiteral("a1@x|a2@y");
    QTest::newRow("double comma") << QByteArray("a1@x,,a2@y") << 2 << QStringLiteral("a1@x, a2@y")
                                  << QByteArray("<a1@x>, <a2@y>") << QStringLiteral("<a1@x>|<a2@y>")
                                  << QStringLiteral("a1@x|a2@y");
    QTest::newRow("blank piece stays") << QByteArray("a1@x, , a2@y") << 3 << QStringLiteral("a1@x, a2@y")
                                       << QByteArray("<a1@x>, <a2@y>") << QStringLiteral("<a1@x>|<a2@y>")
                                       << QStringLiteral("a1@x|a2@y");
    QTest::newRow("leading and trailing commas") << QByteArray(",a1@x,") << 1 << QStringLiteral("a1@x")
                                                 << QByteArray("<a1@x>") << QStringLiteral("<a1@x>")
                                                 << QStringLiteral("a1@x");
    QTest::newRow("quoted comma") << QByteArray("\"Doe, John\" <a1@x>, a2@y") << 2
                                  << QStringLiteral("\"Doe John\" <a1@x>, a2@y")
                                  << QByteArray("\"Doe John\"  <a1@x>, <a2@y>")
                                  << QStringLiteral("\"Doe John\"  <a1@x>|<a2@y>")
                                  << QStringLiteral("\"Doe John\" <a1@x>|a2@y");
    QTest::newRow("unquoted comma") << QByteArray("Doe, John <a1@x>") << 2 << QStringLiteral("\"Doe\", \"John\" <a1@x>")
                                    << QByteArray("\"Doe\" , \"John\"  <a1@x>")
                                    << QStringLiteral("\"Doe\" |\"John\"  <a1@x>")
                                    << QStringLiteral("\"Doe\"|\"John\" <a1@x>");
    QTest::newRow("names") << QByteArray("A <a@x>, B <b@y>") << 2 << QStringLiteral("\"A\" <a@x>, \"B\" <b@y>")
                           << QByteArray("\"A\"  <a@x>, \"B\"  <b@y>") << QStringLiteral("\"A\"  <a@x>|\"B\"  <b@y>")
                           << QStringLiteral("\"A\" <a@x>|\"B\" <b@y>");
    QTest::newRow("parentheses do not protect")
        << QByteArray("a@x (Smith, J)") << 2 << QStringLiteral("a@x, \"J)\"") << QByteArray("<a@x>, \"J)\" ")
        << QStringLiteral("<a@x>|\"J)\" ") << QStringLiteral("a@x|\"J)\"");
    QTest::newRow("angle brackets do not protect")
        << QByteArray("<a,b@x>") << 2 << QStringLiteral("\"a\", b@x") << QByteArray("\"a\" , <b@x>")
        << QStringLiteral("\"a\" |<b@x>") << QStringLiteral("\"a\"|b@x");
    QTest::newRow("unmatched quote") << QByteArray("\"a, b@x, c@y") << 1 << QStringLiteral("\"a\" <b@x>")
                                     << QByteArray("\"a\"  <b@x>") << QStringLiteral("\"a\"  <b@x>")
                                     << QStringLiteral("\"a\" <b@x>");
    QTest::newRow("encoded names")
        << QByteArray("=?utf-8?Q?D=C3=BCrst?= <d@x>, =?ISO-8859-1?Q?Andr=E9?= <a@y>") << 2
        << QStringLiteral("\"D\u00fcrst\" <d@x>, \"Andr\u00e9\" <a@y>")
        << QByteArray("=?utf-8?Q?D=C3=BCrst?= <d@x>, =?ISO-8859-1?Q?Andr=E9?= <a@y>")
        << QStringLiteral("=?utf-8?Q?D=C3=BCrst?= <d@x>|=?ISO-8859-1?Q?Andr=E9?= <a@y>")
        << QStringLiteral("\"D\u00fcrst\" <d@x>|\"Andr\u00e9\" <a@y>");
    QTest::newRow("group") << QByteArray("Friends: a@x, b@y;") << 2 << QStringLiteral("\"Friends:\" <a@x>, b@y")
                           << QByteArray("\"Friends:\"  <a@x>, <b@y>") << QStringLiteral("\"Friends:\"  <a@x>|<b@y>")
                           << QStringLiteral("\"Friends:\" <a@x>|b@y");
    QTest::newRow("empty group") << QByteArray("undisclosed-recipients:;") << 1
                                 << QStringLiteral("\"undisclosed-recipients:\"")
                                 << QByteArray("\"undisclosed-recipients:\" ")
                                 << QStringLiteral("\"undisclosed-recipients:\" ")
                                 << QStringLiteral("\"undisclosed-recipients:\"");
    QTest::newRow("latin1 bytes") << QByteArray("R\xe9my <r@x>") << 1 << QStringLiteral("\"R\u00e9my\" <r@x>")
                                  << QByteArray("\"R\xe9my\"  <r@x>") << QStringLiteral("\"R\u00e9my\"  <r@x>")
                                  << QStringLiteral("\"R\u00e9my\" <r@x>");
    QTest::newRow("folded") << QByteArray("a@x,\r\n\tb@y") << 2 << QStringLiteral("a@x, b@y")
                            << QByteArray("<a@x>, <b@y>") << QStringLiteral("<a@x>|<b@y>") << QStringLiteral("a@x|b@y");
    QTest::newRow("nul ends the text") << QByteArray("a@x\0, b@y", 9) << 1 << QStringLiteral("a@x")
                                       << QByteArray("<a@x>") << QStringLiteral("<a@x>") << QStringLiteral("a@x");
    QTest::newRow("empty") << QByteArray("") << 0 << QString() << QByteArray() << QString() << QString();
    QTest::newRow("commas only") << QByteArray(",,,") << 0 << QString() << QByteArray() << QString() << QString();
    QTest::newRow("blank only") << QByteArray(" ") << 1 << QString() << QByteArray() << QString() << QString();
}

void tst_AddressListClass::fromRaw()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, count);
    QFETCH(QString, display);
    QFETCH(QByteArray, header);
    QFETCH(QString, headerList);
    QFETCH(QString, displayList);

    const AddressListClass l{QCString(raw)};
    QCOMPARE(l.count(), count);
    QCOMPARE(l.returnString(), display);
    QCOMPARE(QByteArray(l.toQCString()), header);
    QCOMPARE(QByteArray(QCString(l)), header);
    QCOMPARE(joined(l.toQStringList()), headerList);
    QCOMPARE(joined(l.returnNameStringList()), displayList);
    // The raw text read as Unicode (flag false: UTF-8 to the raw parser)
    // gives the same list for ASCII input.
    const bool plainAscii = std::all_of(raw.begin(), raw.end(), [](char c) { return c > 0; });
    if (plainAscii)
        QCOMPARE(AddressListClass(QString::fromLatin1(raw), false).toQCString(), l.toQCString());
}

void tst_AddressListClass::fromUnicode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("unicode");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("display");

    QTest::newRow("unicode names encoded")
        << QStringLiteral("Zo\u00eb <z@x>, Bob <b@y>") << true
        << QByteArray("=?utf-8?B?Wm/Dqw==?= <z@x>, \"Bob\"  <b@y>") << QStringLiteral("\"Zo\u00eb\" <z@x>, \"Bob\" <b@y>");
    QTest::newRow("quoted comma unicode")
        << QStringLiteral("\"P\u00e9rez, Ana\" <a@x>") << true << QByteArray("=?utf-8?B?UMOpcmV6IEFuYQ==?= <a@x>")
        << QStringLiteral("\"P\u00e9rez Ana\" <a@x>");
    // Without the flag the UTF-8 bytes go to the raw parser and are read
    // back as Latin-1, as raw header text is.
    QTest::newRow("not unicode") << QStringLiteral("Zo\u00eb <z@x>") << false << QByteArray("\"Zo\xc3\xab\"  <z@x>")
                                 << QStringLiteral("\"Zo\u00c3\u00ab\" <z@x>");
    QTest::newRow("unicode address") << QStringLiteral("\u00fc@x.de") << true << QByteArray("<\xc3\xbc@x.de>")
                                     << QStringLiteral("\u00fc@x.de");
    QTest::newRow("empty") << QString() << true << QByteArray() << QString();
}

void tst_AddressListClass::fromUnicode()
{
    QFETCH(QString, text);
    QFETCH(bool, unicode);
    QFETCH(QByteArray, header);
    QFETCH(QString, display);
    const AddressListClass l(text, unicode);
    QCOMPARE(QByteArray(l.toQCString()), header);
    QCOMPARE(l.returnString(), display);
    // Composition prints the header forms and a reader parses them back.
    if (unicode)
        QCOMPARE(AddressListClass(l.toQCString()).returnString(), display);
}

void tst_AddressListClass::entries()
{
    const AddressListClass l(QCString("\"Doe, John\" <a1@x>, a2@y"));
    QCOMPARE(l.count(), 2);
    QCOMPARE(l[0].name, QCString("Doe John"));
    QCOMPARE(l[0].email, QCString("a1@x"));
    QVERIFY(l[1].name.isNull());
    QCOMPARE(l[1].email, QCString("a2@y"));
    // Out of range gives an all-empty address instead of reading past the list.
    QVERIFY(l[2].email.isNull());
    QVERIFY(l[-1].email.isNull());

    const AddressListClass blank(QCString("a@x, , b@y"));
    QCOMPARE(blank.count(), 3);
    QVERIFY(blank[1].name.isNull());
    QVERIFY(blank[1].email.isNull());
    QVERIFY(blank[1].getTranslated_name().isNull());
}

void tst_AddressListClass::listOperations()
{
    AddressListClass l;
    QCOMPARE(l.count(), 0);
    l.addAddress(AddressClass(QCString("A <a@x>")));
    l.addAddress(AddressClass(QCString("A <a@x>")));  // duplicates allowed
    QCOMPARE(l.count(), 2);
    const QList<AddressClass> copy = l.getAddrList();
    QCOMPARE(copy.size(), 2);
    QCOMPARE(copy.at(0), copy.at(1));
    AddressListClass m(l);
    l.clear();
    QCOMPARE(l.count(), 0);
    QCOMPARE(m.count(), 2);
    l = m;
    QCOMPARE(l.toQCString(), QCString("\"A\"  <a@x>, \"A\"  <a@x>"));
}

// The header parser replaces a To list whose header form is null: an empty
// list and a list of blank entries print as null, not as "".
void tst_AddressListClass::nullWhenNothingToPrint()
{
    QVERIFY(AddressListClass().toQCString().isNull());
    QVERIFY(AddressListClass().returnString().isNull());
    QVERIFY(AddressListClass(QCString(" , ")).toQCString().isNull());
    QVERIFY(!AddressListClass(QCString("x")).toQCString().isNull());
}

void tst_AddressListClass::headerFormNeverBreaksLines()
{
    AddressListClass l;
    AddressClass evil;
    evil.name = "Evil\r\nBcc: victim@y";
    evil.email = "a@b\r\n";
    l.addAddress(evil);
    l.addAddress(AddressClass(QCString("ok@x")));
    const QCString h = l.toQCString();
    QVERIFY(!h.contains('\r'));
    QVERIFY(!h.contains('\n'));
    for (const QString& s : l.toQStringList())
        QVERIFY(!s.contains(QLatin1Char('\n')) && !s.contains(QLatin1Char('\r')));
    QCOMPARE(h, QCString("\"Evil  Bcc: victim@y\"  <a@b  >, <ok@x>"));
}

void tst_AddressListClass::textStream()
{
    QString out;
    QTextStream s(&out);
    s << AddressListClass(QCString("R\xe9my <r@x>, b@y"));
    s.flush();
    QCOMPARE(out, QStringLiteral("\"R\u00e9my\"  <r@x>, <b@y>"));
}

void tst_AddressListClass::largeListIsLinear()
{
    const QByteArray raw = QByteArray("N <a@b>, ").repeated(100000);
    const AddressListClass l{QCString(raw)};
    QCOMPARE(l.count(), 100001);  // the blank piece after the last comma
    QCOMPARE(l.toQCString().size(), qsizetype(100000) * 12 - 2);
    const QByteArray quoted = "\"" + QByteArray("x, ").repeated(300000);
    QCOMPARE(AddressListClass(QCString(quoted)).count(), 1);
}

QTEST_GUILESS_MAIN(tst_AddressListClass)
#include "tst_addresslistclass.moc"
