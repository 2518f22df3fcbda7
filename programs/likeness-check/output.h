// The records as likeness-check writes them: aligned text lines, JSON Lines or CSV, and the
// JUnit XML report.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "likeness-check/options.h"
#include "likeness-check/record.h"

namespace likeness::check {

// How many pairs passed, failed, and could not be compared.
struct Tally {
    std::size_t passed = 0;
    std::size_t failed = 0;
    std::size_t incomparable = 0;
    void count(const Record& record);
};

// The header line, if the format has one.
void writeHeader(std::FILE* out, Format format);
// One record's line.
void writeRecord(std::FILE* out, Format format, const Record& record);
// The summary line, if the format has one, naming the SSIM asked for.
void writeSummary(std::FILE* out, Format format, const Tally& tally, Metric metric);

// The JUnit XML report of every record: one test case a pair, a failure for a pair that fell
// short, an error for one that could not be compared. False when the file cannot be written.
bool writeJUnit(const std::string& path, const std::vector<Record>& records, const Tally& tally);

// The HTML report of every record, written whole into folder/index.html, which shows the pictures
// that comparePair wrote there: a summary, one row a pair (those that failed first, the lowest
// worst block first, then those not compared, then those that passed), and each failed pair's
// pictures. False when the file cannot be written.
bool writeHtml(const std::string& folder, const std::vector<Record>& records, const Tally& tally,
               const Thresholds& thresholds);

// The bytes as UTF-8: each byte that is not part of a well-formed sequence becomes U+FFFD.
std::string validUtf8(const std::string& bytes);

// Text fit for an XML or HTML attribute in double quotes, or an element: valid UTF-8 with the
// markup characters escaped and the characters XML 1.0 forbids (most control characters, U+FFFE,
// U+FFFF) replaced by U+FFFD.
std::string markupText(const std::string& bytes);

// The shortest decimal that reads back as the same double.
std::string shortestDecimal(double value);

}  // namespace likeness::check
