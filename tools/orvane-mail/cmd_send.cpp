// send: one message to one recipient by SMTP, with the sender's status
// texts shown as it goes; or, with --starttls, --tls or --plain, any number
// of messages through an authenticated submission server.

#include "command.h"

#include <smtp.h>
#include <smtp_p.h>
#include <smtpsubmission.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QSslCertificate>

#include <termios.h>
#include <unistd.h>

namespace {

// Every value of a repeatable option, in order.
QStringList takeAll(QStringList& args, const QString& name, bool* missing)
{
    QStringList values;
    for (QString v = tool::takeOption(args, name, missing); !v.isNull(); v = tool::takeOption(args, name, missing))
        values << v;
    return values;
}

// The secret from a file (its first line), the environment, or a prompt on
// the terminal without echo. Never from the command line.
bool readSecret(const QString& file, QString* secret)
{
    if (!file.isNull()) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            tool::error(QStringLiteral("cannot read %1").arg(file));
            return false;
        }
        *secret = QString::fromUtf8(f.readLine(64 * 1024)).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
        return true;
    }
    if (qEnvironmentVariableIsSet("ORVANE_SMTP_PASSWORD")) {
        *secret = qEnvironmentVariable("ORVANE_SMTP_PASSWORD");
        return true;
    }
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) {
        tool::error(QStringLiteral("no password: use --password-file or ORVANE_SMTP_PASSWORD"));
        return false;
    }
    std::fputs("Password: ", tty);
    std::fflush(tty);
    termios old{};
    const bool isTty = tcgetattr(fileno(tty), &old) == 0;
    if (isTty) {
        termios quiet = old;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(fileno(tty), TCSAFLUSH, &quiet);
    }
    char buf[4096];
    const bool got = std::fgets(buf, sizeof buf, tty) != nullptr;
    if (isTty)
        tcsetattr(fileno(tty), TCSAFLUSH, &old);
    std::fputs("\n", tty);
    std::fclose(tty);
    *secret = got ? QString::fromLocal8Bit(buf).remove(QLatin1Char('\n')).remove(QLatin1Char('\r')) : QString();
    return got;
}

