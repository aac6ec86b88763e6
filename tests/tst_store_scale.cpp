// The store's handling of damaged index records and of lazily read entries.
#include "toolrun.h"

#include <indexclass.h>
#include <localmailfolder.h>
#include <messagedevice.h>
#include <mimepart.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class tst_StoreScale : public QObject
{
    Q_OBJECT
private slots:
    void outOfRangeRecordHidesNothing_data();
    void outOfRangeRecordHidesNothing();
    void batchThreadingLinksAsSingle();
    void deleteScrubsEveryVersion();

private:
    static QCString message(int n)
    {
        return QCString("From: a@example.org\r\nSubject: m" + QByteArray::number(n)
                        + "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                          "--b\r\nContent-Type: text/plain\r\n\r\nbody " + QByteArray::number(n)
                        + "\r\n--b--\r\n");
    }
    QTemporaryDir tmp;
    const QDateTime when = QDateTime(QDate(2026, 12, 7), QTime(9, 0));
};

void tst_StoreScale::outOfRangeRecordHidesNothing_data()
{
    QTest::addColumn<int>("field");  // 0..3 entry offsets/lengths, 4..5 part offset/length
    QTest::addColumn<long>("value");
    QTest::addColumn<bool>("dropped");  // compaction cannot carry the entry
    const char* names[] = {"descriptor offset", "descriptor length", "text offset",
                           "text length", "part offset", "part length"};
    for (int f = 0; f < 6; ++f) {
        QTest::addRow("%s negative", names[f]) << f << -7L << (f < 4);
        QTest::addRow("%s beyond the file", names[f]) << f << 0x7ffffff0L << (f < 4);
    }
}

// A record that reads whole but points outside the files never hides or
// loses the records after it; only that entry yields no data.
void tst_StoreScale::outOfRangeRecordHidesNothing()
{
    QFETCH(int, field);
    QFETCH(long, value);
    QFETCH(bool, dropped);
    const QString path = tmp.path() + QLatin1String("/f") + QString::number(field) + QLatin1Char('_')
        + QString::number(value < 0);
    QDir().mkpath(path);
    QStringList ids;
    {
        LocalMailFolder f(path);
        for (int i = 0; i < 3; ++i)
            ids << f.createMessage(message(i), "u", when, QString(), nullptr, false, 0);
        IndexClass* e = f.indexIDict()->find(ids[1]);
        switch (field) {
        case 0: e->setDescriptorOffset(value); break;
        case 1: e->setDescriptorLength(value); break;
        case 2: e->setUniblockOffset(value, false); break;
        case 3: e->setUniblockLength(value); break;
        case 4: e->getPartAt(0)->offset = value; break;
        default: e->getPartAt(0)->length = value; break;
        }
        f.saveIndex();
    }
    auto verifyNeighbours = [&](LocalMailFolder& f) {
        for (int i : {0, 2}) {
            IndexClass* e = f.indexIDict()->find(ids[i]);
            QVERIFY(e);
            MessageDevice dev(e);
            QCOMPARE(dev.rfc822Message(), message(i));
            dev.loadDescriptor(false);
            QCOMPARE(dev.getDescriptor().subject, QStringLiteral("m%1").arg(i));
        }
    };
    {
        LocalMailFolder f(path);
        QCOMPARE(f.getMessageCount(), 3);
        verifyNeighbours(f);
        QByteArray data;
        MessageDevice(f.indexIDict()->find(ids[1])).getPartData(0, data);  // bounded, no crash
    }
    const Run check = runTool({QStringLiteral("check"), path}, tmp.path());
    QCOMPARE(check.rc, 1);
    QVERIFY2(check.out.contains("outside the"), check.out.constData());
    {
        LocalMailFolder f(path);
        if (dropped)
            QTest::ignoreMessage(QtDebugMsg, "The index file seems to be broken :(");
        QVERIFY(f.compact(0));
        QCOMPARE(f.getMessageCount(), dropped ? 2 : 3);
    }
    LocalMailFolder f(path);
    QCOMPARE(f.getMessageCount(), dropped ? 2 : 3);
    verifyNeighbours(f);
}

