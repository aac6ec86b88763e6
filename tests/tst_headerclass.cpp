#include <headerclass.h>
#include <messageclass.h>

#include <QTest>

class tst_HeaderClass : public QObject
{
    Q_OBJECT
private slots:
    void nullText();
    void fields_data();
    void fields();
    void sameAsMessageParser_data();
    void sameAsMessageParser();
    void fromMessage();
    void zeroBytes();
};

static QString joined(const QList<QCString>& list)
{
    QStringList out;
    for (const QCString& c : list)
        out << QString::fromLatin1(c);
    return out.join(QLatin1Char('|'));
}

static QString field(const HeaderClass& h, const QString& name)
{
    auto s = [](const QCString& c) { return c.isNull() ? QStringLiteral("<null>") : QString::fromLatin1(c); };
    if (name == QLatin1String("From"))
        return s(h.From.getOriginalAddress());
    if (name == QLatin1String("To"))
        return s(h.To.toQCString());
    if (name == QLatin1String("Subject"))
        return s(h.Subject);
    if (name == QLatin1String("Message_ID"))
        return s(h.Message_ID);
    if (name == QLatin1String("In_Reply_To"))
        return s(h.In_Reply_To);
    if (name == QLatin1String("References"))
        return joined(h.References);
    if (name == QLatin1String("Received"))
        return joined(h.Received);
    if (name == QLatin1String("Status"))
        return s(h.Status);
    if (name == QLatin1String("Priority"))
        return s(h.Priority);
    if (name == QLatin1String("Content_Type"))
        return s(h.Content_Type);
    if (name == QLatin1String("Content_Transfer_Encoding"))
        return s(h.Content_Transfer_Encoding);
    if (name == QLatin1String("Date"))
        return s(h.Date.toQCString());
    return QStringLiteral("?");
}

void tst_HeaderClass::nullText()
{
    HeaderClass h(static_cast<const char*>(nullptr));
    QVERIFY(h.Subject.isNull());
    QVERIFY(h.Status.isNull());
    QVERIFY(h.Priority.isNull());
    QVERIFY(h.Content_Type.isNull());
    QVERIFY(h.From.email.isNull());
    QCOMPARE(h.To.count(), 0);
    QVERIFY(h.Date.day_of_week.isNull());
    QVERIFY(h.References.isEmpty());
}

void tst_HeaderClass::fields_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no subject") << QByteArray("From: a@x\n\nbody") << "Subject" << "Not specified";
    QTest::newRow("empty subject kept") << QByteArray("Subject: \n") << "Subject" << "";
    QTest::newRow("reply ids join references")
        << QByteArray("In-Reply-To: <a> <b>\nReferences: <c>\n") << "References" << "c|b";
    QTest::newRow("in-reply-to first") << QByteArray("In-Reply-To: <a> <b>\nReferences: <c>\n") << "In_Reply_To" << "a";
    QTest::newRow("reply id removed from references")
        << QByteArray("In-Reply-To: <a>\nReferences: <a> <c>\n") << "References" << "c";
    QTest::newRow("first line empty: defaults") << QByteArray("\nSubject: x\n") << "Subject" << "Not specified";
    QTest::newRow("first line empty: from") << QByteArray("\nFrom: a@x\n") << "From" << "\"unknown\" ";
    QTest::newRow("first line empty: to") << QByteArray("\n") << "To" << "\"unknown\" ";
    QTest::newRow("first line empty: status") << QByteArray("\n") << "Status" << "New";
    QTest::newRow("first line empty: priority") << QByteArray("\n") << "Priority" << "Normal";
    QTest::newRow("first line empty: date") << QByteArray("\n") << "Date" << "Mon, 01 Jan 1999 00:00";
    QTest::newRow("first line empty: type") << QByteArray("\n") << "Content_Type" << "text/plain";
    QTest::newRow("first line empty: encoding") << QByteArray("\n") << "Content_Transfer_Encoding" << "8bit";
    QTest::newRow("continuation simplified") << QByteArray("Subject: a   b\r\n \t c  \r\n\r\n") << "Subject" << "a b c";
    QTest::newRow("no space after colon") << QByteArray("Subject:Hello\n") << "Subject" << "Hello";
    QTest::newRow("subject keeps parentheses") << QByteArray("Subject: (fwd) x\n") << "Subject" << "(fwd) x";
    QTest::newRow("message-id with comment") << QByteArray("Message-ID: <m@x> (added)\n") << "Message_ID" << "m@x";
    QTest::newRow("status R") << QByteArray("Status: R\n") << "Status" << "Read";
    QTest::newRow("x-priority") << QByteArray("X-Priority: 2 (High)\n") << "Priority" << "High";
    QTest::newRow("sender") << QByteArray("Sender: s@x\n") << "From" << "<s@x>";
    QTest::newRow("content-type params") << QByteArray("Content-Type: text/html; charset=x\n") << "Content_Type" << "text/html";
    QTest::newRow("content-type empty") << QByteArray("Content-Type: \n") << "Content_Type" << "text/plain";
    QTest::newRow("long header unbounded") << (QByteArray("Subject: ") + QByteArray(5000, 'z') + "\n")
                                           << "Subject" << QString(5000, QLatin1Char('z'));
}

