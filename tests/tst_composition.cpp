#include <dateclass.h>
#include <indexclass.h>
#include <localmailfolder.h>
#include <messageclass.h>
#include <messagedevice.h>
#include <mimecodec.h>
#include <mimepart.h>
#include <orvaneversion.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// Composed messages are compared with literal texts written from the
// composition rules. Three things vary from run to run and are replaced by
// placeholders after their form has been checked: the Date value (DATE),
// the boundary (BOUNDARY) and the index ID's UUID (UUID), with the host in
// the Message-ID (HOST).
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
    void exactBodies_data();
    void exactBodies();
    void boundaryAvoidsBodies();
    void versionsInMessagesFile();
    void partsCreatedFirstInNewFolder();
    void deletePart();
    void failures();
    void views();

private:
    struct Composed {
        QString id;
        QByteArray text;
    };
    // Creates a message, lets \a describe fill the descriptor, creates the
    // parts \a kinds (type, mimetype, encoding, charset, name) and sets the
    // content of each part in order.
    Composed compose(LocalMailFolder& f, const std::function<void(MessageDescriptor&)>& describe,
                     const QList<QList<QByteArray>>& kinds, const QList<QByteArray>& contents);
    QByteArray normalised(const Composed& c);
    std::unique_ptr<QTemporaryDir> tmp;
    QString folderPath()
    {
        const QString p = tmp->path() + QStringLiteral("/f%1").arg(++serial);
        QDir().mkpath(p);
        return p;
    }
    int serial = 0;
};

void tst_Composition::initTestCase()
{
    tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp->isValid());
    // The footer comes from a file named in the user's settings: point the
    // settings at our own directory and the key at our own footer file.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, tmp->path() + QLatin1String("/settings"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, tmp->path() + QLatin1String("/settings"));
    QFile footer(tmp->path() + QLatin1String("/footer.txt"));
    QVERIFY(footer.open(QIODevice::WriteOnly));
    footer.write("FIRMA");
    footer.close();
    QSettings s(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"));
    s.setValue(QStringLiteral("/email/footerText"), footer.fileName());
    s.sync();
}

tst_Composition::Composed tst_Composition::compose(LocalMailFolder& f,
    const std::function<void(MessageDescriptor&)>& describe, const QList<QList<QByteArray>>& kinds,
    const QList<QByteArray>& contents)
{
    Composed c;
    c.id = f.createMessage();
    MessageDevice dev(f.indexIDict()->find(c.id));
    dev.loadDescriptor(false);
    describe(dev.getDescriptor());
    dev.saveDescriptor();
    for (const QList<QByteArray>& k : kinds) {
        MimePart* p = dev[dev.createPart()];
        p->type = k[0];
        p->mimetype = k[1];
        p->encoding = k[2];
        p->charset = k[3];
        p->name = k[4];
    }
    for (int i = 0; i < contents.size(); ++i)
        if (!dev.setPartData(i, contents[i]))
            qWarning("setPartData(%d) failed", i);
    if (contents.isEmpty() && !dev.saveMessage(-1, QByteArray()))
        qWarning("saveMessage failed");
    c.text = dev.rfc822Message();
    return c;
}

