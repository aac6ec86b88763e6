// The SMTP sender against a scripted peer in this process: the dialogue on
// the wire, transparency, refused input, and every way a server can
// misbehave (split replies, multi-line replies, 4xx/5xx, closing, silence).
// Also the wire helpers on their own.

#include <smtp.h>
#include <smtp_p.h>

#include "smtp/scriptedserver.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextCodec>
#include <QTimer>

#include <memory>

using namespace Orvane;

namespace {

// The steps of the dialogue and the well-behaved server's reply to each;
// some multi-line.
enum PeerStage { Greeting, Helo, Mail, Rcpt, Data, Body, Quit, StageCount };
const char* const Steps[StageCount] = {"greeting", "helo", "mail", "rcpt", "data", "body", "quit"};
const char* const GoodReplies[StageCount] = {
    "220-peer.test ESMTP\r\n220-second line\r\n220 ready\r\n",
    "250 peer.test\r\n",
    "250-first\r\n250 2.1.0 Ok\r\n",
    "250 2.1.5 Ok\r\n",
    "354 End data with <CR><LF>.<CR><LF>\r\n",
    "250 2.0.0 Ok: queued\r\n",
    "221 2.0.0 Bye\r\n",
};

// The scripted server with the replies above.
struct ScriptedPeer : ScriptedServer {
    ScriptedPeer()
    {
        for (int i = 0; i < StageCount; ++i)
            replies[Steps[i]] = GoodReplies[i];
    }
};

// One sender run from construction to deletion, with what it reported.
struct Run {
    QStringList statuses;
    int finishedCount = 0;
    bool ok = false;
    QString errorText;
    Smtp::Error error = Smtp::NoError;
    bool destroyed = false;
};

void watch(Smtp* smtp, Run* run)
{
    QObject::connect(smtp, &Smtp::status, [run](const QString& t) { run->statuses << t; });
    QObject::connect(smtp, &Smtp::finished, [smtp, run](bool ok, const QString& text) {
        ++run->finishedCount;
        run->ok = ok;
        run->errorText = text;
        run->error = smtp->error();
    });
    QObject::connect(smtp, &QObject::destroyed, [run] { run->destroyed = true; });
}

template<typename Message>
Run send(const QString& server, const Message& message, int timeoutMs = 0,
         const QString& from = QStringLiteral("ana@example.org"),
         const QString& to = QStringLiteral("luis@example.net"))
{
    Run run;
    auto* smtp = new Smtp(from, to, message, server);
    watch(smtp, &run);
    if (timeoutMs > 0) {
        for (int s = Smtp::LookupStage; s <= Smtp::QuitStage; ++s)
            smtp->setTimeout(Smtp::Stage(s), timeoutMs);
    }
    // A real event loop (not a polling wait), so the dialogue runs at
    // full speed; the guard ends a run that never finishes.
    QEventLoop loop;
    QObject::connect(smtp, &QObject::destroyed, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    if (!run.destroyed)
        loop.exec();
    return run;
}

QByteArray dialogue(const QByteArray& body)
{
    return "HELO example.org\r\nMAIL FROM: <ana@example.org>\r\nRCPT TO: <luis@example.net>\r\nDATA\r\n"
        + body + "QUIT\r\n";
}

const QString Connected = QStringLiteral("Conectado a 127.0.0.1");
const QString Completed = QString::fromUtf8("Envío completado");

} // namespace

class tst_Smtp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void dataBlock_data();
    void dataBlock();
    void messageBytes_data();
    void messageBytes();
    void addresses_data();
    void addresses();
    void servers_data();
    void servers();
    void replyReaderSplits_data();
    void replyReaderSplits();
    void replyReaderLimits();

    void splitReplies_data();
    void splitReplies();
    void transparencyOnWire_data();
    void transparencyOnWire();
    void hostile_data();
    void hostile();
    void refusedInput_data();
    void refusedInput();
    void hostNotFound();
    void timeouts();
    void stalledText();
    void headlessWarning();
};

void tst_Smtp::initTestCase()
{
    // The headless stand-in for the warning box logs every unexpected
    // reply; the hostile rows check its text through status instead.
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.warning=false"));
}

