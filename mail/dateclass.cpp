#include "dateclass.h"

#include <QDataStream>
#include <QLocale>
#include <QTextStream>

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

const char* const DayNames[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const char* const MonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Whitespace of the date text: the C locale's set. CR and LF are among them,
// so no word taken from a date text can carry a line break.
inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

/// One forward pass over the date text: words and numbers separated by
/// whitespace. Every read moves forward or stays put, so a parse is linear.
class Reader
{
public:
    Reader(const char* p, const char* end) : m_p(p), m_end(end) {}

    void skipBlanks()
    {
        while (m_p != m_end && isBlank(*m_p))
            ++m_p;
    }

    /// The next whitespace-separated word; an empty view at the end.
    QByteArrayView word()
    {
        skipBlanks();
        return rest();
    }

    /// The rest of the current word, from where we stand (no skipping).
    QByteArrayView rest()
    {
        const char* start = m_p;
        while (m_p != m_end && !isBlank(*m_p))
            ++m_p;
        return QByteArrayView(start, m_p - start);
    }

    /// Skips whitespace, then reads an optional sign and decimal digits.
    /// Without digits nothing but the whitespace is consumed and false is
    /// returned with \a value 0. Values beyond int saturate.
    bool integer(int& value)
    {
        value = 0;
        skipBlanks();
        const char* p = m_p;
        bool negative = false;
        if (p != m_end && (*p == '+' || *p == '-')) {
            negative = *p == '-';
            ++p;
        }
        if (p == m_end || !isDigit(*p))
            return false;
        long long v = 0;
        for (; p != m_end && isDigit(*p); ++p) {
            if (v <= INT_MAX)
                v = v * 10 + (*p - '0');
        }
        if (v > INT_MAX)
            v = INT_MAX;
        value = int(negative ? -v : v);
        m_p = p;
        return true;
    }

    /// The next non-blank character, or 0 at the end of the text.
    char nonBlank()
    {
        skipBlanks();
        if (m_p == m_end)
            return 0;
        return *m_p++;
    }

private:
    const char* m_p;
    const char* m_end;
};

/// The whole view as an integer, or 0 when it is not one (optional sign,
/// decimal digits, nothing else; out-of-range values give 0).
int wordToInt(QByteArrayView w)
{
    bool ok = false;
    const int v = w.toInt(&ok);
    return ok ? v : 0;
}

QCString bytes(QByteArrayView w)
{
    return QCString(w.data(), w.size());
}

/// A text field as it may appear in a header line: up to its first zero
/// byte, with CR and LF turned into spaces so that no value can start a new
/// header line.
QByteArray headerSafe(const QCString& field)
{
    QByteArray out(field.constData(), field.cLength());
    for (char& c : out) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

void appendPadded(QByteArray& out, const char* format, int a, int b = 0, int c = 0)
{
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, format, a, b, c);
    if (n > 0)
        out.append(buf, qMin(n, int(sizeof buf) - 1));
}

/// "%s, %02d %s %04d %02d:%02d" with the given names.
QCString shortForm(const QByteArray& dayName, int day, const QByteArray& monthName, int year,
                   int hour, int minute)
{
    QByteArray out;
    out.reserve(dayName.size() + monthName.size() + 24);
    out.append(dayName);
    out.append(", ");
    appendPadded(out, "%02d", day);
    out.append(' ');
    out.append(monthName);
    out.append(' ');
    appendPadded(out, "%04d %02d:%02d", year, hour, minute);
    return QCString(std::move(out));
}

} // namespace

DateClass::DateClass(const QCString& text)
{
    parse(text.constData(), text.constData() + text.cLength());
}

DateClass::DateClass(const QDateTime& dt)
{
    setFrom(dt);
}

DateClass::DateClass(unsigned int t)
{
    setFrom(t == 0 ? QDateTime::currentDateTime() : QDateTime::fromSecsSinceEpoch(qint64(t)));
}

DateClass::~DateClass() = default;

void DateClass::setFrom(const QDateTime& dt)
{
    const QDate d = dt.date();
    const QTime t = dt.time();
    if (d.isValid()) {
        day = d.day();
        month = d.month();
        year = d.year();
    }
    // An invalid time reads as midnight rather than as Qt's -1 fields.
    if (t.isValid()) {
        hour = t.hour();
        minute = t.minute();
        sec = t.second();
    }
    day_of_week = intToDay(d.dayOfWeek());
    month_of_year = intToMonth(month);
}

