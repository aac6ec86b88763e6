#include <indexclass.h>
#include <localmailfolder.h>
#include <messageclass.h>
#include <messagedevice.h>
#include <mimecodec.h>
#include <mimepart.h>
#include <orvaneversion.h>

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// Composed messages are compared with literal texts written from the
// composition rules. What varies from run to run is replaced after its form
// has been checked: the Date value (DATE), the boundary (BOUNDARY), the
// index ID's UUID (UUID) and the host in the Message-ID (HOST).
class tst_Composition : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void singlePart();
    void twoPartsWithFooterAndHeaders();
    void foldedRecipients();
    void encodedSubject_data();
    void encodedSubject();
    void headerInjection();
    void versionsInMessagesFile();
    void failures();
    void views();

private:
    struct Composed {
        QString id;
        QByteArray text;
    };
    // Creates a message, lets \a describe fill the descriptor, creates the
    // parts \a kinds (type, mimetype, encoding, charset, name) and sets the
    // content of each in order.
    Composed compose(LocalMailFolder& f, const std::function<void(MessageDescriptor&)>& describe,
                     const QList<QList<QByteArray>>& kinds = {}, const QList<QByteArray>& contents = {});
    QByteArray normalised(const Composed& c);
    QString folderPath()
    {
        const QString p = tmp.path() + QStringLiteral("/f%1").arg(++serial);
        QDir().mkpath(p);
        return p;
    }
    QTemporaryDir tmp;
    int serial = 0;
};

