// Both SMTP senders: the old one-message Smtp and the SmtpSubmission session.
// The wire helpers on their own; both senders against a scripted server in
// this process that splits, refuses, closes, stays silent at every stage and
// tries every downgrade; and against real peers (aiosmtpd over plain,
// STARTTLS and implicit TLS; dnsmasq answering MX queries; the send tool).

#include <smtp.h>
#include <smtp_p.h>
#include <smtpsubmission.h>

#include "smtp/peerprocess.h"
#include "smtp/scriptedserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#include <tuple>

#include <unistd.h>

using namespace Orvane;

namespace {

const QString User = QStringLiteral("submission-user-with-a-long-name@example.org");  // > 24 characters
const QString Secret = QStringLiteral("s3cret-pa55");
const QString From = QStringLiteral("ana@example.org");
const QString Connected = QStringLiteral("Conectado a 127.0.0.1");
const QString Completed = QString::fromUtf8("Envío completado");
QString T(const char* text) { return QString::fromUtf8(text); }

// The old sender's steps and a well-behaved server's replies, some multi-line.
enum PeerStage { Greeting, Helo, Mail, Rcpt, Data, Body, Quit, StageCount };
const char* const Steps[StageCount] = {"greeting", "helo", "mail", "rcpt", "data", "body", "quit"};
const char* const GoodReplies[StageCount] = {
    "220-peer.test ESMTP\r\n220-second line\r\n220 ready\r\n", "250 peer.test\r\n", "250-first\r\n250 2.1.0 Ok\r\n",
    "250 2.1.5 Ok\r\n", "354 End data with <CR><LF>.<CR><LF>\r\n", "250 2.0.0 Ok: queued\r\n", "221 2.0.0 Bye\r\n"};

struct OldPeer : ScriptedServer {
    OldPeer()
    {
        for (int i = 0; i < StageCount; ++i)
            replies[Steps[i]] = GoodReplies[i];
    }
};

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What either sender reported in one run: per message ok, text and error.
struct Outcome {
    QList<bool> ok;
    QStringList texts, statuses, refused;
    QList<int> errors;
    QMap<int, bool> okById;  // submission: messages are numbered from 1
    int session = -1;
    bool destroyed = false;
};

// The old sender from construction to its self-deletion, on a real event
// loop (so the dialogue runs at full speed); the guard ends a hung run.
template<typename Message>
Outcome send(const QString& server, const Message& message, int timeoutMs = 0, const QString& from = From,
             const QString& to = QStringLiteral("luis@example.net"), const QHostAddress& ns = QHostAddress())
{
    Outcome o;
    auto* smtp = new Smtp(from, to, message, server);
    if (!ns.isNull())
        smtp->setNameserver(ns);
    for (int s = Smtp::LookupStage; timeoutMs > 0 && s <= Smtp::QuitStage; ++s)
        smtp->setTimeout(Smtp::Stage(s), timeoutMs);
    QObject::connect(smtp, &Smtp::status, [&o](const QString& t) { o.statuses << t; });
    QObject::connect(smtp, &Smtp::finished, [smtp, &o](bool ok, const QString& text) {
        o.ok << ok;
        o.texts << text;
        o.errors << int(smtp->error());
    });
    QEventLoop loop;
    QObject::connect(smtp, &QObject::destroyed, &loop, [&] {
        o.destroyed = true;
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    return o;
}

// A submission session until sessionFinished.
Outcome run(SmtpSubmission& s, const QList<QStringList>& rcpts, const QList<QByteArray>& texts,
            const QString& from = From)
{
    Outcome o;
    QObject::connect(&s, &SmtpSubmission::status, [&o](const QString& t) { o.statuses << t; });
    QObject::connect(&s, &SmtpSubmission::recipientRefused,
                     [&o](int, const QString& a, const QString&) { o.refused << a; });
    QObject::connect(&s, &SmtpSubmission::finished, [&o, &s](int id, bool ok, const QString& t) {
        QVERIFY(!o.okById.contains(id));
        o.okById[id] = ok;
        o.ok << ok;
        o.texts << t;
        o.errors << int(s.lastError());
    });
    QEventLoop loop;
    QObject::connect(&s, &SmtpSubmission::sessionFinished, &loop, [&](SmtpSubmission::Error e) {
        o.session = int(e);
        loop.quit();
    });
    for (int i = 0; i < texts.size(); ++i)
        s.send(from, rcpts.value(i, rcpts.last()), texts[i]);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    s.disconnect();
    return o;
}

SmtpSettings settingsFor(quint16 port, SmtpSettings::Security security = SmtpSettings::StartTls,
                         const QString& user = User)
{
    SmtpSettings s;
    s.server = QStringLiteral("127.0.0.1");
    s.port = port;
    s.security = security;
    s.user = user;
    return s;
}

QByteArray oldDialogue(const QByteArray& body)
{
    return "HELO example.org\r\nMAIL FROM: <ana@example.org>\r\nRCPT TO: <luis@example.net>\r\nDATA\r\n" + body
        + "QUIT\r\n";
}

// What a server stores for a text sent with SMTP transparency: bare LF as
// CR LF, and a final CR LF when missing. Independent of the sender's code.
QByteArray stored(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i)
        out += text[i] == '\n' && (i == 0 || text[i - 1] != '\r') ? QByteArray("\r\n") : QByteArray(1, text[i]);
    return out.isEmpty() || out.endsWith("\r\n") ? out : out + "\r\n";
}

quint16 closedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

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
    void addressesAndServers();
    void replyReader_data();
    void replyReader();
    void replyReaderLimits();
    void oldDialogueOnWire_data();
    void oldDialogueOnWire();
    void oldHostile_data();
    void oldHostile();
    void refusedBeforeConnecting_data();
    void refusedBeforeConnecting();
    void oldHostNotFound();
    void oldTimeouts();
    void oldStalledText();
    void oldHeadlessWarning();
    void oldCorpus();
    void oldMxLookup();
    void submissionPeer_data();
    void submissionPeer();
    void submissionBatch();
    void tool_data();
    void tool();
    void submissionScripted_data();
    void submissionScripted();
    void submissionEveryStage_data();
    void submissionEveryStage();
    void submissionSettings();

private:
    QTemporaryDir dir;
    QString certs;
    Peer plainPeer, startTlsPeer, implicitPeer;
    quint16 plainPort = 0, startTlsPort = 0, implicitPort = 0;
    int stored[3] = {0, 0, 0};  // messages the plain, STARTTLS and implicit TLS peers stored so far

    // The n-th file a peer stored (0 plain, 1 STARTTLS, 2 implicit TLS).
    QByteArray storedFile(int peer, int n, const char* suffix) const
    {
        return readFile(dir.filePath(QString::asprintf("store%d/%06d%s", peer, n, suffix)));
    }
};

void tst_Smtp::initTestCase()
{
    // The headless stand-in for the old sender's warning box logs every
    // unexpected reply; the hostile rows check its text through status.
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.warning=false"));
    QVERIFY(dir.isValid());
    certs = dir.filePath(QStringLiteral("certs"));
    for (const QString& d : {certs, dir.filePath(QStringLiteral("store0")), dir.filePath(QStringLiteral("store1")),
                             dir.filePath(QStringLiteral("store2"))})
        QDir().mkpath(d);
    QString why;
    Peer maker;
    QVERIFY2(maker.start({QStringLiteral("certs"), certs}, &why) == 0 && why.isEmpty(), qPrintable(why));
    QVERIFY(QFile::exists(certs + QStringLiteral("/expired.pem")));
    const QStringList common{QStringLiteral("smtp"), QStringLiteral("--tls"), certs, QStringLiteral("--auth"),
                             User + QLatin1Char(':') + Secret, QStringLiteral("--size"), QStringLiteral("100000"),
                             QStringLiteral("--smtputf8"), QStringLiteral("--refuse"), QStringLiteral("refused")};
    const auto store = [this](int n) {
        return QStringList{QStringLiteral("--store"), dir.filePath(QString::asprintf("store%d", n))};
    };
    plainPort = plainPeer.start(QStringList{QStringLiteral("smtp")} + store(0), &why);
    QVERIFY2(plainPort, qPrintable(why));
    startTlsPort = startTlsPeer.start(common + store(1), &why);
    QVERIFY2(startTlsPort, qPrintable(why));
    implicitPort = implicitPeer.start(common + QStringList{QStringLiteral("--implicit-tls")} + store(2), &why);
    QVERIFY2(implicitPort, qPrintable(why));
}

void tst_Smtp::dataBlock_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("empty") << QByteArray("") << QByteArray(".\r\n");
    QTest::newRow("crlf, bare lf, no final end") << QByteArray("a\r\nb\nc") << QByteArray("a\r\nb\r\nc\r\n.\r\n");
    QTest::newRow("dot lines") << QByteArray(".x\n.\n..\r\na.b\n. c\n")
                               << QByteArray("..x\r\n..\r\n...\r\na.b\r\n.. c\r\n.\r\n");
    QTest::newRow("terminator in text") << QByteArray("x\r\n.\r\nRSET\r\n") << QByteArray("x\r\n..\r\nRSET\r\n.\r\n");
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
    QTest::newRow("latin-1") << QString::fromLatin1("Se\xf1or \xff\x80") << QByteArray("Se\xf1or \xff\x80")
                             << QByteArray();
    QTest::newRow("latin-1 under koi8-r") << QString::fromLatin1("\xe1\xe9\xf1") << QByteArray("\xe1\xe9\xf1")
                                          << QByteArray("KOI8-R");
    QTest::newRow("beyond latin-1: utf-8") << T("\xe2\x82\xac y \xc3\xb1") << QByteArray("\xe2\x82\xac y \xc3\xb1")
                                           << QByteArray("ISO-8859-1");
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

void tst_Smtp::addressesAndServers()
{
    // Only printable-ASCII local@domain passes: nothing that could end or
    // extend a command line.
    for (const char* a : {"ana@example.org", "a.b+c@mail.example.org", "a@[127.0.0.1]"})
        QVERIFY2(SmtpWire::isValidAddress(QString::fromLatin1(a)), a);
    for (const char* a : {"ana", "", "@example.org", "ana@", "a@b@c", "a@b>\r\nRCPT TO: <x@y", "a@b\n", "a@b\r",
                          "a b@c", "a@b>", "a@\tb", "jos\xc3\xa9@example.org", "a@b\x7f"})
        QVERIFY2(!SmtpWire::isValidAddress(QString::fromUtf8(a)), a);
    QVERIFY(!SmtpWire::isValidAddress(QStringLiteral("a@b") + QChar(0)));

    const QList<std::tuple<const char*, const char*, int>> good{
        {"mail.example.org", "mail.example.org", 25}, {"relay:2525", "relay", 2525}, {"::1", "::1", 25},
        {"[::1]:587", "::1", 587}, {"[::1]", "::1", 25}, {"h:65535", "h", 65535}};
    for (const auto& [server, host, port] : good) {
        QString h;
        quint16 p = 0;
        QVERIFY2(SmtpWire::splitServer(QString::fromLatin1(server), &h, &p), server);
        QCOMPARE(h, QString::fromLatin1(host));
        QCOMPARE(int(p), port);
    }
    for (const char* server : {"h:0", "h:65536", "h:0000025", "h:", "h:smtp", ":25", "[::1", "[::1]x"}) {
        QString h;
        quint16 p = 0;
        QVERIFY2(!SmtpWire::splitServer(QString::fromLatin1(server), &h, &p), server);
    }
}

void tst_Smtp::replyReader_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QList<int>>("codes");
    QTest::newRow("multi-line then single") << QByteArray("250-a\r\n250-b\r\n250 c\r\n354 go\r\n")
                                            << QList<QByteArray>{"250-a\r\n250-b\r\n250 c\r\n", "354 go\r\n"}
                                            << QList<int>{250, 354};
    QTest::newRow("code only, bare lf") << QByteArray("250\n221\r\n") << QList<QByteArray>{"250\n", "221\r\n"}
                                        << QList<int>{250, 221};
    QTest::newRow("continuation code differs") << QByteArray("220-x\r\n550 no\r\n")
                                               << QList<QByteArray>{"220-x\r\n550 no\r\n"} << QList<int>{550};
    QTest::newRow("garbage lines") << QByteArray("hello\r\n2\r\n25x ok\r\n")
                                   << QList<QByteArray>{"hello\r\n", "2\r\n", "25x ok\r\n"} << QList<int>{-1, -1, -1};
}