void tst_Smtp::dataBlock_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("empty") << QByteArray("") << QByteArray(".\r\n");
    QTest::newRow("crlf text") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n.\r\n");
    QTest::newRow("bare lf") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n.\r\n");
    QTest::newRow("no final line end") << QByteArray("a\r\nb") << QByteArray("a\r\nb\r\n.\r\n");
    QTest::newRow("lone dot line") << QByteArray("a\n.\nb\n") << QByteArray("a\r\n..\r\nb\r\n.\r\n");
    QTest::newRow("leading dot first line") << QByteArray(".x") << QByteArray("..x\r\n.\r\n");
    QTest::newRow("dots") << QByteArray("..\r\n...\r\n") << QByteArray("...\r\n....\r\n.\r\n");
    QTest::newRow("dot inside line") << QByteArray("a.b\n. c\n") << QByteArray("a.b\r\n.. c\r\n.\r\n");
    QTest::newRow("terminator in text") << QByteArray("x\r\n.\r\nRSET\r\n")
                                        << QByteArray("x\r\n..\r\nRSET\r\n.\r\n");
    QTest::newRow("mixed ends") << QByteArray("a\r\nb\nc\r\n") << QByteArray("a\r\nb\r\nc\r\n.\r\n");
    QTest::newRow("bare cr kept") << QByteArray("a\rb\r") << QByteArray("a\rb\r\r\n.\r\n");
    QTest::newRow("cr cr lf") << QByteArray("a\r\r\n") << QByteArray("a\r\r\n.\r\n");
    QTest::newRow("lf only") << QByteArray("\n") << QByteArray("\r\n.\r\n");
    QTest::newRow("8-bit and nul") << QByteArray("\xff\0\x80\n", 4) << QByteArray("\xff\0\x80\r\n.\r\n", 8);
}

void tst_Smtp::dataBlock()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, wire);
    QCOMPARE(SmtpWire::dataBlock(text), wire);
}

void tst_Smtp::messageBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("localeCodec");
    QTest::newRow("ascii") << QStringLiteral("Hola\n") << QByteArray("Hola\n") << QByteArray();
    QTest::newRow("latin-1") << QString::fromLatin1("Se\xf1or \xff\x80") << QByteArray("Se\xf1or \xff\x80")
                             << QByteArray();
    QTest::newRow("latin-1 under koi8-r") << QString::fromLatin1("\xe1\xe9\xf1") << QByteArray("\xe1\xe9\xf1")
                                          << QByteArray("KOI8-R");
    QTest::newRow("beyond latin-1: utf-8") << QString::fromUtf8("\xe2\x82\xac y \xc3\xb1")
                                           << QByteArray("\xe2\x82\xac y \xc3\xb1") << QByteArray();
    QTest::newRow("utf-8 under iso-8859-1") << QString::fromUtf8("\xd0\x96")
                                            << QByteArray("\xd0\x96") << QByteArray("ISO-8859-1");
}

void tst_Smtp::messageBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, localeCodec);
    QTextCodec* before = QTextCodec::codecForLocale();
    if (!localeCodec.isEmpty())
        QTextCodec::setCodecForLocale(QTextCodec::codecForName(localeCodec));
    const QByteArray got = SmtpWire::messageBytes(text);
    QTextCodec::setCodecForLocale(before);
    QCOMPARE(got, bytes);
}

void tst_Smtp::addresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << QStringLiteral("ana@example.org") << true;
    QTest::newRow("dots and plus") << QStringLiteral("a.b+c@mail.example.org") << true;
    QTest::newRow("domain literal") << QStringLiteral("a@[127.0.0.1]") << true;
    QTest::newRow("no at") << QStringLiteral("ana") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("empty local") << QStringLiteral("@example.org") << false;
    QTest::newRow("empty domain") << QStringLiteral("ana@") << false;
    QTest::newRow("two ats") << QStringLiteral("a@b@c") << false;
    QTest::newRow("crlf injection") << QStringLiteral("a@b>\r\nRCPT TO: <x@y") << false;
    QTest::newRow("lf") << QStringLiteral("a@b\n") << false;
    QTest::newRow("cr") << QStringLiteral("a@b\r") << false;
    QTest::newRow("nul") << QString(QStringLiteral("a@b") + QChar(0)) << false;
    QTest::newRow("space") << QStringLiteral("a b@c") << false;
    QTest::newRow("angle") << QStringLiteral("a@b>") << false;
    QTest::newRow("tab") << QStringLiteral("a@\tb") << false;
    QTest::newRow("non-ascii") << QString::fromUtf8("jos\xc3\xa9@example.org") << false;
    QTest::newRow("del") << QString(QStringLiteral("a@b") + QChar(0x7f)) << false;
}

