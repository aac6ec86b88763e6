#include "composerwindow.h"

#include <addressclass.h>
#include <indexclass.h>
#include <localmailfolder.h>
#include <messageclass.h>
#include <messagedevice.h>
#include <mimepart.h>
#include <smtp.h>
#include <smtpsubmission.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QVBoxLayout>

#include <memory>

namespace {

// Splits an address field at commas and semicolons outside quotes.
QStringList splitAddresses(const QString& field)
{
    QStringList out;
    QString cur;
    bool quoted = false;
    for (const QChar c : field) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (!quoted && (c == QLatin1Char(',') || c == QLatin1Char(';'))) {
            if (!cur.trimmed().isEmpty())
                out << cur.trimmed();
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.trimmed().isEmpty())
        out << cur.trimmed();
    return out;
}

QString bareAddress(const QString& address)
{
    return QString::fromUtf8(AddressClass(address).email);
}

struct NewPart {
    QByteArray type, mimetype, encoding, charset, name, data;
};

}  // namespace

ComposerWindow::ComposerWindow(LocalMailFolder* drafts, QWidget* parent)
    : QWidget(parent), _drafts(drafts)
{
    setWindowTitle(tr("New message"));
    _from = new QLineEdit(QSettings().value(QStringLiteral("composer/from")).toString());
    _to = new QLineEdit;
    _cc = new QLineEdit;
    _subject = new QLineEdit;
    _text = new QPlainTextEdit;
    _attachments = new QListWidget;
    _attachments->setMaximumHeight(80);
    auto* form = new QFormLayout;
    form->addRow(tr("&From:"), _from);
    form->addRow(tr("&To:"), _to);
    form->addRow(tr("&Cc:"), _cc);
    form->addRow(tr("&Subject:"), _subject);

    auto* attach = new QPushButton(tr("&Attach..."));
    auto* remove = new QPushButton(tr("&Remove"));
    auto* draft = new QPushButton(tr("Save &draft"));
    _send = new QPushButton(tr("S&end"));
    draft->setShortcut(QKeySequence::Save);
    _send->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(attach);
    buttons->addWidget(remove);
    buttons->addStretch();
    buttons->addWidget(draft);
    buttons->addWidget(_send);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(_text, 1);
    layout->addWidget(_attachments);
    layout->addLayout(buttons);
    setTabOrder(_from, _to);
    setTabOrder(_to, _cc);
    setTabOrder(_cc, _subject);
    setTabOrder(_subject, _text);
    _text->setTabChangesFocus(true);

    connect(attach, &QPushButton::clicked, this, &ComposerWindow::chooseAttachments);
    connect(remove, &QPushButton::clicked, this, [this] {
        const int r = _attachments->currentRow();
        if (r >= 0) {
            delete _attachments->takeItem(r);
            _files.removeAt(r);
        }
    });
    connect(draft, &QPushButton::clicked, this, [this] { saveDraft(); });
    connect(_send, &QPushButton::clicked, this, &ComposerWindow::send);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    resize(640, 480);
}

void ComposerWindow::chooseAttachments()
{
    for (const QString& f : QFileDialog::getOpenFileNames(this, tr("Attach files")))
        addAttachment(f);
}

bool ComposerWindow::addAttachment(const QString& path)
{
    if (!QFileInfo(path).isReadable() || QFileInfo(path).isDir()) {
        Q_EMIT error(tr("Cannot read %1").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    _files << path;
    _attachments->addItem(QFileInfo(path).fileName());
    return true;
}

QString ComposerWindow::saveDraft()
{
    // Read every file before anything is written to the folder.
    std::vector<NewPart> parts;
    const QByteArray text = _text->toPlainText().toUtf8();
    bool ascii = true;
    for (const char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    parts.push_back({"text", "text/plain", "quoted-printable", ascii ? "us-ascii" : "utf-8", {}, text});
    const QMimeDatabase mimes;
    for (const QString& path : std::as_const(_files)) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            Q_EMIT error(tr("Cannot read %1: %2").arg(QDir::toNativeSeparators(path), f.errorString()));
            return QString();
        }
        const QByteArray data = f.readAll();
        QByteArray type = mimes.mimeTypeForFileNameAndData(path, data).name().toLatin1();
        if (type.isEmpty() || type.startsWith("message/") || type.startsWith("multipart/"))
            type = "application/octet-stream";
        parts.push_back({"attachment", type, "base64", {}, QFileInfo(path).fileName().toUtf8(), data});
    }

    const QString where = QDir::toNativeSeparators(_drafts->getStorageDevice());
    const QString id = _drafts->createMessage();
    IndexClass* entry = id.isEmpty() ? nullptr : _drafts->indexIDict()->find(id);
    if (!entry) {
        Q_EMIT error(tr("Cannot store a message in %1").arg(where));
        return QString();
    }
    MessageDevice dev(entry);
    dev.loadDescriptor(false);
    MessageDescriptor& d = dev.getDescriptor();
    d.from = _from->text().trimmed();
    d.to = splitAddresses(_to->text());
    d.cc = splitAddresses(_cc->text());
    d.subject = _subject->text();
    d.status = QStringLiteral("Read");
    dev.saveDescriptor();
    for (const NewPart& np : parts) {
        MimePart* p = dev[dev.createPart()];
        p->type = QCString(np.type);
        p->mimetype = QCString(np.mimetype);
        p->encoding = QCString(np.encoding);
        p->charset = QCString(np.charset);
        p->name = QCString(np.name);
    }
    // Every content change writes the message anew; with no content at all
    // it is written once.
    bool written = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].data.isEmpty())
            continue;
        if (!dev.setPartData(int(i), parts[i].data)) {
            _drafts->deleteMessage(entry);
            Q_EMIT error(tr("Cannot write the message into %1").arg(where));
            return QString();
        }
        written = true;
    }
    if (!written && !dev.saveMessage(-1, QByteArray())) {
        _drafts->deleteMessage(entry);
        Q_EMIT error(tr("Cannot write the message into %1").arg(where));
        return QString();
    }
    dev.loadDescriptor(false);
    const MessageClass composed(dev.rfc822Message());
    dev.getDescriptor().sentDate = QString::fromLatin1(QCString(composed.Date));
    entry->setUnreadMark(false);
    _drafts->decrementUnread();
    dev.saveDescriptor();
    QSettings().setValue(QStringLiteral("composer/from"), _from->text().trimmed());
    Q_EMIT statusMessage(tr("Draft saved"));
    Q_EMIT draftSaved(id);
    return id;
}

