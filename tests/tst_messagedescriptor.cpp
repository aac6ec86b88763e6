#include <messageclass.h>
#include <messagedescriptor.h>

#include <QTest>

class tst_MessageDescriptor : public QObject
{
    Q_OBJECT
private slots:
    void newRecord();
    void coreRecord();
    void valuesRecord();
    void readBack();
    void coreReadLeavesOthers();
    void hostileRecords_data();
    void hostileRecords();
    void loadFromMessage();
};

static QByteArray write(MessageDescriptor& d, bool core = false)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_3_3);
    d.setCoreLoad(core);
    s << d;
    d.setCoreLoad(false);
    return out;
}

// A new descriptor, field by field: null strings are FF FF FF FF, empty
// lists a zero count, 8-bit values one byte.
static const char CoreBlockOfNew[] =
    "ffffffff"                          // 1 from
    "00000000"                          // 2 to
    "ffffffff" "ffffffff" "ffffffff"    // 3-5 subject, status, priority
    "ffffffff" "ffffffff" "ffffffff"    // 6-8 contentType, sentDate, receivedDate
    "ffffffff"                          // 9 scheduling
    "00000000"                          // 10 flags
    "00" "00" "00" "00"                 // 11-14 red, green, blue, flag
    "ffffffff"                          // 15 inReplyTo
    "00000000"                          // 16 references
    "ffffffff" "ffffffff"               // 17-18 indexID, parentIndexID
    "00000000";                         // 19 relatedIndexIDList
static const char FullBlockOfNew[] =
    "ffffffff"                          // 20 replyTo
    "00000000" "00000000"               // 21-22 cc, bcc
    "ffffffff" "ffffffff" "ffffffff"    // 23-25 messageID, organization, uid
    "00000000"                          // 26 extendedStatus
    "ffffffff" "ffffffff"               // 27-28 contentEncoding, account
    "00000000"                          // 29 route
    "00"                                // 30 requestReceipt
    "ffffffff" "ffffffff"               // 31-32 extraInfo, category
    "00000000"                          // 33 persistence
    "00000000";                         // 34 extraData (empty)
static const char TailOfNew[] = "00" "00000000";  // 35-36 attachments, size

void tst_MessageDescriptor::newRecord()
{
    MessageDescriptor d;
    QCOMPARE(write(d).toHex(), QByteArray(CoreBlockOfNew) + FullBlockOfNew + TailOfNew);
}

void tst_MessageDescriptor::coreRecord()
{
    MessageDescriptor d;
    QCOMPARE(write(d, true).toHex(), QByteArray(CoreBlockOfNew) + TailOfNew);
}

void tst_MessageDescriptor::valuesRecord()
{
    MessageDescriptor d;
    d.from = QStringLiteral("A");
    d.to = QStringList{QStringLiteral("b"), QString(QLatin1String(""))};
    d.red = 0xff;
    d.flag = 2;
    d.persistence = 0x01020304;
    d.extraData = QByteArray("\x00\x01", 2);
    d.attachments = 1;
    d.size = 350;
    const QByteArray hex = write(d).toHex();
    QVERIFY(hex.startsWith("00000002" "0041"                  // from "A"
                           "00000002" "000000020062" "00000000"));  // to ["b", ""]
    QVERIFY(hex.contains("ff000002" "ffffffff"));             // colours, flag, inReplyTo
    QVERIFY(hex.endsWith("01020304" "00000002" "0001" "01" "0000015e"));
}

