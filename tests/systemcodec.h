#pragma once

// The platform's own 8-bit encoding in tests: "System" maps Latin-1 and writes
// '?' for anything else without an error, so it "can encode" every text.

#include <QTextCodec>

class SystemCodec : public QTextCodec
{
public:
    QByteArray name() const override { return QByteArrayLiteral("System"); }
    int mibEnum() const override { return -4711; }

protected:
    QString convertToUnicode(const char* in, int len, ConverterState*) const override
    {
        return QString::fromLatin1(in, len);
    }
    QByteArray convertFromUnicode(const QChar* in, int len, ConverterState*) const override
    {
        QByteArray out(len, Qt::Uninitialized);
        for (int i = 0; i < len; ++i)
            out[i] = in[i].unicode() < 0x100 ? char(in[i].unicode()) : '?';
        return out;
    }
};
