// Real header values: every From, To, Cc, Reply-To, Subject and Date value of
// the sample corpus through the parsers and printers, and a set of the
// hardest of them with their results worked out by hand.

#include <addressclass.h>
#include <addresslistclass.h>
#include <dateclass.h>
#include <mimecodec.h>

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QLoggingCategory>
#include <QTest>
#include <QTextStream>

namespace {

struct HeaderValue {
    QByteArray field;   // lower-case name
    QByteArray folded;  // as it stands, line breaks included
    QByteArray value;   // unfolded and trimmed
};

// Collects the wanted header fields of every header-like line of a file
// (message headers, and those of enclosed messages), with continuation
// lines joined.
QList<HeaderValue> headerValues(const QByteArray& text)
{
    static const QByteArray wanted[] = {"from", "to", "cc", "reply-to", "subject", "date"};
    QList<HeaderValue> out;
    const QList<QByteArray> lines = text.split('\n');
    HeaderValue* cur = nullptr;
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (cur && !line.isEmpty() && (line[0] == ' ' || line[0] == '\t')) {
            cur->folded += "\r\n" + line;
            cur->value += line;
            continue;
        }
        cur = nullptr;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).toLower();
        for (const QByteArray& w : wanted) {
            if (name == w) {
                out.append({name, line.mid(colon + 1), line.mid(colon + 1)});
                cur = &out.last();
                break;
            }
        }
    }
    for (HeaderValue& v : out)
        v.value = v.value.trimmed();
    return out;
}

bool hasLineBreak(const QByteArray& a) { return a.contains('\r') || a.contains('\n'); }
bool hasLineBreak(const QString& s) { return s.contains(QLatin1Char('\r')) || s.contains(QLatin1Char('\n')); }

QString streamed(const DateClass& d)
{
    QString s;
    QTextStream ts(&s);
    ts << d;
    ts.flush();
    return s;
}

} // namespace

class tst_HeaderValuesCorpus : public QObject
{
    Q_OBJECT

private slots:
    void sweep();
    void subjects_data();
    void subjects();
    void mailboxes_data();
    void mailboxes();
    void lists_data();
    void lists();
    void longEncodedList();
    void dates_data();
    void dates();
    void tool();
};

// No value may crash or hang a parser, and no header form printed from it
// may hold a line break, whether the value is given folded or unfolded.
void tst_HeaderValuesCorpus::sweep()
{
    const QString root = QStringLiteral(ORVANE_CORPUS_DIR);
    if (!QFileInfo::exists(root))
        QSKIP("sample corpus not present");
    // Unknown charsets write one diagnostic per word.
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    int files = 0, values = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String(".md")) || path.endsWith(QLatin1String(".tsv")))
            continue;
        QFile f(path);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(path));
        ++files;
        for (const HeaderValue& hv : headerValues(f.readAll())) {
            ++values;
            for (const QByteArray& raw : {hv.value, hv.folded}) {
                const QCString v(raw);
                const QByteArray where = path.toUtf8() + ": " + hv.field + ": " + raw.left(80);

                const QString text = MIMECodec::translate(v);
                if (!raw.contains("=?"))
                    QCOMPARE(text, raw.isEmpty() ? QString() : QString::fromLatin1(raw.constData(), v.cLength()));

                const AddressClass a(v);
                QVERIFY2(!hasLineBreak(a.getOriginalAddress()), where.constData());
                const AddressClass again(a.fullAddress());
                QVERIFY2(!hasLineBreak(again.getOriginalAddress()), where.constData());

                const AddressListClass l(v);
                QVERIFY2(!hasLineBreak(l.toQCString()), where.constData());
                for (const QString& s : l.toQStringList())
                    QVERIFY2(!hasLineBreak(s), where.constData());
                const AddressListClass relist(l.returnString(), true);
                QVERIFY2(!hasLineBreak(relist.toQCString()), where.constData());
                QCOMPARE(relist.returnNameStringList().size(), l.returnNameStringList().size());

                const DateClass d(v);
                QVERIFY2(!hasLineBreak(d.toQCString()), where.constData());
                QVERIFY2(!hasLineBreak(d.toLocalDateQCString()), where.constData());
                QVERIFY2(!hasLineBreak(streamed(d)), where.constData());
            }
        }
    }
    QLoggingCategory::setFilterRules(QString());
    QVERIFY2(files >= 250, qPrintable(QString::number(files)));
    QVERIFY2(values >= 1000, qPrintable(QString::number(values)));
}

