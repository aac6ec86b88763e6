#include <indexclass.h>
#include <localmailfolder.h>
#include <mailfoldermodel.h>
#include <messagedevice.h>

#include <QAbstractItemModelTester>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

// The model over folders made from the corpus and from generated messages,
// watched by QAbstractItemModelTester while the folder changes under it.
class TestMailFolderModel : public QObject
{
    Q_OBJECT

    static QByteArray message(int i, const QByteArray& extra = QByteArray())
    {
        return "From: s@example.org\r\nSubject: Message " + QByteArray::number(i) + "\r\nMessage-ID: <m"
            + QByteArray::number(i) + "@x>\r\n" + extra + "\r\nbody\r\n";
    }
    // Every index of the model, fetching all top-level rows first.
    static QStringList allIDs(MailFolderModel& m, const QModelIndex& p = QModelIndex())
    {
        while (m.canFetchMore(p))
            m.fetchMore(p);
        QStringList ids;
        for (int r = 0; r < m.rowCount(p); ++r)
            ids << m.indexID(m.index(r, 0, p)) << allIDs(m, m.index(r, 0, p));
        return ids;
    }

private Q_SLOTS:
    void corpus_data();
    void corpus();
    void updates_data();
    void updates();
};

void TestMailFolderModel::corpus_data()
{
    QTest::addColumn<bool>("threaded");
    QTest::addColumn<int>("column");
    QTest::newRow("flat, folder order") << false << -1;
    QTest::newRow("flat by subject") << false << int(MailFolderModel::SubjectColumn);
    QTest::newRow("threaded by size") << true << int(MailFolderModel::SizeColumn);
    QTest::newRow("threaded by sender") << true << int(MailFolderModel::FromColumn);
}

// Every message of the corpus shows once, in batches, with its descriptor's
// subject; sorting keeps what is shown; top-level rows follow the sort
// column's raw value; threads hang under the parents the folder links; the
// model lets go of a folder that goes away.
void TestMailFolderModel::corpus()
{
    QFETCH(bool, threaded);
    QFETCH(int, column);
    const QString dir = qEnvironmentVariable("ORVANE_CORPUS_DIR", QStringLiteral(ORVANE_CORPUS_DIR));
    if (!QFileInfo(dir).isDir())
        QSKIP("no corpus");
    QTemporaryDir tmp;
    auto owner = std::make_unique<LocalMailFolder>(tmp.path());
    LocalMailFolder& folder = *owner;
    for (QDirIterator it(dir, {u"*.eml"_s}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile f(it.next());
        QVERIFY(f.open(QIODevice::ReadOnly));
        folder.createMessage(QCString(f.readAll()), QCString(it.fileName().toUtf8()), QDateTime(), QString(),
                             nullptr, true, 0);
    }
    folder.sync();
    folder.reparentIndex(folder.indexIDict()->entries());
    MailFolderModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setThreaded(threaded);
    model.setFolder(&folder);
    model.setBatchSize(50);
    model.fetchMore(QModelIndex());
    model.sort(column, Qt::DescendingOrder);
    QCOMPARE(model.rowCount(), 50);
    const QStringList ids = allIDs(model), want = folder.getEntryList(QString());
    QCOMPARE(QSet<QString>(ids.begin(), ids.end()), QSet<QString>(want.begin(), want.end()));
    QCOMPARE(ids.size(), want.size());
    for (int r = 0; r < model.rowCount(); ++r) {
        const QModelIndex i = model.index(r, 0);
        MessageDevice dev(model.entry(i));
        dev.loadDescriptor(false);
        QCOMPARE(i.data().toString(), dev.getDescriptor().subject);
        const QVariant a = model.index(qMax(r - 1, 0), column).data(MailFolderModel::SortRole);
        const QVariant b = model.index(r, column).data(MailFolderModel::SortRole);
        if (column == MailFolderModel::FromColumn || column == MailFolderModel::SubjectColumn)
            QVERIFY(QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive) >= 0);
        else if (column >= 0)
            QVERIFY(QVariant::compare(a, b) != QPartialOrdering::Less);
    }
    for (IndexClass* e : folder.indexIDict()->entries())
        QCOMPARE(model.indexID(model.indexOf(e->getID()).parent()), threaded ? e->getParentID() : QString());
    owner.reset();
    QVERIFY(model.rowCount() == 0 && !model.folder());
}