void tst_Smtp::replyReader()
{
    // The same replies however the stream is cut: at every byte position,
    // and one byte at a time (cut -1).
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QList<int>, codes);
    for (int cut = -1; cut <= stream.size(); ++cut) {
        SmtpWire::ReplyReader r;
        QList<QByteArray> texts;
        QList<int> got;
        QList<QByteArray> pieces{stream.left(cut), stream.mid(cut)};
        if (cut < 0)
            pieces.clear();
        for (qsizetype i = 0; cut < 0 && i < stream.size(); ++i)
            pieces << stream.mid(i, 1);
        for (const QByteArray& piece : pieces) {
            r.feed(piece);
            QByteArray t;
            int c = 0;
            while (r.next(&t, &c) == SmtpWire::ReplyReader::Reply) {
                texts << t;
                got << c;
            }
        }
        QCOMPARE(texts, replies);
        QCOMPARE(got, codes);
    }
}

void tst_Smtp::replyReaderLimits()
{
    // An endless line and an endless multi-line reply end as TooLong; a
    // burst of short replies is all taken.
    QByteArray t, lines, burst = QByteArray("250 ok\r\n").repeated(20000);
    int c = 0, n = 0;
    SmtpWire::ReplyReader endless, many, all;
    endless.feed(QByteArray(SmtpWire::MaxReplyLine + 1, 'x'));
    QCOMPARE(endless.next(&t, &c), SmtpWire::ReplyReader::TooLong);
    while (lines.size() <= SmtpWire::MaxReply)
        lines += "250-continuation line\r\n";
    many.feed(lines);
    QCOMPARE(many.next(&t, &c), SmtpWire::ReplyReader::TooLong);
    all.feed(burst);
    while (all.next(&t, &c) == SmtpWire::ReplyReader::Reply)
        ++n;
    QCOMPARE(n, 20000);
}

