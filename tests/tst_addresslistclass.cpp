// AddressListClass: splitting at commas outside quotes, the joined forms.

#include <addresslistclass.h>

#include <QTest>
#include <QTextStream>

namespace {
/// count # display form # header form (null as "~") # header list # display list
QString forms(const AddressListClass& l)
{
    QString stream;
    QTextStream ts(&stream);
    ts << l;
    ts.flush();
    const QCString h = l.toQCString();
    if (stream != QString::fromLatin1(h) || QCString(l) != h)
        return QStringLiteral("forms differ: ") + stream;
    return QString::number(l.count()) + QLatin1String(" # ") + l.returnString() + QLatin1String(" # ")
        + (h.isNull() ? QStringLiteral("~") : QString::fromLatin1(h)) + QLatin1String(" # ")
        + l.toQStringList().join(QLatin1Char('|')) + QLatin1String(" # ")
        + l.returnNameStringList().join(QLatin1Char('|'));
}
} // namespace

class tst_AddressListClass : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void entriesAndListOperations();
    void headerFormNeverBreaksLines();
    void largeListIsLinear();
};

void tst_AddressListClass::parse_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("mode"); // 0: raw bytes (Latin-1 here), 1: Unicode, 2: Unicode flag off
    QTest::addColumn<QString>("expected");
    QTest::newRow("double comma, blank piece, fold")
        << QStringLiteral(",a1@x,,\r\n\t a2@y, ,") << 0 << QStringLiteral("3 # a1@x, a2@y # <a1@x>, <a2@y> # <a1@x>|<a2@y> # a1@x|a2@y");
    QTest::newRow("quoted comma") << QStringLiteral("\"Doe, John\" <a1@x>, a2@y") << 0
                                  << QStringLiteral("2 # \"Doe John\" <a1@x>, a2@y # \"Doe John\"  <a1@x>, <a2@y> # "
                                                    "\"Doe John\"  <a1@x>|<a2@y> # \"Doe John\" <a1@x>|a2@y");
    QTest::newRow("unquoted comma") << QStringLiteral("Doe, John <a1@x>") << 0
                                    << QStringLiteral("2 # \"Doe\", \"John\" <a1@x> # \"Doe\" , \"John\"  <a1@x> # "
                                                      "\"Doe\" |\"John\"  <a1@x> # \"Doe\"|\"John\" <a1@x>");
    QTest::newRow("parentheses and angles do not protect") << QStringLiteral("a@x (S, J), <a,b@x>") << 0
                                                           << QStringLiteral("4 # a@x, \"J)\", \"a\", b@x # <a@x>, \"J)\" , \"a\" , <b@x> # "
                                                                             "<a@x>|\"J)\" |\"a\" |<b@x> # a@x|\"J)\"|\"a\"|b@x");
    QTest::newRow("unmatched quote") << QStringLiteral("\"a, b@x, c@y") << 0
                                     << QStringLiteral("1 # \"a\" <b@x> # \"a\"  <b@x> # \"a\"  <b@x> # \"a\" <b@x>");
    QTest::newRow("encoded names, latin1 bytes") << QStringLiteral("=?utf-8?Q?D=C3=BCrst?= <d@x>, R\u00e9my <r@y>") << 0
                                                 << QStringLiteral("2 # \"D\u00fcrst\" <d@x>, \"R\u00e9my\" <r@y> # "
                                                                   "=?utf-8?Q?D=C3=BCrst?= <d@x>, \"R\u00e9my\"  <r@y> # "
                                                                   "=?utf-8?Q?D=C3=BCrst?= <d@x>|\"R\u00e9my\"  <r@y> # \"D\u00fcrst\" <d@x>|\"R\u00e9my\" <r@y>");
    QTest::newRow("empty group") << QStringLiteral("undisclosed-recipients:;") << 0
                                 << QStringLiteral("1 # \"undisclosed-recipients:\" # \"undisclosed-recipients:\"  # "
                                                   "\"undisclosed-recipients:\"  # \"undisclosed-recipients:\"");
    QTest::newRow("nul ends the text") << QStringLiteral("a@x") + QChar(0) + QStringLiteral(", b@y") << 0
                                       << QStringLiteral("1 # a@x # <a@x> # <a@x> # a@x");
    // The header parser replaces a list whose header form is null.
    QTest::newRow("commas only") << QStringLiteral(",,,") << 0 << QStringLiteral("0 #  # ~ #  # ");
    QTest::newRow("blank only") << QStringLiteral(" , ") << 0 << QStringLiteral("2 #  # ~ #  # ");
    QTest::newRow("unicode names encoded") << QStringLiteral("\"P\u00e9rez, Ana\" <a@x>, Bob <\u00fc@y>") << 1
                                           << QStringLiteral("2 # \"P\u00e9rez Ana\" <a@x>, \"Bob\" <\u00fc@y> # "
                                                             "=?utf-8?B?UMOpcmV6IEFuYQ==?= <a@x>, \"Bob\"  <\u00c3\u00bc@y> # "
                                                             "=?utf-8?B?UMOpcmV6IEFuYQ==?= <a@x>|\"Bob\"  <\u00c3\u00bc@y> # "
                                                             "\"P\u00e9rez Ana\" <a@x>|\"Bob\" <\u00fc@y>");
    // Without the flag the UTF-8 bytes go to the raw parser (read as Latin-1).
    QTest::newRow("not unicode") << QStringLiteral("Zo\u00eb <z@x>") << 2
                                 << QStringLiteral("1 # \"Zo\u00c3\u00ab\" <z@x> # \"Zo\u00c3\u00ab\"  <z@x> # "
                                                   "\"Zo\u00c3\u00ab\"  <z@x> # \"Zo\u00c3\u00ab\" <z@x>");
}