void tst_Composition::initTestCase()
{
    // The footer comes from a file named in the user's settings.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, tmp.path() + QLatin1String("/settings"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, tmp.path() + QLatin1String("/settings"));
    QFile footer(tmp.path() + QLatin1String("/footer.txt"));
    QVERIFY(footer.open(QIODevice::WriteOnly) && footer.write("FIRMA") == 5);
    QSettings(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"))
        .setValue(QStringLiteral("/email/footerText"), footer.fileName());
}

tst_Composition::Composed tst_Composition::compose(LocalMailFolder& f,
    const std::function<void(MessageDescriptor&)>& describe, const QList<QList<QByteArray>>& kinds,
    const QList<QByteArray>& contents)
{
    Composed c{f.createMessage(), QByteArray()};
    MessageDevice dev(f.indexIDict()->find(c.id));
    dev.loadDescriptor(false);
    describe(dev.getDescriptor());
    dev.saveDescriptor();
    for (const QList<QByteArray>& k : kinds) {
        MimePart* p = dev[dev.createPart()];
        std::tie(p->type, p->mimetype, p->encoding, p->charset, p->name) = std::tie(k[0], k[1], k[2], k[3], k[4]);
    }
    for (int i = 0; i < contents.size(); ++i)
        c.text += dev.setPartData(i, contents[i]) ? "" : "setPartData failed";
    if (contents.isEmpty() && !dev.saveMessage(-1, QByteArray()))
        c.text += "saveMessage failed";
    c.text += dev.rfc822Message();
    return c;
}

QByteArray tst_Composition::normalised(const Composed& c)
{
    const QString uuid = QString(c.id).remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    QString s = QString::fromLatin1(c.text);
    // Date: an RFC 5322 date-time with seconds and zone.
    static const QRegularExpression date(QStringLiteral(
        "^Date: [A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}\n"));
    s.replace(date, QStringLiteral("Date: DATE\n"));
    // The boundary: "-boundary", the short date (blanks as "_", lower
    // case) and the UUID, at most 70 characters of RFC 2046's set.
    static const QRegularExpression bnd(QStringLiteral("boundary=\"(-boundary[a-z]{3},_\\d{2}_[a-z]{3}_\\d{4}_\\d{2}:\\d{2}[0-9a-f-]{36})\""));
    const QString b = bnd.match(s).captured(1);
    if (!b.isEmpty() && b.size() <= 70 && b.endsWith(uuid))
        s.replace(b, QStringLiteral("BOUNDARY"));
    static const QRegularExpression mid(QStringLiteral("<[0-9a-f-]{36}@[A-Za-z0-9.-]+>"));
    return s.replace(mid, QStringLiteral("<UUID@HOST>")).replace(uuid, QStringLiteral("UUID")).toLatin1();
}

void tst_Composition::singlePart()
{
    LocalMailFolder f(folderPath());
    const Composed c = compose(f, [](MessageDescriptor& d) {
        d.from = QStringLiteral("Jose Ruiz <jose@example.org>");
        d.to = QStringList{QStringLiteral("ana@example.org")};
        d.subject = QStringLiteral("Hola");
    }, {{"text", "text/plain", "quoted-printable", "iso-8859-1", ""}}, {"Hola=\n"});
    // One part: no footer, no multipart frame; the body ends the text.
    QCOMPARE(normalised(c), QByteArray(
        "Date: DATE\n"
        "To: <ana@example.org>\n"
        "From: \"Jose Ruiz\"  <jose@example.org>\n"
        "Subject: Hola\n"
        "Message-ID: <UUID@HOST>\n"
        "X-Mailer: Orvane " ORVANE_MAIL_VERSION "\n"
        "X-Orvane-Generated: header (rfc822), reference id {UUID}\n"
        "MIME-Version: 1.0\n"
        "Content-Type: text/plain; charset=iso-8859-1\n"
        "Content-Transfer-Encoding: quoted-printable\n"
        "\n"
        "Hola=3D=0A"));
    MessageDevice dev(f.indexIDict()->find(c.id));
    dev.loadDescriptor(false);
    QCOMPARE(dev.getDescriptor().attachments, (unsigned char)0);  // a text part is no attachment
}

void tst_Composition::twoPartsWithFooterAndHeaders()
{
    LocalMailFolder f(folderPath());
    const Composed c = compose(f, [](MessageDescriptor& d) {
        d.from = QStringLiteral("Jose Ruiz <jose@example.org>");
        d.to = QStringList{QStringLiteral("ana@example.org")};
        d.cc = QStringList{QStringLiteral("c@example.org")};
        d.replyTo = QStringLiteral("r@example.org");
        d.subject = QStringLiteral("Hola");
        d.inReplyTo = QStringLiteral("parent@example.org");
        d.references = QStringList{QStringLiteral("a@example.org"), QStringLiteral("parent@example.org")};
        d.priority = QStringLiteral("High");
        d.extraInfo = QStringLiteral("HEADER_EXTRA X-Custom: 1");  // no line end of its own
    },
        {{"text", "text/plain", "quoted-printable", "iso-8859-1", ""},
         {"attachment", "application/octet-stream", "base64", "", ""}},
        {"Hola Ana\n", QByteArray("\x00\x01\x02", 3)});
    // The text part, set while it is the last text part of a multipart
    // message, gets the footer; the unnamed attachment becomes
    // "attachment.dat"; each body is followed directly by its delimiter.
    QCOMPARE(normalised(c), QByteArray(
        "Date: DATE\n"
        "To: <ana@example.org>\n"
        "Cc: <c@example.org>\n"
        "From: \"Jose Ruiz\"  <jose@example.org>\n"
        "Reply-To: <r@example.org>\n"
        "Subject: Hola\n"
        "Message-ID: <UUID@HOST>\n"
        "In-Reply-To: <parent@example.org>\n"
        "References: <a@example.org> <parent@example.org>\n"
        "Priority: High\n"
        "X-Mailer: Orvane " ORVANE_MAIL_VERSION "\n"
        "X-Orvane-Generated: header (rfc822), reference id {UUID}\n"
        "MIME-Version: 1.0\n"
        "X-Custom: 1\n"
        "Content-Type: multipart/related;\n"
        "\tboundary=\"BOUNDARY\"\n"
        "\n"
        "\n--BOUNDARY\n"
        "Content-Type: text/plain; charset=iso-8859-1\n"
        "Content-Transfer-Encoding: quoted-printable\n"
        "\n"
        "Hola Ana=0A=0AFIRMA"
        "\n--BOUNDARY\n"
        "Content-Type: application/octet-stream; name=\"attachment.dat\"\n"
        "Content-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment; filename=\"attachment.dat\"\n"
        "\n"
        "AAEC\n"
        "\n--BOUNDARY--\n"));
    IndexClass* e = f.indexIDict()->find(c.id);
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    QCOMPARE(dev.getDescriptor().attachments, (unsigned char)1);
    QCOMPARE(dev.getDescriptor().size, unsigned(e->getPartAt(0)->length + e->getPartAt(1)->length));
}

void tst_Composition::foldedRecipients()
{
    LocalMailFolder f(folderPath());
    QStringList to;
    for (int i = 1; i <= 12; ++i)
        to << QStringLiteral("a%1@example.org").arg(i, 2, 10, QLatin1Char('0'));
    const Composed c = compose(f, [&](MessageDescriptor& d) { d.to = to; }, {}, {});
    // Once the header text has passed 75 characters, every further address
    // starts a continuation line of its own.
    QByteArray expected = "To: <a01@example.org>, <a02@example.org>, <a03@example.org>, ";
    for (int i = 4; i <= 12; ++i)
        expected += "\n\t<a" + QByteArray::number(i).rightJustified(2, '0') + "@example.org>"
            + (i < 12 ? ", " : "\n");
    QVERIFY2(c.text.contains("\n" + expected), c.text.constData());
    // No parts: the text ends after the MIME-Version line.
    QVERIFY(c.text.endsWith("MIME-Version: 1.0\n"));

    const Composed empty = compose(f, [](MessageDescriptor&) {}, {}, {});
    QVERIFY(empty.text.contains("\nTo: \nFrom: \n"));
}

void tst_Composition::encodedSubject_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("ascii") << QStringLiteral("Plain (text) = ok") << QByteArray("Subject: Plain (text) = ok\n");
    QTest::newRow("latin") << QStringLiteral("Año ñ") << QByteArray("Subject: =?utf-8?B?QcOxbyDDsQ==?=\n");
    QTest::newRow("empty") << QString() << QByteArray("Subject: \n");
}