int runSubmit(QStringList args, SmtpSettings::Security security)
{
    bool missing = false;
    SmtpSettings settings;
    settings.security = security;
    const QString server = tool::takeOption(args, QStringLiteral("--server"), &missing);
    const QString from = tool::takeOption(args, QStringLiteral("--from"), &missing);
    const QStringList to = takeAll(args, QStringLiteral("--to"), &missing) + takeAll(args, QStringLiteral("--cc"), &missing)
        + takeAll(args, QStringLiteral("--bcc"), &missing);
    settings.user = tool::takeOption(args, QStringLiteral("--user"), &missing);
    const QString passwordFile = tool::takeOption(args, QStringLiteral("--password-file"), &missing);
    const bool oauth2 = tool::takeFlag(args, QStringLiteral("--oauth2"));
    const QString cafile = tool::takeOption(args, QStringLiteral("--cafile"), &missing);
    const QString pin = tool::takeOption(args, QStringLiteral("--pin"), &missing);
    const QString timeout = tool::takeOption(args, QStringLiteral("--timeout"), &missing);
    if (missing || server.isEmpty() || from.isEmpty() || to.isEmpty()) {
        tool::error(QStringLiteral("--server, --from and at least one --to/--cc/--bcc are required"));
        return tool::ExitUsage;
    }
    if (tool::rejectUnknownOptions(args))
        return tool::ExitUsage;
    // Without a port the security mode's default applies.
    const bool explicitPort = server.startsWith(QLatin1Char('[')) ? server.contains(QLatin1String("]:"))
                                                                  : server.count(QLatin1Char(':')) == 1;
    if (!Orvane::SmtpWire::splitServer(server, &settings.server, &settings.port) || !explicitPort)
        settings.port = 0;
    if (settings.server.isEmpty()) {
        tool::error(QStringLiteral("--server needs HOST[:PORT]"));
        return tool::ExitUsage;
    }
    const QByteArray pinDigest = QByteArray::fromHex(pin.toLatin1());
    if (!pin.isNull() && (pinDigest.size() != 32 || pin.size() != 64)) {
        tool::error(QStringLiteral("--pin needs the 64 hexadecimal digits of a SHA-256 digest"));
        return tool::ExitUsage;
    }
    int timeoutMs = 0;
    if (!timeout.isNull()) {
        timeoutMs = timeout.toInt() * 1000;
        if (timeoutMs < 1000 || timeoutMs > 24 * 3600 * 1000) {
            tool::error(QStringLiteral("--timeout needs a number of seconds"));
            return tool::ExitUsage;
        }
    }
    QStringList files = args.isEmpty() ? QStringList{QStringLiteral("-")} : args;
    QList<QByteArray> texts;
    for (const QString& f : files) {
        bool ok = false;
        texts << tool::readAll(f, &ok);
        if (!ok)
            return tool::ExitFailure;
    }

    if (oauth2)
        settings.mechanisms = SmtpSettings::MechXOAuth2;
    SmtpSubmission submission(settings);
    if (!cafile.isNull()) {
        const QList<QSslCertificate> cas = QSslCertificate::fromPath(cafile);
        if (cas.isEmpty()) {
            tool::error(QStringLiteral("no certificate in %1").arg(cafile));
            return tool::ExitUsage;
        }
        submission.setCaCertificates(cas);
    }
    if (!pin.isNull())
        submission.setPinnedSha256(pinDigest);
    if (timeoutMs > 0) {
        for (int s = SmtpSubmission::ConnectStage; s <= SmtpSubmission::QuitStage; ++s)
            submission.setTimeout(SmtpSubmission::Stage(s), timeoutMs);
    }
    if (!settings.user.isEmpty()) {
        QString secret;
        if (!readSecret(passwordFile, &secret))
            return tool::ExitFailure;
        if (oauth2)
            submission.setOAuth2Token(secret);
        else
            submission.setPassword(secret);
    }

    QMap<int, QString> names;
    QMap<int, QStringList> refused;
    int perfect = 0;
    QEventLoop loop;
    QObject::connect(&submission, &SmtpSubmission::recipientRefused,
                     [&refused](int id, const QString& address, const QString& reply) {
                         refused[id] << address + QStringLiteral(" (") + reply + QLatin1Char(')');
                     });
    QObject::connect(&submission, &SmtpSubmission::finished, [&](int id, bool ok, const QString& text) {
        if (!ok)
            tool::writeLine(names[id] + QStringLiteral(": not sent: ") + text);
        else if (refused.contains(id))
            tool::writeLine(names[id] + QStringLiteral(": sent, refused: ") + refused[id].join(QLatin1String(", ")));
        else
            tool::writeLine(names[id] + QStringLiteral(": sent"));
        perfect += ok && !refused.contains(id);
        std::fflush(stdout);
    });
    QObject::connect(&submission, &SmtpSubmission::sessionFinished, &loop, [&loop, &submission] {
        if (!submission.isBusy())
            loop.quit();
    });
    for (int i = 0; i < texts.size(); ++i)
        names[submission.send(from, to, texts[i])] = files[i];
    if (submission.isBusy())
        loop.exec();
    else
        QCoreApplication::processEvents();
    return perfect == texts.size() ? tool::ExitOk : tool::ExitFailure;
}

