#include <headerclass.h>
#include <messageclass.h>

#include <QTest>

// Header fields (of the message parser and of a header read alone) and the
// MIME structure walk; the part structures of real
// messages are in tst_corpus. Part tables are written as text rows:
//   "type mimetype encoding charset cid name offset length" per part,
// the offsets and lengths counted by hand over the row's text.

class tst_MessageClass : public QObject
{
    Q_OBJECT
private slots:
    void emptyText();
    void headerFields_data();
    void headerFields();
    void sameAsHeaderParser();
    void parts_data();
    void parts();
    void diagnostics();
    void names_data();
    void names();
    void headerRoundTrip();
    void hostileSizes_data();
    void hostileSizes();
};

/// Every header field of a HeaderClass or MessageClass, one "Name=value" line each; null as "~".
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

static QString table(const MessageClass& m)
{
    QStringList rows;
    for (const auto& p : m.partList)
        rows << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                    .arg(QString::fromLatin1(p->type), QString::fromLatin1(p->mimetype),
                         QString::fromLatin1(p->encoding), QString::fromLatin1(p->charset),
                         QString::fromLatin1(p->cid), QString::fromLatin1(p->name))
                    .arg(p->offset)
                    .arg(p->length);
    return rows.join(QLatin1Char(';'));
}

void tst_MessageClass::emptyText()
{
    // No header at all: no defaults are filled in, no part is found.
    MessageClass m{ QCString("") };
    QVERIFY(m.partList.empty() && m.Subject.isNull() && m.Status.isNull() && m.Content_Type.isNull() && !m.digest);
    QVERIFY(m.Received.isEmpty() && m.To.count() == 0 && m.Date.day_of_week.isNull());
}

void tst_MessageClass::headerFields_data()
{
    QTest::addColumn<bool>("headerOnly"); // read by HeaderClass, else by MessageClass
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("checks"); // lines the dump holds
    auto m = [](const char* name, const QByteArray& text, const QByteArray& checks) {
        QTest::newRow(name) << false << text << checks;
    };
    auto h = [](const char* name, const QByteArray& text, const QByteArray& checks) {
        QTest::newRow(name) << true << text << checks;
    };
    m("defaults", "From: a@example.org\nTo: b@example.org\n",
      "Subject=(no subject)\nContent_Type=text/plain\nEncoding=8bit\nDate=Mon, 01 Jan 1999 00:00\n");
    m("names ignore case, no space after colon", "FROM: x@example.org\nSubject:Hello\n",
      "From=<x@example.org>\nSubject=Hello\n");
    m("comments kept in subject only", "Subject: Re: (fwd) hi\nOrganization: Acme (the (big) one) \"(x)\" Inc (open\n",
      "Subject=Re: (fwd) hi\nOrganization=Acme  \"(x)\" Inc \n");
    m("second subject wins", "Subject: one\nSubject: two\n", "Subject=two\n");
    m("empty subject", "Subject:\n", "Subject=(no subject)\n");
    m("received accumulate", "Received: a\nReceived: b (c)\nReceived: d\n", "Received=a|b |d\n");
    m("status R, x-priority 1", "Status: R\nX-Priority: 1 (Highest)\n", "Status=Read\nPriority=Highest\n");
    m("status RO, x-msmail-priority 5", "Status: RO\nX-MSMail-Priority: 5\n", "Status=New\nPriority=Lowest\n");
    m("priority 7", "Priority: 7\n", "Priority=Normal\n");
    m("priority beats x-priority", "X-Priority: 1\nPriority: low\n", "Priority=Low\n");
    m("message-id comment, in-reply-to first", "Message-Id: <id1@x> (c)\nIn-Reply-To: <id1> <id2>\n",
      "Message_ID=id1@x\nIn_Reply_To=id1\n");
    m("references minus reply", "References: <a> <b> <c>\nIn-Reply-To: <c>\n", "References=a|b\n");
    m("references folded", "References: <a>\n <> <b>,<c>\n", "References=a|b|c\n");
    m("content-type params dropped, encoding as written", "Content-Type: Multipart/Digest; boundary=x\n"
      "Content-Transfer-Encoding: Base64\n", "Content_Type=Multipart/Digest\nEncoding=Base64\n");
    m("sender fills from", "Sender: s@example.org\nResent-From: r@example.org\n", "From=<s@example.org>\n");
    m("resent-from fills from", "Resent-From: r@example.org\n", "From=<r@example.org>\n");
    m("no from", "Subject: x\n", "From=\"unknown\" \n");
    m("cc list", "Cc: a@x, \"B\" <b@y>\n", "Cc=<a@x>, \"B\"  <b@y>\n");
    m("date", "Date: Tue, 5 Mar 2002 14:07:09 +0100\n", "Date=Tue, 05 Mar 2002 14:07\n");
    m("header stops at blank line", "Subject: a\n\nOrganization: o\n", "Organization=~\n");
    m("line without colon skipped", "garbage\nSubject: s\n", "Subject=s\n");
    m("lone CR line ends", "Subject: a\rOrganization: b\r\rX", "Organization=b\n");
    m("long first line kept whole", "Subject: " + QByteArray(3000, 'x') + "\n", "Subject=" + QByteArray(3000, 'x') + "\n");
    // A header alone has other defaults; the fields themselves are read as above (headerfields_p.h).
    h("header: null text", QByteArray(), "From=~\nTo=~\nSubject=~\nReferences=\nStatus=~\nPriority=~\nContent_Type=~\n");
    h("header: defaults", "\nFrom: a@x\n",
      "Subject=Not specified\nFrom=\"unknown\" \nTo=\"unknown\" \nStatus=New\nPriority=Normal\n"
      "Date=Mon, 01 Jan 1999 00:00\nContent_Type=text/plain\nEncoding=8bit\n");
    h("header: reply ids join references", "In-Reply-To: <a> <b>\nReferences: <c>\n", "In_Reply_To=a\nReferences=c|b\n");
    h("header: reply id removed from references", "In-Reply-To: <a>\nReferences: <a> <c>\n", "References=c\n");
    h("header: continuation simplified", "Subject: a   b\r\n \t c  \r\n\r\n", "Subject=a b c\n");
    h("header: empty subject kept", "Subject: \n", "Subject=\n");
    // The C-string constructor stops at a zero byte, the QCString one reads on.
    h("header: zero byte", QByteArray("Subject: a\0b\nOrganization: o\n", 29), "Organization=~\n");
}