void tst_Composition::encodedSubject()
{
    QFETCH(QString, subject);
    QFETCH(QByteArray, line);
    LocalMailFolder f(folderPath());
    const Composed c = compose(f, [&](MessageDescriptor& d) { d.subject = subject; }, {}, {});
    QVERIFY2(c.text.contains("\n" + line), c.text.constData());
    MessageClass parsed(QCString(c.text));
    if (!subject.isEmpty())  // the parser gives an absent subject its default text
        QCOMPARE(MIMECodec::translate(parsed.Subject), subject);
}

void tst_Composition::headerInjection()
{
    LocalMailFolder f(folderPath());
    const Composed c = compose(f, [](MessageDescriptor& d) {
        d.subject = QStringLiteral("Hi\r\nBcc: victim@example.org");
        d.from = QStringLiteral("a@example.org\r\nX-Evil: 1");
        d.to = QStringList{QStringLiteral("b@example.org\nX-Evil: 2")};
        d.messageID = QStringLiteral("id\r\nX-Evil: 3");
        d.inReplyTo = QStringLiteral("p\nX-Evil: 4");
        d.references = QStringList{QStringLiteral("r\nX-Evil: 5")};
        d.priority = QStringLiteral("High\nX-Evil: 6");
    }, {{"attachment", "application/octet-stream", "base64", "", ""},
        {"attachment", "application/octet-stream", "base64", "", "say \"hi\"; \\now.txt\nX-Evil: 7"}},
       {QByteArray("x"), QByteArray("y")});
    for (const QByteArray& line : c.text.split('\n')) {
        QVERIFY2(!line.startsWith("Bcc:") && !line.startsWith("X-Evil"), line.constData());
        QVERIFY(!line.contains('\r'));
    }
    QVERIFY(c.text.contains("Subject: Hi  Bcc: victim@example.org\n"));
    // Quotes and backslashes in a file name are quoted-pairs.
    QVERIFY(c.text.contains("filename=\"say \\\"hi\\\"; \\\\now.txt X-Evil: 7\"\n"));
}

