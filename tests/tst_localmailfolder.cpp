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
    void initTestCase() { QVERIFY(tmp.isValid()); }
    void folderKinds_data();
    void folderKinds();
    void storeAndFlags();
    void batchedSync();
    void indexOnLoad();
    void damagedIndexKeepsHead_data();
    void damagedIndexKeepsHead();
    void compactDropsBrokenAndRebases();
    void compactKeepsDraftsAndRelativePaths();
    void deleteMoveCopy();
    void shouldExpungeThreshold();
    void unwritableFolder();
    void partsOutsideFile();
    void deviceCache();
    void compactionSurvivesKill();
    void threading();
    void threadingGuards();

private:
    QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void write(const QString& path, const QByteArray& data)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size());
    }
    QString newFolderPath(const QString& name = QStringLiteral("box"))
    {
        const QString p = tmp.path() + QLatin1Char('/') + name + QString::number(++serial);
        QDir().mkpath(p);
        return p;
    }
    static QCString message(int n, const QByteArray& extra = QByteArray())
    {
        return QCString("From: a@example.org\r\nTo: b@example.org\r\nSubject: message " + QByteArray::number(n)
                        + "\r\nMessage-ID: <m" + QByteArray::number(n) + "@example.org>\r\n" + extra
                        + "\r\nbody " + QByteArray::number(n) + "\r\n");
    }
    QString store(LocalMailFolder& f, int n, bool batch = false, const QByteArray& extra = QByteArray())
    {
        return f.createMessage(message(n, extra), "u", when, QString(), nullptr, batch, 0);
    }
    static MessageDescriptor descriptor(LocalMailFolder& f, const QString& id)
    {
        MessageDevice dev(f.indexIDict()->find(id));
        dev.loadDescriptor(false);
        return dev.getDescriptor();
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
    static void resaveDescriptors(LocalMailFolder& f)  // waste for compaction
    {
        for (IndexClass* e : f.indexIDict()->entries()) {
            MessageDevice dev(e);
            dev.loadDescriptor(false);
            dev.saveDescriptor();
        }
    }
    QTemporaryDir tmp;
    int serial = 0;
    const QDateTime when = QDateTime(QDate(2026, 12, 6), QTime(10, 30));
};

void tst_LocalMailFolder::folderKinds_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("place");
    QTest::newRow("inbox") << "/x/mail/sysmail_inbox" << 103 << 0 << 0;
    QTest::newRow("outbox") << "/x/sysmail_outbox" << 104 << 0 << 0;
    QTest::newRow("sent before imap") << "/imap_a/sysmail_sent" << 105 << 0 << 0;
    QTest::newRow("imap") << "/x/imap_acct/box" << 100 << 2 << 1;
    QTest::newRow("plain") << "/x/box" << 100 << 0 << 0;
}

