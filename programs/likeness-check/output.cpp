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
    kSsimR,
    kSsimG,
    kSsimB,
    kBlocks,
    kIgnored,
    kWorstX,
    kWorstY,
    kWorstSsim,
    kBelow,
    kPass,
    kMap,
    kDiff,
    kError,
    kCode,
    kColumns
};
constexpr const char* kColumnNames[kColumns] = {
    "first",   "second",  "metric",     "ssim",  "ssim_r", "ssim_g", "ssim_b", "blocks", "ignored",
    "worst_x", "worst_y", "worst_ssim", "below", "pass",   "map",    "diff",   "error",  "code"};

// The fields of a record, one a column; those that do not apply are null.
std::vector<Field> fieldsOf(const Record& r) {
    std::vector<Field> fields(kColumns);
    fields[kFirst] = textField(r.first);
    fields[kSecond] = textField(r.second);
    fields[kMetric] = textField(metricName(r.metric));
    fields[kPass] = {r.pass ? "true" : "false"};
    if (!r.map.empty()) fields[kMap] = textField(r.map);
    if (!r.diff.empty()) fields[kDiff] = textField(r.diff);
    if (unreadable(r)) fields[kCode] = integerField(r.code);
    if (r.problem != Problem::kNone) {
        fields[kError] = textField(problemWords(r.problem));
        return fields;
    }
    fields[kSsim] = numberField(r.mean);
    fields[kBlocks] = integerField(r.blocks);
    fields[kIgnored] = integerField(r.ignored);
    for (std::size_t c = 0; r.channels && c < 3; ++c)
        fields[kSsimR + c] = numberField((*r.channels)[c]);
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

// Three columns' fields as one object under the given keys; null when the first is null.
std::string jsonObject(const std::vector<Field>& f, int column, const char* const (&keys)[3]) {
    if (!f[column].value) return "null";
    std::string object = "{";
    for (int i = 0; i < 3; ++i) addMember(&object, keys[i], jsonValue(f[column + i]));
    return object + "}";
}

// The CSV columns' fields under the same names, but each channel's mean as one object, and the
// worst block as another (null without blocks).
std::string jsonLine(const Record& r) {
    const std::vector<Field> f = fieldsOf(r);
    std::string line = "{";
    for (int column = kFirst; column < kColumns; ++column) {
        if (column == kSsimR)
            addMember(&line, "channels", jsonObject(f, kSsimR, {"r", "g", "b"}));
        else if (column == kWorstX)
            addMember(&line, "worst", jsonObject(f, kWorstX, {"x", "y", "ssim"}));
        else if (column != kSsimG && column != kSsimB && column != kWorstY && column != kWorstSsim)
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
    if (!r.diff.empty()) std::fprintf(out, "  diff %s", r.diff.c_str());
    if (r.ignored > 0) std::fprintf(out, "  ignored %zu", r.ignored);
    if (r.channels) {
        std::fprintf(out, "  r %f g %f b %f", (*r.channels)[0], (*r.channels)[1], (*r.channels)[2]);
    }
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

std::string markupText(const std::string& bytes) {
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
