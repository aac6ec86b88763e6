// Both SMTP senders (the old one-message Smtp, the SmtpSubmission session) and
// their wire helpers, against a scripted server in this process and against
// real peers: aiosmtpd over plain, STARTTLS and implicit TLS; the tool.

#include <smtp.h>
#include <smtp_p.h>
#include <smtpsubmission.h>

#include "smtp/scriptedserver.h"
#include "toolrun.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#include <algorithm>

#include <unistd.h>

using namespace Orvane;

namespace {

const QString User = QStringLiteral("submission-user-with-a-long-name@example.org");  // > 24 characters
const QString Secret = QStringLiteral("s3cret-pa55");
const QString From = QStringLiteral("ana@example.org");
const QString Completed = QString::fromUtf8("Envío completado");
QString T(const char* text) { return QString::fromUtf8(text); }
QStringList W(const char* words) { return T(words).split(QLatin1Char(' ')); }

// A peer from tests/smtp/peer.py. It ends with its standard input, so it
// goes away even when the test crashes.
struct Peer {
    QProcess process;
    ~Peer()
    {
        process.closeWriteChannel();
        process.waitForFinished(5000);
    }
    // Starts the peer; its SMTP port, or 0 with the reason in *why.
    quint16 start(const QStringList& args, QString* why)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(T("/usr/bin/python3"), QStringList{T(ORVANE_TEST_DATA "/../smtp/peer.py")} + args);
        process.waitForReadyRead(20000);
        const QByteArray line = process.readLine().trimmed();
        if (line.startsWith("READY "))
            return quint16(line.mid(6).toUInt());
        *why = line.isEmpty() ? process.errorString() : QString::fromUtf8(line);
        process.waitForFinished(5000);
        return 0;
    }
};

// What a server stores for a text sent with SMTP transparency: bare LF as
// CR LF, and a final CR LF when missing. Independent of the sender's code.
QByteArray onServer(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i)
        out += text[i] == '\n' && (i == 0 || text[i - 1] != '\r') ? QByteArray("\r\n") : QByteArray(1, text[i]);
    return out.isEmpty() || out.endsWith("\r\n") ? out : out + "\r\n";
}

// What either sender reported in one run: per message ok, text and error.
struct Outcome {
    QList<bool> ok;
    QStringList texts, statuses;
    QList<int> errors;
    int session = -1;
    bool destroyed = false;
};

// The old sender from construction to its self-deletion, on a real event
// loop (so the dialogue runs at full speed); the guard ends a hung run.
template<typename Message>
Outcome send(const QString& server, const Message& message, int timeoutMs = 0, const QString& from = From,
             const QString& to = T("luis@example.net"), const QHostAddress& nameserver = QHostAddress())
{
    Outcome o;
    auto* smtp = new Smtp(from, to, message, server);
    smtp->setNameserver(nameserver);
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
    QList<int> ids;  // the lists follow the order sent, whatever the order of the replies
    QObject::connect(&s, &SmtpSubmission::finished, [&o, &s, &ids](int id, bool ok, const QString& t) {
        const qsizetype at = std::count_if(ids.cbegin(), ids.cend(), [id](int i) { return i < id; });
        ids.insert(at, id);
        o.ok.insert(at, ok);
        o.texts.insert(at, t);
        o.errors.insert(at, int(s.lastError()));
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

} // namespace

class tst_Smtp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void dataBlock_data();
    void dataBlock();
    void wireHelpers();
    void replyReader_data();
    void replyReader();
    void oldScripted_data();
    void oldScripted();
    void refusedBeforeConnecting_data();
    void refusedBeforeConnecting();
    void timeoutsAndSettings();
    void oldCorpus();
    void oldMxLookup();
    void submissionPeer_data();
    void submissionPeer();
    void tool_data();
    void tool();
    void submissionScripted_data();
    void submissionScripted();

private:
    QTemporaryDir dir;
    QString certs;
    Peer peers[3];  // aiosmtpd: plain, STARTTLS, implicit TLS
    quint16 ports[3] = {0, 0, 0};
    int stored[3] = {0, 0, 0};  // messages each peer stored so far

    // The n-th file a peer stored; null when there is none.
    QByteArray storedFile(int peer, int n, const char* suffix) const
    {
        return readTestFile(dir.filePath(QString::asprintf("store%d/%06d%s", peer, n, suffix)));
    }
};

void tst_Smtp::initTestCase()
{
    certs = dir.filePath(T("certs"));
    QString why;
    Peer maker;
    QVERIFY(QDir().mkpath(certs));
    QVERIFY2(maker.start({T("certs"), certs}, &why) == 0 && why.isEmpty(), qPrintable(why));
    const QStringList tls = QStringList{T("--tls"), certs, T("--auth"), User + QLatin1Char(':') + Secret}
        + W("--size 100000 --smtputf8 --refuse refused");
    for (int n = 0; n < 3; ++n) {
        const QString store = dir.filePath(QStringLiteral("store%1").arg(n));
        QVERIFY(QDir().mkpath(store));
        const QStringList extra = n == 0 ? QStringList() : n == 1 ? tls : tls + QStringList{T("--implicit-tls")};
        ports[n] = peers[n].start(QStringList{T("smtp"), T("--store"), store} + extra, &why);
        QVERIFY2(ports[n], qPrintable(why));
    }
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
    QTest::newRow("8-bit and nul") << QByteArray("\xff\0\x80\n", 4) << QByteArray("\xff\0\x80\r\n.\r\n", 8);
}

void tst_Smtp::dataBlock()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, wire);
    QCOMPARE(SmtpWire::dataBlock(text), wire);
}