void tst_LocalMailFolder::folderKinds()
{
    QFETCH(QString, path);
    QFETCH(int, type);
    QFETCH(int, protocol);
    QFETCH(int, place);
    const LocalMailFolder f(path);
    QCOMPARE(QList<int>({f.getFolderType(), f.getFolderProtocol(), f.getMessagesPlace(), f.getAccessRights()}),
             QList<int>({type, protocol, place, 4}));
    QCOMPARE(f.getIndexFileName(), path + QLatin1String("/index"));
    QCOMPARE(f.name(), path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
}

// The messages file holds "From - <date>\r\n" + text + "\r\n"; the index
// file the version text, then one appended record per entry.
void tst_LocalMailFolder::storeAndFlags()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    const QCString text("Subject: x\r\n\r\nhello");
    const QString id = f.createMessage(text, "u1", when, QStringLiteral("acct"), nullptr, false, 0);
    QVERIFY(QRegularExpression(QStringLiteral("^\\{[0-9a-f-]{36}\\}$")).match(id).hasMatch());
    const QByteArray separator = "From - " + QByteArray(QCString(DateClass(when))) + "\r\n";
    QCOMPARE(read(path + QLatin1String("/messages")), separator + text + "\r\n");
    IndexClass* e = f.indexIDict()->find(id);
    QCOMPARE(QList<long>({e->getUniblockOffset(), e->getUniblockLength(), e->getDescriptorOffset(), e->getDescriptorLength()}),
             QList<long>({long(separator.size()), 19L, 0L, long(read(path + QLatin1String("/descriptor")).size())}));
    MessageDevice dev(e);
    QCOMPARE(dev.rfc822Message(), text);
    MessageDescriptor d = descriptor(f, id);
    QCOMPARE(QStringList({d.account, d.uid, d.indexID, d.status}), QStringList({QStringLiteral("acct"), QStringLiteral("u1"), id, QStringLiteral("New")}));
    QCOMPARE(f.getUnread(), 1u);

    const QByteArray one = read(f.getIndexFileName());
    QVERIFY(one.startsWith(indexFile({})));
    // Stored as read, with no uid: the uid and message ID become the index ID.
    const QString readId = f.createMessage(message(2), "", when, QString(), nullptr, false, 1);
    QCOMPARE(f.getUnread(), 1u);
    d = descriptor(f, readId);
    QCOMPARE(QStringList({d.status, d.messageID, d.uid}), QStringList({QStringLiteral("Read"), readId, readId}));
    const QByteArray two = read(f.getIndexFileName());
    QVERIFY(two.startsWith(one) && two.size() > one.size());
}

void tst_LocalMailFolder::batchedSync()
{
    const QString path = newFolderPath();
    {
        LocalMailFolder f(path);
        QTest::ignoreMessage(QtDebugMsg, "Force syncing");
        QTest::ignoreMessage(QtDebugMsg, "Sync 300 mails.");
        for (int i = 0; i < 300; ++i)
            store(f, i, true);
        QCOMPARE(f.getMessageCount(), 300);
        QTest::ignoreMessage(QtDebugMsg, "Sync 1 mails.");
        store(f, 300, true);
    }  // the destructor syncs the last one
    LocalMailFolder again(path);
    QCOMPARE(QList<int>({again.getMessageCount(), int(again.getUnread())}), QList<int>({301, 301}));
    for (IndexClass* e : again.indexIDict()->entries())
        QVERIFY(e->getDescriptorLength() > 0);
}

// Repeated IDs (the last wins), the highest numeric ID, a foreign header.
void tst_LocalMailFolder::indexOnLoad()
{
    const QString path = newFolderPath(), index = path + QLatin1String("/index");
    IndexClass a(nullptr, QStringLiteral("{same}")), b(nullptr, QStringLiteral("{same}"));
    a.setUnreadMark(true);
    a.setUniblockLength(1);
    b.setUnreadMark(true);
    b.setUniblockLength(2);
    write(index, indexFile({&a, &b}));
    {
        LocalMailFolder f(path);
        QCOMPARE(QList<long>({f.getMessageCount(), long(f.getPruneIndexCount()), long(f.getUnread()),
                              f.indexIDict()->find(QStringLiteral("{same}"))->getUniblockLength()}), QList<long>({1, 1, 1, 2}));
    }
    MailFolder::setLastIndexID(0);
    IndexClass uuid(nullptr, MailFolder::nextIndexID()), n41(nullptr, QStringLiteral("abc41")), n42(nullptr, QStringLiteral("abc42"));
    for (auto [e, last] : {std::pair{&uuid, 0ul}, std::pair{&n41, 42ul}, std::pair{&n42, 42ul}}) {
        write(index, indexFile({e}));
        LocalMailFolder f(path);
        QCOMPARE(MailFolder::getLastIndexID(), last);
    }
    const QByteArray old = indexFile({&a}, QStringLiteral("0.9"));
    write(index, old);
    const QByteArray diag = "Folder " + QDir(path).dirName().toLatin1()
        + " attempted to read an older version or invalid index                   cache, discarding index...";
    QTest::ignoreMessage(QtDebugMsg, diag.constData());
    LocalMailFolder f(path);
    QCOMPARE(f.getMessageCount(), 0);
    QCOMPARE(read(index), old);  // left as it is
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
            store(f, i, true);
    }
    QByteArray index = read(path + QLatin1String("/index"));
    index.chop(cut);
    write(path + QLatin1String("/index"), index + garbage);
    if (kept < 3 || !garbage.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("index file damaged after \\d+ records")));
    {
        LocalMailFolder f(path);
        QCOMPARE(f.getMessageCount(), kept);
        for (IndexClass* e : f.indexIDict()->entries())
            QVERIFY(MessageDevice(e).rfc822Message().startsWith("From: a@example.org"));
        // What is stored next must not end up behind the damage.
        QTest::ignoreMessage(QtDebugMsg, "Sync 1 mails.");
        store(f, 9, true);
    }
    QCOMPARE(LocalMailFolder(path).getMessageCount(), kept + 1);
}

