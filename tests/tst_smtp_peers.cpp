// The SMTP sender against real peers started by the test: an aiosmtpd
// server (every corpus message round-trips byte for byte) and dnsmasq
// answering MX queries (the whole lookup-connect-dialogue path). The send
// tool's direct form is tested with the submission tool rows.

#include <smtp.h>

#include "smtp/peerprocess.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include <unistd.h>

namespace {

struct Run {
    QStringList statuses;
    int finishedCount = 0;
    bool ok = false;
    QString errorText;
    Smtp::Error error = Smtp::NoError;
};

Run runSmtp(Smtp* smtp)
{
    Run run;
    QObject::connect(smtp, &Smtp::status, [&run](const QString& t) { run.statuses << t; });
    QObject::connect(smtp, &Smtp::finished, [smtp, &run](bool ok, const QString& text) {
        ++run.finishedCount;
        run.ok = ok;
        run.errorText = text;
        run.error = smtp->error();
    });
    QEventLoop loop;
    QObject::connect(smtp, &QObject::destroyed, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    return run;
}

// What a server stores for a text sent with SMTP transparency: bare LF as
// CR LF, and a final CR LF when the text lacks one (the terminator stands
// on its own line). Written independently of the sender's own code.
QByteArray stored(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    if (!out.isEmpty() && !out.endsWith("\r\n"))
        out += "\r\n";
    return out;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList corpusFiles()
{
    QStringList files;
    QDirIterator it(QStringLiteral(ORVANE_CORPUS_DIR), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String(".md")) || path.endsWith(QLatin1String(".tsv")))
            continue;
        files << path;
    }
    files.sort();
    return files;
}

const QString From = QStringLiteral("ana@example.org");
const QString To = QStringLiteral("luis@example.net");

} // namespace

class tst_SmtpPeers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void corpus();
    void mxLookup();

private:
    QTemporaryDir store;
    Peer smtpPeer;
    quint16 smtpPort = 0;
    int storedCount = 0;

    // Sends one text and returns what the server stored for it.
    template<typename Message>
    QByteArray sendAndFetch(const Message& message, Run* run)
    {
        *run = runSmtp(new Smtp(From, To, message, QStringLiteral("127.0.0.1:%1").arg(smtpPort)));
        if (!run->ok)
            return QByteArray("<not accepted: ") + run->errorText.toUtf8() + '>';
        ++storedCount;
        return readFile(store.filePath(QString::asprintf("%06d.eml", storedCount)));
    }
};

void tst_SmtpPeers::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.warning=false"));
    QVERIFY(store.isValid());
    QString why;
    smtpPort = smtpPeer.start({QStringLiteral("smtp"), QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                               QStringLiteral("--store"), store.path()},
                              &why);
    QVERIFY2(smtpPort != 0, qPrintable(QStringLiteral("aiosmtpd peer: ") + why));
}

void tst_SmtpPeers::roundTrip_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("crlf") << QByteArray("Subject: a\r\n\r\nbody\r\n");
    QTest::newRow("bare lf") << QByteArray("Subject: a\n\nline 1\nline 2\n");
    QTest::newRow("dot lines") << QByteArray("Subject: dots\n\n.\n..\n.leading\nmid.dle\n.\r\nQUIT\r\n");
    QTest::newRow("terminator inside") << QByteArray("Subject: t\r\n\r\nbefore\r\n.\r\nMAIL FROM:<x@y>\r\nafter\r\n");
    QTest::newRow("no final line end") << QByteArray("Subject: n\n\nlast line without end");
    QTest::newRow("ends with dot") << QByteArray("Subject: n\n\n.");
    QTest::newRow("8-bit") << QByteArray("Subject: \xf1\n\n\xe9\xff\x80\n");
    QTest::newRow("long line") << (QByteArray("Subject: l\n\n") + QByteArray(200000, 'x') + '\n');
    QTest::newRow("large") << QByteArray("Subject: big\n\n").append(QByteArray(".line\n").repeated(300000));
}

void tst_SmtpPeers::roundTrip()
{
    QFETCH(QByteArray, text);
    Run run;
    QCOMPARE(sendAndFetch(text, &run), stored(text));
    QCOMPARE(run.finishedCount, 1);
    QCOMPARE(run.statuses.last(), QString::fromUtf8("Envío completado"));
    const QByteArray envelope = readFile(store.filePath(QString::asprintf("%06d.env", storedCount)));
    QCOMPARE(envelope, QByteArray("ana@example.org\nluis@example.net\n"));
    // The same text handed over as a string (bytes read as Latin-1).
    QCOMPARE(sendAndFetch(QString::fromLatin1(text), &run), stored(text));
}

