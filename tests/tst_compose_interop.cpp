// Messages composed in a folder: compared with literal texts written from
// the composition rules, and read back by other mail readers (Python's email
// package, modern policy and compat32, and GMime) and by our own
// MessageClass, which must find the headers set, the parts added and, byte
// for byte, the content handed to setPartData.

#include <indexclass.h>
#include <localmailfolder.h>
#include <messageclass.h>
#include <messagedevice.h>
#include <mimecodec.h>
#include <mimepart.h>
#include <orvaneversion.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTest>

#include <functional>
#include <map>
#include <memory>

namespace {

struct Person {
    QString name, addr;
    // The display name a reader finds: a quoted comma stays; quotes,
    // semicolons and angle brackets become blanks.
    QByteArray headerName() const
    {
        return QString(name).replace(QRegularExpression(QStringLiteral("[\"<>;]")), QStringLiteral(" "))
            .simplified().toUtf8();
    }
    QString text() const  // the form the host puts into the descriptor
    {
        QString n = name;
        n.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
        return name.isEmpty() ? addr : QLatin1Char('"') + n + QLatin1String("\" <") + addr + QLatin1Char('>');
    }
};

struct PartSpec {
    QByteArray type, mimetype, encoding, charset, name;  // name: raw 8-bit, as the host sets it
    QByteArray data;                                     // the bytes handed to setPartData
};

struct Case {
    QString tag;
    Person from;
    QList<Person> to, cc;
    QString subject, inReplyTo;
    QStringList references;
    std::vector<PartSpec> parts;  // as the message ends up
    // Editing: part 0 first set to firstDraft; a part inserted at doomedAt,
    // filled, then deleted; part 0 finally quotes the message's boundary.
    QByteArray firstDraft = QByteArray();
    int doomedAt = -1;
    bool quoteBoundary = false;
};

// Zero bytes, 0xFF runs, every byte value, lone CR and LF, then noise.
QByteArray binary(int size, quint32 seed)
{
    QByteArray b = QByteArray(37, '\0') + QByteArray(300, char(0xFF));
    for (int i = 0; i < 256; ++i)
        b.append(char(i));
    b.append("\r\n\r\r\n\n\0\0\r", 9);
    QRandomGenerator rng(seed);
    while (b.size() < size)
        b.append(char(rng.bounded(256)));
    return b.left(size);
}

std::vector<Case> cases()
{
    const QByteArray longLine = "Long line: " + QByteArray(30, 'x') + " café " + QByteArray(150, 'y')
        + " ünd =3D is not an escape\n";
    QList<Person> many;
    for (const char* n : {"José Álvarez", "Jürgen Groß", "Doe, Jane", "", "Ğülşen Çelik", "O'Brien", "Zoë"})
        many.append({QString::fromUtf8(n), QStringLiteral("user%1@example.net").arg(many.size())});
    auto u = [](const char* s) { return QString::fromUtf8(s); };
    return {
        // First: every part exists before any content, in a folder that
        // has no messages file yet.
        {u("attachments, binary, cjk and emoji names"), {u("山田太郎"), u("taro@example.jp")},
         {{u("佐藤花子"), u("hanako@example.jp")}}, {}, u("会議の議事録 📎 添付あり"), QString(), {},
         {{"text", "text/plain", "quoted-printable", "utf-8", "", "添付ファイルをご確認ください。\nñandú, 😀\n"},
          {"attachment", "application/octet-stream", "base64", "", "zeros-and-ff.bin", binary(5000, 1)},
          {"attachment", "application/pdf", "base64", "", "報告書.pdf", binary(70001, 2)},
          {"attachment", "image/png", "base64", "", "🎉 party.png", binary(3, 3)},
          {"attachment", "text/plain", "base64", "utf-8", "notes ñ.txt", "attached text\nwith ünïcödé\n"}}},
        {u("text only, ascii, quoted-printable"), {QString(), u("alice@example.com")},
         {{u("Bob Smith"), u("bob@example.org")}}, {}, u("Plain hello"), QString(), {},
         {{"text", "text/plain", "quoted-printable", "us-ascii", "",
           "Hello,\n\ntrailing blanks   \ntrailing tab\t\n= and =41\nFrom here\n.\n..dots\n"
               + QByteArray(200, 'z') + "\nend"}}},
        {u("text only, cyrillic, 8bit"), {u("Иван Петров"), u("ivan@example.ru")},
         {{u("Мария"), u("maria@example.ru")}}, {}, u("Привет, мир: отчёт"), QString(), {},
         {{"text", "text/plain", "8bit", "utf-8", "", "Здравствуйте!\n\nпробелы   \n"}}},
        {u("text, html and unnamed attachment, greek, replying"), {u("Γιώργος"), u("giorgos@example.gr")},
         {{u("Ops"), u("ops@example.gr")}, {QString(), u("plain@example.gr")}},
         {{u("Ελένη"), u("eleni@example.gr")}}, u("Καλημέρα κόσμε — σύσκεψη"), u("root.1@example.gr"),
         {u("root.0@example.gr"), u("root.1@example.gr")},
         {{"text", "text/plain", "7bit", "us-ascii", "", "Plain 7bit body.\n"},
          {"text", "text/html", "quoted-printable", "utf-8", "", "<p>Καλημέρα</p>\n" + longLine},
          {"attachment", "text/csv", "quoted-printable", "utf-8", "data.csv", "a;b\n1;€\n"},
          {"attachment", "application/octet-stream", "base64", "", "", binary(1, 6)}}},
        {u("long recipient lists, latin-1 text, long file name"), {u("Doe, John"), u("john@example.com")},
         many, {{u("Müller, Jörg"), u("jm@example.de")}, {QString(), u("list@example.de")}},
         u("Réunion du comité de direction — ordre du jour très détaillé pour la séance "
           "extraordinaire de décembre, avec pièces jointes"), u("a1b2@example.com"),
         {u("first@example.com"), u("a1b2@example.com")},
         {{"text", "text/plain", "quoted-printable", "iso-8859-1", "", u("Bonjour à tous\n").toLatin1()},
          {"attachment", "application/vnd.oasis.opendocument.text", "base64", "",
           "ordre-du-jour-de-la-seance-extraordinaire-du-comite-de-direction.odt", binary(20000, 4)}}},
        {u("single attachment only"), {u("Scanner"), u("scanner@example.com")},
         {{QString(), u("archive@example.com")}}, {}, u("Scan 0001"), QString(), {},
         {{"attachment", "application/octet-stream", "base64", "", "scan.bin", binary(300 * 1024 + 7, 5)}}},
        {u("raw binary body, awkward names, no recipients"), {u("Robot"), u("robot@example.com")}, {}, {},
         QString(), QString(), {},
         {{"text", "text/plain", "8bit", "utf-8", "", "line\r\nwith CR LF\r\nand a lone\rCR\n"},
          {"attachment", "application/octet-stream", "binary", "", "raw.bin", binary(4000, 7)},
          {"attachment", "text/plain", "base64", "", "say hi; now (1).txt", "hi\n"}}},
        // 8bit, so the quoted boundary lines stand in the body as they are.
        {u("edited: part replaced, part deleted, boundary quoted"), {u("Editor"), u("ed@example.com")},
         {{u("Reader"), u("reader@example.com")}}, {}, u("Edited draft"), QString(), {},
         {{"text", "text/plain", "8bit", "utf-8", "", "final text\n"},
          {"attachment", "application/octet-stream", "base64", "", "kept.bin", binary(777, 8)}},
         "first draft, replaced later\n", 1, true},
    };
}

QByteArray sha256(const QByteArray& b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex(); }

// Our codecs' decoding, without the zero byte the identity and
// quoted-printable decoders add.
QByteArray ownDecode(const QByteArray& body, const QByteArray& encoding)
{
    QByteArray d = MIMECodec::decode(body + '\0', encoding.constData());
    if (encoding.toLower() != "base64" && d.endsWith('\0'))
        d.chop(1);
    return d;
}

// A new message in \a f: \a describe fills its descriptor, then the parts
// are created (their data is not set yet).
std::unique_ptr<MessageDevice> newMessage(LocalMailFolder& f, const std::function<void(MessageDescriptor&)>& describe,
                                          const std::vector<PartSpec>& parts)
{
    auto dev = std::make_unique<MessageDevice>(f.indexIDict()->find(f.createMessage()));
    dev->loadDescriptor(false);
    describe(dev->getDescriptor());
    dev->saveDescriptor();
    for (const PartSpec& spec : parts) {
        MimePart* p = (*dev)[dev->createPart()];
        std::tie(p->type, p->mimetype, p->encoding, p->charset, p->name) =
            std::tie(spec.type, spec.mimetype, spec.encoding, spec.charset, spec.name);
    }
    return dev;
}

// Composes a message with \a parts set in order (without parts it is saved
// as it is); its text, or a note of what failed.
QByteArray compose(LocalMailFolder& f, const std::function<void(MessageDescriptor&)>& describe,
                   const std::vector<PartSpec>& parts = {}, IndexClass** entry = nullptr)
{
    const std::unique_ptr<MessageDevice> dev = newMessage(f, describe, parts);
    QByteArray failed;
    for (size_t i = 0; i < parts.size(); ++i)
        failed += dev->setPartData(int(i), parts[i].data) ? "" : "setPartData failed";
    if (parts.empty() && !dev->saveMessage(-1, QByteArray()))
        failed += "saveMessage failed";
    if (entry)
        *entry = dev->index();
    return failed + dev->rfc822Message();
}

// What varies from run to run, replaced once its form has been checked: the
// Date value (DATE), the boundary (BOUNDARY), the index ID's UUID (UUID) and
// the host in the Message-ID (HOST).
QByteArray normalised(const QByteArray& text, const QString& id)
{
    const QString uuid = QString(id).remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    QString s = QString::fromLatin1(text);
    static const QRegularExpression date(QStringLiteral(
        "^Date: [A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}\n"));
    s.replace(date, QStringLiteral("Date: DATE\n"));
    // The boundary: "-boundary", the short date (blanks as "_", lower
    // case) and the UUID, at most 70 characters of RFC 2046's set.
    static const QRegularExpression bnd(QStringLiteral(
        "boundary=\"(-boundary[a-z]{3},_\\d{2}_[a-z]{3}_\\d{4}_\\d{2}:\\d{2}[0-9a-f-]{36})\""));
    const QString b = bnd.match(s).captured(1);
    if (!b.isEmpty() && b.size() <= 70 && b.endsWith(uuid))
        s.replace(b, QStringLiteral("BOUNDARY"));
    static const QRegularExpression mid(QStringLiteral("<[0-9a-f-]{36}@[A-Za-z0-9.-]+>"));
    return s.replace(mid, QStringLiteral("<UUID@HOST>")).replace(uuid, QStringLiteral("UUID")).toLatin1();
}

} // namespace

