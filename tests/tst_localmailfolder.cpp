#include <dateclass.h>
#include <indexclass.h>
#include <localmailfolder.h>
#include <messagedevice.h>
#include <messagefactory.h>
#include <mimepart.h>
#include <orvaneversion.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_LocalMailFolder : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void folderKinds_data();
    void folderKinds();
    void storeOneMessage();
    void flagsAndUid();
    void indexFileLog();
    void batchedSync();
    void loadRepeatedIDs();
    void lastIndexID();
    void discardForeignIndex();
    void damagedIndexKeepsHead_data();
    void damagedIndexKeepsHead();
    void compactDropsBrokenAndRebases();
    void compactLevel();
    void compactRelativePath();
    void draftSurvivesCompaction();
    void deleteOne();
    void deleteList();
    void moveAndCopy();
    void moveList();
    void shouldExpungeThreshold();
    void unwritableFolder();
    void partsOutsideFile();
    void deviceReleasedWithEntry();
    void cacheEviction();
    void compactionSurvivesKill();

private:
    QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString newFolderPath(const QString& name = QStringLiteral("box"))
    {
        const QString p = tmp->path() + QLatin1Char('/') + name + QString::number(++serial);
        QDir().mkpath(p);
        return p;
    }
    static QCString message(int n, const char* extra = "")
    {
        return QCString(QByteArray("From: a@example.org\r\nTo: b@example.org\r\nSubject: message ")
                        + QByteArray::number(n) + "\r\nMessage-ID: <m" + QByteArray::number(n)
                        + "@example.org>\r\n" + extra + "\r\nbody " + QByteArray::number(n) + "\r\n");
    }
    std::unique_ptr<QTemporaryDir> tmp = std::make_unique<QTemporaryDir>();
    int serial = 0;
    const QDateTime when = QDateTime(QDate(2026, 12, 6), QTime(10, 30));
};

void tst_LocalMailFolder::init()
{
    QVERIFY(tmp->isValid());
}

void tst_LocalMailFolder::folderKinds_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("place");
    QTest::newRow("inbox") << "/x/mail/sysmail_inbox" << 103 << 0 << 0;
    QTest::newRow("deleted") << "/x/sysmail_deleted" << 101 << 0 << 0;
    QTest::newRow("drafts") << "/x/sysmail_drafts" << 102 << 0 << 0;
    QTest::newRow("outbox") << "/x/sysmail_outbox" << 104 << 0 << 0;
    QTest::newRow("sent before imap") << "/imap_a/sysmail_sent" << 105 << 0 << 0;
    QTest::newRow("sysmail") << "/x/sysmail_other" << 100 << 0 << 0;
    QTest::newRow("imap") << "/x/imap_acct/box" << 100 << 2 << 1;
    QTest::newRow("plain") << "/x/box" << 100 << 0 << 0;
}

void tst_LocalMailFolder::folderKinds()
{
    QFETCH(QString, path);
    QFETCH(int, type);
    QFETCH(int, protocol);
    QFETCH(int, place);
    LocalMailFolder f(path);
    QCOMPARE(f.getFolderType(), type);
    QCOMPARE(f.getFolderProtocol(), protocol);
    QCOMPARE(f.getMessagesPlace(), place);
    QCOMPARE(f.getAccessRights(), 4);
    QCOMPARE(f.getIndexFileName(), path + QLatin1String("/index"));
    QCOMPARE(f.name(), path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
}

void tst_LocalMailFolder::storeOneMessage()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    const QCString text("Subject: x\r\n\r\nhello");  // 19 bytes
    QCOMPARE(text.size(), 19);
    const QString id = f.createMessage(text, "u1", when, QStringLiteral("acct"), nullptr, false, 0);
    QCOMPARE(id.size(), 38);
    QVERIFY(id.startsWith(QLatin1Char('{')));
    const QByteArray separator = "From - " + QByteArray(QCString(DateClass(when))) + "\r\n";
    QCOMPARE(read(path + QLatin1String("/messages")), separator + text + "\r\n");
    IndexClass* e = f.indexIDict()->find(id);
    QVERIFY(e);
    QCOMPARE(e->getUniblockOffset(), long(separator.size()));
    QCOMPARE(e->getUniblockLength(), 19L);
    QCOMPARE(e->getDescriptorOffset(), 0L);
    QCOMPARE(e->getDescriptorLength(), long(read(path + QLatin1String("/descriptor")).size()));

    MessageDevice dev(e);
    dev.loadDescriptor(false);
    QCOMPARE(dev.getDescriptor().account, QStringLiteral("acct"));
    QCOMPARE(dev.getDescriptor().uid, QStringLiteral("u1"));
    QCOMPARE(dev.getDescriptor().indexID, id);
    QCOMPARE(dev.rfc822Message(), text);
}

