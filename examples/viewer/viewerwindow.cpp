#include "viewerwindow.h"

#include "composerwindow.h"

#include <indexclass.h>
#include <localmailfolder.h>
#include <foldernotifier.h>
#include <mailfoldermodel.h>
#include <messagedevice.h>
#include <mimecodec.h>
#include <mimepart.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

constexpr int PathRole = Qt::UserRole + 1;

// A folder directory holds the store's files.
bool isFolder(const QString& dir)
{
    return QFileInfo::exists(dir + QLatin1String("/index")) || QFileInfo::exists(dir + QLatin1String("/messages"))
        || dir.endsWith(QLatin1String("sysmail_drafts"));
}

// The store's special folders by their everyday names.
QString folderTitle(const QString& dirName)
{
    static const char* const names[][2] = {
        {"sysmail_inbox", QT_TRANSLATE_NOOP("ViewerWindow", "Inbox")},
        {"sysmail_drafts", QT_TRANSLATE_NOOP("ViewerWindow", "Drafts")},
        {"sysmail_sent", QT_TRANSLATE_NOOP("ViewerWindow", "Sent")},
        {"sysmail_outbox", QT_TRANSLATE_NOOP("ViewerWindow", "Outbox")},
        {"sysmail_deleted", QT_TRANSLATE_NOOP("ViewerWindow", "Deleted")},
    };
    for (const auto& n : names)
        if (dirName == QLatin1String(n[0]))
            return QCoreApplication::translate("ViewerWindow", n[1]);
    return dirName;
}

// Unread messages in bold.
class UnreadDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(MailFolderModel::UnreadRole).toBool())
            option->font.setBold(true);
    }
};

// The bytes of a part as the sender attached them (identity encodings come
// back with one zero byte behind them).
QByteArray partBytes(MessageDevice& dev, int i, bool* ok)
{
    QByteArray data;
    *ok = dev.getPartData(i, data);
    const QByteArray enc = dev[i] ? QByteArray(dev[i]->encoding).toLower() : QByteArray();
    if (*ok && enc != "base64" && data.endsWith('\0'))
        data.chop(1);
    return data;
}

QString partName(const MimePart* p, int i)
{
    const QString name = MIMECodec::translate(p->name).trimmed();
    return name.isEmpty() ? QObject::tr("part %1 (%2)").arg(i).arg(QString::fromLatin1(p->mimetype)) : name;
}

QString escaped(const QString& s)
{
    return s.toHtmlEscaped();
}

}  // namespace

// ---------------------------------------------------------------- browser

MessageBrowser::MessageBrowser(QWidget* parent) : QTextBrowser(parent)
{
    setOpenExternalLinks(true);
}

void MessageBrowser::showMessage(const QString& text, bool isHtml, MessageDevice* device)
{
    _device = device;
    _blocked.clear();
    _allowRemote = false;
    if (isHtml)
        setHtml(text);
    else
        setPlainText(text);
    Q_EMIT remoteBlocked(!_blocked.isEmpty());
}

QVariant MessageBrowser::loadResource(int type, const QUrl& name)
{
    const QString scheme = name.scheme().toLower();
    if (scheme == QLatin1String("cid") && _device) {
        const QByteArray cid = name.path().toLatin1();
        for (int i = 0; i < _device->getPartCount(); ++i) {
            if (QByteArray((*_device)[i]->cid) != cid)
                continue;
            bool ok = false;
            const QByteArray data = partBytes(*_device, i, &ok);
            return ok ? QVariant(QImage::fromData(data)) : QVariant();
        }
        return QVariant();
    }
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        // Remote content tells the sender that the message was read: it
        // is fetched only when the user asks.
        if (!_blocked.contains(name.toString()))
            _blocked << name.toString();
        return QVariant();
    }
    if (scheme.isEmpty() || scheme == QLatin1String("file") || scheme == QLatin1String("qrc"))
        return QVariant();  // never read local files named by a message
    return QTextBrowser::loadResource(type, name);
}