void tst_LocalMailFolder::compactDropsBrokenAndRebases()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    QStringList ids;
    for (int i = 0; i < 4; ++i)
        ids << store(f, i, false, "Content-Type: text/plain\r\n");
    resaveDescriptors(f);
    f.indexIDict()->find(ids[1])->setDescriptorLength(0);  // broken
    QTest::ignoreMessage(QtDebugMsg, "The index file seems to be broken :(");
    QVERIFY(f.compact(0));
    QVERIFY(f.getMessageCount() == 3 && !f.indexIDict()->find(ids[1]));
    for (const char* left : {"/messagesnew", "/descriptornew", "/compact.commit"})
        QVERIFY(!QFile::exists(path + QLatin1String(left)));
    const QByteArray msgs = read(path + QLatin1String("/messages"));
    qint64 descTotal = 0;
    for (int i : {0, 2, 3}) {
        IndexClass* e = f.indexIDict()->find(ids[i]);
        MessageDevice dev(e);
        QCOMPARE(dev.rfc822Message(), message(i, "Content-Type: text/plain\r\n"));
        QByteArray body;
        QVERIFY(dev.getPartData(0, body));
        QCOMPARE(body, "body " + QByteArray::number(i) + "\r\n" + '\0');
        dev.loadDescriptor(false);
        QCOMPARE(dev.getDescriptor().indexID, ids[i]);
        descTotal += e->getDescriptorLength();
        QCOMPARE(msgs.mid(e->getUniblockOffset() - 2, 2), QByteArray("\r\n"));
    }
    QCOMPARE(qint64(read(path + QLatin1String("/descriptor")).size()), descTotal);
    LocalMailFolder again(path);  // the rewritten index loads to the same state
    QCOMPARE(again.getEntryList(QString()), f.getEntryList(QString()));
    QCOMPARE(again.getEntryList(QStringLiteral("Inbox")).first(), QLatin1String("Inbox/") + ids[0]);
    QTest::ignoreMessage(QtDebugMsg, "Folder compressing isn't yet available.");
    QVERIFY(f.compact(1));
    QVERIFY(!LocalMailFolder(tmp.path() + QLatin1String("/nowhere")).compact(0));
}

void tst_LocalMailFolder::compactKeepsDraftsAndRelativePaths()
{
    // A folder named by a path relative to the working directory; a message
    // created for composition (a descriptor, no text yet). Deleting another
    // message compacts: the draft stays, the new files replace the old.
    const QString path = newFolderPath(QStringLiteral("relative")), old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QFileInfo(path).path()));
    QString draft;
    {
        LocalMailFolder f(QFileInfo(path).fileName());
        const QString stored = store(f, 1);
        draft = f.createMessage();
        MessageDevice dev(f.indexIDict()->find(draft));
        dev.loadDescriptor(false);
        dev.getDescriptor().subject = QStringLiteral("borrador");
        dev.saveDescriptor();
        store(f, 2);
        QVERIFY(f.deleteMessage(QStringList{stored}));
        QCOMPARE(f.getMessageCount(), 2);
    }
    QVERIFY(QDir::setCurrent(old));
    QVERIFY(!QFile::exists(path + QLatin1String("/compact.commit")));
    QVERIFY(!read(path + QLatin1String("/messages")).contains("message 1"));
    LocalMailFolder again(path);
    QCOMPARE(again.getMessageCount(), 2);
    QCOMPARE(descriptor(again, draft).subject, QStringLiteral("borrador"));
}