QByteArray tst_Composition::normalised(const Composed& c)
{
    QByteArray t = c.text;
    QString uuid = c.id;
    uuid.remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    // Date: an RFC 5322 date-time with seconds and zone.
    static const QRegularExpression dateLine(QStringLiteral(
        "^Date: [A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}\n"));
    QString s = QString::fromLatin1(t);
    const auto dm = dateLine.match(s);
    if (!dm.hasMatch()) {
        qWarning("no valid Date line");
        return t;
    }
    s.replace(dm.capturedStart(), dm.capturedLength(), QStringLiteral("Date: DATE\n"));
    // The boundary: "-boundary", the short date (blanks as "_", lower
    // case) and the UUID, at most 70 characters of RFC 2046's set.
    static const QRegularExpression bnd(QStringLiteral("boundary=\"([^\"]*)\""));
    const auto bm = bnd.match(s);
    if (bm.hasMatch()) {
        const QString b = bm.captured(1);
        static const QRegularExpression form(QStringLiteral(
            "^-boundary[a-z]{3},_\\d{2}_[a-z]{3}_\\d{4}_\\d{2}:\\d{2}[0-9a-f-]{36}$"));
        if (!form.match(b).hasMatch() || b.size() > 70 || !b.endsWith(uuid))
            qWarning("unexpected boundary %s", qPrintable(b));
        s.replace(b, QStringLiteral("BOUNDARY"));
    }
    static const QRegularExpression mid(QStringLiteral("<[0-9a-f-]{36}@[A-Za-z0-9.-]+>"));
    s.replace(mid, QStringLiteral("<UUID@HOST>"));
    s.replace(uuid, QStringLiteral("UUID"));
    return s.toLatin1();
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
    // The stored message ID and the header agree.
    MessageDevice dev(f.indexIDict()->find(c.id));
    dev.loadDescriptor(false);
    QVERIFY(c.text.contains("Message-ID: <" + dev.getDescriptor().messageID.toLatin1() + ">\n"));
    QCOMPARE(f.indexIDict()->find(c.id)->getMessageID(), dev.getDescriptor().messageID);
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
    QCOMPARE(e->getPartAt(1)->name, QCString("attachment.dat"));
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
    QTest::newRow("cyrillic") << QStringLiteral("Привет") << QByteArray("Subject: =?utf-8?B?0J/RgNC40LLQtdGC?=\n");
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

void tst_Composition::exactBodies_data()
{
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QByteArray>("data");
    QByteArray binary;
    for (int i = 0; i < 600; ++i)
        binary += char(i * 7);
    binary += QByteArray(20, '\0');
    QTest::newRow("base64 with zeros") << QByteArray("base64") << binary;
    QTest::newRow("binary with zeros") << QByteArray("binary") << QByteArray("a\0b\nc\0", 6);
    QTest::newRow("8bit ending in a line end") << QByteArray("8bit") << QByteArray("l\xe9nea\n\n");
    QTest::newRow("7bit without a line end") << QByteArray("7bit") << QByteArray("last byte!");
    QTest::newRow("quoted-printable") << QByteArray("quoted-printable") << QByteArray("a=b\tc \xff\n");
}

void tst_Composition::exactBodies()
{
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, data);
    LocalMailFolder f(folderPath());
    // The data part sits between two others so that it is followed by a
    // delimiter; the reader must get exactly the bytes that were set.
    const Composed c = compose(f, [](MessageDescriptor&) {},
        {{"attachment", "application/octet-stream", "7bit", "", "first.txt"},
         {"attachment", "application/octet-stream", encoding, "", "data.bin"},
         {"attachment", "application/octet-stream", "7bit", "", "last.txt"}},
        {QByteArray("one"), data, QByteArray("three")});
    MessageClass parsed{QCString(c.text)};
    QCOMPARE(int(parsed.partList.size()), 3);
    const MimePart& p = *parsed.partList[1];
    QByteArray body = c.text.mid(p.offset, p.length);
    QByteArray decoded = MIMECodec::decode(body, encoding.constData());
    if (encoding == "quoted-printable")
        decoded.chop(1);  // the decoder's counted NUL
    QCOMPARE(decoded, data);
    // The stored part record points at the same bytes.
    IndexClass* e = f.indexIDict()->find(c.id);
    MessageDevice dev(e);
    QByteArray viaDevice;
    QVERIFY(dev.getPartData(1, viaDevice));
    if (encoding != "base64")
        viaDevice.chop(1);
    QCOMPARE(viaDevice, data);
    QCOMPARE(QByteArray(c.text.mid(parsed.partList[0]->offset, parsed.partList[0]->length)), QByteArray("one"));
}

