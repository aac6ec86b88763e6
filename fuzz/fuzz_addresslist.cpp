// libFuzzer target: the address and address-list parsers and printers.
//
// Invariants checked: no crash or sanitizer report; no header form holds a
// CR or LF byte, whether parsed from raw bytes or from the display forms
// read back as Unicode (as message composition does); an address read back
// from its own header form is the same address; no list entry comes from
// group punctuation or comments alone.

#include <addressclass.h>
#include <addresslistclass.h>

#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void checkHeaderForm(const QByteArray& h)
{
    if (h.contains('\r') || h.contains('\n'))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.mail.debug=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QCString raw(reinterpret_cast<const char*>(data), qsizetype(size));

    const AddressClass a(raw);
    checkHeaderForm(a.getOriginalAddress());
    const AddressClass b(a.fullAddress());
    checkHeaderForm(b.getOriginalAddress());
    if (!(AddressClass(a) == a))
        std::abort();
    // Addresses holding what a header form would have to quote, and route
    // forms, are left aside.
    bool plain = !a.email.isEmpty() && !a.email.startsWith('@');
    for (char c : a.email)
        plain = plain && !std::strchr(" \t\r\n\v\f\"\\<>()", c);
    if (plain && AddressClass(a.getOriginalAddress()).email != a.email)
        std::abort();

    const AddressListClass l(raw);
    checkHeaderForm(l.toQCString());
    for (const QString& s : l.toQStringList())
        checkHeaderForm(s.toLatin1());
    if (l.toQStringList().size() > l.count() || l.returnNameStringList().size() > l.count())
        std::abort();
    for (const AddressClass& e : l.getAddrList())
        if (e.name.isNull() && e.email.isNull() && !e.getTranslated_name().isNull())
            std::abort();

    const AddressListClass u(l.returnString(), true);
    checkHeaderForm(u.toQCString());
    const AddressListClass v(QString::fromUtf8(raw), true);
    checkHeaderForm(v.toQCString());
    const AddressListClass w(QString::fromUtf8(raw), false);
    checkHeaderForm(w.toQCString());
    return 0;
}