void tst_Smtp::oldDialogueOnWire_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("cut");  // 0: replies in one piece; -1: every reply byte by byte
    QTest::addColumn<bool>("asString");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("body");
    const QByteArray hola("Subject: x\r\n\r\nHola\r\n"), holaWire = hola + ".\r\n";
    const QByteArray dots("Subject: dots\n\n.hidden\n.\nQUIT\n\xf1\xff\nend");
    const QByteArray dotsWire("Subject: dots\r\n\r\n..hidden\r\n..\r\nQUIT\r\n\xf1\xff\r\nend\r\n.\r\n");
    QTest::newRow("byte by byte") << 0 << -1 << false << hola << holaWire;
    for (int s = 0; s < StageCount; ++s) {
        for (int cut = 1; cut < int(qstrlen(GoodReplies[s])); ++cut)
            QTest::addRow("stage %d cut %d", s, cut) << s << cut << false << hola << holaWire;
    }
    QTest::newRow("dots, 8-bit: bytes") << 0 << 0 << false << dots << dotsWire;
    QTest::newRow("dots, 8-bit: latin-1 text") << 0 << 0 << true << dots << dotsWire;
    QTest::newRow("empty") << 0 << 0 << false << QByteArray("") << QByteArray(".\r\n");
}

void tst_Smtp::oldDialogueOnWire()
{
    // Every reply split anywhere still gives the byte-exact dialogue, with
    // the text dot-stuffed and in CR LF lines.
    QFETCH(int, stage);
    QFETCH(int, cut);
    QFETCH(bool, asString);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, body);
    OldPeer peer;
    peer.splitStep = Steps[stage];
    peer.splitAt = cut;
    peer.oneByte = cut < 0;
    const Outcome o = asString ? send(peer.address(), QString::fromLatin1(text)) : send(peer.address(), text);
    QCOMPARE(o.ok, QList<bool>{true});
    QCOMPARE(o.errors, QList<int>{Smtp::NoError});
    QCOMPARE(o.texts, QStringList{QString()});
    QCOMPARE(o.statuses, (QStringList{Connected, Completed}));
    QCOMPARE(peer.received, oldDialogue(body));
    QCOMPARE(peer.connections, 1);
}

void tst_Smtp::oldHostile_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<QByteArray>("reply");  // or "close" or "silent"
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("quitSent");
    for (int s = 0; s < StageCount; ++s) {
        const bool quit = s == Quit;
        const int bad = quit ? Smtp::NoError : Smtp::UnexpectedReply;
        QTest::addRow("%s 421", Steps[s]) << s << QByteArray("421 4.3.0 busy\r\n") << bad << true;
        QTest::addRow("%s 554 multi-line", Steps[s]) << s << QByteArray("554-5.7.1 no\r\n554 5.7.1 never\r\n") << bad
                                                     << true;
        QTest::addRow("%s close", Steps[s]) << s << QByteArray("close") << int(quit ? 0 : Smtp::ConnectionClosed)
                                            << false;
        QTest::addRow("%s silent", Steps[s]) << s << QByteArray("silent") << int(quit ? 0 : Smtp::Timeout) << false;
    }
    const int unexpected = Smtp::UnexpectedReply;
    QTest::newRow("2xx where 3xx is due") << int(Data) << QByteArray("250 ok\r\n") << unexpected << true;
    QTest::newRow("3xx greeting") << int(Greeting) << QByteArray("354 what\r\n") << unexpected << true;
    QTest::newRow("garbage greeting") << int(Greeting) << QByteArray("hello there\r\n") << unexpected << true;
    QTest::newRow("code without digits") << int(Helo) << QByteArray("2xx ok\r\n") << unexpected << true;
    QTest::newRow("endless line") << int(Mail) << QByteArray(SmtpWire::MaxReplyLine + 10, '2') << unexpected << true;
    QTest::newRow("continuation only, then silence") << int(Rcpt) << QByteArray("250-part one\r\n250-part two\r\n")
                                                     << int(Smtp::Timeout) << false;
}

void tst_Smtp::oldHostile()
{
    // Any misbehaviour ends the run once, with its own text as the last
    // status, and QUIT only while the connection is still usable.
    QFETCH(int, stage);
    QFETCH(QByteArray, reply);
    QFETCH(int, error);
    QFETCH(bool, quitSent);
    OldPeer peer;
    peer.replies[Steps[stage]] = reply;
    const Outcome o = send(peer.address(), QByteArray("x\r\n"), 1000);  // silent rows wait for one time-out
    QVERIFY(o.destroyed);
    QCOMPARE(o.ok, QList<bool>{error == 0});
    QCOMPARE(o.errors, QList<int>{error});
    QCOMPARE(o.statuses.last(), error ? o.texts.first() : Completed);
    QCOMPARE(o.statuses.contains(Completed), error == 0);
    const QString unexpected = T("Respuesta inesperada desde el servidor SMTP:\n\n")
        + QString::fromLatin1(reply.left(SmtpWire::MaxReplyLine));
    if (error == Smtp::UnexpectedReply)
        QCOMPARE(o.texts.first().left(unexpected.size()), unexpected);
    if (error == Smtp::UnexpectedReply && reply.size() < SmtpWire::MaxReplyLine)
        QCOMPARE(o.texts.first(), unexpected);
    if (error == Smtp::ConnectionClosed)
        QCOMPARE(o.texts.first(), T("Conexión cerrada por el servidor 127.0.0.1"));
    if (error == Smtp::Timeout)
        QCOMPARE(o.texts.first(), T("Tiempo de espera agotado con el servidor 127.0.0.1"));
    if (error)
        QCOMPARE(peer.received.endsWith("QUIT\r\n"), quitSent);
}