void tst_HeaderValuesCorpus::subjects_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("expected");

    // hunnysoft/emails__m0004.eml: Q with escaped parentheses; '_' stays.
    QTest::newRow("m0004 latin1 q")
        << QByteArray("=?iso-8859-1?Q?Die_Hasen_und_die_Fr=F6sche_=28Microsoft_Outlook_00=29?=")
        << QStringLiteral("Die_Hasen_und_die_Fr\u00f6sche_(Microsoft_Outlook_00)");
    // hunnysoft/emails__m0006.eml: UTF-7 inside Q.
    QTest::newRow("m0006 utf-7 q")
        << QByteArray("=?utf-7?Q?Die_Hasen_und_die_Fr+APY-sche_=28Microsoft_Outlook_00=29?=")
        << QStringLiteral("Die_Hasen_und_die_Fr\u00f6sche_(Microsoft_Outlook_00)");
    // hunnysoft/emails__m0008.eml
    QTest::newRow("m0008 utf-8 q")
        << QByteArray("=?utf-8?Q?Die_Hasen_und_die_Fr=C3=B6sche_=28Microsoft_Outlook_00=29?=")
        << QStringLiteral("Die_Hasen_und_die_Fr\u00f6sche_(Microsoft_Outlook_00)");
    // hunnysoft/emails__m0010.eml
    QTest::newRow("m0010 windows-1252")
        << QByteArray("=?Windows-1252?Q?Die_Hasen_und_die_Fr=F6sche_=28Microsoft_Outlook_00=29?=")
        << QStringLiteral("Die_Hasen_und_die_Fr\u00f6sche_(Microsoft_Outlook_00)");
    // hunnysoft/emails__m1001.eml: a word inside plain text.
    QTest::newRow("m1001 word in text")
        << QByteArray("Die Hasen und die =?iso-8859-1?Q?Fr=F6sche?= (Netscape Communicator 4.7)")
        << QStringLiteral("Die Hasen und die Fr\u00f6sche (Netscape Communicator 4.7)");
    // hunnysoft/emails__m2004.eml: a raw 8-bit byte inside a Q word.
    QTest::newRow("m2004 raw 8-bit in q")
        << QByteArray("=?iso-8859-1?Q?Die_Hasen_und_die_Fr\xf6" "sche?=")
        << QStringLiteral("Die_Hasen_und_die_Fr\u00f6sche");
    // mime4j/mimetools-testmsgs__intl.eml: three adjacent words in three
    // charsets; the spaces between them stay.
    QTest::newRow("intl three charsets")
        << QByteArray("=?ISO-8859-1?B?SWYgeW91IGNhbiByZWFkIHRoaXMgeW8=?= "
                      "=?ISO-8859-2?B?dSB1bmRlcnN0YW5kIHRoZSBleGFtcGxlLg==?= =?US-ASCII?Q?.._so,_cool!?=")
        << QStringLiteral("If you can read this yo u understand the example. .._so,_cool!");
    // mimekit/messages__japanese.eml: ISO-2022-JP split over two words.
    QTest::newRow("japanese iso-2022-jp")
        << QByteArray("=?ISO-2022-JP?B?GyRCRnxLXDhsJWEhPCVrJUYlOSVIGyhCICh0ZXN0aW5nIEph?= "
                      "=?ISO-2022-JP?B?cGFuZXNlIGVtYWlscyk=?=")
        << QStringLiteral("\u65e5\u672c\u8a9e\u30e1\u30fc\u30eb\u30c6\u30b9\u30c8 (testing Ja panese emails)");
    // The same words folded as they stand in the file: the line break
    // before the continuation is text between words and stays.
    QTest::newRow("japanese folded")
        << QByteArray("=?ISO-2022-JP?B?GyRCRnxLXDhsJWEhPCVrJUYlOSVIGyhCICh0ZXN0aW5nIEph?=\r\n "
                      "=?ISO-2022-JP?B?cGFuZXNlIGVtYWlscyk=?=")
        << QStringLiteral("\u65e5\u672c\u8a9e\u30e1\u30fc\u30eb\u30c6\u30b9\u30c8 (testing Ja\r\n panese emails)");
    // python-email/msg_25.eml: angle brackets and brackets in plain text.
    QTest::newRow("msg_25 plain")
        << QByteArray("Returned mail: Too many hops 19 (17 max): from <linuxuser-admin@www.linux.org.uk> via "
                      "[199.164.235.226], to <scoffman@wellpartner.com>")
        << QStringLiteral("Returned mail: Too many hops 19 (17 max): from <linuxuser-admin@www.linux.org.uk> via "
                          "[199.164.235.226], to <scoffman@wellpartner.com>");
    // mimekit/mbox__content-length.mbox.txt__002.eml: a tab from unfolding.
    QTest::newRow("tab kept") << QByteArray("a message which contains a message\t(which has a text/plain body)")
                              << QStringLiteral("a message which contains a message\t(which has a text/plain body)");
}