void TestMailFolderModel::updates_data()
{
    QTest::addColumn<bool>("threaded");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("rowsAfter");  // top-level rows once all are fetched
    QTest::addColumn<bool>("sorted");    // by subject, else in folder order
    // In folder order, the rows not fetched yet have no nodes: changes to
    // them show only once they are fetched. Stored messages go last.
    for (const auto& [action, rows] : {std::pair{"store", 8}, {"delete 3", 5}, {"delete 0 2", 4}, {"move 2", 5}})
        QTest::addRow("flat unsorted %s", action) << false << action << rows << false;
    QTest::newRow("threaded unsorted store") << true << u"store"_s << 5 << false;
    for (bool threaded : {false, true}) {
        const char* mode = threaded ? "threaded" : "flat";
        // Messages 0..5; in the folder, 1 and 2 answer 0, 3 answers 2.
        QTest::addRow("%s store", mode) << threaded << u"store"_s << (threaded ? 5 : 8) << true;
        QTest::addRow("%s delete leaf", mode) << threaded << u"delete 3"_s << (threaded ? 3 : 5) << true;
        QTest::addRow("%s delete parent", mode) << threaded << u"delete 0"_s << (threaded ? 4 : 5) << true;
        QTest::addRow("%s delete list", mode) << threaded << u"delete 0 2"_s << 4 << true;
        QTest::addRow("%s move away", mode) << threaded << u"move 2"_s << (threaded ? 4 : 5) << true;
        QTest::addRow("%s mark read", mode) << threaded << u"read 3"_s << (threaded ? 3 : 6) << true;
    }
}

// The model follows the folder's changes; the tester checks every signal,
// a persistent index keeps its row.
void TestMailFolderModel::updates()
{
    QFETCH(bool, threaded);
    QFETCH(QString, action);
    QFETCH(int, rowsAfter);
    QFETCH(bool, sorted);
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkpath(u"a"_s) && QDir(tmp.path()).mkpath(u"b"_s));
    LocalMailFolder folder(tmp.path() + u"/a"_s), other(tmp.path() + u"/b"_s);
    auto store = [&](int i, const QByteArray& extra, const QByteArray& uid) {
        return folder.createMessage(QCString(message(i, extra)), QCString(uid), QDateTime(), QString(), nullptr,
                                    uid.isEmpty(), 0);
    };
    QStringList id;
    for (int i = 0; i < 6; ++i) {
        const int parent = i == 3 ? 2 : (i == 1 || i == 2) ? 0 : -1;
        id << store(i, parent < 0 ? QByteArray() : "In-Reply-To: <m" + QByteArray::number(parent) + "@x>\r\n",
                    "u" + QByteArray::number(i));
        folder.reparentIndex(folder.indexIDict()->find(id.last()));
    }
    MailFolderModel model;
    model.setBatchSize(2);
    model.setThreaded(threaded);
    model.setFolder(&folder);
    if (sorted)
        model.sort(MailFolderModel::SubjectColumn, Qt::DescendingOrder);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.fetchMore(QModelIndex());  // some rows shown, some not yet
    const QPersistentModelIndex watched = model.index(1, 0);
    const QString watchedID = model.indexID(watched);

    const QStringList words = action.split(u' ');
    auto entryOf = [&](int k) { return folder.indexIDict()->find(id[words[k].toInt()]); };
    QStringList gone, added;
    if (words[0] == "store"_L1) {
        added << store(9, {}, {}) << store(10, {}, {});
    } else if (words[0] == "delete"_L1) {
        for (int k = 1; k < words.size(); ++k)
            gone << entryOf(k)->getID();
        QVERIFY(words.size() == 2 ? folder.deleteMessage(entryOf(1)) : folder.deleteMessage(gone));
    } else if (words[0] == "move"_L1) {
        gone << entryOf(1)->getID();
        QVERIFY(!other.moveMessage(entryOf(1)).isNull());
    } else if (words[0] == "read"_L1) {
        const QModelIndex i = model.indexOf(id[3], MailFolderModel::UnreadColumn);
        QVERIFY(model.setData(i, false, MailFolderModel::UnreadRole));
        QVERIFY(folder.getUnread() == 5u && !i.data(MailFolderModel::UnreadRole).toBool());
        QVERIFY(!folder.indexIDict()->find(id[3])->getUnreadMark());
    }
    QStringList ids = allIDs(model);
    QCOMPARE(model.rowCount(), rowsAfter);
    QCOMPARE(ids.size(), folder.getMessageCount());
    for (const QString& g : gone)
        QVERIFY(!ids.contains(g));
    if (!sorted && !added.isEmpty())
        QCOMPARE(model.indexID(model.index(rowsAfter - 2, 0)) + model.indexID(model.index(rowsAfter - 1, 0)),
                 added.join(QString()));
    QCOMPARE(watched.data(MailFolderModel::IndexIDRole).toString(), watchedID);
}

QTEST_GUILESS_MAIN(TestMailFolderModel)
#include "tst_mailfoldermodel.moc"
