// reference_run_test.cpp -- whole runs through the real link into the real
// dagoma0.g: the reference input's landmark lines, counts and sections, the
// wall passes and fill sweeps found in it, and the other inputs.
#include "driver/driver.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A whole output file with the offset of every line.
struct RunFile {
    std::string text;
    std::vector<uint32_t> starts;

    size_t count() const { return starts.size(); }
    // Line n, counted from 1, without its "\n".
    std::string line(size_t n) const {
        size_t begin = starts[n - 1];
        size_t end = text.find('\n', begin);
        return text.substr(begin, end - begin);
    }
};

void generate(const char *calibration, const char *temperature, const char *speed, RunFile *file) {
    set_params(calibration, temperature, speed);
    std::string dir = make_temp_dir();
    char previous[4096];
    ASSERT_TRUE(getcwd(previous, sizeof previous));
    ASSERT_EQ(chdir(dir.c_str()), 0);
    EXPECT_EQ(run_transfer(GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE)), 0);
    file->text = read_file(dir + "/dagoma0.g");
    ASSERT_EQ(chdir(previous), 0);
    unlink((dir + "/dagoma0.g").c_str());
    rmdir(dir.c_str());
    file->starts.clear();
    for (size_t at = 0; at < file->text.size();) {
        file->starts.push_back((uint32_t)at);
        size_t end = file->text.find('\n', at);
        at = end == std::string::npos ? file->text.size() : end + 1;
    }
}

const RunFile &reference() {
    static RunFile file;
    if (file.text.empty()) generate("10", "210", "200", &file);
    return file;
}

// Kind of a move or extrusion line: 'E', 'X', 'Y', 'Z', or 0 for another.
char kind_of(const std::string &line, const char *speed) {
    std::string prefix = std::string("G1 F") + speed + " ";
    if (line.compare(0, prefix.size(), prefix) != 0 || line.size() <= prefix.size()) return 0;
    char letter = line[prefix.size()];
    return strchr("EXYZ", letter) ? letter : 0;
}

double value_of(const std::string &line) { return atof(line.c_str() + line.rfind(' ') + 2); }

struct KindCounts {
    long e, x, y, z, all;
};

KindCounts count_kinds(const RunFile &file, size_t first, size_t last) {
    KindCounts counts = {0, 0, 0, 0, 0};
    for (size_t n = first; n <= last; n++) {
        switch (kind_of(file.line(n), "200")) {
        case 'E': counts.e++; break;
        case 'X': counts.x++; break;
        case 'Y': counts.y++; break;
        case 'Z': counts.z++; break;
        default: break;
        }
        counts.all++;
    }
    return counts;
}

TEST(ReferenceRun, LinesBytesAndLandmarks) {
    const RunFile &file = reference();
    EXPECT_EQ(file.text.size(), 110767244u);
    ASSERT_EQ(file.count(), 6296730u);
    EXPECT_EQ(file.text.find('\r'), std::string::npos);
    EXPECT_EQ(file.text.find("-EOT-"), std::string::npos);
    EXPECT_EQ(file.text.back(), '\n');

    const struct {
        size_t line;
        const char *text;
    } landmarks[] = {
        {1, "G90"}, {2, "G1 F200 X70.000 Y-64.000 Z10"}, {3, "M106 S210"}, {4, "M109 S210"},
        {5, "G1 F200 E0.000"}, {1366, "G1 F200 X87.100"}, {1374, "G1 F200 X87.000"},
        {3654, "G1 F200 X58.500"}, {3660, "G1 F200 Y73.100"}, {3661, "G1 F200 X58.500"},
        {4831, "G1 F200 X-0.000"}, {5999, "G1 F200 X-58.400"}, {9656, "G1 F200 Y-64.000"},
        {9657, "G1 F200 X-70.000"}, {12457, "G1 F200 X70.000"}, {12458, "G1 F200 E124.520"},
        {12459, "G1 F200 Z10.100"}, {12460, "G1 F200 Z10.200"}, {12462, "G1 F200 X70.200"},
        {24914, "G1 F200 E249.060"}, {24915, "G1 F200 X70.200"}, {27717, "G1 F200 X-69.900"},
        {27719, "G1 F200 Y-63.900"}, {27724, "G1 F200 Y-63.400"}, {27725, "G1 F200 X-70.000"},
        {30523, "G1 F200 X69.900"}, {717210, "G1 F200 Y74.000"}, {717211, "G1 F200 Z10.300"},
        {717219, "G1 F200 Z11.100"}, {717220, "G1 F200 X58.800"}, {1413747, "G1 F200 Y-65.200"},
        {1413756, "G1 F200 Z12.000"}, {1413757, "G1 F200 X70.000"}, {2111628, "G1 F200 Y74.000"},
        {2111637, "G1 F200 Z12.900"}, {2808165, "G1 F200 Y-65.200"}, {2808174, "G1 F200 Z13.800"},
        {2808175, "G1 F200 E28025.760"}, {2808176, "G1 F200 X70.100"}, {2820665, "G1 F200 Z14.300"},
        {6296721, "G1 F200 E62897.260"}, {6296726, "G1 F200 Z153.800"}, {6296727, "M106 S0"},
        {6296728, "M109 S0"}, {6296729, "G92 E0.0"}, {6296730, "G28"},
    };
    for (const auto &landmark : landmarks) EXPECT_EQ(file.line(landmark.line), landmark.text) << landmark.line;
    EXPECT_EQ(file.text.find("X0.000\n"), std::string::npos);
}