void tst_LocalMailFolder::deleteMoveCopy()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path), other(newFolderPath()), dst(newFolderPath());
    QStringList ids;
    for (int i = 0; i < 5; ++i)
        ids << store(f, i, true);
    f.sync();
    const QString foreign = store(other, 9);
    QVERIFY(!f.deleteMessage(other.indexIDict()->find(foreign)));
    QVERIFY(!f.deleteMessage(static_cast<IndexClass*>(nullptr)));
    QVERIFY(!f.deleteMessage(QStringList{ids[0], QStringLiteral("{unknown}")}));
    QCOMPARE(f.getMessageCount(), 5);
    QVERIFY(f.deleteMessage(f.indexIDict()->find(ids[4])));
    QVERIFY(f.deleteMessage(QStringList{ids[0], ids[2], ids[2]}));
    QCOMPARE(f.getEntryList(QString()), (QStringList{ids[1], ids[3]}));
    QCOMPARE(f.getUnread(), 2u);
    QCOMPARE(LocalMailFolder(path).getMessageCount(), 2);

    // Copy and move of one entry keep its text, flags and descriptor.
    const QString a = other.createMessage(message(1), "uid-a", when, QStringLiteral("acct"), nullptr, false, 1);
    QVERIFY(!dst.copyMessage(other.indexIDict()->find(a)).isNull());
    const QString moved = dst.moveMessage(other.indexIDict()->find(a));
    QCOMPARE(QList<int>({other.getMessageCount(), dst.getMessageCount()}), QList<int>({1, 2}));
    QVERIFY(!dst.indexIDict()->find(moved)->getUnreadMark());
    const MessageDescriptor d = descriptor(dst, moved);
    QCOMPARE(QStringList({d.uid, d.account}), QStringList({QStringLiteral("uid-a"), QStringLiteral("acct")}));
    QCOMPARE(MessageDevice(dst.indexIDict()->find(moved)).rfc822Message(), message(1));
    QVERIFY(dst.copyMessage(static_cast<IndexClass*>(nullptr)).isNull());
    // Lists: all or nothing; IDs with or without a folder prefix.
    QVERIFY(!dst.moveMessage(QStringList{ids[1], QStringLiteral("{nope}")}));
    QCOMPARE(f.getMessageCount(), 2);
    QVERIFY(dst.moveMessage(QStringList{QLatin1String("a/") + ids[1], ids[3], foreign}));
    QCOMPARE(QList<int>({f.getMessageCount(), other.getMessageCount(), dst.getMessageCount()}), QList<int>({0, 0, 5}));
    QVERIFY(dst.copyMessage(dst.getEntryList(QString())));
    QCOMPARE(dst.getMessageCount(), 10);
}

void tst_LocalMailFolder::shouldExpungeThreshold()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    store(f, 1);
    f.createMessage();  // a draft: no text, no separator counted
    QVERIFY(f.compact(0));  // no waste now
    const QByteArray msgs = read(path + QLatin1String("/messages"));
    QTest::ignoreMessage(QtDebugMsg, "localmailfolder: computing waste...");
    QVERIFY(!f.expunge(false));
    // Waste in both rewritten files counts: 102400 bytes are not enough...
    write(path + QLatin1String("/messages"), msgs + QByteArray(100000, 'x'));
    QFile d(path + QLatin1String("/descriptor"));
    QVERIFY(d.open(QIODevice::Append));
    d.write(QByteArray(2400, 'y'));
    d.flush();
    QTest::ignoreMessage(QtDebugMsg, "localmailfolder: computing waste...");
    QVERIFY(!f.expunge(false));
    d.write("y");  // ... one more byte is
    d.close();
    QTest::ignoreMessage(QtDebugMsg, "localmailfolder: computing waste...");
    QVERIFY(f.expunge(false));
    QCOMPARE(read(path + QLatin1String("/messages")).size(), msgs.size());
    QVERIFY(f.expunge(true));
}

