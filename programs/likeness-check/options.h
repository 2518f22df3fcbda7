// likeness-check's command line.
#pragma once

#include <string>
#include <vector>

#include "likeness-check/compare.h"

namespace likeness::check {

enum class Format { kText, kJson, kCsv };

struct Options {
    Settings settings;
    Format format = Format::kText;
    std::string junit;      // the JUnit report's path; none when empty
    std::string mask;       // the mask of every pair; none when empty
    unsigned jobs = 0;      // 0: the processors the program may use
    bool pairList = false;  // pairs come from the list named by pairs
    std::string pairs;      // "-" for standard input
    std::vector<std::string> paths;
    bool help = false;
    bool version = false;
};

// Reads the options, which come before the paths in any order ("--" ends them; "-" alone is a
// path). Returns what is wrong with the command line, or an empty text when nothing is.
std::string parseOptions(int argc, char** argv, Options* options);

// The usage text, --help's output.
extern const char kUsage[];

}  // namespace likeness::check