TEST(ReferenceRun, SectionCountsAndKinds) {
    const RunFile &file = reference();
    const struct {
        size_t first, last;
        long e, x, y, z;
    } sections[] = {
        {5, 24914, 12454, 6970, 5484, 2},               // phase A
        {24915, 2808174, 1388834, 1388834, 5556, 36},   // phase B
        {2808175, 6296726, 1743576, 975804, 767772, 1400}, // phase C
        {5, 6296726, 3144864, 2371608, 778812, 1438},   // all moves and extrusions
    };
    for (const auto &section : sections) {
        KindCounts counts = count_kinds(file, section.first, section.last);
        EXPECT_EQ(counts.e, section.e) << section.first;
        EXPECT_EQ(counts.x, section.x) << section.first;
        EXPECT_EQ(counts.y, section.y) << section.first;
        EXPECT_EQ(counts.z, section.z) << section.first;
        EXPECT_EQ(counts.all, (long)(section.last - section.first + 1)) << section.first;
    }
    // The Z raises stand exactly where the schedule puts them.
    const size_t raise_blocks[][2] = {{12459, 12460}, {717211, 717219}, {1413748, 1413756},
                                      {2111629, 2111637}, {2808166, 2808174}, {2820661, 2820665}};
    for (const auto &block : raise_blocks)
        for (size_t n = block[0]; n <= block[1]; n++) EXPECT_EQ(kind_of(file.line(n), "200"), 'Z') << n;
    // Every extrusion shows 0.020 more than the one before, every Z 0.100 more.
    long last_e = -20, last_z = 10000;
    for (size_t n = 5; n <= 6296726; n++) {
        std::string line = file.line(n);
        char kind = kind_of(line, "200");
        long thousandths = (long)(value_of(line) * 1000 + (value_of(line) < 0 ? -0.5 : 0.5));
        if (kind == 'E') {
            ASSERT_EQ(thousandths, last_e + 20) << n;
            last_e = thousandths;
        } else if (kind == 'Z') {
            ASSERT_EQ(thousandths, last_z + 100) << n;
            last_z = thousandths;
        } else {
            ASSERT_TRUE(kind == 'X' || kind == 'Y') << n << ": " << line;
        }
    }
    EXPECT_EQ(last_e, 62897260);
    EXPECT_EQ(last_z, 153800);
}

// The shape of one wall pass read back from its lines.
struct PassShape {
    int up_steps, up_turn, cross_steps, down_steps, down_turn, back_steps;
    std::string after_up_x, after_up_y, after_down_x;
    size_t lines;
};

PassShape read_pass(const RunFile &file, size_t first, double start_x) {
    PassShape shape = {0, 0, 0, 0, 0, 0, "", "", "", 0};
    size_t n = first;
    double x = start_x;
    auto kind = [&](size_t at) { return kind_of(file.line(at), "200"); };
    auto walk = [&](int *steps, int *turn, std::string *after_x, std::string *after_y, bool up) {
        while (kind(n) == 'E' && kind(n + 1) == 'X') {
            for (int i = 0; i < 8; i++) EXPECT_EQ(kind(n + i), "EXEYEYEY"[i]) << n + i;
            double next = value_of(file.line(n + 1));
            ++*steps;
            if (*turn == 0 && (up ? next < x : next > x)) *turn = *steps;
            x = next;
            *after_x = file.line(n + 1).substr(8);
            if (after_y) *after_y = file.line(n + 7).substr(8);
            n += 8;
        }
    };
    auto cross = [&](int *steps) {
        while (kind(n) == 'X' && kind(n + 1) == 'E') {
            ++*steps;
            n += 2;
        }
    };
    walk(&shape.up_steps, &shape.up_turn, &shape.after_up_x, &shape.after_up_y, true);
    cross(&shape.cross_steps);
    x = value_of(file.line(n - 2)) - 0.1;
    walk(&shape.down_steps, &shape.down_turn, &shape.after_down_x, 0, false);
    cross(&shape.back_steps);
    shape.lines = n - first;
    return shape;
}

