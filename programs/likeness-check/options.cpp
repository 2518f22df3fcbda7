#include "likeness-check/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace likeness::check {

const char kUsage[] =
    "Usage: likeness-check [OPTION]... FIRST SECOND...   FIRST against each SECOND\n"
    "  or:  likeness-check [OPTION]... DIR1 DIR2         each image under DIR1 against DIR2's\n"
    "  or:  likeness-check [OPTION]... --pairs LIST      one pair a line, tab between (- stdin)\n"
    "Compares grey images by their mean SSIM over 8 x 8 blocks and gives each pair a verdict.\n"
    "\n"
    "  --min-mean X     a pair passes only when its mean is at least X\n"
    "  --min-block X    a pair passes only when every block scores at least X\n"
    "  --format F       text (default), json (JSON Lines) or csv\n"
    "  --junit FILE     also write a JUnit XML report to FILE\n"
    "  --maps DIR       write the block map of every pair that fails into DIR, as PNG\n"
    "  --all-maps       with --maps, a map for every compared pair\n"
    "  --jobs N         pairs compared at once (default: the processors available)\n"
    "  --luma           compare colour images by their luma instead of refusing them\n"
    "  --metric M       the SSIM to take: blocks (default), wang, wang-scaled, ffmpeg\n"
    "                   or skimage (see likeness-check(1))\n"
    "  --help           print this text and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "Exit status: 0 every pair passed, 1 some pair failed, 2 some pair could not be\n"
    "compared, or trouble.\n";

namespace {

bool parseNumber(const char* text, double* out) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value)) return false;
    *out = value;
    return true;
}

bool parseJobs(const char* text, unsigned* out) {
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    // More threads than this would only cost memory.
    if (*end != '\0' || errno != 0 || value < 1 || value > 1024) return false;
    *out = static_cast<unsigned>(value);
    return true;
}

bool parseFormat(std::string_view text, Format* out) {
    if (text == "text")
        *out = Format::kText;
    else if (text == "json")
        *out = Format::kJson;
    else if (text == "csv")
        *out = Format::kCsv;
    else
        return false;
    return true;
}

// Applies an option that takes a value; an error text when the value is bad.
std::string applyValue(std::string_view name, const char* value, Options* options) {
    double number = 0;
    if (name == "--min-mean" || name == "--min-block") {
        if (!parseNumber(value, &number)) return "not a number: '" + std::string(value) + "'";
        (name == "--min-mean" ? options->settings.thresholds.minMean
                              : options->settings.thresholds.minBlock) = number;
    } else if (name == "--format") {
        if (!parseFormat(value, &options->format))
            return "unknown format: '" + std::string(value) + "'";
    } else if (name == "--jobs") {
        if (!parseJobs(value, &options->jobs)) return "bad job count: '" + std::string(value) + "'";
    } else if (name == "--metric") {
        if (!metricNamed(value, &options->settings.metric))
            return "unknown metric: '" + std::string(value) + "'";
    } else if (name == "--junit") {
        options->junit = value;
    } else if (name == "--maps") {
        options->settings.maps = value;
    } else {
        options->pairList = true;
        options->pairs = value;
    }
    return "";
}

bool takesValue(std::string_view name) {
    for (const char* option : {"--min-mean", "--min-block", "--format", "--junit", "--maps",
                               "--jobs", "--pairs", "--metric"}) {
        if (name == option) return true;
    }
    return false;
}

// Applies a flag; false for an unknown one.
bool applyFlag(std::string_view name, Options* options) {
    if (name == "--all-maps")
        options->settings.allMaps = true;
    else if (name == "--luma")
        options->settings.luma = true;
    else if (name == "--help")
        options->help = true;
    else if (name == "--version")
        options->version = true;
    else
        return false;
    return true;
}

}  // namespace

std::string parseOptions(int argc, char** argv, Options* options) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") {
            ++i;
            break;
        }
        if (argument.size() < 2 || argument[0] != '-') break;
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        if (takesValue(name)) {
            const char* value = equals != std::string_view::npos ? argv[i] + equals + 1
                                : i + 1 < argc                   ? argv[++i]
                                                                 : nullptr;
            if (value == nullptr) return "option '" + std::string(name) + "' needs a value";
            const std::string problem = applyValue(name, value, options);
            if (!problem.empty()) return std::string(name) + ": " + problem;
        } else if (equals != std::string_view::npos || !applyFlag(name, options)) {
            return "unknown option '" + std::string(argument) + "'";
        }
    }
    options->paths.assign(argv + i, argv + argc);
    if (options->settings.allMaps && options->settings.maps.empty())
        return "--all-maps needs --maps";
    return "";
}

}  // namespace likeness::check
