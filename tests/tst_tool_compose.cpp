// orvane-mail compose, thread and show --html, run as a user would, with
// the results read back through the library.

#include <indexclass.h>
#include <localmailfolder.h>
#include <messagedevice.h>
#include <mimepart.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "toolrun.h"


// One expected part: type, media type, encoding, charset, name, content.
struct Expected {
    QByteArray type, mimetype, encoding, charset, name, content;
};
Q_DECLARE_METATYPE(QList<Expected>)

class tst_ToolCompose : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void compose_data();
    void compose();
    void badArguments_data();
    void badArguments();
    void thread();
    void showViews();

private:
    Run run(const QStringList& args);
    QString file(const QString& name, const QByteArray& data);
    QString newFolder() { return m_tmp.filePath(QStringLiteral("box%1").arg(++m_serial)); }
    QTemporaryDir m_tmp;
    QByteArray m_footer;
    int m_serial = 0;
};

void tst_ToolCompose::initTestCase()
{
    if (QByteArray(ORVANE_TOOL).isEmpty())
        QSKIP("the orvane-mail tool is not built");
    QVERIFY(m_tmp.isValid());
    // The tool reads its settings below tool-config (XDG_CONFIG_HOME); name
    // a footer file there that this test controls.
    const QString settings = m_tmp.filePath(QStringLiteral("tool-config"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
    const QByteArray footerBody = "-- \nfooter line\n";
    const QString footerFile = file(QStringLiteral("footer.txt"), footerBody);
    QSettings s(QSettings::UserScope, QStringLiteral("Norvatec"), QStringLiteral("Tovik"));
    // The key without and with the application's key base (the tool
    // initialises its application directories, which sets that base).
    s.setValue(QStringLiteral("/email/footerText"), footerFile);
    s.setValue(QStringLiteral("Orvane//email/footerText"), footerFile);
    s.sync();
    QCOMPARE(s.status(), QSettings::NoError);
    m_footer = "\n" + footerBody;
}

Run tst_ToolCompose::run(const QStringList& args)
{
    return runTool(args, m_tmp.filePath(QStringLiteral("tool-config")), QByteArray(), 120000);
}

QString tst_ToolCompose::file(const QString& name, const QByteArray& data)
{
    return writeTestFile(m_tmp.filePath(name), data);
}

void tst_ToolCompose::compose_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<Expected>>("parts");

    const QByteArray ascii = "Hello,\nsee the attachment.\n";
    const QByteArray utf8 = "Grüße aus Köln — Привет\n";
    const QByteArray latin1 = "Caf\xE9 cr\xE8me\n";
    const QByteArray html = "<p>Hello <b>there</b></p>\n";
    QByteArray bin(2000, '\0');
    for (int i = 0; i < bin.size(); ++i)
        bin[i] = char(i % 7 == 0 ? 0xFF : (i * 31) & 0xFF);
    const QString asciiFile = file(QStringLiteral("ascii.txt"), ascii);
    const QString utf8File = file(QStringLiteral("utf8.txt"), utf8);
    const QString latin1File = file(QStringLiteral("latin1.txt"), latin1);
    const QString htmlFile = file(QStringLiteral("page.html"), html);
    const QString binFile = file(QStringLiteral("Zählerstand 2026.bin"), bin);
    const QString pdfFile = file(QStringLiteral("report.pdf"), "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n");
    const QString emptyFile = file(QStringLiteral("empty.dat"), QByteArray());

    QTest::newRow("text only: one part, no footer")
        << QStringList{QStringLiteral("--text"), asciiFile}
        << QList<Expected>{{"text", "text/plain", "quoted-printable", "us-ascii", "", ascii}};
    QTest::newRow("utf-8 text")
        << QStringList{QStringLiteral("--text"), utf8File}
        << QList<Expected>{{"text", "text/plain", "quoted-printable", "utf-8", "", utf8}};
    QTest::newRow("latin-1 text")
        << QStringList{QStringLiteral("--text"), latin1File}
        << QList<Expected>{{"text", "text/plain", "quoted-printable", "iso-8859-1", "", latin1}};
    QTest::newRow("text, html and attachments: the footer goes to the html part")
        << QStringList{QStringLiteral("--attach"), binFile, QStringLiteral("--text"), utf8File,
                       QStringLiteral("--html"), htmlFile, QStringLiteral("--attach"), pdfFile}
        << QList<Expected>{{"text", "text/plain", "quoted-printable", "utf-8", "", utf8},
                           {"text", "text/html", "quoted-printable", "us-ascii", "", html + m_footer},
                           {"attachment", "application/octet-stream", "base64", "",
                            "Zählerstand 2026.bin", bin},
                           {"attachment", "application/pdf", "base64", "", "report.pdf",
                            "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n"}};
    QTest::newRow("attachment only")
        << QStringList{QStringLiteral("--attach"), binFile}
        << QList<Expected>{{"attachment", "application/octet-stream", "base64", "",
                            "Zählerstand 2026.bin", bin}};
    QTest::newRow("an empty attachment stays an empty part")
        << QStringList{QStringLiteral("--text"), asciiFile, QStringLiteral("--attach"), emptyFile}
        << QList<Expected>{{"text", "text/plain", "quoted-printable", "us-ascii", "", ascii + m_footer},
                           {"attachment", "application/octet-stream", "base64", "", "empty.dat", ""}};
    QTest::newRow("no content: headers only") << QStringList() << QList<Expected>();
}

void tst_ToolCompose::compose()
{
    QFETCH(QStringList, options);
    QFETCH(QList<Expected>, parts);
    const QString folderPath = newFolder();  // created by the tool
    const Run r = run(QStringList{QStringLiteral("compose"), folderPath,
                                  QStringLiteral("--from"), QStringLiteral("Jörg <joerg@example.de>"),
                                  QStringLiteral("--to"), QStringLiteral("a@example.org"),
                                  QStringLiteral("--to"), QStringLiteral("Bea <b@example.org>"),
                                  QStringLiteral("--cc"), QStringLiteral("c@example.org"),
                                  QStringLiteral("--subject"), QStringLiteral("Zählerstand €")}
                      + options);
    QVERIFY2(r.rc == 0, r.err.constData());
    const QString id = QString::fromUtf8(r.out.trimmed());
    QVERIFY(QRegularExpression(QStringLiteral("^\\{[0-9a-f-]{36}\\}$")).match(id).hasMatch());

    LocalMailFolder folder(folderPath);
    QCOMPARE(folder.getMessageCount(), 1);
    QCOMPARE(folder.getUnread(), 0u);
    IndexClass* e = folder.indexIDict()->find(id);
    QVERIFY(e);
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    const MessageDescriptor& d = dev.getDescriptor();
    QCOMPARE(d.subject, QStringLiteral("Zählerstand €"));
    QCOMPARE(d.to, (QStringList{QStringLiteral("a@example.org"), QStringLiteral("Bea <b@example.org>")}));
    QCOMPARE(d.cc, QStringList{QStringLiteral("c@example.org")});
    QVERIFY(!d.sentDate.isEmpty());
    QCOMPARE(d.status, QStringLiteral("Read"));

    const QCString text = dev.rfc822Message();
    QVERIFY(text.startsWith("Date: "));
    QVERIFY(text.contains("\nSubject: =?utf-8?B?"));
    QVERIFY(text.contains("\nMessage-ID: <" + d.messageID.toLatin1() + ">\n"));
    if (parts.isEmpty())
        QVERIFY(text.endsWith("MIME-Version: 1.0\n"));

    QCOMPARE(dev.getPartCount(), parts.size());
    for (int i = 0; i < parts.size(); ++i) {
        const MimePart* p = dev[i];
        QCOMPARE(p->type, QCString(parts[i].type));
        QCOMPARE(p->mimetype, QCString(parts[i].mimetype));
        QCOMPARE(p->encoding, QCString(parts[i].encoding));
        QCOMPARE(p->charset, QCString(parts[i].charset));
        QCOMPARE(p->name, QCString(parts[i].name));
        QByteArray data;
        if (parts[i].content.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, "messagedevice: empty part");
        QVERIFY(dev.getPartData(i, data));
        if (p->encoding != "base64" && data.endsWith('\0'))
            data.chop(1);
        QCOMPARE(data, parts[i].content);
    }
}

void tst_ToolCompose::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("rc");
    const QString f = QStringLiteral("@FOLDER@");
    const QString from = QStringLiteral("--from"), to = QStringLiteral("--to"), subj = QStringLiteral("--subject");
    QTest::newRow("no --from") << QStringList{QStringLiteral("compose"), f, to, QStringLiteral("b@x.org"), subj, QStringLiteral("s")} << 2;
    QTest::newRow("no --to") << QStringList{QStringLiteral("compose"), f, from, QStringLiteral("a@x.org"), subj, QStringLiteral("s")} << 2;
    QTest::newRow("no --subject") << QStringList{QStringLiteral("compose"), f, from, QStringLiteral("a@x.org"), to, QStringLiteral("b@x.org")} << 2;
    QTest::newRow("--to without a value") << QStringList{QStringLiteral("compose"), f, from, QStringLiteral("a@x.org"), subj, QStringLiteral("s"), to} << 2;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("compose"), f, from, QStringLiteral("a@x.org"), to, QStringLiteral("b@x.org"), subj, QStringLiteral("s"), QStringLiteral("--bogus")} << 2;
    QTest::newRow("no folder") << QStringList{QStringLiteral("compose"), from, QStringLiteral("a@x.org"), to, QStringLiteral("b@x.org"), subj, QStringLiteral("s")} << 2;
    QTest::newRow("missing text file") << QStringList{QStringLiteral("compose"), f, from, QStringLiteral("a@x.org"), to, QStringLiteral("b@x.org"), subj, QStringLiteral("s"), QStringLiteral("--text"), QStringLiteral("/nonexistent/body.txt")} << 1;
    QTest::newRow("missing attachment") << QStringList{QStringLiteral("compose"), f, from, QStringLiteral("a@x.org"), to, QStringLiteral("b@x.org"), subj, QStringLiteral("s"), QStringLiteral("--attach"), QStringLiteral("/nonexistent/a.bin")} << 1;
    QTest::newRow("thread: no folder") << QStringList{QStringLiteral("thread")} << 2;
    QTest::newRow("thread: missing folder") << QStringList{QStringLiteral("thread"), QStringLiteral("/nonexistent/box")} << 1;
}