void MessageBrowser::loadRemote()
{
    if (!_net)
        _net = new QNetworkAccessManager(this);
    const MessageDevice* shown = _device;
    for (const QString& u : std::as_const(_blocked)) {
        QNetworkReply* reply = _net->get(QNetworkRequest(QUrl(u)));
        connect(reply, &QNetworkReply::finished, this, [this, reply, u, shown] {
            reply->deleteLater();
            if (shown != _device || reply->error() != QNetworkReply::NoError)
                return;
            document()->addResource(QTextDocument::ImageResource, QUrl(u), QImage::fromData(reply->readAll()));
            setLineWrapColumnOrWidth(lineWrapColumnOrWidth());  // lay the document out again
            viewport()->update();
        });
    }
    _blocked.clear();
    Q_EMIT remoteBlocked(false);
}

// ---------------------------------------------------------------- window

ViewerWindow::ViewerWindow(const QString& root, QWidget* parent)
    : QMainWindow(parent), _root(QDir::cleanPath(QFileInfo(root).absoluteFilePath()))
{
    setWindowTitle(tr("Orvane Mail viewer"));
    openUrl = [](const QUrl& u) { return QDesktopServices::openUrl(u); };
    askSavePath = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, tr("Save attachment"), suggested);
    };
    showError = [this](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Orvane Mail"), text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    QDir().mkpath(draftsPath());

    _folderModel = new QStandardItemModel(this);
    _folders = new QTreeView;
    _folders->setModel(_folderModel);
    _folders->setHeaderHidden(true);
    _folders->setEditTriggers(QAbstractItemView::NoEditTriggers);

    _model = new MailFolderModel(this);
    _list = new QTreeView;
    _list->setModel(_model);
    _list->setSortingEnabled(true);
    _list->sortByColumn(-1, Qt::AscendingOrder);
    _list->setUniformRowHeights(true);
    _list->setAllColumnsShowFocus(true);
    _list->setSelectionMode(QAbstractItemView::SingleSelection);
    _list->setItemDelegate(new UnreadDelegate(_list));
    _list->setRootIsDecorated(false);
    QHeaderView* h = _list->header();
    h->setStretchLastSection(false);
    h->setSectionResizeMode(MailFolderModel::SubjectColumn, QHeaderView::Stretch);
    for (int c : {MailFolderModel::UnreadColumn, MailFolderModel::AttachmentColumn})
        h->setSectionResizeMode(c, QHeaderView::ResizeToContents);

    _header = new QLabel;
    _header->setTextFormat(Qt::RichText);
    _header->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    _header->setWordWrap(true);
    _header->setContentsMargins(6, 4, 6, 4);
    _browser = new MessageBrowser;
    _remoteBar = new QWidget;
    auto* remoteText = new QLabel(tr("Remote images are not shown, so that the sender does not learn that you read this."));
    remoteText->setWordWrap(true);
    auto* remoteLoad = new QPushButton(tr("&Load remote images"));
    auto* rb = new QHBoxLayout(_remoteBar);
    rb->setContentsMargins(6, 2, 6, 2);
    rb->addWidget(remoteText, 1);
    rb->addWidget(remoteLoad);
    _remoteBar->hide();
    connect(_browser, &MessageBrowser::remoteBlocked, _remoteBar, &QWidget::setVisible);
    connect(remoteLoad, &QPushButton::clicked, _browser, &MessageBrowser::loadRemote);

    _attachments = new QListWidget;
    _attachments->setMaximumHeight(64);
    _openButton = new QPushButton(tr("&Open"));
    _saveButton = new QPushButton(tr("Sa&ve..."));
    auto* attachRow = new QHBoxLayout;
    attachRow->addWidget(_attachments, 1);
    auto* attachButtons = new QVBoxLayout;
    attachButtons->addWidget(_openButton);
    attachButtons->addWidget(_saveButton);
    attachButtons->addStretch();
    attachRow->addLayout(attachButtons);
    auto* attachBox = new QWidget;
    attachBox->setLayout(attachRow);
    attachRow->setContentsMargins(0, 0, 0, 0);
    attachBox->hide();
    connect(_attachments, &QListWidget::itemActivated, this, [this] { openAttachment(); });
    connect(_openButton, &QPushButton::clicked, this, [this] { openAttachment(); });
    connect(_saveButton, &QPushButton::clicked, this, [this] {
        const QListWidgetItem* item = _attachments->currentItem();
        if (!item)
            return;
        const QString path = askSavePath(QDir::home().filePath(item->text()));
        if (!path.isEmpty())
            saveAttachment(path);
    });

    auto* view = new QWidget;
    auto* vl = new QVBoxLayout(view);
    vl->setContentsMargins(0, 0, 0, 0);
    vl->setSpacing(0);
    vl->addWidget(_header);
    vl->addWidget(_remoteBar);
    vl->addWidget(_browser, 1);
    vl->addWidget(attachBox);

    _inner = new QSplitter(Qt::Vertical);
    _inner->addWidget(_list);
    _inner->addWidget(view);
    _inner->setStretchFactor(1, 1);
    _outer = new QSplitter(Qt::Horizontal);
    _outer->addWidget(_folders);
    _outer->addWidget(_inner);
    _outer->setStretchFactor(1, 1);
    setCentralWidget(_outer);
    setTabOrder(_folders, _list);
    setTabOrder(_list, _browser);
    setTabOrder(_browser, _attachments);

    // Menus: every command has a key.
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&New message"), QKeySequence::New, this, &ViewerWindow::newMessage);
    file->addAction(tr("&Refresh folders"), QKeySequence::Refresh, this, &ViewerWindow::refreshFolders);
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);
    QMenu* msg = menuBar()->addMenu(tr("&Message"));
    msg->addAction(tr("Toggle &read"), QKeySequence(Qt::CTRL | Qt::Key_U), this, &ViewerWindow::toggleRead);
    msg->addAction(tr("&Delete"), QKeySequence::Delete, this, &ViewerWindow::deleteSelected);
    msg->addAction(tr("&Open attachment"), QKeySequence(Qt::CTRL | Qt::Key_O), this, [this] { openAttachment(); });
    msg->addAction(tr("&Save attachment..."), QKeySequence::Save, _saveButton, &QPushButton::click);
    msg->addAction(tr("Load re&mote images"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I), _browser,
                   &MessageBrowser::loadRemote);
    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    _threaded = viewMenu->addAction(tr("&Threads"));
    _threaded->setCheckable(true);
    _threaded->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(_threaded, &QAction::toggled, this, [this](bool on) {
        _model->setThreaded(on);
        _list->setRootIsDecorated(on);
        if (on)
            _list->expandAll();
    });
    viewMenu->addSeparator();
    viewMenu->addAction(tr("&Folders"), QKeySequence(Qt::ALT | Qt::Key_1), _folders, qOverload<>(&QWidget::setFocus));
    viewMenu->addAction(tr("&Messages"), QKeySequence(Qt::ALT | Qt::Key_2), _list, qOverload<>(&QWidget::setFocus));
    viewMenu->addAction(tr("&Text"), QKeySequence(Qt::ALT | Qt::Key_3), _browser, qOverload<>(&QWidget::setFocus));

    _counts = new QLabel;
    _progress = new QProgressBar;
    _progress->setMaximumWidth(160);
    _progress->hide();
    statusBar()->addPermanentWidget(_progress);
    statusBar()->addPermanentWidget(_counts);

    connect(_folders->selectionModel(), &QItemSelectionModel::currentChanged, this, &ViewerWindow::folderActivated);
    connect(_list->selectionModel(), &QItemSelectionModel::currentChanged, this, &ViewerWindow::messageSelected);
    connect(_model, &QAbstractItemModel::rowsInserted, this, &ViewerWindow::updateStatus);
    connect(_model, &QAbstractItemModel::rowsRemoved, this, &ViewerWindow::updateStatus);
    connect(_model, &QAbstractItemModel::dataChanged, this, &ViewerWindow::updateStatus);
    connect(_model, &QAbstractItemModel::modelReset, this, [this] {
        if (_threaded->isChecked())
            _list->expandAll();
        updateStatus();
    });
    connect(_model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent) {
        if (_threaded->isChecked() && parent.isValid())
            _list->expand(parent);
    });

    // The message shown may be deleted or moved away by any code.
    connect(FolderNotifier::instance(), &FolderNotifier::messageRemoved, this, [this](MailFolder*, const QString& id) {
        if (_device && _device->index()->getID() == id) {
            _browser->showMessage(QString(), false, nullptr);
            _device.reset();
            _attachments->clear();
            _header->clear();
        }
    });

    refreshFolders();
    restoreLayout();
    resize(1000, 640);
    restoreGeometry(QSettings().value(QStringLiteral("viewer/geometry")).toByteArray());
}