void tst_Smtp::refusedBeforeConnecting_data()
{
    // Either sender refuses what could inject commands before connecting.
    QTest::addColumn<bool>("submission");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("other");  // old: the server ("closed": nobody listens); submission: the user
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    const QString good = QStringLiteral("c@d"), nul = QStringLiteral("x@y") + QChar(0);
    const int invalid = Smtp::InvalidAddress, server = Smtp::InvalidServer;
    QTest::newRow("old: from with crlf") << false << T("a@b>\r\nRCPT TO:<x@y") << good << QString() << invalid
                                         << T("Dirección de remitente no válida: a@b>??RCPT TO:<x@y");
    QTest::newRow("old: to with lf") << false << From << T("x@y\nDATA") << QString() << invalid
                                     << T("Dirección de destinatario no válida: x@y?DATA");
    QTest::newRow("old: to with nul") << false << From << nul << QString() << invalid
                                      << T("Dirección de destinatario no válida: x@y?");
    QTest::newRow("old: bad port") << false << From << good << T("127.0.0.1:0") << server
                                   << T("Servidor de correo no válido: 127.0.0.1:0");
    QTest::newRow("old: connection refused") << false << From << good << T("closed") << int(Smtp::ConnectionRefused)
                                             << T("Conexión rechazada por 127.0.0.1");
    QTest::newRow("from with crlf") << true << T("a@b>\r\nRCPT TO:<x@y") << good << User
                                    << int(SmtpSubmission::InvalidAddress)
                                    << T("Dirección de remitente no válida: a@b>??RCPT TO:<x@y");
    QTest::newRow("to with nul") << true << From << nul << User << int(SmtpSubmission::InvalidAddress)
                                 << T("Dirección de destinatario no válida: x@y?");
    const int badUser = SmtpSubmission::AuthUnavailable;
    const QString badUserText = T("Credenciales no válidas para 127.0.0.1");
    QTest::newRow("user with lf") << true << From << good << T("u\nAUTH") << badUser << badUserText;
    QTest::newRow("user with \\x01") << true << From << good << T("u\x01" "auth=Bearer x") << badUser << badUserText;
}

void tst_Smtp::refusedBeforeConnecting()
{
    QFETCH(bool, submission);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, other);
    QFETCH(int, error);
    QFETCH(QString, text);
    ScriptedServer peer;
    Outcome o;
    if (submission) {
        SmtpSubmission s(settingsFor(peer.serverPort(), SmtpSettings::StartTls, other));
        QTimer::singleShot(300, &s, [&s] { emit s.sessionFinished(SmtpSubmission::NoError, QString()); });
        o = run(s, {{to}}, {QByteArray("x\r\n")}, from);
    } else {
        if (other == QLatin1String("closed"))
            other = QStringLiteral("127.0.0.1:%1").arg(closedPort());
        o = send(other.isEmpty() ? peer.address() : other, QByteArray("x\r\n"), 0, from, to);
        QCOMPARE(o.statuses, QStringList{text});
    }
    QCOMPARE(o.ok, QList<bool>{false});
    QCOMPARE(o.errors, QList<int>{error});
    QCOMPARE(o.texts, QStringList{text});
    QTest::qWait(20);
    QCOMPARE(peer.connections, 0);
}

void tst_Smtp::oldHostNotFound()
{
    // ".invalid" never resolves (RFC 2606).
    const Outcome o = send(QStringLiteral("no-such-host.invalid"), QByteArray("x\r\n"), 10000);
    QCOMPARE(o.ok, QList<bool>{false});
    const int error = o.errors.value(0);
    QVERIFY2(error == Smtp::HostNotFound || error == Smtp::Timeout, qPrintable(o.texts.first()));
    if (o.errors.first() == Smtp::HostNotFound)
        QCOMPARE(o.texts.first(), T("No se encuentra el servidor no-such-host.invalid"));
}

void tst_Smtp::oldTimeouts()
{
    // Defaults per stage, out-of-range stages, the smallest time-out, and
    // no signal when deleted by its owner before it ran.
    auto* smtp = new Smtp(From, From, QByteArray(), QStringLiteral("127.0.0.1:9"));
    QCOMPARE(smtp->mailServer(), QStringLiteral("127.0.0.1:9"));
    QCOMPARE(smtp->timeout(Smtp::GreetingStage), 5 * 60 * 1000);
    QCOMPARE(smtp->timeout(Smtp::DataStage), 2 * 60 * 1000);
    QCOMPARE(smtp->timeout(Smtp::DataBlockStage), 3 * 60 * 1000);
    QCOMPARE(smtp->timeout(Smtp::DataEndStage), 10 * 60 * 1000);
    QCOMPARE(Smtp::defaultTimeout(Smtp::LookupStage), smtp->timeout(Smtp::LookupStage));
    QCOMPARE(Smtp::defaultTimeout(Smtp::Stage(-1)), 0);
    QCOMPARE(Smtp::defaultTimeout(Smtp::Stage(Smtp::QuitStage + 1)), 0);
    smtp->setTimeout(Smtp::Stage(-1), 5);  // ignored, and no other field touched
    smtp->setTimeout(Smtp::Stage(Smtp::QuitStage + 1), 5);
    smtp->setTimeout(Smtp::MailStage, 1);
    QCOMPARE(smtp->timeout(Smtp::MailStage), 1);
    smtp->setTimeout(Smtp::MailStage, 0);
    QCOMPARE(smtp->timeout(Smtp::MailStage), Smtp::defaultTimeout(Smtp::MailStage));
    QSignalSpy finished(smtp, &Smtp::finished);
    delete smtp;
    QTest::qWait(10);
    QCOMPARE(finished.count(), 0);
}

