// The orvane-mail tool run as a user would: encode and decode against the
// library's one-shot codecs; compose read back through the library; each
// kind of failure with its exit status and message.

#include <indexclass.h>
#include <localmailfolder.h>
#include <messagedevice.h>
#include <mimecodec.h>
#include <mimepart.h>

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "toolrun.h"

using namespace Qt::StringLiterals;

namespace {

// The tool reads 1 MiB at a time: a few MiB of input cross its chunk edges.
constexpr int Big = 3 << 20;

QByteArray randomBytes(quint32 seed, qsizetype size, const QByteArray& alphabet = QByteArray())
{
    QRandomGenerator rng(seed);
    QByteArray b(size, Qt::Uninitialized);
    for (char& c : b)
        c = alphabet.isEmpty() ? char(rng.bounded(256)) : alphabet.at(int(rng.bounded(alphabet.size())));
    return b;
}

} // namespace

class tst_Tool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void codec_data();
    void codec();
    void failures_data();
    void failures();
    void compose_data();
    void compose();
    void importMbox();

private:
    Run run(const QStringList& args, const QByteArray& input = QByteArray())
    {
        return runTool(args, tmp.filePath(u"tool-config"_s), input);
    }
    QString file(const QString& name, const QByteArray& data) { return writeTestFile(tmp.filePath(name), data); }
    QString newFolder() { return tmp.filePath(u"box%1"_s.arg(++serial)); }
    QTemporaryDir tmp;
    QByteArray footer;
    int serial = 0;
};

void tst_Tool::initTestCase()
{
    if (QByteArray(ORVANE_TOOL).isEmpty())
        QSKIP("the orvane-mail tool is not built");
    // The tool reads its settings below tool-config (XDG_CONFIG_HOME): name a
    // footer file there, under the key without and with the key base that the
    // tool's application directories set.
    const QString settings = tmp.filePath(u"tool-config"_s);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
    footer = "\n-- \nfooter line\n";
    const QString footerFile = file(u"footer.txt"_s, footer.mid(1));
    QSettings s(QSettings::UserScope, u"Norvatec"_s, u"Tovik"_s);
    s.setValue(u"/email/footerText"_s, footerFile);
    s.setValue(u"Orvane//email/footerText"_s, footerFile);
}

void tst_Tool::codec_data()
{
    QTest::addColumn<bool>("viaStdin");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QByteArray>("input");
    const QByteArray random = randomBytes(1, Big);
    const QByteArray text = randomBytes(2, Big, "aaaaaaaaaabcdefghij  \t\t\r\n\n=@\xE9\xFF");
    const QString enc = u"encode"_s, dec = u"decode"_s, b = u"base64"_s, qp = u"quoted-printable"_s;
    QTest::newRow("encode BASE64, 3 MiB + 1") << false << enc << u"BASE64"_s << random + 'x';
    QTest::newRow("decode base64, CR LF")
        << true << dec << b << QByteArray(MIMECodec::encodeEndLine(MIMECodec::encodeBase64(random, true, true).chopped(1)));
    QTest::newRow("decode base64, pads mid-stream") << false << dec << b << QByteArray("YQ==\n").repeated(Big / 5);
    QTest::newRow("encode quoted-printable-compat") << true << enc << u"Quoted-Printable-Compat"_s << text;
    QTest::newRow("decode quoted-printable")
        << true << dec << qp << QByteArray(MIMECodec::encodeQuotedPrintable(QCString(text), false, false));
}

// The streamed, chunked codecs give byte for byte what one-shot encode/decode give.
void tst_Tool::codec()
{
    QFETCH(bool, viaStdin);
    QFETCH(QString, command);
    QFETCH(QString, encoding);
    QFETCH(QByteArray, input);
    const QByteArray e = encoding.toLower().toLatin1();
    const bool encode = command == "encode"_L1;
    QByteArray expected = encode ? MIMECodec::encode(input, e.constData(), false) : MIMECodec::decode(input, e.constData());
    if (e.startsWith("quoted-printable") || (e == "base64" && encode))
        expected.chop(1);  // the NUL the library counts
    const Run r = run({command, u"--encoding"_s, encoding, viaStdin ? u"-"_s : file(u"input"_s, input)},
                      viaStdin ? input : QByteArray());
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.rc, 0);
    QVERIFY2(r.out == expected, "the tool's output differs from the library's");
}

void tst_Tool::failures_data()
{
    QTest::addColumn<QString>("args");  // BOX: a folder that must not come to exist
    QTest::addColumn<int>("rc");
    QTest::addColumn<QString>("message");
    const QString ok = u"compose BOX --from a@x.org --to b@x.org --subject s"_s;
    QTest::newRow("compose: unknown option") << ok + u" --bogus"_s << 2 << u"unknown option --bogus"_s;
    QTest::newRow("compose: missing attachment")
        << ok + u" --attach /nonexistent/a.bin"_s << 1 << u"cannot open /nonexistent/a.bin"_s;
    QTest::newRow("thread: missing folder") << u"thread /nonexistent/box"_s << 1 << u"/nonexistent/box: no such folder"_s;
}

