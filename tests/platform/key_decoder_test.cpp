// key_decoder_test.cpp -- the terminal's bytes as keys: a table of single
// bytes and escape sequences, sequences split anywhere and cut by the
// time-out, and random byte streams (fixed seed, bounded count): taken
// whole however they are cut, and typing exactly the keys that stand
// outside sequences.
#include "platform/key_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string.h>
#include <string>
#include <vector>

namespace {

struct Key {
    WORD virtual_key;
    bool operator==(const Key &other) const { return virtual_key == other.virtual_key; }
};

// Feeds bytes as the terminal layer does: into a buffer of its size, read
// by read, decoding after each; after a pause at least as long as the
// decoder's wait, once more with at_end (a lone Escape is a key, an
// unfinished sequence is dropped). Collects the codes of the keys.
struct Feeder {
    KeyDecoder decoder = {};
    unsigned char buffer[64];
    size_t held = 0;
    std::vector<WORD> keys;

    void decode(int at_end) {
        size_t done = 0;
        for (;;) {
            DecodedKey key;
            size_t taken = decode_terminal_key(&decoder, buffer + done, held - done, at_end, &key);
            if (taken == 0) break;
            ASSERT_LE(taken, held - done);
            if (key.present) keys.push_back(key.virtual_key);
            done += taken;
        }
        memmove(buffer, buffer + done, held - done);
        held -= done;
        ASSERT_LT(held, (size_t)KEY_HOLD_MAX) << "the decoder holds back only a few bytes";
        if (at_end) {
            ASSERT_EQ(held, 0u);
            ASSERT_EQ(decoder.sequence, SEQUENCE_NONE);
        }
    }
    // One arrival of bytes, then a pause of pause_ms before the next.
    void feed(const std::string &bytes, int pause_ms) {
        size_t at = 0;
        while (at < bytes.size()) {
            size_t piece = std::min(sizeof buffer - held, bytes.size() - at);
            memcpy(buffer + held, bytes.data() + at, piece);
            held += piece;
            at += piece;
            decode(0);
        }
        int wait = key_decoder_wait_ms(&decoder, held);
        if (wait > 0 && pause_ms >= wait) decode(1);
    }
};

// Decodes a whole stream that arrives at once, then the input ends.
std::vector<WORD> decode_all(const std::string &bytes) {
    Feeder feeder;
    feeder.feed(bytes, 1000000);
    return feeder.keys;
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
        {"\x1b[[A\x1b[[E", {VK_F1, VK_F1 + 4}}, // the Linux console's F1 and F5
        {"\x1bO2P\x1bO5A", {VK_F1, VK_UP}},      // SS3 with a modifier parameter
        // Control strings are no keys, whatever digits they hold.
        {"\x1b]0;title 123\x07" "4", {0x34}},      // OSC ended by BEL
        {"\x1b]11;rgb:1/2/3\x1b\\" "5", {0x35}}, // OSC ended by ST
        {"\x1bP1$r0;1m\x1b\\" "6", {0x36}},      // DCS
        {"\x1b_12\x1b\\\x1b^34\x1b\\\x1bX56\x1b\\" "7", {0x37}}, // APC, PM, SOS
        {"\x1b]12\x18" "3", {0x33}},               // CAN cancels a string
        {"\x1b]12\r\n\x1b[A", {VK_UP}},            // an Escape ends a string and starts anew
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

// A sequence is taken whole however its bytes are split in time, short of
// its time-out: the Escape that opens it must be followed within
// ESCAPE_WAIT_MS, the rest within SEQUENCE_WAIT_MS.
TEST(KeyDecoder, SplitSequencesTypeOnlyTheirKey) {
    const DecodeCase cases[] = {
        {"\x1b[5~", {VK_PRIOR}},
        {"\x1b[1;5A", {VK_UP}},
        {"\x1b[?1;2c", {}},
        {"\x1b[[B", {VK_F1 + 1}},
        {"\x1bO2Q", {VK_F1 + 1}},
        {"\x1b]0;98765\x07", {}},
        {"\x1bP+q544e\x1b\\", {}},
        {"\xe2\x82\xac", {0}},
    };
    for (const DecodeCase &c : cases) {
        for (size_t cut = 1; cut < c.bytes.size(); cut++) {
            bool escape_held = cut == 1 || c.bytes[0] != '\x1b'; // a lone Escape, or a part of a character
            int pause = escape_held ? ESCAPE_WAIT_MS - 1 : SEQUENCE_WAIT_MS - 1;
            Feeder feeder;
            feeder.feed(c.bytes.substr(0, cut), pause);
            feeder.feed(c.bytes.substr(cut) + "8", 1000000);
            std::vector<WORD> expected = c.keys;
            expected.push_back(0x38);
            EXPECT_EQ(feeder.keys, expected) << "cut after byte " << cut << " of a sequence of " << c.bytes.size();
        }
    }
}

TEST(KeyDecoder, TimeOutsDropSequencesAndMakeEscapeAKey) {
    // A lone Escape waits ESCAPE_WAIT_MS, then it is the Escape key.
    Feeder escape;
    escape.feed("\x1b", ESCAPE_WAIT_MS - 1);
    EXPECT_EQ(escape.keys, std::vector<WORD>{});
    escape.feed("", ESCAPE_WAIT_MS);
    EXPECT_EQ(escape.keys, std::vector<WORD>{VK_ESCAPE});
    // A sequence that falls silent for SEQUENCE_WAIT_MS is dropped: what
    // came of it is never typed, what follows is.
    const char *unfinished[] = {"\x1b[12;3", "\x1b[", "\x1bO2", "\x1b]0;123", "\x1b]0;123\x1b", "\x1b[["};
    for (const char *start : unfinished) {
        Feeder feeder;
        feeder.feed(start, SEQUENCE_WAIT_MS - 1);
        EXPECT_NE(feeder.decoder.sequence, SEQUENCE_NONE) << start + 1;
        feeder.feed("", SEQUENCE_WAIT_MS);
        feeder.feed("45\r", 0);
        EXPECT_EQ(feeder.keys, (std::vector<WORD>{0x34, 0x35, VK_RETURN})) << start + 1;
    }
    KeyDecoder idle = {};
    EXPECT_EQ(key_decoder_wait_ms(&idle, 0), 0);
}

TEST(KeyDecoder, CutSequencesTypeNothing) {
    // At the end of the input a cut sequence is taken whole as no key (a
    // lone Escape is the Escape key): its digits are never typed.
    EXPECT_EQ(decode_all("\x1b[12;3"), std::vector<WORD>{});
    EXPECT_EQ(decode_all("\x1b[3"), std::vector<WORD>{});
    EXPECT_EQ(decode_all("\x1bO"), std::vector<WORD>{});
    EXPECT_EQ(decode_all("\x1b"), std::vector<WORD>{VK_ESCAPE});
}

TEST(KeyDecoder, LongSequencesAreTakenWhole) {
    std::string overlong = "\x1b[" + std::string(100, '1') + "~5";
    EXPECT_EQ(decode_all(overlong), std::vector<WORD>{0x35});
    std::string overlong_params = "\x1b[" + std::string(300, ';') + "A\r";
    EXPECT_EQ(decode_all(overlong_params), (std::vector<WORD>{VK_UP, VK_RETURN}));
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
// call takes at most what it was given, the decoder never holds more than a
// few bytes, and the keys do not depend on how the stream was cut.
TEST(KeyDecoder, RandomStreamsAreTakenWhole) {
    std::mt19937 random(20260311);
    const char alphabet[] = "\x1b[O]P_\\;~0123456789-.,\r\n\x7f\x08\x07\x18" "ABCDPQRS\xc3\xa9\xe2\x82\xac\xff";
    for (int round = 0; round < 3000; round++) {
        size_t size = random() % 200;
        std::string bytes;
        for (size_t i = 0; i < size; i++) {
            if (random() % 3 == 0) bytes.push_back((char)(random() % 256));
            else bytes.push_back(alphabet[random() % (sizeof alphabet - 1)]);
        }
        std::vector<WORD> whole = decode_all(bytes);
        Feeder feeder;
        size_t at = 0;
        while (at < bytes.size()) {
            size_t piece = std::min<size_t>(1 + random() % 40, bytes.size() - at);
            feeder.feed(bytes.substr(at, piece), 0);
            at += piece;
        }
        feeder.feed("", 1000000);
        EXPECT_EQ(feeder.keys, whole);
    }
}

// The keys the entry field acts on: digits, signs and Enter.
bool is_field_key(WORD key) {
    return (key >= 0x30 && key <= 0x39) || key == VK_OEM_MINUS || key == VK_OEM_PERIOD || key == VK_OEM_COMMA ||
           key == VK_RETURN;
}

// One piece of a random stream: its bytes, whether it is a sequence, and
// the field keys it types (only plain bytes type any).
struct Token {
    std::string bytes;
    bool sequence;
    std::vector<WORD> keys;
};

Token random_token(std::mt19937 &random) {
    auto pick = [&random](const char *set) { return set[random() % strlen(set)]; };
    auto some = [&](const char *set, int most) {
        std::string text;
        for (int n = (int)(random() % (most + 1)); n > 0; n--) text.push_back(pick(set));
        return text;
    };
    const char *parameters = "0123456789;:<=>?";
    const char *string_body = "0123456789-.,;:/ abcxyzABC[]O\r\n\t\xc3\xa9";
    switch (random() % 8) {
    case 0: { // CSI: parameters, intermediates, a final byte other than "["
        char final_byte;
        do final_byte = (char)(0x40 + random() % 0x3F);
        while (final_byte == '[');
        return {"\x1b[" + some(parameters, 12) + some(" !#$%&'*+-./", 2) + final_byte, true, {}};
    }
    case 1: return {"\x1bO" + some("0123456789;", 2) + pick("ABCDFHPQRS"), true, {}}; // SS3
    case 2: return {std::string("\x1b[[") + pick("ABCDE"), true, {}};                 // Linux console
    case 3: // DCS, OSC, APC, PM, SOS, ended by BEL or ST
        return {std::string("\x1b") + pick("P]_^X") + some(string_body, 30) + (random() % 2 ? "\x07" : "\x1b\\"),
                true, {}};
    case 4: return {"\xe2\x82\xac", false, {}};
    default: { // a plain byte, most often one the field knows
        char byte = random() % 3 ? pick("0123456789-.,\r") : (char)(random() % 0x80);
        if (byte == 0x1b) byte = 'e';
        DecodedKey key;
        key.virtual_key = 0;
        if (byte != '\r') decode_input_byte((unsigned char)byte, &key);
        Token token = {std::string(1, byte), false, {}};
        if (byte == '\r' || byte == '\n') token.keys.push_back(VK_RETURN);
        else if (is_field_key(key.virtual_key)) token.keys.push_back(key.virtual_key);
        return token;
    }
    }
}

// Random streams of plain bytes, sequences and control strings, split at
// random points with random pauses (within a sequence, shorter than its
// time-out): the digits, signs and Enter presses decoded are exactly those
// of the bytes outside sequences. A lone Escape followed by a pause is the
// Escape key and types none of them.
TEST(KeyDecoder, OnlyKeysOutsideSequencesAreTyped) {
    std::mt19937 random(4242);
    const int pauses[] = {0, 0, 5, ESCAPE_WAIT_MS, 200, SEQUENCE_WAIT_MS + 500};
    for (int round = 0; round < 2000; round++) {
        Feeder feeder;
        std::vector<WORD> expected;
        std::string pending;
        int tokens = (int)(random() % 40);
        for (int t = 0; t < tokens; t++) {
            if (random() % 10 == 0) { // a lone Escape key, then a pause
                feeder.feed(pending + "\x1b", ESCAPE_WAIT_MS + (int)(random() % 2000));
                pending.clear();
                continue;
            }
            Token token = random_token(random);
            expected.insert(expected.end(), token.keys.begin(), token.keys.end());
            for (size_t i = 0; i < token.bytes.size(); i++) {
                pending.push_back(token.bytes[i]);
                if (random() % 4 != 0) continue; // no cut here
                int pause = pauses[random() % (sizeof pauses / sizeof pauses[0])];
                bool inside = token.sequence && i + 1 < token.bytes.size();
                if (inside) pause = i == 0 ? pause % ESCAPE_WAIT_MS : pause % SEQUENCE_WAIT_MS;
                feeder.feed(pending, pause);
                pending.clear();
            }
        }
        feeder.feed(pending, 1000000);
        std::vector<WORD> typed;
        for (WORD key : feeder.keys)
            if (is_field_key(key)) typed.push_back(key);
        ASSERT_EQ(typed, expected) << "round " << round;
    }
}

} // namespace