void tst_Smtp::oldStalledText()
{
    // A server that stops reading in the middle of the text: the sender
    // gives up after the data-block time-out instead of waiting for ever.
    OldPeer peer;
    peer.stallData = true;
    const Outcome o = send(peer.address(), QByteArray(32 * 1024 * 1024, 'x'), 1000);
    QVERIFY(o.destroyed);
    QCOMPARE(o.errors, QList<int>{Smtp::Timeout});
}

void tst_Smtp::oldHeadlessWarning()
{
    // Without a widgets application the warning box's text goes to the log.
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.warning=true"));
    QTest::ignoreMessage(QtWarningMsg, "Respuesta inesperada desde el servidor SMTP:\n\n550 no\r\n");
    OldPeer peer;
    peer.replies["greeting"] = "550 no\r\n";
    const Outcome o = send(peer.address(), QByteArray("x\r\n"));
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.warning=false"));
    QCOMPARE(o.errors, QList<int>{Smtp::UnexpectedReply});
    QCOMPARE(o.statuses, (QStringList{Connected, o.texts.first()}));
}

void tst_Smtp::oldCorpus()
{
    // Every corpus message and a few edge cases round-trip through aiosmtpd
    // byte for byte, as bytes and as a Latin-1 string, with their envelope.
    QList<QByteArray> texts{"Subject: t\r\n\r\nbefore\r\n.\r\nMAIL FROM:<x@y>\r\n.\n..\n.leading\nmid.dle\nno end",
                            "Subject: n\n\n.", "Subject: \xf1\n\n\xe9\xff\x80\n",
                            QByteArray("Subject: big\n\n").append(QByteArray(200000, 'x') + '\n')
                                .append(QByteArray(".line\n").repeated(300000))};
    QDirIterator it(QStringLiteral(ORVANE_CORPUS_DIR), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.endsWith(QLatin1String(".md")) && !path.endsWith(QLatin1String(".tsv")))
            texts << readFile(path);
    }
    int dotLines = 0, bareLf = 0;
    const QString server = QStringLiteral("127.0.0.1:%1").arg(plainPort);
    for (const QByteArray& text : texts) {
        dotLines += text.startsWith('.') || text.contains("\n.");
        bareLf += text.contains('\n') && ::stored(text).size() != text.size();
        for (const Outcome& o : {send(server, text), send(server, QString::fromLatin1(text))}) {
            QVERIFY2(o.ok == QList<bool>{true}, (text.left(60) + o.texts.value(0).toUtf8()).constData());
            QCOMPARE(o.statuses.last(), Completed);
            QVERIFY2(storedFile(0, ++stored[0], ".eml") == ::stored(text), text.left(60).constData());
            QCOMPARE(storedFile(0, stored[0], ".env"), QByteArray("ana@example.org\nluis@example.net\n"));
        }
    }
    if (texts.size() == 4)
        QSKIP("no sample corpus");
    QVERIFY(dotLines > 3);  // the corpus holds what this test is about
    QVERIFY(bareLf > 4);
}

void tst_Smtp::oldMxLookup()
{
    // The whole path: MX lookup, the exchange's address, connection, dialogue.
    if (geteuid() != 0)
        QSKIP("dnsmasq and the SMTP peer need ports 53 and 25 (root)");
    if (!QFile::exists(QStringLiteral("/usr/sbin/dnsmasq")))
        QFAIL("dnsmasq is not installed (scripts/install-deps)");
    // Port 53 and port 25: the peers get an address of their own on loopback.
    QTemporaryDir mxStore;
    Peer peer;
    QString address, why;
    for (int attempt = 0; attempt < 6 && address.isEmpty(); ++attempt) {
        const quint32 r = QRandomGenerator::global()->generate();
        const QString a = QString::asprintf("127.%u.%u.%u", 1 + r % 254, 1 + (r >> 8) % 254, 2 + (r >> 16) % 252);
        if (peer.start({QStringLiteral("mx"), QStringLiteral("--address"), a, QStringLiteral("--domain"),
                        QStringLiteral("orvane.test"), QStringLiteral("--store"), mxStore.path()}, &why))
            address = a;
    }
    QVERIFY2(!address.isEmpty(), qPrintable(QStringLiteral("mx peers: ") + why));
    const QHostAddress ns(address);
    const QByteArray text("Subject: mx\n\n.dot\n");
    Outcome o = send(QString(), text, 0, From, QStringLiteral("luis@orvane.test"), ns);
    QCOMPARE(o.statuses, (QStringList{T("Conectando a mx.orvane.test"), T("Conectado a ") + address, Completed}));
    QCOMPARE(readFile(mxStore.filePath(QStringLiteral("000001.eml"))), ::stored(text));
    QCOMPARE(readFile(mxStore.filePath(QStringLiteral("000001.env"))),
             QByteArray("ana@example.org\nluis@orvane.test\n"));
    o = send(QString(), text, 0, From, QStringLiteral("luis@nowhere.test"), ns);  // no MX records
    QCOMPARE(o.errors, QList<int>{Smtp::DnsError});
    QCOMPARE(o.statuses, QStringList{T("Error en el registro MX del DNS")});
    o = send(QString(), text, 0, From, QStringLiteral("luis@broken.orvane.test"), ns);  // exchange without address
    QCOMPARE(o.errors, QList<int>{Smtp::HostNotFound});
    QCOMPARE(o.statuses, (QStringList{T("Conectando a nohost.orvane.test"),
                                      T("No se encuentra el servidor nohost.orvane.test")}));
    if (QByteArray(ORVANE_TOOL).isEmpty())
        return;
    QProcess tool;  // the tool takes the same path
    tool.start(QStringLiteral(ORVANE_TOOL), {QStringLiteral("send"), QStringLiteral("--from"), From,
                                             QStringLiteral("--to"), QStringLiteral("luis@orvane.test"),
                                             QStringLiteral("--nameserver"), address, QStringLiteral("-")});
    tool.write("Subject: tool\n\nvia mx\n");
    tool.closeWriteChannel();
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(readFile(mxStore.filePath(QStringLiteral("000002.eml"))), QByteArray("Subject: tool\r\n\r\nvia mx\r\n"));
}