void tst_HeaderValuesCorpus::subjects()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, expected);
    QCOMPARE(MIMECodec::translate(QCString(raw)), expected);
}

void tst_HeaderValuesCorpus::mailboxes_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("email");
    QTest::addColumn<QString>("full");
    QTest::addColumn<QByteArray>("original");

    // hunnysoft/emails__m0004.eml: B word in Latin-1.
    QTest::newRow("m0004 b latin1")
        << QByteArray("=?iso-8859-1?B?SvxyZ2VuIFNjaG38cmdlbg==?= <schmuergen@example.com>")
        << QByteArray("schmuergen@example.com") << QStringLiteral("\"J\u00fcrgen Schm\u00fcrgen\" <schmuergen@example.com>")
        << QByteArray("=?iso-8859-1?B?SvxyZ2VuIFNjaG38cmdlbg==?= <schmuergen@example.com>");
    // hunnysoft/emails__m0007.eml: UTF-7 in Q.
    QTest::newRow("m0007 utf-7") << QByteArray("=?utf-7?Q?Heinz_M+APw-ller?= <mueller@example.com>")
                                 << QByteArray("mueller@example.com")
                                 << QStringLiteral("\"Heinz_M\u00fcller\" <mueller@example.com>")
                                 << QByteArray("=?utf-7?Q?Heinz_M+APw-ller?= <mueller@example.com>");
    // hunnysoft/emails__m1001.eml: =20 inside Q.
    QTest::newRow("m1001 =20") << QByteArray("=?iso-8859-1?Q?J=FCrgen=20Schm=FCrgen?= <schmuergen@example.com>")
                               << QByteArray("schmuergen@example.com")
                               << QStringLiteral("\"J\u00fcrgen Schm\u00fcrgen\" <schmuergen@example.com>")
                               << QByteArray("=?iso-8859-1?Q?J=FCrgen=20Schm=FCrgen?= <schmuergen@example.com>");
    // hunnysoft/emails__m1002.eml: plain word before the encoded word.
    QTest::newRow("m1002 mixed name") << QByteArray("Heinz =?iso-8859-1?Q?M=FCller?= <mueller@example.com>")
                                      << QByteArray("mueller@example.com")
                                      << QStringLiteral("\"Heinz M\u00fcller\" <mueller@example.com>")
                                      << QByteArray("Heinz =?iso-8859-1?Q?M=FCller?= <mueller@example.com>");
    // hunnysoft/emails__m2001.eml: two words, double space before '<'.
    QTest::newRow("m2001 two words")
        << QByteArray("=?iso-8859-1?Q?J=FCrgen?= =?iso-8859-1?Q?_Schm=FCrgen?=  <jschmuergen@example.com>")
        << QByteArray("jschmuergen@example.com")
        << QStringLiteral("\"J\u00fcrgen _Schm\u00fcrgen\" <jschmuergen@example.com>")
        << QByteArray("=?iso-8859-1?Q?J=FCrgen?= =?iso-8859-1?Q?_Schm=FCrgen?= <jschmuergen@example.com>");
    // hunnysoft/emails__m2004.eml: raw 8-bit inside the Q word.
    QTest::newRow("m2004 raw 8-bit") << QByteArray("Heinz =?iso-8859-1?Q?M\xfc" "ller?= <mueller@example.com>")
                                     << QByteArray("mueller@example.com")
                                     << QStringLiteral("\"Heinz M\u00fcller\" <mueller@example.com>")
                                     << QByteArray("Heinz =?iso-8859-1?Q?M\xfc" "ller?= <mueller@example.com>");
    // hunnysoft: a quoted raw Latin-1 name and raw UTF-8 (read as Latin-1).
    QTest::newRow("raw latin1 quoted") << QByteArray("\"J\xfcrgen Schm\xfcrgen\" <schmuergen@example.com>")
                                       << QByteArray("schmuergen@example.com")
                                       << QStringLiteral("\"J\u00fcrgen Schm\u00fcrgen\" <schmuergen@example.com>")
                                       << QByteArray("\"J\xfcrgen Schm\xfcrgen\"  <schmuergen@example.com>");
    QTest::newRow("raw utf-8 as latin1")
        << QByteArray("J\xc3\xbcrgen Schm\xc3\xbcrgen <jschmuergen@example.com>") << QByteArray("jschmuergen@example.com")
        << QStringLiteral("\"J\u00c3\u00bcrgen Schm\u00c3\u00bcrgen\" <jschmuergen@example.com>")
        << QByteArray("\"J\xc3\xbcrgen Schm\xc3\xbcrgen\"  <jschmuergen@example.com>");
    // mime4j/mimetools-testmsgs__german-qp.eml: ISO-8859-15.
    QTest::newRow("german-qp 8859-15") << QByteArray("=?ISO-8859-15?Q?J=F6rn?= Reder <joern@zyn.de>")
                                       << QByteArray("joern@zyn.de") << QStringLiteral("\"J\u00f6rn Reder\" <joern@zyn.de>")
                                       << QByteArray("=?ISO-8859-15?Q?J=F6rn?= Reder <joern@zyn.de>");
    // mime4j/mimetools-testmsgs__intl.eml
    QTest::newRow("intl us-ascii") << QByteArray("=?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>")
                                   << QByteArray("moore@cs.utk.edu") << QStringLiteral("\"Keith_Moore\" <moore@cs.utk.edu>")
                                   << QByteArray("=?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>");
    QTest::newRow("intl trailing _ in word")
        << QByteArray("=?ISO-8859-1?Q?Andr=E9_?= Pirard <PIRARD@vm1.ulg.ac.be>") << QByteArray("PIRARD@vm1.ulg.ac.be")
        << QStringLiteral("\"Andr\u00e9_ Pirard\" <PIRARD@vm1.ulg.ac.be>")
        << QByteArray("=?ISO-8859-1?Q?Andr=E9_?= Pirard <PIRARD@vm1.ulg.ac.be>");
    QTest::newRow("intl 8859-1 ø") << QByteArray("=?ISO-8859-1?Q?Keld_J=F8rn_Simonsen?= <keld@dkuug.dk>")
                                   << QByteArray("keld@dkuug.dk") << QStringLiteral("\"Keld_J\u00f8rn_Simonsen\" <keld@dkuug.dk>")
                                   << QByteArray("=?ISO-8859-1?Q?Keld_J=F8rn_Simonsen?= <keld@dkuug.dk>");
    // python-email/msg_27.eml and others: the comment after the address goes.
    QTest::newRow("msg_27 comment") << QByteArray("aperson@dom.ain (Anne P. Erson)") << QByteArray("aperson@dom.ain")
                                    << QStringLiteral("aperson@dom.ain") << QByteArray("<aperson@dom.ain>");
    // mimekit/messages__bounce.eml
    QTest::newRow("bounce comment") << QByteArray("MAILER-DAEMON@hmail.jitbit.com (Mail Delivery System)")
                                    << QByteArray("MAILER-DAEMON@hmail.jitbit.com")
                                    << QStringLiteral("MAILER-DAEMON@hmail.jitbit.com")
                                    << QByteArray("<MAILER-DAEMON@hmail.jitbit.com>");
    // python-email/msg_43.eml: an empty angle address.
    QTest::newRow("msg_43 empty angle") << QByteArray("MAILER DAEMON <>") << QByteArray()
                                        << QStringLiteral("\"MAILER DAEMON\"") << QByteArray("\"MAILER DAEMON\" ");
    // mime4j/mimetools-testmsgs__multi-frag.eml: a comment alone.
    QTest::newRow("comment only") << QByteArray("(mailbox in US-ASCII)") << QByteArray()
                                  << QStringLiteral("\"(mailbox in US-ASCII)\"") << QByteArray("\"(mailbox in US-ASCII)\" ");
    // A quoted name that is itself an address: the first word with '@' wins.
    QTest::newRow("address as name") << QByteArray("\"mimekit.test@gmail.com\" <mimekit.test@gmail.com>")
                                     << QByteArray("mimekit.test@gmail.com") << QStringLiteral("mimekit.test@gmail.com")
                                     << QByteArray("<mimekit.test@gmail.com>");
    // mimekit/mbox__content-length.mbox.txt__024.eml, with apostrophes.
    QTest::newRow("apostrophes") << QByteArray("\"'smime-dev@rsa.com'\" <smime-dev@RSA.COM>")
                                 << QByteArray("'smime-dev@rsa.com'") << QStringLiteral("'smime-dev@rsa.com'")
                                 << QByteArray("<'smime-dev@rsa.com'>");
    // A UUCP path with two '@'.
    QTest::newRow("bang path") << QByteArray("develop!nextmime@ebony@sblab.att.com")
                               << QByteArray("develop!nextmime@ebony@sblab.att.com")
                               << QStringLiteral("develop!nextmime@ebony@sblab.att.com")
                               << QByteArray("<develop!nextmime@ebony@sblab.att.com>");
    // Quoted names with dots.
    QTest::newRow("quoted dotted name") << QByteArray("\"Russell P. Sutherland\" <russ@quist.on.ca>")
                                        << QByteArray("russ@quist.on.ca")
                                        << QStringLiteral("\"Russell P. Sutherland\" <russ@quist.on.ca>")
                                        << QByteArray("\"Russell P. Sutherland\"  <russ@quist.on.ca>");
}

