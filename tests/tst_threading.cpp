#include <indexclass.h>
#include <localmailfolder.h>
#include <messagedevice.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_Threading : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(tmp.isValid()); }
    void replyGetsParent();
    void secondLinkLeavesParent();
    void byRelatedTakesFirstInFolder();
    void nothingInFolder();
    void noSelfLinksOrCycles();
    void crossReference();
    void firstInFolderOrder();

private:
    QString store(LocalMailFolder& f, const QByteArray& mid, const QByteArray& inReplyTo = QByteArray(),
                  const QByteArray& refs = QByteArray())
    {
        QByteArray text = "From: a@example.org\r\nSubject: s\r\nMessage-ID: <" + mid + ">\r\n";
        if (!inReplyTo.isEmpty())
            text += "In-Reply-To: <" + inReplyTo + ">\r\n";
        if (!refs.isEmpty())
            text += "References: " + refs + "\r\n";
        text += "\r\nbody\r\n";
        return f.createMessage(QCString(text), "uid", QDateTime::currentDateTime(), QString(), nullptr, false, 0);
    }
    MessageDescriptor descriptor(LocalMailFolder& f, const QString& id)
    {
        MessageDevice dev(f.indexIDict()->find(id));
        dev.loadDescriptor(false);
        return dev.getDescriptor();
    }
    QString newFolder()
    {
        const QString p = tmp.path() + QStringLiteral("/t%1").arg(++serial);
        QDir().mkpath(p);
        return p;
    }
    qint64 size(const QString& path) { return QFileInfo(path).size(); }
    QTemporaryDir tmp;
    int serial = 0;
};

void tst_Threading::replyGetsParent()
{
    LocalMailFolder f(newFolder());
    const QString parent = store(f, "p@x");
    const QString reply = store(f, "r@x", "p@x");
    const qint64 desc = size(f.getDescriptorFileName()), index = size(f.getIndexFileName());
    f.reparentIndex(f.indexIDict()->find(reply));
    QCOMPARE(f.indexIDict()->find(reply)->getParentID(), parent);
    QCOMPARE(descriptor(f, reply).parentIndexID, parent);
    const MessageDescriptor pd = descriptor(f, parent);
    QCOMPARE(pd.references, QStringList{QStringLiteral("r@x")});
    QCOMPARE(pd.relatedIndexIDList, QStringList{reply});
    // Two descriptor records (reply, parent) and three index records.
    QVERIFY(size(f.getDescriptorFileName()) > desc);
    QVERIFY(size(f.getIndexFileName()) > index);
    LocalMailFolder again(f.getStorageDevice());
    QCOMPARE(again.indexIDict()->find(reply)->getParentID(), parent);
}

void tst_Threading::secondLinkLeavesParent()
{
    LocalMailFolder f(newFolder());
    const QString parent = store(f, "p@x");
    const QString reply = store(f, "r@x", "p@x");
    f.reparentIndex(f.indexIDict()->find(reply));
    const MessageDescriptor before = descriptor(f, parent);
    const long parentRecord = f.indexIDict()->find(parent)->getDescriptorOffset();
    f.reparentIndex(f.indexIDict()->find(reply));
    QCOMPARE(f.indexIDict()->find(parent)->getDescriptorOffset(), parentRecord);
    QCOMPARE(descriptor(f, parent).references, before.references);
}

void tst_Threading::byRelatedTakesFirstInFolder()
{
    LocalMailFolder f(newFolder());
    const QString b = store(f, "b@x");
    store(f, "c@x");
    const QString m = store(f, "m@x", QByteArray(), "<a@x> <b@x> <c@x>");
    QVERIFY(f.reparentByRelated(f.indexIDict()->find(m)));
    QCOMPARE(f.indexIDict()->find(m)->getParentID(), b);
    QVERIFY(!f.reparentBySubject(f.indexIDict()->find(m)));
}