void tst_Smtp::addresses()
{
    QFETCH(QString, address);
    QFETCH(bool, valid);
    QCOMPARE(SmtpWire::isValidAddress(address), valid);
}

void tst_Smtp::servers_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("name") << QStringLiteral("mail.example.org") << true << QStringLiteral("mail.example.org") << 25;
    QTest::newRow("name:port") << QStringLiteral("relay:2525") << true << QStringLiteral("relay") << 2525;
    QTest::newRow("v4:port") << QStringLiteral("127.0.0.1:1") << true << QStringLiteral("127.0.0.1") << 1;
    QTest::newRow("bare v6") << QStringLiteral("::1") << true << QStringLiteral("::1") << 25;
    QTest::newRow("[v6]:port") << QStringLiteral("[::1]:587") << true << QStringLiteral("::1") << 587;
    QTest::newRow("[v6]") << QStringLiteral("[::1]") << true << QStringLiteral("::1") << 25;
    QTest::newRow("port 65535") << QStringLiteral("h:65535") << true << QStringLiteral("h") << 65535;
    QTest::newRow("port 0") << QStringLiteral("h:0") << false << QString() << 0;
    QTest::newRow("port too big") << QStringLiteral("h:65536") << false << QString() << 0;
    QTest::newRow("port long") << QStringLiteral("h:0000025") << false << QString() << 0;
    QTest::newRow("port empty") << QStringLiteral("h:") << false << QString() << 0;
    QTest::newRow("port text") << QStringLiteral("h:smtp") << false << QString() << 0;
    QTest::newRow("no host") << QStringLiteral(":25") << false << QString() << 0;
    QTest::newRow("bad bracket") << QStringLiteral("[::1") << false << QString() << 0;
    QTest::newRow("bracket junk") << QStringLiteral("[::1]x") << false << QString() << 0;
}

void tst_Smtp::servers()
{
    QFETCH(QString, server);
    QFETCH(bool, valid);
    QFETCH(QString, host);
    QFETCH(int, port);
    QString gotHost;
    quint16 gotPort = 0;
    QCOMPARE(SmtpWire::splitServer(server, &gotHost, &gotPort), valid);
    if (valid) {
        QCOMPARE(gotHost, host);
        QCOMPARE(int(gotPort), port);
    }
}

void tst_Smtp::replyReaderSplits_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QList<int>>("codes");
    QTest::newRow("single") << QByteArray("220 hi\r\n") << QList<QByteArray>{"220 hi\r\n"} << QList<int>{220};
    QTest::newRow("multi-line then single")
        << QByteArray("250-a\r\n250-b\r\n250 c\r\n354 go\r\n")
        << QList<QByteArray>{"250-a\r\n250-b\r\n250 c\r\n", "354 go\r\n"} << QList<int>{250, 354};
    QTest::newRow("code only, bare lf") << QByteArray("250\n221\r\n")
                                        << QList<QByteArray>{"250\n", "221\r\n"} << QList<int>{250, 221};
    QTest::newRow("continuation code differs")
        << QByteArray("220-x\r\n550 no\r\n") << QList<QByteArray>{"220-x\r\n550 no\r\n"} << QList<int>{550};
    QTest::newRow("garbage lines") << QByteArray("hello\r\n2\r\n25x ok\r\n")
                                   << QList<QByteArray>{"hello\r\n", "2\r\n", "25x ok\r\n"} << QList<int>{-1, -1, -1};
}

void tst_Smtp::replyReaderSplits()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QList<int>, codes);
    auto drain = [](SmtpWire::ReplyReader& r, QList<QByteArray>* texts, QList<int>* got) {
        QByteArray t;
        int c = 0;
        while (r.next(&t, &c) == SmtpWire::ReplyReader::Reply) {
            *texts << t;
            *got << c;
        }
    };
    // Cut at every byte position, and one byte at a time.
    for (int cut = 0; cut <= stream.size(); ++cut) {
        SmtpWire::ReplyReader r;
        QList<QByteArray> texts;
        QList<int> got;
        r.feed(stream.left(cut));
        drain(r, &texts, &got);
        r.feed(stream.mid(cut));
        drain(r, &texts, &got);
        QCOMPARE(texts, replies);
        QCOMPARE(got, codes);
    }
    SmtpWire::ReplyReader r;
    QList<QByteArray> texts;
    QList<int> got;
    for (char c : stream) {
        r.feed(QByteArray(1, c));
        drain(r, &texts, &got);
    }
    QCOMPARE(texts, replies);
    QCOMPARE(got, codes);
}

