// Opening a local folder whose index file holds arbitrary bytes, then
// reading every loaded entry through a message device: descriptors (full
// and core), every part's decoded data, the stored text and the cache
// block. The folder's messages and descriptor files are real ones, written
// once per process by the library from fixed messages, so that entries can
// point into them. Reading a folder must never change its files.
//
// With ORVANE_FUZZ_WRITE_INDEX=<path> set, the process copies the index file
// of its fixed folder to <path> and exits: that file is a seed whose entries
// point exactly at the fixed records.
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
        const bool ok = QFile::copy(folderDir + QLatin1String("/index"), QString::fromLocal8Bit(out));
        removeFolder();
        std::_Exit(ok ? 0 : 1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString indexPath = folderDir + QLatin1String("/index");
    {
        QFile f(indexPath);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        if (f.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            std::abort();
    }
    {
        LocalMailFolder folder(folderDir);
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
    if (QFileInfo(folderDir + QLatin1String("/messages")).size() != messagesSize
        || QFileInfo(folderDir + QLatin1String("/descriptor")).size() != descriptorSize)
        std::abort();  // reading changed the folder
    return 0;
}
