#include <mimecodec.h>
#include <orvaneversion.h>

#include <cstdio>

int main()
{
    const QByteArray b64 = MIMECodec::encodeBase64(QByteArray("hello"), false, false);
    std::printf("%s %s\n", b64.constData(), ORVANE_MAIL_VERSION);
    return 0;
}