void tst_MessageDescriptor::readBack()
{
    MessageDescriptor d;
    d.from = QStringLiteral("Zoë <z@example.org>");
    d.to = QStringList{QStringLiteral("a@example.org"), QStringLiteral("b@example.org")};
    d.subject = QStringLiteral("Hola");
    d.references = QStringList{QStringLiteral("r1"), QStringLiteral("r2")};
    d.cc = QStringList{QStringLiteral("c@example.org")};
    d.uid = QStringLiteral("u");
    d.extraData = QByteArray("xyz");
    d.requestReceipt = 1;
    d.blue = 7;
    d.attachments = 1;
    d.size = 12345;
    const QByteArray raw = write(d);
    QDataStream s(raw);
    s.setVersion(QDataStream::Qt_3_3);
    MessageDescriptor r;
    s >> r;
    QCOMPARE(s.status(), QDataStream::Ok);
    QVERIFY(s.atEnd());
    QCOMPARE(r.from, d.from);
    QCOMPARE(r.to, d.to);
    QCOMPARE(r.subject, d.subject);
    QVERIFY(r.status.isNull());
    QCOMPARE(r.references, d.references);
    QCOMPARE(r.cc, d.cc);
    QCOMPARE(r.uid, d.uid);
    QCOMPARE(r.extraData, d.extraData);
    QCOMPARE(r.requestReceipt, (unsigned char)1);
    QCOMPARE(r.blue, (unsigned char)7);
    QCOMPARE(r.attachments, (unsigned char)1);
    QCOMPARE(r.size, 12345u);
}

void tst_MessageDescriptor::coreReadLeavesOthers()
{
    MessageDescriptor d;
    d.from = QStringLiteral("f");
    d.uid = QStringLiteral("written");
    d.size = 9;
    const QByteArray raw = write(d, true);
    MessageDescriptor r;
    r.uid = QStringLiteral("kept");
    QDataStream s(raw);
    s.setVersion(QDataStream::Qt_3_3);
    r.setCoreLoad(true);
    s >> r;
    QCOMPARE(s.status(), QDataStream::Ok);
    QVERIFY(s.atEnd());
    QCOMPARE(r.from, QStringLiteral("f"));
    QCOMPARE(r.uid, QStringLiteral("kept"));
    QCOMPARE(r.size, 9u);
}

void tst_MessageDescriptor::hostileRecords_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("list count 2^31") << QByteArray::fromHex("ffffffff" "80000000" "00000000");
    QTest::newRow("string past the end") << QByteArray::fromHex("7ffffff0" "0041");
    MessageDescriptor d;
    const QByteArray full = write(d);
    QTest::newRow("cut before the size") << full.left(full.size() - 2);
    QByteArray bytes = full;
    bytes.replace(bytes.size() - 9, 4, QByteArray::fromHex("7fffffff"));  // extraData length
    QTest::newRow("byte array length 2^31") << bytes;
}

void tst_MessageDescriptor::hostileRecords()
{
    QFETCH(QByteArray, raw);
    QDataStream s(raw);
    s.setVersion(QDataStream::Qt_3_3);
    MessageDescriptor r;
    s >> r;
    QVERIFY(s.status() != QDataStream::Ok);
}

void tst_MessageDescriptor::loadFromMessage()
{
    const QCString text(
        "From: =?ISO-8859-1?Q?Jos=E9?= <jose@example.org>\r\n"
        "To: a@example.org, Bea <b@example.org>\r\n"
        "Subject: =?UTF-8?Q?caf=C3=A9?=\r\n"
        "Message-ID: <m1@example.org>\r\n"
        "Received: from a\r\n"
        "Received: from b\r\n"
        "Content-Type: multipart/mixed; boundary=XX\r\n"
        "\r\n"
        "--XX\r\n"
        "Content-Type: text/plain\r\n"
        "\r\n"
        "hello\r\n"
        "--XX\r\n"
        "Content-Type: application/octet-stream; name=a.bin\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "\r\n"
        "AAEC\r\n"
        "--XX--\r\n");
    MessageClass m(text);
    MessageDescriptor d;
    d.references = QStringList{QStringLiteral("stale")};
    d.category = QStringLiteral("kept");
    d.load(m);
    QCOMPARE(d.subject, QStringLiteral("café"));
    QCOMPARE(d.messageID, QStringLiteral("m1@example.org"));
    QCOMPARE(d.to.size(), 2);
    QVERIFY(d.references.isEmpty());
    QCOMPARE(d.route.size(), 2);
    QCOMPARE(d.category, QStringLiteral("kept"));
    QCOMPARE(d.attachments, (unsigned char)1);
    unsigned int sum = 0;
    for (const auto& p : m.partList)
        sum += unsigned(p->length);
    QCOMPARE(d.size, sum);
    QVERIFY(d.from.contains(QStringLiteral("José")));
}

QTEST_GUILESS_MAIN(tst_MessageDescriptor)
#include "tst_messagedescriptor.moc"
