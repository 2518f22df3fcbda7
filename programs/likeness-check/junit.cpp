// The JUnit XML report, in the form GitLab, Jenkins and GitHub's test reporters read.
#include <cstdio>
#include <string>

#include "likeness-check/output.h"
#include "likeness/whole_file.h"

namespace likeness::check {

namespace {

// Why a compared pair fell short, in one line.
std::string shortfall(const Record& r) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "mean %f, %zu of %zu blocks below the bound, worst %f at %d,%d", r.mean, r.below,
                  r.blocks, r.worst, r.worstX, r.worstY);
    return text;
}

void writeCase(std::FILE* out, const Record& r) {
    std::fprintf(out, "    <testcase classname=\"likeness-check\" name=\"%s\">\n",
                 markupText(r.first + " vs " + r.second).c_str());
    if (r.problem != Problem::kNone) {
        std::fprintf(out, "      <error message=\"%s\" type=\"incomparable\"/>\n",
                     problemText(r).c_str());
    } else if (!r.pass) {
        std::fprintf(out, "      <failure message=\"%s\" type=\"below bound\"/>\n",
                     shortfall(r).c_str());
    }
    // GitLab shows a test case's attachment beside it: the difference picture, which a reviewer
    // reads at a glance, else the map.
    const std::string& attached = r.diff.empty() ? r.map : r.diff;
    if (!attached.empty())
        std::fprintf(out, "      <system-out>[[ATTACHMENT|%s]]</system-out>\n",
                     markupText(attached).c_str());
    std::fputs("    </testcase>\n", out);
}

}  // namespace

bool writeJUnit(const std::string& path, const std::vector<Record>& records, const Tally& tally) {
    return writeWholeFile(path.c_str(), [&](std::FILE* out) {
        const std::size_t tests = tally.passed + tally.failed + tally.incomparable;
        std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", out);
        std::fprintf(out, "<testsuites tests=\"%zu\" failures=\"%zu\" errors=\"%zu\">\n", tests,
                     tally.failed, tally.incomparable);
        std::fprintf(out,
                     "  <testsuite name=\"likeness-check\" tests=\"%zu\" failures=\"%zu\" "
                     "errors=\"%zu\">\n",
                     tests, tally.failed, tally.incomparable);
        for (const Record& record : records) writeCase(out, record);
        return std::fputs("  </testsuite>\n</testsuites>\n", out) >= 0;
    });
}

}  // namespace likeness::check
