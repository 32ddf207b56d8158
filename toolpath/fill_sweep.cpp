/* fill_sweep.cpp -- the serpentine fill sweep: rows along X joined by
 * steps in Y, with row ends that widen until a row passes the turn limit
 * and narrow from then on. */
#include "toolpath.h"

static void step_y_six_times(ToolpathState *state, HANDLE link, double y_step) {
    for (int i = 0; i < 6; i++) {
        state->y = state->y + y_step;
        emit_move(AXIS_Y, state->y, link);
    }
}

void serpentine_sweep(ToolpathState *state, HANDLE link, SweepDirection direction) {
    double y_step = direction == SWEEP_UP ? MOVE_STEP : -MOVE_STEP;
    state->turn_latch = 0;
    /* up: while Y < 73 strictly; down: while Y >= -64 (not strict) */
    while (direction == SWEEP_UP ? state->y < Y_TOP : state->y >= Y_BOTTOM) {
        while (state->x > state->left_bound) {
            emit_move(AXIS_X, state->x, link);
            emit_extrusion(state, link);
            state->x = state->x - MOVE_STEP;
        }
        step_y_six_times(state, link, y_step);
        while (state->x < state->right_bound) {
            emit_move(AXIS_X, state->x, link);
            emit_extrusion(state, link);
            state->x = state->x + MOVE_STEP;
        }
        step_y_six_times(state, link, y_step);
        if (state->x > TURN_LIMIT) state->turn_latch = 1;
        if (state->turn_latch) {
            state->right_bound = state->right_bound - state->bound_step;
            state->left_bound = state->left_bound + state->bound_step;
        } else {
            state->right_bound = state->right_bound + state->bound_step;
            state->left_bound = state->left_bound - state->bound_step;
        }
    }
}