void tst_MessageClass::headerFields()
{
    QFETCH(bool, headerOnly);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, checks);
    const QByteArray all = headerOnly ? dump(HeaderClass(text.isNull() ? nullptr : text.constData()))
                                      : dump(MessageClass(QCString(text + "\nbody\n")));
    for (const QByteArray& check : checks.chopped(1).split('\n'))
        QVERIFY2(('\n' + all).contains('\n' + check + '\n'), (check + " in\n" + all).constData());
    if (!headerOnly)
        return;
    const QByteArray viaQCString = dump(HeaderClass{QCString(text)});
    if (text.contains('\0'))
        QVERIFY(viaQCString.contains("\nOrganization=o\n"));
    else
        QCOMPARE(viaQCString, all);
}

// A header read alone holds what the message parser reads from the same text.
void tst_MessageClass::sameAsHeaderParser()
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

void tst_MessageClass::parts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("table");

    QTest::newRow("plain") << QByteArray("Subject: x\n\nhello\n") << "text text/plain 8bit us-ascii unknown attachment.dat 12 6";
    QTest::newRow("no blank line") << QByteArray("Subject: x\n") << "text text/plain 8bit us-ascii unknown attachment.dat 11 0";
    QTest::newRow("charset quoted") << QByteArray("Content-Type: text/plain; charset=\"ISO-8859-1\"\n\nx")
                                    << "text text/plain 8bit ISO-8859-1 unknown attachment.dat 48 1";
    QTest::newRow("charset case in name") << QByteArray("Content-Type: TEXT/HTML; CharSet = utf-8\n\nx")
                                          << "text text/html 8bit us-ascii unknown attachment.dat 42 1";
    // Empty values and values holding blanks stay in their own fields.
    QTest::newRow("empty charset") << QByteArray("Content-Type: text/plain; charset=\"\"\n\nx")
                                   << "text text/plain 8bit  unknown attachment.dat 38 1";
    QTest::newRow("zero and 8-bit bytes") << QByteArray("Subject: \xff\0x\n\n\0\x80\n", 17)
                                          << "text text/plain 8bit us-ascii unknown attachment.dat 14 3";

    auto single = [](const QByteArray& head) {
        return QByteArray("Content-Type: multipart/mixed; boundary=z\n\n--z\n") + head + "\n\nX\n--z--\n";
    };
    QTest::newRow("calendar") << single("Content-Type: text/calendar")
                              << "attachment text/calendar 8bit us-ascii unknown calendar.ics 76 1";
    QTest::newRow("inline image") << single("Content-Type: image/jpeg\nContent-Disposition: inline")
                                  << "attachment image/jpeg 8bit us-ascii unknown attachment.dat 101 1";
    QTest::newRow("inline text") << single("Content-Type: text/plain\nContent-Disposition: inline")
                                 << "text text/plain 8bit us-ascii unknown attachment.dat 101 1";
    QTest::newRow("other text, upper case") << single("Content-Type: TEXT/X-ZDIFF")
                                << "text text/x-zdiff 8bit us-ascii unknown attachment.dat 75 1";
    QTest::newRow("part header without blank line")
        << QByteArray("Content-Type: multipart/mixed; boundary=z\n\n--z\nContent-Type: text/html\n--z\n\nY\n--z--\n")
        << "text text/html 8bit us-ascii unknown attachment.dat 70 0;text text/plain 8bit us-ascii unknown attachment.dat 76 1";
    QTest::newRow("empty part between delimiters skipped")
        << QByteArray("Content-Type: multipart/mixed; boundary=z\n\n--z\n--z\n\nY\n--z--\n")
        << "text text/plain 8bit us-ascii unknown attachment.dat 52 1";
    QTest::newRow("boundary never found") << QByteArray("Content-Type: multipart/mixed; boundary=q\n\nno parts\n")
                                          << "attachment multipart/mixed 8bit us-ascii unknown attachment.dat 43 9";
    QTest::newRow("signed container taken as a leaf")
        << QByteArray("Content-Type: multipart/signed; protocol=\"application/pgp-signature\"; boundary=q\n\nno parts\n")
        << "attachment multipart/signed 8bit us-ascii unknown signature.pgp 82 9";
    QTest::newRow("digest keeps text part")
        << QByteArray("Content-Type: multipart/digest; boundary=d\n\n--d\nContent-Type: text/plain\n\nx\n--d\n\nFrom: a@x\n\n1\n--d--\n")
        << "text text/plain 8bit us-ascii unknown attachment.dat 74 1;digest message/rfc822 8bit us-ascii unknown attachment.dat 81 12";
}

