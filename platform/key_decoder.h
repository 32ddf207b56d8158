/* key_decoder.h -- turns the bytes a terminal (or a pipe) sends into the
 * keys of the Windows console: virtual-key codes as the entry field knows
 * them. Pure code over its arguments, portable, driven by the tests. */
#ifndef QUOMBAX_KEY_DECODER_H
#define QUOMBAX_KEY_DECODER_H

#include "platform.h"

#include <stddef.h>

/* The longest escape sequence the decoder keeps whole; a longer one is
 * taken as no key and the rest of it skipped. */
#define KEY_SEQUENCE_MAX 32

struct DecodedKey {
    int present;        /* 0: the bytes taken make no key (an unknown sequence) */
    WORD virtual_key;   /* the key's virtual-key code; 0 for a key without one */
    char ascii;         /* the character the key carries, 0 for none */
};

/* What the decoder carries from one call to the next: whether it is
 * skipping the tail of an overlong control sequence. Zero-initialise. */
struct KeyDecoder {
    int skipping;
};

/* Decodes the first key of bytes[0..length). Returns the number of bytes
 * taken (then *key is set), or 0 when the bytes are the start of a longer
 * sequence that may still complete. It returns 0 only when length > 0 is
 * below KEY_SEQUENCE_MAX and at_end is 0; at_end says no byte follows for
 * now (end of input, or the terminal fell silent in mid-sequence). */
size_t decode_terminal_key(KeyDecoder *decoder, const unsigned char *bytes, size_t length, int at_end,
                           DecodedKey *key);

/* The key that one byte of piped input names: a line feed is Enter, a
 * carriage return is no key (so CR LF is one Enter), every other byte the
 * key a terminal would give for it alone. Returns key->present. */
int decode_input_byte(unsigned char byte, DecodedKey *key);

#endif
