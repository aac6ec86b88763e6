// The stored records: part records (MimePart), descriptor records
// (MessageDescriptor) and index records (IndexClass). Expected byte images
// are written from the record layouts by hand: a 8-bit string is a 32-bit
// big-endian length counting a trailing NUL, the bytes, the NUL; a text
// string a 32-bit byte length and UTF-16 (FF FF FF FF when null); a number
// a 32-bit big-endian signed integer.

#include "../mail/indexrecord_p.h"

#include <indexclass.h>
#include <messageclass.h>
#include <messagedescriptor.h>
#include <mimepart.h>

#include <QTest>

class tst_IndexClass : public QObject
{
    Q_OBJECT
private slots:
    void partDescription_data();
    void partDescription();
    void partRecord_data();
    void partRecord();
    void descriptorRecord();
    void descriptorFromMessage();
    void indexRecord();
    void lazyPartsMove();
    void hostileRecords_data();
    void hostileRecords();
};

template<typename T> static QByteArray written(const T& value)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_3_3);
    s << value;
    return out;
}

// Reads \a value from \a raw; true when the stream is fine and used up.
template<typename T> static bool readFrom(const QByteArray& raw, T& value)
{
    QDataStream s(raw);
    s.setVersion(QDataStream::Qt_3_3);
    s >> value;
    return s.status() == QDataStream::Ok && s.atEnd();
}

// type|mime|encoding|offset|length|charset|cid|name|version
static QByteArray describe(const MimePart& p)
{
    return QList<QByteArray>{p.type, p.mimetype, p.encoding, QByteArray::number(p.offset),
                             QByteArray::number(p.length), p.charset, p.cid, p.name, p.version}
        .join('|');
}

void tst_IndexClass::partDescription_data()
{
    QTest::addColumn<QCString>("line");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("T rest is charset") << QCString("T text/html quoted-printable 10 20   iso-8859-1 x")
                                       << QByteArray("text|text/html|quoted-printable|10|20|iso-8859-1 x|||1");
    QTest::newRow("R rest is name") << QCString("R image/png img1 base64 7 8 a.png")
                                    << QByteArray("related|image/png|base64|7|8|us-ascii|img1| a.png|1");
    QTest::newRow("negative and junk numbers") << QCString("D -4 x") << QByteArray("digest|text/plain|8bit|-4|0|us-ascii|||1");
    QTest::newRow("V 2 unsupported") << QCString("V 2 text text/html 7bit 1 2 utf-8 c AA==")
                                     << QByteArray("attachment|text/plain|8bit|0|0|us-ascii|||2");
}

void tst_IndexClass::partDescription()
{
    QFETCH(QCString, line);
    QFETCH(QByteArray, expected);
    if (line.startsWith("V 2"))
        QTest::ignoreMessage(QtDebugMsg, "Unsupported part version.");
    QCOMPARE(describe(MimePart(line)), expected);
}

static const char PdfPart[] =
    "000000023100"                              // version "1"
    "0000000b6174746163686d656e7400"            // "attachment"
    "000000106170706c69636174696f6e2f70646600"  // "application/pdf"
    "0000000762617365363400"                    // "base64"
    "00000078" "00000d80"                       // 120, 3456
    "0000000975732d617363696900"                // "us-ascii"
    "00000008756e6b6e6f776e00"                  // "unknown"
    "00000006782e70646600";                     // "x.pdf"

