#include <dateclass.h>

#include <QTest>
#include <QTextStream>

#include <ctime>

namespace {

// Local time and the system locale come from the environment, and Qt reads
// the locale once: fix both before anything looks at them.
void setZone(const QByteArray& tz) { qputenv("TZ", tz), tzset(); }
[[maybe_unused]] const bool fixedEnvironment = (qputenv("LC_ALL", "de_DE.UTF-8"), setZone("UTC0"), true);

// POSIX zone rules, so that no zone database is needed.
const QByteArray Berlin = "CET-1CEST,M3.5.0,M10.5.0/3";

QByteArray text(const QCString& s) { return s.isNull() ? QByteArray("~") : QByteArray(s); }

/// dow|day|month text|month|year|h:m:s|zone; a null text shows as "~" (null and empty differ on disk).
QByteArray fields(const DateClass& d)
{
    return text(d.day_of_week) + '|' + QByteArray::number(d.day) + '|' + text(d.month_of_year) + '|'
        + QByteArray::number(d.month) + '|' + QByteArray::number(d.year) + '|' + QByteArray::number(d.hour) + ':'
        + QByteArray::number(d.minute) + ':' + QByteArray::number(d.sec) + '|' + text(d.timezone);
}

QByteArray streamed(const DateClass& d)
{
    QByteArray out;
    QDataStream ds(&out, QIODevice::WriteOnly);
    ds.setVersion(QDataStream::Qt_3_3);
    ds << d;
    return out.toHex();
}

QString textStreamed(const DateClass& d)
{
    QString out;
    QTextStream ts(&out);
    ts << d << Qt::flush;
    return out;
}

} // namespace

class tst_DateClass : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { setZone("UTC0"); }
    void parse_data();
    void parse();
    void fromNumbersAndNames();
    void toQt_data();
    void toQt();
    void textForms_data();
    void textForms();
    void streamRecords_data();
    void streamRecords();
};

void tst_DateClass::parse_data()
{
    QTest::addColumn<QCString>("input");
    QTest::addColumn<QByteArray>("expected");
    auto row = [](const char* name, const QCString& in, const char* out) { QTest::newRow(name) << in << QByteArray(out); };
    row("empty", QCString(""), "~|0|~|0|0|0:0:0|~");
    row("two-digit year, seconds, offset", QCString("Tue, 5 Mar 02 14:07:09 +0100"), "Tue|5|Mar|3|2002|14:7:9|+0100");
    row("derived weekday, zone after minutes", QCString("5 Mar 1998 14:07 GMT"), "Thu|5|Mar|3|1998|14:7:0|GMT");
    row("year 79", QCString("1 Jan 79 10:00"), "Sun|1|Jan|1|2079|10:0:0|~");
    row("year 80", QCString("1 Jan 80 10:00"), "Tue|1|Jan|1|1980|10:0:0|~");
    row("long month name, weekday as written", QCString("Mon, 1 January 1999 10:00:00 GMT"), "Mon|1|January|0|1999|10:0:0|GMT");
    row("blanks around the colons, folds", QCString("Mon,\r\n 1 Jan 2001 10 : 05 :\t07\r\n\tEST"), "Mon|1|Jan|1|2001|10:5:7|EST");
    row("impossible day: no weekday", QCString("31 Feb 2001 10:00"), "~|31|Feb|2|2001|10:0:0|~");
    row("numbers beyond int", QCString("99999999999999999999 Jan 99999999999 99999999999:99999999999:99999999999 X"),
        "~|0|Jan|1|2147483647|2147483647:2147483647:2147483647|X");
    // A megabyte of colons: linear time, the zone takes the colons left over.
    QTest::newRow("1 MiB of colons") << QCString("1 Jan 2001 " + QByteArray(1 << 20, ':'))
                                     << "Mon|1|Jan|1|2001|0:0:0|" + QByteArray((1 << 20) - 2, ':');
}