void tst_LocalMailFolder::flagsAndUid()
{
    LocalMailFolder f(newFolderPath());
    const QString unreadId = f.createMessage(message(1), "", when, QString(), nullptr, false, 0);
    QCOMPARE(f.getUnread(), 1u);
    const QString readId = f.createMessage(message(2), "", when, QString(), nullptr, false, 1);
    QCOMPARE(f.getUnread(), 1u);
    MessageDevice dev(f.indexIDict()->find(readId));
    dev.loadDescriptor(false);
    QCOMPARE(dev.getDescriptor().status, QStringLiteral("Read"));
    QCOMPARE(dev.getDescriptor().messageID, readId);  // empty uid: both become the ID
    QCOMPARE(dev.getDescriptor().uid, readId);
    MessageDevice dev2(f.indexIDict()->find(unreadId));
    dev2.loadDescriptor(false);
    QCOMPARE(dev2.getDescriptor().status, QStringLiteral("New"));
}

void tst_LocalMailFolder::indexFileLog()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    f.createMessage(message(1), "u", when, QString(), nullptr, false, 0);
    const QByteArray one = read(f.getIndexFileName());
    // The header is the version text as a QString.
    QByteArray header;
    {
        QDataStream s(&header, QIODevice::WriteOnly);
        s.setVersion(QDataStream::Qt_3_3);
        s << QStringLiteral(ORVANE_MAIL_VERSION);
    }
    QVERIFY(one.startsWith(header));
    f.createMessage(message(2), "u", when, QString(), nullptr, false, 0);
    const QByteArray two = read(f.getIndexFileName());
    QVERIFY(two.startsWith(one));  // the second record is appended
    QVERIFY(two.size() > one.size());
}

void tst_LocalMailFolder::batchedSync()
{
    const QString path = newFolderPath();
    {
        LocalMailFolder f(path);
        QTest::ignoreMessage(QtDebugMsg, "Force syncing");
        QTest::ignoreMessage(QtDebugMsg, "Sync 300 mails.");
        for (int i = 0; i < 300; ++i)
            f.createMessage(message(i), "u", when, QString(), nullptr, true, 0);
        QCOMPARE(f.getMessageCount(), 300);
        QTest::ignoreMessage(QtDebugMsg, "Sync 1 mails.");
        f.createMessage(message(300), "u", when, QString(), nullptr, true, 0);
    }  // the destructor syncs the last one
    LocalMailFolder again(path);
    QCOMPARE(again.getMessageCount(), 301);
    QCOMPARE(again.getUnread(), 301u);
    for (IndexClass* e : again.indexIDict()->entries())
        QVERIFY(e->getDescriptorLength() > 0);
}

static QByteArray indexFile(const QList<IndexClass*>& entries, const QString& header = QStringLiteral(ORVANE_MAIL_VERSION))
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_3_3);
    s << header;
    for (IndexClass* e : entries)
        s << *e;
    return out;
}

static void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

void tst_LocalMailFolder::loadRepeatedIDs()
{
    const QString path = newFolderPath();
    IndexClass a(nullptr, QStringLiteral("{same}")), b(nullptr, QStringLiteral("{same}"));
    a.setUnreadMark(true);
    a.setUniblockLength(1);
    b.setUnreadMark(true);
    b.setUniblockLength(2);
    writeFile(path + QLatin1String("/index"), indexFile({&a, &b}));
    LocalMailFolder f(path);
    QCOMPARE(f.getMessageCount(), 1);
    QCOMPARE(f.getPruneIndexCount(), 1u);
    QCOMPARE(f.getUnread(), 1u);
    QCOMPARE(f.indexIDict()->find(QStringLiteral("{same}"))->getUniblockLength(), 2L);
}

