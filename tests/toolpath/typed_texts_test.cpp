// typed_texts_test.cpp -- the generator reads each typed text up to its
// zero and never past its 16-byte buffer, even a buffer with no zero.
#include "link/link.h"
#include "support/test_support.h"
#include "toolpath/toolpath.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

namespace {

TEST(TypedTexts, BuffersWithoutTerminatorStayWithinTheirBytes) {
    memset(&print_params, 0, sizeof print_params);
    memcpy(print_params.calibration_text, "10", 2);
    memset(print_params.temperature_text, '2', TEXT_BUFFER_BYTES);
    memset(print_params.speed_text, '7', TEXT_BUFFER_BYTES); // the record's last bytes
    std::string content = stream_through_link(
        [](HANDLE link, void *) {
            emit_start_sequence(link);
            ToolpathState state;
            set_up_toolpath_state(&state);
            emit_extrusion(&state, link);
        },
        NULL);
    EXPECT_EQ(content,
              "G90\n"
              "G1 F7777777777777777 X70.000 Y-64.000 Z10\n"
              "M106 S2222222222222222\n"
              "M109 S2222222222222222\n"
              "G1 F7777777777777777 E0.000\n");
}

TEST(TypedTexts, StartHeightFromAFullBuffer) {
    char text[TEXT_BUFFER_BYTES];
    memset(text, '1', sizeof text);
    EXPECT_EQ(start_height(text), 1111111111111111.0);
    text[0] = '-';
    EXPECT_EQ(start_height(text), -111111111111111.0);
}

} // namespace
