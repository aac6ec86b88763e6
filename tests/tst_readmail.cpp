// Reading real mail as modern readers show it: mailboxes and groups (RFC
// 5322), attachment names (RFC 2231), base64 with stray bytes and delimiter
// lines. Rows come from the RFCs' own examples and from real messages of the
// sample corpus.

#include <addressclass.h>
#include <addresslistclass.h>
#include <messageclass.h>
#include <mimecodec.h>

#include <QTest>

class tst_ReadMail : public QObject
{
    Q_OBJECT
private slots:
    void mailbox_data();
    void mailbox();
    void list_data();
    void list();
    void parts_data();
    void parts();
    void base64Breaks();
};

void tst_ReadMail::mailbox_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QByteArray>("header");
    // RFC 5322, appendix A.
    QTest::newRow("A.1.1") << QByteArray("John Doe <jdoe@machine.example>") << QStringLiteral("John Doe")
                           << QStringLiteral("jdoe@machine.example") << QByteArray("\"John Doe\"  <jdoe@machine.example>");
    QTest::newRow("A.1.2 quoted") << QByteArray("\"Joe Q. Public\" <john.q.public@example.com>")
                                  << QStringLiteral("Joe Q. Public") << QStringLiteral("john.q.public@example.com")
                                  << QByteArray("\"Joe Q. Public\"  <john.q.public@example.com>");
    QTest::newRow("A.1.2 angle only") << QByteArray("<boss@nil.test>") << QString() << QStringLiteral("boss@nil.test")
                                      << QByteArray("<boss@nil.test>");
    QTest::newRow("A.1.2 escapes") << QByteArray("\"Giant; \\\"Big\\\" Box\" <sysservices@example.net>")
                                   << QStringLiteral("Giant; \"Big\" Box") << QStringLiteral("sysservices@example.net")
                                   << QByteArray("\"Giant; \\\"Big\\\" Box\"  <sysservices@example.net>");
    QTest::newRow("A.5 comments") << QByteArray("Pete(A wonderful \\) chap) <pete(his account)@silly.test(his host)>")
                                  << QStringLiteral("Pete") << QStringLiteral("pete@silly.test")
                                  << QByteArray("\"Pete\"  <pete@silly.test>");
    QTest::newRow("A.6.3 route") << QByteArray("<@a.test,@b.test:joe@c.test>") << QString()
                                 << QStringLiteral("joe@c.test") << QByteArray("<joe@c.test>");
    QTest::newRow("comment after") << QByteArray("aperson@dom.ain (Anne P. Erson)") << QString()
                                   << QStringLiteral("aperson@dom.ain") << QByteArray("<aperson@dom.ain>");
    // The address in angle brackets wins over a name holding '@'.
    QTest::newRow("via list") << QByteArray("\"user@gmail.com via Lista\" <lista@example.org>")
                              << QStringLiteral("user@gmail.com via Lista") << QStringLiteral("lista@example.org")
                              << QByteArray("\"user@gmail.com via Lista\"  <lista@example.org>");
    // mimekit/messages__issue358.eml: the same, unquoted.
    QTest::newRow("issue358") << QByteArray("jang.abcdef@xyzlinu <jang.abcdef@xyzlinux12345678.it>")
                              << QStringLiteral("jang.abcdef@xyzlinu") << QStringLiteral("jang.abcdef@xyzlinux12345678.it")
                              << QByteArray("\"jang.abcdef@xyzlinu\"  <jang.abcdef@xyzlinux12345678.it>");
    // RFC 6532: UTF-8 in the name and in the address.
    QTest::newRow("6532") << QByteArray("J\xc3\xb8ran <j\xc3\xb8ran@example.com>") << QStringLiteral("J\u00f8ran")
                          << QStringLiteral("j\u00f8ran@example.com") << QByteArray("\"J\xc3\xb8ran\"  <j\xc3\xb8ran@example.com>");
    // Encoded words inside a quoted name, as many programs write them.
    QTest::newRow("word in quotes") << QByteArray("\"=?utf-8?Q?Jos=C3=A9_Mart=C3=ADnez?=\" <jose@example.com>")
                                    << QStringLiteral("Jos\u00e9 Mart\u00ednez") << QStringLiteral("jose@example.com")
                                    << QByteArray("=?utf-8?Q?Jos=C3=A9_Mart=C3=ADnez?= <jose@example.com>");
    // mime4j/mimetools-testmsgs__re-fwd.eml: a bare local name.
    QTest::newRow("local name") << QByteArray("user2") << QString() << QStringLiteral("user2") << QByteArray("<user2>");
}

