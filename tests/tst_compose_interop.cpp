// Messages composed in a folder: literal texts written from the composition
// rules; Python's email package, GMime and our own
// parser read back the headers set, the parts and, byte for byte, their data.

#include <indexclass.h>
#include <localmailfolder.h>
#include <messageclass.h>
#include <messagedevice.h>
#include <mimecodec.h>
#include <mimepart.h>
#include <orvaneversion.h>

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTest>

#include <functional>
#include <memory>

#include "toolrun.h"

using namespace Qt::StringLiterals;

#ifndef ORVANE_GMIME_CHECK
#define ORVANE_GMIME_CHECK ""  // the GMime reader is not built
#endif

namespace {

struct Person {
    QString name, addr;
    QString text() const { return name.isEmpty() ? addr : u"\"%1\" <%2>"_s.arg(name, addr); }
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
    bool edited = false;          // a part deleted and part 0 replaced after composing
};

// Zero bytes, 0xFF runs, every byte value, lone CR and LF, then noise.
QByteArray binary(int size, quint32 seed)
{
    QByteArray b = QByteArray(37, '\0') + QByteArray(300, char(0xFF)) + QByteArray("\r\n\r\r\n\n\0\0\r", 9);
    for (int i = 0; i < 256; ++i)
        b.append(char(i));
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
         {{"text", "text/plain", "quoted-printable", "utf-8", "", "添付ファイルをご確認ください。\nñandú, 😀\n"
           "trailing blanks   \ntab\t\n= and =41\nFrom here\n.\n..dots\nend"},
          {"attachment", "application/octet-stream", "base64", "", "zeros-and-ff-ordre-du-jour-de-la-seance-"
           "extraordinaire-du-comite-de-direction.bin", binary(5000, 1)},
          {"attachment", "application/pdf", "base64", "", "報告書.pdf", binary(70001, 2)},
          {"attachment", "image/png", "base64", "", "🎉 party.png", binary(3, 3)},
          {"attachment", "text/plain", "base64", "utf-8", "notes ñ.txt", "attached text\nwith ünïcödé\n"}}},
        {u("text, html and unnamed attachment, greek, replying, long lists"), {u("Γιώργος"), u("giorgos@example.gr")},
         many, {{u("Ελένη"), u("eleni@example.gr")}, {QString(), u("plain@example.gr")}},
         u("Καλημέρα κόσμε — σύσκεψη της επιτροπής για το πρόγραμμα της έκτακτης συνεδρίασης του Δεκεμβρίου"),
         u("root.1@example.gr"),
         {u("root.0@example.gr"), u("root.1@example.gr")},
         {{"text", "text/plain", "7bit", "us-ascii", "", "Plain 7bit body.\n"},
          {"text", "text/html", "quoted-printable", "utf-8", "", "<p>Καλημέρα</p>\n" + longLine},
          {"attachment", "text/csv", "quoted-printable", "utf-8", "data.csv", "a;b\n1;€\n"},
          {"attachment", "application/octet-stream", "base64", "", "", binary(1, 6)}}},
        // Edited after composing: 8bit, so the quoted boundary lines stand in the body as they are.
        {u("raw binary body, awkward names, no recipients; edited, boundary quoted"), {u("Robot"), u("robot@example.com")},
         {}, {}, QString(), QString(), {},
         {{"text", "text/plain", "8bit", "utf-8", "", "line\r\nwith CR LF\r\nand a lone\rCR\n"},
          {"attachment", "application/octet-stream", "binary", "", "raw.bin", binary(4000, 7)},
          {"attachment", "text/plain", "base64", "", "say hi; now (1).txt", "hi\n"}}, true},
    };
}

QByteArray sha256(const QByteArray& b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex(); }

