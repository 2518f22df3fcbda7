#include "likeness-check/output.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

namespace likeness::check {

namespace {

using Json = nlohmann::json;

std::string textOf(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// One field of a record as written: a text, a value written as it stands (a number, true or
// false), or null (no value).
struct Field {
    std::optional<std::string> value;
    bool text = false;
};

Field textField(const std::string& value) {
    return {value, true};
}

// Not a number (a pair without blocks) is null, as JSON has no such number.
Field numberField(double value) {
    return std::isnan(value) ? Field{} : Field{shortestDecimal(value)};
}

template <typename Integer>
Field integerField(Integer value) {
    return {std::to_string(value)};
}

// The CSV columns, and their names.
enum Column {
    kFirst,
    kSecond,
    kMetric,
    kSsim,
    kBlocks,
    kWorstX,
    kWorstY,
    kWorstSsim,
    kBelow,
    kPass,
    kMap,
    kError,
    kCode,
    kColumns
};
constexpr const char* kColumnNames[kColumns] = {
    "first",      "second", "metric", "ssim", "blocks", "worst_x", "worst_y",
    "worst_ssim", "below",  "pass",   "map",  "error",  "code"};

// The fields of a record, one a column; those that do not apply are null.
std::vector<Field> fieldsOf(const Record& r) {
    std::vector<Field> fields(kColumns);
    fields[kFirst] = textField(r.first);
    fields[kSecond] = textField(r.second);
    fields[kMetric] = textField(metricName(r.metric));
    fields[kPass] = {r.pass ? "true" : "false"};
    if (!r.map.empty()) fields[kMap] = textField(r.map);
    if (unreadable(r)) fields[kCode] = integerField(r.code);
    if (r.problem != Problem::kNone) {
        fields[kError] = textField(problemWords(r.problem));
        return fields;
    }
    fields[kSsim] = numberField(r.mean);
    fields[kBlocks] = integerField(r.blocks);
    fields[kBelow] = integerField(r.below);
    if (r.blocks > 0) {
        fields[kWorstX] = integerField(r.worstX);
        fields[kWorstY] = integerField(r.worstY);
        fields[kWorstSsim] = numberField(r.worst);
    }
    return fields;
}

// A field as JSON: the library escapes texts, bytes that are not UTF-8 becoming U+FFFD; numbers
// keep their shortest form, which the library's own does not always give.
std::string jsonValue(const Field& field) {
    if (!field.value) return "null";
    if (!field.text) return *field.value;
    return Json(*field.value).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Appends "key":value, after a comma unless it opens the object.
void addMember(std::string* object, const char* key, const std::string& value) {
    if (object->back() != '{') object->push_back(',');
    object->append("\"").append(key).append("\":").append(value);
}

// The CSV columns' fields under the same names, but the worst block as one object (null
// without blocks).
std::string jsonLine(const Record& r) {
    const std::vector<Field> f = fieldsOf(r);
    std::string worst = "null";
    if (f[kWorstX].value) {
        worst = "{";
        addMember(&worst, "x", jsonValue(f[kWorstX]));
        addMember(&worst, "y", jsonValue(f[kWorstY]));
        addMember(&worst, "ssim", jsonValue(f[kWorstSsim]));
        worst.push_back('}');
    }
    std::string line = "{";
    for (int column = kFirst; column < kColumns; ++column) {
        if (column == kWorstX)
            addMember(&line, "worst", worst);
        else if (column != kWorstY && column != kWorstSsim)
            addMember(&line, kColumnNames[column], jsonValue(f[column]));
    }
    return line + "}";
}

// A CSV field: quoted, with quotes doubled, when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// Null as an empty field; texts as UTF-8, as JSON has them.
std::string csvLine(const Record& r) {
    const std::vector<Field> fields = fieldsOf(r);
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        if (fields[i].value)
            line += fields[i].text ? csvField(validUtf8(*fields[i].value)) : *fields[i].value;
    }
    return line;
}

// The paths start in the same column on every line, a compared pair's or not.
void writeText(std::FILE* out, const Record& r) {
    if (r.problem != Problem::kNone) {
        std::fprintf(out, "ERROR %-45s  %s  %s\n", problemText(r).c_str(), r.first.c_str(),
                     r.second.c_str());
        return;
    }
    const std::string worst = r.blocks == 0 ? "-" : textOf("%f", r.worst);
    const std::string where =
        r.blocks == 0 ? "-" : std::to_string(r.worstX) + "," + std::to_string(r.worstY);
    std::fprintf(out, "%-5s %9s %7zu %9s %-11s %5zu  %s  %s", r.pass ? "pass" : "FAIL",
                 textOf("%f", r.mean).c_str(), r.blocks, worst.c_str(), where.c_str(), r.below,
                 r.first.c_str(), r.second.c_str());
    if (!r.map.empty()) std::fprintf(out, "  map %s", r.map.c_str());
    std::fputc('\n', out);
}

}  // namespace

void Tally::count(const Record& record) {
    if (record.problem != Problem::kNone)
        ++incomparable;
    else if (record.pass)
        ++passed;
    else
        ++failed;
}

std::string validUtf8(const std::string& bytes) {
    // The JSON library checks UTF-8 for a living; its replacing dump is read back as text.
    const std::string quoted =
        Json(bytes).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return Json::parse(quoted).get<std::string>();
}

std::string shortestDecimal(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

void writeHeader(std::FILE* out, Format format) {
    if (format == Format::kCsv) {
        for (int column = kFirst; column < kColumns; ++column)
            std::fprintf(out, "%s%s", kColumnNames[column], column == kCode ? "\r\n" : ",");
    }
    if (format == Format::kText)
        std::fprintf(out, "%-5s %9s %7s %9s %-11s %5s  %s\n", "", "ssim", "blocks", "worst",
                     "at x,y", "below", "first  second");
}

void writeRecord(std::FILE* out, Format format, const Record& record) {
    switch (format) {
        case Format::kText:
            writeText(out, record);
            break;
        case Format::kJson:
            std::fprintf(out, "%s\n", jsonLine(record).c_str());
            break;
        case Format::kCsv:
            std::fprintf(out, "%s\r\n", csvLine(record).c_str());
            break;
    }
    std::fflush(out);
}

void writeSummary(std::FILE* out, Format format, const Tally& tally, Metric metric) {
    if (format != Format::kText) return;
    std::fprintf(out, "%zu pairs: %zu passed, %zu failed, %zu not compared (metric %s)\n",
                 tally.passed + tally.failed + tally.incomparable, tally.passed, tally.failed,
                 tally.incomparable, metricName(metric));
}

}  // namespace likeness::check