void tst_DateClass::parse()
{
    QFETCH(QCString, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(fields(DateClass(input)), expected);
}

// Names out of range are null; seconds since the epoch are local time;
// the fields of a QDateTime are taken as they stand, milliseconds dropped.
void tst_DateClass::fromNumbersAndNames()
{
    const DateClass d{QCString("")};
    QVERIFY(d.intToDay(0).isNull() && d.intToDay(8).isNull() && d.intToMonth(-1).isNull() && d.intToMonth(13).isNull());
    setZone(Berlin);
    QCOMPARE(fields(DateClass(4000000000u)), QByteArray("Tue|2|Oct|10|2096|9:6:40|~"));
    const QDateTime offset(QDate(2001, 12, 9), QTime(1, 46, 40, 999), Qt::OffsetFromUTC, -12600);
    QCOMPARE(fields(DateClass(offset)), QByteArray("Sun|9|Dec|12|2001|1:46:40|~"));
    QCOMPARE(fields(DateClass(QDateTime())), QByteArray("~|0|~|0|0|0:0:0|~"));
}

void tst_DateClass::toQt_data()
{
    QTest::addColumn<QByteArray>("tz");
    QTest::addColumn<QCString>("input");
    QTest::addColumn<QString>("expected");  // date, time, seconds since the epoch (-1: invalid)
    // The zone text is never applied: the fields are local time.
    QTest::newRow("UTC") << QByteArray("UTC0") << QCString("Tue, 5 Mar 02 14:07:09 +0100") << "2002-03-05 14:07:09 1015337229";
    QTest::newRow("unknown month") << QByteArray("UTC0") << QCString("1 Janu 1999 10:00") << " 10:00:00 -1";
    QTest::newRow("hour 24: midnight") << QByteArray("UTC0") << QCString("1 Jan 2001 24:00") << "2001-01-01  978307200";
    // Wall-clock times skipped by the spring-forward change move on by the gap.
    QTest::newRow("Berlin gap") << Berlin << QCString("Sun, 28 Mar 2021 02:30:00 +0100") << "2021-03-28 02:30:00 1616895000";
}

void tst_DateClass::toQt()
{
    QFETCH(QByteArray, tz);
    QFETCH(QCString, input);
    QFETCH(QString, expected);
    setZone(tz);
    const DateClass d(input);
    const QDateTime dt = d.toQDateTime();
    QCOMPARE(d.toQDate().toString(Qt::ISODate) + u' ' + d.toQTime().toString(Qt::ISODate) + u' '
                 + QString::number(dt.isValid() ? dt.toSecsSinceEpoch() : -1), expected);
    QCOMPARE(QDateTime(d), dt);
}

void tst_DateClass::textForms_data()
{
    QTest::addColumn<QCString>("input"); // for a field set directly: "dow|month|zone"
    QTest::addColumn<QByteArray>("forms"); // short # text stream # local (locale de_DE)
    QTest::newRow("offset") << QCString("Tue, 5 Mar 02 14:07:09 +0100")
                            << QByteArray("Tue, 05 Mar 2002 14:07 # Tue, 05 Mar 2002 14:07:09 +0100 # Di., 05 M\xe4rz 2002 14:07");
    // Fields as a damaged file or another program may hold them never break the header line.
    QTest::newRow("CR LF in weekday") << QCString("Mon\r\nBcc: x@y|Jan|GMT")
                                     << QByteArray("Mon  Bcc: x@y, 01 Jan 2001 10:00 # Mon  Bcc: x@y, 01 Jan 2001 10:00:00 GMT # Mo., 01 Jan. 2001 10:00");
}

void tst_DateClass::textForms()
{
    QFETCH(QCString, input);
    QFETCH(QByteArray, forms);
    DateClass d(input);
    if (input.contains('|')) {
        d = DateClass(QCString("Mon, 1 Jan 2001 10:00 GMT"));
        const QList<QByteArray> f = input.split('|');
        d.day_of_week = f.at(0), d.month_of_year = f.at(1), d.timezone = f.at(2);
    }
    QCOMPARE(QByteArray(QCString(d)), forms.left(forms.indexOf(" # ")));
    QCOMPARE(d.toQCString() + " # " + textStreamed(d).toLatin1() + " # " + d.toLocalDateQCString(), forms);
}

void tst_DateClass::streamRecords_data()
{
    // day_of_week, month_of_year, timezone as classic strings (32-bit length
    // counting a NUL, bytes, NUL; null as a bare zero length), then day,
    // month, year, hour, minute, sec as 32-bit big-endian signed integers.
    QTest::addColumn<QCString>("input"); // written from this text; null: only read
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("full") << QCString("Tue, 5 Mar 02 14:07:09 +0100")
                          << QByteArray("00000004" "54756500" "00000004" "4d617200" "00000006" "2b3031303000"
                                        "00000005" "00000003" "000007d2" "0000000e" "00000007" "00000009")
                          << QByteArray("Tue|5|Mar|3|2002|14:7:9|+0100");
    QTest::newRow("null and empty, negative numbers")
        << QCString() << QByteArray("00000000" "0000000100" "00000000" "ffffffff" "80000000" "7fffffff" "fffffffe" "00000005" "00000006")
        << QByteArray("~|-1||-2147483648|2147483647|-2:5:6|~");
    // A damaged record changes nothing.
    const QByteArray unchanged("Wed|9|Sep|9|2009|9:9:9|X failed");
    QTest::newRow("hostile length") << QCString() << QByteArray("7fffffff" "54756500") << unchanged;
}

void tst_DateClass::streamRecords()
{
    QFETCH(QCString, input);
    QFETCH(QByteArray, hex);
    QFETCH(QByteArray, expected);
    if (!input.isNull())
        QCOMPARE(streamed(DateClass(input)), hex);
    DateClass d{QCString("Wed, 9 Sep 2009 09:09:09 X")};
    QDataStream ds(QByteArray::fromHex(hex));
    ds.setVersion(QDataStream::Qt_3_3);
    ds >> d;
    QCOMPARE(fields(d) + (ds.status() != QDataStream::Ok ? " failed" : ds.atEnd() ? "" : " trailing"), expected);
    if (!expected.endsWith("failed"))
        QCOMPARE(streamed(d), hex);
}

QTEST_GUILESS_MAIN(tst_DateClass)
#include "tst_dateclass.moc"
