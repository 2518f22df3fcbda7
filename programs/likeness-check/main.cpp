// likeness-check: compares many pairs of grey images as likeness does, on several threads, and
// gives each pair a verdict, its worst block and, for CI, JSON Lines, CSV, JUnit XML, maps,
// pictures of the difference and an HTML report.
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "likeness-check/compare.h"
#include "likeness-check/options.h"
#include "likeness-check/output.h"
#include "likeness-check/pairs.h"
#include "likeness-check/progress.h"
#include "likeness-check/runner.h"

namespace {

using namespace likeness::check;

// Exit statuses, as diff and cmp use them.
constexpr int kAllPassed = 0;
constexpr int kSomeFailed = 1;
constexpr int kTrouble = 2;

int usageError(const std::string& problem) {
    std::fprintf(stderr, "likeness-check: %s\n%s", problem.c_str(), kUsage);
    return kTrouble;
}

bool isFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// The pair list named on the command line, opened; nullptr when it cannot be read as one.
std::FILE* openPairList(const std::string& name) {
    if (name == "-") return stdin;
    std::FILE* list = std::fopen(name.c_str(), "r");
    struct stat status {};
    if (list != nullptr && (fstat(fileno(list), &status) != 0 || S_ISDIR(status.st_mode))) {
        std::fclose(list);
        return nullptr;
    }
    return list;
}

// What the whole run came to, from the records and whether anything could not be written.
struct Outcome {
    Tally tally;
    std::vector<Record> records;  // kept only for the JUnit and HTML reports
    bool troubled = false;
};

// What one run is doing: its options, what it has come to, and its progress line on a terminal.
struct Run {
    const Options& options;
    Outcome outcome;
    std::optional<Progress> progress;
    bool recordsOnTerminal = false;  // standard output goes to a terminal too
};

void complain(Run* run, const std::string& message) {
    if (run->progress) run->progress->clear();
    std::fprintf(stderr, "likeness-check: %s\n", message.c_str());
}

void emit(Run* run, const Record& record) {
    Outcome& outcome = run->outcome;
    outcome.tally.count(record);
    // A record starts where the progress line stood; the line is drawn again below it.
    if (run->progress && run->recordsOnTerminal) run->progress->clear();
    writeRecord(stdout, run->options.format, record);
    for (const std::string& path : record.unwritten) {
        complain(run, "cannot write " + path);
        outcome.troubled = true;
    }
    if (!run->options.junit.empty() || !run->options.settings.html.empty())
        outcome.records.push_back(record);
    if (run->progress) run->progress->step();
}

// Writes the reports of the whole run.
void report(Run* run) {
    const Options& options = run->options;
    Outcome& outcome = run->outcome;
    if (!options.junit.empty() && !writeJUnit(options.junit, outcome.records, outcome.tally)) {
        complain(run, "cannot write " + options.junit);
        outcome.troubled = true;
    }
    const std::string& html = options.settings.html;
    if (!html.empty() &&
        !writeHtml(html, outcome.records, outcome.tally, options.settings.thresholds)) {
        complain(run, "cannot write " + html + "/index.html");
        outcome.troubled = true;
    }
}

// Runs every pair from source, total of them (0: not known), with first read once for all of
// them when given.
Outcome run(const Options& options, PairSource& source, std::size_t total, const Loaded* first) {
    Run run{options, {}, {}};
    // A terminal shows the progress; a CI log, a file or a pipe keeps only the records.
    if (isatty(fileno(stderr))) run.progress.emplace(stderr, total);
    run.recordsOnTerminal = isatty(fileno(stdout)) != 0;
    const unsigned jobs = options.jobs > 0 ? options.jobs : availableProcessors();
    writeHeader(stdout, options.format);
    runPairs(
        source, jobs,
        [&](const Pair& pair, std::size_t index) {
            return comparePair(pair, index, first, options.settings);
        },
        [&](const Record& record) { emit(&run, record); });
    if (run.progress) run.progress->clear();
    writeSummary(stdout, options.format, run.outcome.tally, options.settings.metric);
    report(&run);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) run.outcome.troubled = true;
    return std::move(run.outcome);
}

int status(const Outcome& outcome) {
    if (outcome.troubled || outcome.tally.incomparable > 0) return kTrouble;
    return outcome.tally.failed > 0 ? kSomeFailed : kAllPassed;
}

// Chooses the pairs the command line names and runs them.
int runCommandLine(const Options& options) {
    if (options.pairList) {
        if (!options.paths.empty()) return usageError("paths given with --pairs");
        std::FILE* stream = openPairList(options.pairs);
        if (stream == nullptr) return usageError("cannot read the pair list " + options.pairs);
        PairList list(stream);
        if (list.atEnd() && !list.failed()) {
            if (stream != stdin) std::fclose(stream);
            return usageError("no pairs in the pair list " + options.pairs);
        }
        Outcome outcome = run(options, list, 0, nullptr);
        if (list.failed()) {
            std::fprintf(stderr, "likeness-check: the pair list could not be read to its end\n");
            outcome.troubled = true;
        }
        if (stream != stdin) std::fclose(stream);
        return status(outcome);
    }
    if (options.paths.size() < 2) return usageError("no pairs to compare");
    const std::string& firstPath = options.paths[0];
    if (options.paths.size() == 2 && isFolder(firstPath) && isFolder(options.paths[1])) {
        std::vector<Pair> pairs = pairsInFolders(firstPath, options.paths[1]);
        if (pairs.empty())
            return usageError("no image files in " + firstPath + " or " + options.paths[1]);
        PairVector source(std::move(pairs));
        return status(run(options, source, source.size(), nullptr));
    }
    const std::vector<std::string> seconds(options.paths.begin() + 1, options.paths.end());
    PairVector source(pairsWithFirst(firstPath, seconds));
    // One pair is read as any other, both pictures at once; for several, the first is read once.
    if (seconds.size() == 1) return status(run(options, source, 1, nullptr));
    const Loaded first = loadImage(firstPath);
    return status(run(options, source, source.size(), &first));
}

// Each pair's images are freed just before the next pair's are made. By default the C library
// hands such blocks back to the system and faults them in again for the next pair, which costs
// several times the comparison itself; kept in the process, they are reused.
void keepFreedImageMemory() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

// Makes the folders the options name for the files they write; false, with the reason on
// standard error, when one cannot be made.
bool makeFolders(const Settings& settings) {
    for (const std::string* folder : {&settings.maps, &settings.diffs, &settings.html}) {
        if (folder->empty()) continue;
        std::error_code error;
        std::filesystem::create_directories(*folder, error);
        if (!isFolder(*folder)) {
            std::fprintf(stderr, "likeness-check: cannot make the folder %s\n", folder->c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const std::string problem = parseOptions(argc, argv, &options);
    if (!problem.empty()) return usageError(problem);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? kAllPassed : kTrouble;
    }
    if (options.version) {
        std::puts("likeness-check " LIKENESS_VERSION);
        return std::fflush(stdout) == 0 ? kAllPassed : kTrouble;
    }
    if (!makeFolders(options.settings)) return kTrouble;
    keepFreedImageMemory();
    // Read once for every pair; a mask that cannot be read is each pair's error.
    if (!options.mask.empty())
        options.settings.mask = std::make_shared<const Mask>(loadMask(options.mask));
    return runCommandLine(options);
}