void tst_Smtp::wireHelpers()
{
    // Text as bytes: Latin-1 whatever the locale, UTF-8 beyond it.
    QTextCodec* before = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("KOI8-R"));
    const QByteArray latin1 = SmtpWire::messageBytes(QString::fromLatin1("Se\xf1or \xff\x80"));
    const QByteArray utf8 = SmtpWire::messageBytes(T("\xe2\x82\xac y \xc3\xb1"));
    QTextCodec::setCodecForLocale(before);
    QCOMPARE(latin1, QByteArray("Se\xf1or \xff\x80"));
    QCOMPARE(utf8, QByteArray("\xe2\x82\xac y \xc3\xb1"));

    // Only printable-ASCII local@domain passes: nothing that could end or
    // extend a command line.
    for (const char* a : {"a.b+c@mail.example.org", "a@[127.0.0.1]"})
        QVERIFY2(SmtpWire::isValidAddress(T(a)), a);
    for (const char* a : {"ana", "@example.org", "a@b@c", "a@b>\r\nRCPT TO: <x@y", "a@b\n", "a b@c", "a@b>",
                          "jos\xc3\xa9@example.org", "a@b\x7f"})
        QVERIFY2(!SmtpWire::isValidAddress(T(a)), a);
    QVERIFY(!SmtpWire::isValidAddress(T("a@b") + QChar(0)));

    // Servers: "host[:port]", bracketed or bare IPv6; port 1 to 65535.
    for (const char* server : {"mail.example.org=mail.example.org:25", "::1=::1:25", "[::1]:587=::1:587",
                               "h:65535=h:65535", "h:0", "h:65536", "h:smtp", ":25", "[::1]x"}) {
        QString host;
        quint16 port = 0;
        const QStringList parts = T(server).split(QLatin1Char('='));
        QCOMPARE(SmtpWire::splitServer(parts[0], &host, &port), parts.size() > 1);
        if (parts.size() > 1)
            QCOMPARE(host + QLatin1Char(':') + QString::number(port), parts[1]);
    }

    // An endless multi-line reply ends as TooLong (an endless line: below).
    QByteArray t;
    int c = 0;
    SmtpWire::ReplyReader many;
    many.feed(QByteArray("250-continuation line\r\n").repeated(SmtpWire::MaxReply / 23 + 1));
    QCOMPARE(many.next(&t, &c), SmtpWire::ReplyReader::TooLong);
}

