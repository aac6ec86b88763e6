// send: one message to one recipient by SMTP, with the sender's status
// texts shown as it goes.

#include "command.h"

#include <smtp.h>
#include <smtp_p.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>

namespace {

int runSend(QStringList args)
{
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
    QStringLiteral("send --from ADDRESS --to ADDRESS [--server HOST[:PORT]] [FILE|-]"),
    QStringLiteral(
        "Sends the message in FILE (or standard input), as its bytes stand, to one\n"
        "recipient by SMTP. Without --server the mail exchanger of the recipient's\n"
        "domain is looked up (MX). A line starting with \".\" is sent with the dot\n"
        "doubled and bare LF line ends go out as CR LF. Status texts are printed\n"
        "as the dialogue goes. Exits 0 only when the server accepted the message.\n"
        "\n"
        "  --server HOST[:PORT]  the mail server (port 25 when none is given)\n"
        "  --nameserver ADDRESS  ask this DNS server (port 53) for the MX record\n"
        "  --timeout SECONDS     time-out of every stage instead of the defaults"),
    runSend,
});

} // namespace
