#include <headerclass.h>
#include <messageclass.h>

#include <QTest>

/// Every field of a header (of HeaderClass or MessageClass), one "Name=value" line each; null as "~".
template<typename H> static QByteArray dump(const H& h)
{
    auto s = [](const QCString& c) { return c.isNull() ? QByteArray("~") : QByteArray(c); };
    auto list = [](const QList<QCString>& l) { return QList<QByteArray>(l.begin(), l.end()).join('|'); };
    return "From=" + s(h.From.getOriginalAddress()) + "\nReply_To=" + s(h.Reply_To.getOriginalAddress()) + "\nTo="
        + s(h.To.toQCString()) + "\nCc=" + s(h.Cc.toQCString()) + "\nSubject=" + s(h.Subject) + "\nMessage_ID="
        + s(h.Message_ID) + "\nIn_Reply_To=" + s(h.In_Reply_To) + "\nReferences=" + list(h.References) + "\nReceived="
        + list(h.Received) + "\nOrganization=" + s(h.Organization) + "\nStatus=" + s(h.Status) + "\nPriority="
        + s(h.Priority) + "\nContent_Type=" + s(h.Content_Type) + "\nEncoding=" + s(h.Content_Transfer_Encoding)
        + "\nDate=" + s(h.Date.toQCString()) + '\n';
}

class tst_HeaderClass : public QObject
{
    Q_OBJECT
private slots:
    void fields_data();
    void fields();
    void sameAsMessageParser();
};

void tst_HeaderClass::fields_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("checks"); // lines the dump holds
    QTest::newRow("null text") << QByteArray()
                               << QByteArray("From=~\nTo=~\nSubject=~\nReferences=\nStatus=~\nPriority=~\nContent_Type=~\n");
    QTest::newRow("defaults") << QByteArray("\nFrom: a@x\n")
                              << QByteArray("Subject=Not specified\nFrom=\"unknown\" \nTo=\"unknown\" \nStatus=New\nPriority=Normal\n"
                                            "Date=Mon, 01 Jan 1999 00:00\nContent_Type=text/plain\nEncoding=8bit\n");
    QTest::newRow("empty subject kept") << QByteArray("Subject: \n") << QByteArray("Subject=\n");
    QTest::newRow("reply ids join references")
        << QByteArray("In-Reply-To: <a> <b>\nReferences: <c>\n") << QByteArray("In_Reply_To=a\nReferences=c|b\n");
    QTest::newRow("reply id removed from references") << QByteArray("In-Reply-To: <a>\nReferences: <a> <c>\n")
                                                      << QByteArray("References=c\n");
    QTest::newRow("continuation simplified") << QByteArray("Subject: a   b\r\n \t c  \r\n\r\n") << QByteArray("Subject=a b c\n");
    QTest::newRow("status, x-priority, sender, message-id comment")
        << QByteArray("Status: R\nX-Priority: 2 (High)\nSender: s@x\nMessage-ID: <m@x> (added)\n")
        << QByteArray("Status=Read\nPriority=High\nFrom=<s@x>\nMessage_ID=m@x\n");
    QTest::newRow("content-type params") << QByteArray("Content-Type: text/html; charset=x\n") << QByteArray("Content_Type=text/html\n");
    QTest::newRow("long header unbounded") << "Subject: " + QByteArray(5000, 'z') + "\n" << "Subject=" + QByteArray(5000, 'z') + "\n";
    // The C-string constructor stops at a zero byte, the QCString one reads on.
    QTest::newRow("zero byte") << QByteArray("Subject: a\0b\nOrganization: o\n", 29) << QByteArray("Organization=~\n");
}

void tst_HeaderClass::fields()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, checks);
    const QByteArray all = dump(HeaderClass(text.isNull() ? nullptr : text.constData()));
    const QByteArray viaQCString = dump(HeaderClass{QCString(text)});
    for (const QByteArray& check : checks.chopped(1).split('\n'))
        QVERIFY2(('\n' + all).contains('\n' + check + '\n'), (check + " in\n" + all).constData());
    if (text.contains('\0'))
        QVERIFY(viaQCString.contains("\nOrganization=o\n"));
    else
        QCOMPARE(viaQCString, all);
}

void tst_HeaderClass::sameAsMessageParser()
{
    for (const QByteArray& text :
         {QByteArray("Received: from a by b; Tue, 5 Mar 2002 14:07:09 +0100\nReceived: from c\n"
                     "From: \"John Doe\" <john@example.org>\nReply-To: r@example.org\nTo: a@x, b@y\nCc: c@z\n"
                     "Subject: =?utf-8?Q?caf=C3=A9?=\nMessage-ID: <m1@x>\nIn-Reply-To: <p@x>\nReferences: <q@x> <p@x>\n"
                     "Organization: Org\nStatus: O\nX-Priority: 4\nDate: Tue, 5 Mar 2002 14:07:09 +0100\n"
                     "Content-Type: multipart/mixed; boundary=z\nContent-Transfer-Encoding: 7bit\n\n--z\n\nx\n--z--\n"),
          QByteArray("From: a@x\r\nTo: b@y,\r\n c@z\r\nSubject: one\r\n two\r\nDate: 1 Jan 2001 10:00 GMT\r\n\r\nbody\r\n")}) {
        MessageClass m{QCString(text)};
        QCOMPARE(dump(HeaderClass(text.constData())), dump(m));
        QCOMPARE(dump(HeaderClass(m)), dump(m));
    }
}

QTEST_GUILESS_MAIN(tst_HeaderClass)
#include "tst_headerclass.moc"
