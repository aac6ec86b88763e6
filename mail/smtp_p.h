#pragma once

// Wire-level helpers of the SMTP sender: the DATA block (transparency and
// line ends), address checks, the "host[:port]" server form and the reply
// reader. Header-only so that tests can drive them byte by byte.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

namespace Orvane {
namespace SmtpWire {

/// Longest reply line accepted (RFC 5321 allows 512 octets; servers in the
/// wild stay far below this). A longer line is a protocol error.
constexpr qsizetype MaxReplyLine = 4096;
/// Longest whole reply, continuation lines included.
constexpr qsizetype MaxReply = 64 * 1024;
/// Default SMTP port, used when the server text gives none.
constexpr quint16 DefaultPort = 25;

/// The bytes written after the server's go-ahead to DATA: the text with
/// every bare LF sent as CR LF, a "." doubled at the start of every line,
/// CR LF added when the text does not end in a line end, then ".\r\n".
/// A CR not followed by LF is sent as it stands.
inline QByteArray dataBlock(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size() + text.size() / 32 + 8);
    const char* p = text.constData();
    const qsizetype n = text.size();
    bool lineStart = true;
    qsizetype copied = 0;  // bytes of text before p[i] already in out
    for (qsizetype i = 0; i < n; ++i) {
        const char c = p[i];
        if (lineStart && c == '.') {
            out.append(p + copied, i - copied);
            out.append('.');
            copied = i;
        }
        lineStart = false;
        if (c == '\n') {
            if (i == 0 || p[i - 1] != '\r') {
                out.append(p + copied, i - copied);
                out.append('\r');
                copied = i;
            }
            lineStart = true;
        }
    }
    out.append(p + copied, n - copied);
    if (n > 0 && p[n - 1] != '\n')
        out.append("\r\n", 2);
    out.append(".\r\n", 3);
    return out;
}

/// The text as 8-bit bytes: Latin-1 when every character is below U+0100
/// (so text that came from bytes through Latin-1 goes back unchanged),
/// UTF-8 otherwise. Never depends on the process locale.
inline QByteArray messageBytes(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() > 0xff)
            return text.toUtf8();
    }
    return text.toLatin1();
}

/// True for an address of the form local@domain that is safe on a command
/// line: exactly one at sign with text on both sides, printable ASCII only
/// (no CR, LF, NUL, space or other control), no angle brackets. With
/// \a utf8, characters beyond ASCII are allowed too (SMTPUTF8).
inline bool isValidAddress(const QString& address, bool utf8 = false)
{
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    if (at <= 0 || at == address.size() - 1 || address.indexOf(QLatin1Char('@'), at + 1) >= 0)
        return false;
    for (QChar c : address) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u == 0x7f || (u > 0x7f && (!utf8 || u < 0xa0)) || u == '<' || u == '>')
            return false;
    }
    return true;
}

/// The address with every control character shown as '?', for messages.
inline QString printable(const QString& text)
{
    QString s = text.left(200);
    for (QChar& c : s) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    }
    return s;
}

/// Splits "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address.
/// False when the host is empty or the port is not 1 to 65535.
inline bool splitServer(const QString& server, QString* host, quint16* port)
{
    QString h = server;
    QString p;
    if (h.startsWith(QLatin1Char('['))) {
        const qsizetype close = h.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        const QString rest = h.mid(close + 1);
        h = h.mid(1, close - 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return false;
            p = rest.mid(1);
            if (p.isEmpty())
                return false;
        }
    } else if (h.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = h.indexOf(QLatin1Char(':'));
        p = h.mid(colon + 1);
        h = h.left(colon);
        if (p.isEmpty())
            return false;
    }
    if (h.isEmpty())
        return false;
    quint16 value = DefaultPort;
    if (!p.isEmpty()) {
        if (p.size() > 5)
            return false;
        uint v = 0;
        for (QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            v = v * 10 + uint(c.unicode() - '0');
        }
        if (v == 0 || v > 65535)
            return false;
        value = quint16(v);
    }
    *host = h;
    *port = value;
    return true;
}