void tst_ReadMail::mailbox()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QByteArray, header);
    const AddressClass a{QCString(raw)};
    QCOMPARE(a.getTranslated_name(), name);
    QCOMPARE(QString::fromUtf8(a.email), email);
    QCOMPARE(QByteArray(a.getOriginalAddress()), header);
}

void tst_ReadMail::list_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("display");
    // RFC 5322, A.1.3 and A.1.2: groups give their members, nothing else.
    QTest::newRow("A.1.3 group") << QByteArray("A Group:Ed Jones <c@a.test>,joe@where.test,John <jdoe@one.test>;")
                                 << QStringLiteral("\"Ed Jones\" <c@a.test>, joe@where.test, \"John\" <jdoe@one.test>");
    QTest::newRow("A.1.2 empty group") << QByteArray("Undisclosed recipients:;") << QString();
    QTest::newRow("empty group comment") << QByteArray("unlisted-recipients:; (no To-header on input)") << QString();
    QTest::newRow("group then mailbox") << QByteArray("Team: a@x.org, b@y.org;, c@z.org")
                                        << QStringLiteral("a@x.org, b@y.org, c@z.org");
    // Quotes, comments and angle brackets protect commas.
    QTest::newRow("quoted comma") << QByteArray("\"Doe, John\" <a@x.org>, b@y.org")
                                  << QStringLiteral("\"Doe, John\" <a@x.org>, b@y.org");
    QTest::newRow("comment comma") << QByteArray("a@x.org (Doe, John), b@y.org") << QStringLiteral("a@x.org, b@y.org");
}

void tst_ReadMail::list()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, display);
    QCOMPARE(AddressListClass(QCString(raw)).returnString(), display);
}