void ComposerWindow::send()
{
    const QString from = bareAddress(_from->text());
    QStringList to;
    for (const QString& a : splitAddresses(_to->text()) + splitAddresses(_cc->text()))
        to << bareAddress(a);
    if (from.isEmpty() || to.isEmpty() || to.contains(QString())) {
        Q_EMIT error(tr("Give a sender and at least one recipient, each with an address."));
        return;
    }
    const QString id = saveDraft();
    if (id.isNull())
        return;
    const QByteArray text = MessageDevice(_drafts->indexIDict()->find(id)).rfc822Message();
    if (text.isEmpty()) {
        Q_EMIT error(tr("Cannot read the composed message back"));
        return;
    }
    QSettings settings;
    const SmtpSettings provider = SmtpSettings::load(settings, QStringLiteral("submission"));
    if (!provider.server.isEmpty())
        return submit(provider, from, to, text);
    const QString server = settings.value(QStringLiteral("smtp/server")).toString();
    auto done = std::make_shared<int>(0);
    auto failed = std::make_shared<QStringList>();
    const int total = int(to.size());
    _send->setEnabled(false);
    Q_EMIT progress(0, total);
    for (const QString& rcpt : std::as_const(to)) {
        auto* smtp = new Smtp(from, rcpt, text, server);
        connect(smtp, &Smtp::status, this, &ComposerWindow::statusMessage);
        connect(smtp, &Smtp::finished, this, [this, rcpt, done, failed, total](bool ok, const QString& why) {
            if (!ok)
                *failed << tr("%1: %2").arg(rcpt, why);
            Q_EMIT progress(++*done, total);
            if (*done == total)
                sent(*failed);
        });
    }
}

// One session with the provider's server for all recipients; the password
// is asked for each time and kept nowhere.
void ComposerWindow::submit(const SmtpSettings& settings, const QString& from, const QStringList& to,
                            const QByteArray& text)
{
    QString password;
    if (!settings.user.isEmpty()) {
        password = askPassword ? askPassword(settings.user, settings.server)
                               : QInputDialog::getText(this, tr("Password"),
                                                       tr("Password of %1 at %2:").arg(settings.user, settings.server),
                                                       QLineEdit::Password);
        if (password.isNull()) {
            Q_EMIT statusMessage(tr("Sending cancelled"));
            return;
        }
    }
    auto* session = new SmtpSubmission(settings, this);
    session->setPassword(password);
    password.fill(QLatin1Char(' '));
    auto failed = std::make_shared<QStringList>();
    connect(session, &SmtpSubmission::status, this, &ComposerWindow::statusMessage);
    connect(session, &SmtpSubmission::recipientRefused, this,
            [failed](int, const QString& address, const QString& reply) {
                *failed << tr("%1: %2").arg(address, reply);
            });
    connect(session, &SmtpSubmission::finished, this, [this, session, failed, to](int, bool ok, const QString& why) {
        disconnect(session, &SmtpSubmission::status, this, nullptr);  // the outcome is the last word
        if (!ok)
            *failed = QStringList{tr("%1: %2").arg(to.join(QLatin1String(", ")), why)};
        Q_EMIT progress(1, 1);
        sent(*failed);
    });
    connect(session, &SmtpSubmission::sessionFinished, session, &QObject::deleteLater);
    _send->setEnabled(false);
    Q_EMIT progress(0, 1);
    session->send(from, to, text);
}

void ComposerWindow::sent(const QStringList& failures)
{
    _send->setEnabled(true);
    if (failures.isEmpty()) {
        Q_EMIT statusMessage(tr("Message sent"));
        close();
    } else {
        Q_EMIT error(tr("The message was not sent to every recipient:\n%1").arg(failures.join(QLatin1Char('\n'))));
    }
}
