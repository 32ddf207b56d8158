// key_decoder_test.cpp -- the terminal's bytes as keys: a table of single
// bytes and escape sequences, cut sequences, and random byte streams
// (fixed seed, bounded count) that must always be taken whole.
#include "platform/key_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct Key {
    WORD virtual_key;
    bool operator==(const Key &other) const { return virtual_key == other.virtual_key; }
};

// Decodes a whole stream as the terminal layer does when the input has
// ended: returns the codes of the keys (no-key sequences left out).
std::vector<WORD> decode_all(const std::string &bytes, bool at_end = true) {
    std::vector<WORD> keys;
    KeyDecoder decoder = {};
    size_t at = 0;
    while (at < bytes.size()) {
        size_t left = bytes.size() - at;
        size_t length = left < KEY_SEQUENCE_MAX ? left : KEY_SEQUENCE_MAX;
        DecodedKey key;
        size_t taken = decode_terminal_key(&decoder, (const unsigned char *)bytes.data() + at, length,
                                           at_end || length == KEY_SEQUENCE_MAX, &key);
        if (taken == 0) break;
        EXPECT_LE(taken, length);
        if (key.present) keys.push_back(key.virtual_key);
        at += taken;
    }
    return keys;
}

struct DecodeCase {
    std::string bytes;
    std::vector<WORD> keys;
};

TEST(KeyDecoder, Table) {
    const DecodeCase cases[] = {
        {"0123456789", {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39}},
        {"-.,", {VK_OEM_MINUS, VK_OEM_PERIOD, VK_OEM_COMMA}},
        {"\r", {VK_RETURN}},
        {"\n", {VK_RETURN}},
        {"\x7f", {VK_BACK}},
        {"\x08", {VK_BACK}},
        {"\x1b[3~", {VK_DELETE}},
        {"\x1b", {VK_ESCAPE}},
        {"\x1b[A\x1b[B\x1b[C\x1b[D", {VK_UP, VK_DOWN, VK_RIGHT, VK_LEFT}},
        {"\x1bOA\x1bOD", {VK_UP, VK_LEFT}},
        {"\x1b[H\x1b[F\x1b[1~\x1b[4~", {VK_HOME, VK_END, VK_HOME, VK_END}},
        {"\x1b[2~\x1b[5~\x1b[6~", {VK_INSERT, VK_PRIOR, VK_NEXT}},
        {"\x1bOP\x1bOQ\x1bOR\x1bOS", {VK_F1, VK_F1 + 1, VK_F1 + 2, VK_F1 + 3}},
        {"\x1b[15~\x1b[17~\x1b[24~", {VK_F1 + 4, VK_F1 + 5, VK_F1 + 11}},
        {"\x1b[1;5A", {VK_UP}},          // Ctrl+Up
        {"\x1b[3;2~", {VK_DELETE}},      // Shift+Delete
        {"aZ", {'A', 'Z'}},
        {"\t ", {VK_TAB, VK_SPACE}},
        {"\x1bOp\x1bOy\x1bOm\x1bOn\x1bOM", {VK_NUMPAD0, VK_NUMPAD0 + 9, VK_SUBTRACT, VK_DECIMAL, VK_RETURN}},
        {"\x1bx", {VK_ESCAPE, 'X'}},     // Alt+x
        {"\x1b\x1b[A", {VK_ESCAPE, VK_UP}},
        {"\x1b[?1;2c5", {5 + 0x30}},      // a terminal's answer is no key
        {"\x1b[200~7\x1b[201~", {0x37}}, // bracketed paste marks are no keys
        {"\xc3\xa9" "1", {0, 0x31}},      // UTF-8 "e acute": one key without a code
        {"\xe2\x82\xac", {0}},            // a three-byte character
        {"\xff\x80" "2", {0, 0, 0x32}},   // invalid UTF-8: a key without a code per byte
        {std::string("\0", 1), {VK_SPACE}},
        {"!@#%_<>", {0, 0, 0, 0, 0, 0, 0}}, // shifted characters store nothing
    };
    for (const DecodeCase &c : cases) EXPECT_EQ(decode_all(c.bytes), c.keys) << "bytes of size " << c.bytes.size();
}

TEST(KeyDecoder, FieldKeysCarryNoEffectInLettersOrFunctionKeys) {
    const char *no_effect[] = {"\x1b", "\x1b[A", "\x1b[B", "\x1bOP", "\x1b[21~", "q", "Q", " "};
    const WORD field_keys[] = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, VK_NUMPAD0,
                               VK_SUBTRACT, VK_OEM_MINUS, VK_DECIMAL, VK_OEM_COMMA, VK_OEM_PERIOD, VK_CANCEL,
                               VK_BACK, VK_DELETE, VK_OEM_RESET, VK_OEM_CLEAR, VK_RETURN};
    for (const char *bytes : no_effect)
        for (WORD key : decode_all(bytes))
            for (WORD field_key : field_keys) EXPECT_NE(key, field_key) << bytes;
}

