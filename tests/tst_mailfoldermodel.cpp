#include <indexclass.h>
#include <localmailfolder.h>
#include <mailfoldermodel.h>
#include <messagedevice.h>

#include <QAbstractItemModelTester>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

// The model over folders made from the corpus and from generated messages,
// watched by QAbstractItemModelTester while the folder changes under it.
class TestMailFolderModel : public QObject
{
    Q_OBJECT

    static QByteArray message(int i, const QByteArray& extra = QByteArray())
    {
        return "From: Sender " + QByteArray::number(i % 7) + " <s" + QByteArray::number(i % 7)
            + "@example.org>\r\nSubject: Message " + QByteArray::number(i) + "\r\nMessage-ID: <m"
            + QByteArray::number(i) + "@x>\r\nDate: Mon, 1 Jan 2024 10:" + QByteArray::number(10 + (i * 7) % 50)
            + ":00 +0000\r\n" + extra + "\r\nbody " + QByteArray(i % 13, 'x') + "\r\n";
    }
    // Every index of the model, fetching all top-level rows first.
    static QStringList allIDs(MailFolderModel& m, const QModelIndex& p = QModelIndex())
    {
        while (m.canFetchMore(p))
            m.fetchMore(p);
        QStringList ids;
        for (int r = 0; r < m.rowCount(p); ++r) {
            const QModelIndex i = m.index(r, 0, p);
            ids << m.indexID(i) << allIDs(m, i);
        }
        return ids;
    }

private Q_SLOTS:
    void corpus_data();
    void corpus();
    void updates_data();
    void updates();
    void largeFolderFetchesInBatches();
};

void TestMailFolderModel::corpus_data()
{
    QTest::addColumn<bool>("threaded");
    QTest::addColumn<int>("column");
    QTest::newRow("flat, folder order") << false << -1;
    QTest::newRow("flat by subject") << false << int(MailFolderModel::SubjectColumn);
    QTest::newRow("flat by date") << false << int(MailFolderModel::DateColumn);
    QTest::newRow("threaded by size") << true << int(MailFolderModel::SizeColumn);
    QTest::newRow("threaded by sender") << true << int(MailFolderModel::FromColumn);
}

void TestMailFolderModel::corpus()
{
    QFETCH(bool, threaded);
    QFETCH(int, column);
    const QString dir = qEnvironmentVariable("ORVANE_CORPUS_DIR", QStringLiteral(ORVANE_CORPUS_DIR));
    if (!QFileInfo(dir).isDir())
        QSKIP("no corpus");
    QTemporaryDir tmp;
    LocalMailFolder folder(tmp.path());
    QDirIterator it(dir, {QStringLiteral("*.eml")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        QVERIFY(f.open(QIODevice::ReadOnly));
        folder.createMessage(QCString(f.readAll()), QCString(it.fileName().toUtf8()), QDateTime(), QString(),
                             nullptr, true, 0);
    }
    folder.sync();
    for (IndexClass* e : folder.indexIDict()->entries())
        folder.reparentIndex(e);

    MailFolderModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setThreaded(threaded);
    model.setFolder(&folder);
    model.setBatchSize(50);
    model.sort(column, Qt::DescendingOrder);
    QStringList ids = allIDs(model);
    QCOMPARE(ids.size(), folder.getMessageCount());
    ids.sort();
    QStringList want = folder.getEntryList(QString());
    want.sort();
    QCOMPARE(ids, want);

    // Top-level rows follow the sort column's raw value; every row shows
    // its descriptor's decoded subject.
    for (int r = 0; r < model.rowCount(); ++r) {
        const QModelIndex i = model.index(r, 0);
        MessageDevice dev(model.entry(i));
        dev.loadDescriptor(false);
        QCOMPARE(i.data().toString(), dev.getDescriptor().subject);
        if (r > 0 && column >= 0) {
            const QVariant a = model.index(r - 1, column).data(MailFolderModel::SortRole);
            const QVariant b = model.index(r, column).data(MailFolderModel::SortRole);
            if (column == MailFolderModel::FromColumn || column == MailFolderModel::SubjectColumn)
                QVERIFY(QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive) >= 0);
            else
                QVERIFY(QVariant::compare(a, b) != QPartialOrdering::Less);
        }
    }
    if (threaded) {
        // Threads hang under the parents the folder links.
        int children = 0;
        for (IndexClass* e : folder.indexIDict()->entries()) {
            QCOMPARE(model.indexID(model.indexOf(e->getID()).parent()), e->getParentID());
            children += !e->getParentID().isEmpty();
        }
        QVERIFY(children > 0);
    }
}

void TestMailFolderModel::updates_data()
{
    QTest::addColumn<bool>("threaded");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("rowsAfter");  // top-level rows once all are fetched
    QTest::addColumn<bool>("sorted");    // by subject, else in folder order
    // In folder order, the rows not fetched yet have no nodes: changes to
    // them show only once they are fetched.
    for (const auto& [action, rows] : {std::pair{"store", 7}, {"delete 3", 5}, {"delete 0 2", 4}, {"move 2", 5}})
        QTest::addRow("flat unsorted %s", action) << false << action << rows << false;
    for (bool threaded : {false, true}) {
        const char* mode = threaded ? "threaded" : "flat";
        // Messages 0..5; in the folder, 1 and 2 answer 0, 3 answers 2.
        QTest::addRow("%s store", mode) << threaded << "store" << (threaded ? 4 : 7) << true;
        QTest::addRow("%s delete leaf", mode) << threaded << "delete 3" << (threaded ? 3 : 5) << true;
        QTest::addRow("%s delete parent", mode) << threaded << "delete 0" << (threaded ? 4 : 5) << true;
        QTest::addRow("%s delete list", mode) << threaded << "delete 0 2" << (threaded ? 4 : 4) << true;
        QTest::addRow("%s move away", mode) << threaded << "move 2" << (threaded ? 4 : 5) << true;
        QTest::addRow("%s mark read", mode) << threaded << "read 3" << (threaded ? 3 : 6) << true;
        QTest::addRow("%s compose", mode) << threaded << "compose" << (threaded ? 4 : 7) << true;
    }
}

