/* wall_pass.cpp -- the zigzag wall pass: a staircase up the right side,
 * a cross to the left, a staircase down, a cross back. */
#include "toolpath.h"

/* One staircase step: X by one step, then Y three times, with extrusions. */
static void walk_step(ToolpathState *state, HANDLE link, double x_step, double y_step) {
    state->x = state->x + x_step;
    emit_extrusion(state, link);
    emit_move(AXIS_X, state->x, link);
    for (int i = 0; i < 3; i++) {
        emit_extrusion(state, link);
        state->y = state->y + y_step;
        emit_move(AXIS_Y, state->y, link);
    }
}

void zigzag_pass(ToolpathState *state, HANDLE link) {
    /* up-walk: outward until a step starts beyond the limit, then inward */
    state->turn_latch = 0;
    while (state->y < Y_TOP) {
        if (state->x > TURN_LIMIT) state->turn_latch = 1;
        walk_step(state, link, state->turn_latch ? -MOVE_STEP : MOVE_STEP, MOVE_STEP);
    }

    /* cross: X is printed before it moves */
    double target = -state->x;
    while (state->x > target) {
        emit_move(AXIS_X, state->x, link);
        emit_extrusion(state, link);
        state->x = state->x - MOVE_STEP;
    }

    /* down-walk, the mirror image */
    state->turn_latch = 0;
    while (state->y > Y_BOTTOM) {
        if (state->x < -TURN_LIMIT) state->turn_latch = 1;
        walk_step(state, link, state->turn_latch ? MOVE_STEP : -MOVE_STEP, -MOVE_STEP);
    }

    /* cross back */
    target = state->x < 0 ? -state->x : state->x;
    while (state->x < target) {
        emit_move(AXIS_X, state->x, link);
        emit_extrusion(state, link);
        state->x = state->x + MOVE_STEP;
    }
}