void tst_Smtp::replyReader_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QList<int>>("codes");
    const auto row = [](const char* name, const QList<QByteArray>& replies, const QList<int>& codes) {
        QTest::newRow(name) << replies.join() << replies << codes;
    };
    row("multi-line then single", {"250-a\r\n250-b\r\n250 c\r\n", "354 go\r\n"}, {250, 354});
    row("code only, bare lf", {"250\n", "221\r\n"}, {250, 221});
    row("continuation code differs", {"220-x\r\n550 no\r\n"}, {550});
    row("garbage lines", {"hello\r\n", "2\r\n", "25x ok\r\n"}, {-1, -1, -1});
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
        for (qsizetype at = 0, end = 0; at < stream.size(); at = end) {
            end = cut < 0 ? at + 1 : at < cut ? cut : stream.size();
            r.feed(stream.mid(at, end - at));
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

void tst_Smtp::oldScripted_data()
{
    QTest::addColumn<QByteArray>("step");   // also "bytes": every reply byte by byte
    QTest::addColumn<QByteArray>("reply");  // or "close" or "silent"
    QTest::addColumn<int>("error");
    const int unexpected = Smtp::UnexpectedReply, closed = Smtp::ConnectionClosed, timeout = Smtp::Timeout;
    const auto row = [](const char* name, const char* step, const QByteArray& reply, int error) {
        QTest::newRow(name) << QByteArray(step) << reply << error;
    };
    row("every reply byte by byte", "bytes", QByteArray(), 0);
    for (const char* step : {"greeting", "helo", "mail", "rcpt", "data", "body", "quit"})
        QTest::addRow("%s 421", step) << QByteArray(step) << QByteArray("421 4.3.0 busy\r\n")
                                      << (qstrcmp(step, "quit") ? unexpected : 0);
    row("554 multi-line", "rcpt", "554-5.7.1 no\r\n554 5.7.1 never\r\n", unexpected);
    row("2xx where 3xx is due", "data", "250 ok\r\n", unexpected);
    row("endless line", "mail", QByteArray(SmtpWire::MaxReplyLine + 10, '2'), unexpected);
    row("helo close", "helo", "close", closed);
    row("body silent", "body", "silent", timeout);
    row("quit close", "quit", "close", 0);
}

void tst_Smtp::oldScripted()
{
    // The byte-exact dialogue however the replies come; any misbehaviour ends the
    // run once, its text the last status, with QUIT only while the link is usable.
    QFETCH(QByteArray, step);
    QFETCH(QByteArray, reply);
    QFETCH(int, error);
    ScriptedServer peer;
    peer.replies["greeting"] = "220-peer.test ESMTP\r\n220-second line\r\n220 ready\r\n";
    peer.replies["mail"] = "250-first\r\n250 2.1.0 Ok\r\n";
    peer.replies[step] = reply;
    peer.oneByte = step == "bytes";
    const QByteArray text("Subject: d\n\n.hid\n.\nQUIT\n\xf1\xff\nend");
    const QMap<int, QString> texts{
        {Smtp::UnexpectedReply, T("Respuesta inesperada desde el servidor SMTP:\n\n")
                                    + QString::fromLatin1(reply.left(SmtpWire::MaxReplyLine))},
        {Smtp::ConnectionClosed, T("Conexión cerrada por el servidor 127.0.0.1")},
        {Smtp::Timeout, T("Tiempo de espera agotado con el servidor 127.0.0.1")}};
    if (error == Smtp::UnexpectedReply)  // without a widgets application the warning box's text goes to the log
        QTest::ignoreMessage(QtWarningMsg, texts[error].toUtf8().constData());
    const Outcome o = send(peer.address(), text, 1000);  // silent rows wait for one time-out
    QVERIFY(o.destroyed);
    QCOMPARE(o.ok, QList<bool>{error == 0});
    QCOMPARE(o.errors, QList<int>{error});
    QCOMPARE(o.texts, QStringList{texts.value(error)});
    QCOMPARE(o.statuses, (QStringList{T("Conectado a 127.0.0.1"), error ? texts[error] : Completed}));
    QCOMPARE(peer.connections, 1);
    if (error == 0)
        QCOMPARE(peer.received, "HELO example.org\r\nMAIL FROM: <ana@example.org>\r\nRCPT TO: <luis@example.net>\r\n"
                                "DATA\r\nSubject: d\r\n\r\n..hid\r\n..\r\nQUIT\r\n\xf1\xff\r\nend\r\n.\r\nQUIT\r\n");
    else
        QCOMPARE(peer.received.endsWith("QUIT\r\n"), error == Smtp::UnexpectedReply);
}

void tst_Smtp::refusedBeforeConnecting_data()
{
    // Either sender refuses what could inject commands, and the old one a
    // server it cannot use, before anything is sent.
    QTest::addColumn<bool>("submission");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("other");  // old: the server; submission: the user
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, bool submission, const QString& from, const QString& to,
                        const QString& other, int error, const char* text) {
        QTest::newRow(name) << submission << from << to << other << error << T(text);
    };
    const QString good = T("c@d"), nul = T("x@y") + QChar(0);
    const char* badTo = "Dirección de destinatario no válida: x@y?";
    const int invalid = SmtpSubmission::InvalidAddress, noAuth = SmtpSubmission::AuthUnavailable;
    row("old: to with nul", false, From, nul, QString(), Smtp::InvalidAddress, badTo);
    row("old: bad port", false, From, good, T("127.0.0.1:0"), Smtp::InvalidServer,
        "Servidor de correo no válido: 127.0.0.1:0");
    row("from with crlf", true, T("a@b>\r\nRCPT TO:<x@y"), good, User, invalid,
        "Dirección de remitente no válida: a@b>??RCPT TO:<x@y");
    row("to with nul", true, From, nul, User, invalid, badTo);
    row("user with lf", true, From, good, T("u\nAUTH"), noAuth, "Credenciales no válidas para 127.0.0.1");
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
        SmtpSubmission s(SmtpSettings{T("127.0.0.1"), peer.serverPort(), SmtpSettings::StartTls, other});
        QTimer::singleShot(300, &s, [&s] { emit s.sessionFinished(SmtpSubmission::NoError, QString()); });
        o = run(s, {{to}}, {QByteArray("x\r\n")}, from);
    } else {
        o = send(other.isEmpty() ? peer.address() : other, QByteArray("x\r\n"), 10000, from, to);
    }
    QCOMPARE(o.ok, QList<bool>{false});
    QCOMPARE(o.errors, QList<int>{error});
    QCOMPARE(o.texts, QStringList{text});
    QCOMPARE(o.statuses, QStringList{text});
    QTest::qWait(20);
    QCOMPARE(peer.connections, 0);
}