void tst_LocalMailFolder::unwritableFolder()
{
    // The folder's directory cannot exist: no entry may be created.
    write(tmp.path() + QLatin1String("/file"), "x");
    LocalMailFolder f(tmp.path() + QLatin1String("/file/box"));
    QVERIFY(store(f, 1).isNull());
    QVERIFY(f.getMessageCount() == 0 && f.getUnread() == 0);
}

void tst_LocalMailFolder::partsOutsideFile()
{
    LocalMailFolder f(newFolderPath());
    IndexClass* e = f.indexIDict()->find(store(f, 1));
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

// The factory's devices: one per entry, gone with the entry (ASan would see
// a stale one), the least recently used evicted past 1000.
void tst_LocalMailFolder::deviceCache()
{
    MessageFactory* factory = MessageFactory::thisInstance();
    const QString path = newFolderPath();
    QString id;
    {
        LocalMailFolder f(path);
        IndexClass* e = f.indexIDict()->find(id = store(f, 1));
        QCOMPARE(factory->getMessage(e), factory->getMessage(e));
        QVERIFY(f.deleteMessage(e));
        IndexClass fresh(nullptr, id);
        QCOMPARE(factory->getMessage(&fresh)->index(), &fresh);
        QVERIFY(factory->getMessage(f.indexIDict()->find(store(f, 2))));
    }  // folder destroyed: its entries and their devices go
    std::vector<std::unique_ptr<IndexClass>> entries;
    for (int i = 0; i < 1002; ++i)
        entries.push_back(std::make_unique<IndexClass>(nullptr, QStringLiteral("{e%1}").arg(i)));
    std::vector<MessageDevice*> devs;
    for (int i = 0; i < 1000; ++i)
        devs.push_back(factory->getMessage(entries[size_t(i)].get()));
    QCOMPARE(factory->getMessage(entries[0].get()), devs[0]);  // touch the first
    factory->getMessage(entries[1000].get());                  // evicts the second
    QCOMPARE(factory->getMessage(entries[0].get()), devs[0]);
    QCOMPARE(factory->getMessage(entries[1].get())->index(), entries[1].get());
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
            ids << store(f, i, true);
        QTest::ignoreMessage(QtDebugMsg, "Sync 20 mails.");
        f.sync();
        resaveDescriptors(f);
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
            QCOMPARE(MessageDevice(e).rfc822Message(), message(i));
            QCOMPARE(descriptor(f, ids[i]).indexID, ids[i]);
        }
        QVERIFY(!QFile::exists(path + QLatin1String("/messagesnew")) && !QFile::exists(path + QLatin1String("/compact.commit")));
    }
}