void tst_MessageClass::parts()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, table);
    QCOMPARE(::table(MessageClass(QCString(text))), table);
}

// A multipart whose close delimiter is missing keeps the parts found, with a diagnostic.
void tst_MessageClass::diagnostics()
{
    const QByteArray head = "Content-Type: multipart/mixed; boundary=z\n\n--z\n\nA\n";
    for (const QByteArray& text : {head + "--z\n\nB\n--z\n\nC\n", head}) {
        QTest::ignoreMessage(QtDebugMsg, "If we got on this branch there is either a mangled mail or a parser failure");
        QCOMPARE(MessageClass(QCString(text)).partList.size(), size_t(text == head ? 1 : 3));
    }
}

// Attachment names (RFC 2231, RFC 2047 in quotes) and delimiter lines.
void tst_MessageClass::names_data()
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
    // Blanks may follow a delimiter; one not at a line start is text.
    QTest::newRow("delimiter blanks") << QByteArray("Content-Type: multipart/mixed; boundary=B\n\n--B \t\n\none x--B\n--B  \n\ntwo\n--B-- \n")
                                      << QStringLiteral("text text/plain attachment.dat | text text/plain attachment.dat");
}

void tst_MessageClass::names()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, parts);
    const MessageClass m{QCString(text)};
    QStringList got;
    for (const auto& p : m.partList)
        got << QString::fromLatin1(p->type + ' ' + p->mimetype + ' ') + QString::fromUtf8(p->name);
    QCOMPARE(got.join(QLatin1String(" | ")), parts);
}

