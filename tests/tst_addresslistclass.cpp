// AddressListClass: splitting at commas outside quotes, comments and angles; the joined forms.

#include <addresslistclass.h>

#include <QTest>
#include <QTextStream>

class tst_AddressListClass : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void entriesAndListOperations();
};

void tst_AddressListClass::parse_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("mode"); // 0: raw bytes (Latin-1 here), 1: Unicode, 2: Unicode flag off
    QTest::addColumn<QString>("expected"); // count # display form # header form (null as "~")
    auto row = [](const char* name, const QString& in, int mode, const QString& out) { QTest::newRow(name) << in << mode << out; };
    row("double comma, blank piece, fold", QStringLiteral(",a1@x,,\r\n\t a2@y, ,"), 0, QStringLiteral("3 # a1@x, a2@y # <a1@x>, <a2@y>"));
    row("quoted comma", QStringLiteral("\"Doe, J\" <a1@x>, a2@y"), 0, QStringLiteral("2 # \"Doe, J\" <a1@x>, a2@y # \"Doe, J\"  <a1@x>, <a2@y>"));
    row("unquoted comma", QStringLiteral("Doe, J <a1@x>"), 0, QStringLiteral("2 # Doe, \"J\" <a1@x> # <Doe>, \"J\"  <a1@x>"));
    row("angles protect, comments dropped", QStringLiteral("a@x (S, J), <a,b@x>"), 0, QStringLiteral("2 # a@x, a,b@x # <a@x>, <a,b@x>"));
    row("unmatched quote runs to the end", QStringLiteral("\"a, b@x, c@y"), 0, QStringLiteral("1 # \"a, b@x, c@y\" # \"a, b@x, c@y\" "));
    row("encoded names, latin1 bytes", QStringLiteral("=?utf-8?Q?D=C3=BCrst?= <d@x>, R\u00e9my <r@y>"), 0,
        QStringLiteral("2 # \"D\u00fcrst\" <d@x>, \"R\u00e9my\" <r@y> # =?utf-8?Q?D=C3=BCrst?= <d@x>, \"R\u00e9my\"  <r@y>"));
    row("nul ends the text", QStringLiteral("a@x") + QChar(0) + QStringLiteral(", b@y"), 0, QStringLiteral("1 # a@x # <a@x>"));
    // RFC 5322, A.1.3 and A.1.2: groups give their members, nothing else.
    row("A.1.3 group", QStringLiteral("A Group:Ed Jones <c@a.test>,joe@where.test,John <jdoe@one.test>;"), 0,
        QStringLiteral("3 # \"Ed Jones\" <c@a.test>, joe@where.test, \"John\" <jdoe@one.test> # \"Ed Jones\"  <c@a.test>, <joe@where.test>, \"John\"  <jdoe@one.test>"));
    row("A.1.2 empty group", QStringLiteral("Undisclosed recipients:;"), 0, QStringLiteral("0 #  # ~"));
    row("group then mailbox", QStringLiteral("Team: a@x.org, b@y.org;, c@z.org"), 0,
        QStringLiteral("3 # a@x.org, b@y.org, c@z.org # <a@x.org>, <b@y.org>, <c@z.org>"));
    // The header parser replaces a list whose header form is null.
    row("commas only", QStringLiteral(",,,"), 0, QStringLiteral("0 #  # ~"));
    // Large lists in linear time: 100000 entries (and the blank piece after the last comma), one open quote.
    row("100000 entries", QStringLiteral("N <a@b>, ").repeated(100000), 0,
        QStringLiteral("100001 # %1 # %2").arg(QStringList(100000, QStringLiteral("\"N\" <a@b>")).join(QLatin1String(", ")),
                                               QStringList(100000, QStringLiteral("\"N\"  <a@b>")).join(QLatin1String(", "))));
    const QString quoted = QLatin1Char('"') + QStringLiteral("x, ").repeated(300000) + QLatin1Char('"');
    row("open quote", QLatin1Char('"') + QStringLiteral("x, ").repeated(300000), 0, QStringLiteral("1 # %1 # %1 ").arg(quoted));
    row("unicode names encoded", QStringLiteral("\"P\u00e9rez, Ana\" <a@x>, Bob <\u00fc@y>"), 1,
        QStringLiteral("2 # \"P\u00e9rez, Ana\" <a@x>, \"Bob\" <\u00fc@y> # =?utf-8?B?UMOpcmV6LCBBbmE=?= <a@x>, \"Bob\"  <\u00c3\u00bc@y>"));
    // Without the flag the UTF-8 bytes go to the raw parser, which shows them as UTF-8.
    row("not unicode", QStringLiteral("Zo\u00eb <z@x>"), 2, QStringLiteral("1 # \"Zo\u00eb\" <z@x> # \"Zo\u00c3\u00ab\"  <z@x>"));
}

void tst_AddressListClass::parse()
{
    QFETCH(QString, input);
    QFETCH(int, mode);
    QFETCH(QString, expected);
    const QByteArray raw = input.toLatin1();
    const AddressListClass l = mode == 0 ? AddressListClass(QCString(raw.constData(), raw.size())) : AddressListClass(input, mode == 1);
    const QCString h = l.toQCString();
    QCOMPARE(QString::number(l.count()) + QLatin1String(" # ") + l.returnString() + QLatin1String(" # ")
                 + (h.isNull() ? QStringLiteral("~") : QString::fromLatin1(h)),
             expected);
    // The other forms: the same entries one by one, and through a text stream.
    QString stream;
    QTextStream ts(&stream);
    ts << l;
    ts.flush();
    QCOMPARE(stream, QString::fromLatin1(h));
    QCOMPARE(l.toQStringList().join(QLatin1String(", ")), QString::fromLatin1(h));
    QCOMPARE(l.returnNameStringList().join(QLatin1String(", ")), l.returnString());
    // Composition prints the header forms and a reader parses them back.
    QCOMPARE(AddressListClass(h).returnString(), l.returnString());
}

void tst_AddressListClass::entriesAndListOperations()
{
    AddressListClass l(QCString("\"Doe, John\" <a1@x>, , a2@y"));
    QCOMPARE(l[0].name + l[1].email + l[2].email, QCString("Doe, Johna2@y"));
    // Out of range gives an all-empty address instead of reading past the list.
    QVERIFY(l[3].email.isNull() && l[-1].email.isNull());
    AddressClass evil;
    evil.name = "Evil\r\nBcc: victim@y";
    evil.email = "a@b\r\n";
    l.clear();
    l.addAddress(evil);
    l.addAddress(AddressClass(QCString("ok@x")));
    // The header form never breaks the line.
    QCOMPARE(l.toQCString(), QCString("\"Evil  Bcc: victim@y\"  <a@b  >, <ok@x>"));
}

QTEST_GUILESS_MAIN(tst_AddressListClass)
#include "tst_addresslistclass.moc"