class tst_ComposeInterop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void literalTexts();
    void foldedRecipients();
    void headerInjection();
    void versionsInMessagesFile();
    void views();
    void ownReader_data() { rows(false); }
    void ownReader();
    void readers_data() { rows(true); }
    void readers();

private:
    void rows(bool readers);
    // What a reader decodes from part i: the data, plus the footer when the
    // quoted-printable encoder appended it (to the last "text" part of a
    // message with two or more parts).
    QByteArray content(const Case& c, size_t i) const
    {
        size_t lastText = 0;
        for (size_t k = 0; k < c.parts.size(); ++k)
            lastText = c.parts[k].type == "text" ? k : lastText;
        const bool footed = c.parts.size() > 1 && i == lastText && c.parts[i].encoding == "quoted-printable";
        return c.parts[i].data + (footed ? footer : QByteArray());
    }
    QString folderPath()
    {
        const QString p = tmp.filePath(QStringLiteral("f%1").arg(++serial));
        QDir().mkpath(p);
        return p;
    }
    QTemporaryDir tmp;
    int serial = 0;
    QByteArray footer;  // what the encoder appends: "\n" + the footer file
    std::vector<Case> all = cases();
    struct Result {
        QByteArray text, messageID;
        QString file;
        std::vector<MimePart> parts;  // the stored records, offsets relative to the text
    };
    std::map<QString, Result> composed;
};

