#include <indexclass.h>
#include <localmailfolder.h>
#include <mimepart.h>

#include <QTemporaryDir>
#include <QTest>

class tst_IndexClass : public QObject
{
    Q_OBJECT
private slots:
    void freshEntryRecord();
    void recordWithPart();
    void readRecord();
    void truncatedRecords_data();
    void truncatedRecords();
    void sizeAndParts();
    void moveBlock();
    void copyIsDeep();
    void fileNames();
};

static QByteArray write(const IndexClass& e)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_3_3);
    s << e;
    return out;
}

// A record written by hand from the field table: id "{1}", parent "",
// message id "m", descriptor 16/32, block 100/200, not multipart-only,
// unread, one default attachment part at 140/20.
static const char OnePartRecord[] =
    "00000006007b0031007d"  // _id "{1}"
    "00000000"              // _parentID ""
    "00000002006d"          // _messageID "m"
    "00000010" "00000020"   // descriptor offset, length
    "00000064" "000000c8"   // block offset, length
    "00000000" "00000001"   // multipart-only, unread
    "00000001"              // one part:
    "000000023100"          //   version "1"
    "0000000b6174746163686d656e7400"  // type "attachment"
    "0000000b746578742f706c61696e00"  // mimetype "text/plain"
    "000000053862697400"    //   encoding "8bit"
    "0000008c" "00000014"   //   offset 140, length 20
    "0000000975732d617363696900"      // charset "us-ascii"
    "0000000100"            //   cid ""
    "0000000100";           //   name ""

void tst_IndexClass::freshEntryRecord()
{
    IndexClass e(nullptr, QString());
    const QByteArray expected = QByteArray::fromHex(
        "ffffffff" "00000000" "00000000"
        "000000000000000000000000000000000000000000000000"
        "00000000");
    QCOMPARE(write(e).toHex(), expected.toHex());
    QCOMPARE(write(e).size(), 40);
}

void tst_IndexClass::recordWithPart()
{
    IndexClass e(nullptr, QStringLiteral("{1}"));
    e.setMessageID(QStringLiteral("m"));
    e.setDescriptorOffset(16);
    e.setDescriptorLength(32);
    e.setUniblockOffset(100, false);
    e.setUniblockLength(200);
    e.setUnreadMark(true);
    auto p = std::make_unique<MimePart>();
    p->offset = 40;
    p->length = 20;
    QCOMPARE(e.addPart(std::move(p), true), 0);  // rebased: 140
    QCOMPARE(write(e).toHex(), QByteArray(OnePartRecord));
}

void tst_IndexClass::readRecord()
{
    const QByteArray raw = QByteArray::fromHex(OnePartRecord);
    QDataStream s(raw);
    s.setVersion(QDataStream::Qt_3_3);
    IndexClass e(nullptr, QStringLiteral("old"));
    e.lock();
    s >> e;
    QCOMPARE(s.status(), QDataStream::Ok);
    QVERIFY(s.atEnd());
    QCOMPARE(e.getID(), QStringLiteral("{1}"));
    QCOMPARE(e.getParentID(), QString(QLatin1String("")));
    QCOMPARE(e.getMessageID(), QStringLiteral("m"));
    QCOMPARE(e.getDescriptorOffset(), 16L);
    QCOMPARE(e.getDescriptorLength(), 32L);
    QCOMPARE(e.getUniblockOffset(), 100L);
    QCOMPARE(e.getUniblockLength(), 200L);
    QVERIFY(!e.isMultipartOnly());
    QVERIFY(e.getUnreadMark());
    QVERIFY(e.isLocked());  // not carried by the stream
    QCOMPARE(e.getPartCount(), 1);
    QCOMPARE(e.getPartAt(0)->offset, 140);
    QCOMPARE(e.getPartAt(0)->type, QCString("attachment"));
}

