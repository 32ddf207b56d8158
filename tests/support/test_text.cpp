// test_text.cpp -- small helpers that the POSIX and the Windows tests share.
#include "test_text.h"

#include "driver/quombax.h"

#include <fstream>
#include <sstream>
#include <string.h>

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void set_params(const char *calibration, const char *temperature, const char *speed) {
    memset(&print_params, 0, sizeof print_params);
    strncpy(print_params.calibration_text, calibration, TEXT_BUFFER_BYTES - 1);
    strncpy(print_params.temperature_text, temperature, TEXT_BUFFER_BYTES - 1);
    strncpy(print_params.speed_text, speed, TEXT_BUFFER_BYTES - 1);
}