void tst_ReadMail::parts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("parts");  // "type mimetype name" per leaf, joined by " | "
    auto leaf = [](const char* header) { return QByteArray("From: a@x\r\n") + header + "\r\n\r\nbody\r\n"; };
    // Content-Disposition's filename, else Content-Type's name, whether
    // or not there is a Content-Disposition line.
    QTest::newRow("filename only") << leaf("Content-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"r.pdf\"")
                                   << QStringLiteral("attachment application/pdf r.pdf");
    QTest::newRow("name, no disposition") << leaf("Content-Type: application/pdf; name=\"x.pdf\"")
                                          << QStringLiteral("attachment application/pdf x.pdf");
    QTest::newRow("filename beats name") << leaf("Content-Type: image/png; name=a.png\r\nContent-Disposition: inline; filename=b.png")
                                         << QStringLiteral("attachment image/png b.png");
    QTest::newRow("quoted semicolon") << leaf("Content-Type: application/pdf; name=\"a;b.pdf\"; x=y")
                                      << QStringLiteral("attachment application/pdf a;b.pdf");
    QTest::newRow("no name") << leaf("Content-Type: application/pdf") << QStringLiteral("attachment application/pdf attachment.dat");
    // RFC 2231: extended values, continuations, charset and language.
    QTest::newRow("2231 extended") << leaf("Content-Type: application/pdf\r\nContent-Disposition: attachment;\r\n"
                                           " filename*=utf-8''%E2%82%AC%20informe.pdf")
                                   << QStringLiteral("attachment application/pdf \u20ac informe.pdf");
    QTest::newRow("2231 language") << leaf("Content-Type: application/x-stuff;\r\n name*=us-ascii'en-us'This%20is%20%2A%2A%2Afun%2A%2A%2A")
                                   << QStringLiteral("attachment application/x-stuff This is ***fun***");
    QTest::newRow("2231 continuations")
        << leaf("Content-Type: application/x-stuff;\r\n name*0*=us-ascii'en'This%20is%20even%20more%20;\r\n"
                " name*1*=%2A%2A%2Afun%2A%2A%2A%20;\r\n name*2=\"isn't it!\"")
        << QStringLiteral("attachment application/x-stuff This is even more ***fun*** isn't it!");
    QTest::newRow("2231 latin-1 parts") << leaf("Content-Type: text/plain; charset=us-ascii\r\nContent-Disposition: attachment;\r\n"
                                                " filename*1=\".txt\"; filename*0*=iso-8859-1''%E9t%E9")
                                        << QStringLiteral("attachment text/plain \u00e9t\u00e9.txt");
    // RFC 2047 words inside a quoted value, raw UTF-8 in a quoted value.
    QTest::newRow("2047 in quotes") << leaf("Content-Type: application/octet-stream; name=\"=?utf-8?B?w6kudHh0?=\"")
                                    << QStringLiteral("attachment application/octet-stream \u00e9.txt");
    QTest::newRow("raw utf-8") << leaf("Content-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"\xc3\xa9.pdf\"")
                               << QStringLiteral("attachment application/pdf \u00e9.pdf");
    // Delimiter lines (RFC 2046 5.1.1): an inner boundary that starts with
    // the outer one does not split the outer part (testmsgs__boundary-name-clash).
    const QByteArray clash = "From: a@x\r\nContent-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n--XX\r\n"
                             "Content-Type: multipart/alternative; boundary=\"XX-inner\"\r\n\r\n--XX-inner\r\n\r\none\r\n"
                             "--XX-inner\r\nContent-Type: text/html\r\n\r\n<p>two\r\n--XX-inner--\r\n"
                             "--XX\r\nContent-Type: image/gif; name=g.gif\r\n\r\nGIF\r\n--XX--\r\n";
    QTest::newRow("boundary clash") << clash
                                    << QStringLiteral("text text/plain attachment.dat | text text/html attachment.dat | "
                                                      "attachment image/gif g.gif");
    // Blanks may follow a delimiter; one not at a line start is text.
    QTest::newRow("delimiter blanks") << QByteArray("Content-Type: multipart/mixed; boundary=B\n\n--B \t\n\none x--B\n--B  \n\ntwo\n--B-- \n")
                                      << QStringLiteral("text text/plain attachment.dat | text text/plain attachment.dat");
}

void tst_ReadMail::parts()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, parts);
    const MessageClass m{QCString(text)};
    QStringList got;
    for (const auto& p : m.partList)
        got << QString::fromLatin1(p->type + ' ' + p->mimetype + ' ') + QString::fromUtf8(p->name);
    QCOMPARE(got.join(QLatin1String(" | ")), parts);
}

// RFC 2045 6.8: bytes outside the alphabet are skipped wherever they stand,
// inside a group of four too.
void tst_ReadMail::base64Breaks()
{
    const QByteArray text = "Zm9vYmFyYg==";
    for (const QByteArray& junk : {QByteArray("\r\n"), QByteArray(" "), QByteArray("\t"), QByteArray("*")})
        for (int at = 0; at <= text.size(); ++at) {
            QByteArray broken = text;
            broken.insert(at, junk);
            QCOMPARE(MIMECodec::decodeBase64(broken), QByteArray("foobarb"));
        }
}

QTEST_GUILESS_MAIN(tst_ReadMail)
#include "tst_readmail.moc"