void tst_LocalMailFolder::lastIndexID()
{
    MailFolder::setLastIndexID(0);
    const QString path = newFolderPath();
    IndexClass uuid(nullptr, MailFolder::nextIndexID()), n41(nullptr, QStringLiteral("abc41")),
        n42(nullptr, QStringLiteral("abc42"));
    writeFile(path + QLatin1String("/index"), indexFile({&uuid}));
    { LocalMailFolder f(path); }
    QCOMPARE(MailFolder::getLastIndexID(), 0ul);
    writeFile(path + QLatin1String("/index"), indexFile({&n41}));
    { LocalMailFolder f(path); }
    QCOMPARE(MailFolder::getLastIndexID(), 42ul);
    writeFile(path + QLatin1String("/index"), indexFile({&n42}));
    { LocalMailFolder f(path); }
    QCOMPARE(MailFolder::getLastIndexID(), 42ul);
}

void tst_LocalMailFolder::discardForeignIndex()
{
    const QString path = newFolderPath(QStringLiteral("old"));
    IndexClass a(nullptr, QStringLiteral("{a}"));
    const QByteArray file = indexFile({&a}, QStringLiteral("0.9"));
    writeFile(path + QLatin1String("/index"), file);
    const QByteArray diag = "Folder " + QDir(path).dirName().toLatin1()
        + " attempted to read an older version or invalid index                   cache, discarding index...";
    QTest::ignoreMessage(QtDebugMsg, diag.constData());
    LocalMailFolder f(path);
    QCOMPARE(f.getMessageCount(), 0);
    QCOMPARE(read(path + QLatin1String("/index")), file);  // left as it is
}

void tst_LocalMailFolder::damagedIndexKeepsHead_data()
{
    QTest::addColumn<int>("cut");  // bytes cut from the end of the file
    QTest::addColumn<QByteArray>("garbage");
    QTest::addColumn<int>("kept");
    QTest::newRow("intact") << 0 << QByteArray() << 3;
    QTest::newRow("last record cut") << 5 << QByteArray() << 2;
    QTest::newRow("hostile count appended") << 0 << QByteArray::fromHex("7ffffff0") << 3;
    QTest::newRow("garbage appended") << 0 << QByteArray(1000, '\xff') << 3;
}

void tst_LocalMailFolder::damagedIndexKeepsHead()
{
    QFETCH(int, cut);
    QFETCH(QByteArray, garbage);
    QFETCH(int, kept);
    const QString path = newFolderPath();
    {
        LocalMailFolder f(path);
        for (int i = 0; i < 3; ++i)
            f.createMessage(message(i), "u", when, QString(), nullptr, true, 0);
    }
    QByteArray index = read(path + QLatin1String("/index"));
    index.chop(cut);
    index.append(garbage);
    writeFile(path + QLatin1String("/index"), index);
    if (kept < 3 || !garbage.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("index file damaged after \\d+ records")));
    {
        LocalMailFolder f(path);
        QCOMPARE(f.getMessageCount(), kept);
        for (IndexClass* e : f.indexIDict()->entries()) {
            MessageDevice dev(e);
            QVERIFY(dev.rfc822Message().startsWith("From: a@example.org"));
        }
        // What is stored next must not end up behind the damage.
        QTest::ignoreMessage(QtDebugMsg, "Sync 1 mails.");
        f.createMessage(message(9), "u", when, QString(), nullptr, true, 0);
    }
    LocalMailFolder again(path);
    QCOMPARE(again.getMessageCount(), kept + 1);
}

