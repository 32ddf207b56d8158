// test_text.h -- small helpers that the POSIX and the Windows tests share:
// reading a file whole, splitting text into lines, setting the typed texts.
#ifndef QUOMBAX_TEST_TEXT_H
#define QUOMBAX_TEST_TEXT_H

#include <string>
#include <vector>

std::string read_file(const std::string &path);
std::vector<std::string> split_lines(const std::string &text);
void set_params(const char *calibration, const char *temperature, const char *speed);

#endif
