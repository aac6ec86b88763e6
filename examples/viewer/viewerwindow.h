#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QUrl>

#include <functional>
#include <map>
#include <memory>

class ComposerWindow;
class LocalMailFolder;
class MailFolderModel;
class MessageDevice;
class QAction;
class QLabel;
class QListWidget;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStandardItemModel;
class QTreeView;

/// Shows a message's HTML: images of the message itself (cid:) always,
/// remote images only once the user allows them.
class MessageBrowser : public QTextBrowser
{
    Q_OBJECT

public:
    explicit MessageBrowser(QWidget* parent = nullptr);
    /// Shows \a html (or plain text); \a device answers cid: images.
    void showMessage(const QString& html, bool isHtml, MessageDevice* device);
    /// Remote resources the message asked for and did not get.
    QStringList blockedRemote() const { return _blocked; }
    /// Fetches the blocked remote images and shows them.
    void loadRemote();

Q_SIGNALS:
    void remoteBlocked(bool any);

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    MessageDevice* _device = nullptr;
    QStringList _blocked;
    bool _allowRemote = false;
    QNetworkAccessManager* _net = nullptr;
};

/**
 * \brief The example mail viewer: the folders under a directory, the
 * message list of the selected folder (MailFolderModel, flat or threaded,
 * sortable), and the selected message with its attachments.
 */
class ViewerWindow : public QMainWindow
{
    Q_OBJECT

public:
    /// Shows the folders under \a root (drafts go to root/sysmail_drafts).
    explicit ViewerWindow(const QString& root, QWidget* parent = nullptr);
    ~ViewerWindow() override;

    /// Opens the folder in directory \a path (selecting it in the tree).
    bool openFolder(const QString& path);
    LocalMailFolder* folder() const { return _folder; }
    /// The folder object for directory \a path, opened once and kept while
    /// the window lives (one object per directory: two would not see each
    /// other's changes).
    LocalMailFolder* folderAt(const QString& path);
    MailFolderModel* model() const { return _model; }
    QTreeView* folderTree() const { return _folders; }
    QTreeView* messageList() const { return _list; }
    MessageBrowser* browser() const { return _browser; }
    QListWidget* attachmentList() const { return _attachments; }
    QLabel* headerLabel() const { return _header; }
    /// The composer window, when one is open.
    ComposerWindow* composer() const { return _composer.get(); }
    QString draftsPath() const;

    /// Writes the selected attachment to \a path; false (and a message to
    /// the user) when it cannot be read or written.
    bool saveAttachment(const QString& path);
    /// Writes the selected attachment to a temporary file and opens it.
    bool openAttachment();

    /// How attachments are opened (QDesktopServices by default).
    std::function<bool(const QUrl&)> openUrl;
    /// Asks where to save a file (a file dialog by default).
    std::function<QString(const QString& suggested)> askSavePath;
    /// Shows an error to the user (a message box by default).
    std::function<void(const QString&)> showError;

public Q_SLOTS:
    ComposerWindow* newMessage();
    void refreshFolders();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void folderActivated();
    void messageSelected();
    void updateStatus();
    void restoreLayout();
    void saveLayout();
    QByteArray selectedAttachmentData(bool* ok, QString* name);
    void deleteSelected();
    void toggleRead();

    QString _root;
    std::map<QString, std::unique_ptr<LocalMailFolder>> _open;
    LocalMailFolder* _folder = nullptr;
    // A window of its own (its keys are not the viewer's); it stores into a
    // folder of _open, so it goes first.
    std::unique_ptr<ComposerWindow> _composer;
    std::unique_ptr<MessageDevice> _device;
    QStandardItemModel* _folderModel;
    MailFolderModel* _model;
    QTreeView* _folders;
    QTreeView* _list;
    QLabel* _header;
    MessageBrowser* _browser;
    QWidget* _remoteBar;
    QListWidget* _attachments;
    QPushButton* _openButton;
    QPushButton* _saveButton;
    QSplitter* _outer;
    QSplitter* _inner;
    QAction* _threaded;
    QLabel* _counts;
    QProgressBar* _progress;
    QTemporaryDir _openDir;
};
