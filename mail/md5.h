#pragma once

/*
 * MD5 message digest (RFC 1321) with a C interface. The caller owns the
 * state, usually on its stack; it holds no pointers.
 *
 *   md5_state_t st;
 *   md5_byte_t digest[16];
 *   md5_init(&st);
 *   md5_append(&st, data, size);   // any number of times
 *   md5_finish(&st, digest);
 */

#include "orvanemail_export.h"

typedef unsigned char md5_byte_t; /* 8-bit byte */
typedef unsigned int md5_word_t;  /* 32-bit word */

typedef struct md5_state_s {
    md5_word_t count[2]; /* message length in bits, low word first */
    md5_word_t abcd[4];  /* digest buffer */
    md5_byte_t buf[64];  /* partial input block */
} md5_state_t;

#ifdef __cplusplus
extern "C" {
#endif

/* Starts a new digest. */
ORVANEMAIL_EXPORT void md5_init(md5_state_t* pms);
/* Adds nbytes bytes; 0 or a negative count adds nothing. */
ORVANEMAIL_EXPORT void md5_append(md5_state_t* pms, const md5_byte_t* data, int nbytes);
/* Pads, appends the length and writes the 16-byte digest. */
ORVANEMAIL_EXPORT void md5_finish(md5_state_t* pms, md5_byte_t digest[16]);

#ifdef __cplusplus
}
#endif