/// The argument of EHLO and HELO: the connection's own address as an
/// address literal (RFC 5321 section 4.1.3).
inline QByteArray ehloName(const QHostAddress& local)
{
    if (local.protocol() == QAbstractSocket::IPv6Protocol && local.toIPv4Address() == 0)
        return "[IPv6:" + local.toString().toLatin1() + ']';
    return '[' + QHostAddress(local.toIPv4Address()).toString().toLatin1() + ']';
}

/// What an EHLO reply offers.
struct Capabilities {
    bool startTls = false;
    bool pipelining = false;
    bool eightBitMime = false;
    bool smtpUtf8 = false;
    bool sizeOffered = false;
    qint64 size = 0;  ///< 0: no limit given
    QList<QByteArray> auth;  ///< mechanism names, upper case
};

/// Reads the extension lines of an EHLO reply (every line after the first).
inline Capabilities parseEhlo(const QByteArray& reply)
{
    Capabilities caps;
    const QList<QByteArray> lines = reply.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> words = lines[i].mid(4).trimmed().toUpper().replace('=', ' ').split(' ');
        const QByteArray& key = words.first();
        if (key == "STARTTLS")
            caps.startTls = true;
        else if (key == "PIPELINING")
            caps.pipelining = true;
        else if (key == "8BITMIME")
            caps.eightBitMime = true;
        else if (key == "SMTPUTF8")
            caps.smtpUtf8 = true;
        else if (key == "SIZE") {
            caps.sizeOffered = true;
            caps.size = words.size() > 1 ? qMax<qint64>(0, words[1].toLongLong()) : 0;
        } else if (key == "AUTH") {
            for (qsizetype w = 1; w < words.size(); ++w) {
                if (!words[w].isEmpty())
                    caps.auth << words[w];
            }
        }
    }
    return caps;
}

/// Gathers server replies from bytes as they arrive, cut anywhere. A reply
/// is complete at its final line: any line that is not a continuation line
/// (three characters, then '-'). Lines end at LF; a CR before it is kept in
/// the reply text and ignored for the decision.
class ReplyReader
{
public:
    enum Result { NeedMore, Reply, TooLong };

    void feed(const QByteArray& bytes) { pending_.append(bytes); }

    /// Takes the next complete reply out of what was fed: its text (every
    /// line with its line end) and its code (the first three characters of
    /// the final line; -1 when they are not three digits).
    Result next(QByteArray* text, int* code)
    {
        for (;;) {
            const qsizetype lf = pending_.indexOf('\n', start_ + scanned_);
            if (lf < 0) {
                // Drop what has been taken so far; keep the unfinished line.
                pending_.remove(0, start_);
                start_ = 0;
                scanned_ = pending_.size();
                if (pending_.size() > MaxReplyLine || current_.size() + pending_.size() > MaxReply)
                    return TooLong;
                return NeedMore;
            }
            const qsizetype lineLength = lf + 1 - start_;
            if (lineLength > MaxReplyLine + 2 || current_.size() + lineLength > MaxReply)
                return TooLong;
            const char* line = pending_.constData() + start_;
            const bool continuation = lineLength >= 5 && line[3] == '-';
            const bool final = !continuation;
            int value = -1;
            if (final && lineLength >= 4 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2])
                && !isDigit(line[3]))
                value = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            current_.append(line, lineLength);
            start_ += lineLength;
            scanned_ = 0;
            if (continuation)
                continue;
            *code = value;
            *text = current_;
            current_.clear();
            return Reply;
        }
    }

    /// What has been gathered of an unfinished reply, for messages.
    QByteArray partial() const { return current_ + pending_.mid(start_, MaxReplyLine); }

private:
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    QByteArray pending_;    // bytes fed; those before start_ are taken
    QByteArray current_;    // continuation lines of the reply in progress
    qsizetype start_ = 0;   // first byte not yet taken into a line
    qsizetype scanned_ = 0; // bytes after start_ known to hold no LF
};

} // namespace SmtpWire
} // namespace Orvane
