// Raw message text: any byte sequence parses, every part lies inside the
// text, the header record parses the same bytes, and every part record
// survives its stream form.
#include <headerclass.h>
#include <messageclass.h>

#include <QDataStream>
#include <QIODevice>
#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
        return true;
    }();
    (void)quiet;

    const QCString text(reinterpret_cast<const char*>(data), qsizetype(size));
    const MessageClass m(text);
    for (const auto& p : m.partList) {
        if (p->offset < 0 || p->length < 0 || qint64(p->offset) + p->length > text.size())
            std::abort();
        QByteArray bytes;
        {
            QDataStream out(&bytes, QIODevice::WriteOnly);
            out.setVersion(QDataStream::Qt_3_3);
            out << *p;
        }
        QDataStream in(bytes);
        in.setVersion(QDataStream::Qt_3_3);
        MimePart back;
        in >> back;
        if (back.offset != p->offset || back.length != p->length || back.type != p->type)
            std::abort();
    }
    if (m.Subject.isEmpty() || m.Content_Type.isEmpty())
        if (!text.isEmpty())
            std::abort();

    const HeaderClass h(text);
    const MessageClass fromHeader(h);
    if (!fromHeader.partList.empty())
        std::abort();

    // The stream reader must also take arbitrary bytes.
    QDataStream raw(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    raw.setVersion(QDataStream::Qt_3_3);
    MimePart any;
    raw >> any;
    return 0;
}
