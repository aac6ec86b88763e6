// SMTP submission: against aiosmtpd over STARTTLS and implicit TLS with
// certificates made at test time (every mechanism, refusals, limits, a
// batch byte for byte, the tool), and against a scripted server in this
// process that misbehaves at every stage and tries every downgrade.

#include <smtpsubmission.h>

#include "smtp/peerprocess.h"
#include "smtp/scriptedserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString User = QStringLiteral("submission-user-with-a-long-name@example.org");  // > 24 characters
const QString Secret = QStringLiteral("s3cret-pa55");
const QString From = QStringLiteral("ana@example.org");

QString T(const char* text) { return QString::fromUtf8(text); }

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One submission run to its end, with everything it reported.
struct Outcome {
    QList<bool> ok;
    QMap<int, bool> okById;
    QStringList texts;
    QList<int> errors;
    QStringList statuses;
    QStringList refused;
    int sessionError = -1;
};

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
        o.sessionError = int(e);
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

class tst_Submission : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void aiosmtpd_data();
    void aiosmtpd();
    void batchOf100();
    void tool_data();
    void tool();
    void scripted_data();
    void scripted();
    void everyStage_data();
    void everyStage();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void settings();

private:
    QTemporaryDir dir;
    QString certs;
    Peer startTlsPeer, implicitPeer;
    quint16 startTlsPort = 0, implicitPort = 0;
    int stored[2] = {0, 0};  // messages each aiosmtpd peer (STARTTLS, implicit) stored so far

    QString storedFile(bool implicit, int n, const char* suffix) const
    {
        return dir.filePath(QStringLiteral("store%1/%2%3").arg(int(implicit)).arg(n, 6, 10, QLatin1Char('0')).arg(QLatin1String(suffix)));
    }

    SmtpSubmission* make(bool implicit, int mechanisms = SmtpSettings::AllMechanisms)
    {
        SmtpSettings s;
        s.server = QStringLiteral("127.0.0.1");
        s.port = implicit ? implicitPort : startTlsPort;
        s.security = implicit ? SmtpSettings::ImplicitTls : SmtpSettings::StartTls;
        s.user = User;
        s.mechanisms = mechanisms;
        auto* sub = new SmtpSubmission(s, this);
        sub->setCaCertificates(QSslCertificate::fromPath(certs + QStringLiteral("/ca.pem")));
        sub->setPassword(Secret);
        return sub;
    }
};

void tst_Submission::initTestCase()
{
    QVERIFY(dir.isValid());
    certs = dir.filePath(QStringLiteral("certs"));
    QDir().mkpath(certs);
    QDir().mkpath(dir.filePath(QStringLiteral("store0")));
    QDir().mkpath(dir.filePath(QStringLiteral("store1")));
    QString why;
    Peer maker;
    QVERIFY2(maker.start({QStringLiteral("certs"), certs}, &why) == 0 && why.isEmpty(), qPrintable(why));
    maker.stop();
    QVERIFY(QFile::exists(certs + QStringLiteral("/expired.pem")));
    const QStringList common{QStringLiteral("smtp"),    QStringLiteral("--tls"),   certs,  QStringLiteral("--auth"),
                             User + QLatin1Char(':') + Secret, QStringLiteral("--size"), QStringLiteral("100000"),
                             QStringLiteral("--smtputf8"), QStringLiteral("--refuse"), QStringLiteral("refused")};
    startTlsPort = startTlsPeer.start(common + QStringList{QStringLiteral("--store"), dir.filePath(QStringLiteral("store0"))}, &why);
    QVERIFY2(startTlsPort, qPrintable(why));
    implicitPort = implicitPeer.start(common + QStringList{QStringLiteral("--implicit-tls"), QStringLiteral("--store"), dir.filePath(QStringLiteral("store1"))}, &why);
    QVERIFY2(implicitPort, qPrintable(why));
}