// The header alone: taken out, made into a message without parts, and
// imported into a parsed message, whose parts stay.
void tst_MessageClass::headerRoundTrip()
{
    MessageClass m{ QCString("From: A <a@x>\nSubject: s\nReferences: <r1>\nReceived: one\nContent-Type: text/html\n\nbody\n") };
    const HeaderClass h = m.header();
    QCOMPARE(h.Subject + ' ' + h.From.email + ' ' + h.References.value(0), QCString("s a@x r1"));
    MessageClass copy(h);
    QVERIFY(copy.partList.empty() && !copy.digest);
    QCOMPARE(copy.Subject + ' ' + copy.Content_Type + ' ' + copy.Received.value(0), QCString("s text/html one"));
    QCOMPARE(copy.Date.toQCString(), m.Date.toQCString());
    QVERIFY(MessageClass(QCString("Content-Type: Multipart/Digest; boundary=x\n\n")).digest);
    m.importHeader(HeaderClass("Subject: t\n"));
    QCOMPARE(m.Subject, QCString("t"));
    QCOMPARE(int(m.partList.size()), 1);
}

// Nested multiparts, each level with its own boundary (none a prefix of
// another: delimiters match as plain substrings).
static QByteArray nested(int levels)
{
    QByteArray head, tail;
    for (int i = 0; i < levels; ++i) {
        const QByteArray b = "b" + QByteArray::number(i) + "x";
        head += "Content-Type: multipart/mixed; boundary=" + b + "\n\n--" + b + "\n";
        tail.prepend("\n--" + b + "--\n");
    }
    return head + "\nleaf" + tail;
}

// Huge inputs parse in bounded time and memory, every part inside the text.
void tst_MessageClass::hostileSizes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("parts");
    QTest::addColumn<int>("received");
    QTest::addColumn<QByteArray>("lastBody");
    QTest::newRow("1000000 lines") << QByteArray("Received: x\n").repeated(1000000) + "\nbody\n" << 1 << 1000000 << QByteArray("body\n");
    QTest::newRow("1000000 continuation lines") << "Subject: a\n" + QByteArray(" b\n").repeated(1000000) + "\nbody\n" << 1 << 0 << QByteArray("body\n");
    // Parts with a header each, beyond the limit: the record count stops there.
    const QByteArray part = "--b\nContent-Type: text/plain\n\nx\n";
    QTest::newRow("part limit") << "Content-Type: multipart/mixed; boundary=b\n\n" + part.repeated(MessageClass::MaxParts + 5000) + "--b--\n"
                                << MessageClass::MaxParts << 0 << QByteArray("x");
    QTest::newRow("nested 50 deep: the leaf is found") << nested(50) << 1 << 0 << QByteArray("leaf");
    // Far beyond the depth limit the walk stops: the deepest container it
    // reaches becomes one leaf. No stack overflow, bounded time.
    QTest::newRow("nested 100000 deep") << nested(100000) << 1 << 0 << QByteArray();
}

void tst_MessageClass::hostileSizes()
{
    QFETCH(QByteArray, text);
    QFETCH(int, parts);
    QFETCH(int, received);
    QFETCH(QByteArray, lastBody);
    const QCString raw(text);
    MessageClass m(raw);
    QCOMPARE(int(m.Received.size()), received);
    QCOMPARE(int(m.partList.size()), parts);
    for (const auto& p : m.partList)
        QVERIFY(p->offset >= 0 && p->length >= 0 && p->offset + p->length <= raw.size());
    const MimePart& last = *m.partList.back();
    if (lastBody.isNull())
        QCOMPARE(last.mimetype + ' ' + last.type, QCString("multipart/mixed attachment"));
    else
        QCOMPARE(QByteArray(raw.mid(last.offset, last.length)), lastBody);
}

QTEST_GUILESS_MAIN(tst_MessageClass)
#include "tst_messageclass.moc"