// Each layout read; the current one (version "1") also written from the
// part built from \a line (null: an older layout, never written).
void tst_IndexClass::partRecord_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QCString>("embeddedPath");  // "keep": left alone by the reader
    QTest::addColumn<QCString>("line");          // empty: a default part
    QTest::newRow("default") << QByteArray("000000023100" "0000000b6174746163686d656e7400" "0000000b746578742f706c61696e00"
        "000000053862697400" "00000000" "00000000" "0000000975732d617363696900" "0000000100" "0000000100")  // cid, name ""
        << QByteArray("attachment|text/plain|8bit|0|0|us-ascii|||1") << QCString("keep") << QCString("");
    QTest::newRow("pdf") << QByteArray(PdfPart) << QByteArray("attachment|application/pdf|base64|120|3456|us-ascii|unknown|x.pdf|1")
        << QCString("keep") << QCString("V 1 attachment application/pdf base64 120 3456 us-ascii unknown eC5wZGYA");
    QTest::newRow("text layout") << QByteArray("000000057465787400" "0000000b746578742f706c61696e00" "000000053762697400"
                                               "00000005" "00000006" "0000000b69736f2d383835392d3100")
        << QByteArray("text|text/plain|7bit|5|6|iso-8859-1|||7") << QCString("keep") << QCString();
    QTest::newRow("related layout") << QByteArray("0000000872656c6174656400" "0000000a696d6167652f706e6700" "00000005696d673100"
        "0000000762617365363400" "00000007" "00000008" "00000006612e706e6700" "000000072f746d702f7000")
        << QByteArray("related|image/png|base64|7|8|us-ascii|img1|a.png|7") << QCString("/tmp/p") << QCString();
    QTest::newRow("attachment layout") << QByteArray("0000000b6174746163686d656e7400" "000000106170706c69636174696f6e2f7a697000"
        "0000000762617365363400" "00000009" "0000000a" "000000067a2e7a697000" "0000000100")
        << QByteArray("attachment|application/zip|base64|9|10|us-ascii||z.zip|7") << QCString("") << QCString();
    QTest::newRow("digest layout") << QByteArray("0000000764696765737400" "0000000b" "0000000c" "0000000100")
        << QByteArray("digest|text/plain|8bit|11|12|us-ascii|||7") << QCString("") << QCString();
}

void tst_IndexClass::partRecord()
{
    QFETCH(QByteArray, hex);
    QFETCH(QByteArray, expected);
    QFETCH(QCString, embeddedPath);
    QFETCH(QCString, line);
    MimePart p;
    p.version = "7";  // the older layouts leave it alone
    p.embeddedPath = "keep";
    QVERIFY(readFrom(QByteArray::fromHex(hex), p));
    QCOMPARE(describe(p), expected);
    QCOMPARE(p.embeddedPath, embeddedPath);
    if (line.isNull())
        return;
    MimePart w = line.isEmpty() ? MimePart() : MimePart(line);
    w.version = "9";            // the writer always writes "1"
    w.embeddedPath = "/never";  // and never the path
    QCOMPARE(written(w).toHex(), hex);
}

// A new descriptor, field by field: null strings are FF FF FF FF, empty
// lists a zero count, 8-bit values one byte.
static const char CoreOfNew[] =
    "ffffffff" "00000000"                                   // 1-2 from, to
    "ffffffff" "ffffffff" "ffffffff"                        // 3-5 subject, status, priority
    "ffffffff" "ffffffff" "ffffffff" "ffffffff"             // 6-9 contentType, sentDate, receivedDate, scheduling
    "00000000" "00" "00" "00" "00"                          // 10-14 flags, red, green, blue, flag
    "ffffffff" "00000000" "ffffffff" "ffffffff" "00000000"; // 15-19 inReplyTo, references, indexID, parentIndexID, related
static const char FullOfNew[] =
    "ffffffff" "00000000" "00000000"                        // 20-22 replyTo, cc, bcc
    "ffffffff" "ffffffff" "ffffffff" "00000000"             // 23-26 messageID, organization, uid, extendedStatus
    "ffffffff" "ffffffff" "00000000" "00"                   // 27-30 contentEncoding, account, route, requestReceipt
    "ffffffff" "ffffffff" "00000000" "00000000";            // 31-34 extraInfo, category, persistence, extraData
static const char TailOfNew[] = "00" "00000000";            // 35-36 attachments, size

