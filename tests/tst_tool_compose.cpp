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
    const QByteArray utf8 = "Grüße aus Köln — Привет\n", latin1 = "Caf\xE9 cr\xE8me\n", html = "<p>Hello <b>there</b></p>\n";
    const QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n";
    QByteArray bin(2000, '\0');
    for (int i = 0; i < bin.size(); ++i)
        bin[i] = char(i % 7 == 0 ? 0xFF : (i * 31) & 0xFF);
    // The charset is the narrowest that holds the text; the footer goes to
    // the last text part, here the HTML one.
    QTest::newRow("latin-1 text, html and attachments")
        << QStringList{QStringLiteral("--attach"), file(QStringLiteral("Zählerstand 2026.bin"), bin),
                       QStringLiteral("--text"), file(QStringLiteral("latin1.txt"), latin1),
                       QStringLiteral("--html"), file(QStringLiteral("page.html"), html),
                       QStringLiteral("--attach"), file(QStringLiteral("report.pdf"), pdf)}
        << QList<Expected>{{"text", "text/plain", "quoted-printable", "iso-8859-1", "", latin1},
                           {"text", "text/html", "quoted-printable", "us-ascii", "", html + m_footer},
                           {"attachment", "application/octet-stream", "base64", "", "Zählerstand 2026.bin", bin},
                           {"attachment", "application/pdf", "base64", "", "report.pdf", pdf}};
    QTest::newRow("utf-8 text, an empty attachment stays an empty part")
        << QStringList{QStringLiteral("--text"), file(QStringLiteral("utf8.txt"), utf8),
                       QStringLiteral("--attach"), file(QStringLiteral("empty.dat"), QByteArray())}
        << QList<Expected>{{"text", "text/plain", "quoted-printable", "utf-8", "", utf8 + m_footer},
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
    QCOMPARE(QList<int>({folder.getMessageCount(), int(folder.getUnread())}), QList<int>({1, 0}));
    MessageDevice dev(folder.indexIDict()->find(id));
    dev.loadDescriptor(false);
    const MessageDescriptor& d = dev.getDescriptor();
    QCOMPARE(QStringList({d.subject, d.status, d.to.join(QLatin1Char(',')), d.cc.join(QLatin1Char(','))}),
             QStringList({QStringLiteral("Zählerstand €"), QStringLiteral("Read"),
                          QStringLiteral("a@example.org,Bea <b@example.org>"), QStringLiteral("c@example.org")}));
    QVERIFY(!d.sentDate.isEmpty());
    const QCString text = dev.rfc822Message();
    QVERIFY(text.startsWith("Date: ") && text.contains("\nSubject: =?utf-8?B?"));
    QVERIFY(text.contains("\nMessage-ID: <" + d.messageID.toLatin1() + ">\n"));
    QVERIFY(!parts.isEmpty() || text.endsWith("MIME-Version: 1.0\n"));
    QCOMPARE(dev.getPartCount(), parts.size());
    for (int i = 0; i < parts.size(); ++i) {
        const MimePart* p = dev[i];
        const Expected& x = parts[i];
        QCOMPARE(QList<QCString>({p->type, p->mimetype, p->encoding, p->charset, p->name}),
                 QList<QCString>({x.type, x.mimetype, x.encoding, x.charset, x.name}));
        QByteArray data;
        if (x.content.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, "messagedevice: empty part");
        QVERIFY(dev.getPartData(i, data));
        if (p->encoding != "base64" && data.endsWith('\0'))
            data.chop(1);
        QCOMPARE(data, x.content);
    }
}

void tst_ToolCompose::badArguments_data()
{
    QTest::addColumn<QString>("args");  // "@" is the folder
    QTest::addColumn<int>("rc");
    const QString ok = QStringLiteral("compose @ --from a@x.org --to b@x.org --subject s");
    QTest::newRow("no --from") << "compose @ --to b@x.org --subject s" << 2;
    QTest::newRow("--to without a value") << "compose @ --from a@x.org --subject s --to" << 2;
    QTest::newRow("unknown option") << ok + QLatin1String(" --bogus") << 2;
    QTest::newRow("no folder") << "compose --from a@x.org --to b@x.org --subject s" << 2;
    QTest::newRow("missing attachment") << ok + QLatin1String(" --attach /nonexistent/a.bin") << 1;
    QTest::newRow("thread: missing folder") << "thread /nonexistent/box" << 1;
}

void tst_ToolCompose::badArguments()
{
    QFETCH(QString, args);
    QFETCH(int, rc);
    const QString folderPath = newFolder();
    const Run r = run(args.replace(QLatin1Char('@'), folderPath).split(QLatin1Char(' ')));
    QCOMPARE(r.rc, rc);
    QVERIFY(r.out.isEmpty() && !r.err.isEmpty());
    QVERIFY(!QDir(folderPath).exists());  // nothing was created
}