void tst_ToolCompose::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(int, rc);
    const QString folderPath = newFolder();
    args.replaceInStrings(QStringLiteral("@FOLDER@"), folderPath);
    const Run r = run(args);
    QCOMPARE(r.rc, rc);
    QVERIFY(r.out.isEmpty());
    QVERIFY(!r.err.isEmpty());
    // Nothing was created.
    QVERIFY(!QDir(folderPath).exists());
}

void tst_ToolCompose::thread()
{
    const QString box = newFolder();
    const QString body = file(QStringLiteral("t.txt"), "text\n");
    auto compose = [&](const QString& subject, const QStringList& extra) {
        const Run r = run(QStringList{QStringLiteral("compose"), box, QStringLiteral("--from"),
                                      QStringLiteral("a@x.org"), QStringLiteral("--to"), QStringLiteral("b@x.org"),
                                      QStringLiteral("--subject"), subject, QStringLiteral("--text"), body}
                          + extra);
        return r.rc == 0 ? QString::fromLatin1(r.out.trimmed()) : QString();
    };
    auto messageID = [&](const QString& id) {
        LocalMailFolder f(box);
        MessageDevice dev(f.indexIDict()->find(id));
        dev.loadDescriptor(false);
        return dev.getDescriptor().messageID;
    };
    const QString root = compose(QStringLiteral("Plan"), {});
    QVERIFY(!root.isEmpty());
    // Composed out of order: a reply stored before the message it answers
    // is still linked.
    const QString lateParentID = compose(QStringLiteral("Re: Plan, answering a later message"), {});
    const QString other = compose(QStringLiteral("Other topic"), {});
    const QString r1 = compose(QStringLiteral("Re: Plan"),
                               {QStringLiteral("--in-reply-to"), messageID(root)});
    const QString r2 = compose(QStringLiteral("Re: Re: Plan"),
                               {QStringLiteral("--in-reply-to"), messageID(r1), QStringLiteral("--reference"),
                                messageID(root)});
    // References only: the first one known in the folder wins.
    const QString r3 = compose(QStringLiteral("Plan, by references"),
                               {QStringLiteral("--reference"), QStringLiteral("unknown@elsewhere"),
                                QStringLiteral("--reference"), messageID(r1), QStringLiteral("--reference"),
                                messageID(root)});
    const QString r4 = compose(QStringLiteral("Re: Other topic"),
                               {QStringLiteral("--in-reply-to"), QStringLiteral("gone@elsewhere"),
                                QStringLiteral("--reference"), messageID(other)});
    QVERIFY(!r4.isEmpty());
    {
        // Make the second message answer the fourth (stored after it).
        LocalMailFolder f(box);
        IndexClass* e = f.indexIDict()->find(lateParentID);
        MessageDevice dev(e);
        dev.loadDescriptor(false);
        dev.getDescriptor().inReplyTo = messageID(r1);
        dev.saveDescriptor();
    }

    const QByteArray tree = "Plan  " + root.toLatin1() + "\n"
        "  Re: Plan  " + r1.toLatin1() + "\n"
        "    Re: Plan, answering a later message  " + lateParentID.toLatin1() + "\n"
        "    Re: Re: Plan  " + r2.toLatin1() + "\n"
        "    Plan, by references  " + r3.toLatin1() + "\n"
        "Other topic  " + other.toLatin1() + "\n"
        "  Re: Other topic  " + r4.toLatin1() + "\n";
    Run r = run({QStringLiteral("thread"), box});
    QVERIFY2(r.rc == 0, r.err.constData());
    QCOMPARE(r.out, tree + "7 messages in 2 threads, 5 replies newly linked\n");
    // A second run finds everything linked and changes nothing.
    const qint64 descriptorSize = QFileInfo(box + QLatin1String("/descriptor")).size();
    r = run({QStringLiteral("thread"), box});
    QCOMPARE(r.rc, 0);
    QCOMPARE(r.out, tree + "7 messages in 2 threads, 0 replies newly linked\n");
    QCOMPARE(QFileInfo(box + QLatin1String("/descriptor")).size(), descriptorSize);

    // The links are in the store: the child's entry and descriptor name the
    // parent, the parent's descriptor lists the child.
    LocalMailFolder f(box);
    IndexClass* child = f.indexIDict()->find(r2);
    QCOMPARE(child->getParentID(), r1);
    MessageDevice cd(child);
    cd.loadDescriptor(false);
    QCOMPARE(cd.getDescriptor().parentIndexID, r1);
    MessageDevice pd(f.indexIDict()->find(r1));
    pd.loadDescriptor(false);
    QVERIFY(pd.getDescriptor().relatedIndexIDList.contains(r2));
    QVERIFY(pd.getDescriptor().references.contains(messageID(r2)));
}