void tst_Composition::boundaryAvoidsBodies()
{
    LocalMailFolder f(folderPath());
    const QString id = f.createMessage();
    QString uuid = id;
    uuid.remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    MessageDevice dev(f.indexIDict()->find(id));
    for (int i = 0; i < 2; ++i) {
        MimePart* p = dev[dev.createPart()];
        p->type = "attachment";
        p->encoding = "7bit";
        p->name = "x.txt";
    }
    // A body holding the boundary the message would get this minute.
    QByteArray date = QCString(DateClass(QDateTime::currentDateTime())).toLower();
    date.replace(' ', '_');
    const QByteArray natural = "-boundary" + date + uuid.toLatin1();
    QVERIFY(dev.setPartData(0, "\n--" + natural + "\nContent-Type: text/evil\n\n"));
    QVERIFY(dev.setPartData(1, "two"));
    const QByteArray text = dev.rfc822Message();
    static const QRegularExpression bnd(QStringLiteral("boundary=\"([^\"]*)\""));
    const QByteArray used = bnd.match(QString::fromLatin1(text)).captured(1).toLatin1();
    QVERIFY(!used.isEmpty() && used.size() <= 70);
    QVERIFY(used != natural);
    QCOMPARE(text.count("\n--" + used + "\n"), 2);
    MessageClass parsed{QCString(text)};
    QCOMPARE(int(parsed.partList.size()), 2);
}

void tst_Composition::versionsInMessagesFile()
{
    const QString path = folderPath();
    LocalMailFolder f(path);
    const Composed c = compose(f, [](MessageDescriptor& d) { d.subject = QStringLiteral("v"); },
        {{"text", "text/plain", "7bit", "us-ascii", ""}, {"attachment", "text/plain", "7bit", "", "b.txt"}},
        {QByteArray("A"), QByteArray("B")});
    QFile file(path + QLatin1String("/messages"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray all = file.readAll();
    // Two versions, each "From - <date>\r\n" + text + "\r\n"; the entry
    // points at the last, whose parts point into it.
    static const QRegularExpression sep(QStringLiteral("From - [A-Z][a-z]{2} [A-Z][a-z]{2} +\\d+ \\d{2}:\\d{2}:\\d{2} \\d{4}\r\n"));
    const QString s = QString::fromLatin1(all);
    auto it = sep.globalMatch(s);
    QList<qsizetype> starts;
    while (it.hasNext())
        starts << it.next().capturedEnd();
    QCOMPARE(starts.size(), 2);
    IndexClass* e = f.indexIDict()->find(c.id);
    QCOMPARE(qsizetype(e->getUniblockOffset()), starts[1]);
    QCOMPARE(all.mid(e->getUniblockOffset(), e->getUniblockLength()), c.text);
    QVERIFY(all.endsWith(c.text + "\r\n"));
    QCOMPARE(all.mid(e->getPartAt(0)->offset, e->getPartAt(0)->length), QByteArray("A"));
    QCOMPARE(all.mid(e->getPartAt(1)->offset, e->getPartAt(1)->length), QByteArray("B"));
}

void tst_Composition::partsCreatedFirstInNewFolder()
{
    // All parts exist before any content: the first composition has no
    // stored body to copy and must not need the (missing) messages file.
    const QString path = folderPath();
    LocalMailFolder f(path);
    QVERIFY(!QFile::exists(path + QLatin1String("/messages")));
    const Composed c = compose(f, [](MessageDescriptor&) {},
        {{"text", "text/plain", "7bit", "", ""}, {"attachment", "image/png", "base64", "", "i.png"},
         {"attachment", "image/png", "base64", "", "j.png"}},
        {QByteArray("text"), QByteArray("png1"), QByteArray("png2")});
    QVERIFY(c.text.contains("cG5nMQ==") && c.text.contains("cG5nMg=="));
}

void tst_Composition::deletePart()
{
    LocalMailFolder f(folderPath());
    const Composed c = compose(f, [](MessageDescriptor&) {},
        {{"text", "text/plain", "7bit", "", ""}, {"attachment", "text/plain", "7bit", "", "b.txt"}},
        {QByteArray("A"), QByteArray("B")});
    IndexClass* e = f.indexIDict()->find(c.id);
    MessageDevice dev(e);
    QVERIFY(!dev.deletePart(5));
    QVERIFY(dev.deletePart(1));
    QCOMPARE(e->getPartCount(), 1);
    const QByteArray text = dev.rfc822Message();
    QVERIFY(text.endsWith("Content-Type: text/plain\nContent-Transfer-Encoding: 7bit\n\nA"));
    QVERIFY(!dev.setPartData(0, QByteArray()));
    QVERIFY(!dev.setPartData(1, QByteArray("x")));
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
    QTest::ignoreMessage(QtDebugMsg, diag.constData());
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