void tst_ToolCompose::thread()
{
    const QString box = newFolder(), body = file(QStringLiteral("t.txt"), "text\n");
    QStringList ids, messageIDs;
    // Each: subject, then --in-reply-to / --reference to earlier ones by index
    // (-1: an ID from elsewhere).
    const QList<QStringList> mails{{QStringLiteral("Plan")}, {QStringLiteral("Other topic")},
        {QStringLiteral("Re: Plan"), QStringLiteral("--in-reply-to"), QStringLiteral("0")},
        {QStringLiteral("Plan, by references"), QStringLiteral("--reference"), QStringLiteral("-1"),
         QStringLiteral("--reference"), QStringLiteral("2"), QStringLiteral("--reference"), QStringLiteral("0")},
        {QStringLiteral("Re: Other topic"), QStringLiteral("--in-reply-to"), QStringLiteral("-1"),
         QStringLiteral("--reference"), QStringLiteral("1")}};
    for (QStringList m : mails) {
        for (int i = 2; i < m.size(); i += 2)
            m[i] = m[i] == QLatin1String("-1") ? QStringLiteral("gone@elsewhere") : messageIDs[m[i].toInt()];
        const Run r = run(QStringList{QStringLiteral("compose"), box, QStringLiteral("--from"), QStringLiteral("a@x.org"),
                                      QStringLiteral("--to"), QStringLiteral("b@x.org"), QStringLiteral("--text"), body,
                                      QStringLiteral("--subject")} + m);
        QVERIFY2(r.rc == 0, r.err.constData());
        ids << QString::fromLatin1(r.out.trimmed());
        LocalMailFolder f(box);
        MessageDevice dev(f.indexIDict()->find(ids.last()));
        dev.loadDescriptor(false);
        messageIDs << dev.getDescriptor().messageID;
    }
    // References only: the first one known in the folder wins.
    const QByteArray tree = "Plan  " + ids[0].toLatin1() + "\n  Re: Plan  " + ids[2].toLatin1()
        + "\n    Plan, by references  " + ids[3].toLatin1() + "\nOther topic  " + ids[1].toLatin1()
        + "\n  Re: Other topic  " + ids[4].toLatin1() + "\n";
    Run r = run({QStringLiteral("thread"), box});
    QCOMPARE(r.out, tree + "5 messages in 2 threads, 3 replies newly linked\n");
    // A second run finds everything linked and changes nothing.
    const qint64 descriptorSize = QFileInfo(box + QLatin1String("/descriptor")).size();
    r = run({QStringLiteral("thread"), box});
    QCOMPARE(r.out, tree + "5 messages in 2 threads, 0 replies newly linked\n");
    QCOMPARE(QFileInfo(box + QLatin1String("/descriptor")).size(), descriptorSize);
    LocalMailFolder f(box);  // the links are in the store
    QCOMPARE(f.indexIDict()->find(ids[3])->getParentID(), ids[2]);
}

// The library's views, chosen by --html; details of the views are the
// library's tests.
void tst_ToolCompose::showViews()
{
    const QString box = newFolder();
    const QString text = file(QStringLiteral("v.txt"), "plain <body> & more\n");
    const QString html = file(QStringLiteral("v.html"), "<p>rich body</p>\n");
    auto show = [&](const QStringList& content, bool asHtml) {
        const Run c = run(QStringList{QStringLiteral("compose"), box, QStringLiteral("--from"), QStringLiteral("a@x.org"),
                                      QStringLiteral("--to"), QStringLiteral("b@x.org"), QStringLiteral("--subject"),
                                      QStringLiteral("views")} + content);
        QStringList args{QStringLiteral("show"), box, QString::fromLatin1(c.out.trimmed())};
        const Run r = run(asHtml ? args << QStringLiteral("--html") : args);
        const qsizetype blank = r.out.indexOf("\n\n");
        return r.rc == 0 && blank >= 0 ? r.out.mid(blank + 2) : QByteArray("(failed)");
    };
    const QStringList both{QStringLiteral("--text"), text, QStringLiteral("--html"), html};
    QCOMPARE(show(both, false), QByteArray("plain <body> & more\n\n"));
    QCOMPARE(show(both, true), "<p>rich body</p>\n" + m_footer + "\n");
    QCOMPARE(show({QStringLiteral("--html"), html}, false), QByteArray("<p>rich body</p>\n\n"));
}

QTEST_GUILESS_MAIN(tst_ToolCompose)
#include "tst_tool_compose.moc"