// Exit 2 for bad arguments, 1 for a failed operation; a message on stderr,
// nothing on stdout, nothing created.
void tst_Tool::failures()
{
    QFETCH(QString, args);
    QFETCH(int, rc);
    QFETCH(QString, message);
    const QString box = newFolder();
    const Run r = run(args.replace(u"BOX"_s, box).split(u' '), "YWJj");
    QCOMPARE(r.rc, rc);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.startsWith("orvane-mail: ") && r.err.contains(message.toUtf8()), r.err.constData());
    QVERIFY(!QFileInfo::exists(box));
}

void tst_Tool::compose_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<QByteArrayList>>("parts");  // type, media type, encoding, charset, name, content
    const QByteArray utf8 = "Grüße aus Köln — Привет\n", latin1 = "Caf\xE9 cr\xE8me\n", html = "<p>Hi <b>you</b></p>\n";
    const QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n", bin = randomBytes(8, 2000);
    // The charset is the narrowest that holds the text; the footer goes to
    // the last text part, here the HTML one.
    QTest::newRow("latin-1 text, html and attachments")
        << QStringList{u"--attach"_s, file(u"Zählerstand 2026.bin"_s, bin), u"--text"_s, file(u"l1.txt"_s, latin1),
                       u"--html"_s, file(u"page.html"_s, html), u"--attach"_s, file(u"report.pdf"_s, pdf)}
        << QList<QByteArrayList>{{"text", "text/plain", "quoted-printable", "iso-8859-1", "", latin1},
                           {"text", "text/html", "quoted-printable", "us-ascii", "", html + footer},
                           {"attachment", "application/octet-stream", "base64", "", "Zählerstand 2026.bin", bin},
                           {"attachment", "application/pdf", "base64", "", "report.pdf", pdf}};
    QTest::newRow("utf-8 text, an empty attachment stays an empty part")
        << QStringList{u"--text"_s, file(u"utf8.txt"_s, utf8), u"--attach"_s, file(u"empty.dat"_s, QByteArray())}
        << QList<QByteArrayList>{{"text", "text/plain", "quoted-printable", "utf-8", "", utf8 + footer},
                           {"attachment", "application/octet-stream", "base64", "", "empty.dat", ""}};
    QTest::newRow("no content: headers only") << QStringList() << QList<QByteArrayList>();
}

// A new folder holds the message as the sender's read copy, with the headers,
// parts and contents given; the tool prints its ID.
void tst_Tool::compose()
{
    QFETCH(QStringList, options);
    QFETCH(QList<QByteArrayList>, parts);
    const QString box = newFolder();
    const Run r = run(QStringList{u"compose"_s, box, u"--from"_s, u"a@x.org"_s, u"--to"_s, u"b@x.org"_s, u"--subject"_s,
                                  u"Zählerstand €"_s, u"--to"_s, u"Bea <b@example.org>"_s, u"--cc"_s, u"c@example.org"_s}
                      + options);
    QVERIFY2(r.rc == 0, r.err.constData());
    const QString id = QString::fromUtf8(r.out.trimmed());
    LocalMailFolder folder(box);
    QCOMPARE(QList<int>({folder.getMessageCount(), int(folder.getUnread())}), QList<int>({1, 0}));
    QVERIFY(folder.indexIDict()->find(id));
    MessageDevice dev(folder.indexIDict()->find(id));
    dev.loadDescriptor(false);
    const MessageDescriptor& d = dev.getDescriptor();
    QCOMPARE(QStringList({d.subject, d.status, d.to.join(u','), d.cc.join(u',')}),
             QStringList({u"Zählerstand €"_s, u"Read"_s, u"b@x.org,Bea <b@example.org>"_s, u"c@example.org"_s}));
    QVERIFY(!d.sentDate.isEmpty());
    QCOMPARE(dev.getPartCount(), parts.size());
    for (int i = 0; i < parts.size(); ++i) {
        const MimePart* p = dev[i];
        QByteArray data;
        if (parts[i].last().isEmpty())
            QTest::ignoreMessage(QtDebugMsg, "messagedevice: empty part");
        QVERIFY(dev.getPartData(i, data));
        if (p->encoding != "base64" && data.endsWith('\0'))
            data.chop(1);
        QCOMPARE(QByteArrayList({p->type, p->mimetype, p->encoding, p->charset, p->name, data}), parts[i]);
    }
}

// The tool reads an mbox 4 MiB at a time: the second "From " line here
// straddles the end of the first read. The blank line before it is the
// format's, not the message's.
void tst_Tool::importMbox()
{
    const QByteArray one = "Subject: one\r\n\r\n" + QByteArray((4 << 20) - 30, 'a') + "\r\n";
    const QByteArray two = "Subject: two\r\n\r\nb\r\n";
    const QString box = newFolder();
    const Run r = run({u"import"_s, box, file(u"in.mbox"_s, "From - x\n" + one + "\nFrom - y\n" + two)});
    QVERIFY2(r.rc == 0, r.err.constData());
    QByteArrayList texts;
    LocalMailFolder folder(box);
    for (IndexClass* e : folder.indexIDict()->entries())
        texts << MessageDevice(e).rfc822Message();
    QCOMPARE(texts, QByteArrayList({one, two}));
}

QTEST_GUILESS_MAIN(tst_Tool)
#include "tst_tool.moc"
