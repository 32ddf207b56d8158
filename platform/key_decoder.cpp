/* key_decoder.cpp -- bytes to keys: single bytes by a table, escape
 * sequences (CSI and SS3) by their final byte, UTF-8 characters as one key
 * without a code. Any byte stream is taken: every call on a complete or
 * ended input takes at least one byte, and nothing is written past *key. */
#include "key_decoder.h"

static void set_key(DecodedKey *key, WORD virtual_key, char ascii) {
    key->present = 1;
    key->virtual_key = virtual_key;
    key->ascii = ascii;
}

static void set_no_key(DecodedKey *key) {
    key->present = 0;
    key->virtual_key = 0;
    key->ascii = 0;
}

/* The key of one byte on its own. Characters map to the key whose
 * unshifted character they are (US layout); the shifted characters of the
 * keys the entry field acts on ("!" to ")", "_", "<", ">") get no code, so
 * that what the user sees typed is what the field stores. */
static void key_of_byte(unsigned char byte, DecodedKey *key) {
    char ascii = (char)byte;
    if (byte >= '0' && byte <= '9') return set_key(key, (WORD)byte, ascii);
    if (byte >= 'A' && byte <= 'Z') return set_key(key, (WORD)byte, ascii);
    if (byte >= 'a' && byte <= 'z') return set_key(key, (WORD)(byte - 'a' + 'A'), ascii);
    switch (byte) {
    case '\r': case '\n': return set_key(key, VK_RETURN, '\r');
    case 0x08: case 0x7F: return set_key(key, VK_BACK, 0x08);
    case '\t': return set_key(key, VK_TAB, '\t');
    case 0x1B: return set_key(key, VK_ESCAPE, 0x1B);
    case 0x00: return set_key(key, VK_SPACE, 0);
    case ' ': return set_key(key, VK_SPACE, ' ');
    case '-': return set_key(key, VK_OEM_MINUS, ascii);
    case '.': return set_key(key, VK_OEM_PERIOD, ascii);
    case ',': return set_key(key, VK_OEM_COMMA, ascii);
    case '=': case '+': return set_key(key, VK_OEM_PLUS, ascii);
    case ';': case ':': return set_key(key, VK_OEM_1, ascii);
    case '/': case '?': return set_key(key, VK_OEM_2, ascii);
    case '`': case '~': return set_key(key, VK_OEM_3, ascii);
    case '[': case '{': return set_key(key, VK_OEM_4, ascii);
    case '\\': case '|': return set_key(key, VK_OEM_5, ascii);
    case ']': case '}': return set_key(key, VK_OEM_6, ascii);
    case '\'': case '"': return set_key(key, VK_OEM_7, ascii);
    default: break;
    }
    if (byte >= 0x01 && byte <= 0x1A) return set_key(key, (WORD)('A' + byte - 1), ascii); /* Ctrl+letter */
    set_key(key, 0, ascii); /* shifted digit keys, other controls, bytes above 0x7F */
}

int decode_input_byte(unsigned char byte, DecodedKey *key) {
    if (byte == '\r') {
        set_no_key(key);
        return 0;
    }
    key_of_byte(byte, key);
    return key->present;
}

/* A CSI sequence's key from its final byte and its first parameter. */
static void key_of_csi(unsigned char final, int first_number, int private_marker, DecodedKey *key) {
    if (private_marker) return set_no_key(key);
    switch (final) {
    case 'A': return set_key(key, VK_UP, 0);
    case 'B': return set_key(key, VK_DOWN, 0);
    case 'C': return set_key(key, VK_RIGHT, 0);
    case 'D': return set_key(key, VK_LEFT, 0);
    case 'E': return set_key(key, VK_CLEAR, 0); /* keypad 5 without Num Lock */
    case 'F': return set_key(key, VK_END, 0);
    case 'H': return set_key(key, VK_HOME, 0);
    case 'P': return set_key(key, VK_F1, 0);
    case 'Q': return set_key(key, VK_F1 + 1, 0);
    case 'R': return set_key(key, VK_F1 + 2, 0);
    case 'S': return set_key(key, VK_F1 + 3, 0);
    case 'Z': return set_key(key, VK_TAB, 0); /* Shift+Tab */
    case '~': break;
    default: return set_no_key(key);
    }
    switch (first_number) {
    case 1: case 7: return set_key(key, VK_HOME, 0);
    case 2: return set_key(key, VK_INSERT, 0);
    case 3: return set_key(key, VK_DELETE, 0);
    case 4: case 8: return set_key(key, VK_END, 0);
    case 5: return set_key(key, VK_PRIOR, 0);
    case 6: return set_key(key, VK_NEXT, 0);
    default: break;
    }
    /* F1 to F20: 11-15, 17-21, 23-26, 28-29, 31-34. */
    static const signed char function_keys[35] = {
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3, 4, -1, 5, 6, 7, 8, 9,
        -1, 10, 11, 12, 13, -1, 14, 15, -1, 16, 17, 18, 19};
    if (first_number >= 0 && first_number < 35 && function_keys[first_number] >= 0)
        return set_key(key, (WORD)(VK_F1 + function_keys[first_number]), 0);
    set_no_key(key);
}

/* An SS3 sequence (ESC O x): cursor keys, F1 to F4 and the keypad in
 * application mode. */