ViewerWindow::~ViewerWindow()
{
    _browser->showMessage(QString(), false, nullptr);
    _device.reset();
    _model->setFolder(nullptr);
}

QString ViewerWindow::draftsPath() const
{
    return _root + QLatin1String("/sysmail_drafts");
}

LocalMailFolder* ViewerWindow::folderAt(const QString& path)
{
    const QString key = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    std::unique_ptr<LocalMailFolder>& f = _open[key];
    if (!f)
        f = std::make_unique<LocalMailFolder>(key);
    return f.get();
}

void ViewerWindow::refreshFolders()
{
    const QString current = _folders->currentIndex().data(PathRole).toString();
    _folderModel->clear();
    QHash<QString, QStandardItem*> items;
    items.insert(_root, _folderModel->invisibleRootItem());
    QStringList dirs;
    QDirIterator it(_root, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        dirs << it.next();
    dirs.sort();
    for (const QString& d : std::as_const(dirs)) {
        if (!isFolder(d))
            continue;
        // Directories on the way to a folder are shown as plain nodes.
        QString parentPath = QFileInfo(d).path();
        QStringList chain;
        while (!items.contains(parentPath) && parentPath.startsWith(_root)) {
            chain.prepend(parentPath);
            parentPath = QFileInfo(parentPath).path();
        }
        for (const QString& c : std::as_const(chain)) {
            auto* node = new QStandardItem(QFileInfo(c).fileName());
            node->setSelectable(false);
            items.value(QFileInfo(c).path())->appendRow(node);
            items.insert(c, node);
        }
        auto* item = new QStandardItem(folderTitle(QFileInfo(d).fileName()));
        item->setData(d, PathRole);
        items.value(QFileInfo(d).path(), _folderModel->invisibleRootItem())->appendRow(item);
        items.insert(d, item);
    }
    _folders->expandAll();
    if (!current.isEmpty())
        if (QStandardItem* it2 = items.value(current))
            _folders->setCurrentIndex(it2->index());
}

bool ViewerWindow::openFolder(const QString& path)
{
    const QString key = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QList<QStandardItem*> found =
        _folderModel->findItems(folderTitle(QFileInfo(key).fileName()), Qt::MatchRecursive | Qt::MatchExactly);
    for (QStandardItem* item : found)
        if (item->data(PathRole).toString() == key) {
            _folders->setCurrentIndex(item->index());
            return _folder && _folder->getStorageDevice() == key;
        }
    showError(tr("%1 is not a mail folder under %2").arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(_root)));
    return false;
}