// Composes a message in \a f: \a describe fills its descriptor, every part
// is created, then their data set in order (without parts it is saved as it
// is); its text, or a note of what failed.
QByteArray compose(LocalMailFolder& f, const std::function<void(MessageDescriptor&)>& describe, const std::vector<PartSpec>& parts = {},
                   IndexClass** entry = nullptr)
{
    MessageDevice dev(f.indexIDict()->find(f.createMessage()));
    dev.loadDescriptor(false);
    describe(dev.getDescriptor());
    dev.saveDescriptor();
    for (const PartSpec& spec : parts) {
        MimePart* p = dev[dev.createPart()];
        std::tie(p->type, p->mimetype, p->encoding, p->charset, p->name) =
            std::tie(spec.type, spec.mimetype, spec.encoding, spec.charset, spec.name);
    }
    QByteArray failed;
    for (size_t i = 0; i < parts.size(); ++i)
        failed += dev.setPartData(int(i), parts[i].data) ? "" : "setPartData failed";
    if (parts.empty() && !dev.saveMessage(-1, QByteArray()))
        failed += "saveMessage failed";
    if (entry)
        *entry = dev.index();
    return failed + dev.rfc822Message();
}

// What varies from run to run, replaced once its form has been checked: the
// Date value (DATE), the boundary (BOUNDARY), the index ID's UUID (UUID) and
// the host in the Message-ID (HOST).
QByteArray normalised(const QByteArray& text, const QString& id)
{
    const QString uuid = QString(id).remove(u'{').remove(u'}');
    QString s = QString::fromLatin1(text);
    static const QRegularExpression date(
        u"^Date: [A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}\n"_s);
    s.replace(date, u"Date: DATE\n"_s);
    // The boundary: "-boundary", the short date (blanks as "_", lower
    // case) and the UUID, at most 70 characters of RFC 2046's set.
    static const QRegularExpression bnd(
        u"boundary=\"(-boundary[a-z]{3},_\\d{2}_[a-z]{3}_\\d{4}_\\d{2}:\\d{2}[0-9a-f-]{36})\""_s);
    const QString b = bnd.match(s).captured(1);
    if (!b.isEmpty() && b.size() <= 70 && b.endsWith(uuid))
        s.replace(b, u"BOUNDARY"_s);
    static const QRegularExpression mid(u"<[0-9a-f-]{36}@[A-Za-z0-9.-]+>"_s);
    return s.replace(mid, u"<UUID@HOST>"_s).replace(uuid, u"UUID"_s).toLatin1();
}

} // namespace

class tst_ComposeInterop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void literalTexts();
    void headerLines();
    void versionsInMessagesFile();
    void readers_data();
    void readers();

private:
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
        const QString p = tmp.filePath(u"f%1"_s.arg(++serial));
        QDir().mkpath(p);
        return p;
    }
    QString emlPath(size_t i) const { return tmp.filePath(u"msg%1.eml"_s.arg(i)); }
    QTemporaryDir tmp;
    int serial = 0;
    QByteArray footer = "\n-- \nSent from a test — pié de página\n";  // "\n" + the footer file
    std::vector<Case> all = cases();
    std::unique_ptr<LocalMailFolder> folder;  // the cases' messages
    QStringList ids;                          // their index IDs
};