void tst_Submission::aiosmtpd_data()
{
    QTest::addColumn<bool>("implicit");
    QTest::addColumn<int>("mechanisms");
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QStringList>("rcpts");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("error");
    QTest::addColumn<QStringList>("refused");
    const QStringList one{QStringLiteral("luis@example.net")};
    const QByteArray text("Subject: x\n\n.dot\nbody\n");
    QTest::newRow("starttls plain") << false << int(SmtpSettings::MechPlain) << Secret << one << text << 0 << QStringList();
    QTest::newRow("starttls login") << false << int(SmtpSettings::MechLogin) << Secret << one << text << 0 << QStringList();
    QTest::newRow("starttls cram-md5, long user") << false << int(SmtpSettings::MechCramMd5) << Secret << one << text << 0
                                                  << QStringList();
    QTest::newRow("starttls xoauth2") << false << int(SmtpSettings::MechXOAuth2) << Secret << one << text << 0
                                      << QStringList();
    QTest::newRow("implicit tls, strongest") << true << int(SmtpSettings::AllMechanisms) << Secret << one << text << 0
                                             << QStringList();
    QTest::newRow("wrong password") << false << int(SmtpSettings::MechPlain) << QStringLiteral("nope") << one << text
                                    << int(SmtpSubmission::AuthenticationFailed) << QStringList();
    QTest::newRow("wrong password cram-md5") << true << int(SmtpSettings::MechCramMd5) << QStringLiteral("nope") << one
                                             << text << int(SmtpSubmission::AuthenticationFailed) << QStringList();
    QTest::newRow("wrong token") << false << int(SmtpSettings::MechXOAuth2) << QStringLiteral("nope") << one << text
                                 << int(SmtpSubmission::AuthenticationFailed) << QStringList();
    const QStringList some{QStringLiteral("a@example.net"), QStringLiteral("refused1@example.net"),
                           QStringLiteral("b@example.net"), QStringLiteral("refused2@example.net")};
    QTest::newRow("some refused") << false << int(SmtpSettings::AllMechanisms) << Secret << some << text << 0
                                  << QStringList{some[1], some[3]};
    QTest::newRow("all refused") << true << int(SmtpSettings::AllMechanisms) << Secret << QStringList{some[1]} << text
                                 << int(SmtpSubmission::RecipientsRefused) << QStringList{some[1]};
    QTest::newRow("over SIZE") << false << int(SmtpSettings::AllMechanisms) << Secret << one
                               << QByteArray(100001, 'x') << int(SmtpSubmission::MessageTooLarge) << QStringList();
    QTest::newRow("8-bit text") << false << int(SmtpSettings::AllMechanisms) << Secret << one
                                << QByteArray("Subject: \xc3\xb1\n\n\xe9\xff\x80\n") << 0 << QStringList();
    QTest::newRow("utf-8 address") << true << int(SmtpSettings::AllMechanisms) << Secret
                                   << QStringList{QString::fromUtf8("jos\xc3\xa9@ejemplo.es")} << text << 0 << QStringList();
}