void ViewerWindow::folderActivated()
{
    const QString path = _folders->currentIndex().data(PathRole).toString();
    if (path.isEmpty())
        return;
    _browser->showMessage(QString(), false, nullptr);
    _device.reset();
    _attachments->clear();
    _attachments->parentWidget()->hide();
    _header->clear();
    _folder = folderAt(path);
    _model->setFolder(_folder);
    setWindowTitle(tr("%1 - Orvane Mail viewer").arg(_folder->name()));
    updateStatus();
}

void ViewerWindow::messageSelected()
{
    const QModelIndex current = _list->currentIndex();
    IndexClass* e = _model->entry(current);
    _attachments->clear();
    _browser->showMessage(QString(), false, nullptr);
    _device.reset();
    if (!e) {
        _header->clear();
        _attachments->parentWidget()->hide();
        return;
    }
    _device = std::make_unique<MessageDevice>(e);
    _device->loadDescriptor(false);
    const MessageDescriptor& d = _device->getDescriptor();
    auto row = [](const QString& label, const QString& value) {
        return value.isEmpty() ? QString()
                               : QStringLiteral("<tr><td><b>%1</b>&nbsp;</td><td>%2</td></tr>").arg(label, escaped(value));
    };
    _header->setText(QStringLiteral("<table>") + row(tr("From:"), d.from)
                     + row(tr("To:"), d.to.join(QLatin1String(", "))) + row(tr("Cc:"), d.cc.join(QLatin1String(", ")))
                     + row(tr("Subject:"), d.subject)
                     + row(tr("Date:"), current.siblingAtColumn(MailFolderModel::DateColumn).data().toString())
                     + QStringLiteral("</table>"));
    // The library's HTML view: the HTML parts, or the text parts escaped.
    _browser->showMessage(_device->html(false), true, _device.get());
    if (!_device->hasHtml() && !_device->hasText() && e->getPartCount() > 0)
        statusBar()->showMessage(tr("The message has no text part"), 5000);

    for (int i = 0; i < _device->getPartCount(); ++i) {
        const MimePart* p = (*_device)[i];
        if (p->type != "attachment")
            continue;
        auto* item = new QListWidgetItem(partName(p, i), _attachments);
        item->setData(Qt::UserRole, i);
        item->setToolTip(QString::fromLatin1(p->mimetype));
    }
    _attachments->setCurrentRow(0);
    _attachments->parentWidget()->setVisible(_attachments->count() > 0);
    if (e->getUnreadMark())
        _model->setRead(current, true);
}