void tst_Smtp::submissionPeer_data()
{
    // Rows with "wrong" in their name give a wrong password and token;
    // recipients starting with "refused" get 550 from the peer.
    QTest::addColumn<bool>("implicit");
    QTest::addColumn<int>("mechanisms");
    QTest::addColumn<QStringList>("rcpts");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("error");
    const QStringList one{QStringLiteral("luis@example.net")}, refused{QStringLiteral("refused1@example.net")};
    const QByteArray text("Subject: x\n\n.dot\nbody\n");
    const int all = SmtpSettings::AllMechanisms, authFailed = SmtpSubmission::AuthenticationFailed;
    QTest::newRow("starttls plain") << false << int(SmtpSettings::MechPlain) << one << text << 0;
    QTest::newRow("starttls login") << false << int(SmtpSettings::MechLogin) << one << text << 0;
    QTest::newRow("starttls cram-md5, long user") << false << int(SmtpSettings::MechCramMd5) << one << text << 0;
    QTest::newRow("starttls xoauth2") << false << int(SmtpSettings::MechXOAuth2) << one << text << 0;
    QTest::newRow("implicit tls, strongest") << true << all << one << text << 0;
    QTest::newRow("wrong password") << false << int(SmtpSettings::MechPlain) << one << text << authFailed;
    QTest::newRow("wrong password cram-md5") << true << int(SmtpSettings::MechCramMd5) << one << text << authFailed;
    QTest::newRow("wrong token") << false << int(SmtpSettings::MechXOAuth2) << one << text << authFailed;
    QTest::newRow("some refused") << false << all
                                  << QStringList{T("a@x.es"), refused[0], T("b@x.es"), T("refused2@x.es")} << text
                                  << 0;
    QTest::newRow("all refused") << true << all << refused << text << int(SmtpSubmission::RecipientsRefused);
    QTest::newRow("over SIZE") << false << all << one << QByteArray(100001, 'x')
                               << int(SmtpSubmission::MessageTooLarge);
    QTest::newRow("8-bit text") << false << all << one << QByteArray("Subject: \xc3\xb1\n\n\xe9\xff\x80\n") << 0;
    QTest::newRow("utf-8 address") << true << all << QStringList{T("jos\xc3\xa9@ejemplo.es")} << text << 0;
}

void tst_Smtp::submissionPeer()
{
    // aiosmtpd over TLS: every mechanism, refusals and limits; stored byte
    // for byte with its envelope; credentials in no status or error text.
    QFETCH(bool, implicit);
    QFETCH(int, mechanisms);
    QFETCH(QStringList, rcpts);
    QFETCH(QByteArray, text);
    QFETCH(int, error);
    SmtpSettings settings = settingsFor(implicit ? implicitPort : startTlsPort,
                                        implicit ? SmtpSettings::ImplicitTls : SmtpSettings::StartTls);
    settings.mechanisms = mechanisms;
    SmtpSubmission s(settings);
    s.setCaCertificates(QSslCertificate::fromPath(certs + QStringLiteral("/ca.pem")));
    const QString secret = QByteArray(QTest::currentDataTag()).contains("wrong") ? T("nope") : Secret;
    s.setPassword(secret);
    s.setOAuth2Token(secret);
    const Outcome o = run(s, {rcpts}, {text});
    const QStringList refused = rcpts.filter(QRegularExpression(QStringLiteral("^refused")));
    const int peer = implicit ? 2 : 1;
    QCOMPARE(o.errors, QList<int>{error});
    QCOMPARE(o.ok, QList<bool>{error == 0});
    QCOMPARE(o.refused, refused);
    for (const QString& t : o.statuses + o.texts)
        QVERIFY2(!t.contains(secret) && !t.contains(User), qPrintable(t));
    if (error != 0) {
        QVERIFY(storedFile(peer, stored[peer] + 1, ".eml").isNull());
        return;
    }
    QCOMPARE(storedFile(peer, ++stored[peer], ".eml"), QByteArray(text).replace("\n", "\r\n"));
    for (const QString& r : refused)
        rcpts.removeAll(r);
    QCOMPARE(QString::fromUtf8(storedFile(peer, stored[peer], ".env")),
             (QStringList{From} + rcpts).join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void tst_Smtp::submissionBatch()
{
    // 100 messages over one connection, each stored byte for byte; one in
    // the middle refused for its size without disturbing the others.
    SmtpSubmission s(settingsFor(startTlsPort));
    s.setCaCertificates(QSslCertificate::fromPath(certs + QStringLiteral("/ca.pem")));
    s.setPassword(Secret);
    QList<QByteArray> texts;
    for (int i = 0; i < 100; ++i) {
        QByteArray t = "Subject: batch " + QByteArray::number(i) + "\r\n\r\n";
        for (int l = 0; l < i; ++l)
            t += (l % 7 == 0 ? ".line " : "line ") + QByteArray::number(l) + "\r\n";
        texts << (i == 50 ? QByteArray(200000, 'z') : t);
    }
    const Outcome o = run(s, {{QStringLiteral("luis@example.net")}}, texts);
    QCOMPARE(o.ok.size(), 100);
    QCOMPARE(o.session, 0);
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(o.okById.value(i + 1), i != 50);
        if (i != 50)
            QCOMPARE(storedFile(1, ++stored[1], ".eml"), texts[i]);
    }
}

void tst_Smtp::tool_data()
{
    // %1: the STARTTLS peer's port, %2: a closed port, %3: the message file,
    // %4: the certificate directory, %5: the plain peer's port.
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("summary");
    const QString direct = QStringLiteral("send --from ana@example.org --to luis@example.net ");
    const QString submit = QStringLiteral("send --server 127.0.0.1:%1 --starttls --from ana@example.org --user ")
        + User + QStringLiteral(" ");
    QTest::newRow("direct") << direct + QStringLiteral("--server 127.0.0.1:%5 %3") << 0
                            << T("Conectando a 127.0.0.1:%5\nConectado a 127.0.0.1\nEnvío completado\n");
    QTest::newRow("direct, refused") << direct + QStringLiteral("--server 127.0.0.1:%2 %3") << 1
                                     << T("Conectando a 127.0.0.1:%2\nConexión rechazada por 127.0.0.1\n");
    QTest::newRow("direct, bad address") << QStringLiteral("send --from a@b\rc --to a@x.es --server 127.0.0.1:%5 %3")
                                         << 1 << T("Dirección de remitente no válida: a@b?c\n");
    QTest::newRow("direct, no recipient") << QStringLiteral("send --from ana@example.org %3") << 2 << QString();
    QTest::newRow("direct, --bcc") << direct + QStringLiteral("--bcc a@x.es %3") << 2 << QString();
    QTest::newRow("to, cc, bcc, two files") << submit + QStringLiteral("--cafile %4/ca.pem --to a@x.es --cc b@x.es "
                                                                       "--bcc c@x.es %3 %3")
                                            << 0 << QStringLiteral("%3: sent\n%3: sent\n");
    QTest::newRow("one refused") << submit + QStringLiteral("--cafile %4/ca.pem --to refused@x.es --to a@x.es %3")
                                 << 1
                                 << QStringLiteral("%3: sent, refused: refused@x.es (550 5.1.1 <refused@x.es>: "
                                                   "Recipient address rejected)\n");
    QTest::newRow("untrusted without cafile") << submit + QStringLiteral("--to a@x.es %3") << 1
        << T("%3: not sent: Conexión segura con 127.0.0.1 fallida: autoridad de certificación desconocida\n");
}

void tst_Smtp::tool()
{
    if (QByteArray(ORVANE_TOOL).isEmpty())
        QSKIP("the tool is not built");
    QFETCH(QString, args);
    QFETCH(int, exitCode);
    QFETCH(QString, summary);
    const QString file = dir.filePath(QStringLiteral("tool.eml"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("Subject: tool\n\n.dot line\n") > 0);
    f.close();
    const QStringList values{QString::number(startTlsPort), QString::number(closedPort()), file, certs,
                             QString::number(plainPort)};
    for (QString* a : {&args, &summary}) {
        for (int i = 0; i < values.size(); ++i)
            a->replace(QLatin1Char('%') + QString::number(i + 1), values[i]);
    }
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVANE_SMTP_PASSWORD"), Secret);
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral(ORVANE_TOOL), args.split(QLatin1Char(' ')));
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), exitCode);
    QCOMPARE(QString::fromUtf8(tool.readAllStandardOutput()), summary);
    if (exitCode != 0 && !args.contains(QLatin1String("--starttls")))
        QVERIFY(!tool.readAllStandardError().isEmpty());
    const int peer = args.contains(QLatin1String("--starttls")) ? 1 : 0;
    for (int n = int(summary.count(QLatin1String(": sent")) + summary.count(QLatin1String("completado"))); n > 0; --n)
        QCOMPARE(storedFile(peer, ++stored[peer], ".eml"), QByteArray("Subject: tool\r\n\r\n.dot line\r\n"));
}

