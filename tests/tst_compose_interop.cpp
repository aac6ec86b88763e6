// Messages composed in a folder, read back by other mail readers: Python's
// email package (modern policy and compat32) and our own MessageClass. Each
// must find the headers we set, the parts we added and, byte for byte, the
// content we handed to setPartData.

#include <indexclass.h>
#include <localmailfolder.h>
#include <messageclass.h>
#include <messagedevice.h>
#include <mimecodec.h>
#include <mimepart.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTest>

#include <map>

namespace {

const char Python[] = "/usr/bin/python3";

struct Person {
    QString name;  // display name (may be empty)
    QString addr;
    // The display name a reader finds: the address parser takes quotes,
    // commas, semicolons and angle brackets for blanks.
    QString headerName() const
    {
        QString n = name;
        n.replace(QRegularExpression(QStringLiteral("[\"<>,;]")), QStringLiteral(" "));
        return n.simplified();
    }
    // The form the host puts into the descriptor.
    QString text() const
    {
        if (name.isEmpty())
            return addr;
        QString n = name;
        n.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
        return QLatin1Char('"') + n + QLatin1String("\" <") + addr + QLatin1Char('>');
    }
};

struct PartSpec {
    QByteArray type;      // "text" or "attachment"
    QByteArray mimetype;
    QByteArray encoding;
    QByteArray charset;
    QByteArray name;      // raw 8-bit name as the host sets it
    QByteArray data;      // the bytes handed to setPartData
};

struct Case {
    QString tag;
    Person from;
    QList<Person> to;
    QList<Person> cc;
    QString subject;
    QString inReplyTo;
    QStringList references;
    std::vector<PartSpec> parts;  // as the message ends up
    // A part added at doomedAt, filled, then deleted again.
    int doomedAt = -1;
    PartSpec doomed;
    // Part 0 is set twice: first to this, then to its final content.
    QByteArray firstDraft;
    // Part 0's final content quotes the message's own boundary lines.
    bool quoteBoundary = false;
};

// Deterministic binary content: zero bytes, 0xFF runs, every byte value,
// CR and LF alone and in pairs, then pseudo-random bytes.
QByteArray binary(int size, quint32 seed)
{
    QByteArray b;
    b.append(QByteArray(37, '\0'));
    b.append(QByteArray(300, char(0xFF)));
    for (int i = 0; i < 256; ++i)
        b.append(char(i));
    b.append("\r\n\r\r\n\n\0\0\r", 9);
    QRandomGenerator rng(seed);
    while (b.size() < size)
        b.append(char(rng.bounded(256)));
    b.truncate(size);
    return b;
}

QByteArray u8(const char* s) { return QByteArray(s); }

std::vector<Case> cases()
{
    std::vector<Case> out;
    const QByteArray longLine = QByteArray("Long line: ") + QByteArray(30, 'x') + u8(" café ")
        + QByteArray(150, 'y') + u8(" ünd =3D is not an escape\n");
    {
        Case c;
        c.tag = QStringLiteral("text only, ascii, quoted-printable");
        c.from = {QString(), QStringLiteral("alice@example.com")};
        c.to = {{QStringLiteral("Bob Smith"), QStringLiteral("bob@example.org")}};
        c.subject = QStringLiteral("Plain hello");
        c.parts.push_back({"text", "text/plain", "quoted-printable", "us-ascii", "",
                           "Hello Bob,\n\ntrailing blanks   \ntrailing tab\t\n= sign and =41\n"
                           "From the start of a line\n.\n..dots\n" + QByteArray(200, 'z') + "\nend"});
        out.push_back(c);
    }
    {
        Case c;
        c.tag = QStringLiteral("text only, cyrillic, 8bit");
        c.from = {QString::fromUtf8("Иван Петров"), QStringLiteral("ivan@example.ru")};
        c.to = {{QString::fromUtf8("Мария Иванова"), QStringLiteral("maria@example.ru")}};
        c.subject = QString::fromUtf8("Привет, мир: отчёт за квартал");
        c.parts.push_back({"text", "text/plain", "8bit", "utf-8", "",
                           u8("Здравствуйте!\n\nСтрока с пробелами в конце   \nКонец.\n")});
        out.push_back(c);
    }
    {
        Case c;
        c.tag = QStringLiteral("text and html, greek");
        c.from = {QString::fromUtf8("Γιώργος Παπαδόπουλος"), QStringLiteral("giorgos@example.gr")};
        c.to = {{QStringLiteral("Ops"), QStringLiteral("ops@example.gr")},
                {QString(), QStringLiteral("plain@example.gr")}};
        c.cc = {{QString::fromUtf8("Ελένη"), QStringLiteral("eleni@example.gr")}};
        c.subject = QString::fromUtf8("Καλημέρα κόσμε — σύσκεψη");
        c.inReplyTo = QStringLiteral("root.1@example.gr");
        c.references = {QStringLiteral("root.0@example.gr"), QStringLiteral("root.1@example.gr")};
        c.parts.push_back({"text", "text/plain", "quoted-printable", "utf-8", "",
                           u8("Καλημέρα σας,\n\n") + longLine + u8("Τέλος\n")});
        c.parts.push_back({"text", "text/html", "quoted-printable", "utf-8", "",
                           u8("<html><body><p>Καλημέρα <b>σας</b></p>\n<p>a=b &amp; c</p></body></html>\n")});
        out.push_back(c);
    }
    {
        Case c;
        c.tag = QStringLiteral("attachments, binary, cjk and emoji names");
        c.from = {QString::fromUtf8("山田太郎"), QStringLiteral("taro@example.jp")};
        c.to = {{QString::fromUtf8("佐藤花子"), QStringLiteral("hanako@example.jp")}};
        c.subject = QString::fromUtf8("会議の議事録 📎 添付あり");
        c.parts.push_back({"text", "text/plain", "quoted-printable", "utf-8", "",
                           u8("添付ファイルをご確認ください。\nñandú, Ωμέγα, 😀\n")});
        c.parts.push_back({"attachment", "application/octet-stream", "base64", "", "zeros-and-ff.bin",
                           binary(5000, 1)});
        c.parts.push_back({"attachment", "application/pdf", "base64", "", u8("報告書.pdf"),
                           binary(70001, 2)});
        c.parts.push_back({"attachment", "image/png", "base64", "", u8("🎉 party.png"), binary(3, 3)});
        c.parts.push_back({"attachment", "text/plain", "base64", "utf-8", u8("notes ñ.txt"),
                           u8("attached text\nwith ünïcödé\n")});
        out.push_back(c);
    }
    {
        Case c;
        c.tag = QStringLiteral("long recipient lists, latin names");
        c.from = {QStringLiteral("Doe, John"), QStringLiteral("john.doe@example.com")};
        const char* names[] = {"José Álvarez", "Françoise Lefèvre", "Jürgen Groß", "Łukasz Wójcik",
                               "Søren Kierkegaard", "Ana", "Doe, Jane", "Ægir Þórsson", "", "Zoë",
                               "Ğülşen Çelik", "Nguyễn Văn A", "Björk", "O'Brien"};
        int n = 0;
        for (const char* name : names)
            c.to.append({QString::fromUtf8(name), QStringLiteral("user%1@example.net").arg(++n)});
        c.cc = {{QString::fromUtf8("Müller, Jörg"), QStringLiteral("jm@example.de")},
                {QString(), QStringLiteral("list@example.de")},
                {QStringLiteral("Plain Name"), QStringLiteral("plain@example.de")}};
        c.subject = QString::fromUtf8(
            "Réunion du comité de direction — ordre du jour très détaillé pour la séance "
            "extraordinaire de décembre, avec pièces jointes");
        c.inReplyTo = QStringLiteral("a1b2@example.com");
        c.references = {QStringLiteral("first@example.com"), QStringLiteral("a1b2@example.com")};
        c.parts.push_back({"text", "text/plain", "quoted-printable", "iso-8859-1", "",
                           QString::fromUtf8("Bonjour à tous,\nl'ordre du jour est joint.\n").toLatin1()});
        c.parts.push_back({"attachment", "application/vnd.oasis.opendocument.text", "base64", "",
                           "ordre-du-jour-de-la-seance-extraordinaire-du-comite-de-direction.odt",
                           binary(20000, 4)});
        out.push_back(c);
    }
    {
        Case c;
        c.tag = QStringLiteral("single attachment only");
        c.from = {QStringLiteral("Scanner"), QStringLiteral("scanner@example.com")};
        c.to = {{QString(), QStringLiteral("archive@example.com")}};
        c.subject = QStringLiteral("Scan 0001");
        c.parts.push_back({"attachment", "application/octet-stream", "base64", "", "scan.bin",
                           binary(300 * 1024 + 7, 5)});
        out.push_back(c);
    }
    {
        Case c;
        c.tag = QStringLiteral("text, html and inline-less attachments, 7bit");
        c.from = {QStringLiteral("Reports"), QStringLiteral("reports@example.com")};
        c.to = {{QStringLiteral("Team"), QStringLiteral("team@example.com")}};
        c.subject = QString::fromUtf8("Weekly report 🚀 — résumé");
        c.parts.push_back({"text", "text/plain", "7bit", "us-ascii", "", "Plain 7bit body.\nSecond line.\n"});
        c.parts.push_back({"text", "text/html", "quoted-printable", "utf-8", "",
                           u8("<p>HTML body – “quoted” ✓</p>\n")});
        c.parts.push_back({"attachment", "text/csv", "quoted-printable", "utf-8", "data.csv",
                           u8("a;b;c\n1;2;€\n")});
        c.parts.push_back({"attachment", "application/octet-stream", "base64", "", "", binary(1, 6)});
        out.push_back(c);
    }
    {
        Case c;
        c.tag = QStringLiteral("raw binary body and awkward names");
        c.from = {QStringLiteral("Robot"), QStringLiteral("robot@example.com")};
        c.to = {};
        c.subject = QString();
        c.parts.push_back({"text", "text/plain", "8bit", "utf-8", "", u8("line\r\nwith CR LF\r\nand a lone\rCR\n")});
        c.parts.push_back({"attachment", "application/octet-stream", "binary", "", "raw.bin", binary(4000, 7)});
        c.parts.push_back({"attachment", "text/plain", "base64", "", "say hi; now (1).txt", "hi\n"});
        out.push_back(c);
    }
    {
        Case c;
        c.tag = QStringLiteral("edited: part replaced, part deleted, boundary quoted");
        c.from = {QStringLiteral("Editor"), QStringLiteral("ed@example.com")};
        c.to = {{QStringLiteral("Reader"), QStringLiteral("reader@example.com")}};
        c.subject = QStringLiteral("Edited draft");
        c.firstDraft = "first draft, replaced later\n";
        // 8bit, so the quoted boundary lines stand in the body as they are.
        c.parts.push_back({"text", "text/plain", "8bit", "utf-8", "", "final text\n"});
        c.parts.push_back({"attachment", "application/octet-stream", "base64", "", "kept.bin", binary(777, 8)});
        c.doomedAt = 1;
        c.doomed = {"attachment", "application/zip", "base64", "", "dropped.zip", binary(5000, 9)};
        c.quoteBoundary = true;
        out.push_back(c);
    }
    return out;
}

QByteArray sha256(const QByteArray& b)
{
    return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex();
}

// What a reader must decode from a part: the data, plus the footer when the
// quoted-printable encoder appended it (the last "text" part of a message
// with two or more parts).
QByteArray expectedContent(const Case& c, size_t i, const QByteArray& footer)
{
    const PartSpec& p = c.parts[i];
    size_t lastText = 0;
    for (size_t k = 0; k < c.parts.size(); ++k)
        if (c.parts[k].type == "text")
            lastText = k;
    if (c.parts.size() > 1 && i == lastText && p.encoding.startsWith("quoted-printable"))
        return p.data + footer;
    return p.data;
}

// The bytes a part holds once decoded by our codecs, without the zero byte
// that the identity and quoted-printable decoders add.
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
    void storedTextMatchesParts_data();
    void storedTextMatchesParts();
    void ownParser_data();
    void ownParser();
    void python_data();
    void python();
    void gmime_data();
    void gmime();

private:
    void addCaseRows();
    void addPythonRows();
    QTemporaryDir tmp;
    QByteArray footer;  // what the encoder appends: "\n" + the footer file
    std::vector<Case> all;
    std::map<QString, QByteArray> texts;  // tag -> composed text
    std::map<QString, QString> files;     // tag -> file holding it
    std::map<QString, QString> messageIDs;
    std::map<QString, std::vector<MimePart>> storedParts;  // offsets relative to the text
    QJsonObject python_;
    bool havePython = false;
    QJsonObject gmime_;
    bool haveGMime = false;
};