void tst_LocalMailFolder::compactDropsBrokenAndRebases()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    QStringList ids;
    for (int i = 0; i < 4; ++i)
        ids << f.createMessage(message(i, "Content-Type: text/plain\r\n"), "u", when, QString(), nullptr, false, 0);
    // Waste: save every descriptor once more.
    for (IndexClass* e : f.indexIDict()->entries()) {
        MessageDevice dev(e);
        dev.loadDescriptor(false);
        dev.saveDescriptor();
    }
    f.indexIDict()->find(ids[1])->setDescriptorLength(0);  // broken
    QTest::ignoreMessage(QtDebugMsg, "The index file seems to be broken :(");
    QVERIFY(f.compact(0));
    QCOMPARE(f.getMessageCount(), 3);
    QVERIFY(!f.indexIDict()->find(ids[1]));
    QVERIFY(!QFile::exists(path + QLatin1String("/messagesnew")));
    QVERIFY(!QFile::exists(path + QLatin1String("/descriptornew")));
    QVERIFY(!QFile::exists(path + QLatin1String("/compact.commit")));
    const QByteArray msgs = read(path + QLatin1String("/messages"));
    const QByteArray desc = read(path + QLatin1String("/descriptor"));
    qint64 descTotal = 0;
    for (int i : {0, 2, 3}) {
        IndexClass* e = f.indexIDict()->find(ids[i]);
        MessageDevice dev(e);
        QCOMPARE(dev.rfc822Message(), message(i, "Content-Type: text/plain\r\n"));
        QByteArray body;
        QVERIFY(dev.getPartData(0, body));
        QCOMPARE(body, QByteArray("body ") + QByteArray::number(i) + "\r\n" + '\0');
        dev.loadDescriptor(false);
        QCOMPARE(dev.getDescriptor().indexID, ids[i]);
        descTotal += e->getDescriptorLength();
        QVERIFY(msgs.mid(e->getUniblockOffset() - 2, 2) == "\r\n");
    }
    QCOMPARE(qint64(desc.size()), descTotal);
    // The rewritten index loads to the same state.
    LocalMailFolder again(path);
    QCOMPARE(again.getEntryList(QString()), f.getEntryList(QString()));
    QCOMPARE(again.getEntryList(QStringLiteral("Inbox")).first(), QLatin1String("Inbox/") + ids[0]);
}

void tst_LocalMailFolder::compactLevel()
{
    LocalMailFolder f(newFolderPath());
    f.createMessage(message(1), "u", when, QString(), nullptr, false, 0);
    QTest::ignoreMessage(QtDebugMsg, "Folder compressing isn't yet available.");
    QVERIFY(f.compact(1));
    QCOMPARE(f.getMessageCount(), 1);
    LocalMailFolder missing(tmp->path() + QLatin1String("/nowhere"));
    QVERIFY(!missing.compact(0));
}

void tst_LocalMailFolder::compactRelativePath()
{
    // A folder named by a path relative to the working directory compacts
    // like any other (the new files are renamed over the old ones there).
    const QString path = newFolderPath(QStringLiteral("relative"));
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QFileInfo(path).path()));
    {
        LocalMailFolder f(QFileInfo(path).fileName());
        const QString a = f.createMessage(message(1), "u", when, QString(), nullptr, false, 0);
        f.createMessage(message(2), "u", when, QString(), nullptr, false, 0);
        QVERIFY(f.deleteMessage(QStringList{a}));
        QCOMPARE(f.getMessageCount(), 1);
    }
    QVERIFY(QDir::setCurrent(old));
    QVERIFY(!QFile::exists(path + QLatin1String("/compact.commit")));
    QVERIFY(!QFile::exists(path + QLatin1String("/messagesnew")));
    QVERIFY(!read(path + QLatin1String("/messages")).contains("message 1"));
    LocalMailFolder again(path);
    QCOMPARE(again.getMessageCount(), 1);
}

