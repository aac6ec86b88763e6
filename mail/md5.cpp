#include "md5.h"

#include <cstring>

static_assert(sizeof(md5_word_t) == 4, "md5_word_t must be 32 bits");

namespace {

inline md5_word_t rotl(md5_word_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline md5_word_t load32(const md5_byte_t* p)
{
    return md5_word_t(p[0]) | (md5_word_t(p[1]) << 8) | (md5_word_t(p[2]) << 16)
        | (md5_word_t(p[3]) << 24);
}

#define MD5_F(x, y, z) (((x) & (y)) | (~(x) & (z)))
#define MD5_G(x, y, z) (((x) & (z)) | ((y) & ~(z)))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    (a) += f((b), (c), (d)) + (x) + (t); \
    (a) = rotl((a), (s)) + (b)

void process(md5_word_t abcd[4], const md5_byte_t* block)
{
    md5_word_t X[16];
    for (int i = 0; i < 16; ++i)
        X[i] = load32(block + 4 * i);
    md5_word_t a = abcd[0], b = abcd[1], c = abcd[2], d = abcd[3];

    MD5_STEP(MD5_F, a, b, c, d, X[0], 0xd76aa478, 7);
    MD5_STEP(MD5_F, d, a, b, c, X[1], 0xe8c7b756, 12);
    MD5_STEP(MD5_F, c, d, a, b, X[2], 0x242070db, 17);
    MD5_STEP(MD5_F, b, c, d, a, X[3], 0xc1bdceee, 22);
    MD5_STEP(MD5_F, a, b, c, d, X[4], 0xf57c0faf, 7);
    MD5_STEP(MD5_F, d, a, b, c, X[5], 0x4787c62a, 12);
    MD5_STEP(MD5_F, c, d, a, b, X[6], 0xa8304613, 17);
    MD5_STEP(MD5_F, b, c, d, a, X[7], 0xfd469501, 22);
    MD5_STEP(MD5_F, a, b, c, d, X[8], 0x698098d8, 7);
    MD5_STEP(MD5_F, d, a, b, c, X[9], 0x8b44f7af, 12);
    MD5_STEP(MD5_F, c, d, a, b, X[10], 0xffff5bb1, 17);
    MD5_STEP(MD5_F, b, c, d, a, X[11], 0x895cd7be, 22);
    MD5_STEP(MD5_F, a, b, c, d, X[12], 0x6b901122, 7);
    MD5_STEP(MD5_F, d, a, b, c, X[13], 0xfd987193, 12);
    MD5_STEP(MD5_F, c, d, a, b, X[14], 0xa679438e, 17);
    MD5_STEP(MD5_F, b, c, d, a, X[15], 0x49b40821, 22);

    MD5_STEP(MD5_G, a, b, c, d, X[1], 0xf61e2562, 5);
    MD5_STEP(MD5_G, d, a, b, c, X[6], 0xc040b340, 9);
    MD5_STEP(MD5_G, c, d, a, b, X[11], 0x265e5a51, 14);
    MD5_STEP(MD5_G, b, c, d, a, X[0], 0xe9b6c7aa, 20);
    MD5_STEP(MD5_G, a, b, c, d, X[5], 0xd62f105d, 5);
    MD5_STEP(MD5_G, d, a, b, c, X[10], 0x02441453, 9);
    MD5_STEP(MD5_G, c, d, a, b, X[15], 0xd8a1e681, 14);
    MD5_STEP(MD5_G, b, c, d, a, X[4], 0xe7d3fbc8, 20);
    MD5_STEP(MD5_G, a, b, c, d, X[9], 0x21e1cde6, 5);
    MD5_STEP(MD5_G, d, a, b, c, X[14], 0xc33707d6, 9);
    MD5_STEP(MD5_G, c, d, a, b, X[3], 0xf4d50d87, 14);
    MD5_STEP(MD5_G, b, c, d, a, X[8], 0x455a14ed, 20);
    MD5_STEP(MD5_G, a, b, c, d, X[13], 0xa9e3e905, 5);
    MD5_STEP(MD5_G, d, a, b, c, X[2], 0xfcefa3f8, 9);
    MD5_STEP(MD5_G, c, d, a, b, X[7], 0x676f02d9, 14);
    MD5_STEP(MD5_G, b, c, d, a, X[12], 0x8d2a4c8a, 20);

    MD5_STEP(MD5_H, a, b, c, d, X[5], 0xfffa3942, 4);
    MD5_STEP(MD5_H, d, a, b, c, X[8], 0x8771f681, 11);
    MD5_STEP(MD5_H, c, d, a, b, X[11], 0x6d9d6122, 16);
    MD5_STEP(MD5_H, b, c, d, a, X[14], 0xfde5380c, 23);
    MD5_STEP(MD5_H, a, b, c, d, X[1], 0xa4beea44, 4);
    MD5_STEP(MD5_H, d, a, b, c, X[4], 0x4bdecfa9, 11);
    MD5_STEP(MD5_H, c, d, a, b, X[7], 0xf6bb4b60, 16);
    MD5_STEP(MD5_H, b, c, d, a, X[10], 0xbebfbc70, 23);
    MD5_STEP(MD5_H, a, b, c, d, X[13], 0x289b7ec6, 4);
    MD5_STEP(MD5_H, d, a, b, c, X[0], 0xeaa127fa, 11);
    MD5_STEP(MD5_H, c, d, a, b, X[3], 0xd4ef3085, 16);
    MD5_STEP(MD5_H, b, c, d, a, X[6], 0x04881d05, 23);
    MD5_STEP(MD5_H, a, b, c, d, X[9], 0xd9d4d039, 4);
    MD5_STEP(MD5_H, d, a, b, c, X[12], 0xe6db99e5, 11);
    MD5_STEP(MD5_H, c, d, a, b, X[15], 0x1fa27cf8, 16);
    MD5_STEP(MD5_H, b, c, d, a, X[2], 0xc4ac5665, 23);

    MD5_STEP(MD5_I, a, b, c, d, X[0], 0xf4292244, 6);
    MD5_STEP(MD5_I, d, a, b, c, X[7], 0x432aff97, 10);
    MD5_STEP(MD5_I, c, d, a, b, X[14], 0xab9423a7, 15);
    MD5_STEP(MD5_I, b, c, d, a, X[5], 0xfc93a039, 21);
    MD5_STEP(MD5_I, a, b, c, d, X[12], 0x655b59c3, 6);
    MD5_STEP(MD5_I, d, a, b, c, X[3], 0x8f0ccc92, 10);
    MD5_STEP(MD5_I, c, d, a, b, X[10], 0xffeff47d, 15);
    MD5_STEP(MD5_I, b, c, d, a, X[1], 0x85845dd1, 21);
    MD5_STEP(MD5_I, a, b, c, d, X[8], 0x6fa87e4f, 6);
    MD5_STEP(MD5_I, d, a, b, c, X[15], 0xfe2ce6e0, 10);
    MD5_STEP(MD5_I, c, d, a, b, X[6], 0xa3014314, 15);
    MD5_STEP(MD5_I, b, c, d, a, X[13], 0x4e0811a1, 21);
    MD5_STEP(MD5_I, a, b, c, d, X[4], 0xf7537e82, 6);
    MD5_STEP(MD5_I, d, a, b, c, X[11], 0xbd3af235, 10);
    MD5_STEP(MD5_I, c, d, a, b, X[2], 0x2ad7d2bb, 15);
    MD5_STEP(MD5_I, b, c, d, a, X[9], 0xeb86d391, 21);

    abcd[0] += a;
    abcd[1] += b;
    abcd[2] += c;
    abcd[3] += d;
}

} // namespace

extern "C" {

void md5_init(md5_state_t* pms)
{
    pms->count[0] = pms->count[1] = 0;
    pms->abcd[0] = 0x67452301;
    pms->abcd[1] = 0xefcdab89;
    pms->abcd[2] = 0x98badcfe;
    pms->abcd[3] = 0x10325476;
    std::memset(pms->buf, 0, sizeof pms->buf);
}

void md5_append(md5_state_t* pms, const md5_byte_t* data, int nbytes)
{
    if (nbytes <= 0 || !data)
        return;
    const md5_byte_t* p = data;
    unsigned left = unsigned(nbytes);
    const unsigned offset = (pms->count[0] >> 3) & 63;
    const md5_word_t nbits = md5_word_t(nbytes) << 3;

    // Bit count, 64 bits split over two words.
    pms->count[1] += md5_word_t(unsigned(nbytes) >> 29);
    pms->count[0] += nbits;
    if (pms->count[0] < nbits)
        pms->count[1]++;

    if (offset) {
        const unsigned copy = (offset + left > 64) ? 64 - offset : left;
        std::memcpy(pms->buf + offset, p, copy);
        if (offset + copy < 64)
            return;
        p += copy;
        left -= copy;
        process(pms->abcd, pms->buf);
    }
    for (; left >= 64; p += 64, left -= 64)
        process(pms->abcd, p);
    if (left)
        std::memcpy(pms->buf, p, left);
}

void md5_finish(md5_state_t* pms, md5_byte_t digest[16])
{
    static const md5_byte_t pad[64] = {0x80};
    md5_byte_t data[8];
    for (int i = 0; i < 8; ++i)
        data[i] = md5_byte_t(pms->count[i >> 2] >> ((i & 3) << 3));
    // Pad to 56 bytes mod 64, then append the bit length.
    md5_append(pms, pad, int(((55 - (pms->count[0] >> 3)) & 63) + 1));
    md5_append(pms, data, 8);
    for (int i = 0; i < 16; ++i)
        digest[i] = md5_byte_t(pms->abcd[i >> 2] >> ((i & 3) << 3));
}

} // extern "C"