// Threading links a reply to the first message in folder order whose
// Message-ID it answers (In-Reply-To, else the first known reference), in
// the index and in both descriptors; linking again changes nothing.
void tst_LocalMailFolder::threading()
{
    const QString path = newFolderPath();
    LocalMailFolder f(path);
    auto mail = [&](int n, const QByteArray& header) { return store(f, n, false, header); };
    const QString parent = mail(1, ""), dup = mail(1, ""), c = mail(3, "");
    const QString reply = mail(4, "In-Reply-To: <m1@example.org>\r\n");
    const QString byRefs = mail(5, "References: <x@y> <m3@example.org> <m1@example.org>\r\n");
    const qint64 desc = QFileInfo(f.getDescriptorFileName()).size();
    f.reparentIndex(f.indexIDict()->find(reply));
    QCOMPARE(f.indexIDict()->find(reply)->getParentID(), parent);
    QCOMPARE(descriptor(f, reply).parentIndexID, parent);
    const MessageDescriptor pd = descriptor(f, parent);
    QCOMPARE(pd.references + pd.relatedIndexIDList, (QStringList{QStringLiteral("m4@example.org"), reply}));
    QVERIFY(QFileInfo(f.getDescriptorFileName()).size() > desc);
    const long parentRecord = f.indexIDict()->find(parent)->getDescriptorOffset();
    f.reparentIndex(f.indexIDict()->find(reply));
    QCOMPARE(f.indexIDict()->find(parent)->getDescriptorOffset(), parentRecord);
    QVERIFY(f.reparentByRelated(f.indexIDict()->find(byRefs)));
    QCOMPARE(f.indexIDict()->find(byRefs)->getParentID(), c);
    QVERIFY(!f.reparentBySubject(f.indexIDict()->find(byRefs)));
    QCOMPARE(LocalMailFolder(path).indexIDict()->find(reply)->getParentID(), parent);
    // Once the first is deleted, the second holder of the ID answers.
    QVERIFY(f.deleteMessage(f.indexIDict()->find(parent)));
    const QString late = mail(6, "In-Reply-To: <m1@example.org>\r\n");
    f.reparentIndex(f.indexIDict()->find(late));
    QCOMPARE(f.indexIDict()->find(late)->getParentID(), dup);

    // Cross references reach into other folders, both ways, without links.
    LocalMailFolder other(newFolderPath());
    const QString x = store(other, 7);
    const QString m = mail(8, "References: <m7@example.org> <nowhere@x> <m3@example.org>\r\n");
    f.crossReferenceIndex(f.indexIDict()->find(m));
    QCOMPARE(descriptor(f, m).relatedIndexIDList, (QStringList{x, c}));
    const MessageDescriptor xd = descriptor(other, x);
    QCOMPARE(xd.references + xd.relatedIndexIDList, (QStringList{QStringLiteral("m8@example.org"), m}));
    QVERIFY(f.indexIDict()->find(m)->getParentID().isEmpty());
}

// No links to nowhere, to itself or around a ring; files left alone.
void tst_LocalMailFolder::threadingGuards()
{
    LocalMailFolder f(newFolderPath());
    const QString lone = store(f, 0, false, "In-Reply-To: <elsewhere@x>\r\nReferences: <a@x> <z@x>\r\n");
    const QString self = store(f, 1, false, "In-Reply-To: <m1@example.org>\r\nReferences: <m1@example.org>\r\n");
    const qint64 desc = QFileInfo(f.getDescriptorFileName()).size(), index = QFileInfo(f.getIndexFileName()).size();
    for (const QString& id : {lone, self}) {
        f.reparentIndex(f.indexIDict()->find(id));
        QVERIFY(!f.reparentByRelated(f.indexIDict()->find(id)));
        QVERIFY(f.indexIDict()->find(id)->getParentID().isEmpty());
    }
    QCOMPARE(QFileInfo(f.getDescriptorFileName()).size(), desc);
    QCOMPARE(QFileInfo(f.getIndexFileName()).size(), index);
    // Two that answer each other, and a ring of 50: one link fewer each.
    QStringList ids;
    for (int i = 0; i < 52; ++i) {
        const int ring = i < 2 ? 2 : 50, base = i < 2 ? 100 : 200, k = i < 2 ? i : i - 2;
        ids << store(f, base + k, false, "In-Reply-To: <m" + QByteArray::number(base + (k + 1) % ring) + "@example.org>\r\n");
    }
    for (const QString& id : std::as_const(ids))
        f.reparentIndex(f.indexIDict()->find(id));
    QCOMPARE(std::count_if(ids.cbegin(), ids.cend(), [&](const QString& id) { return !f.indexIDict()->find(id)->getParentID().isEmpty(); }), 50);
    QCOMPARE(f.indexIDict()->find(ids[0])->getParentID(), ids[1]);
}

QTEST_GUILESS_MAIN(tst_LocalMailFolder)
#include "tst_localmailfolder.moc"