void tst_AddressListClass::parse()
{
    QFETCH(QString, input);
    QFETCH(int, mode);
    QFETCH(QString, expected);
    const QByteArray raw = input.toLatin1();
    const AddressListClass l = mode == 0 ? AddressListClass(QCString(raw.constData(), raw.size()))
                                         : AddressListClass(input, mode == 1);
    QCOMPARE(forms(l), expected);
    // Composition prints the header forms and a reader parses them back.
    QCOMPARE(AddressListClass(l.toQCString()).returnString(), l.returnString());
}

void tst_AddressListClass::entriesAndListOperations()
{
    const AddressListClass l(QCString("\"Doe, John\" <a1@x>, , a2@y"));
    QCOMPARE(l[0].name, QCString("Doe John"));
    QVERIFY(l[1].name.isNull() && l[1].email.isNull() && l[1].getTranslated_name().isNull());
    QCOMPARE(l[2].email, QCString("a2@y"));
    // Out of range gives an all-empty address instead of reading past the list.
    QVERIFY(l[3].email.isNull() && l[-1].email.isNull());

    AddressListClass m;
    QVERIFY(m.returnString().isNull());
    m.addAddress(AddressClass(QCString("A <a@x>")));
    m.addAddress(AddressClass(QCString("A <a@x>"))); // duplicates allowed
    QCOMPARE(m.getAddrList().size(), 2);
    const AddressListClass copy(m);
    m.clear();
    QCOMPARE(m.count(), 0);
    m = copy;
    QCOMPARE(m.toQCString(), QCString("\"A\"  <a@x>, \"A\"  <a@x>"));
}

void tst_AddressListClass::headerFormNeverBreaksLines()
{
    AddressListClass l;
    AddressClass evil;
    evil.name = "Evil\r\nBcc: victim@y";
    evil.email = "a@b\r\n";
    l.addAddress(evil);
    l.addAddress(AddressClass(QCString("ok@x")));
    QCOMPARE(l.toQCString(), QCString("\"Evil  Bcc: victim@y\"  <a@b  >, <ok@x>"));
    QVERIFY(!l.toQStringList().join(QString()).contains(QLatin1Char('\n')));
}

void tst_AddressListClass::largeListIsLinear()
{
    const QByteArray raw = QByteArray("N <a@b>, ").repeated(100000);
    const AddressListClass l{QCString(raw)};
    QCOMPARE(l.count(), 100001); // the blank piece after the last comma
    QCOMPARE(l.toQCString().size(), qsizetype(100000) * 12 - 2);
    QCOMPARE(AddressListClass(QCString("\"" + QByteArray("x, ").repeated(300000))).count(), 1);
}

QTEST_GUILESS_MAIN(tst_AddressListClass)
#include "tst_addresslistclass.moc"