void tst_HeaderValuesCorpus::mailboxes()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, email);
    QFETCH(QString, full);
    QFETCH(QByteArray, original);
    const AddressClass a{QCString(raw)};
    QCOMPARE(QByteArray(a.email), email);
    QCOMPARE(a.fullAddress(), full);
    QCOMPARE(QByteArray(a.getOriginalAddress()), original);
}

void tst_HeaderValuesCorpus::lists_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QByteArray>("header");

    // hunnysoft/emails__m0006.eml: a quoted name and a UTF-7 B word,
    // separated by a comma and a tab from unfolding.
    QTest::newRow("m0006 utf-7 b")
        << QByteArray("\"Joe Blow\" <jblow@example.com>,\t=?utf-7?B?SitBUHctcmdlbiBTY2htK0FQdy1yZ2Vu?= "
                      "<schmuergen@example.com>")
        << 2 << QStringLiteral("\"Joe Blow\" <jblow@example.com>, \"J\u00fcrgen Schm\u00fcrgen\" <schmuergen@example.com>")
        << QByteArray("\"Joe Blow\"  <jblow@example.com>, =?utf-7?B?SitBUHctcmdlbiBTY2htK0FQdy1yZ2Vu?= "
                      "<schmuergen@example.com>");
    // hunnysoft/emails__m3004.eml: run of spaces after the comma.
    QTest::newRow("m3004 plain and encoded")
        << QByteArray("Joe Blow <blow@example.com>,     =?iso-8859-1?Q?Heinz_M=FCller?= <mueller@example.com>") << 2
        << QStringLiteral("\"Joe Blow\" <blow@example.com>, \"Heinz_M\u00fcller\" <mueller@example.com>")
        << QByteArray("\"Joe Blow\"  <blow@example.com>, =?iso-8859-1?Q?Heinz_M=FCller?= <mueller@example.com>");
    // An empty group.
    QTest::newRow("IETF-Announce group") << QByteArray("IETF-Announce:;") << 1 << QStringLiteral("\"IETF-Announce:\"")
                                         << QByteArray("\"IETF-Announce:\" ");
    // mimekit/messages__delivery-status-no-blank-line.eml: group and comment.
    QTest::newRow("unlisted-recipients")
        << QByteArray("unlisted-recipients:; (no To-header on input)") << 1
        << QStringLiteral("\"unlisted-recipients: (no To-header on input)\"")
        << QByteArray("\"unlisted-recipients: (no To-header on input)\" ");
    // mime4j: no space after a comma, and a local name without '@'.
    QTest::newRow("local recipient")
        << QByteArray("johnson@killians.gsfc.nasa.gov,harvel@killians.gsfc.nasa.gov, eryq") << 3
        << QStringLiteral("johnson@killians.gsfc.nasa.gov, harvel@killians.gsfc.nasa.gov, \"eryq\"")
        << QByteArray("<johnson@killians.gsfc.nasa.gov>, <harvel@killians.gsfc.nasa.gov>, \"eryq\" ");
    // mimekit/mbox__content-length.mbox.txt__024.eml: comment holding an
    // address in apostrophes.
    QTest::newRow("comment with address") << QByteArray("smime-dev@RSA.COM ('smime-dev@rsa.com')") << 1
                                          << QStringLiteral("smime-dev@RSA.COM") << QByteArray("<smime-dev@RSA.COM>");
    // A comment with a comma splits the list (parentheses do not protect).
    QTest::newRow("comment comma") << QByteArray("a@x.org (Doe, John)") << 2 << QStringLiteral("a@x.org, \"John)\"")
                                   << QByteArray("<a@x.org>, \"John)\" ");
    // A quoted name with a comma stays one address.
    QTest::newRow("quoted comma") << QByteArray("\"Sutherland, Russell P.\" <russ@quist.on.ca>, \"PC800\" <pc800@hpc.uh.edu>")
                                  << 2
                                  << QStringLiteral("\"Sutherland Russell P.\" <russ@quist.on.ca>, \"PC800\" <pc800@hpc.uh.edu>")
                                  << QByteArray("\"Sutherland Russell P.\"  <russ@quist.on.ca>, \"PC800\"  <pc800@hpc.uh.edu>");
    // A group with members: the group name becomes the first one's name.
    QTest::newRow("group with members") << QByteArray("Team: a@x.org, \"B\" <b@x.org>;") << 2
                                        << QStringLiteral("\"Team:\" <a@x.org>, \"B\" <b@x.org>")
                                        << QByteArray("\"Team:\"  <a@x.org>, \"B\"  <b@x.org>");
}

