#include "likeness-check/options.h"

#include <cerrno>
#include <charconv>
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
    "A third field in a LIST line names a mask for that pair. Alpha is not read.\n"
    "\n"
    "  --min-mean X     a pair passes only when its mean is at least X\n"
    "  --min-block X    a pair passes only when every block scores at least X\n"
    "  --format F       text (default), json (JSON Lines) or csv\n"
    "  --junit FILE     also write a JUnit XML report to FILE\n"
    "  --maps DIR       write the block map of every pair that fails into DIR, as PNG\n"
    "  --diffs DIR      write a picture of the difference of every pair that fails into\n"
    "                   DIR: the second image, light grey, its failing blocks in red\n"
    "  --all-maps       with --maps or --diffs, one for every compared pair\n"
    "  --html DIR       write an HTML report, DIR/index.html, with the pictures it shows\n"
    "  --jobs N         pairs compared at once (default: the processors available)\n"
    "  --luma           compare colour images by their luma instead of refusing them\n"
    "  --colour         score colour images channel by channel, each block by its lowest\n"
    "  --ignore X,Y,W,H leave out the blocks that touch this rectangle (repeatable)\n"
    "  --mask FILE      leave out the blocks that touch a black pixel of FILE\n"
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

// One side or place of a rectangle: decimal digits alone, within an int (from_chars would take
// a minus sign).
bool parseCoordinate(std::string_view text, int* out) {
    if (text.empty() || text[0] == '-') return false;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, *out);
    return error == std::errc() && stop == end;
}

// X,Y,W,H with W and H at least 1.
bool parseRectangle(std::string_view text, Rectangle* out) {
    int values[4] = {};
    for (int& value : values) {
        const std::size_t comma = text.find(',');
        if (!parseCoordinate(text.substr(0, comma), &value)) return false;
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if ((comma == std::string_view::npos) != (&value == &values[3])) return false;
    }
    *out = {values[0], values[1], values[2], values[3]};
    return out->width > 0 && out->height > 0;
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
    } else if (name == "--ignore") {
        Rectangle rectangle;
        if (!parseRectangle(value, &rectangle))
            return "not a rectangle X,Y,W,H: '" + std::string(value) + "'";
        options->settings.ignore.push_back(rectangle);
    } else if (name == "--mask") {
        options->mask = value;
    } else if (name == "--metric") {
        if (!metricNamed(value, &options->settings.metric))
            return "unknown metric: '" + std::string(value) + "'";
    } else if (name == "--junit") {
        options->junit = value;
    } else if (name == "--maps" || name == "--diffs" || name == "--html") {
        std::string& folder = name == "--maps"    ? options->settings.maps
                              : name == "--diffs" ? options->settings.diffs
                                                  : options->settings.html;
        if (*value == '\0') return "an empty folder name";
        folder = value;
    } else {
        options->pairList = true;
        options->pairs = value;
    }
    return "";
}

bool takesValue(std::string_view name) {
    for (const char* option :
         {"--min-mean", "--min-block", "--format", "--junit", "--maps", "--diffs", "--html",
          "--jobs", "--pairs", "--ignore", "--mask", "--metric"}) {
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
    else if (name == "--colour")
        options->settings.colour = true;
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
    if (options->settings.allMaps && options->settings.maps.empty() &&
        options->settings.diffs.empty())
        return "--all-maps needs --maps or --diffs";
    if (options->settings.colour && options->settings.luma)
        return "--colour and --luma exclude each other";
    return "";
}

}  // namespace likeness::check