void TestMailFolderModel::updates()
{
    QFETCH(bool, threaded);
    QFETCH(QString, action);
    QFETCH(int, rowsAfter);
    QFETCH(bool, sorted);
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkpath(QStringLiteral("a")) && QDir(tmp.path()).mkpath(QStringLiteral("b")));
    LocalMailFolder folder(tmp.path() + QStringLiteral("/a")), other(tmp.path() + QStringLiteral("/b"));
    QStringList id;
    for (int i = 0; i < 6; ++i) {
        const int parent = i == 3 ? 2 : (i == 1 || i == 2) ? 0 : -1;
        const QByteArray irt = parent < 0 ? QByteArray() : "In-Reply-To: <m" + QByteArray::number(parent) + "@x>\r\n";
        id << folder.createMessage(QCString(message(i, irt)), QCString("u" + QByteArray::number(i)), QDateTime(), QString(), nullptr, false, 0);
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

    const QStringList words = action.split(QLatin1Char(' '));
    auto entryOf = [&](int k) { return folder.indexIDict()->find(id[words[k].toInt()]); };
    QStringList gone;
    if (words[0] == QLatin1String("store")) {
        folder.createMessage(QCString(message(9)), QCString(), QDateTime(), QString(), nullptr, true, 0);
    } else if (words[0] == QLatin1String("delete") && words.size() == 2) {
        gone << entryOf(1)->getID();
        QVERIFY(folder.deleteMessage(entryOf(1)));
    } else if (words[0] == QLatin1String("delete")) {
        gone << entryOf(1)->getID() << entryOf(2)->getID();
        QVERIFY(folder.deleteMessage(gone));
    } else if (words[0] == QLatin1String("move")) {
        gone << entryOf(1)->getID();
        QVERIFY(!other.moveMessage(entryOf(1)).isNull());
    } else if (words[0] == QLatin1String("read")) {
        const QModelIndex i = model.indexOf(id[3], MailFolderModel::UnreadColumn);
        QCOMPARE(i.data().toString(), QStringLiteral("\u25CF"));
        QVERIFY(model.setData(i, false, MailFolderModel::UnreadRole));
        QCOMPARE(folder.getUnread(), 5u);
        QVERIFY(!i.data(MailFolderModel::UnreadRole).toBool());
        QCOMPARE(i.data().toString(), QString());
        MessageDevice dev(folder.indexIDict()->find(id[3]));
        dev.loadDescriptor(false);
        QCOMPARE(dev.getDescriptor().status, QStringLiteral("Read"));
    } else if (words[0] == QLatin1String("compose")) {
        const QString c = folder.createMessage();
        MessageDevice dev(folder.indexIDict()->find(c));
        dev.loadDescriptor(false);
        dev.getDescriptor().subject = QStringLiteral("Zzz draft");
        dev.saveDescriptor();
        QCOMPARE(model.indexOf(c).data().toString(), QStringLiteral("Zzz draft"));
        QCOMPARE(model.indexOf(c).row(), 0);  // moved to its sorted place
    }
    QStringList ids = allIDs(model);
    QCOMPARE(model.rowCount(), rowsAfter);
    QCOMPARE(ids.size(), folder.getMessageCount());
    for (const QString& g : gone)
        QVERIFY(!ids.contains(g));
    QCOMPARE(watched.data(MailFolderModel::IndexIDRole).toString(), watchedID);
}

void TestMailFolderModel::largeFolderFetchesInBatches()
{
    QTemporaryDir tmp;
    auto folder = std::make_unique<LocalMailFolder>(tmp.path());
    const int n = 20000;
    for (int i = 0; i < n; ++i)
        folder->createMessage(QCString(message(i)), QCString(), QDateTime(), QString(), nullptr, true, 1);
    folder->sync();
    MailFolderModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setFolder(folder.get());
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.canFetchMore(QModelIndex()));
    model.fetchMore(QModelIndex());
    QCOMPARE(model.rowCount(), model.batchSize());
    QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("Message 0"));
    model.sort(MailFolderModel::DateColumn, Qt::AscendingOrder);
    QCOMPARE(model.rowCount(), model.batchSize());
    QCOMPARE(model.index(0, MailFolderModel::DateColumn).data(MailFolderModel::SortRole).toDateTime(),
             QDateTime(QDate(2024, 1, 1), QTime(10, 10), Qt::UTC));
    QCOMPARE(allIDs(model).size(), n);
    folder.reset();  // the model lets go of a folder that goes away
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.folder(), nullptr);
}

QTEST_GUILESS_MAIN(TestMailFolderModel)
#include "tst_mailfoldermodel.moc"