void tst_ComposeInterop::initTestCase()
{
    // The footer comes from a file named in the user's settings.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, tmp.filePath(u"settings"_s));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, tmp.filePath(u"settings"_s));
    const QString footerFile = writeTestFile(tmp.filePath(u"footer.txt"_s), footer.mid(1));
    QSettings(QSettings::UserScope, u"Norvatec"_s, u"Tovik"_s).setValue(u"/email/footerText"_s, footerFile);

    folder = std::make_unique<LocalMailFolder>(folderPath());
    for (size_t k = 0; k < all.size(); ++k) {
        Case& c = all[k];
        std::vector<PartSpec> parts = c.parts;
        if (c.edited)  // a part at 1, deleted once filled
            parts.insert(parts.begin() + 1, {"attachment", "application/zip", "base64", "", "x.zip", binary(5000, 9)});
        IndexClass* e = nullptr;
        const QByteArray text = compose(*folder, [&](MessageDescriptor& d) {
            d.from = c.from.text();
            for (const Person& p : c.to)
                d.to << p.text();
            for (const Person& p : c.cc)
                d.cc << p.text();
            std::tie(d.subject, d.inReplyTo, d.references) = std::tie(c.subject, c.inReplyTo, c.references);
        }, parts, &e);
        QVERIFY2(text.startsWith("Date: "), text.left(100).constData());  // nothing failed
        MessageDevice dev(e);
        dev.loadDescriptor(false);
        if (c.edited) {
            QVERIFY(!dev.deletePart(int(parts.size())));
            QVERIFY(dev.deletePart(1));
            QVERIFY(!dev.setPartData(int(c.parts.size()), "x"));
            // Part 0 replaced by text that quotes the boundary: the boundary changes.
            static const QRegularExpression bnd(u"boundary=\"([^\"]+)\""_s);
            const QByteArray old = bnd.match(QString::fromLatin1(dev.rfc822Message())).captured(1).toLatin1();
            c.parts[0].data += "\n--" + old + "\nContent-Type: text/plain\n\nnot a part\n--" + old + "--\n";
            QVERIFY(!old.isEmpty() && dev.setPartData(0, c.parts[0].data));
            QVERIFY(!dev.rfc822Message().contains("boundary=\"" + old + "\""));
        }
        QCOMPARE(e->getMessageID(), dev.getDescriptor().messageID);
        ids << e->getID();
        QVERIFY(!writeTestFile(emlPath(k), dev.rfc822Message()).isEmpty());
    }
}