void tst_ComposeInterop::initTestCase()
{
    QVERIFY(tmp.isValid());
    // The footer comes from a file named in the user's settings.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, tmp.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, tmp.filePath(QStringLiteral("settings")));
    const QByteArray footerBody = "-- \nSent from a test — pié de página\n";
    footer = "\n" + footerBody;
    QFile footerFile(tmp.filePath(QStringLiteral("footer.txt")));
    QVERIFY(footerFile.open(QIODevice::WriteOnly) && footerFile.write(footerBody) == footerBody.size());
    footerFile.close();
    QSettings(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"))
        .setValue(QStringLiteral("/email/footerText"), footerFile.fileName());

    LocalMailFolder folder(folderPath());
    for (Case& c : all) {
        std::vector<PartSpec> parts = c.parts;
        if (c.doomedAt >= 0)
            parts.insert(parts.begin() + c.doomedAt, {"attachment", "application/zip", "base64", "", "x.zip", binary(5000, 9)});
        const std::unique_ptr<MessageDevice> devp = newMessage(folder, [&](MessageDescriptor& d) {
            d.from = c.from.text();
            for (const Person& p : c.to)
                d.to << p.text();
            for (const Person& p : c.cc)
                d.cc << p.text();
            std::tie(d.subject, d.inReplyTo, d.references) = std::tie(c.subject, c.inReplyTo, c.references);
        }, parts);
        MessageDevice& dev = *devp;
        if (!c.firstDraft.isEmpty())
            QVERIFY(dev.setPartData(0, c.firstDraft));
        for (size_t i = 0; i < parts.size(); ++i)
            QVERIFY2(dev.setPartData(int(i), parts[i].data), qPrintable(c.tag));
        if (c.doomedAt >= 0) {
            QVERIFY(!dev.deletePart(int(parts.size())));
            QVERIFY(dev.deletePart(c.doomedAt));
            QVERIFY(!dev.setPartData(int(c.parts.size()), "x"));
        }
        if (c.quoteBoundary) {
            const QRegularExpression bnd(QStringLiteral("boundary=\"([^\"]+)\""));
            const QByteArray old = bnd.match(QString::fromLatin1(dev.rfc822Message())).captured(1).toLatin1();
            QVERIFY(!old.isEmpty());
            c.parts[0].data += "\n--" + old + "\nContent-Type: text/plain\n\nnot a part\n--" + old + "--\n";
            QVERIFY(dev.setPartData(0, c.parts[0].data));
            QVERIFY(!dev.rfc822Message().contains("boundary=\"" + old + "\""));
        }
        Result& r = composed[c.tag];
        r.text = dev.rfc822Message();
        dev.loadDescriptor(false);
        r.messageID = dev.getDescriptor().messageID.toLatin1();
        QCOMPARE(dev.index()->getMessageID().toLatin1(), r.messageID);
        for (int i = 0; i < dev.getPartCount(); ++i) {
            r.parts.push_back(*dev[i]);
            r.parts.back().offset -= qint32(dev.index()->getUniblockOffset());
        }
        r.file = tmp.filePath(QStringLiteral("msg%1.eml").arg(composed.size()));
        QFile f(r.file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(r.text) == r.text.size());
    }
}

void tst_ComposeInterop::literalTexts()
{
    LocalMailFolder f(folderPath());
    IndexClass* e = nullptr;
    QByteArray text = compose(f, [](MessageDescriptor& d) {
        d.from = QStringLiteral("Jose Ruiz <jose@example.org>");
        d.to = QStringList{QStringLiteral("ana@example.org")};
        d.subject = QStringLiteral("Plain (text) = ok");
    }, {{"text", "text/plain", "quoted-printable", "iso-8859-1", "", "Hola=\n"}}, &e);
    // One part: no footer, no multipart frame; the body ends the text; an
    // ASCII subject stays as it is.
    QCOMPARE(normalised(text, e->getID()), QByteArray(
        "Date: DATE\n"
        "To: <ana@example.org>\n"
        "From: \"Jose Ruiz\"  <jose@example.org>\n"
        "Subject: Plain (text) = ok\n"
        "Message-ID: <UUID@HOST>\n"
        "X-Mailer: Orvane " ORVANE_MAIL_VERSION "\n"
        "X-Orvane-Generated: header (rfc822), reference id {UUID}\n"
        "MIME-Version: 1.0\n"
        "Content-Type: text/plain; charset=iso-8859-1\n"
        "Content-Transfer-Encoding: quoted-printable\n"
        "\n"
        "Hola=3D=0A"));
    MessageDevice one(e);
    one.loadDescriptor(false);
    QCOMPARE(one.getDescriptor().attachments, (unsigned char)0);  // a text part is no attachment

    text = compose(f, [](MessageDescriptor& d) {
        d.from = QStringLiteral("Jose Ruiz <jose@example.org>");
        d.to = QStringList{QStringLiteral("ana@example.org")};
        d.cc = QStringList{QStringLiteral("c@example.org")};
        d.replyTo = QStringLiteral("r@example.org");
        d.subject = QStringLiteral("Año ñ");
        d.inReplyTo = QStringLiteral("parent@example.org");
        d.references = QStringList{QStringLiteral("a@example.org"), QStringLiteral("parent@example.org")};
        d.priority = QStringLiteral("High");
        d.extraInfo = QStringLiteral("HEADER_EXTRA X-Custom: 1");  // no line end of its own
    }, {{"text", "text/plain", "quoted-printable", "iso-8859-1", "", "Hola Ana\n"},
        {"attachment", "application/octet-stream", "base64", "", "", QByteArray("\x00\x01\x02", 3)}}, &e);
    // The text part, set while it is the last text part of a multipart
    // message, gets LF and the footer file's bytes, quoted-printable (no
    // soft break: the line reaches 73 only at its last byte); the unnamed
    // attachment becomes "attachment.dat"; each body is followed directly by
    // its delimiter.
    QCOMPARE(normalised(text, e->getID()), QByteArray(
        "Date: DATE\n"
        "To: <ana@example.org>\n"
        "Cc: <c@example.org>\n"
        "From: \"Jose Ruiz\"  <jose@example.org>\n"
        "Reply-To: <r@example.org>\n"
        "Subject: =?utf-8?B?QcOxbyDDsQ==?=\n"
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
        "Hola Ana=0A=0A-- =0ASent from a test =E2=80=94 pi=C3=A9 de p=C3=A1gina=0A"
        "\n--BOUNDARY\n"
        "Content-Type: application/octet-stream; name=\"attachment.dat\"\n"
        "Content-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment; filename=\"attachment.dat\"\n"
        "\n"
        "AAEC\n"
        "\n--BOUNDARY--\n"));
    MessageDevice two(e);
    two.loadDescriptor(false);
    QCOMPARE(two.getDescriptor().attachments, (unsigned char)1);
    QCOMPARE(two.getDescriptor().size, unsigned(e->getPartAt(0)->length + e->getPartAt(1)->length));
}

void tst_ComposeInterop::foldedRecipients()
{
    LocalMailFolder f(folderPath());
    QStringList to;
    for (int i = 1; i <= 12; ++i)
        to << QStringLiteral("a%1@example.org").arg(i, 2, 10, QLatin1Char('0'));
    const QByteArray text = compose(f, [&](MessageDescriptor& d) { d.to = to; });
    // Once the header text has passed 75 characters, every further address
    // starts a continuation line of its own.
    QByteArray expected = "To: <a01@example.org>, <a02@example.org>, <a03@example.org>, ";
    for (int i = 4; i <= 12; ++i)
        expected += "\n\t<a" + QByteArray::number(i).rightJustified(2, '0') + "@example.org>" + (i < 12 ? ", " : "\n");
    QVERIFY2(text.contains("\n" + expected), text.constData());
    QVERIFY(text.endsWith("MIME-Version: 1.0\n"));  // no parts: nothing after the MIME version
    QVERIFY(compose(f, [](MessageDescriptor&) {}).contains("\nTo: \nFrom: \n"));
}

void tst_ComposeInterop::headerInjection()
{
    LocalMailFolder f(folderPath());
    const QByteArray text = compose(f, [](MessageDescriptor& d) {
        d.subject = QStringLiteral("Hi\r\nBcc: victim@example.org");
        d.from = QStringLiteral("a@example.org\r\nX-Evil: 1");
        d.to = QStringList{QStringLiteral("b@example.org\nX-Evil: 2")};
        d.messageID = QStringLiteral("id\r\nX-Evil: 3");
        d.inReplyTo = QStringLiteral("p\nX-Evil: 4");
        d.references = QStringList{QStringLiteral("r\nX-Evil: 5")};
        d.priority = QStringLiteral("High\nX-Evil: 6");
    }, {{"attachment", "application/octet-stream", "base64", "", "", "x"},
        {"attachment", "application/octet-stream", "base64", "", "say \"hi\"; \\now.txt\nX-Evil: 7", "y"}});
    for (const QByteArray& line : text.split('\n'))
        QVERIFY2(!line.startsWith("Bcc:") && !line.startsWith("X-Evil") && !line.contains('\r'), line.constData());
    QVERIFY(text.contains("Subject: Hi  Bcc: victim@example.org\n"));
    // Quotes and backslashes in a file name are quoted-pairs.
    QVERIFY(text.contains("filename=\"say \\\"hi\\\"; \\\\now.txt X-Evil: 7\"\n"));
}

void tst_ComposeInterop::versionsInMessagesFile()
{
    const QString path = folderPath();
    LocalMailFolder f(path);
    IndexClass* e = nullptr;
    const QByteArray text = compose(f, [](MessageDescriptor&) {},
        {{"text", "text/plain", "7bit", "us-ascii", "", "A"}, {"attachment", "text/plain", "7bit", "", "b.txt", "B"}}, &e);
    QFile file(path + QLatin1String("/messages"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray all = file.readAll();
    // Two versions, each "From - <date>\r\n" + text + "\r\n"; the entry
    // points at the last, whose parts point into it.
    static const QRegularExpression sep(QStringLiteral("^From - [A-Z][a-z]{2} [A-Z][a-z]{2} +\\d+ \\d{2}:\\d{2}:\\d{2} \\d{4}\r\n"
                                                       ".*\r\nFrom - [ -~]+\r\n$"), QRegularExpression::DotMatchesEverythingOption);
    QVERIFY(sep.match(QString::fromLatin1(all.left(e->getUniblockOffset()))).hasMatch());
    QCOMPARE(all.mid(e->getUniblockOffset()), text + "\r\n");
    QCOMPARE(all.mid(e->getPartAt(0)->offset, e->getPartAt(0)->length) + all.mid(e->getPartAt(1)->offset, e->getPartAt(1)->length),
             QByteArray("AB"));

    // A stored body must be copied from a messages file that is gone:
    // nothing is changed.
    const long offset = e->getPartAt(0)->offset;
    QVERIFY(file.remove());
    const QByteArray diag = "No reading rights for " + QFile::encodeName(file.fileName());
    QTest::ignoreMessage(QtDebugMsg, diag.constData());
    QVERIFY(!MessageDevice(e).saveMessage(-1, QByteArray()));
    QCOMPARE(long(e->getPartAt(0)->offset), offset);
}

void tst_ComposeInterop::views()
{
    LocalMailFolder f(folderPath());
    auto device = [&](const std::vector<PartSpec>& parts) {
        IndexClass* e = nullptr;
        compose(f, [](MessageDescriptor&) {}, parts, &e);
        return std::make_unique<MessageDevice>(e);
    };
    auto all = device({{"text", "text/plain", "8bit", "iso-8859-1", "", "caf\xe9 <b>\n"},
                       {"text", "text/html", "7bit", "utf-8", "", "<p>hi</p>"},
                       {"attachment", "text/plain", "quoted-printable", "", "n.txt", "note"}});
    QCOMPARE(all->text(false), QStringLiteral("café <b>\n"));
    QCOMPARE(all->text(true), QStringLiteral("café <b>\n\n-------- Attachment ---------\nnote"));
    QCOMPARE(all->html(false), QStringLiteral("<p>hi</p>"));
    // Only plain text: the HTML view shows it as text, not as markup.
    auto plain = device({{"text", "text/plain", "7bit", "us-ascii", "", "a < b & <script>x</script>\nline 2"}});
    QCOMPARE(plain->html(false), QStringLiteral("a &lt; b &amp; &lt;script&gt;x&lt;/script&gt;<br>\nline 2"));
    QCOMPARE(plain->text(false), QStringLiteral("a < b & <script>x</script>\nline 2"));
    auto none = device({{"attachment", "image/png", "base64", "", "p.png", "png"}});
    QVERIFY(none->text(true).isEmpty() && none->html(true).isEmpty());
}

void tst_ComposeInterop::rows(bool readers)
{
    QTest::addColumn<int>("caseIndex");
    QTest::addColumn<QString>("reader");
    QStringList names{QString()};
    if (readers)
        names = QStringList{QStringLiteral("default"), QStringLiteral("compat32"), QStringLiteral("gmime")};
    for (size_t i = 0; i < all.size(); ++i)
        for (const QString& n : names)
            QTest::newRow(qPrintable(all[i].tag + QLatin1Char(' ') + n)) << int(i) << n;
}

// The part records point at the bodies in the composed text, our parser
// finds the parts there too, and the bodies decode to the content given.
void tst_ComposeInterop::ownReader()
{
    QFETCH(int, caseIndex);
    const Case& c = all[size_t(caseIndex)];
    const Result& r = composed[c.tag];
    const MessageClass m{QCString(r.text)};
    QCOMPARE(m.partList.size(), c.parts.size());
    QCOMPARE(r.parts.size(), c.parts.size());
    for (size_t i = 0; i < c.parts.size(); ++i) {
        const MimePart &p = *m.partList[i], &stored = r.parts[i];
        const PartSpec& spec = c.parts[i];
        QCOMPARE(p.offset, stored.offset);
        QCOMPARE(p.length, stored.length);
        QCOMPARE(stored.type, QCString(spec.type));
        QCOMPARE(stored.mimetype, QCString(spec.mimetype));
        if (spec.type == "attachment")
            QCOMPARE(stored.name, QCString(spec.name.isEmpty() ? "attachment.dat" : spec.name));
        QCOMPARE(p.mimetype, QCString(spec.mimetype));
        QCOMPARE(p.encoding.toLower(), QCString(spec.encoding));
        QCOMPARE(p.type, i > 0 ? QCString("related") : QCString(spec.type));  // parts of a multipart/related
        if (spec.type == "text")
            QCOMPARE(p.charset, QCString(spec.charset));
        QCOMPARE(ownDecode(r.text.mid(p.offset, p.length), p.encoding), content(c, i));
    }
    // The parser keeps the In-Reply-To id out of References.
    QStringList refs;
    for (const QCString& ref : m.References)
        refs << QString::fromLatin1(ref);
    QStringList wantRefs = c.inReplyTo.isEmpty() ? QStringList() : c.references;
    wantRefs.removeAll(c.inReplyTo);
    QCOMPARE(refs, wantRefs);
    QCOMPARE(QByteArray(m.Message_ID), r.messageID);
    QCOMPARE(QString::fromLatin1(m.In_Reply_To), c.inReplyTo);
    const QByteArray head = r.text.left(r.text.indexOf("\n\n"));
    QVERIFY(!head.contains('\r') && !head.contains('\0'));
}

// Each reader prints what it finds, one "key<TAB>values" line each; the
// lines it must print are built here from the case.
void tst_ComposeInterop::readers()
{
    QFETCH(int, caseIndex);
    QFETCH(QString, reader);
    const Case& c = all[size_t(caseIndex)];
    const Result& r = composed[c.tag];
    const bool gmime = reader == QLatin1String("gmime");
    QProcess p;
    if (gmime) {
#ifdef ORVANE_GMIME_CHECK
        p.start(QStringLiteral(ORVANE_GMIME_CHECK), {r.file});
#else
        QSKIP("the GMime reader is not built");
#endif
    } else {
        if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
            QSKIP("/usr/bin/python3 is not installed");
        p.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(ORVANE_TEST_DATA "/../interop/email_check.py"), reader, r.file});
    }
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, p.readAllStandardError().constData());

    QByteArray want = "subject\t" + c.subject.toUtf8() + "\nmessage_id\t" + r.messageID + "\n";
    auto people = [&](const char* key, const QList<Person>& list) {
        for (const Person& person : list)
            want += key + ('\t' + person.headerName()) + '\t' + person.addr.toUtf8() + '\n';
    };
    people("from", {c.from});
    people("to", c.to);
    people("cc", c.cc);
    want += "type\t" + (c.parts.size() > 1 ? QByteArray("multipart/related") : c.parts[0].mimetype) + '\n';
    if (!gmime) {
        QStringList refs;
        for (const QString& ref : c.references)
            refs << QLatin1Char('<') + ref + QLatin1Char('>');
        want += "python\t" + (c.inReplyTo.isEmpty() ? QByteArray("None") : '<' + c.inReplyTo.toLatin1() + '>')
            + '\t' + refs.join(QLatin1Char(' ')).toLatin1() + "\t1.0\tTrue\n";
    }
    for (size_t i = 0; i < c.parts.size(); ++i) {
        const PartSpec& spec = c.parts[i];
        QByteArray data = content(c, i);
        if (!gmime && spec.encoding != "quoted-printable" && spec.encoding != "base64")
            data.replace("\r\n", "\n").replace('\r', '\n');  // Python reads such a body as lines
        QByteArray name = spec.type != "attachment" || c.parts.size() < 2 ? QByteArray()
            : spec.name.isEmpty() ? QByteArray("attachment.dat") : spec.name;
        if (reader == QLatin1String("compat32") && QString::fromUtf8(name) != QString::fromLatin1(name))
            name = "*";
        const QByteArray charset = spec.type == "text" ? spec.charset : QByteArray();
        want += "part\t" + spec.mimetype + '\t' + name + '\t' + charset + '\t' + QByteArray::number(data.size())
            + '\t' + sha256(data);
        if (!gmime && !charset.isEmpty())
            want += '\t' + sha256(QTextCodec::codecForName(charset)->toUnicode(data).toUtf8());
        want += '\n';
    }
    // A strict reader prints the defects it finds as "defect" lines: none.
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(want));
}

QTEST_GUILESS_MAIN(tst_ComposeInterop)
#include "tst_compose_interop.moc"