void tst_SmtpPeers::corpus()
{
    const QStringList files = corpusFiles();
    if (files.isEmpty())
        QSKIP("no sample corpus");
    int dotLines = 0, bareLf = 0;
    for (const QString& path : files) {
        const QByteArray text = readFile(path);
        if (text.startsWith('.') || text.contains("\n."))
            ++dotLines;
        if (text.contains('\n') && stored(text).size() != text.size())
            ++bareLf;
        Run run;
        QByteArray got = sendAndFetch(text, &run);
        QVERIFY2(got == stored(text), qPrintable(path + QStringLiteral(" (bytes): ") + run.errorText));
        got = sendAndFetch(QString::fromLatin1(text), &run);
        QVERIFY2(got == stored(text), qPrintable(path + QStringLiteral(" (Latin-1 text): ") + run.errorText));
    }
    // The corpus holds what this test is about.
    QVERIFY(dotLines > 0);
    QVERIFY(bareLf > 0);
}

void tst_SmtpPeers::mxLookup()
{
    if (geteuid() != 0)
        QSKIP("dnsmasq and the SMTP peer need ports 53 and 25 (root)");
    if (!QFile::exists(QStringLiteral("/usr/sbin/dnsmasq")))
        QFAIL("dnsmasq is not installed (scripts/install-deps)");
    // QDnsLookup asks a nameserver on port 53 and MX hosts are reached on
    // port 25, so both peers get an address of their own on loopback.
    QTemporaryDir mxStore;
    Peer peer;
    QString address, why;
    for (int attempt = 0; attempt < 6 && address.isEmpty(); ++attempt) {
        const quint32 r = QRandomGenerator::global()->generate();
        const QString a = QStringLiteral("127.%1.%2.%3").arg(1 + r % 254).arg(1 + (r >> 8) % 254).arg(2 + (r >> 16) % 252);
        if (peer.start({QStringLiteral("mx"), QStringLiteral("--address"), a, QStringLiteral("--domain"),
                        QStringLiteral("orvane.test"), QStringLiteral("--store"), mxStore.path()},
                       &why))
            address = a;
    }
    QVERIFY2(!address.isEmpty(), qPrintable(QStringLiteral("mx peers: ") + why));
    const QHostAddress nameserver(address);

    // The whole path: MX lookup, the exchange's address, connection, dialogue.
    auto* smtp = new Smtp(From, QStringLiteral("luis@orvane.test"), QByteArray("Subject: mx\n\n.dot\n"), QString());
    smtp->setNameserver(nameserver);
    Run run = runSmtp(smtp);
    QVERIFY2(run.ok, qPrintable(run.errorText));
    QCOMPARE(run.finishedCount, 1);
    QCOMPARE(run.statuses, (QStringList{QStringLiteral("Conectando a mx.orvane.test"),
                                        QStringLiteral("Conectado a ") + address,
                                        QString::fromUtf8("Envío completado")}));
    QCOMPARE(readFile(mxStore.filePath(QStringLiteral("000001.eml"))), QByteArray("Subject: mx\r\n\r\n.dot\r\n"));
    QCOMPARE(readFile(mxStore.filePath(QStringLiteral("000001.env"))),
             QByteArray("ana@example.org\nluis@orvane.test\n"));

    // A domain without MX records.
    smtp = new Smtp(From, QStringLiteral("luis@nowhere.test"), QByteArray("x\n"), QString());
    smtp->setNameserver(nameserver);
    run = runSmtp(smtp);
    QVERIFY(!run.ok);
    QCOMPARE(run.error, Smtp::DnsError);
    QCOMPARE(run.statuses, QStringList{QStringLiteral("Error en el registro MX del DNS")});

    // An exchange whose name has no address.
    smtp = new Smtp(From, QStringLiteral("luis@broken.orvane.test"), QByteArray("x\n"), QString());
    smtp->setNameserver(nameserver);
    run = runSmtp(smtp);
    QVERIFY(!run.ok);
    QCOMPARE(run.error, Smtp::HostNotFound);
    QCOMPARE(run.statuses, (QStringList{QStringLiteral("Conectando a nohost.orvane.test"),
                                        QStringLiteral("No se encuentra el servidor nohost.orvane.test")}));

    // The tool takes the same path.
    if (QByteArray(ORVANE_TOOL).isEmpty())
        return;
    QProcess tool;
    tool.start(QStringLiteral(ORVANE_TOOL),
               {QStringLiteral("send"), QStringLiteral("--from"), From, QStringLiteral("--to"),
                QStringLiteral("luis@orvane.test"), QStringLiteral("--nameserver"), address, QStringLiteral("-")});
    tool.write("Subject: tool\n\nvia mx\n");
    tool.closeWriteChannel();
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(readFile(mxStore.filePath(QStringLiteral("000002.eml"))), QByteArray("Subject: tool\r\n\r\nvia mx\r\n"));
}

QTEST_GUILESS_MAIN(tst_SmtpPeers)
#include "tst_smtp_peers.moc"