void tst_IndexClass::truncatedRecords_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("parts");
    const QByteArray full = QByteArray::fromHex(OnePartRecord);
    QTest::newRow("cut in the id") << full.left(5) << 0;
    QTest::newRow("cut in the offsets") << full.left(30) << 0;
    QTest::newRow("cut in the part") << full.left(full.size() - 3) << 0;
    // A part count of 2^31 over a record that holds one part.
    QByteArray huge = full;
    huge.replace(full.indexOf(QByteArray::fromHex("00000001000000023100")), 4,
                 QByteArray::fromHex("7fffffff"));
    QTest::newRow("hostile part count") << huge << 1;
    // A string length of 2^31 - 2.
    QTest::newRow("hostile string length") << QByteArray::fromHex("7ffffffe0041") << 0;
}

void tst_IndexClass::truncatedRecords()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, parts);
    QDataStream s(raw);
    s.setVersion(QDataStream::Qt_3_3);
    IndexClass e(nullptr, QString());
    s >> e;
    QVERIFY(s.status() != QDataStream::Ok);
    QCOMPARE(e.getPartCount(), parts);
}

void tst_IndexClass::sizeAndParts()
{
    IndexClass e(nullptr, QString());
    e.setUniblockOffset(500, false);
    e.setUniblockLength(77);
    for (int len : {10, 20}) {
        auto p = std::make_unique<MimePart>();
        p->offset = 40;
        p->length = len;
        e.addPart(std::move(p), len == 10);
    }
    QCOMPARE(e.getPartAt(0)->offset, 540);
    QCOMPARE(e.getPartAt(1)->offset, 40);
    QCOMPARE(e.getSize(), 77);
    e.setMultipartOnly(true);
    QCOMPARE(e.getSize(), 30);
    QVERIFY(e.isFullMessage());
    QVERIFY(!e.getPartAt(2));
    QVERIFY(!e.getPartAt(-1));
    QVERIFY(e.removePart(0));
    QVERIFY(!e.removePart(5));
    QCOMPARE(e.getPartCount(), 1);
}

void tst_IndexClass::moveBlock()
{
    IndexClass e(nullptr, QString());
    e.setUniblockOffset(500, false);
    auto p = std::make_unique<MimePart>();
    p->offset = 40;
    p->length = 5;
    e.addPart(std::move(p), true);
    e.addPart(new MimePart, false);  // handed over by pointer; unfinished: 0/0
    QTest::ignoreMessage(QtDebugMsg, "Hmm, saving an unfinished mail!");
    e.setUniblockOffset(1000, true);
    QCOMPARE(e.getPartAt(0)->offset, 1040);
    QCOMPARE(e.getPartAt(1)->offset, 0);
    e.setUniblockOffset(2000, false);
    QCOMPARE(e.getPartAt(0)->offset, 1040);
    QCOMPARE(e.getUniblockOffset(), 2000L);
}

void tst_IndexClass::copyIsDeep()
{
    IndexClass e(nullptr, QStringLiteral("x"));
    e.lock();
    e.addPart(std::make_unique<MimePart>(), false);
    IndexClass c(e);
    QVERIFY(!c.isLocked());
    QVERIFY(!c.getParentFolder());
    QCOMPARE(c.getPartCount(), 1);
    QVERIFY(c.getPartAt(0) != e.getPartAt(0));
}

void tst_IndexClass::fileNames()
{
    QTemporaryDir dir;
    const QString path = dir.path() + QLatin1String("/mail/sysmail_inbox");
    LocalMailFolder folder(path);
    IndexClass e(&folder, QStringLiteral("{id}"));
    QCOMPARE(e.url(), QStringLiteral("sysmail_inbox/{id}"));
    QCOMPARE(e.getDataFilename(), path + QLatin1String("/messages"));
    QCOMPARE(e.getDescriptorFileName(), path + QLatin1String("/descriptor"));
    IndexClass orphan(nullptr, QString());
    QVERIFY(orphan.getDataFilename().isNull());
    QVERIFY(orphan.getDescriptorFileName().isNull());
}

QTEST_GUILESS_MAIN(tst_IndexClass)
#include "tst_indexclass.moc"
