/* key_decoder.h -- turns the bytes a terminal (or a pipe) sends into the
 * keys of the Windows console: virtual-key codes as the entry field knows
 * them. Pure code over its arguments, portable, driven by the tests. */
#ifndef QUOMBAX_KEY_DECODER_H
#define QUOMBAX_KEY_DECODER_H

#include "platform.h"

#include <stddef.h>

/* The most bytes the decoder ever leaves untaken while it waits for the
 * next ones: a lone Escape, or the start of a UTF-8 character. */
#define KEY_HOLD_MAX 4
/* How long the terminal may fall silent before what the decoder waits for
 * is given up: after a lone Escape (then it is the Escape key) or a part
 * of a character; and inside a sequence, which is then dropped whole. */
#define ESCAPE_WAIT_MS 30
#define SEQUENCE_WAIT_MS 1000

struct DecodedKey {
    int present;        /* 0: the bytes taken make no key (a sequence, or a part of one) */
    WORD virtual_key;   /* the key's virtual-key code; 0 for a key without one */
    char ascii;         /* the character the key carries, 0 for none */
};

/* The sequence under way between calls. A sequence is recognised by its
 * introducer (ESC [, ESC O, or ESC P, ESC ], ESC _, ESC ^, ESC X for a
 * string) and from then on taken whole, however its bytes are split, up to
 * its final byte or terminator. Zero-initialise. */
enum KeySequence {
    SEQUENCE_NONE = 0,
    SEQUENCE_CSI,            /* ESC [ parameters, intermediates, final byte */
    SEQUENCE_SS3,            /* ESC O, optional parameters, final byte */
    SEQUENCE_STRING,         /* DCS, OSC, APC, PM, SOS: up to ST (ESC \) or BEL */
    SEQUENCE_LINUX_FUNCTION, /* ESC [ [ and one letter: the Linux console's F1 to F5 */
};
struct KeyDecoder {
    int sequence;       /* a KeySequence */
    int parameter_bytes; /* bytes of the sequence after its introducer */
    int first_number;   /* CSI: value of the first parameter */
    int in_first;       /* CSI: the first parameter is still being read */
    int private_marker; /* CSI: the parameters start with one of < = > ? */
};

/* Decodes the first key of bytes[0..length). Returns the number of bytes
 * taken (then *key is set; bytes of a sequence make no key until its final
 * byte), or 0 when the decoder waits for more: only when length is below
 * KEY_HOLD_MAX and at_end is 0. at_end says the terminal has fallen silent
 * for the time key_decoder_wait_ms gives (or the input ended): a lone
 * Escape is then the Escape key, and a sequence the bytes leave unfinished
 * is dropped; with length 0 it only drops the sequence under way. */
size_t decode_terminal_key(KeyDecoder *decoder, const unsigned char *bytes, size_t length, int at_end,
                           DecodedKey *key);

/* How long the decoder waits, after the last byte, before the call with
 * at_end: SEQUENCE_WAIT_MS inside a sequence, ESCAPE_WAIT_MS while held
 * bytes wait, 0 when it waits for nothing. */
int key_decoder_wait_ms(const KeyDecoder *decoder, size_t held);

/* The key that one byte of piped input names: a line feed is Enter, a
 * carriage return is no key (so CR LF is one Enter), every other byte the
 * key a terminal would give for it alone. Returns key->present. */
int decode_input_byte(unsigned char byte, DecodedKey *key);

/* The two input records of a key: its press, then its release. */
void key_event_records(const DecodedKey *key, INPUT_RECORD records[2]);

#endif