void tst_Smtp::replyReaderLimits()
{
    QByteArray t;
    int c = 0;
    SmtpWire::ReplyReader endless;
    endless.feed(QByteArray(SmtpWire::MaxReplyLine + 1, 'x'));
    QCOMPARE(endless.next(&t, &c), SmtpWire::ReplyReader::TooLong);

    SmtpWire::ReplyReader many;
    QByteArray lines;
    while (lines.size() <= SmtpWire::MaxReply)
        lines += "250-continuation line\r\n";
    many.feed(lines);
    QCOMPARE(many.next(&t, &c), SmtpWire::ReplyReader::TooLong);

    // Many short replies in one piece: all taken, in order.
    SmtpWire::ReplyReader burst;
    QByteArray replies;
    for (int i = 0; i < 20000; ++i)
        replies += "250 ok\r\n";
    burst.feed(replies);
    int n = 0;
    while (burst.next(&t, &c) == SmtpWire::ReplyReader::Reply)
        ++n;
    QCOMPARE(n, 20000);
}

void tst_Smtp::splitReplies_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("cut");  // 0: in one piece; -1: every reply byte by byte
    QTest::newRow("whole replies") << 0 << 0;
    QTest::newRow("byte by byte") << 0 << -1;
    for (int s = 0; s < StageCount; ++s) {
        for (int cut = 1; cut < int(qstrlen(GoodReplies[s])); ++cut)
            QTest::addRow("stage %d cut %d", s, cut) << s << cut;
    }
}

void tst_Smtp::splitReplies()
{
    QFETCH(int, stage);
    QFETCH(int, cut);
    ScriptedPeer peer;
    peer.splitStep = Steps[stage];
    peer.splitAt = cut;
    peer.oneByte = cut < 0;
    const Run run = send(peer.address(), QByteArray("Subject: x\r\n\r\nHola\r\n"));
    QCOMPARE(run.finishedCount, 1);
    QVERIFY(run.ok);
    QCOMPARE(run.error, Smtp::NoError);
    QCOMPARE(run.errorText, QString());
    QCOMPARE(run.statuses, (QStringList{Connected, Completed}));
    QCOMPARE(peer.received, dialogue("Subject: x\r\n\r\nHola\r\n.\r\n"));
    QCOMPARE(peer.connections, 1);
}

void tst_Smtp::transparencyOnWire_data()
{
    QTest::addColumn<bool>("asBytes");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("body");
    const QByteArray composed("Subject: dots\n\n.hidden\n.\nQUIT\nend");
    const QByteArray wire("Subject: dots\r\n\r\n..hidden\r\n..\r\nQUIT\r\nend\r\n.\r\n");
    QTest::newRow("bytes") << true << composed << wire;
    QTest::newRow("latin-1 text") << false << composed << wire;
    QTest::newRow("8-bit bytes") << true << QByteArray("\xf1\xff\n.\xe9\n") << QByteArray("\xf1\xff\r\n..\xe9\r\n.\r\n");
    QTest::newRow("8-bit latin-1 text") << false << QByteArray("\xf1\xff\n.\xe9\n")
                                        << QByteArray("\xf1\xff\r\n..\xe9\r\n.\r\n");
    QTest::newRow("empty") << true << QByteArray("") << QByteArray(".\r\n");
}

void tst_Smtp::transparencyOnWire()
{
    QFETCH(bool, asBytes);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, body);
    ScriptedPeer peer;
    const Run run = asBytes ? send(peer.address(), text) : send(peer.address(), QString::fromLatin1(text));
    QVERIFY(run.ok);
    QCOMPARE(peer.received, dialogue(body));
}

