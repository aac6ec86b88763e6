// Opening a local folder whose index file holds arbitrary bytes, then
// reading every loaded entry through a message device: descriptors (full
// and core), every part's decoded data, the stored text and the cache
// block. The folder's messages and descriptor files are real ones, written
// once per process by the library from fixed messages, so that entries can
// point into them. Reading a folder must never change those files.
//
// The index bytes are handed to the folder from memory, through the same
// loader that reads a mapped index file (no file is written per input).
// Every lazily read entry must write the same record bytes as the same
// record read eagerly by the stream reader.
//
// With ORVANE_FUZZ_WRITE_INDEX=<path> set, the process copies the index file
// of its fixed folder to <path> and exits: that file is a seed whose entries
// point exactly at the fixed records.
#include "../mail/indexrecord_p.h"
#include "../mail/streamio_p.h"

#include <indexclass.h>
#include <localmailfolder.h>
#include <messagedevice.h>
#include <messagefactory.h>
#include <mimepart.h>
#include <qcstring.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTimeZone>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QString folderDir;
qint64 messagesSize = -1;
qint64 descriptorSize = -1;

const char* const FixedMessages[] = {
    "From: Ann Example <ann@example.org>\r\n"
    "To: bob@example.net, Carl <carl@example.com>\r\n"
    "Subject: plain\r\n"
    "Date: Tue, 1 Jun 2021 10:00:00 +0200\r\n"
    "Message-ID: <plain@example.org>\r\n"
    "\r\n"
    "Hello Bob,\r\nsee you.\r\n",

    "From: bob@example.net\r\n"
    "To: ann@example.org\r\n"
    "Subject: =?UTF-8?B?bcO8bHRpcGFydA==?=\r\n"
    "In-Reply-To: <plain@example.org>\r\n"
    "References: <plain@example.org>\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
    "\r\n"
    "--b1\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "Gr=FC=DFe=\r\n aus Wien\r\n"
    "--b1\r\n"
    "Content-Type: text/html; charset=utf-8\r\n"
    "\r\n"
    "<p>hi</p>\r\n"
    "--b1\r\n"
    "Content-Type: application/octet-stream; name=\"a.bin\"\r\n"
    "Content-Disposition: attachment; filename=\"a.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "AAECAwQFBgcICQ==\r\n"
    "--b1--\r\n",

    "From: carl@example.com\r\n"
    "Subject: nested\r\n"
    "Content-Type: multipart/alternative; boundary=x\r\n"
    "\r\n"
    "--x\r\n"
    "Content-Type: text/plain\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "aGVsbG8gd29ybGQ=\r\n"
    "--x\r\n"
    "Content-Type: message/rfc822\r\n"
    "\r\n"
    "Subject: inner\r\n\r\ninner body\r\n"
    "--x--\r\n",
};

// A folder that takes its index from memory.
class MemoryFolder : public LocalMailFolder
{
public:
    explicit MemoryFolder(const QString& dir) : LocalMailFolder(dir) {}
    void load(const QByteArray& bytes) { loadIndex(Orvane::IndexImage::fromBytes(bytes)); }
};

QByteArray written(const IndexClass& e)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    Orvane::setupClassicStream(s);
    s << e;
    return out;
}

// Walks the records as the loader does and compares each lazily read entry
// with the stream reader's result.
void compareWithStreamReader(const QByteArray& bytes)
{
    const auto image = Orvane::IndexImage::fromBytes(bytes);
    const uchar* d = image->data();
    const qint64 size = image->size();
    if (size < 4)
        return;
    qint64 pos = Orvane::rawStringSize(d, 0);
    if (pos > size)
        return;
    QDataStream s(bytes);
    Orvane::setupClassicStream(s);
    s.skipRawData(int(pos));
    while (pos < size) {
        Orvane::RawRecord r;
        const bool scanned = Orvane::scanRecord(d, size, pos, &r);
        IndexClass eager(nullptr, QString());
        s >> eager;
        if (scanned != Orvane::streamOk(s))
            std::abort();  // the walk and the reader disagree on a record
        if (!scanned)
            return;
        if (s.device()->pos() != r.end)
            std::abort();
        const IndexClass lazy(nullptr, image, pos, r);
        if (written(lazy) != written(eager) || lazy.getID() != eager.getID()
            || lazy.getMessageID() != eager.getMessageID() || lazy.getParentID() != eager.getParentID()
            || lazy.getPartCount() != eager.getPartCount() || !lazy.idEquals(eager.getID())
            || lazy.idHash() != eager.idHash())
            std::abort();
        pos = r.end;
    }
}