void tst_HeaderValuesCorpus::lists()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, count);
    QFETCH(QString, display);
    QFETCH(QByteArray, header);
    const AddressListClass l{QCString(raw)};
    QCOMPARE(l.count(), count);
    QCOMPARE(l.returnString(), display);
    QCOMPARE(QByteArray(l.toQCString()), header);
}

// mimekit/messages__stack-overflow.eml: a To value of 2710 tab-separated
// encoded words after one address. No word holds '@', so they all form the
// display name of a second entry without an address.
void tst_HeaderValuesCorpus::longEncodedList()
{
    const QByteArray word = "=?utf-8?Q?date=3E2017-08-20T10:08:28.617=3C/pr?=";
    QByteArray raw = "\"test\" <test@test.com>,";
    for (int i = 0; i < 2710; ++i)
        raw += '\t' + word;
    const AddressListClass l{QCString(raw)};
    QCOMPARE(l.count(), 2);
    QCOMPARE(l[0].fullAddress(), QStringLiteral("\"test\" <test@test.com>"));
    QVERIFY(l[1].email.isNull());
    QStringList parts;
    for (int i = 0; i < 2710; ++i)
        parts << QStringLiteral("date>2017-08-20T10:08:28.617</pr");
    QCOMPARE(l[1].getTranslated_name(), parts.join(QLatin1Char(' ')));
    QVERIFY(!hasLineBreak(l.toQCString()));
}