void tst_Smtp::submissionScripted_data()
{
    // Downgrades, certificates, refusals: the error text and all the client
    // sent ("*" at the end: its start) -- nothing after a security failure.
    QTest::addColumn<QString>("setup");  // security, certificate, and "pinned" to pin its digest
    QTest::addColumn<QByteArray>("step");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<QByteArray>("sent");
    const QByteArray ehlo("EHLO [127.0.0.1]\r\n"), upToTls = ehlo + "STARTTLS\r\n";
    const QByteArray plainAuth = "AUTH PLAIN " + QByteArray('\0' + User.toUtf8() + '\0' + Secret.toUtf8()).toBase64()
        + "\r\n";
    const QByteArray good = upToTls + ehlo + "AUTH CRAM-MD5\r\n*";
    const QString st = QStringLiteral("starttls server"), plain = QStringLiteral("plain server");
    const QString noMechanism = T("El servidor 127.0.0.1 no ofrece ningún método de autenticación permitido");
    const auto failed = [](const char* why) { return T("Conexión segura con 127.0.0.1 fallida: ") + T(why); };
    const int tlsFailed = SmtpSubmission::TlsFailed, authUnavailable = SmtpSubmission::AuthUnavailable;
    QTest::newRow("starttls not offered") << st << QByteArray("ehlo")
                                          << QByteArray("250-peer.test\r\n250 AUTH PLAIN\r\n")
                                          << int(SmtpSubmission::TlsUnavailable)
                                          << T("El servidor 127.0.0.1 no ofrece STARTTLS") << ehlo;
    QTest::newRow("starttls refused") << st << QByteArray("starttls") << QByteArray("454 4.7.0 no\r\n")
                                      << int(SmtpSubmission::TlsUnavailable)
                                      << T("El servidor 127.0.0.1 rechazó STARTTLS: 454 4.7.0 no") << upToTls;
    QTest::newRow("injection after go-ahead")
        << st << QByteArray("starttls") << QByteArray("220 go\r\n250-peer.test\r\n250 AUTH PLAIN\r\n235 2.7.0 ok\r\n")
                                              << 0 << QString() << good;
    QTest::newRow("wrong name") << T("starttls other") << QByteArray() << QByteArray() << tlsFailed
                                << failed("el certificado es de otro nombre") << upToTls;
    QTest::newRow("expired") << T("starttls expired") << QByteArray() << QByteArray() << tlsFailed
                             << failed("el certificado ha caducado") << upToTls;
    QTest::newRow("self-signed") << T("starttls selfsigned") << QByteArray() << QByteArray() << tlsFailed
                                 << failed("el certificado está autofirmado") << upToTls;
    QTest::newRow("self-signed, pinned") << T("starttls selfsigned pinned") << QByteArray() << QByteArray() << 0
                                         << QString() << good;
    QTest::newRow("valid, pin differs") << T("starttls server otherpin") << QByteArray() << QByteArray() << tlsFailed
                                        << failed("el certificado no es el fijado") << upToTls;
    QTest::newRow("implicit tls, expired") << T("implicit expired") << QByteArray() << QByteArray() << tlsFailed
                                           << failed("el certificado ha caducado") << QByteArray();
    QTest::newRow("plain chosen: auth in clear") << plain << QByteArray() << QByteArray() << 0 << QString()
                                                 << ehlo + plainAuth + "MAIL FROM:<ana@example.org>\r\n*";
    QTest::newRow("no allowed mechanism") << st << QByteArray("ehlo2")
                                          << QByteArray("250-peer.test\r\n250 AUTH GSSAPI\r\n")
                                          << authUnavailable << noMechanism << upToTls + ehlo + "QUIT\r\n";
    QTest::newRow("535 echoing the credentials")
        << plain << QByteArray("auth") << "535 5.7.8 bad " + plainAuth << int(SmtpSubmission::AuthenticationFailed)
        << T("Autenticación fallida en 127.0.0.1: 535 5.7.8 bad AUTH PLAIN ****") << ehlo + plainAuth + "QUIT\r\n";
    QTest::newRow("8-bit, no 8BITMIME") << st << QByteArray("ehlo2")
                                        << QByteArray("250-peer.test\r\n250 AUTH CRAM-MD5\r\n")
                                        << int(SmtpSubmission::EightBitUnsupported)
                                        << T("El servidor 127.0.0.1 no admite texto de 8 bits (8BITMIME)") << good;
    QTest::newRow("EHLO unknown: HELO, no AUTH") << plain << QByteArray("ehlo") << QByteArray("502 5.5.1 what\r\n")
                                                 << authUnavailable << noMechanism
                                                 << ehlo + "HELO [127.0.0.1]\r\nQUIT\r\n";
    QTest::newRow("sender refused") << st << QByteArray("mail") << QByteArray("553 5.7.1 not yours\r\n")
                                    << int(SmtpSubmission::Rejected)
                                    << T("El servidor 127.0.0.1 rechazó el remitente ana@example.org: "
                                         "553 5.7.1 not yours")
                                    << good;
    QTest::newRow("text refused") << st << QByteArray("body") << QByteArray("554 5.6.0 spam\r\n")
                                  << int(SmtpSubmission::Rejected)
                                  << T("El servidor 127.0.0.1 rechazó el mensaje: 554 5.6.0 spam") << good;
}