void tst_LocalMailFolder::draftSurvivesCompaction()
{
    // A message created for composition has a descriptor but no text yet;
    // deleting another message (which compacts) must not take it along.
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    const QString stored = f.createMessage(message(1), "u", when, QString(), nullptr, false, 0);
    const QString draft = f.createMessage();
    {
        MessageDevice dev(f.indexIDict()->find(draft));
        dev.loadDescriptor(false);
        dev.getDescriptor().subject = QStringLiteral("borrador");
        dev.saveDescriptor();
    }
    QVERIFY(f.deleteMessage(f.indexIDict()->find(stored)));
    QVERIFY(f.indexIDict()->find(draft));
    LocalMailFolder again(path);
    IndexClass* e = again.indexIDict()->find(draft);
    QVERIFY(e);
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    QCOMPARE(dev.getDescriptor().subject, QStringLiteral("borrador"));
}

void tst_LocalMailFolder::deleteOne()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    LocalMailFolder other(newFolderPath());
    const QString a = f.createMessage(message(1), "u", when, QString(), nullptr, false, 0);
    const QString b = f.createMessage(message(2), "u", when, QString(), nullptr, false, 0);
    const QString c = other.createMessage(message(3), "u", when, QString(), nullptr, false, 0);
    QVERIFY(!f.deleteMessage(other.indexIDict()->find(c)));
    QVERIFY(!f.deleteMessage(static_cast<IndexClass*>(nullptr)));
    QVERIFY(f.deleteMessage(f.indexIDict()->find(a)));
    QCOMPARE(f.getUnread(), 1u);
    QVERIFY(!read(path + QLatin1String("/messages")).contains("message 1"));
    LocalMailFolder again(path);
    QCOMPARE(again.getEntryList(QString()), QStringList{b});
}

void tst_LocalMailFolder::deleteList()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    QStringList ids;
    for (int i = 0; i < 5; ++i)
        ids << f.createMessage(message(i), "u", when, QString(), nullptr, true, 0);
    f.sync();
    QVERIFY(!f.deleteMessage(QStringList{ids[0], QStringLiteral("{unknown}")}));
    QCOMPARE(f.getMessageCount(), 5);
    QVERIFY(f.deleteMessage(QStringList{ids[0], ids[2], ids[4], ids[2]}));
    QCOMPARE(f.getEntryList(QString()), (QStringList{ids[1], ids[3]}));
    QCOMPARE(f.getUnread(), 2u);
    const QByteArray msgs = read(path + QLatin1String("/messages"));
    QVERIFY(!msgs.contains("message 0") && !msgs.contains("message 2") && msgs.contains("message 3"));
    LocalMailFolder again(path);
    QCOMPARE(again.getMessageCount(), 2);
}

void tst_LocalMailFolder::moveAndCopy()
{
    const QString srcPath = newFolderPath();
    LocalMailFolder src(srcPath);
    LocalMailFolder dst(newFolderPath());
    const QString a = src.createMessage(message(1), "uid-a", when, QStringLiteral("acct"), nullptr, false, 1);
    const QString copy = dst.copyMessage(src.indexIDict()->find(a));
    QVERIFY(!copy.isNull());
    QCOMPARE(src.getMessageCount(), 1);
    const QString moved = dst.moveMessage(src.indexIDict()->find(a));
    QVERIFY(!moved.isNull());
    QCOMPARE(src.getMessageCount(), 0);
    QCOMPARE(dst.getMessageCount(), 2);
    IndexClass* e = dst.indexIDict()->find(moved);
    QVERIFY(!e->getUnreadMark());
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    QCOMPARE(dev.getDescriptor().uid, QStringLiteral("uid-a"));
    QCOMPARE(dev.getDescriptor().account, QStringLiteral("acct"));
    QCOMPARE(dev.rfc822Message(), message(1));
    QVERIFY(dst.copyMessage(static_cast<IndexClass*>(nullptr)).isNull());
}