void tst_Composition::versionsInMessagesFile()
{
    const QString path = folderPath();
    LocalMailFolder f(path);
    const Composed c = compose(f, [](MessageDescriptor&) {},
        {{"text", "text/plain", "7bit", "us-ascii", ""}, {"attachment", "text/plain", "7bit", "", "b.txt"}},
        {QByteArray("A"), QByteArray("B")});
    QFile file(path + QLatin1String("/messages"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray all = file.readAll();
    // Two versions, each "From - <date>\r\n" + text + "\r\n"; the entry
    // points at the last, whose parts point into it.
    IndexClass* e = f.indexIDict()->find(c.id);
    static const QRegularExpression sep(QStringLiteral("^From - [A-Z][a-z]{2} [A-Z][a-z]{2} +\\d+ \\d{2}:\\d{2}:\\d{2} \\d{4}\r\n"
                                                       ".*\r\nFrom - [ -~]+\r\n$"), QRegularExpression::DotMatchesEverythingOption);
    QVERIFY(sep.match(QString::fromLatin1(all.left(e->getUniblockOffset()))).hasMatch());
    QCOMPARE(all.mid(e->getUniblockOffset()), c.text + "\r\n");
    QCOMPARE(all.mid(e->getPartAt(0)->offset, e->getPartAt(0)->length), QByteArray("A"));
    QCOMPARE(all.mid(e->getPartAt(1)->offset, e->getPartAt(1)->length), QByteArray("B"));
}

void tst_Composition::failures()
{
    // A stored body that must be copied from a messages file that is gone.
    const QString path = folderPath();
    LocalMailFolder f(path);
    const Composed c = compose(f, [](MessageDescriptor&) {},
        {{"text", "text/plain", "7bit", "", ""}, {"attachment", "text/plain", "7bit", "", "b.txt"}},
        {QByteArray("A"), QByteArray("B")});
    IndexClass* e = f.indexIDict()->find(c.id);
    const long offset = e->getPartAt(0)->offset;
    QVERIFY(QFile::remove(path + QLatin1String("/messages")));
    MessageDevice dev(e);
    const QByteArray diag = "No reading rights for " + QFile::encodeName(path + QLatin1String("/messages"));
    QTest::ignoreMessage(QtDebugMsg, diag.constData());  // and nothing is changed
    QVERIFY(!dev.saveMessage(-1, QByteArray()));
    QCOMPARE(long(e->getPartAt(0)->offset), offset);
}

void tst_Composition::views()
{
    LocalMailFolder f(folderPath());
    const Composed c = compose(f, [](MessageDescriptor&) {},
        {{"text", "text/plain", "8bit", "iso-8859-1", ""},
         {"text", "text/html", "7bit", "utf-8", ""},
         {"attachment", "text/plain", "quoted-printable", "", "n.txt"}},
        {QByteArray("caf\xe9 <b>\n"), QByteArray("<p>hi</p>"), QByteArray("note")});
    MessageDevice dev(f.indexIDict()->find(c.id));
    QCOMPARE(dev.text(false), QStringLiteral("café <b>\n"));
    QCOMPARE(dev.text(true), QStringLiteral("café <b>\n\n-------- Attachment ---------\nnote"));
    QCOMPARE(dev.html(false), QStringLiteral("<p>hi</p>"));

    // Only plain text: the HTML view shows it as text, not as markup.
    const Composed plain = compose(f, [](MessageDescriptor&) {},
        {{"text", "text/plain", "7bit", "us-ascii", ""}}, {QByteArray("a < b & <script>x</script>\nline 2")});
    MessageDevice pd(f.indexIDict()->find(plain.id));
    QCOMPARE(pd.html(false), QStringLiteral("a &lt; b &amp; &lt;script&gt;x&lt;/script&gt;<br>\nline 2"));
    QCOMPARE(pd.text(false), QStringLiteral("a < b & <script>x</script>\nline 2"));

    const Composed none = compose(f, [](MessageDescriptor&) {},
        {{"attachment", "image/png", "base64", "", "p.png"}}, {QByteArray("png")});
    MessageDevice nd(f.indexIDict()->find(none.id));
    QVERIFY(nd.text(true).isEmpty());
    QVERIFY(nd.html(true).isEmpty());
}

QTEST_GUILESS_MAIN(tst_Composition)
#include "tst_composition.moc"
