#pragma once

#include "orvanemail_export.h"
#include "qcstring.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

class QDataStream;
class QTextStream;

/**
 * \brief The value of a Date header.
 *
 * Holds the fields of an RFC 822 date-time as they were read: weekday and
 * month names and the time zone as text, the numbers as integers. The time
 * zone is kept as text only; no conversion uses it.
 *
 * Text fields that received nothing are null strings (so a date built from
 * an empty text has a null \c day_of_week, which is how the header parsers
 * tell that no Date was read).
 *
 * The parser is a forgiving, fixed-order field reader over whitespace
 * separated words and numbers: it never rejects input and works in one pass,
 * in time and memory proportional to the text.
 */
class ORVANEMAIL_EXPORT DateClass
{
public:
    /// Parses date text such as "Tue, 5 Mar 2002 14:07:09 +0100". Reading
    /// stops at the first zero byte.
    DateClass(const QCString& text);
    /// Takes the date and time fields of \a dt as they stand (in its own
    /// time spec); \c timezone stays null.
    DateClass(const QDateTime& dt);
    /// Seconds since 1970-01-01 00:00 UTC shown in local time; 0 means now.
    DateClass(unsigned int t);
    DateClass(const DateClass&) = default;
    DateClass(DateClass&&) noexcept = default;
    DateClass& operator=(const DateClass&) = default;
    DateClass& operator=(DateClass&&) noexcept = default;
    virtual ~DateClass();

    /// QDateTime (local time) of toQDate() and toQTime(); the time zone text
    /// is not applied. Invalid when the date is invalid. A wall-clock time
    /// skipped by a daylight-saving change moves on by the gap (02:30 on a
    /// spring-forward night becomes 03:30).
    virtual operator QDateTime() const;
    /// Calls operator QDateTime().
    virtual QDateTime toQDateTime() const;
    /// QDate(year, month, day); invalid (as Qt decides) for impossible fields.
    virtual operator QDate() const;
    /// Calls operator QDate().
    virtual QDate toQDate() const;
    /// QTime(hour, minute, sec, 0); invalid for impossible fields.
    virtual operator QTime() const;
    /// Calls operator QTime().
    virtual QTime toQTime() const;
    /// Short header text "Mon, 05 Mar 1998 14:07": weekday, day, month name,
    /// year, hours and minutes; no seconds, no zone. Never contains CR or LF.
    virtual operator QCString() const;
    /// Same as operator QCString().
    virtual QCString toQCString() const;
    /// Like toQCString() with the system locale's short day name of the date
    /// and short month name of \c month (as Latin-1; characters outside it
    /// become '?').
    virtual QCString toLocalDateQCString() const;
    /// "Jan".."Dec" for 1..12, a null string for anything else.
    virtual QCString intToMonth(const int& m) const;
    /// "Mon".."Sun" for 1..7 (Monday = 1), a null string for anything else.
    virtual QCString intToDay(const int& d) const;

    QCString day_of_week;   ///< weekday name as read, or derived from the date
    QCString month_of_year; ///< month name as read, or "Jan".."Dec" when derived
    QCString timezone;      ///< zone text as read ("+0100", "GMT"); null when derived
    int day = 0;            ///< day of month
    int month = 0;          ///< 1..12; 0 when the month name was not recognised
    int year = 0;           ///< after the two-digit rule (<80: +2000, 80..99: +1900)
    int hour = 0;           ///< as read
    int minute = 0;         ///< as read
    int sec = 0;            ///< as read; 0 when the text has no seconds

private:
    void parse(const char* p, const char* end);
    void setFrom(const QDateTime& dt);
};

/// Writes \c day_of_week, \c month_of_year, \c timezone (classic QCString
/// form), then day, month, year, hour, minute, sec as 32-bit signed integers.
ORVANEMAIL_EXPORT QDataStream& operator<<(QDataStream& s, const DateClass& d);
/// Reads what operator<<() writes. On a short or damaged record the stream's
/// status says so and \a d is left unchanged.
ORVANEMAIL_EXPORT QDataStream& operator>>(QDataStream& s, DateClass& d);
/// Full header text "Tue, 05 Mar 2002 14:07:09 +0100" (bytes as Latin-1).
/// Never contains CR or LF.
ORVANEMAIL_EXPORT QTextStream& operator<<(QTextStream& s, const DateClass& d);