void tst_LocalMailFolder::moveList()
{
    LocalMailFolder a(newFolderPath()), b(newFolderPath()), dst(newFolderPath());
    QStringList ids;
    ids << a.createMessage(message(1), "u", when, QString(), nullptr, false, 0)
        << a.createMessage(message(2), "u", when, QString(), nullptr, false, 0)
        << b.createMessage(message(3), "u", when, QString(), nullptr, false, 0);
    QVERIFY(!dst.moveMessage(QStringList{ids[0], QStringLiteral("{nope}")}));
    QCOMPARE(a.getMessageCount(), 2);
    QCOMPARE(dst.getMessageCount(), 0);
    QVERIFY(dst.moveMessage(QStringList{QLatin1String("a/") + ids[0], ids[1], ids[2]}));
    QCOMPARE(a.getMessageCount(), 0);
    QCOMPARE(b.getMessageCount(), 0);
    QCOMPARE(dst.getMessageCount(), 3);
    QVERIFY(dst.copyMessage(dst.getEntryList(QString())));
    QCOMPARE(dst.getMessageCount(), 6);
}

void tst_LocalMailFolder::shouldExpungeThreshold()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    f.createMessage(message(1), "u", when, QString(), nullptr, false, 0);
    QVERIFY(f.compact(0));  // no waste now
    const QByteArray msgs = read(path + QLatin1String("/messages"));
    QTest::ignoreMessage(QtDebugMsg, "localmailfolder: computing waste...");
    QVERIFY(!f.expunge(false));
    // Waste in both rewritten files counts: 102400 bytes are not enough...
    writeFile(path + QLatin1String("/messages"), msgs + QByteArray(100000, 'x'));
    QFile d(path + QLatin1String("/descriptor"));
    QVERIFY(d.open(QIODevice::Append));
    d.write(QByteArray(2400, 'y'));
    d.close();
    QTest::ignoreMessage(QtDebugMsg, "localmailfolder: computing waste...");
    QVERIFY(!f.expunge(false));
    // ... one more byte is.
    QVERIFY(d.open(QIODevice::Append));
    d.write("y");
    d.close();
    QTest::ignoreMessage(QtDebugMsg, "localmailfolder: computing waste...");
    QVERIFY(f.expunge(false));
    QCOMPARE(read(path + QLatin1String("/messages")).size(), msgs.size());
    QVERIFY(f.expunge(true));
}

void tst_LocalMailFolder::unwritableFolder()
{
    // A folder whose directory cannot exist: the messages file cannot be
    // written, so no entry may be created.
    const QString path = tmp->path() + QLatin1String("/file");
    writeFile(path, "x");
    LocalMailFolder f(path + QLatin1String("/box"));
    QVERIFY(f.createMessage(message(1), "u", when, QString(), nullptr, false, 0).isNull());
    QCOMPARE(f.getMessageCount(), 0);
    QCOMPARE(f.getUnread(), 0u);
}

void tst_LocalMailFolder::partsOutsideFile()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    const QString id = f.createMessage(message(1), "u", when, QString(), nullptr, false, 0);
    IndexClass* e = f.indexIDict()->find(id);
    QVERIFY(e->getPartCount() >= 1);
    e->getPartAt(0)->offset = 1 << 30;
    MessageDevice dev(e);
    QByteArray data("junk");
    QTest::ignoreMessage(QtDebugMsg, "messagedevice: part lies outside the messages file");
    QVERIFY(!dev.getPartData(0, data));
    QVERIFY(data.isEmpty());
    e->setUniblockOffset(-5, false);
    QVERIFY(dev.rfc822Message().isNull());
    QTest::ignoreMessage(QtDebugMsg, "messagedevice: part out of scope (1 parts registered)");
    QVERIFY(!dev.getPartData(1, data));
}

void tst_LocalMailFolder::deviceReleasedWithEntry()
{
    MessageFactory* factory = MessageFactory::thisInstance();
    const QString path = newFolderPath();
    QString id;
    {
        LocalMailFolder f(path);
        id = f.createMessage(message(1), "u", when, QString(), nullptr, false, 0);
        IndexClass* e = f.indexIDict()->find(id);
        MessageDevice* dev = factory->getMessage(e);
        QCOMPARE(factory->getMessage(e), dev);
        QVERIFY(f.deleteMessage(e));
    }
    {
        // The same ID in a new folder object gets a device of its own; the
        // device of the deleted entry is gone (ASan would see a stale one).
        IndexClass fresh(nullptr, id);
        MessageDevice* dev = factory->getMessage(&fresh);
        QCOMPARE(dev->index(), &fresh);
    }
    {
        LocalMailFolder f(path);
        const QString id2 = f.createMessage(message(2), "u", when, QString(), nullptr, false, 0);
        MessageDevice* dev = factory->getMessage(f.indexIDict()->find(id2));
        QVERIFY(dev);
    }  // folder destroyed: its entries and their devices go
    IndexClass probe(nullptr, QStringLiteral("{probe}"));
    QCOMPARE(factory->getMessage(&probe)->index(), &probe);
}