void tst_ToolCompose::showViews()
{
    const QString box = newFolder();
    const QString text = file(QStringLiteral("v.txt"), "plain <body> & more\n");
    const QString html = file(QStringLiteral("v.html"), "<p>rich body</p>\n");
    auto compose = [&](const QStringList& content) {
        const Run r = run(QStringList{QStringLiteral("compose"), box, QStringLiteral("--from"),
                                      QStringLiteral("a@x.org"), QStringLiteral("--to"), QStringLiteral("b@x.org"),
                                      QStringLiteral("--subject"), QStringLiteral("views")}
                          + content);
        return QString::fromLatin1(r.out.trimmed());
    };
    const QString both = compose({QStringLiteral("--text"), text, QStringLiteral("--html"), html});
    const QString plainOnly = compose({QStringLiteral("--text"), text});
    const QString htmlOnly = compose({QStringLiteral("--html"), html});

    auto body = [&](const QString& id, bool asHtml) {
        QStringList args{QStringLiteral("show"), box, id};
        if (asHtml)
            args << QStringLiteral("--html");
        const Run r = run(args);
        const qsizetype blank = r.out.indexOf("\n\n");
        return r.rc == 0 && blank >= 0 ? r.out.mid(blank + 2) : QByteArray("(failed)");
    };
    QCOMPARE(body(both, false), QByteArray("plain <body> & more\n\n"));
    QCOMPARE(body(both, true), "<p>rich body</p>\n" + m_footer + "\n");
    // Plain text in the HTML view is escaped, its line ends visible.
    QCOMPARE(body(plainOnly, true), QByteArray("plain &lt;body&gt; &amp; more<br>\n\n"));
    QCOMPARE(body(plainOnly, false), QByteArray("plain <body> & more\n\n"));
    // An HTML-only message still shows its body without --html.
    QCOMPARE(body(htmlOnly, false), QByteArray("<p>rich body</p>\n\n"));
}

QTEST_GUILESS_MAIN(tst_ToolCompose)
#include "tst_tool_compose.moc"