void tst_ComposeInterop::initTestCase()
{
    QVERIFY(tmp.isValid());
    if (qEnvironmentVariableIsSet("ORVANE_KEEP_COMPOSED")) {
        // For a look at the composed files after the run.
        tmp.setAutoRemove(false);
        qInfo("composed messages kept in %s", qPrintable(tmp.path()));
    }
    // A footer we control, named by the settings the encoder reads.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, tmp.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, tmp.filePath(QStringLiteral("settings")));
    const QString footerFile = tmp.filePath(QStringLiteral("footer.txt"));
    const QByteArray footerBody = u8("-- \nSent from a test — pié de página\n");
    {
        QFile f(footerFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(footerBody);
    }
    {
        QSettings s(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"));
        s.setValue(QStringLiteral("/email/footerText"), footerFile);
        s.sync();
        QCOMPARE(s.status(), QSettings::NoError);
    }
    footer = "\n" + footerBody;

    all = cases();
    const QString folderPath = tmp.filePath(QStringLiteral("outbox"));
    QVERIFY(QDir().mkpath(folderPath));
    LocalMailFolder folder(folderPath);
    QStringList paths;
    int n = 0;
    for (Case& c : all) {
        const QString id = folder.createMessage();
        QVERIFY(!id.isEmpty());
        IndexClass* e = folder.indexIDict()->find(id);
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
        std::vector<PartSpec> composed = c.parts;
        if (c.doomedAt >= 0)
            composed.insert(composed.begin() + c.doomedAt, c.doomed);
        for (const PartSpec& spec : composed) {
            const int i = dev.createPart();
            MimePart* p = dev[i];
            QVERIFY(p);
            p->type = spec.type;
            p->mimetype = spec.mimetype;
            p->encoding = spec.encoding;
            p->charset = spec.charset;
            p->name = spec.name;
        }
        if (!c.firstDraft.isEmpty())
            QVERIFY(dev.setPartData(0, c.firstDraft));
        for (size_t i = 0; i < composed.size(); ++i)
            QVERIFY2(dev.setPartData(int(i), composed[i].data), qPrintable(c.tag));
        if (c.doomedAt >= 0)
            QVERIFY(dev.deletePart(c.doomedAt));
        if (c.quoteBoundary) {
            const QRegularExpressionMatch b =
                QRegularExpression(QStringLiteral("boundary=\"([^\"]+)\"")).match(QString::fromLatin1(dev.rfc822Message()));
            QVERIFY(b.hasMatch());
            const QByteArray old = b.captured(1).toLatin1();
            c.parts[0].data += "\n--" + old + "\nContent-Type: text/plain\n\nnot a part\n--" + old + "--\n";
            QVERIFY(dev.setPartData(0, c.parts[0].data));
            QVERIFY(!QString::fromLatin1(dev.rfc822Message()).contains(QLatin1String("boundary=\"") + b.captured(1) + QLatin1Char('"')));
        }
        const QCString text = dev.rfc822Message();
        QVERIFY(!text.isEmpty());
        texts[c.tag] = text;
        dev.loadDescriptor(false);
        messageIDs[c.tag] = dev.getDescriptor().messageID;
        QCOMPARE(e->getMessageID(), dev.getDescriptor().messageID);
        std::vector<MimePart> parts;
        for (int i = 0; i < dev.getPartCount(); ++i) {
            MimePart p(*dev[i]);
            p.offset -= qint32(e->getUniblockOffset());
            parts.push_back(p);
        }
        storedParts[c.tag] = parts;
        const QString file = tmp.filePath(QStringLiteral("msg%1.eml").arg(++n));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(text), qint64(text.size()));
        files[c.tag] = file;
        paths << file;
    }

#ifdef ORVANE_GMIME_CHECK
    haveGMime = QFileInfo::exists(QStringLiteral(ORVANE_GMIME_CHECK));
    if (haveGMime) {
        QProcess gm;
        gm.start(QStringLiteral(ORVANE_GMIME_CHECK), paths);
        QVERIFY(gm.waitForFinished(120000));
        QVERIFY2(gm.exitStatus() == QProcess::NormalExit && gm.exitCode() == 0,
                 gm.readAllStandardError().constData());
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(gm.readAllStandardOutput(), &err);
        QVERIFY2(err.error == QJsonParseError::NoError, qPrintable(err.errorString()));
        gmime_ = doc.object();
    }
#endif
    havePython = QFileInfo::exists(QLatin1String(Python));
    if (!havePython)
        return;
    QProcess py;
    py.start(QLatin1String(Python),
             QStringList{QStringLiteral(ORVANE_TEST_DATA "/../interop/email_check.py")} + paths);
    QVERIFY(py.waitForFinished(120000));
    QVERIFY2(py.exitStatus() == QProcess::NormalExit && py.exitCode() == 0,
             py.readAllStandardError().constData());
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(py.readAllStandardOutput(), &err);
    QVERIFY2(err.error == QJsonParseError::NoError, qPrintable(err.errorString()));
    python_ = doc.object();
}

void tst_ComposeInterop::addCaseRows()
{
    QTest::addColumn<int>("caseIndex");
    for (size_t i = 0; i < all.size(); ++i)
        QTest::newRow(qPrintable(all[i].tag)) << int(i);
}

// The part records point at the bodies in the composed text, and those
// bodies decode to the content given.
void tst_ComposeInterop::storedTextMatchesParts_data() { addCaseRows(); }

void tst_ComposeInterop::storedTextMatchesParts()
{
    QFETCH(int, caseIndex);
    const Case& c = all[size_t(caseIndex)];
    const QByteArray text = texts[c.tag];
    const std::vector<MimePart>& parts = storedParts[c.tag];
    QCOMPARE(parts.size(), c.parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        const MimePart& p = parts[i];
        QVERIFY(p.offset >= 0 && qint64(p.offset) + p.length <= text.size());
        QCOMPARE(ownDecode(text.mid(p.offset, p.length), p.encoding), expectedContent(c, i, footer));
        QCOMPARE(p.type, QCString(c.parts[i].type));
        QCOMPARE(p.mimetype, QCString(c.parts[i].mimetype));
        if (c.parts[i].type == "attachment")
            QCOMPARE(p.name, QCString(c.parts[i].name.isEmpty() ? u8("attachment.dat") : c.parts[i].name));
    }
    // Header lines never exceed what a mail reader accepts, and the text
    // has no line ends other than LF.
    const QByteArray head = text.left(text.indexOf("\n\n"));
    QVERIFY(!head.contains('\r'));
    QVERIFY(!head.contains('\0'));
}

// Our own parser finds the parts where the composer put them.
void tst_ComposeInterop::ownParser_data() { addCaseRows(); }

void tst_ComposeInterop::ownParser()
{
    QFETCH(int, caseIndex);
    const Case& c = all[size_t(caseIndex)];
    const QByteArray text = texts[c.tag];
    const MessageClass m{QCString(text)};
    const std::vector<MimePart>& stored = storedParts[c.tag];
    QCOMPARE(m.partList.size(), c.parts.size());
    for (size_t i = 0; i < c.parts.size(); ++i) {
        const MimePart& p = *m.partList[i];
        QCOMPARE(p.offset, stored[i].offset);
        QCOMPARE(p.length, stored[i].length);
        QCOMPARE(p.mimetype, QCString(c.parts[i].mimetype));
        QCOMPARE(p.encoding.toLower(), QCString(c.parts[i].encoding));
        // Parts after the first of a multipart/related are related parts.
        const QCString type = i > 0 ? QCString("related") : QCString(c.parts[i].type);
        QCOMPARE(p.type, type);
        if (c.parts[i].type == "text" && !c.parts[i].charset.isEmpty())
            QCOMPARE(p.charset, QCString(c.parts[i].charset));
        QCOMPARE(ownDecode(text.mid(p.offset, p.length), p.encoding), expectedContent(c, i, footer));
    }
    // The parser keeps the In-Reply-To id out of References.
    QStringList expectRefs = c.inReplyTo.isEmpty() ? QStringList() : c.references;
    expectRefs.removeAll(c.inReplyTo);
    QCOMPARE(QString::fromLatin1(m.Message_ID), messageIDs[c.tag]);
    QCOMPARE(QString::fromLatin1(m.In_Reply_To), c.inReplyTo);
    QStringList refs;
    for (const QCString& r : m.References)
        refs << QString::fromLatin1(r);
    QCOMPARE(refs, expectRefs);
    int to = 0;
    for (const AddressClass& a : m.To.getAddrList())
        to += a.email.isEmpty() ? 0 : 1;
    QCOMPARE(to, c.to.size());
}

void tst_ComposeInterop::addPythonRows()
{
    QTest::addColumn<int>("caseIndex");
    QTest::addColumn<QString>("policy");
    for (size_t i = 0; i < all.size(); ++i)
        for (const char* policy : {"default", "compat32"})
            QTest::newRow(qPrintable(all[i].tag + QLatin1String(" / ") + QLatin1String(policy)))
                << int(i) << QString::fromLatin1(policy);
}

void tst_ComposeInterop::python_data() { addPythonRows(); }

void tst_ComposeInterop::python()
{
    if (!havePython)
        QSKIP("/usr/bin/python3 is not installed");
    QFETCH(int, caseIndex);
    QFETCH(QString, policy);
    const Case& c = all[size_t(caseIndex)];
    const QJsonObject r = python_.value(files[c.tag]).toObject().value(policy).toObject();
    QVERIFY2(!r.isEmpty(), "no result from the Python helper");
    QVERIFY2(!r.contains(QLatin1String("error")), qPrintable(r.value(QLatin1String("error")).toString()));
    const bool modern = policy == QLatin1String("default");

    QCOMPARE(r.value(QLatin1String("subject")).toString(), c.subject);
    QCOMPARE(r.value(QLatin1String("message_id")).toString(), QLatin1Char('<') + messageIDs[c.tag] + QLatin1Char('>'));
    QCOMPARE(r.value(QLatin1String("mime_version")).toString(), QStringLiteral("1.0"));
    QVERIFY(!r.value(QLatin1String("date")).toString().isEmpty());
    if (c.inReplyTo.isEmpty()) {
        QVERIFY(r.value(QLatin1String("in_reply_to")).isNull());
        QCOMPARE(r.value(QLatin1String("references")).toArray().size(), 0);
    } else {
        QCOMPARE(r.value(QLatin1String("in_reply_to")).toString(), QLatin1Char('<') + c.inReplyTo + QLatin1Char('>'));
        QStringList refs;
        for (const QJsonValue& v : r.value(QLatin1String("references")).toArray())
            refs << v.toString();
        QStringList expect;
        for (const QString& ref : c.references)
            expect << QLatin1Char('<') + ref + QLatin1Char('>');
        QCOMPARE(refs, expect);
    }

    auto checkAddresses = [&](const char* field, const QList<Person>& people) {
        // An empty header ("To: ") may read as one empty address.
        QJsonArray got;
        for (const QJsonValue& v : r.value(QLatin1String(field)).toArray())
            if (!v.toArray()[1].toString().isEmpty())
                got.append(v);
        QCOMPARE(got.size(), people.size());
        for (int i = 0; i < people.size(); ++i) {
            const QJsonArray pair = got[i].toArray();
            QCOMPARE(pair[1].toString(), people[i].addr);
            QCOMPARE(pair[0].toString(), people[i].headerName());
        }
    };
    checkAddresses("from", {c.from});
    if (QTest::currentTestFailed())
        return;
    checkAddresses("to", c.to);
    if (QTest::currentTestFailed())
        return;
    checkAddresses("cc", c.cc);
    if (QTest::currentTestFailed())
        return;

    const QJsonArray parts = r.value(QLatin1String("parts")).toArray();
    QCOMPARE(parts.size(), qsizetype(c.parts.size()));
    QCOMPARE(r.value(QLatin1String("content_type")).toString(),
             c.parts.size() > 1 ? QStringLiteral("multipart/related") : QString::fromLatin1(c.parts[0].mimetype));
    for (size_t i = 0; i < c.parts.size(); ++i) {
        const PartSpec& spec = c.parts[i];
        const QJsonObject p = parts[qsizetype(i)].toObject();
        QByteArray want = expectedContent(c, i, footer);
        if (!spec.encoding.startsWith("quoted-printable") && spec.encoding != "base64") {
            // Python reads an unencoded body as lines: CR LF and a lone CR
            // come back as LF.
            want.replace("\r\n", "\n").replace('\r', '\n');
        }
        QCOMPARE(p.value(QLatin1String("content_type")).toString(), QString::fromLatin1(spec.mimetype));
        QCOMPARE(p.value(QLatin1String("size")).toInt(), want.size());
        QCOMPARE(p.value(QLatin1String("sha256")).toString().toLatin1(), sha256(want));
        if (spec.type == "attachment" && c.parts.size() > 1) {
            // The file name as the host set it (8-bit text, UTF-8 here).
            const QString name = QString::fromUtf8(spec.name.isEmpty() ? u8("attachment.dat") : spec.name);
            const QString got = p.value(QLatin1String("filename")).toString();
            if (modern || QString::fromLatin1(spec.name.isEmpty() ? u8("attachment.dat") : spec.name) == name)
                QCOMPARE(got, name);
        }
        // Only "text" parts carry their charset parameter; an attachment's
        // bytes were compared above.
        if (spec.type == "text" && !spec.charset.isEmpty()) {
            QTextCodec* codec = QTextCodec::codecForName(spec.charset);
            QVERIFY(codec);
            QCOMPARE(p.value(QLatin1String("text")).toString(), codec->toUnicode(want));
        }
    }
    if (modern) {
        // Defects a strict reader reports for what we wrote.
        QStringList defects;
        for (const QJsonValue& v : r.value(QLatin1String("defects")).toArray())
            defects << v.toString();
        QCOMPARE(defects, QStringList());
    }
}

void tst_ComposeInterop::gmime_data() { addCaseRows(); }

void tst_ComposeInterop::gmime()
{
    if (!haveGMime)
        QSKIP("the GMime reader is not built");
    QFETCH(int, caseIndex);
    const Case& c = all[size_t(caseIndex)];
    const QJsonObject r = gmime_.value(files[c.tag]).toObject();
    QVERIFY2(!r.isEmpty() && !r.contains(QLatin1String("error")), "no result from the GMime helper");
    QCOMPARE(r.value(QLatin1String("subject")).toString(), c.subject);
    QCOMPARE(r.value(QLatin1String("message_id")).toString(), messageIDs[c.tag]);
    auto checkAddresses = [&](const char* field, const QList<Person>& people) {
        QJsonArray got;
        for (const QJsonValue& v : r.value(QLatin1String(field)).toArray())
            if (!v.toArray()[1].toString().isEmpty())
                got.append(v);
        QCOMPARE(got.size(), people.size());
        for (int i = 0; i < people.size(); ++i) {
            QCOMPARE(got[i].toArray()[1].toString(), people[i].addr);
            QCOMPARE(got[i].toArray()[0].toString(), people[i].headerName());
        }
    };
    checkAddresses("from", {c.from});
    if (QTest::currentTestFailed())
        return;
    checkAddresses("to", c.to);
    if (QTest::currentTestFailed())
        return;
    checkAddresses("cc", c.cc);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(r.value(QLatin1String("content_type")).toString(),
             c.parts.size() > 1 ? QStringLiteral("multipart/related") : QString::fromLatin1(c.parts[0].mimetype));
    const QJsonArray parts = r.value(QLatin1String("parts")).toArray();
    QCOMPARE(parts.size(), qsizetype(c.parts.size()));
    for (size_t i = 0; i < c.parts.size(); ++i) {
        const PartSpec& spec = c.parts[i];
        const QJsonObject p = parts[qsizetype(i)].toObject();
        const QByteArray want = expectedContent(c, i, footer);
        QCOMPARE(p.value(QLatin1String("content_type")).toString(), QString::fromLatin1(spec.mimetype));
        QCOMPARE(p.value(QLatin1String("size")).toInt(), want.size());
        QCOMPARE(p.value(QLatin1String("sha256")).toString().toLatin1(), sha256(want));
        if (spec.type == "attachment" && c.parts.size() > 1)
            QCOMPARE(p.value(QLatin1String("filename")).toString(),
                     QString::fromUtf8(spec.name.isEmpty() ? u8("attachment.dat") : spec.name));
        if (spec.type == "text" && !spec.charset.isEmpty())
            QCOMPARE(p.value(QLatin1String("charset")).toString(), QString::fromLatin1(spec.charset));
    }
}

QTEST_GUILESS_MAIN(tst_ComposeInterop)
#include "tst_compose_interop.moc"