void tst_HeaderClass::fields()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const HeaderClass h(text.constData());
    QCOMPARE(field(h, name), expected);
    // The QCString constructor reads the same bytes.
    const HeaderClass h2{ QCString(text) };
    QCOMPARE(field(h2, name), expected);
}

void tst_HeaderClass::sameAsMessageParser_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("full") << QByteArray(
        "Received: from a by b; Tue, 5 Mar 2002 14:07:09 +0100\nReceived: from c\n"
        "From: \"John Doe\" <john@example.org>\nReply-To: r@example.org\nTo: a@x, b@y\nCc: c@z\n"
        "Subject: =?utf-8?Q?caf=C3=A9?=\nMessage-ID: <m1@x>\nIn-Reply-To: <p@x>\nReferences: <q@x> <p@x>\n"
        "Organization: Org\nStatus: O\nX-Priority: 4\nDate: Tue, 5 Mar 2002 14:07:09 +0100\n"
        "Content-Type: multipart/mixed; boundary=z\nContent-Transfer-Encoding: 7bit\n\n--z\n\nx\n--z--\n");
    QTest::newRow("crlf folded") << QByteArray(
        "From: a@x\r\nTo: b@y,\r\n c@z\r\nSubject: one\r\n two\r\nDate: 1 Jan 2001 10:00 GMT\r\n\r\nbody\r\n");
}

void tst_HeaderClass::sameAsMessageParser()
{
    QFETCH(QByteArray, text);
    const MessageClass m{ QCString(text) };
    const HeaderClass h(text.constData());
    QCOMPARE(h.From.getOriginalAddress(), m.From.getOriginalAddress());
    QCOMPARE(h.Reply_To.getOriginalAddress(), m.Reply_To.getOriginalAddress());
    QCOMPARE(h.To.toQCString(), m.To.toQCString());
    QCOMPARE(h.Cc.toQCString(), m.Cc.toQCString());
    QCOMPARE(h.Subject, m.Subject);
    QCOMPARE(h.Message_ID, m.Message_ID);
    QCOMPARE(h.In_Reply_To, m.In_Reply_To);
    QCOMPARE(h.Organization, m.Organization);
    QCOMPARE(h.Status, m.Status);
    QCOMPARE(h.Priority, m.Priority);
    QCOMPARE(h.Content_Type, m.Content_Type);
    QCOMPARE(h.Content_Transfer_Encoding, m.Content_Transfer_Encoding);
    QCOMPARE(h.Received, m.Received);
    QCOMPARE(h.References, m.References);
    QCOMPARE(h.Date.toQCString(), m.Date.toQCString());
}

void tst_HeaderClass::fromMessage()
{
    MessageClass m{ QCString("From: a@x\nSubject: s\nReferences: <r>\n\nbody\n") };
    HeaderClass h(m);
    QCOMPARE(h.Subject, QCString("s"));
    QCOMPARE(h.From.email, QCString("a@x"));
    QCOMPARE(joined(h.References), QStringLiteral("r"));
    QCOMPARE(h.Content_Type, QCString("text/plain"));
}

void tst_HeaderClass::zeroBytes()
{
    const QByteArray text("Subject: a\0b\nOrganization: o\n", 29);
    // The C-string constructor stops at the zero byte...
    QCOMPARE(HeaderClass(text.constData()).Organization, QCString());
    // ...the byte-array one reads on.
    const HeaderClass h{ QCString(text) };
    QCOMPARE(h.Organization, QCString("o"));
    QCOMPARE(h.Subject, QCString(QByteArray("a\0b", 3)));
}

QTEST_GUILESS_MAIN(tst_HeaderClass)
#include "tst_headerclass.moc"
