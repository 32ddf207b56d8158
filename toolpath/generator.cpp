/* generator.cpp -- the generator thread, its state record, the command
 * lines with their "%.3f" numbers, and the opening and closing sequences. */
#include "toolpath.h"

#include "../driver/driver.h"
#include "../link/link.h"

#include <charconv>
#include <stdlib.h>
#include <string.h>

/* The generator thread's own (there is one at a time): set once a send has
 * failed, when the link is gone and nothing more is sent; cleared when the
 * thread starts and when it ends. */
static int link_lost;

int format_fixed3(double value, char *out) {
    /* to_chars gives the correctly rounded digits of the exact value, ties
     * to even and "-0.000" for a small negative value, as "%.3f" does. */
    std::to_chars_result result = std::to_chars(out, out + 64, value, std::chars_format::fixed, 3);
    return (int)(result.ptr - out);
}

static char *append_text(char *out, const char *text) {
    while (*text) *out++ = *text++;
    return out;
}

/* A typed text: up to its zero, and never past its 16-byte buffer. */
static char *append_typed(char *out, const char *text) {
    for (int i = 0; i < TEXT_BUFFER_BYTES && text[i]; i++) *out++ = text[i];
    return out;
}

static void send_line(HANDLE link, const char *line) {
    if (link_lost) return;
    if (!send_command(link, line)) link_lost = 1;
}

/* "G1 F<speed> <letter><value>\n" into a zeroed line buffer, then sent. */
static void send_numbered_line(HANDLE link, char letter, double value) {
    char line[LINE_BUFFER_BYTES];
    memset(line, 0, sizeof line);
    char *p = append_text(line, "G1 F");
    p = append_typed(p, print_params.speed_text);
    *p++ = ' ';
    *p++ = letter;
    p += format_fixed3(value, p);
    *p = '\n';
    send_line(link, line);
}

void emit_extrusion(ToolpathState *state, HANDLE link) {
    send_numbered_line(link, 'E', state->e);
    state->e = state->e + EXTRUSION_STEP;
}

void emit_move(Axis axis, double value, HANDLE link) {
    static const char letters[] = {'X', 'Y', 'Z'};
    send_numbered_line(link, letters[axis], value);
}

void raise_z(ToolpathState *state, HANDLE link) {
    state->z = state->z + MOVE_STEP;
    emit_move(AXIS_Z, state->z, link);
}

static void send_formatted(HANDLE link, const char *first, const char *text, const char *middle,
                           const char *text2) {
    char line[LINE_BUFFER_BYTES];
    memset(line, 0, sizeof line);
    char *p = append_text(line, first);
    p = append_typed(p, text);
    if (middle) {
        p = append_text(p, middle);
        p = append_typed(p, text2);
    }
    *p = '\n';
    send_line(link, line);
}

void emit_start_sequence(HANDLE link) {
    send_line(link, "G90\n");
    send_formatted(link, "G1 F", print_params.speed_text, " X70.000 Y-64.000 Z", print_params.calibration_text);
    send_formatted(link, "M106 S", print_params.temperature_text, 0, 0);
    send_formatted(link, "M109 S", print_params.temperature_text, 0, 0);
}

void emit_end_sequence(HANDLE link) {
    send_line(link, "M106 S0\n");
    send_line(link, "M109 S0\n");
    send_line(link, "G92 E0.0\n");
    send_line(link, "G28\n");
}

double start_height(const char *calibration_text) {
    char text[TEXT_BUFFER_BYTES + 1];
    memset(text, 0, sizeof text);
    append_typed(text, calibration_text);
    if (text[0] == '-') return -atof(text + 1);
    return atof(text);
}

void set_up_toolpath_state(ToolpathState *state) {
    state->bound_step = BOUND_STEP;
    state->turn_latch = 0;
    state->right_bound = 70.0;
    state->left_bound = -70.0;
    state->y = -64.0;
    state->z = start_height(print_params.calibration_text);
    state->e = 0.0;
    state->x = state->right_bound;
}

DWORD WINAPI generator_thread(LPVOID unused) {
    (void)unused;
    HANDLE link = open_link_client();
    if (link == INVALID_HANDLE_VALUE) {
        /* "Cannot open pipe." is printed; the main thread would wait for
         * this client for ever, so the run ends here, its file removed. */
        end_run(1);
    }
    link_lost = 0;
    emit_start_sequence(link);
    ToolpathState state;
    set_up_toolpath_state(&state);
    run_layer_schedule(&state, link);
    emit_end_sequence(link);
    send_line(link, END_MARKER);
    CloseHandle(link);
    DWORD result = link_lost ? (DWORD)-1 : 0;
    link_lost = 0;
    return result;
}
