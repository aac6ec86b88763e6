// Date header values: any byte sequence parses, and no text form built from
// the result can carry a line break into a header line.
#include <dateclass.h>

#include <QDataStream>
#include <QIODevice>
#include <QTextStream>

#include <cstdint>
#include <cstdlib>

namespace {

void requireNoLineBreak(const QByteArray& a)
{
    if (a.contains('\r') || a.contains('\n'))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QCString text(reinterpret_cast<const char*>(data), qsizetype(size));
    const DateClass d(text);

    // Fields come from whitespace-separated words of the text before its
    // first zero byte.
    const qsizetype textLength = text.cLength();
    for (const QCString* field : {&d.day_of_week, &d.month_of_year, &d.timezone}) {
        requireNoLineBreak(*field);
        if (field->size() > textLength)
            std::abort();
    }
    requireNoLineBreak(d.toQCString());
    requireNoLineBreak(d.toLocalDateQCString());
    QString full;
    {
        QTextStream ts(&full);
        ts << d;
    }
    if (full.contains(QLatin1Char('\r')) || full.contains(QLatin1Char('\n')))
        std::abort();
    (void)d.toQDateTime();

    // The stream form reproduces every field.
    QByteArray record;
    {
        QDataStream out(&record, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_3_3);
        out << d;
    }
    DateClass back{QCString("")};
    QDataStream in(record);
    in.setVersion(QDataStream::Qt_3_3);
    in >> back;
    if (in.status() != QDataStream::Ok || back.day != d.day || back.month != d.month
        || back.year != d.year || back.hour != d.hour || back.minute != d.minute
        || back.sec != d.sec || back.day_of_week != d.day_of_week
        || back.month_of_year != d.month_of_year || back.timezone != d.timezone)
        std::abort();

    // The same bytes read as a stored record must not crash either. Stored
    // records begin with a zero byte (the high byte of a string length);
    // other inputs are left to the text parser, which keeps runs fast.
    if (size == 0 || data[0] != 0)
        return 0;
    DateClass stored{QCString("")};
    QDataStream raw(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    raw.setVersion(QDataStream::Qt_3_3);
    raw >> stored;
    requireNoLineBreak(stored.toQCString());
    return 0;
}