void DateClass::parse(const char* p, const char* end)
{
    Reader r(p, end);

    // Weekday: the part of the first word before its first ','. What follows
    // the comma in the same word ("Mon,5") is already the day.
    QByteArrayView dayWord = r.word();
    if (dayWord.isEmpty())
        return;
    const qsizetype comma = dayWord.indexOf(',');
    if (comma >= 0) {
        if (comma > 0)
            day_of_week = bytes(dayWord.first(comma));
        dayWord = dayWord.sliced(comma + 1);
        if (dayWord.isEmpty())
            dayWord = r.word();
    }
    day = wordToInt(dayWord);

    const QByteArrayView monthWord = r.word();
    if (!monthWord.isEmpty())
        month_of_year = bytes(monthWord);

    if (r.integer(year)) {
        if (year < 80)
            year += 2000;
        else if (year < 100)
            year += 1900;
    }

    r.integer(hour);
    if (r.nonBlank() != 0) {
        r.integer(minute);
        const char c = r.nonBlank();
        if (c == ':') {
            r.integer(sec);
            const QByteArrayView zone = r.word();
            if (!zone.isEmpty())
                timezone = bytes(zone);
        } else if (c != 0) {
            // The character starts the zone: "14:07 GMT", "14:07+0100".
            const QByteArrayView tail = r.rest();
            QCString zone;
            zone.reserve(tail.size() + 1);
            zone.append(c);
            zone.append(tail.data(), tail.size());
            timezone = std::move(zone);
        }
    }

    if (month_of_year.size() == 3) {
        char lower[3];
        for (int i = 0; i < 3; ++i) {
            const char ch = month_of_year.at(i);
            lower[i] = (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
        }
        static const char Lower[12][4] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
        for (int i = 0; i < 12; ++i) {
            if (std::memcmp(lower, Lower[i], 3) == 0) {
                month = i + 1;
                break;
            }
        }
    }

    if (day_of_week.isEmpty())
        day_of_week = intToDay(QDate(year, month, day).dayOfWeek());
}

DateClass::operator QDateTime() const
{
    const QDate date = toQDate();
    const QTime time = toQTime();
    QDateTime dt(date, time);
    if (!dt.isValid() && date.isValid() && time.isValid()) {
        // A wall-clock time that a daylight-saving change skips: count the
        // time from the start of that day instead, so the result moves on by
        // the length of the gap (as mktime does) rather than being lost.
        const QDateTime start = date.startOfDay();
        if (start.isValid())
            dt = start.addMSecs(time.msecsSinceStartOfDay());
    }
    return dt;
}

QDateTime DateClass::toQDateTime() const
{
    return operator QDateTime();
}

DateClass::operator QDate() const
{
    return QDate(year, month, day);
}

QDate DateClass::toQDate() const
{
    return operator QDate();
}

DateClass::operator QTime() const
{
    return QTime(hour, minute, sec, 0);
}

QTime DateClass::toQTime() const
{
    return operator QTime();
}

DateClass::operator QCString() const
{
    return shortForm(headerSafe(day_of_week), day, headerSafe(month_of_year), year, hour, minute);
}

QCString DateClass::toQCString() const
{
    return operator QCString();
}

QCString DateClass::toLocalDateQCString() const
{
    const QLocale locale = QLocale::system();
    const QDate date(year, month, day);
    // dayName()/monthName() give an empty text for numbers out of range.
    const QString dayName = date.isValid() ? locale.dayName(date.dayOfWeek(), QLocale::ShortFormat)
                                           : QString();
    const QString monthName = (month >= 1 && month <= 12)
        ? locale.monthName(month, QLocale::ShortFormat)
        : QString();
    return shortForm(headerSafe(QCString(dayName.toLatin1())), day,
                     headerSafe(QCString(monthName.toLatin1())), year, hour, minute);
}

QCString DateClass::intToMonth(const int& m) const
{
    if (m < 1 || m > 12)
        return QCString();
    return QCString(MonthNames[m - 1]);
}

QCString DateClass::intToDay(const int& d) const
{
    if (d < 1 || d > 7)
        return QCString();
    return QCString(DayNames[d - 1]);
}

QDataStream& operator<<(QDataStream& s, const DateClass& d)
{
    s << d.day_of_week << d.month_of_year << d.timezone;
    s << qint32(d.day) << qint32(d.month) << qint32(d.year) << qint32(d.hour)
      << qint32(d.minute) << qint32(d.sec);
    return s;
}

QDataStream& operator>>(QDataStream& s, DateClass& d)
{
    QCString dayOfWeek, monthOfYear, zone;
    qint32 n[6] = {0, 0, 0, 0, 0, 0};
    s >> dayOfWeek;
    if (s.status() == QDataStream::Ok)
        s >> monthOfYear;
    if (s.status() == QDataStream::Ok)
        s >> zone;
    for (qint32& v : n) {
        if (s.status() != QDataStream::Ok)
            break;
        s >> v;
    }
    if (s.status() != QDataStream::Ok)
        return s;
    d.day_of_week = std::move(dayOfWeek);
    d.month_of_year = std::move(monthOfYear);
    d.timezone = std::move(zone);
    d.day = n[0];
    d.month = n[1];
    d.year = n[2];
    d.hour = n[3];
    d.minute = n[4];
    d.sec = n[5];
    return s;
}

QTextStream& operator<<(QTextStream& s, const DateClass& d)
{
    QByteArray out;
    const QByteArray dow = headerSafe(d.day_of_week);
    const QByteArray mon = headerSafe(d.month_of_year);
    const QByteArray zone = headerSafe(d.timezone);
    out.reserve(dow.size() + mon.size() + zone.size() + 32);
    out.append(dow);
    out.append(", ");
    appendPadded(out, "%02d", d.day);
    out.append(' ');
    out.append(mon);
    out.append(' ');
    appendPadded(out, "%04d %02d:%02d", d.year, d.hour, d.minute);
    appendPadded(out, ":%02d ", d.sec);
    out.append(zone);
    s << QString::fromLatin1(out);
    return s;
}