TEST(KeyDecoder, WaitsForTheRestOfASequence) {
    const char *prefixes[] = {"\x1b", "\x1b[", "\x1b[3", "\x1b[1;5", "\x1bO", "\xe2\x82"};
    for (const char *prefix : prefixes) {
        KeyDecoder decoder = {};
        DecodedKey key;
        EXPECT_EQ(decode_terminal_key(&decoder, (const unsigned char *)prefix, strlen(prefix), 0, &key), 0u)
            << prefix + 1;
    }
}

TEST(KeyDecoder, CutSequencesTypeNothing) {
    // At the end of the input a cut sequence is taken whole as no key (a
    // lone Escape is the Escape key): its digits are never typed.
    EXPECT_EQ(decode_all("\x1b[12;3"), std::vector<WORD>{});
    EXPECT_EQ(decode_all("\x1b[3"), std::vector<WORD>{});
    EXPECT_EQ(decode_all("\x1bO"), std::vector<WORD>{'O'});
    EXPECT_EQ(decode_all("\x1b"), std::vector<WORD>{VK_ESCAPE});
}

TEST(KeyDecoder, OverlongSequencesAreSkippedWhole) {
    std::string overlong = "\x1b[" + std::string(100, '1') + "~5";
    EXPECT_EQ(decode_all(overlong), std::vector<WORD>{0x35});
    std::string overlong_params = "\x1b[" + std::string(300, ';') + "A\r";
    EXPECT_EQ(decode_all(overlong_params), std::vector<WORD>{VK_RETURN});
}

TEST(KeyDecoder, PipedBytes) {
    DecodedKey key;
    EXPECT_EQ(decode_input_byte('\n', &key), 1);
    EXPECT_EQ(key.virtual_key, VK_RETURN);
    EXPECT_EQ(decode_input_byte('\r', &key), 0);
    EXPECT_EQ(decode_input_byte('7', &key), 1);
    EXPECT_EQ(key.virtual_key, 0x37);
    EXPECT_EQ(decode_input_byte('-', &key), 1);
    EXPECT_EQ(key.virtual_key, VK_OEM_MINUS);
    EXPECT_EQ(decode_input_byte(0x1b, &key), 1);
    EXPECT_EQ(key.virtual_key, VK_ESCAPE);
    // No byte gives a cancel key by its value (0xE9 and 0xFE are bytes, not keys).
    for (int byte = 0x80; byte <= 0xFF; byte++) {
        EXPECT_EQ(decode_input_byte((unsigned char)byte, &key), 1);
        EXPECT_EQ(key.virtual_key, 0) << byte;
    }
}

// Random streams, fed in random pieces as a terminal delivers them: every
// call takes at most what it was given, progress is always made once the
// input is complete, and the keys do not depend on how the stream was cut.
TEST(KeyDecoder, RandomStreamsAreTakenWhole) {
    std::mt19937 random(20260311);
    const char alphabet[] = "\x1b[O;~0123456789-.,\r\n\x7f\x08" "ABCDPQRS\xc3\xa9\xe2\x82\xac\xff";
    for (int round = 0; round < 3000; round++) {
        size_t size = random() % 200;
        std::string bytes;
        for (size_t i = 0; i < size; i++) {
            if (random() % 3 == 0) bytes.push_back((char)(random() % 256));
            else bytes.push_back(alphabet[random() % (sizeof alphabet - 1)]);
        }
        std::vector<WORD> whole = decode_all(bytes);

        // The same stream through a buffer of the layer's size, in pieces.
        KeyDecoder decoder = {};
        unsigned char buffer[2 * KEY_SEQUENCE_MAX];
        size_t held = 0;
        size_t at = 0;
        std::vector<WORD> pieces;
        while (at < bytes.size() || held > 0) {
            size_t room = sizeof buffer - held;
            size_t piece = at < bytes.size() ? 1 + random() % 40 : 0;
            if (piece > room) piece = room;
            if (piece > bytes.size() - at) piece = bytes.size() - at;
            memcpy(buffer + held, bytes.data() + at, piece);
            held += piece;
            at += piece;
            int at_end = at == bytes.size();
            size_t done = 0;
            for (;;) {
                DecodedKey key;
                size_t taken = decode_terminal_key(&decoder, buffer + done, held - done, at_end, &key);
                if (taken == 0) break;
                ASSERT_LE(taken, held - done);
                if (key.present) pieces.push_back(key.virtual_key);
                done += taken;
                if (done == held) break;
            }
            memmove(buffer, buffer + done, held - done);
            held -= done;
            ASSERT_LT(held, (size_t)KEY_SEQUENCE_MAX) << "the buffer must never fill";
            if (at_end) {
                ASSERT_EQ(held, 0u);
            }
        }
        // However the stream was cut, the keys are the same.
        EXPECT_EQ(pieces, whole);
    }
}

} // namespace
