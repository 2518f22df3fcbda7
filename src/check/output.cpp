#include "check/output.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

namespace likeness::check {

namespace {

using Json = nlohmann::ordered_json;

std::string textOf(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Not a number (a pair without blocks) is null, as JSON has no such number.
Json numberOrNull(double value) {
    return std::isnan(value) ? Json(nullptr) : Json(value);
}

Json jsonRecord(const Record& r) {
    const bool compared = r.problem == Problem::kNone;
    Json worst = nullptr;
    if (compared && r.blocks > 0) worst = Json{{"x", r.worstX}, {"y", r.worstY}, {"ssim", r.worst}};
    return Json{{"first", r.first},
                {"second", r.second},
                {"ssim", compared ? numberOrNull(r.mean) : Json(nullptr)},
                {"blocks", compared ? Json(r.blocks) : Json(nullptr)},
                {"worst", worst},
                {"below", compared ? Json(r.below) : Json(nullptr)},
                {"pass", r.pass},
                {"map", r.map.empty() ? Json(nullptr) : Json(r.map)},
                {"error", compared ? Json(nullptr) : Json(problemWords(r.problem))},
                {"code", unreadable(r) ? Json(r.code) : Json(nullptr)}};
}

// A CSV field: quoted, with quotes doubled, when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// The JSON record's fields in the CSV columns' order, null as an empty field.
void writeCsv(std::FILE* out, const Json& record) {
    const Json& worst = record["worst"];
    const Json none = nullptr;
    const Json flat =
        Json::array({record["first"], record["second"], record["ssim"], record["blocks"],
                     worst.is_null() ? none : worst["x"], worst.is_null() ? none : worst["y"],
                     worst.is_null() ? none : worst["ssim"], record["below"], record["pass"],
                     record["map"], record["error"], record["code"]});
    std::string line;
    for (std::size_t i = 0; i < flat.size(); ++i) {
        if (i > 0) line += ',';
        const Json& field = flat[i];
        if (field.is_string())
            line += csvField(validUtf8(field.get<std::string>()));
        else if (field.is_number_float())
            line += shortestDecimal(field.get<double>());
        else if (!field.is_null())
            line += field.dump();
    }
    std::fprintf(out, "%s\r\n", line.c_str());
}

void writeText(std::FILE* out, const Record& r) {
    if (r.problem != Problem::kNone) {
        std::fprintf(out, "ERROR %-29s %s  %s\n", problemText(r).c_str(), r.first.c_str(),
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
    if (format == Format::kCsv)
        std::fputs(
            "first,second,ssim,blocks,worst_x,worst_y,worst_ssim,below,pass,map,error,code\r\n",
            out);
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
            std::fprintf(out, "%s\n",
                         jsonRecord(record)
                             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                             .c_str());
            break;
        case Format::kCsv:
            writeCsv(out, jsonRecord(record));
            break;
    }
    std::fflush(out);
}

void writeSummary(std::FILE* out, Format format, const Tally& tally) {
    if (format != Format::kText) return;
    std::fprintf(out, "%zu pairs: %zu passed, %zu failed, %zu not compared\n",
                 tally.passed + tally.failed + tally.incomparable, tally.passed, tally.failed,
                 tally.incomparable);
}

}  // namespace likeness::check