void tst_LocalMailFolder::cacheEviction()
{
    MessageFactory* factory = MessageFactory::thisInstance();
    std::vector<std::unique_ptr<IndexClass>> entries;
    for (int i = 0; i < 1002; ++i)
        entries.push_back(std::make_unique<IndexClass>(nullptr, QStringLiteral("{e%1}").arg(i)));
    std::vector<MessageDevice*> devs;
    for (int i = 0; i < 1000; ++i)
        devs.push_back(factory->getMessage(entries[size_t(i)].get()));
    QCOMPARE(factory->getMessage(entries[0].get()), devs[0]);  // touch the first
    factory->getMessage(entries[1000].get());                  // evicts the second
    QCOMPARE(factory->getMessage(entries[0].get()), devs[0]);
    MessageDevice* second = factory->getMessage(entries[1].get());
    QCOMPARE(second->index(), entries[1].get());
    factory->releaseMessage(QStringLiteral("{unknown}"));
    factory->releaseMessage(entries[0]->getID());
    QCOMPARE(factory->getMessage(entries[0].get())->index(), entries[0].get());
}

void tst_LocalMailFolder::compactionSurvivesKill()
{
    if (QStringLiteral(ORVANE_TOOL).isEmpty())
        QSKIP("the orvane-mail tool is not built");
    // A folder with waste, compacted by the tool in a child process that is
    // killed at each step of the compaction: every message stored before
    // must load afterwards, from the old or the new layout.
    const QString master = newFolderPath(QStringLiteral("master"));
    QStringList ids;
    {
        LocalMailFolder f(master);
        for (int i = 0; i < 20; ++i)
            ids << f.createMessage(message(i), "u", when, QString(), nullptr, true, 0);
        QTest::ignoreMessage(QtDebugMsg, "Sync 20 mails.");
        f.sync();
        for (IndexClass* e : f.indexIDict()->entries()) {
            MessageDevice dev(e);
            dev.loadDescriptor(false);
            dev.saveDescriptor();
        }
    }
    for (int point = 1; point <= 12; ++point) {
        const QString path = newFolderPath(QStringLiteral("killed"));
        for (const QString& name : QDir(master).entryList(QDir::Files))
            QVERIFY(QFile::copy(master + QLatin1Char('/') + name, path + QLatin1Char('/') + name));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVANE_FAULT_KILL_POINT"), QString::number(point));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ORVANE_TOOL), {QStringLiteral("compact"), path});
        QVERIFY(p.waitForFinished(60000));
        // The compaction passes six kill points; later points are never reached.
        QCOMPARE(p.exitStatus(), point <= 6 ? QProcess::CrashExit : QProcess::NormalExit);
        LocalMailFolder f(path);
        QCOMPARE(f.getMessageCount(), ids.size());
        for (int i = 0; i < ids.size(); ++i) {
            IndexClass* e = f.indexIDict()->find(ids[i]);
            QVERIFY2(e, qPrintable(QStringLiteral("kill point %1").arg(point)));
            MessageDevice dev(e);
            QCOMPARE(dev.rfc822Message(), message(i));
            dev.loadDescriptor(false);
            QCOMPARE(dev.getDescriptor().indexID, ids[i]);
        }
        QVERIFY(!QFile::exists(path + QLatin1String("/messagesnew")));
        QVERIFY(!QFile::exists(path + QLatin1String("/compact.commit")));
    }
}

QTEST_GUILESS_MAIN(tst_LocalMailFolder)
#include "tst_localmailfolder.moc"