void tst_Threading::nothingInFolder()
{
    LocalMailFolder f(newFolder());
    const QString m = store(f, "m@x", "elsewhere@x", "<a@x> <z@x>");
    const qint64 desc = size(f.getDescriptorFileName()), index = size(f.getIndexFileName());
    f.reparentIndex(f.indexIDict()->find(m));
    QVERIFY(!f.reparentByRelated(f.indexIDict()->find(m)));
    QCOMPARE(size(f.getDescriptorFileName()), desc);
    QCOMPARE(size(f.getIndexFileName()), index);
    QVERIFY(f.indexIDict()->find(m)->getParentID().isEmpty());
}

void tst_Threading::noSelfLinksOrCycles()
{
    LocalMailFolder f(newFolder());
    // A message that answers itself, and two that answer each other.
    const QString self = store(f, "s@x", "s@x", "<s@x>");
    const QString a = store(f, "a@x", "b@x");
    const QString b = store(f, "b@x", "a@x");
    f.reparentIndex(f.indexIDict()->find(self));
    QVERIFY(!f.reparentByRelated(f.indexIDict()->find(self)));
    QVERIFY(f.indexIDict()->find(self)->getParentID().isEmpty());
    f.reparentIndex(f.indexIDict()->find(a));
    f.reparentIndex(f.indexIDict()->find(b));
    QCOMPARE(f.indexIDict()->find(a)->getParentID(), b);
    QVERIFY(f.indexIDict()->find(b)->getParentID().isEmpty());
    // A long chain closed into a ring: the walk up ends, no link is made.
    QStringList ids;
    for (int i = 0; i < 50; ++i)
        ids << store(f, "c" + QByteArray::number(i) + "@x", "c" + QByteArray::number((i + 1) % 50) + "@x");
    for (const QString& id : std::as_const(ids))
        f.reparentIndex(f.indexIDict()->find(id));
    int linked = 0;
    for (const QString& id : std::as_const(ids))
        linked += f.indexIDict()->find(id)->getParentID().isEmpty() ? 0 : 1;
    QCOMPARE(linked, 49);
}

void tst_Threading::crossReference()
{
    LocalMailFolder one(newFolder()), two(newFolder()), mine(newFolder());
    const QString x = store(one, "x@x");
    const QString y = store(two, "y@x");
    const QString m = store(mine, "m@x", QByteArray(), "<x@x> <nowhere@x> <y@x>");
    mine.crossReferenceIndex(mine.indexIDict()->find(m));
    QCOMPARE(descriptor(mine, m).relatedIndexIDList, (QStringList{x, y}));
    QCOMPARE(descriptor(one, x).references, QStringList{QStringLiteral("m@x")});
    QCOMPARE(descriptor(one, x).relatedIndexIDList, QStringList{m});
    QCOMPARE(descriptor(two, y).relatedIndexIDList, QStringList{m});
    QVERIFY(mine.indexIDict()->find(m)->getParentID().isEmpty());
    QVERIFY(one.indexIDict()->find(x)->getParentID().isEmpty());
}

void tst_Threading::firstInFolderOrder()
{
    LocalMailFolder f(newFolder());
    const QString first = store(f, "dup@x");
    store(f, "dup@x");
    const QString reply = store(f, "r@x", "dup@x");
    f.reparentIndex(f.indexIDict()->find(reply));
    QCOMPARE(f.indexIDict()->find(reply)->getParentID(), first);
    // After the first is deleted, the second holder of the ID answers.
    QVERIFY(f.deleteMessage(f.indexIDict()->find(first)));
    const QString reply2 = store(f, "r2@x", "dup@x");
    f.reparentIndex(f.indexIDict()->find(reply2));
    QVERIFY(!f.indexIDict()->find(reply2)->getParentID().isEmpty());
    QVERIFY(f.indexIDict()->find(reply2)->getParentID() != first);
}

QTEST_GUILESS_MAIN(tst_Threading)
#include "tst_threading.moc"