void tst_IndexClass::descriptorRecord()
{
    MessageDescriptor d;
    QCOMPARE(written(d).toHex(), QByteArray(CoreOfNew) + FullOfNew + TailOfNew);
    d.setCoreLoad(true);
    QCOMPARE(written(d).toHex(), QByteArray(CoreOfNew) + TailOfNew);
    d.setCoreLoad(false);
    d.from = QStringLiteral("A");
    d.to = QStringList{QStringLiteral("b"), QString(QLatin1String(""))};
    d.red = 0xff;
    d.flag = 2;
    d.persistence = 0x01020304;
    d.attachments = 1;
    d.size = 350;
    d.extraData = QByteArray("\x00\x01", 2);
    const QByteArray hex = written(d).toHex();
    QVERIFY(hex.startsWith("00000002" "0041" "00000002" "000000020062" "00000000"));  // from "A", to ["b", ""]
    QVERIFY(hex.contains("ff000002" "ffffffff"));                                    // colours, flag, inReplyTo
    QVERIFY(hex.endsWith("01020304" "00000002" "0001" "01" "0000015e"));
    // Read back whole; a core record read leaves the other fields alone.
    d.references = d.cc = QStringList{QStringLiteral("r1"), QStringLiteral("r2")};
    d.uid = QStringLiteral("u");
    d.requestReceipt = 1;
    MessageDescriptor r, core;
    QVERIFY(readFrom(written(d), r));
    QCOMPARE(written(r), written(d));
    d.setCoreLoad(true);
    core.uid = QStringLiteral("kept");
    core.setCoreLoad(true);
    QVERIFY(readFrom(written(d), core));
    QCOMPARE(QStringList({core.from, core.uid, QString::number(core.size)}),
             QStringList({d.from, QStringLiteral("kept"), QStringLiteral("350")}));
}

// Loading from a message counts Received lines as the route and the
// attachments, sums the part sizes and replaces the references.
void tst_IndexClass::descriptorFromMessage()
{
    MessageClass m(QCString("Subject: =?UTF-8?Q?caf=C3=A9?=\r\nReceived: from a\r\nReceived: from b\r\n"
        "Content-Type: multipart/mixed; boundary=XX\r\n\r\n--XX\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
        "--XX\r\nContent-Type: application/octet-stream; name=a.bin\r\n\r\nAAEC\r\n--XX--\r\n"));
    MessageDescriptor d;
    d.references = QStringList{QStringLiteral("stale")};
    d.load(m);
    QCOMPARE(QList<int>({int(d.references.size()), int(d.route.size()), d.attachments}), QList<int>({0, 2, 1}));
    QCOMPARE(d.size, unsigned(m.partList[0]->length + m.partList[1]->length));
}

// An index record from the field table, with one default attachment part at 140/20.
static const char OnePartRecord[] =
    "00000006007b0031007d" "00000000" "00000002006d"  // id "{1}", parent "", message id "m"
    "00000010" "00000020" "00000064" "000000c8"      // descriptor offset, length; block offset, length
    "00000000" "00000001" "00000001"                 // multipart-only, unread; one part:
    "000000023100" "0000000b6174746163686d656e7400" "0000000b746578742f706c61696e00" "000000053862697400"
    "0000008c" "00000014" "0000000975732d617363696900" "0000000100" "0000000100";

void tst_IndexClass::indexRecord()
{
    IndexClass e(nullptr, QStringLiteral("{1}"));
    e.lock();
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
    QCOMPARE(written(e).toHex(), QByteArray(OnePartRecord));
    IndexClass r(nullptr, QStringLiteral("old"));
    r.lock();
    QVERIFY(readFrom(QByteArray::fromHex(OnePartRecord), r));
    QCOMPARE(written(r).toHex(), QByteArray(OnePartRecord));
    QVERIFY(r.isLocked() && r.getUnreadMark() && !r.isMultipartOnly());  // the lock is not stored
    QCOMPARE(r.getParentID(), QString(QLatin1String("")));

    // A part by pointer is unfinished (0/0). The size is the text's, for a
    // multipart-only entry the parts'; rebasing the text moves the parts.
    e.addPart(new MimePart, false);
    QCOMPARE(e.getSize(), 200);
    e.setMultipartOnly(true);
    QCOMPARE(e.getSize(), 20);
    QVERIFY(e.isFullMessage() && !e.getPartAt(2) && !e.getPartAt(-1));
    QTest::ignoreMessage(QtDebugMsg, "Hmm, saving an unfinished mail!");
    e.setUniblockOffset(1000, true);
    e.setUniblockOffset(2000, false);
    QCOMPARE(QList<int>({e.getPartAt(0)->offset, e.getPartAt(1)->offset}), QList<int>({1040, 0}));
    QVERIFY(e.removePart(0) && !e.removePart(5) && e.getPartCount() == 1);
}

