/* key_decoder.cpp -- bytes to keys: single bytes by a table, escape
 * sequences (CSI and SS3) by their final byte, control strings (DCS, OSC,
 * APC, PM, SOS) as no key, UTF-8 characters as one key without a code. A
 * sequence is followed across calls, so no byte of it is ever typed. Any
 * byte stream is taken: every call on ended input takes at least one byte
 * (unless it is empty), and nothing is written past *key. */
#include "key_decoder.h"

#include <string.h>

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

static void begin_sequence(KeyDecoder *decoder, int sequence) {
    decoder->sequence = sequence;
    decoder->parameter_bytes = 0;
    decoder->first_number = 0;
    decoder->in_first = 1;
    decoder->private_marker = 0;
}

static size_t end_sequence(KeyDecoder *decoder, size_t taken) {
    decoder->sequence = SEQUENCE_NONE;
    return taken;
}

/* CSI after ESC [: parameters 0x30-0x3F, intermediates 0x20-0x2F and one
 * final byte 0x40-0x7E; a "[" right after the introducer is the Linux
 * console's function keys. Any other byte ends the sequence unfinished
 * (no key) and is decoded on its own. */
static size_t continue_csi(KeyDecoder *decoder, const unsigned char *bytes, size_t length, DecodedKey *key) {
    for (size_t i = 0; i < length; i++) {
        unsigned char byte = bytes[i];
        if (decoder->parameter_bytes == 0 && byte == '[') {
            decoder->sequence = SEQUENCE_LINUX_FUNCTION;
            return i + 1;
        }
        if (byte >= 0x40 && byte <= 0x7E) {
            key_of_csi(byte, decoder->first_number, decoder->private_marker, key);
            return end_sequence(decoder, i + 1);
        }
        if (byte >= 0x30 && byte <= 0x3F) {
            if (decoder->parameter_bytes == 0 && byte >= 0x3C) decoder->private_marker = 1;
            if (decoder->in_first && byte >= '0' && byte <= '9') {
                if (decoder->first_number < 1000) decoder->first_number = decoder->first_number * 10 + (byte - '0');
            } else {
                decoder->in_first = 0;
            }
        } else if (byte >= 0x20 && byte <= 0x2F) {
            decoder->in_first = 0;
        } else {
            return end_sequence(decoder, i);
        }
        decoder->parameter_bytes++;
    }
    return length;
}

/* SS3 after ESC O: optional parameters (ESC O 2 P is Shift+F1), then the
 * final byte; any other byte ends it unfinished. */
static size_t continue_ss3(KeyDecoder *decoder, const unsigned char *bytes, size_t length, DecodedKey *key) {
    for (size_t i = 0; i < length; i++) {
        unsigned char byte = bytes[i];
        if (byte >= 0x40 && byte <= 0x7E) {
            key_of_ss3(byte, key);
            return end_sequence(decoder, i + 1);
        }
        if (byte < 0x30 || byte > 0x3F) return end_sequence(decoder, i);
    }
    return length;
}

/* ESC [ [ and a letter: F1 to F5 of the Linux console. */
static size_t continue_linux_function(KeyDecoder *decoder, const unsigned char *bytes, DecodedKey *key) {
    unsigned char byte = bytes[0];
    if (byte < 0x40 || byte > 0x7E) return end_sequence(decoder, 0);
    if (byte >= 'A' && byte <= 'E') set_key(key, (WORD)(VK_F1 + (byte - 'A')), 0);
    return end_sequence(decoder, 1);
}

/* A control string: everything up to ST (ESC \) or BEL; CAN and SUB
 * cancel it; an Escape followed by anything but "\" ends it and starts
 * anew. */
static size_t continue_string(KeyDecoder *decoder, const unsigned char *bytes, size_t length, int at_end) {
    for (size_t i = 0; i < length; i++) {
        unsigned char byte = bytes[i];
        if (byte == 0x07 || byte == 0x18 || byte == 0x1A) return end_sequence(decoder, i + 1);
        if (byte != 0x1B) continue;
        if (i + 1 == length) return at_end ? length : i; /* what follows the Escape decides */
        return end_sequence(decoder, bytes[i + 1] == '\\' ? i + 2 : i);
    }
    return length;
}

static size_t continue_sequence(KeyDecoder *decoder, const unsigned char *bytes, size_t length, int at_end,
                                DecodedKey *key) {
    switch (decoder->sequence) {
    case SEQUENCE_CSI: return continue_csi(decoder, bytes, length, key);
    case SEQUENCE_SS3: return continue_ss3(decoder, bytes, length, key);
    case SEQUENCE_LINUX_FUNCTION: return continue_linux_function(decoder, bytes, key);
    default: return continue_string(decoder, bytes, length, at_end);
    }
}

static int sequence_of_introducer(unsigned char byte) {
    switch (byte) {
    case '[': return SEQUENCE_CSI;
    case 'O': return SEQUENCE_SS3;
    case 'P': case ']': case '_': case '^': case 'X': return SEQUENCE_STRING;
    default: return SEQUENCE_NONE;
    }
}

static size_t decode_step(KeyDecoder *decoder, const unsigned char *bytes, size_t length, int at_end,
                          DecodedKey *key) {
    if (length == 0) return 0;
    if (decoder->sequence != SEQUENCE_NONE) {
        size_t taken = continue_sequence(decoder, bytes, length, at_end, key);
        if (taken > 0 || decoder->sequence != SEQUENCE_NONE) return taken;
        /* the sequence ended before bytes[0]: that byte is decoded below */
    }
    unsigned char first = bytes[0];
    if (first == 0x1B) {
        if (length == 1) {
            if (!at_end) return 0;
            set_key(key, VK_ESCAPE, 0x1B);
            return 1;
        }
        int sequence = sequence_of_introducer(bytes[1]);
        if (sequence != SEQUENCE_NONE) {
            begin_sequence(decoder, sequence);
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

size_t decode_terminal_key(KeyDecoder *decoder, const unsigned char *bytes, size_t length, int at_end,
                           DecodedKey *key) {
    set_no_key(key);
    size_t taken = decode_step(decoder, bytes, length, at_end, key);
    /* Silence after bytes that leave a sequence unfinished: it is dropped. */
    if (at_end && taken == length) decoder->sequence = SEQUENCE_NONE;
    return taken;
}

int key_decoder_wait_ms(const KeyDecoder *decoder, size_t held) {
    if (decoder->sequence != SEQUENCE_NONE) return SEQUENCE_WAIT_MS;
    return held > 0 ? ESCAPE_WAIT_MS : 0;
}

void key_event_records(const DecodedKey *key, INPUT_RECORD records[2]) {
    memset(records, 0, 2 * sizeof records[0]);
    for (int i = 0; i < 2; i++) {
        KEY_EVENT_RECORD *event = &records[i].Event.KeyEvent;
        records[i].EventType = KEY_EVENT;
        event->bKeyDown = i == 0;
        event->wRepeatCount = 1;
        event->wVirtualKeyCode = key->virtual_key;
        event->uChar.AsciiChar = key->ascii;
    }
}