TEST(ReferenceRun, WallPasses) {
    const RunFile &file = reference();
    // Phase C pass k (k >= 2) starts after the first pass's 12,486 lines and
    // five raises, then 12,454 + 5 lines a pass.
    auto phase_c_pass = [](size_t k) { return 2820666 + (k - 2) * (12454 + 5); };
    const struct {
        size_t first;
        double start_x;
        int up_steps, up_turn;
        const char *after_up_x, *after_up_y;
        int cross_steps, down_steps, down_turn;
        const char *after_down_x;
        int back_steps;
        const char *next_x; // the first X line after the pass: its end X, one step on
        size_t lines;
    } passes[] = {
        {5, 70.0, 457, 172, "X58.500", "Y73.100", 1170, 457, 287, "X-70.000", 1401, "X70.200", 12454},
        {2808175, 70.0, 461, 172, "X58.100", "Y73.100", 1162, 457, 291, "X-70.400", 1409, "X70.600", 12486},
        {phase_c_pass(168), 87.1, 457, 1, "X41.400", "Y73.100", 828, 457, 0, "X-87.100", 1743, "X87.100", 12454},
        {phase_c_pass(169), 87.2, 457, 1, "X41.500", "Y73.100", 830, 457, 457, "X-87.000", 1741, "X87.000", 12454},
    };
    for (const auto &pass : passes) {
        PassShape shape = read_pass(file, pass.first, pass.start_x);
        EXPECT_EQ(shape.up_steps, pass.up_steps) << pass.first;
        EXPECT_EQ(shape.up_turn, pass.up_turn) << pass.first;
        EXPECT_EQ(shape.after_up_x, pass.after_up_x) << pass.first;
        EXPECT_EQ(shape.after_up_y, pass.after_up_y) << pass.first;
        EXPECT_EQ(shape.cross_steps, pass.cross_steps) << pass.first;
        EXPECT_EQ(shape.down_steps, pass.down_steps) << pass.first;
        EXPECT_EQ(shape.down_turn, pass.down_turn) << pass.first;
        EXPECT_EQ(shape.after_down_x, pass.after_down_x) << pass.first;
        EXPECT_EQ(shape.back_steps, pass.back_steps) << pass.first;
        EXPECT_EQ(shape.lines, pass.lines) << pass.first;
        // The pass is followed by its raises, then the next pass's first step.
        size_t next = pass.first + pass.lines;
        while (kind_of(file.line(next), "200") != 'X') next++;
        EXPECT_EQ(file.line(next).substr(8), pass.next_x) << pass.first;
    }
    // Every pass of phase C after the first writes 12,454 lines and five raises.
    for (size_t k = 2; k <= 280; k++) {
        size_t first = phase_c_pass(k);
        ASSERT_EQ(kind_of(file.line(first - 1), "200"), 'Z') << k;
        ASSERT_EQ(kind_of(file.line(first), "200"), 'E') << k;
        ASSERT_EQ(kind_of(file.line(first + 12454), "200"), 'Z') << k;
    }
}

TEST(ReferenceRun, FillSweeps) {
    const RunFile &file = reference();
    const struct {
        size_t first, last;
        bool up;
        int iterations, turn;
        const char *end_y;
        const char *next_x; // the first X line after the sweep: its end X, or one
                            // walk step on when a wall pass follows
        size_t lines;
    } sweeps[] = {
        {24915, 717210, true, 115, 44, "Y74.000", "X58.800", 692296},
        {717220, 1413747, false, 116, 73, "Y-65.200", "X70.000", 696528},
        {1413757, 2111628, true, 116, 45, "Y74.000", "X58.800", 697872},
        {2111638, 2808165, false, 116, 73, "Y-65.200", "X70.100", 696528},
    };
    for (const auto &sweep : sweeps) {
        EXPECT_EQ(sweep.last - sweep.first + 1, sweep.lines);
        int iterations = 0, turn = 0, y_run = 0;
        double previous_width = 0;
        size_t n = sweep.first;
        while (n <= sweep.last) {
            // a left row, six Y lines, a right row, six Y lines
            double right_end = 0, left_end = 0;
            for (int half = 0; half < 2; half++) {
                double last_x = 0;
                while (kind_of(file.line(n), "200") == 'X') {
                    ASSERT_EQ(kind_of(file.line(n + 1), "200"), 'E') << n;
                    last_x = value_of(file.line(n));
                    n += 2;
                }
                (half == 0 ? left_end : right_end) = last_x;
                for (y_run = 0; y_run < 6; y_run++, n++) ASSERT_EQ(kind_of(file.line(n), "200"), 'Y') << n;
            }
            iterations++;
            double width = right_end - left_end;
            if (turn == 0 && iterations > 1 && width < previous_width) turn = iterations - 1;
            previous_width = width;
        }
        EXPECT_EQ(n, sweep.last + 1);
        EXPECT_EQ(iterations, sweep.iterations) << sweep.first;
        EXPECT_EQ(turn, sweep.turn) << sweep.first;
        EXPECT_EQ(file.line(sweep.last).substr(8), sweep.end_y) << sweep.first;
        size_t next = sweep.last + 1;
        while (kind_of(file.line(next), "200") != 'X') next++;
        EXPECT_EQ(file.line(next).substr(8), sweep.next_x) << sweep.first;
    }
    // The widest rows belong to the fill: X87.300 and once per sweep.
    for (const char *widest : {" X87.300\n", " X-87.300\n"}) {
        size_t found = 0;
        for (size_t at = file.text.find(widest); at != std::string::npos; at = file.text.find(widest, at + 1)) {
            EXPECT_GT(at, file.starts[24915 - 1]) << widest;
            EXPECT_LT(at, file.starts[2808166 - 1]) << widest;
            found++;
        }
        EXPECT_EQ(found, 4u) << widest;
    }
}