void tst_ComposeInterop::literalTexts()
{
    LocalMailFolder f(folderPath());
    IndexClass* e = nullptr;
    QByteArray text = compose(f, [](MessageDescriptor& d) {
        d.from = u"Jose Ruiz <jose@example.org>"_s;
        d.to = QStringList{u"ana@example.org"_s};
        d.subject = u"Plain (text) = ok"_s;
    }, {{"text", "text/plain", "quoted-printable", "iso-8859-1", "", "Hola=\n"}}, &e);
    // One part: no footer, no multipart frame; the body ends the text; an
    // ASCII subject stays as it is (the lines before it: as below).
    QVERIFY2(text.contains("\nSubject: Plain (text) = ok\n") && text.endsWith(
        "\nMIME-Version: 1.0\n"
        "Content-Type: text/plain; charset=iso-8859-1\n"
        "Content-Transfer-Encoding: quoted-printable\n"
        "\n"
        "Hola=3D=0A"), text.constData());
    MessageDevice one(e);
    one.loadDescriptor(false);
    QCOMPARE(int(one.getDescriptor().attachments), 0);  // a text part is no attachment

    text = compose(f, [](MessageDescriptor& d) {
        d.from = u"Jose Ruiz <jose@example.org>"_s;
        d.to = QStringList{u"ana@example.org"_s};
        d.cc = QStringList{u"c@example.org"_s};
        d.replyTo = u"r@example.org"_s;
        d.subject = u"Año ñ"_s;
        d.inReplyTo = u"parent@example.org"_s;
        d.references = QStringList{u"a@example.org"_s, u"parent@example.org"_s};
        d.priority = u"High"_s;
        d.extraInfo = u"HEADER_EXTRA X-Custom: 1"_s;  // no line end of its own
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

// Long recipient lists fold; empty headers stay; no line break in a value
// can start a header of its own.
void tst_ComposeInterop::headerLines()
{
    LocalMailFolder f(folderPath());
    QStringList to;
    for (int i = 1; i <= 12; ++i)
        to << u"a%1@example.org"_s.arg(i, 2, 10, QLatin1Char('0'));
    QByteArray text = compose(f, [&](MessageDescriptor& d) { d.to = to; });
    // Once the header text has passed 75 characters, every further address
    // starts a continuation line of its own.
    QByteArray expected = "To: <a01@example.org>, <a02@example.org>, <a03@example.org>, ";
    for (int i = 4; i <= 12; ++i)
        expected += "\n\t<a" + QByteArray::number(i).rightJustified(2, '0') + "@example.org>" + (i < 12 ? ", " : "\n");
    QVERIFY2(text.contains("\n" + expected), text.constData());
    QVERIFY(text.endsWith("MIME-Version: 1.0\n"));  // no parts: nothing after the MIME version
    QVERIFY(compose(f, [](MessageDescriptor&) {}).contains("\nTo: \nFrom: \n"));

    text = compose(f, [](MessageDescriptor& d) {
        d.subject = u"Hi\r\nBcc: victim@example.org"_s;
        d.from = u"a@example.org\r\nX-Evil: 1"_s;
        d.to = QStringList{u"b@example.org\nX-Evil: 2"_s};
        d.messageID = u"id\r\nX-Evil: 3"_s;
        d.inReplyTo = u"p\nX-Evil: 4"_s;
        d.references = QStringList{u"r\nX-Evil: 5"_s};
        d.priority = u"High\nX-Evil: 6"_s;
    }, {{"attachment", "application/octet-stream", "base64", "", "", "x"},
        {"attachment", "application/octet-stream", "base64", "", "say \"hi\"; \\now.txt\nX-Evil: 7", "y"}});
    for (const QByteArray& line : text.split('\n'))
        QVERIFY2(!line.startsWith("Bcc:") && !line.startsWith("X-Evil") && !line.contains('\r'), line.constData());
    QVERIFY(text.contains("Subject: Hi  Bcc: victim@example.org\n"));
    // Quotes and backslashes in a file name are quoted-pairs.
    QVERIFY(text.contains("filename=\"say \\\"hi\\\"; \\\\now.txt X-Evil: 7\"\n"));
}

// Each version of a message goes to the messages file as "From - <date>\r\n"
// + text + "\r\n"; the entry points at the last, whose parts point into it.
// The views read the parts there, the HTML one escaping plain text. A body
// to be copied from a messages file that is gone: nothing changes.
void tst_ComposeInterop::versionsInMessagesFile()
{
    const QString path = folderPath();
    LocalMailFolder f(path);
    IndexClass* e = nullptr;
    const QByteArray text = compose(f, [](MessageDescriptor&) {},
        {{"text", "text/plain", "7bit", "us-ascii", "", "<A&"}, {"attachment", "text/plain", "7bit", "", "b.txt", "B"}},
        &e);
    const QByteArray all = readTestFile(path + "/messages"_L1);
    // Two versions: the second's separator line ends where the entry's text starts.
    const qsizetype second = all.indexOf("\r\nFrom - ") + 2;
    QVERIFY(all.startsWith("From - ") && second > 1 && all.indexOf("\r\n", second) + 2 == e->getUniblockOffset());
    QCOMPARE(all.mid(e->getUniblockOffset()), text + "\r\n");
    const MimePart *p0 = e->getPartAt(0), *p1 = e->getPartAt(1);
    QCOMPARE(all.mid(p0->offset, p0->length) + all.mid(p1->offset, p1->length), QByteArray("<A&B"));
    QCOMPARE(MessageDevice(e).text(true), u"<A&\n-------- Attachment ---------\nB"_s);
    QCOMPARE(MessageDevice(e).html(false), u"&lt;A&amp;"_s);

    const long offset = p0->offset;
    QVERIFY(QFile::remove(path + "/messages"_L1));
    QTest::ignoreMessage(QtDebugMsg, ("No reading rights for " + QFile::encodeName(path + "/messages"_L1)).constData());
    QVERIFY(!MessageDevice(e).saveMessage(-1, QByteArray()));
    QCOMPARE(long(e->getPartAt(0)->offset), offset);
}

void tst_ComposeInterop::readers_data()
{
    QTest::addColumn<int>("caseIndex");
    QTest::addColumn<QString>("reader");
    for (size_t i = 0; i < all.size(); ++i)
        for (const QString& n : {u"own"_s, u"default"_s, u"compat32"_s, u"gmime"_s})
            QTest::newRow(qPrintable(all[i].tag + u' ' + n)) << int(i) << n;
}

// Our parser finds the parts where the part records point, with their
// headers, and the bodies decode to the content given. Each other reader
// prints what it finds, one "key<TAB>values" line each; the lines it must
// print are built here from the case.
void tst_ComposeInterop::readers()
{
    QFETCH(int, caseIndex);
    QFETCH(QString, reader);
    const Case& c = all[size_t(caseIndex)];
    IndexClass* e = folder->indexIDict()->find(ids.value(caseIndex));
    QVERIFY(e);
    if (reader == "own"_L1) {
        MessageDevice dev(e);
        const QByteArray text = dev.rfc822Message();
        const MessageClass m{QCString(text)};
        QCOMPARE(m.partList.size(), c.parts.size());
        QCOMPARE(dev.getPartCount(), int(c.parts.size()));
        for (size_t i = 0; i < c.parts.size(); ++i) {
            const MimePart &p = *m.partList[i], &stored = *dev[int(i)];
            const PartSpec& spec = c.parts[i];
            QCOMPARE(QList<long>({p.offset, p.length}),
                     QList<long>({stored.offset - e->getUniblockOffset(), stored.length}));
            // The records as set, the parser's parts of a multipart/related.
            const QByteArray name = spec.type == "attachment" && spec.name.isEmpty() ? "attachment.dat" : spec.name;
            QCOMPARE(QList<QCString>({stored.type, stored.mimetype, stored.name, p.mimetype, p.encoding.toLower(),
                                      p.type}),
                     QList<QCString>({spec.type, spec.mimetype, name, spec.mimetype, spec.encoding,
                                      i > 0 ? QByteArray("related") : spec.type}));
            if (spec.type == "text")
                QCOMPARE(p.charset, QCString(spec.charset));
            // Our codecs' decoding, less the zero byte the identity and quoted-printable decoders add.
            QByteArray d = MIMECodec::decode(text.mid(p.offset, p.length) + '\0', p.encoding.constData());
            QCOMPARE(p.encoding.toLower() != "base64" && d.endsWith('\0') ? d.chopped(1) : d, content(c, i));
        }
        return;
    }
    const bool gmime = reader == "gmime"_L1;
    if (gmime && QByteArray(ORVANE_GMIME_CHECK).isEmpty())
        QSKIP("the GMime reader is not built");
    QProcess p;
    const QString file = emlPath(size_t(caseIndex)), script = u"" ORVANE_TEST_DATA "/../interop/email_check.py"_s;
    gmime ? p.start(QStringLiteral(ORVANE_GMIME_CHECK), {file})
          : p.start(u"/usr/bin/python3"_s, {script, reader, file});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, p.readAllStandardError().constData());

    QByteArray want = "subject\t" + c.subject.toUtf8() + "\nmessage_id\t" + e->getMessageID().toLatin1() + "\n";
    for (const auto& [key, list] : {std::pair("from", QList<Person>{c.from}), std::pair("to", c.to), std::pair("cc", c.cc)})
        for (const Person& person : list)
            want += key + ('\t' + person.name.toUtf8()) + '\t' + person.addr.toUtf8() + '\n';
    want += "type\t" + (c.parts.size() > 1 ? QByteArray("multipart/related") : c.parts[0].mimetype) + '\n';
    const QString refs = c.references.isEmpty() ? QString() : u'<' + c.references.join(u"> <"_s) + u'>';
    if (!gmime)
        want += "python\t" + (c.inReplyTo.isEmpty() ? QByteArray("None") : '<' + c.inReplyTo.toLatin1() + '>')
            + '\t' + refs.toLatin1() + "\t1.0\tTrue\n";
    for (size_t i = 0; i < c.parts.size(); ++i) {
        const PartSpec& spec = c.parts[i];
        QByteArray data = content(c, i);
        if (!gmime && spec.encoding != "quoted-printable" && spec.encoding != "base64")
            data.replace("\r\n", "\n").replace('\r', '\n');  // Python reads such a body as lines
        QByteArray name = spec.type != "attachment" || c.parts.size() < 2 ? QByteArray()
            : spec.name.isEmpty() ? QByteArray("attachment.dat") : spec.name;
        if (reader == "compat32"_L1 && QString::fromUtf8(name) != QString::fromLatin1(name))
            name = "*";  // compat32 leaves 8-bit RFC 2231 names undecoded
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
