/* toolpath.h -- the generator thread and the toolpath it writes: command
 * lines, the zigzag wall pass, the serpentine fill sweep and the layer
 * schedule that strings them together. */
#ifndef QUOMBAX_TOOLPATH_H
#define QUOMBAX_TOOLPATH_H

#include "../driver/quombax.h"

#define LINE_BUFFER_BYTES 255

#define MOVE_STEP 0.1
#define EXTRUSION_STEP 0.02
#define TURN_LIMIT 87.0
#define Y_TOP 73.0
#define Y_BOTTOM (-64.0)
#define BOUND_STEP 0.4

/* The generator's working record, handed from pass to sweep to pass. */
struct ToolpathState {
    double x;
    double y;
    double z;
    double e;
    double right_bound;
    double left_bound;
    double bound_step;
    int turn_latch;
};

enum Axis { AXIS_X, AXIS_Y, AXIS_Z };
enum SweepDirection { SWEEP_UP, SWEEP_DOWN };

/* Thread routine: the whole generation; 0 after a complete run, -1 when the
 * link could not be opened or broke. */
DWORD WINAPI generator_thread(LPVOID unused);

/* The start height that a calibration text gives. */
double start_height(const char *calibration_text);
void set_up_toolpath_state(ToolpathState *state);

/* Writes value as "%.3f" does; returns the number of characters. */
int format_fixed3(double value, char *out);

void emit_start_sequence(HANDLE link);
void emit_end_sequence(HANDLE link);
void emit_extrusion(ToolpathState *state, HANDLE link);
void emit_move(Axis axis, double value, HANDLE link);
void raise_z(ToolpathState *state, HANDLE link);

void zigzag_pass(ToolpathState *state, HANDLE link);
void serpentine_sweep(ToolpathState *state, HANDLE link, SweepDirection direction);
void run_layer_schedule(ToolpathState *state, HANDLE link);

#endif