void tst_Smtp::timeoutsAndSettings()
{
    // The old sender's time-outs: out-of-range stages ignored, 0 the default;
    // no signal when deleted by its owner before it ran.
    auto* smtp = new Smtp(From, From, QByteArray(), T("127.0.0.1:9"));
    QCOMPARE(Smtp::defaultTimeout(Smtp::Stage(Smtp::QuitStage + 1)), 0);
    smtp->setTimeout(Smtp::Stage(Smtp::QuitStage + 1), 5);
    smtp->setTimeout(Smtp::DataEndStage, 0);
    QCOMPARE(smtp->timeout(Smtp::DataEndStage), 10 * 60000);
    bool finished = false;
    connect(smtp, &Smtp::finished, this, [&finished] { finished = true; });
    delete smtp;
    QTest::qWait(10);
    QVERIFY(!finished);

    // Settings saved and loaded alike; the port by security when none is given.
    QSettings store(dir.filePath(T("s.ini")), QSettings::IniFormat);
    const SmtpSettings s{T("smtp.example.org"), 2465, SmtpSettings::ImplicitTls, User,
                         SmtpSettings::MechPlain | SmtpSettings::MechXOAuth2};
    s.save(store);
    const SmtpSettings r = SmtpSettings::load(store);
    QCOMPARE(QStringLiteral("%1:%2 %3 %4 %5").arg(r.server).arg(r.effectivePort()).arg(r.security).arg(r.user)
                 .arg(r.mechanisms),
             T("smtp.example.org:2465 1 ") + User + T(" 9"));
    QCOMPARE((SmtpSettings{r.server, 0, r.security, r.user}.effectivePort()), 465);
    QCOMPARE(SmtpSettings().effectivePort(), 587);
    QCOMPARE(SmtpSubmission(s).timeout(SmtpSubmission::Stage(SmtpSubmission::QuitStage + 1)), 0);
}