// A record read in place, its text moved: the part moves with it when
// decoded and when written, from an older layout (written in the current
// one) and from the current one (copied as stored).
void tst_IndexClass::lazyPartsMove()
{
    IndexClass e(nullptr, QStringLiteral("x"));
    e.setUniblockOffset(10, false);
    MimePart now;
    now.offset = 5;
    now.length = 6;
    for (const QByteArray& part : {QByteArray::fromHex("000000057465787400" "0000000b746578742f706c61696e00"
             "000000053762697400" "00000005" "00000006" "0000000b69736f2d383835392d3100"), written(now)}) {
        const auto image = Orvane::IndexImage::fromBytes(written(e).chopped(4) + QByteArray::fromHex("00000001") + part);
        Orvane::RawRecord r;
        QVERIFY(Orvane::scanRecord(image->data(), image->size(), 0, &r));
        IndexClass decoded(nullptr, image, 0, r), stored(nullptr, image, 0, r), back(nullptr, QString());
        decoded.setUniblockOffset(110, true);
        stored.setUniblockOffset(110, true);
        QVERIFY(readFrom(written(stored), back));
        QCOMPARE(QList<int>({decoded.getPartAt(0)->offset, back.getPartAt(0)->offset, back.getPartAt(0)->length}),
                 QList<int>({105, 105, 6}));
    }
}

// Short records and hostile counts or lengths fail the stream; nothing is
// allocated for what a length word claims, and parts read whole are kept.
void tst_IndexClass::hostileRecords_data()
{
    QTest::addColumn<char>("kind");  // descriptor, index, part
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("parts");
    const QByteArray desc = written(MessageDescriptor()), index = QByteArray::fromHex(OnePartRecord);
    QTest::newRow("descriptor list count 2^31") << 'd' << QByteArray::fromHex("ffffffff" "80000000" "00000000") << 0;
    QTest::newRow("descriptor string past the end") << 'd' << QByteArray::fromHex("7ffffff0" "0041") << 0;
    QTest::newRow("descriptor cut before the size") << 'd' << desc.left(desc.size() - 2) << 0;
    QTest::newRow("descriptor byte array length 2^31")
        << 'd' << QByteArray(desc).replace(desc.size() - 9, 4, QByteArray::fromHex("7fffffff")) << 0;
    QTest::newRow("index cut in the part") << 'i' << index.left(index.size() - 3) << 0;
    // A part count of 2^31 over a record that holds one part.
    QTest::newRow("index hostile part count") << 'i' << QByteArray(index).replace(
        index.indexOf(QByteArray::fromHex("00000001000000023100")), 4, QByteArray::fromHex("7fffffff")) << 1;
    QTest::newRow("part version 2") << 'p' << QByteArray::fromHex("000000023200" "000000057465787400") << 0;
    QTest::newRow("part hostile length") << 'p' << QByteArray::fromHex("000000023100" "000000057465787400" "7ffffff0616263") << 0;
}

void tst_IndexClass::hostileRecords()
{
    QFETCH(char, kind);
    QFETCH(QByteArray, raw);
    QFETCH(int, parts);
    QDataStream s(raw);
    s.setVersion(QDataStream::Qt_3_3);
    MessageDescriptor d;
    IndexClass e(nullptr, QString());
    MimePart p;
    if (kind == 'd')
        s >> d;
    else if (kind == 'i')
        s >> e;
    else if (raw.startsWith(QByteArray::fromHex("000000023200")))
        QTest::ignoreMessage(QtDebugMsg, "Unsupported part version: 2.");
    if (kind == 'p')
        s >> p;
    QVERIFY(s.status() != QDataStream::Ok || !s.atEnd());  // a version-2 part is left unread
    QCOMPARE(e.getPartCount(), parts);
}

QTEST_GUILESS_MAIN(tst_IndexClass)
#include "tst_indexclass.moc"