// Another input writes the same lines but for its own texts and heights.
void expect_same_shape(const RunFile &other, const char *speed, const char *temperature) {
    const RunFile &file = reference();
    ASSERT_EQ(other.count(), file.count());
    std::string speed_prefix = std::string("G1 F") + speed + " ";
    EXPECT_EQ(other.line(3), std::string("M106 S") + temperature);
    EXPECT_EQ(other.line(4), std::string("M109 S") + temperature);
    for (size_t n = 5; n <= file.count() - 4; n++) {
        std::string mine = file.line(n), theirs = other.line(n);
        ASSERT_EQ(theirs.compare(0, speed_prefix.size(), speed_prefix), 0) << n;
        if (mine[8] == 'Z') ASSERT_EQ(theirs[speed_prefix.size()], 'Z') << n;
        else ASSERT_EQ(theirs.substr(speed_prefix.size()), mine.substr(8)) << n;
    }
    for (size_t n = file.count() - 3; n <= file.count(); n++) EXPECT_EQ(other.line(n), file.line(n));
}

std::vector<std::string> z_lines(const RunFile &file, size_t how_many) {
    std::vector<std::string> lines;
    for (size_t n = 5; n <= file.count() && lines.size() < how_many; n++) {
        std::string line = file.line(n);
        if (line.size() > 1 && line[line.rfind(' ') + 1] == 'Z') lines.push_back(line);
    }
    return lines;
}

TEST(OtherInputs, NegativeCalibrationAndLeadingZeroSpeed) {
    RunFile file;
    generate("-12.5", "170", "080", &file);
    EXPECT_EQ(file.line(2), "G1 F080 X70.000 Y-64.000 Z-12.5");
    EXPECT_EQ(file.line(12459), "G1 F080 Z-12.400");
    EXPECT_NE(file.text.find("G1 F080 Z-0.000\n"), std::string::npos);
    EXPECT_EQ(file.text.find("Z0.000\n"), std::string::npos);
    EXPECT_EQ(file.line(6296726), "G1 F080 Z131.300");
    expect_same_shape(file, "080", "170");
}

TEST(OtherInputs, ExactHalvesRoundToEven) {
    RunFile file;
    generate("0.0625", "210", "200", &file);
    std::vector<std::string> z = z_lines(file, 10);
    ASSERT_EQ(z.size(), 10u);
    EXPECT_EQ(z[4], "G1 F200 Z0.562");
    EXPECT_EQ(z[9], "G1 F200 Z1.062");
    expect_same_shape(file, "200", "210");
}

TEST(OtherInputs, EmptyAndLoneMinusCalibration) {
    const struct {
        const char *calibration;
        const char *second_line;
    } cases[] = {{"", "G1 F200 X70.000 Y-64.000 Z"}, {"-", "G1 F200 X70.000 Y-64.000 Z-"}};
    for (const auto &c : cases) {
        RunFile file;
        generate(c.calibration, "210", "200", &file);
        EXPECT_EQ(file.line(2), c.second_line);
        std::vector<std::string> z = z_lines(file, 2);
        ASSERT_EQ(z.size(), 2u);
        EXPECT_EQ(z[0], "G1 F200 Z0.100");
        EXPECT_EQ(z[1], "G1 F200 Z0.200");
        EXPECT_EQ(file.line(6296726), "G1 F200 Z143.800");
        expect_same_shape(file, "200", "210");
    }
}

} // namespace
