#include "mimepart.h"

#include "mimecodec.h"
#include "orvanelog_p.h"

#include <algorithm>

namespace {

// White space as a Latin-1 text stream sees it.
inline bool isBlank(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x85 || c == 0xA0;
}

// Reads words and numbers from one description line, one byte per
// character.
class WordReader
{
public:
    explicit WordReader(const QCString& line)
        : m_p(line.constData()), m_end(line.constData() + line.size())
    {
    }

    void skipBlanks()
    {
        while (m_p < m_end && isBlank(static_cast<unsigned char>(*m_p)))
            ++m_p;
    }

    // The next non-blank character, or 0 at the end.
    char character()
    {
        skipBlanks();
        return m_p < m_end ? *m_p++ : '\0';
    }

    QCString word()
    {
        skipBlanks();
        const char* start = m_p;
        while (m_p < m_end && !isBlank(static_cast<unsigned char>(*m_p)))
            ++m_p;
        return QCString(start, m_p - start);
    }

    // A decimal integer with an optional sign; 0 when there is none.
    // Values beyond 32 bits saturate.
    qint32 number()
    {
        skipBlanks();
        bool negative = false;
        const char* save = m_p;
        if (m_p < m_end && (*m_p == '-' || *m_p == '+'))
            negative = *m_p++ == '-';
        if (m_p == m_end || *m_p < '0' || *m_p > '9') {
            m_p = save;
            return 0;
        }
        qint64 v = 0;
        while (m_p < m_end && *m_p >= '0' && *m_p <= '9') {
            if (v <= qint64(1) << 32)
                v = v * 10 + (*m_p - '0');
            ++m_p;
        }
        if (negative)
            v = -v;
        return qint32(std::clamp<qint64>(v, INT32_MIN, INT32_MAX));
    }

    // Everything not yet read, as it stands.
    QCString rest()
    {
        QCString r(m_p, m_end - m_p);
        m_p = m_end;
        return r;
    }

private:
    const char* m_p;
    const char* m_end;
};

// A string over a literal: no copy, no allocation until it is modified.
template<size_t N>
QCString literal(const char (&s)[N])
{
    return QCString(QByteArray::fromRawData(s, qsizetype(N - 1)));
}

// The name is stored in base64 together with its terminating NUL.
QCString decodeName(const QCString& word)
{
    return QCString(MIMECodec::decodeBase64(word)).upToNul();
}

} // namespace

MimePart::MimePart()
    : mimetype(literal("text/plain")), name(literal("")), cid(literal("")),
      encoding(literal("8bit")), charset(literal("us-ascii")), type(literal("attachment")),
      embeddedPath(literal("")), offset(0), length(0), version(literal("1"))
{
}

MimePart::MimePart(const MimePart& other)
    : mimetype(other.mimetype), name(other.name), cid(other.cid), encoding(other.encoding),
      charset(other.charset), type(other.type), embeddedPath(other.embeddedPath),
      offset(other.offset), length(other.length), version(literal("1"))
{
}

MimePart::MimePart(const QCString& description) : MimePart()
{
    WordReader in(description);
    switch (in.character()) {
    case 'V':
        version = in.word();
        if (version != "1") {
            orvaneDebug("Unsupported part version.");
            return;
        }
        type = in.word();
        mimetype = in.word();
        encoding = in.word();
        offset = in.number();
        length = in.number();
        charset = in.word();
        cid = in.word();
        name = decodeName(in.word());
        break;
    case 'T':
        type = "text";
        mimetype = in.word();
        encoding = in.word();
        offset = in.number();
        length = in.number();
        in.skipBlanks();
        charset = in.rest();
        break;
    case 'A':
        type = "attachment";
        mimetype = in.word();
        encoding = in.word();
        offset = in.number();
        length = in.number();
        name = decodeName(in.word());
        break;
    case 'R':
        type = "related";
        mimetype = in.word();
        cid = in.word();
        encoding = in.word();
        offset = in.number();
        length = in.number();
        name = in.rest();
        break;
    case 'D':
        type = "digest";
        offset = in.number();
        length = in.number();
        break;
    default:
        type = "unknown";
        break;
    }
}

MimePart::~MimePart() = default;

QDataStream& operator<<(QDataStream& s, const MimePart& p)
{
    s << QCString("1") << p.type << p.mimetype << p.encoding << qint32(p.offset)
      << qint32(p.length) << p.charset << p.cid << p.name;
    return s;
}

QDataStream& operator>>(QDataStream& s, MimePart& p)
{
    QCString first;
    s >> first;
    qint32 off = 0, len = 0;
    if (first == "text") {
        p.type = first;
        s >> p.mimetype >> p.encoding >> off >> len >> p.charset;
    } else if (first == "related") {
        p.type = first;
        s >> p.mimetype >> p.cid >> p.encoding >> off >> len >> p.name >> p.embeddedPath;
    } else if (first == "attachment") {
        p.type = first;
        s >> p.mimetype >> p.encoding >> off >> len >> p.name >> p.embeddedPath;
    } else if (first == "digest") {
        p.type = first;
        s >> off >> len >> p.embeddedPath;
    } else {
        p.version = first;
        if (first != "1") {
            orvaneDebug("Unsupported part version: %s.", first.constData());
            p.type = "unknown";
            return s;
        }
        s >> p.type >> p.mimetype >> p.encoding >> off >> len >> p.charset >> p.cid >> p.name;
    }
    p.offset = off;
    p.length = len;
    return s;
}
