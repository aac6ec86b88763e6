// Messages composed in a folder, read back by other mail readers (Python's
// email package, modern policy and compat32, and GMime) and by our own
// MessageClass: each must find the headers set, the parts added and, byte
// for byte, the content handed to setPartData.

#include <indexclass.h>
#include <localmailfolder.h>
#include <messageclass.h>
#include <messagedevice.h>
#include <mimecodec.h>
#include <mimepart.h>

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

#include <map>

namespace {

struct Person {
    QString name, addr;
    // The display name a reader finds: the address parser takes quotes,
    // commas, semicolons and angle brackets for blanks.
    QByteArray headerName() const
    {
        return QString(name).replace(QRegularExpression(QStringLiteral("[\"<>,;]")), QStringLiteral(" "))
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

} // namespace

class tst_ComposeInterop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
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
    QTemporaryDir tmp;
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
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, tmp.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, tmp.filePath(QStringLiteral("settings")));
    const QByteArray footerBody = "-- \nSent from a test — pié de página\n";
    footer = "\n" + footerBody;
    QFile footerFile(tmp.filePath(QStringLiteral("footer.txt")));
    QVERIFY(footerFile.open(QIODevice::WriteOnly) && footerFile.write(footerBody) == footerBody.size());
    footerFile.close();
    QSettings(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"))
        .setValue(QStringLiteral("/email/footerText"), footerFile.fileName());

    const QString folderPath = tmp.filePath(QStringLiteral("outbox"));
    QVERIFY(QDir().mkpath(folderPath));
    LocalMailFolder folder(folderPath);
    for (Case& c : all) {
        IndexClass* e = folder.indexIDict()->find(folder.createMessage());
        QVERIFY(e);
        MessageDevice dev(e);
        dev.loadDescriptor(false);
        MessageDescriptor& d = dev.getDescriptor();
        d.from = c.from.text();
        for (const Person& p : c.to)
            d.to << p.text();
        for (const Person& p : c.cc)
            d.cc << p.text();
        d.subject = c.subject;
        d.inReplyTo = c.inReplyTo;
        d.references = c.references;
        dev.saveDescriptor();
        std::vector<PartSpec> parts = c.parts;
        if (c.doomedAt >= 0)
            parts.insert(parts.begin() + c.doomedAt, {"attachment", "application/zip", "base64", "", "x.zip", binary(5000, 9)});
        for (const PartSpec& spec : parts) {
            MimePart* p = dev[dev.createPart()];
            QVERIFY(p);
            std::tie(p->type, p->mimetype, p->encoding, p->charset, p->name) =
                std::tie(spec.type, spec.mimetype, spec.encoding, spec.charset, spec.name);
        }
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
        QCOMPARE(e->getMessageID().toLatin1(), r.messageID);
        for (int i = 0; i < dev.getPartCount(); ++i) {
            r.parts.push_back(*dev[i]);
            r.parts.back().offset -= qint32(e->getUniblockOffset());
        }
        r.file = tmp.filePath(QStringLiteral("msg%1.eml").arg(composed.size()));
        QFile f(r.file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(r.text) == r.text.size());
    }
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