void tst_Submission::aiosmtpd()
{
    QFETCH(bool, implicit);
    QFETCH(int, mechanisms);
    QFETCH(QString, secret);
    QFETCH(QStringList, rcpts);
    QFETCH(QByteArray, text);
    QFETCH(int, error);
    QFETCH(QStringList, refused);
    std::unique_ptr<SmtpSubmission> s(make(implicit, mechanisms));
    s->setPassword(secret);
    s->setOAuth2Token(secret);
    const Outcome o = run(*s, {rcpts}, {text});
    QCOMPARE(o.ok.size(), 1);
    QCOMPARE(o.errors.first(), error);
    QCOMPARE(o.refused, refused);
    for (const QString& t : o.statuses + o.texts)
        QVERIFY2(!t.contains(secret) && !t.contains(User), qPrintable(t));
    if (error != 0) {
        QVERIFY(!o.ok.first());
        QVERIFY(!QFile::exists(storedFile(implicit, stored[implicit] + 1, ".eml")));
        return;
    }
    QVERIFY2(o.ok.first(), qPrintable(o.texts.first()));
    ++stored[implicit];
    QCOMPARE(readFile(storedFile(implicit, stored[implicit], ".eml")), QByteArray(text).replace("\n", "\r\n"));
    QStringList accepted = rcpts;
    for (const QString& r : refused)
        accepted.removeAll(r);
    QCOMPARE(QString::fromUtf8(readFile(storedFile(implicit, stored[implicit], ".env"))),
             QStringList(QStringList{From} + accepted).join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void tst_Submission::batchOf100()
{
    // 100 messages over one connection, each stored byte for byte; one in
    // the middle refused for its size without disturbing the others.
    std::unique_ptr<SmtpSubmission> s(make(false, SmtpSettings::MechPlain));
    QList<QByteArray> texts;
    for (int i = 0; i < 100; ++i) {
        QByteArray t = "Subject: batch " + QByteArray::number(i) + "\r\n\r\n";
        for (int l = 0; l < i; ++l)
            t += (l % 7 == 0 ? ".line " : "line ") + QByteArray::number(l) + "\r\n";
        texts << (i == 50 ? QByteArray(200000, 'z') : t);
    }
    const Outcome o = run(*s, {{QStringLiteral("luis@example.net")}}, texts);
    QCOMPARE(o.ok.size(), 100);
    QCOMPARE(o.sessionError, 0);
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(o.okById.value(i + 1), i != 50);
        if (i == 50)
            continue;
        QCOMPARE(readFile(storedFile(false, ++stored[0], ".eml")), texts[i]);
    }
}

void tst_Submission::tool_data()
{
    // %1: the STARTTLS peer's port, %2: a closed port, %3: the message file,
    // %4: the certificate directory.
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("summary");
    const QString direct = QStringLiteral("send --from ana@example.org --to luis@example.net ");
    const QString submit = QStringLiteral("send --server 127.0.0.1:%1 --starttls --from ana@example.org ");
    QTest::newRow("direct") << direct + QStringLiteral("--server 127.0.0.1:%1 %3") << 0
                            << T("Conectando a 127.0.0.1:%1\nConectado a 127.0.0.1\nEnvío completado\n");
    QTest::newRow("direct, refused") << direct + QStringLiteral("--server 127.0.0.1:%2 %3") << 1
                                     << T("Conectando a 127.0.0.1:%2\nConexión rechazada por 127.0.0.1\n");
    QTest::newRow("direct, bad address") << QStringLiteral("send --from a@b\rc --to a@x.es --server 127.0.0.1:%1 %3")
                                         << 1 << T("Dirección de remitente no válida: a@b?c\n");
    QTest::newRow("direct, no recipient") << QStringLiteral("send --from ana@example.org %3") << 2 << QString();
    QTest::newRow("direct, --bcc") << direct + QStringLiteral("--bcc a@x.es %3") << 2 << QString();
    const QString auth = QStringLiteral("--user ") + User + QStringLiteral(" --cafile %4/ca.pem ");
    QTest::newRow("to, cc, bcc, two files") << submit + auth + QStringLiteral("--to a@x.es --cc b@x.es --bcc c@x.es %3 %3")
                                            << 0 << QStringLiteral("%3: sent\n%3: sent\n");
    QTest::newRow("one refused") << submit + auth + QStringLiteral("--to refused@x.es --to a@x.es %3") << 1
                                 << QStringLiteral("%3: sent, refused: refused@x.es (550 5.1.1 <refused@x.es>: "
                                                   "Recipient address rejected)\n");
    QTest::newRow("untrusted without cafile")
        << submit + QStringLiteral("--to a@x.es %3") << 1
        << T("%3: not sent: Conexión segura con 127.0.0.1 fallida: autoridad de certificación desconocida\n");
}

void tst_Submission::tool()
{
    if (QByteArray(ORVANE_TOOL).isEmpty())
        QSKIP("the tool is not built");
    QFETCH(QString, args);
    QFETCH(int, exitCode);
    QFETCH(QString, summary);
    const QString file = dir.filePath(QStringLiteral("tool.eml"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("Subject: tool\n\n.dot line\n");
    f.close();
    quint16 closedPort;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    for (QString* a : {&args, &summary})
        a->replace(QLatin1String("%1"), QString::number(startTlsPort)).replace(QLatin1String("%2"), QString::number(closedPort))
            .replace(QLatin1String("%3"), file).replace(QLatin1String("%4"), certs);
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
    for (int n = int(summary.count(QLatin1String(": sent")) + summary.count(QLatin1String("completado"))); n > 0; --n)
        QCOMPARE(readFile(storedFile(false, ++stored[0], ".eml")), QByteArray("Subject: tool\r\n\r\n.dot line\r\n"));
}

void tst_Submission::scripted_data()
{
    QTest::addColumn<int>("security");
    QTest::addColumn<QByteArray>("cert");
    QTest::addColumn<QByteArray>("pin");  // "cert": the certificate's own digest
    QTest::addColumn<QList<QByteArray>>("overrides");  // step, reply, step, reply...
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<QByteArray>("sent");  // all the client sent, or its start when ending in "*"
    const int st = SmtpSettings::StartTls;
    const QByteArray x("x\r\n");
    const QByteArray ehlo("EHLO [127.0.0.1]\r\n");
    const QByteArray upToTls = ehlo + "STARTTLS\r\n";
    const QByteArray plainAuth = "AUTH PLAIN " + QByteArray('\0' + User.toUtf8() + '\0' + Secret.toUtf8()).toBase64()
        + "\r\n";
    const QByteArray good = upToTls + ehlo + "AUTH CRAM-MD5\r\n*";
    QTest::newRow("starttls not offered") << st << QByteArray("server") << QByteArray()
                                          << QList<QByteArray>{"ehlo", "250-peer.test\r\n250 AUTH PLAIN\r\n"} << x
                                          << int(SmtpSubmission::TlsUnavailable)
                                          << T("El servidor 127.0.0.1 no ofrece STARTTLS") << ehlo;
    QTest::newRow("starttls refused") << st << QByteArray("server") << QByteArray() << QList<QByteArray>{"starttls", "454 4.7.0 no\r\n"}
                                      << x << int(SmtpSubmission::TlsUnavailable)
                                      << T("El servidor 127.0.0.1 rechazó STARTTLS: 454 4.7.0 no") << upToTls;
    QTest::newRow("injection after go-ahead")
        << st << QByteArray("server") << QByteArray()
        << QList<QByteArray>{"starttls", "220 go\r\n250-peer.test\r\n250 AUTH PLAIN\r\n235 2.7.0 ok\r\n"} << x << 0
        << QString() << good;
    QTest::newRow("wrong name") << st << QByteArray("other") << QByteArray() << QList<QByteArray>() << x << int(SmtpSubmission::TlsFailed)
                                << T("Conexión segura con 127.0.0.1 fallida: el certificado es de otro nombre")
                                << upToTls;
    QTest::newRow("expired") << st << QByteArray("expired") << QByteArray() << QList<QByteArray>() << x << int(SmtpSubmission::TlsFailed)
                             << T("Conexión segura con 127.0.0.1 fallida: el certificado ha caducado")
                             << upToTls;
    QTest::newRow("self-signed") << st << QByteArray("selfsigned") << QByteArray() << QList<QByteArray>() << x
                                 << int(SmtpSubmission::TlsFailed)
                                 << T("Conexión segura con 127.0.0.1 fallida: el certificado está autofirmado")
                                 << upToTls;
    QTest::newRow("self-signed, pinned") << st << QByteArray("selfsigned") << QByteArray("cert") << QList<QByteArray>() << x << 0
                                         << QString() << good;
    QTest::newRow("valid, pin differs") << st << QByteArray("server") << QByteArray(32, 'p') << QList<QByteArray>() << x
                                        << int(SmtpSubmission::TlsFailed)
                                        << T("Conexión segura con 127.0.0.1 fallida: el certificado no es el fijado")
                                        << upToTls;
    QTest::newRow("implicit tls, expired") << int(SmtpSettings::ImplicitTls) << QByteArray("expired") << QByteArray() << QList<QByteArray>()
                                           << x << int(SmtpSubmission::TlsFailed)
                                           << T("Conexión segura con 127.0.0.1 fallida: el certificado ha caducado")
                                           << QByteArray();
    QTest::newRow("plain chosen: auth in clear") << int(SmtpSettings::Plain) << QByteArray("server") << QByteArray()
                                                 << QList<QByteArray>() << x << 0 << QString()
                                                 << ehlo + plainAuth + "MAIL FROM:<ana@example.org>\r\n*";
    QTest::newRow("no allowed mechanism") << st << QByteArray("server") << QByteArray()
                                          << QList<QByteArray>{"ehlo2", "250-peer.test\r\n250 AUTH GSSAPI\r\n"} << x
                                          << int(SmtpSubmission::AuthUnavailable)
                                          << T("El servidor 127.0.0.1 no ofrece ningún método de "
                                                               "autenticación permitido")
                                          << upToTls + ehlo + "QUIT\r\n";
    QTest::newRow("535 echoing the credentials")
        << int(SmtpSettings::Plain) << QByteArray("server") << QByteArray()
        << QList<QByteArray>{"auth", "535 5.7.8 bad " + plainAuth} << x
        << int(SmtpSubmission::AuthenticationFailed)
        << T("Autenticación fallida en 127.0.0.1: 535 5.7.8 bad AUTH PLAIN ****") << ehlo + plainAuth + "QUIT\r\n";
    QTest::newRow("8-bit, no 8BITMIME") << st << QByteArray("server") << QByteArray()
                                        << QList<QByteArray>{"ehlo2", "250-peer.test\r\n250 AUTH CRAM-MD5\r\n"}
                                        << QByteArray("\xe9\r\n") << int(SmtpSubmission::EightBitUnsupported)
                                        << T("El servidor 127.0.0.1 no admite texto de 8 bits (8BITMIME)") << good;
    QTest::newRow("EHLO unknown: HELO, no AUTH") << int(SmtpSettings::Plain) << QByteArray("server") << QByteArray()
                                        << QList<QByteArray>{"ehlo", "502 5.5.1 what\r\n"} << x
                                        << int(SmtpSubmission::AuthUnavailable)
                                        << T("El servidor 127.0.0.1 no ofrece ningún método de autenticación permitido")
                                        << ehlo + "HELO [127.0.0.1]\r\nQUIT\r\n";
    QTest::newRow("sender refused") << st << QByteArray("server") << QByteArray() << QList<QByteArray>{"mail", "553 5.7.1 not yours\r\n"}
                                    << x << int(SmtpSubmission::Rejected)
                                    << T("El servidor 127.0.0.1 rechazó el remitente ana@example.org: "
                                                         "553 5.7.1 not yours")
                                    << good;
    QTest::newRow("text refused") << st << QByteArray("server") << QByteArray() << QList<QByteArray>{"body", "554 5.6.0 spam\r\n"} << x
                                  << int(SmtpSubmission::Rejected)
                                  << T("El servidor 127.0.0.1 rechazó el mensaje: 554 5.6.0 spam") << good;
}

void tst_Submission::scripted()
{
    QFETCH(int, security);
    QFETCH(QByteArray, cert);
    QFETCH(QByteArray, pin);
    QFETCH(QList<QByteArray>, overrides);
    QFETCH(QByteArray, text);
    QFETCH(int, error);
    QFETCH(QString, errorText);
    QFETCH(QByteArray, sent);
    ScriptedServer peer;
    peer.tlsDir = certs;
    peer.cert = QString::fromLatin1(cert);
    peer.implicitTls = security == SmtpSettings::ImplicitTls;
    for (int i = 0; i + 1 < overrides.size(); i += 2)
        peer.replies[overrides[i]] = overrides[i + 1];
    SmtpSettings settings;
    settings.server = QStringLiteral("127.0.0.1");
    settings.port = peer.serverPort();
    settings.security = SmtpSettings::Security(security);
    settings.user = User;
    SmtpSubmission s(settings);
    s.setPassword(Secret);
    s.setCaCertificates(QSslCertificate::fromPath(certs + QStringLiteral("/ca.pem")));
    if (pin == "cert")
        pin = QCryptographicHash::hash(QSslCertificate::fromPath(certs + QLatin1Char('/') + peer.cert + QStringLiteral(".pem"))
                                           .value(0).toDer(), QCryptographicHash::Sha256);
    s.setPinnedSha256(pin);
    s.setTimeout(SmtpSubmission::QuitStage, 500);
    const Outcome o = run(s, {{QStringLiteral("luis@example.net")}}, {text});
    QCOMPARE(o.ok.size(), 1);
    QCOMPARE(o.errors.first(), error);
    QCOMPARE(o.texts.first(), errorText);
    if (sent.endsWith('*'))
        QVERIFY2(peer.received.startsWith(sent.chopped(1)), peer.received.constData());
    else
        QCOMPARE(peer.received, sent);
}

void tst_Submission::everyStage_data()
{
    QTest::addColumn<QByteArray>("step");
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<bool>("oneByte");
    QTest::addColumn<int>("error");
    for (const char* step : {"greeting", "ehlo", "starttls", "handshake", "ehlo2", "auth", "auth2", "mail", "rcpt",
                             "data", "body", "rset", "quit"}) {
        const bool harmless = qstrcmp(step, "quit") == 0;
        QTest::addRow("%s close", step) << QByteArray(step) << QByteArray("close") << false
                                        << int(harmless ? SmtpSubmission::NoError : SmtpSubmission::ConnectionClosed);
        QTest::addRow("%s silent", step) << QByteArray(step) << QByteArray("silent") << false
                                         << int(harmless ? SmtpSubmission::NoError : SmtpSubmission::Timeout);
    }
    QTest::newRow("every reply byte by byte") << QByteArray() << QByteArray() << true << 0;
}

void tst_Submission::everyStage()
{
    // Two messages, the first refused at RCPT (so RSET follows), over
    // STARTTLS with AUTH CRAM-MD5 (a second AUTH step) and no PIPELINING.
    QFETCH(QByteArray, step);
    QFETCH(QByteArray, action);
    QFETCH(bool, oneByte);
    QFETCH(int, error);
    ScriptedServer peer;
    peer.tlsDir = certs;
    peer.oneByte = oneByte;
    peer.replies["ehlo2"] = "250-peer.test\r\n250 AUTH CRAM-MD5\r\n";
    peer.replies["auth"] = "334 PDEuMkBwZWVyLnRlc3Q+\r\n";
    if (!step.isEmpty())
        peer.replies[step] = action;
    SmtpSettings settings;
    settings.server = QStringLiteral("127.0.0.1");
    settings.port = peer.serverPort();
    settings.user = User;
    SmtpSubmission s(settings);
    s.setPassword(Secret);
    s.setCaCertificates(QSslCertificate::fromPath(certs + QStringLiteral("/ca.pem")));
    for (int t = SmtpSubmission::ConnectStage; t <= SmtpSubmission::QuitStage; ++t)
        s.setTimeout(SmtpSubmission::Stage(t), 700);
    const Outcome o = run(s, {{QStringLiteral("refused@example.net")}, {QStringLiteral("luis@example.net")}},
                          {QByteArray("one\r\n"), QByteArray("two\r\n")});
    QCOMPARE(o.ok.size(), 2);
    QVERIFY(!o.ok[0]);
    QCOMPARE(o.ok[1], error == 0);
    QCOMPARE(o.errors[1], error);
    QCOMPARE(o.sessionError, error);
    if (error == 0)
        QVERIFY(peer.received.contains("RSET\r\nMAIL FROM:<ana@example.org>\r\nRCPT TO:<luis@example.net>\r\nDATA\r\n"
                                       "two\r\n.\r\nQUIT\r\n"));
}

void tst_Submission::refusedBeforeSending_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::newRow("from with crlf") << QStringLiteral("a@b>\r\nRCPT TO:<x@y") << QStringLiteral("c@d") << User
                                    << int(SmtpSubmission::InvalidAddress)
                                    << T("Dirección de remitente no válida: a@b>??RCPT TO:<x@y");
    QTest::newRow("to with nul") << From << QString(QStringLiteral("x@y") + QChar(0)) << User
                                 << int(SmtpSubmission::InvalidAddress) << T("Dirección de destinatario no válida: x@y?");
    QTest::newRow("user with lf") << From << QStringLiteral("c@d") << QStringLiteral("u\nAUTH") << int(SmtpSubmission::AuthUnavailable)
                                  << T("Credenciales no válidas para 127.0.0.1");
}

void tst_Submission::refusedBeforeSending()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, user);
    QFETCH(int, error);
    QFETCH(QString, text);
    ScriptedServer peer;
    SmtpSettings settings;
    settings.server = QStringLiteral("127.0.0.1");
    settings.port = peer.serverPort();
    settings.user = user;
    SmtpSubmission s(settings);
    QTimer::singleShot(300, &s, [&s] { emit s.sessionFinished(SmtpSubmission::NoError, QString()); });
    const Outcome o = run(s, {{to}}, {QByteArray("x\r\n")}, from);
    QCOMPARE(o.errors, QList<int>{error});
    QCOMPARE(o.texts, QStringList{text});
    QCOMPARE(peer.connections, 0);
}

void tst_Submission::settings()
{
    QSettings store(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    SmtpSettings s;
    s.server = QStringLiteral("smtp.example.org");
    s.port = 465;
    s.security = SmtpSettings::ImplicitTls;
    s.user = User;
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
}

QTEST_GUILESS_MAIN(tst_Submission)
#include "tst_submission.moc"