// Threading a list links exactly as threading its messages one by one:
// same parents, same reverse links, no cycle, unknown parents ignored.
void tst_StoreScale::batchThreadingLinksAsSingle()
{
    auto reply = [](const char* id, const char* to) {
        return QCString(QByteArray("From: a@example.org\r\nMessage-ID: <") + id + ">\r\n"
                        + (to ? QByteArray("In-Reply-To: <") + to + ">\r\n" : QByteArray()) + "\r\nx\r\n");
    };
    // a <- b <- c, a <- d, e answers an unknown message, f and g answer
    // each other (the second link would close a cycle).
    const char* msgs[][2] = {{"a", nullptr}, {"b", "a"}, {"c", "b"}, {"d", "a"},
                             {"e", "zz"},    {"f", "g"},  {"g", "f"}};
    QList<QStringList> results;
    for (bool batch : {false, true}) {
        const QString path = tmp.path() + (batch ? QLatin1String("/batch") : QLatin1String("/single"));
        QDir().mkpath(path);
        {
            LocalMailFolder f(path);
            for (const auto& m : msgs)
                f.createMessage(reply(m[0], m[1]), QCString(m[0]), when, QString(), nullptr, false, 0);
            const std::vector<IndexClass*> all = f.indexIDict()->entries();
            if (batch)
                f.reparentIndex(all);
            else
                for (IndexClass* e : all)
                    f.reparentIndex(e);
        }
        LocalMailFolder f(path);
        QHash<QString, QString> name;  // index ID -> message ID
        for (IndexClass* e : f.indexIDict()->entries())
            name.insert(e->getID(), e->getMessageID());
        QStringList links;
        for (IndexClass* e : f.indexIDict()->entries()) {
            MessageDevice dev(e);
            dev.loadDescriptor(false);
            const MessageDescriptor& d = dev.getDescriptor();
            QStringList related;
            for (const QString& id : d.relatedIndexIDList)
                related << name.value(id);
            links << e->getMessageID() + QLatin1Char('<') + name.value(e->getParentID()) + QLatin1Char('/')
                    + name.value(d.parentIndexID) + QLatin1Char(' ') + d.references.join(QLatin1Char(','))
                    + QLatin1Char(' ') + related.join(QLatin1Char(','));
        }
        results << links;
    }
    QCOMPARE(results[1], results[0]);
    QCOMPARE(results[0].size(), 7);
    QCOMPARE(results[0][0], QStringLiteral("a</ b,d b,d"));
    QCOMPARE(results[0][2], QStringLiteral("c<b/b  "));
    QCOMPARE(results[0][5], QStringLiteral("f<g/g  "));
    QCOMPARE(results[0][6], QStringLiteral("g</ f f"));  // g <- f would close a cycle
}

// Deleting leaves none of the message's bytes in the files, older
// descriptor versions included, and nothing of the others is touched.
void tst_StoreScale::deleteScrubsEveryVersion()
{
    const QString path = tmp.path() + QLatin1String("/scrub");
    QDir().mkpath(path);
    QString gone, kept;
    {
        LocalMailFolder f(path);
        gone = f.createMessage(message(7), "u", when, QString(), nullptr, false, 0);
        kept = f.createMessage(message(8), "u", when, QString(), nullptr, false, 0);
        MessageDevice dev(f.indexIDict()->find(gone));
        dev.loadDescriptor(false);
        dev.getDescriptor().subject = QStringLiteral("first secret");
        dev.saveDescriptor();
        dev.getDescriptor().subject = QStringLiteral("second secret");
        dev.saveDescriptor();
    }
    const qint64 size = QFileInfo(path + QLatin1String("/messages")).size();
    {
        LocalMailFolder f(path);  // the versions are known from the log only
        QVERIFY(f.deleteMessage(f.indexIDict()->find(gone)));
    }
    QFile m(path + QLatin1String("/messages")), d(path + QLatin1String("/descriptor"));
    QVERIFY(m.open(QIODevice::ReadOnly) && d.open(QIODevice::ReadOnly));
    const QByteArray messages = m.readAll(), descriptors = d.readAll();
    QCOMPARE(messages.size(), size);  // in place: nothing moved
    QVERIFY(!messages.contains("body 7") && messages.contains("body 8"));
    auto utf16be = [](const char* text) {
        QByteArray be;
        for (const char* c = text; *c; ++c)
            be.append('\0').append(*c);
        return be;
    };
    QVERIFY(descriptors.contains(utf16be("m8")));
    for (const char* s : {"m7", "first secret", "second secret"})
        QVERIFY2(!descriptors.contains(utf16be(s)), s);
    LocalMailFolder f(path);
    QCOMPARE(f.getEntryList(QString()), QStringList{kept});
    QCOMPARE(MessageDevice(f.indexIDict()->find(kept)).rfc822Message(), message(8));
}

QTEST_GUILESS_MAIN(tst_StoreScale)
#include "tst_store_scale.moc"
