// The JUnit XML report, in the form GitLab, Jenkins and GitHub's test reporters read.
#include <cstdio>
#include <string>

#include "likeness-check/output.h"
#include "likeness/whole_file.h"

namespace likeness::check {

namespace {

// Text fit for an XML attribute or element: valid UTF-8 with the markup characters escaped and
// the characters XML 1.0 forbids (most control characters, U+FFFE, U+FFFF) replaced by U+FFFD.
std::string xmlText(const std::string& bytes) {
    const std::string text = validUtf8(bytes);
    std::string escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (text.compare(i, 3, "\xEF\xBF\xBE") == 0 || text.compare(i, 3, "\xEF\xBF\xBF") == 0) {
            escaped += "\xEF\xBF\xBD";
            i += 2;
        } else if (c == '&')
            escaped += "&amp;";
        else if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else if (c == '"')
            escaped += "&quot;";
        // Attribute values lose raw tabs and line breaks to spaces; references keep them.
        else if (c == '\t' || c == '\n' || c == '\r')
            escaped += "&#" + std::to_string(c) + ";";
        else if (c < 0x20)
            escaped += "\xEF\xBF\xBD";
        else
            escaped += text[i];
    }
    return escaped;
}

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
                 xmlText(r.first + " vs " + r.second).c_str());
    if (r.problem != Problem::kNone) {
        std::fprintf(out, "      <error message=\"%s\" type=\"incomparable\"/>\n",
                     problemText(r).c_str());
    } else if (!r.pass) {
        std::fprintf(out, "      <failure message=\"%s\" type=\"below bound\"/>\n",
                     shortfall(r).c_str());
    }
    // GitLab shows a test case's attachment beside it.
    if (!r.map.empty())
        std::fprintf(out, "      <system-out>[[ATTACHMENT|%s]]</system-out>\n",
                     xmlText(r.map).c_str());
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