int runSend(QStringList args)
{
    const bool starttls = tool::takeFlag(args, QStringLiteral("--starttls"));
    const bool tls = tool::takeFlag(args, QStringLiteral("--tls"));
    const bool plain = tool::takeFlag(args, QStringLiteral("--plain"));
    if (int(starttls) + int(tls) + int(plain) > 1) {
        tool::error(QStringLiteral("give one of --starttls, --tls and --plain"));
        return tool::ExitUsage;
    }
    if (starttls || tls || plain)
        return runSubmit(args, starttls ? SmtpSettings::StartTls : tls ? SmtpSettings::ImplicitTls : SmtpSettings::Plain);

    bool missing = false;
    const QString from = tool::takeOption(args, QStringLiteral("--from"), &missing);
    const QString to = tool::takeOption(args, QStringLiteral("--to"), &missing);
    const QString server = tool::takeOption(args, QStringLiteral("--server"), &missing);
    const QString nameserver = tool::takeOption(args, QStringLiteral("--nameserver"), &missing);
    const QString timeout = tool::takeOption(args, QStringLiteral("--timeout"), &missing);
    if (missing || from.isEmpty() || to.isEmpty()) {
        tool::error(QStringLiteral("--from ADDRESS and --to ADDRESS are required"));
        return tool::ExitUsage;
    }
    QString input;
    if (!tool::singleInput(args, &input))
        return tool::ExitUsage;
    QHostAddress nameserverAddress;
    if (!nameserver.isNull() && !nameserverAddress.setAddress(nameserver)) {
        tool::error(QStringLiteral("--nameserver needs an IP address"));
        return tool::ExitUsage;
    }
    int timeoutMs = 0;
    if (!timeout.isNull()) {
        bool ok = false;
        const int seconds = timeout.toInt(&ok);
        if (!ok || seconds < 1 || seconds > 24 * 3600) {
            tool::error(QStringLiteral("--timeout needs a number of seconds"));
            return tool::ExitUsage;
        }
        timeoutMs = seconds * 1000;
    }
    bool readOk = false;
    const QByteArray message = tool::readAll(input, &readOk);
    if (!readOk)
        return tool::ExitFailure;

    // The first status comes from the constructor, before anyone listens;
    // show it here with the same text (the sender refuses bad addresses
    // before it connects, and then says so itself).
    if (!server.isEmpty() && Orvane::SmtpWire::isValidAddress(from) && Orvane::SmtpWire::isValidAddress(to))
        tool::writeLine(QCoreApplication::translate("Smtp", "Conectando a %1").arg(server));
    auto* smtp = new Smtp(from, to, message, server.isNull() ? QString() : server);
    if (!nameserverAddress.isNull())
        smtp->setNameserver(nameserverAddress);
    if (timeoutMs > 0) {
        for (int s = Smtp::LookupStage; s <= Smtp::QuitStage; ++s)
            smtp->setTimeout(Smtp::Stage(s), timeoutMs);
    }
    bool accepted = false;
    QEventLoop loop;
    QObject::connect(smtp, &Smtp::status, [](const QString& text) {
        tool::writeLine(text);
        std::fflush(stdout);
    });
    QObject::connect(smtp, &Smtp::finished, [&accepted](bool ok, const QString&) { accepted = ok; });
    QObject::connect(smtp, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    if (!accepted)
        tool::error(QStringLiteral("the message was not sent"));
    return accepted ? tool::ExitOk : tool::ExitFailure;
}

const tool::Command::Registrar registrar({
    QStringLiteral("send"),
    QStringLiteral("send --from ADDRESS --to ADDRESS [--server HOST[:PORT]] [FILE|-]\n"
                   "  send --server HOST[:PORT] --starttls|--tls|--plain [--user USER] --from ADDRESS --to ADDRESS... FILE..."),
    QStringLiteral(
        "Sends the message in FILE (or standard input), as its bytes stand, to one\n"
        "recipient by SMTP. Without --server the mail exchanger of the recipient's\n"
        "domain is looked up (MX). A line starting with \".\" is sent with the dot\n"
        "doubled and bare LF line ends go out as CR LF. Status texts are printed\n"
        "as the dialogue goes. Exits 0 only when the server accepted the message.\n"
        "\n"
        "  --server HOST[:PORT]  the mail server (port 25 when none is given)\n"
        "  --nameserver ADDRESS  ask this DNS server (port 53) for the MX record\n"
        "  --timeout SECONDS     time-out of every stage instead of the defaults\n"
        "\n"
        "With --starttls (port 587), --tls (port 465) or --plain (port 587, no\n"
        "encryption) the FILEs go over one connection to a submission server, to\n"
        "every --to, --cc and --bcc address, with one summary line per FILE. Exits\n"
        "0 only when every message was accepted for every recipient.\n"
        "\n"
        "  --user USER           authenticate; the password comes from\n"
        "  --password-file F     the first line of F, or $ORVANE_SMTP_PASSWORD,\n"
        "                        or a prompt on the terminal\n"
        "  --oauth2              the password is an OAuth2 bearer token (XOAUTH2)\n"
        "  --cafile PEM          trust these authorities besides the system's\n"
        "  --pin SHA256HEX       trust the certificate with this SHA-256 digest"),
    runSend,
});

} // namespace
