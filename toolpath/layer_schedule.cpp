/* layer_schedule.cpp -- the three phases of the object: two wall passes,
 * two fill cycles, 280 wall passes, with the Z raises between them. */
#include "toolpath.h"

static void raise_z_times(ToolpathState *state, HANDLE link, int count) {
    for (int i = 0; i < count; i++) raise_z(state, link);
}

void run_layer_schedule(ToolpathState *state, HANDLE link) {
    /* phase A: two wall passes, no raise after the second */
    zigzag_pass(state, link);
    raise_z_times(state, link, 2);
    zigzag_pass(state, link);

    /* phase B: two fill cycles */
    for (int cycle = 0; cycle < 2; cycle++) {
        serpentine_sweep(state, link, SWEEP_UP);
        raise_z_times(state, link, 9);
        serpentine_sweep(state, link, SWEEP_DOWN);
        raise_z_times(state, link, 9);
    }

    /* phase C: 280 wall passes, each followed by five raises */
    for (int pass = 0; pass < 280; pass++) {
        zigzag_pass(state, link);
        raise_z_times(state, link, 5);
    }
}