void tst_Smtp::hostile_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<QByteArray>("reply");  // or "close" or "silent"
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("quitSent");

    const char* names[StageCount] = {"greeting", "helo", "mail", "rcpt", "data", "body", "quit"};
    for (int s = 0; s < StageCount; ++s) {
        const bool quit = s == Quit;
        const int failed = quit ? Smtp::NoError : Smtp::UnexpectedReply;
        QTest::addRow("%s 421", names[s]) << s << QByteArray("421 4.3.0 busy\r\n") << quit
                                          << failed << true;
        QTest::addRow("%s 554 multi-line", names[s])
            << s << QByteArray("554-5.7.1 no\r\n554 5.7.1 never\r\n") << quit << failed
            << true;
        QTest::addRow("%s close", names[s]) << s << QByteArray("close") << quit
                                            << int(quit ? Smtp::NoError : Smtp::ConnectionClosed) << false;
        QTest::addRow("%s silent", names[s]) << s << QByteArray("silent") << quit
                                             << int(quit ? Smtp::NoError : Smtp::Timeout) << false;
    }
    QTest::newRow("2xx where 3xx is due") << int(Data) << QByteArray("250 ok\r\n") << false
                                          << int(Smtp::UnexpectedReply) << true;
    QTest::newRow("3xx greeting") << int(Greeting) << QByteArray("354 what\r\n") << false
                                  << int(Smtp::UnexpectedReply) << true;
    QTest::newRow("garbage greeting") << int(Greeting) << QByteArray("hello there\r\n")
                                      << false << int(Smtp::UnexpectedReply) << true;
    QTest::newRow("code without digits") << int(Helo) << QByteArray("2xx ok\r\n") << false
                                         << int(Smtp::UnexpectedReply) << true;
    QTest::newRow("endless line") << int(Mail)
                                  << QByteArray(SmtpWire::MaxReplyLine + 10, '2') << false
                                  << int(Smtp::UnexpectedReply) << true;
    QTest::newRow("continuation only, then silence")
        << int(Rcpt) << QByteArray("250-part one\r\n250-part two\r\n") << false
        << int(Smtp::Timeout) << false;
}

void tst_Smtp::hostile()
{
    QFETCH(int, stage);
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    QFETCH(int, error);
    QFETCH(bool, quitSent);
    ScriptedPeer peer;
    peer.replies[Steps[stage]] = reply;
    // Silent rows wait for one short time-out; the others never reach it.
    const Run run = send(peer.address(), QByteArray("x\r\n"), 1000);
    QVERIFY(run.destroyed);
    QCOMPARE(run.finishedCount, 1);
    QCOMPARE(run.ok, ok);
    QCOMPARE(int(run.error), error);
    if (ok) {
        QVERIFY(run.errorText.isEmpty());
        QCOMPARE(run.statuses.last(), Completed);
    } else {
        QVERIFY(!run.errorText.isEmpty());
        QCOMPARE(run.statuses.last(), run.errorText);
        QVERIFY(!run.statuses.contains(Completed));
    }
    if (error == Smtp::UnexpectedReply) {
        const QString expected = QString::fromUtf8("Respuesta inesperada desde el servidor SMTP:\n\n")
            + QString::fromLatin1(reply.left(SmtpWire::MaxReplyLine));
        QVERIFY2(run.errorText.startsWith(expected.left(60)), qPrintable(run.errorText));
        if (reply.size() < SmtpWire::MaxReplyLine)
            QCOMPARE(run.errorText, expected);
    }
    if (error == Smtp::ConnectionClosed)
        QCOMPARE(run.errorText, QStringLiteral("Conexión cerrada por el servidor 127.0.0.1"));
    if (error == Smtp::Timeout)
        QCOMPARE(run.errorText, QStringLiteral("Tiempo de espera agotado con el servidor 127.0.0.1"));
    if (!ok)
        QCOMPARE(peer.received.endsWith("QUIT\r\n"), quitSent);
}

void tst_Smtp::refusedInput_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    const QString good = QStringLiteral("ana@example.org");
    QTest::newRow("from with crlf") << QStringLiteral("a@b>\r\nRCPT TO:<x@y") << good << QString()
                                    << int(Smtp::InvalidAddress)
                                    << QStringLiteral("Dirección de remitente no válida: a@b>??RCPT TO:<x@y");
    QTest::newRow("to with lf") << good << QStringLiteral("x@y\nDATA") << QString() << int(Smtp::InvalidAddress)
                                << QStringLiteral("Dirección de destinatario no válida: x@y?DATA");
    QTest::newRow("to with nul") << good << QString(QStringLiteral("x@y") + QChar(0)) << QString()
                                 << int(Smtp::InvalidAddress)
                                 << QStringLiteral("Dirección de destinatario no válida: x@y?");
    QTest::newRow("from without at") << QStringLiteral("ana") << good << QString() << int(Smtp::InvalidAddress)
                                     << QStringLiteral("Dirección de remitente no válida: ana");
    QTest::newRow("to without at") << good << QStringLiteral("example.net") << QString()
                                   << int(Smtp::InvalidAddress)
                                   << QStringLiteral("Dirección de destinatario no válida: example.net");
    QTest::newRow("bad port") << good << good << QStringLiteral("127.0.0.1:0") << int(Smtp::InvalidServer)
                              << QStringLiteral("Servidor de correo no válido: 127.0.0.1:0");
    QTest::newRow("no host") << good << good << QStringLiteral(":25") << int(Smtp::InvalidServer)
                             << QStringLiteral("Servidor de correo no válido: :25");
    QTest::newRow("connection refused") << good << good << QStringLiteral("closed") << int(Smtp::ConnectionRefused)
                                        << QStringLiteral("Conexión rechazada por 127.0.0.1");
}