void tst_HeaderValuesCorpus::dates_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("dayOfWeek");
    QTest::addColumn<int>("day");
    QTest::addColumn<QByteArray>("monthName");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("minute");
    QTest::addColumn<int>("sec");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("shortForm");  // toQCString
    QTest::addColumn<QString>("streamForm");    // text-stream operator

    // mimekit/mbox__content-length.mbox.txt__007.eml: two-digit year, named zone.
    QTest::newRow("92 PDT") << QByteArray("Fri, 25 Sep 92 14:13:02 PDT") << QByteArray("Fri") << 25 << QByteArray("Sep")
                            << 9 << 1992 << 14 << 13 << 2 << QByteArray("PDT")
                            << QByteArray("Fri, 25 Sep 1992 14:13") << QStringLiteral("Fri, 25 Sep 1992 14:13:02 PDT");
    // Missing seconds with a named zone.
    QTest::newRow("98 no seconds") << QByteArray("Wed, 11 Feb 98 11:51 CST") << QByteArray("Wed") << 11
                                   << QByteArray("Feb") << 2 << 1998 << 11 << 51 << 0 << QByteArray("CST")
                                   << QByteArray("Wed, 11 Feb 1998 11:51") << QStringLiteral("Wed, 11 Feb 1998 11:51:00 CST");
    QTest::newRow("95 no seconds") << QByteArray("Wed, 20 Dec 95 19:59 CST") << QByteArray("Wed") << 20
                                   << QByteArray("Dec") << 12 << 1995 << 19 << 59 << 0 << QByteArray("CST")
                                   << QByteArray("Wed, 20 Dec 1995 19:59") << QStringLiteral("Wed, 20 Dec 1995 19:59:00 CST");
    // No weekday, no seconds, zone right after the minutes.
    QTest::newRow("zone glued to minutes")
        << QByteArray("01 Jan 2001 00:01+0000") << QByteArray("Mon") << 1 << QByteArray("Jan") << 1 << 2001 << 0 << 1
        << 0 << QByteArray("+0000") << QByteArray("Mon, 01 Jan 2001 00:01") << QStringLiteral("Mon, 01 Jan 2001 00:01:00 +0000");
    // No weekday: it is derived from the date.
    QTest::newRow("derived weekday") << QByteArray("08 Feb 2003 01:58:32 +0200") << QByteArray("Sat") << 8
                                     << QByteArray("Feb") << 2 << 2003 << 1 << 58 << 32 << QByteArray("+0200")
                                     << QByteArray("Sat, 08 Feb 2003 01:58") << QStringLiteral("Sat, 08 Feb 2003 01:58:32 +0200");
    // mime4j/resources__mime4j-219-new-date-time-format.eml: fractional
    // seconds; the word after the integer seconds is the zone.
    QTest::newRow("fractional seconds") << QByteArray("Tue, 17 Jul 2012 22:23:35.882 0000") << QByteArray("Tue") << 17
                                        << QByteArray("Jul") << 7 << 2012 << 22 << 23 << 35 << QByteArray(".882")
                                        << QByteArray("Tue, 17 Jul 2012 22:23")
                                        << QStringLiteral("Tue, 17 Jul 2012 22:23:35 .882");
    // mimekit/messages__disposition-notification.eml: comment before zone.
    QTest::newRow("comment before zone") << QByteArray("Wed, 20 Sep 1995 00:19:00 (EDT) -0400") << QByteArray("Wed")
                                         << 20 << QByteArray("Sep") << 9 << 1995 << 0 << 19 << 0 << QByteArray("(EDT)")
                                         << QByteArray("Wed, 20 Sep 1995 00:19")
                                         << QStringLiteral("Wed, 20 Sep 1995 00:19:00 (EDT)");
    // mime4j/mimetools-testmsgs__multi-igor.eml: comment after the zone.
    QTest::newRow("comment after zone") << QByteArray("Thu, 6 Jun 1996 15:50:39 +0400 (MOW DST)") << QByteArray("Thu")
                                        << 6 << QByteArray("Jun") << 6 << 1996 << 15 << 50 << 39 << QByteArray("+0400")
                                        << QByteArray("Thu, 06 Jun 1996 15:50")
                                        << QStringLiteral("Thu, 06 Jun 1996 15:50:39 +0400");
    // Three-digit zone offset.
    QTest::newRow("short offset") << QByteArray("Mon, 21 Aug 95 13:30:57 -600") << QByteArray("Mon") << 21
                                  << QByteArray("Aug") << 8 << 1995 << 13 << 30 << 57 << QByteArray("-600")
                                  << QByteArray("Mon, 21 Aug 1995 13:30") << QStringLiteral("Mon, 21 Aug 1995 13:30:57 -600");
    // Lower-case zone name.
    QTest::newRow("lower-case zone") << QByteArray("Tue, 28 May 1996 12:24:23 cst") << QByteArray("Tue") << 28
                                     << QByteArray("May") << 5 << 1996 << 12 << 24 << 23 << QByteArray("cst")
                                     << QByteArray("Tue, 28 May 1996 12:24") << QStringLiteral("Tue, 28 May 1996 12:24:23 cst");
    // One-digit hour.
    QTest::newRow("one-digit hour") << QByteArray("Fri, 23 Aug 2002 2:32:53 -0400") << QByteArray("Fri") << 23
                                    << QByteArray("Aug") << 8 << 2002 << 2 << 32 << 53 << QByteArray("-0400")
                                    << QByteArray("Fri, 23 Aug 2002 02:32") << QStringLiteral("Fri, 23 Aug 2002 02:32:53 -0400");
    // No zone at all.
    QTest::newRow("no zone") << QByteArray("Wed, 15 Feb 1995 09:38:18") << QByteArray("Wed") << 15 << QByteArray("Feb")
                             << 2 << 1995 << 9 << 38 << 18 << QByteArray() << QByteArray("Wed, 15 Feb 1995 09:38")
                             << QStringLiteral("Wed, 15 Feb 1995 09:38:18 ");
    // "UT" and "GMT" zones.
    QTest::newRow("UT") << QByteArray("Tue, 6 Jun 2000 03:20:11 UT") << QByteArray("Tue") << 6 << QByteArray("Jun") << 6
                        << 2000 << 3 << 20 << 11 << QByteArray("UT") << QByteArray("Tue, 06 Jun 2000 03:20")
                        << QStringLiteral("Tue, 06 Jun 2000 03:20:11 UT");
    QTest::newRow("95 GMT") << QByteArray("Sun, 7 May 95 16:21:03 GMT") << QByteArray("Sun") << 7 << QByteArray("May")
                            << 5 << 1995 << 16 << 21 << 3 << QByteArray("GMT") << QByteArray("Sun, 07 May 1995 16:21")
                            << QStringLiteral("Sun, 07 May 1995 16:21:03 GMT");
    // Zone with a comment naming it.
    QTest::newRow("zone comment GMT-0800") << QByteArray("Fri, 6 Apr 2001 09:23:06 -0800 (GMT-0800)") << QByteArray("Fri")
                                           << 6 << QByteArray("Apr") << 4 << 2001 << 9 << 23 << 6 << QByteArray("-0800")
                                           << QByteArray("Fri, 06 Apr 2001 09:23")
                                           << QStringLiteral("Fri, 06 Apr 2001 09:23:06 -0800");
}

