/* progress.cpp -- the live line on row 13 and the bar of "=" marks with
 * its percentage on row 14, drawn while dagoma0.g is written. */
#include "link.h"

#include "../console/console.h"

#include <stdio.h>

#define LIVE_LINE_COLUMN 22
#define LIVE_LINE_ROW 13
#define BAR_ROW 14
#define BAR_FIRST_COLUMN 23
#define PERCENT_COLUMN 106

void reset_progress(ProgressBar *bar, HANDLE output) {
    bar->next_column = BAR_FIRST_COLUMN;
    bar->percent = 0.0;
    bar->output = output;
}

void advance_progress(ProgressBar *bar, uint64_t message_count) {
    double threshold = (double)(EXPECTED_MESSAGES / 100) * bar->percent;
    if (!((double)message_count > threshold)) return;
    write_at(bar->output, bar->next_column, BAR_ROW, "=", 1);
    bar->next_column++;
    bar->percent = bar->percent + PERCENT_STEP;
    char text[16];
    int length = snprintf(text, sizeof text, "  %d %%", (int)bar->percent);
    write_at(bar->output, PERCENT_COLUMN, BAR_ROW, text, (DWORD)length);
}

void show_live_line(ProgressBar *bar, char *buffer, DWORD n) {
    if (n >= 1) buffer[n - 1] = ' ';
    write_at(bar->output, LIVE_LINE_COLUMN, LIVE_LINE_ROW, buffer, MAX_MESSAGE_BYTES);
}

void close_progress_bar(ProgressBar *bar) {
    write_at(bar->output, bar->next_column, BAR_ROW, "|", 1);
}