void removeFolder()
{
    if (!folderDir.isEmpty())
        QDir(folderDir).removeRecursively();
}

// Writes the fixed folder: three messages stored one by one (each
// descriptor at once), then the index is put aside for the inputs.
bool makeFixture()
{
    char tmpl[] = "/tmp/orvane-fuzz-loadindex-XXXXXX";
    if (!::mkdtemp(tmpl))
        return false;
    folderDir = QString::fromLocal8Bit(tmpl);
    std::atexit(removeFolder);
    const QDateTime when(QDate(2021, 6, 1), QTime(12, 0, 0), QTimeZone::utc());
    {
        LocalMailFolder f(folderDir);
        unsigned int flags = 0;
        for (const char* m : FixedMessages) {
            if (f.createMessage(QCString(m), QCString(""), when, QStringLiteral("acct"), nullptr, false,
                                flags)
                    .isNull())
                return false;
            flags ^= 1;
        }
    }
    QFile::copy(folderDir + QLatin1String("/index"), folderDir + QLatin1String("/index.seed"));
    QFile::remove(folderDir + QLatin1String("/index"));
    messagesSize = QFileInfo(folderDir + QLatin1String("/messages")).size();
    descriptorSize = QFileInfo(folderDir + QLatin1String("/descriptor")).size();
    return messagesSize > 0 && descriptorSize > 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    if (!makeFixture()) {
        std::fprintf(stderr, "fuzz_loadindex: cannot write the fixed folder\n");
        std::abort();
    }
    if (const char* out = std::getenv("ORVANE_FUZZ_WRITE_INDEX")) {
        QFile::remove(QString::fromLocal8Bit(out));
        const bool ok = QFile::copy(folderDir + QLatin1String("/index.seed"), QString::fromLocal8Bit(out));
        removeFolder();
        std::_Exit(ok ? 0 : 1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    compareWithStreamReader(input);
    {
        MemoryFolder folder(folderDir);
        folder.load(input);
        MessageFactory* factory = MessageFactory::thisInstance();
        int n = 0;
        for (IndexClass* e : folder.indexIDict()->entries()) {
            MessageDevice dev(e);
            dev.loadDescriptor(false);
            dev.loadDescriptor(true);
            for (int i = 0; i < dev.getPartCount(); ++i) {
                QByteArray bytes;
                dev.getPartData(i, bytes);
                // Decoding never grows a body beyond its stored bytes by much.
                if (bytes.size() > 4 * (messagesSize + 1))
                    std::abort();
            }
            const QCString text = dev.rfc822Message();
            if (text.size() > messagesSize)
                std::abort();
            dev.getEntryCacheBlock();
            dev.hasAttachments();
            dev.messageText();
            // Shared devices: every other entry goes through the factory,
            // which must forget them when the folder goes away.
            if (n++ % 2 == 0)
                if (MessageDevice* shared = factory->getMessage(e))
                    shared->loadDescriptor(true);
        }
        folder.getEntryList(QStringLiteral("f"));
        folder.getUnread();
    }
    // Index bytes from memory are never written to the folder's file, and
    // reading changes nothing.
    if (QFileInfo::exists(folderDir + QLatin1String("/index"))
        || QFileInfo(folderDir + QLatin1String("/messages")).size() != messagesSize
        || QFileInfo(folderDir + QLatin1String("/descriptor")).size() != descriptorSize)
        std::abort();  // reading changed the folder
    return 0;
}