void tst_Smtp::oldCorpus()
{
    // Every corpus message and a few edge cases reach aiosmtpd byte for
    // byte, as bytes and as a Latin-1 string, with their envelope.
    QList<QByteArray> texts{"Subject: t\r\n\r\nbefore\r\n.\r\nMAIL FROM:<x@y>\r\n.\n..\n.leading\nmid.dle\nno end",
                            "Subject: n\n\n.", "Subject: big\n\n" + QByteArray(200000, 'x') + '\n'
                                + QByteArray(".line\n").repeated(300000)};
    for (QDirIterator it(T(ORVANE_CORPUS_DIR), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (!path.endsWith(QLatin1String(".md")) && !path.endsWith(QLatin1String(".tsv")))
            texts << readTestFile(path);
    }
    const QString server = QStringLiteral("127.0.0.1:%1").arg(ports[0]);
    for (const QByteArray& text : texts) {
        for (const Outcome& o : {send(server, text), send(server, QString::fromLatin1(text))}) {
            QVERIFY2(o.ok == QList<bool>{true}, (text.left(60) + o.texts.value(0).toUtf8()).constData());
            QVERIFY2(storedFile(0, ++stored[0], ".eml") == onServer(text), text.left(60).constData());
            QCOMPARE(storedFile(0, stored[0], ".env"), QByteArray("ana@example.org\nluis@example.net\n"));
        }
    }
    if (texts.size() == 3)
        QSKIP("no sample corpus");
}

// Direct delivery: the MX lookup through a real resolver, the exchange's
// address and the dialogue; a domain without MX records fails.
void tst_Smtp::oldMxLookup()
{
    if (geteuid() != 0)
        QSKIP("dnsmasq and the SMTP peer need ports 53 and 25 (root)");
    const quint32 r = QRandomGenerator::global()->generate();  // an address of their own on loopback
    const QString at = QString::asprintf("127.%u.%u.%u", 1 + r % 254, 1 + (r >> 8) % 254, 2 + (r >> 16) % 252);
    Peer peer;
    QString why;
    QVERIFY(QDir().mkpath(dir.filePath(T("store9"))));
    QVERIFY2(peer.start(W("smtp --mx orvane.test") << at << T("--store") << dir.filePath(T("store9")), &why),
             qPrintable(why));
    const QByteArray text("Subject: mx\n\n.dot\n");
    Outcome o = send(QString(), text, 0, From, T("luis@orvane.test"), QHostAddress(at));
    QCOMPARE(o.statuses, (QStringList{T("Conectando a mx.orvane.test"), T("Conectado a ") + at, Completed}));
    QCOMPARE(storedFile(9, 1, ".eml"), onServer(text));
    o = send(QString(), text, 0, From, T("luis@nowhere.test"), QHostAddress(at));
    QCOMPARE(o.statuses, QStringList{T("Error en el registro MX del DNS")});
    QCOMPARE(o.errors, QList<int>{Smtp::DnsError});
}

void tst_Smtp::submissionPeer_data()
{
    // Recipients starting with "refused" get 550 from the peer.
    QTest::addColumn<bool>("implicit");
    QTest::addColumn<int>("mechanisms");
    QTest::addColumn<QStringList>("rcpts");
    QTest::addColumn<QList<QByteArray>>("texts");
    QTest::addColumn<QList<int>>("errors");
    const auto row = [](const char* name, bool implicit, int mechanisms, const QStringList& rcpts,
                        const QList<QByteArray>& texts, const QList<int>& errors) {
        QTest::newRow(name) << implicit << mechanisms << rcpts << texts << errors;
    };
    const QStringList one{T("luis@example.net")};
    const QList<QByteArray> text{"Subject: x\n\n.dot\nbody\n"};
    const int all = SmtpSettings::AllMechanisms;
    row("starttls plain", false, SmtpSettings::MechPlain, one, text, {0});
    row("implicit tls login", true, SmtpSettings::MechLogin, one, text, {0});
    row("some refused", false, all, W("a@x.es refused1@x.es b@x.es refused2@x.es"), text, {0});
    row("all refused", true, all, {T("refused1@example.net")}, text, {SmtpSubmission::RecipientsRefused});
    row("the middle one over SIZE", false, all, one, {"a\n", QByteArray(100001, 'x'), ".b\n"},
        {0, SmtpSubmission::MessageTooLarge, 0});
    row("8-bit text, utf-8 address", true, all, {T("jos\xc3\xa9@ejemplo.es")},
        {"Subject: \xc3\xb1\n\n\xe9\xff\x80\n"}, {0});
}

void tst_Smtp::submissionPeer()
{
    // aiosmtpd over TLS: mechanisms, refusals and limits; each text stored
    // byte for byte with its envelope; credentials in no status or error.
    QFETCH(bool, implicit);
    QFETCH(int, mechanisms);
    QFETCH(QStringList, rcpts);
    QFETCH(QList<QByteArray>, texts);
    QFETCH(QList<int>, errors);
    const int peer = implicit ? 2 : 1;
    SmtpSubmission s(SmtpSettings{T("127.0.0.1"), ports[peer],
                                  implicit ? SmtpSettings::ImplicitTls : SmtpSettings::StartTls, User, mechanisms});
    s.setCaCertificates(QSslCertificate::fromPath(certs + T("/ca.pem")));
    s.setPassword(Secret);
    const Outcome o = run(s, {rcpts}, texts);
    QCOMPARE(o.errors, errors);
    for (const QString& t : o.statuses + o.texts)
        QVERIFY2(!t.contains(Secret) && !t.contains(User), qPrintable(t));
    rcpts.removeIf([](const QString& r) { return r.startsWith(QLatin1String("refused")); });
    for (int i = 0; i < texts.size(); ++i) {
        if (errors[i] != 0)
            continue;
        QCOMPARE(storedFile(peer, ++stored[peer], ".eml"), onServer(texts[i]));
        QCOMPARE(QString::fromUtf8(storedFile(peer, stored[peer], ".env")),
                 (QStringList{From} + rcpts).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    }
    QVERIFY(storedFile(peer, stored[peer] + 1, ".eml").isNull());
}

void tst_Smtp::tool_data()
{
    // %1: the STARTTLS peer's port, %2: a closed port, %3: the message file,
    // %4: the certificate directory, %5: the plain peer's port.
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("summary");
    const auto row = [](const char* name, const QString& args, int exitCode, const char* summary) {
        QTest::newRow(name) << args << exitCode << T(summary);
    };
    const QString direct = T("send --from ana@example.org --to luis@example.net ");
    const QString submit = T("send --server 127.0.0.1:%1 --starttls --from ana@example.org --user ") + User;
    row("direct", direct + T("--server 127.0.0.1:%5 %3"), 0,
        "Conectando a 127.0.0.1:%5\nConectado a 127.0.0.1\nEnvío completado\n");
    row("direct, refused", direct + T("--server 127.0.0.1:%2 %3"), 1,
        "Conectando a 127.0.0.1:%2\nConexión rechazada por 127.0.0.1\n");
    row("to, cc, bcc, two files", submit + T(" --cafile %4/ca.pem --to a@x.es --cc b@x.es --bcc c@x.es %3 %3"), 0,
        "%3: sent\n%3: sent\n");
    row("one refused", submit + T(" --cafile %4/ca.pem --to refused@x.es --to a@x.es %3"), 1,
        "%3: sent, refused: refused@x.es (550 5.1.1 <refused@x.es>: Recipient address rejected)\n");
    row("untrusted without cafile", submit + T(" --to a@x.es %3"), 1,
        "%3: not sent: Conexión segura con 127.0.0.1 fallida: autoridad de certificación desconocida\n");
}

void tst_Smtp::tool()
{
    QFETCH(QString, args);
    QFETCH(int, exitCode);
    QFETCH(QString, summary);
    const QString file = dir.filePath(T("tool.eml"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("Subject: tool\n\n.dot line\n") > 0);
    f.close();
    QTcpServer probe;  // a port nobody listens on once probe is closed
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const QStringList values{QString::number(ports[1]), QString::number(probe.serverPort()), file, certs,
                             QString::number(ports[0])};
    probe.close();
    for (int i = 0; i < values.size(); ++i) {
        args.replace(QLatin1Char('%') + QString::number(i + 1), values[i]);
        summary.replace(QLatin1Char('%') + QString::number(i + 1), values[i]);
    }
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(T("ORVANE_SMTP_PASSWORD"), Secret);
    tool.setProcessEnvironment(env);
    tool.start(T(ORVANE_TOOL), args.split(QLatin1Char(' ')));
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), exitCode);
    QCOMPARE(QString::fromUtf8(tool.readAllStandardOutput()), summary);
    const int peer = args.contains(QLatin1String("--starttls")) ? 1 : 0;
    for (int n = int(summary.count(QLatin1String(": sent")) + summary.count(QLatin1String("completado"))); n > 0; --n)
        QCOMPARE(storedFile(peer, ++stored[peer], ".eml"), QByteArray("Subject: tool\r\n\r\n.dot line\r\n"));
}

void tst_Smtp::submissionScripted_data()
{
    // Two messages, the first to a refused recipient (so RSET follows): the
    // second one's error and text, and all the client sent ("*" at the end:
    // its start; empty: not checked) -- nothing after a security failure.
    QTest::addColumn<QString>("setup");  // security, certificate, then "pinned", "otherpin" or "onebyte"
    QTest::addColumn<QList<QByteArray>>("script");  // step, reply, step, reply...
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<QByteArray>("sent");
    const auto row = [](const char* name, const char* setup, const QList<QByteArray>& script, int error,
                        const QString& text, const QByteArray& sent) {
        QTest::newRow(name) << T(setup) << script << error << text << sent;
    };
    const QByteArray ehlo("EHLO [127.0.0.1]\r\n"), upToTls = ehlo + "STARTTLS\r\n";
    const QByteArray mail("MAIL FROM:<ana@example.org>"), good = upToTls + ehlo + "AUTH CRAM-MD5\r\n*";
    const QByteArray plainAuth = "AUTH PLAIN " + QByteArray('\0' + User.toUtf8() + '\0' + Secret.toUtf8()).toBase64()
        + "\r\n";
    const char *st = "starttls server", *plain = "plain server";
    const QString noMechanism = T("El servidor 127.0.0.1 no ofrece ningún método de autenticación permitido");
    const auto failed = [](const char* why) { return T("Conexión segura con 127.0.0.1 fallida: ") + T(why); };
    const int tlsFailed = SmtpSubmission::TlsFailed, authUnavailable = SmtpSubmission::AuthUnavailable;
    const int closed = SmtpSubmission::ConnectionClosed, timeout = SmtpSubmission::Timeout;
    const QString closedText = T("Conexión cerrada por el servidor 127.0.0.1");
    const QString timeoutText = T("Tiempo de espera agotado con el servidor 127.0.0.1");
    // Pipelined; the CRAM-MD5 answer in one line however long the user name.
    row("every reply byte by byte", "starttls server onebyte", {"auth", "334 PDEuMkBwZWVyLnRlc3Q+\r\n"}, 0, QString(),
        upToTls + ehlo + "AUTH CRAM-MD5\r\nc3VibWlzc2lvbi11c2VyLXdpdGgtYS1sb25nLW5hbWVAZXhhbXBsZS5vcmcgZWJiNjJmNT"
            "ViOWRlOWMwMzExZTBmZTcyZGI4ZWY2M2M=\r\n" + mail + " SIZE=3\r\nRCPT TO:<refused@example.net>\r\nDATA\r\n"
            ".\r\nRSET\r\n" + mail + " SIZE=3\r\nRCPT TO:<luis@example.net>\r\nDATA\r\nx\r\n.\r\nQUIT\r\n");
    // Preferred to the password; the server's error details get an empty line.
    row("xoauth2, token refused", st, {"ehlo2", "250-peer.test\r\n250 AUTH PLAIN XOAUTH2\r\n", "auth",
                                       "334 eyJzdGF0dXMiOiI0MDEifQ==\r\n", "auth2", "535 5.7.8 bad token\r\n"},
        SmtpSubmission::AuthenticationFailed, T("Autenticación fallida en 127.0.0.1: 535 5.7.8 bad token"),
        upToTls + ehlo + "AUTH XOAUTH2 dXNlcj1zdWJtaXNzaW9uLXVzZXItd2l0aC1hLWxvbmctbmFtZUBleGFtcGxlLm9yZwFhdXRoPUJl"
                         "YXJlciB0MGtlbi14AQE=\r\n\r\nQUIT\r\n");
    row("starttls not offered", st, {"ehlo", "250-peer.test\r\n250 AUTH PLAIN\r\n"}, SmtpSubmission::TlsUnavailable,
        T("El servidor 127.0.0.1 no ofrece STARTTLS"), ehlo);
    row("starttls refused", st, {"starttls", "454 4.7.0 no\r\n"}, SmtpSubmission::TlsUnavailable,
        T("El servidor 127.0.0.1 rechazó STARTTLS: 454 4.7.0 no"), upToTls);
    row("injection after go-ahead", st, {"starttls", "220 go\r\n250-peer.test\r\n250 AUTH PLAIN\r\n235 2.7.0 ok\r\n"},
        0, QString(), good);
    row("wrong name", "starttls other", {}, tlsFailed, failed("el certificado es de otro nombre"), upToTls);
    row("self-signed", "starttls selfsigned", {}, tlsFailed, failed("el certificado está autofirmado"), upToTls);
    row("self-signed, pinned", "starttls selfsigned pinned", {}, 0, QString(), good);
    row("valid, pin differs", "starttls server otherpin", {}, tlsFailed, failed("el certificado no es el fijado"),
        upToTls);
    row("plain chosen: auth in clear", plain, {}, 0, QString(), ehlo + plainAuth + mail + "\r\n*");
    row("no allowed mechanism", st, {"ehlo2", "250-peer.test\r\n250 AUTH GSSAPI\r\n"}, authUnavailable, noMechanism,
        upToTls + ehlo + "QUIT\r\n");
    row("535 echoing the credentials", plain, {"auth", "535 5.7.8 bad " + plainAuth},
        SmtpSubmission::AuthenticationFailed, T("Autenticación fallida en 127.0.0.1: 535 5.7.8 bad AUTH PLAIN ****"),
        ehlo + plainAuth + "QUIT\r\n");
    row("8-bit, no 8BITMIME", st, {"ehlo2", "250-peer.test\r\n250 AUTH CRAM-MD5\r\n"},
        SmtpSubmission::EightBitUnsupported, T("El servidor 127.0.0.1 no admite texto de 8 bits (8BITMIME)"), good);
    row("EHLO unknown: HELO, no AUTH", plain, {"ehlo", "502 5.5.1 what\r\n"}, authUnavailable, noMechanism,
        ehlo + "HELO [127.0.0.1]\r\nQUIT\r\n");
    row("sender refused", st, {"mail", "553 5.7.1 not yours\r\n"}, SmtpSubmission::Rejected,
        T("El servidor 127.0.0.1 rechazó el remitente ana@example.org: 553 5.7.1 not yours"), good);
    // Closes and silences share one path each; the TLS handshake and QUIT differ.
    row("handshake close", st, {"handshake", "close"}, closed, closedText, upToTls);
    row("handshake silent", st, {"handshake", "silent"}, timeout, timeoutText, upToTls);
    row("body silent", st, {"body", "silent"}, timeout, timeoutText, good);
    row("quit close", st, {"quit", "close"}, 0, QString(), good);
}

void tst_Smtp::submissionScripted()
{
    QFETCH(QString, setup);
    QFETCH(QList<QByteArray>, script);
    QFETCH(int, error);
    QFETCH(QString, errorText);
    QFETCH(QByteArray, sent);
    const QStringList words = setup.split(QLatin1Char(' '));
    ScriptedServer peer;
    peer.tlsDir = certs;
    peer.cert = words[1];
    peer.oneByte = words.contains(T("onebyte"));
    for (int i = 0; i + 1 < script.size(); i += 2)
        peer.replies[script[i]] = script[i + 1];
    SmtpSubmission s(SmtpSettings{T("127.0.0.1"), peer.serverPort(),
                                  words[0] == T("plain") ? SmtpSettings::Plain : SmtpSettings::StartTls, User});
    s.setPassword(Secret);
    s.setOAuth2Token(T("t0ken-x"));
    s.setCaCertificates(QSslCertificate::fromPath(certs + T("/ca.pem")));
    const QByteArray der = QSslCertificate::fromPath(certs + T("/") + words[1] + T(".pem")).value(0).toDer();
    if (words.last().contains(T("pin")))
        s.setPinnedSha256(words.last() == T("pinned") ? QCryptographicHash::hash(der, QCryptographicHash::Sha256)
                                                      : QByteArray(32, 'p'));
    for (int t = SmtpSubmission::ConnectStage; t <= SmtpSubmission::QuitStage; ++t)
        s.setTimeout(SmtpSubmission::Stage(t), 700);
    const QByteArray text = error == SmtpSubmission::EightBitUnsupported ? "\xe9\r\n" : "x\r\n";
    const Outcome o = run(s, {{T("refused@example.net")}, {T("luis@example.net")}}, {text, text});
    QCOMPARE(o.ok, (QList<bool>{false, error == 0}));
    QCOMPARE(o.errors.last(), error);
    QCOMPARE(o.texts.last(), errorText);
    const bool perMessage = error == SmtpSubmission::Rejected || error == SmtpSubmission::EightBitUnsupported;
    QCOMPARE(o.session, perMessage ? 0 : error);
    if (sent.endsWith('*'))
        QVERIFY2(peer.received.startsWith(sent.chopped(1)), peer.received.constData());
    else if (!sent.isEmpty())
        QCOMPARE(peer.received, sent);
}

QTEST_GUILESS_MAIN(tst_Smtp)
#include "tst_smtp.moc"