QByteArray ViewerWindow::selectedAttachmentData(bool* ok, QString* name)
{
    *ok = false;
    const QListWidgetItem* item = _attachments->currentItem();
    if (!item || !_device) {
        showError(tr("No attachment is selected."));
        return QByteArray();
    }
    *name = item->text();
    const QByteArray data = partBytes(*_device, item->data(Qt::UserRole).toInt(), ok);
    if (!*ok)
        showError(tr("The attachment %1 cannot be read from the folder.").arg(*name));
    return data;
}

bool ViewerWindow::saveAttachment(const QString& path)
{
    bool ok = false;
    QString name;
    const QByteArray data = selectedAttachmentData(&ok, &name);
    if (!ok)
        return false;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
        showError(tr("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), f.errorString()));
        return false;
    }
    statusBar()->showMessage(tr("Saved %1").arg(QDir::toNativeSeparators(path)), 5000);
    return true;
}

bool ViewerWindow::openAttachment()
{
    bool ok = false;
    QString name;
    const QByteArray data = selectedAttachmentData(&ok, &name);
    if (!ok)
        return false;
    // Only the last component of the name, and never an empty or dot name.
    QString safe = QFileInfo(name).fileName();
    safe.replace(QRegularExpression(QStringLiteral("[\\\\/:*?\"<>|\\x00-\\x1f]")), QStringLiteral("_"));
    if (safe.isEmpty() || safe.startsWith(QLatin1Char('.')))
        safe.prepend(QLatin1String("attachment"));
    const QString path = _openDir.filePath(safe);
    QSaveFile f(path);
    if (!_openDir.isValid() || !f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
        showError(tr("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), f.errorString()));
        return false;
    }
    if (!openUrl(QUrl::fromLocalFile(path))) {
        showError(tr("No application opens %1.").arg(name));
        return false;
    }
    return true;
}

void ViewerWindow::toggleRead()
{
    const QModelIndex i = _list->currentIndex();
    if (i.isValid())
        _model->setRead(i, i.data(MailFolderModel::UnreadRole).toBool());
}

void ViewerWindow::deleteSelected()
{
    IndexClass* e = _model->entry(_list->currentIndex());
    if (!e || !_list->hasFocus())
        return;
    _browser->showMessage(QString(), false, nullptr);
    _device.reset();
    if (!_folder->deleteMessage(e))
        showError(tr("The message cannot be deleted."));
}

ComposerWindow* ViewerWindow::newMessage()
{
    if (_composer && _composer->isVisible()) {
        _composer->raise();
        _composer->activateWindow();
        return _composer.get();
    }
    if (!QDir().mkpath(draftsPath())) {
        showError(tr("Cannot create the drafts folder %1").arg(QDir::toNativeSeparators(draftsPath())));
        return nullptr;
    }
    LocalMailFolder* drafts = folderAt(draftsPath());
    _composer = std::make_unique<ComposerWindow>(drafts, nullptr);
    ComposerWindow* c = _composer.get();
    connect(c, &ComposerWindow::error, this, [this](const QString& t) { showError(t); });
    connect(c, &ComposerWindow::statusMessage, this, [this](const QString& t) { statusBar()->showMessage(t, 10000); });
    connect(c, &ComposerWindow::progress, this, [this](int done, int total) {
        _progress->setRange(0, total);
        _progress->setValue(done);
        _progress->setVisible(done < total);
    });
    connect(c, &ComposerWindow::draftSaved, this, [this] { updateStatus(); });
    c->show();
    return c;
}

void ViewerWindow::updateStatus()
{
    if (!_folder) {
        _counts->clear();
        return;
    }
    _counts->setText(tr("%1 messages, %2 unread").arg(_folder->getMessageCount()).arg(_folder->getUnread()));
}

void ViewerWindow::restoreLayout()
{
    QSettings s;
    _outer->restoreState(s.value(QStringLiteral("viewer/outer")).toByteArray());
    _inner->restoreState(s.value(QStringLiteral("viewer/inner")).toByteArray());
    _list->header()->restoreState(s.value(QStringLiteral("viewer/columns")).toByteArray());
    _threaded->setChecked(s.value(QStringLiteral("viewer/threaded"), false).toBool());
    if (_outer->sizes().value(0) == 0 && !s.contains(QStringLiteral("viewer/outer")))
        _outer->setSizes({180, 820});
    if (!s.contains(QStringLiteral("viewer/inner")))
        _inner->setSizes({240, 400});
    if (!s.contains(QStringLiteral("viewer/columns"))) {
        // Wide enough for the values in bold (unread rows).
        QFont bold = _list->font();
        bold.setBold(true);
        const QFontMetrics fm(bold);
        const int pad = 4 * _list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 16;
        _list->header()->resizeSection(MailFolderModel::FromColumn, fm.horizontalAdvance(QStringLiteral("M")) * 14);
        _list->header()->resizeSection(MailFolderModel::DateColumn,
                                       fm.horizontalAdvance(QStringLiteral("2026-12-30 22:22")) + pad);
        _list->header()->resizeSection(MailFolderModel::SizeColumn,
                                       fm.horizontalAdvance(QStringLiteral("1000 KB")) + pad);
    }
}

void ViewerWindow::saveLayout()
{
    QSettings s;
    s.setValue(QStringLiteral("viewer/geometry"), saveGeometry());
    s.setValue(QStringLiteral("viewer/outer"), _outer->saveState());
    s.setValue(QStringLiteral("viewer/inner"), _inner->saveState());
    s.setValue(QStringLiteral("viewer/columns"), _list->header()->saveState());
    s.setValue(QStringLiteral("viewer/threaded"), _threaded->isChecked());
}

void ViewerWindow::closeEvent(QCloseEvent* e)
{
    saveLayout();
    QMainWindow::closeEvent(e);
}