static void key_of_ss3(unsigned char final, DecodedKey *key) {
    switch (final) {
    case 'A': return set_key(key, VK_UP, 0);
    case 'B': return set_key(key, VK_DOWN, 0);
    case 'C': return set_key(key, VK_RIGHT, 0);
    case 'D': return set_key(key, VK_LEFT, 0);
    case 'E': return set_key(key, VK_CLEAR, 0);
    case 'F': return set_key(key, VK_END, 0);
    case 'H': return set_key(key, VK_HOME, 0);
    case 'M': return set_key(key, VK_RETURN, '\r');
    case 'P': return set_key(key, VK_F1, 0);
    case 'Q': return set_key(key, VK_F1 + 1, 0);
    case 'R': return set_key(key, VK_F1 + 2, 0);
    case 'S': return set_key(key, VK_F1 + 3, 0);
    case 'j': return set_key(key, VK_MULTIPLY, '*');
    case 'k': return set_key(key, VK_ADD, '+');
    case 'l': return set_key(key, VK_SEPARATOR, ',');
    case 'm': return set_key(key, VK_SUBTRACT, '-');
    case 'n': return set_key(key, VK_DECIMAL, '.');
    case 'o': return set_key(key, VK_DIVIDE, '/');
    default: break;
    }
    if (final >= 'p' && final <= 'y') return set_key(key, (WORD)(VK_NUMPAD0 + (final - 'p')), (char)('0' + final - 'p'));
    set_no_key(key);
}

static size_t decode_csi(KeyDecoder *decoder, const unsigned char *bytes, size_t length, int at_end, DecodedKey *key) {
    /* bytes[0..1] is ESC [ ; then parameters 0x30-0x3F, intermediates
     * 0x20-0x2F and one final byte 0x40-0x7E. */
    int first_number = 0;
    int in_first = 1;
    int private_marker = 0;
    size_t i = 2;
    for (; i < length && i < KEY_SEQUENCE_MAX; i++) {
        unsigned char byte = bytes[i];
        if (byte >= 0x40 && byte <= 0x7E) {
            key_of_csi(byte, first_number, private_marker, key);
            return i + 1;
        }
        if (byte >= 0x30 && byte <= 0x3F) {
            if (i == 2 && byte >= 0x3C) private_marker = 1;
            if (in_first && byte >= '0' && byte <= '9') {
                if (first_number < 1000) first_number = first_number * 10 + (byte - '0');
            } else {
                in_first = 0;
            }
            continue;
        }
        if (byte >= 0x20 && byte <= 0x2F) {
            in_first = 0;
            continue;
        }
        /* A byte that cannot stand in a sequence ends it unfinished: the
         * bytes before it are no key, it is decoded on its own. */
        set_no_key(key);
        return i;
    }
    if (i >= KEY_SEQUENCE_MAX) {
        /* Overlong: no key; skip the rest up to its final byte. */
        decoder->skipping = 1;
        set_no_key(key);
        return i;
    }
    if (!at_end) return 0;
    set_no_key(key); /* cut short: what came is no key */
    return length;
}

size_t decode_terminal_key(KeyDecoder *decoder, const unsigned char *bytes, size_t length, int at_end,
                           DecodedKey *key) {
    set_no_key(key);
    if (length == 0) return 0;
    if (decoder->skipping) {
        size_t i = 0;
        for (; i < length; i++) {
            unsigned char byte = bytes[i];
            if (byte >= 0x40 && byte <= 0x7E) {
                decoder->skipping = 0;
                return i + 1;
            }
            if (byte < 0x20 || byte > 0x7E) {
                decoder->skipping = 0; /* not part of the sequence after all */
                if (i == 0) break;
                return i;
            }
        }
        if (i == length) return length;
    }
    unsigned char first = bytes[0];
    if (first == 0x1B) {
        if (length == 1) {
            if (!at_end) return 0;
            set_key(key, VK_ESCAPE, 0x1B);
            return 1;
        }
        if (bytes[1] == '[') return decode_csi(decoder, bytes, length, at_end, key);
        if (bytes[1] == 'O') {
            if (length == 2) {
                if (!at_end) return 0;
                set_key(key, 'O', 'O'); /* Alt+O */
                return 2;
            }
            if (bytes[2] >= 0x40 && bytes[2] <= 0x7E) {
                key_of_ss3(bytes[2], key);
                return 3;
            }
            set_key(key, 'O', 'O');
            return 2;
        }
        /* Escape followed by anything else: the Escape key; the next byte
         * is a key of its own (an Alt+key gives Escape, then the key). */
        set_key(key, VK_ESCAPE, 0x1B);
        return 1;
    }
    if (first >= 0xC2 && first <= 0xF4) {
        /* A UTF-8 character is one key without a code. */
        size_t need = first <= 0xDF ? 2 : first <= 0xEF ? 3 : 4;
        size_t i = 1;
        for (; i < need && i < length; i++) {
            if ((bytes[i] & 0xC0) != 0x80) {
                set_key(key, 0, 0); /* a lead byte without its tail */
                return 1;
            }
        }
        if (i < need && !at_end) return 0;
        set_key(key, 0, 0);
        return i;
    }
    key_of_byte(first, key);
    return 1;
}
