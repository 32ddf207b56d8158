// transfer.cpp -- times the whole transfer of the reference input: the
// generator thread, the link, the receive loop and dagoma0.g, in the
// current directory. Prints seconds and the peak resident memory.
#include "driver/driver.h"

#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

int main() {
    strcpy(print_params.calibration_text, "10");
    strcpy(print_params.temperature_text, "210");
    strcpy(print_params.speed_text, "200");
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    run_transfer(GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE));
    clock_gettime(CLOCK_MONOTONIC, &end);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("transfer_seconds %.3f\npeak_rss_kib %ld\n",
           (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9, usage.ru_maxrss);
    return 0;
}