void tst_HeaderValuesCorpus::dates()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, dayOfWeek);
    QFETCH(int, day);
    QFETCH(QByteArray, monthName);
    QFETCH(int, month);
    QFETCH(int, year);
    QFETCH(int, hour);
    QFETCH(int, minute);
    QFETCH(int, sec);
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, shortForm);
    QFETCH(QString, streamForm);

    const DateClass d{QCString(raw)};
    QCOMPARE(QByteArray(d.day_of_week), dayOfWeek);
    QCOMPARE(d.day, day);
    QCOMPARE(QByteArray(d.month_of_year), monthName);
    QCOMPARE(d.month, month);
    QCOMPARE(d.year, year);
    QCOMPARE(d.hour, hour);
    QCOMPARE(d.minute, minute);
    QCOMPARE(d.sec, sec);
    QCOMPARE(QByteArray(d.timezone), zone);
    QCOMPARE(QByteArray(d.toQCString()), shortForm);
    QCOMPARE(streamed(d), streamForm);
}

// The tool's header subcommand prints the decoded values of a header block.
void tst_HeaderValuesCorpus::tool()
{
    const QString exe = QStringLiteral(ORVANE_TOOL);
    if (exe.isEmpty())
        QSKIP("tool not built");
    const QByteArray input =
        "From - Mon Jan  1 00:00:00 2001\r\n"
        "Subject: =?ISO-8859-1?Q?caf=E9?= and\r\n =?utf-8?Q?a=0Ab?=\r\n"
        "From: =?utf-8?Q?J=C3=B6rn?= <j@x>\r\n"
        "To: a@x, \"Doe, J\" <d@y>\r\n"
        "X-Other: ignored\r\n"
        "Date: Fri, 25 Sep 92 14:13:02 PDT\r\n"
        "\r\n"
        "Subject: body text, not a header\r\n";
    QProcess p;
    p.start(exe, {QStringLiteral("header")});
    QVERIFY(p.waitForStarted());
    p.write(input);
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished());
    QCOMPARE(p.exitCode(), 0);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QStringList lines = out.split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("Subject: caf\u00e9 and a\\nb"));
    QCOMPARE(lines.value(1), QStringLiteral("From: \"J\u00f6rn\" <j@x>"));
    QCOMPARE(lines.value(2), QStringLiteral("To: a@x"));
    QCOMPARE(lines.value(3), QStringLiteral("To: \"Doe J\" <d@y>"));
    QCOMPARE(lines.value(4), QStringLiteral("Date: Fri, 25 Sep 1992 14:13"));
    QVERIFY(lines.value(5).startsWith(QLatin1String("Date (local): ")));
    QCOMPARE(lines.value(6), QStringLiteral("Date (full): Fri, 25 Sep 1992 14:13:02 PDT"));
    QCOMPARE(lines.size(), 8);  // and the empty string after the last LF

    p.start(exe, {QStringLiteral("header"), QStringLiteral("--json")});
    QVERIFY(p.waitForStarted());
    p.write(input);
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished());
    QCOMPARE(p.exitCode(), 0);
    const QJsonArray json = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    QCOMPARE(json.size(), 4);
    QCOMPARE(json.at(0).toObject().value(QLatin1String("text")).toString(), QStringLiteral("caf\u00e9 and a\nb"));
    const QJsonArray to = json.at(2).toObject().value(QLatin1String("addresses")).toArray();
    QCOMPARE(to.size(), 2);
    QCOMPARE(to.at(1).toObject().value(QLatin1String("header")).toString(), QStringLiteral("\"Doe J\"  <d@y>"));
    QCOMPARE(json.at(3).toObject().value(QLatin1String("date")).toObject().value(QLatin1String("full")).toString(),
             QStringLiteral("Fri, 25 Sep 1992 14:13:02 PDT"));

    // Unreadable or header-less input is an error with a message.
    p.start(exe, {QStringLiteral("header"), QStringLiteral("/nonexistent/headers.txt")});
    QVERIFY(p.waitForFinished());
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(p.readAllStandardError().startsWith("orvane-mail: cannot open /nonexistent/headers.txt"));
    p.start(exe, {QStringLiteral("header")});
    QVERIFY(p.waitForStarted());
    p.write("just some text\n");
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished());
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(p.readAllStandardError().contains("no header lines"));
}

QTEST_GUILESS_MAIN(tst_HeaderValuesCorpus)
#include "tst_headervalues_corpus.moc"
