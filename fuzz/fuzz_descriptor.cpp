// Stored record readers: descriptor records (full and core form) and index
// records read one after another from arbitrary bytes until the stream
// fails. Every record that reads must survive its stream form: written and
// read again it writes the same bytes.
#include <indexclass.h>
#include <messagedescriptor.h>

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>

namespace {

QDataStream& classic(QDataStream& s)
{
    s.setVersion(QDataStream::Qt_3_3);
    return s;
}

QByteArray written(const MessageDescriptor& d)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    classic(s) << d;
    return out;
}

QByteArray written(const IndexClass& e)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    classic(s) << e;
    return out;
}

// Reads descriptors in one form until the stream fails.
void readDescriptors(const QByteArray& input, bool core)
{
    QDataStream s(input);
    classic(s);
    for (;;) {
        const qint64 before = s.device()->pos();
        MessageDescriptor d;
        d.setCoreLoad(core);
        s >> d;
        if (s.status() != QDataStream::Ok)
            break;
        if (s.device()->pos() <= before)
            std::abort();  // a record that reads nothing would loop forever
        const QByteArray once = written(d);
        MessageDescriptor back;
        back.setCoreLoad(core);
        QDataStream again(once);
        classic(again) >> back;
        if (again.status() != QDataStream::Ok || !again.atEnd() || written(back) != once)
            std::abort();
    }
}

void readIndexRecords(const QByteArray& input)
{
    QDataStream s(input);
    classic(s);
    for (;;) {
        const qint64 before = s.device()->pos();
        IndexClass e(nullptr, QString());
        s >> e;
        if (s.status() != QDataStream::Ok)
            break;
        if (s.device()->pos() <= before)
            std::abort();
        // Old part layouts are written in the current one: compare the
        // second generation with the first.
        const QByteArray once = written(e);
        IndexClass back(nullptr, QString());
        QDataStream again(once);
        classic(again) >> back;
        if (again.status() != QDataStream::Ok || !again.atEnd() || back.getPartCount() != e.getPartCount())
            std::abort();
        if (written(back) != once)
            std::abort();
        const IndexClass copy(back);
        if (written(copy) != once)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    readDescriptors(input, false);
    readDescriptors(input, true);
    readIndexRecords(input);
    return 0;
}
