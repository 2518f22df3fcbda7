// likeness-check: compares many pairs of grey images as likeness does, on several threads, and
// gives each pair a verdict, its worst block and, for CI, JSON Lines, CSV, JUnit XML and maps.
#include <malloc.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "likeness-check/compare.h"
#include "likeness-check/options.h"
#include "likeness-check/output.h"
#include "likeness-check/pairs.h"
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
    std::vector<Record> records;  // kept only for the JUnit report
    bool troubled = false;
};

void emit(const Options& options, const Record& record, Outcome* outcome) {
    outcome->tally.count(record);
    writeRecord(stdout, options.format, record);
    if (record.mapFailed) {
        std::fprintf(stderr, "likeness-check: cannot write the map of %s\n", record.second.c_str());
        outcome->troubled = true;
    }
    if (!options.junit.empty()) outcome->records.push_back(record);
}

// Runs every pair from source, with first read once for all of them when given.
Outcome run(const Options& options, PairSource& source, const Loaded* first) {
    Outcome outcome;
    const unsigned jobs = options.jobs > 0 ? options.jobs : availableProcessors();
    writeHeader(stdout, options.format);
    runPairs(
        source, jobs,
        [&](const Pair& pair, std::size_t index) {
            return comparePair(pair, index, first, options.settings);
        },
        [&](const Record& record) { emit(options, record, &outcome); });
    writeSummary(stdout, options.format, outcome.tally, options.settings.metric);
    if (!options.junit.empty() && !writeJUnit(options.junit, outcome.records, outcome.tally)) {
        std::fprintf(stderr, "likeness-check: cannot write %s\n", options.junit.c_str());
        outcome.troubled = true;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) outcome.troubled = true;
    return outcome;
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
        Outcome outcome = run(options, list, nullptr);
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
        return status(run(options, source, nullptr));
    }
    const std::vector<std::string> seconds(options.paths.begin() + 1, options.paths.end());
    PairVector source(pairsWithFirst(firstPath, seconds));
    const Loaded first = loadImage(firstPath);
    return status(run(options, source, &first));
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

bool makeMapFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return isFolder(folder);
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
    if (!options.settings.maps.empty() && !makeMapFolder(options.settings.maps)) {
        std::fprintf(stderr, "likeness-check: cannot make the folder %s\n",
                     options.settings.maps.c_str());
        return kTrouble;
    }
    keepFreedImageMemory();
    return runCommandLine(options);
}