void tst_Smtp::refusedInput()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, server);
    QFETCH(int, error);
    QFETCH(QString, text);
    ScriptedPeer peer;
    // The peer's own address stands in for "a server was given" where the
    // row has none, so a connection would show; "closed": a port nobody
    // listens on.
    if (server == QLatin1String("closed")) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        server = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
    }
    const Run run = send(server.isEmpty() ? peer.address() : server, QByteArray("x\r\n"), 0, from, to);
    QCOMPARE(run.finishedCount, 1);
    QVERIFY(!run.ok);
    QCOMPARE(int(run.error), error);
    QCOMPARE(run.errorText, text);
    QCOMPARE(run.statuses, QStringList{text});
    QTest::qWait(20);
    QCOMPARE(peer.connections, 0);
}

void tst_Smtp::hostNotFound()
{
    // ".invalid" never resolves (RFC 2606).
    const Run run = send(QStringLiteral("no-such-host.invalid"), QByteArray("x\r\n"), 10000);
    QCOMPARE(run.finishedCount, 1);
    QVERIFY(!run.ok);
    QVERIFY2(run.error == Smtp::HostNotFound || run.error == Smtp::Timeout, qPrintable(run.errorText));
    if (run.error == Smtp::HostNotFound)
        QCOMPARE(run.errorText, QStringLiteral("No se encuentra el servidor no-such-host.invalid"));
}

void tst_Smtp::timeouts()
{
    auto* smtp = new Smtp(QStringLiteral("a@b.c"), QStringLiteral("d@e.f"), QByteArray(), QStringLiteral("127.0.0.1:9"));
    QCOMPARE(smtp->mailServer(), QStringLiteral("127.0.0.1:9"));
    QCOMPARE(smtp->timeout(Smtp::GreetingStage), 5 * 60 * 1000);
    QCOMPARE(smtp->timeout(Smtp::DataStage), 2 * 60 * 1000);
    QCOMPARE(smtp->timeout(Smtp::DataBlockStage), 3 * 60 * 1000);
    QCOMPARE(smtp->timeout(Smtp::DataEndStage), 10 * 60 * 1000);
    smtp->setTimeout(Smtp::MailStage, 1234);
    QCOMPARE(smtp->timeout(Smtp::MailStage), 1234);
    smtp->setTimeout(Smtp::MailStage, 0);
    QCOMPARE(smtp->timeout(Smtp::MailStage), Smtp::defaultTimeout(Smtp::MailStage));
    // Deleted by its owner before it ran: no signal, nothing left behind.
    QSignalSpy finished(smtp, &Smtp::finished);
    delete smtp;
    QTest::qWait(10);
    QCOMPARE(finished.count(), 0);
}

void tst_Smtp::stalledText()
{
    // A server that stops reading in the middle of the text: the sender
    // gives up after the data-block time-out instead of waiting for ever.
    ScriptedPeer peer;
    peer.stallData = true;
    const Run run = send(peer.address(), QByteArray(32 * 1024 * 1024, 'x'), 1000);
    QCOMPARE(run.finishedCount, 1);
    QVERIFY(run.destroyed);
    QVERIFY(!run.ok);
    QCOMPARE(run.error, Smtp::Timeout);
}

void tst_Smtp::headlessWarning()
{
    // Without a widgets application the warning box's text goes to the log
    // (and to status, checked with the hostile rows).
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.warning=true"));
    QTest::ignoreMessage(QtWarningMsg, "Respuesta inesperada desde el servidor SMTP:\n\n550 no\r\n");
    ScriptedPeer peer;
    peer.replies["greeting"] = "550 no\r\n";
    const Run run = send(peer.address(), QByteArray("x\r\n"));
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.warning=false"));
    QCOMPARE(run.error, Smtp::UnexpectedReply);
    QCOMPARE(run.statuses, (QStringList{Connected, run.errorText}));
}

QTEST_GUILESS_MAIN(tst_Smtp)
#include "tst_smtp.moc"