void tst_Smtp::submissionScripted()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, step);
    QFETCH(QByteArray, reply);
    QFETCH(int, error);
    QFETCH(QString, errorText);
    QFETCH(QByteArray, sent);
    const QStringList words = setup.split(QLatin1Char(' '));
    const auto security = words[0] == QLatin1String("plain")      ? SmtpSettings::Plain
                          : words[0] == QLatin1String("implicit") ? SmtpSettings::ImplicitTls
                                                                   : SmtpSettings::StartTls;
    ScriptedServer peer;
    peer.tlsDir = certs;
    peer.cert = words[1];
    peer.implicitTls = security == SmtpSettings::ImplicitTls;
    if (!step.isEmpty())
        peer.replies[step] = reply;
    SmtpSubmission s(settingsFor(peer.serverPort(), security));
    s.setPassword(Secret);
    s.setCaCertificates(QSslCertificate::fromPath(certs + QStringLiteral("/ca.pem")));
    const QString pem = certs + QLatin1Char('/') + words[1] + QStringLiteral(".pem");
    const QByteArray digest = QCryptographicHash::hash(QSslCertificate::fromPath(pem).value(0).toDer(),
                                                       QCryptographicHash::Sha256);
    if (words.size() > 2)
        s.setPinnedSha256(words[2] == QLatin1String("pinned") ? digest : QByteArray(32, 'p'));
    s.setTimeout(SmtpSubmission::QuitStage, 500);
    const QByteArray text = QByteArray(QTest::currentDataTag()).startsWith("8-bit") ? "\xe9\r\n" : "x\r\n";
    const Outcome o = run(s, {{QStringLiteral("luis@example.net")}}, {text});
    QCOMPARE(o.errors, QList<int>{error});
    QCOMPARE(o.texts, QStringList{errorText});
    if (sent.endsWith('*'))
        QVERIFY2(peer.received.startsWith(sent.chopped(1)), peer.received.constData());
    else
        QCOMPARE(peer.received, sent);
}

void tst_Smtp::submissionEveryStage_data()
{
    QTest::addColumn<QByteArray>("step");
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<int>("error");
    for (const char* step : {"greeting", "ehlo", "starttls", "handshake", "ehlo2", "auth", "auth2", "mail", "rcpt",
                             "data", "body", "rset", "quit"}) {
        const bool quit = qstrcmp(step, "quit") == 0;
        QTest::addRow("%s close", step) << QByteArray(step) << QByteArray("close")
                                        << int(quit ? 0 : SmtpSubmission::ConnectionClosed);
        QTest::addRow("%s silent", step) << QByteArray(step) << QByteArray("silent")
                                         << int(quit ? 0 : SmtpSubmission::Timeout);
    }
    QTest::newRow("every reply byte by byte") << QByteArray() << QByteArray() << 0;
}

void tst_Smtp::submissionEveryStage()
{
    // Two messages, the first refused at RCPT (so RSET follows), over
    // STARTTLS with AUTH CRAM-MD5 (a second AUTH step) and no PIPELINING;
    // a close or silence at any stage ends the session with its error.
    QFETCH(QByteArray, step);
    QFETCH(QByteArray, action);
    QFETCH(int, error);
    ScriptedServer peer;
    peer.tlsDir = certs;
    peer.oneByte = step.isEmpty();
    peer.replies["ehlo2"] = "250-peer.test\r\n250 AUTH CRAM-MD5\r\n";
    peer.replies["auth"] = "334 PDEuMkBwZWVyLnRlc3Q+\r\n";
    if (!step.isEmpty())
        peer.replies[step] = action;
    SmtpSubmission s(settingsFor(peer.serverPort()));
    s.setPassword(Secret);
    s.setCaCertificates(QSslCertificate::fromPath(certs + QStringLiteral("/ca.pem")));
    for (int t = SmtpSubmission::ConnectStage; t <= SmtpSubmission::QuitStage; ++t)
        s.setTimeout(SmtpSubmission::Stage(t), 700);
    const Outcome o = run(s, {{QStringLiteral("refused@example.net")}, {QStringLiteral("luis@example.net")}},
                          {QByteArray("one\r\n"), QByteArray("two\r\n")});
    QCOMPARE(o.ok, (QList<bool>{false, error == 0}));
    QCOMPARE(o.errors[1], error);
    QCOMPARE(o.session, error);
    if (error == 0)
        QVERIFY(peer.received.contains("RSET\r\nMAIL FROM:<ana@example.org>\r\nRCPT TO:<luis@example.net>\r\nDATA\r\n"
                                       "two\r\n.\r\nQUIT\r\n"));
}

void tst_Smtp::submissionSettings()
{
    // Saved and loaded alike, the password never stored; default port 587.
    QSettings store(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    SmtpSettings s = settingsFor(465, SmtpSettings::ImplicitTls);
    s.server = QStringLiteral("smtp.example.org");
    s.mechanisms = SmtpSettings::MechPlain | SmtpSettings::MechXOAuth2;
    s.save(store);
    store.sync();
    QVERIFY(!readFile(dir.filePath(QStringLiteral("s.ini"))).contains(Secret.toUtf8()));
    const SmtpSettings r = SmtpSettings::load(store);
    QCOMPARE(r.server, s.server);
    QCOMPARE(r.effectivePort(), 465);
    QCOMPARE(int(r.security), int(s.security));
    QCOMPARE(r.user, s.user);
    QCOMPARE(r.mechanisms, s.mechanisms);
    QCOMPARE(SmtpSettings().effectivePort(), 587);
    QCOMPARE(SmtpSubmission(s).timeout(SmtpSubmission::Stage(SmtpSubmission::QuitStage + 1)), 0);
}

QTEST_GUILESS_MAIN(tst_Smtp)
#include "tst_smtp.moc"
