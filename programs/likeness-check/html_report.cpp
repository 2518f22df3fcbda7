// The HTML report: one page that opens from disk, with its pictures beside it, no script or
// style from elsewhere and nothing it must fetch.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "likeness-check/difference.h"
#include "likeness-check/output.h"
#include "likeness/whole_file.h"

namespace likeness::check {

namespace {

const char kHead[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>likeness-check report</title>
<style>
body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em; color: #222; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.5em; text-align: left; vertical-align: top; }
td.number { text-align: right; font-variant-numeric: tabular-nums; }
tr.failed td.verdict { color: #b00; font-weight: bold; }
tr.incomparable td.verdict { color: #a60; font-weight: bold; }
.path { font-family: monospace; word-break: break-all; }
.views { display: flex; flex-wrap: wrap; gap: 1em; align-items: flex-start; }
figure { margin: 0; width: min(32em, 100%); }
figure img { display: block; width: 100%; image-rendering: pixelated; outline: 1px solid #ccc; }
.frame { position: relative; }
.worst { position: absolute; min-width: 6px; min-height: 6px; outline: 2px solid #d00;
  box-shadow: 0 0 0 4px rgba(255,255,255,0.7); }
button { margin-top: 0.4em; font: inherit; }
</style>
</head>
<body>
)";

// Switches each pair's view between its first and second picture, from the mouse or, as a
// button, from the keyboard (Enter, Space).
const char kScript[] = R"(<script>
for (const button of document.querySelectorAll("button.switch")) {
  button.addEventListener("click", () => {
    const figure = button.closest("figure");
    const view = figure.querySelector("img.view");
    const second = button.getAttribute("aria-pressed") !== "true";
    view.src = second ? view.dataset.second : view.dataset.first;
    view.alt = second ? "second picture" : "first picture";
    figure.querySelector(".shown").textContent = second ? "second" : "first";
    button.setAttribute("aria-pressed", second ? "true" : "false");
  });
}
</script>
)";

std::string fixed(double value) {
    if (std::isnan(value)) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

std::string bound(const std::optional<double>& value) {
    return value ? shortestDecimal(*value) : "none";
}

// The rows' groups, in the order the page shows them; each group in input order but the failed,
// the lowest worst block first (one without blocks last among them).
enum Group { kFailed, kIncomparable, kPassed };
constexpr const char* kGroupNames[] = {"failed", "incomparable", "passed"};

Group group(const Record& r) {
    return r.problem != Problem::kNone ? kIncomparable : r.pass ? kPassed : kFailed;
}

bool before(const Record& a, const Record& b) {
    if (group(a) != group(b)) return group(a) < group(b);
    if (group(a) != kFailed) return false;
    if (std::isnan(a.worst) || std::isnan(b.worst))
        return !std::isnan(a.worst) && std::isnan(b.worst);
    return a.worst < b.worst;
}

// The verdict's cell: a failure links to its pictures, when it has them.
std::string verdict(const Record& r, std::size_t number) {
    switch (group(r)) {
        case kFailed:
            return r.shown.empty() ? "FAIL"
                                   : "<a href=\"#pair-" + std::to_string(number) + "\">FAIL</a>";
        case kIncomparable:
            return "not compared";
        case kPassed:
            break;
    }
    return "pass";
}

void writeSummary(std::FILE* out, const Tally& tally, const Thresholds& thresholds) {
    std::fprintf(out,
                 "<h1>likeness-check report</h1>\n<p id=\"summary\">%zu pairs: %zu passed, %zu "
                 "failed, %zu not compared. Thresholds: mean at least %s, every block at least "
                 "%s.</p>\n",
                 tally.passed + tally.failed + tally.incomparable, tally.passed, tally.failed,
                 tally.incomparable, bound(thresholds.minMean).c_str(),
                 bound(thresholds.minBlock).c_str());
}

void writeRow(std::FILE* out, const Record& r, std::size_t number) {
    std::fprintf(out,
                 "<tr class=\"%s\"><td class=\"verdict\">%s</td><td class=\"path\">%s</td>"
                 "<td class=\"path\">%s</td>",
                 kGroupNames[group(r)], verdict(r, number).c_str(), markupText(r.first).c_str(),
                 markupText(r.second).c_str());
    if (r.problem != Problem::kNone) {
        std::fprintf(out, "<td colspan=\"5\">%s</td></tr>\n", markupText(problemText(r)).c_str());
        return;
    }
    const std::string where =
        r.blocks == 0 ? "-" : std::to_string(r.worstX) + "," + std::to_string(r.worstY);
    std::fprintf(out,
                 "<td class=\"number\">%s</td><td class=\"number\">%s</td><td>%s</td>"
                 "<td class=\"number\">%zu</td><td class=\"number\">%zu</td></tr>\n",
                 fixed(r.mean).c_str(), fixed(r.worst).c_str(), where.c_str(), r.below, r.ignored);
}

void writeTable(std::FILE* out, const std::vector<const Record*>& order) {
    std::fputs(
        "<table id=\"pairs\">\n<thead><tr><th>verdict</th><th>first</th><th>second</th>"
        "<th>mean</th><th>worst block</th><th>at x,y</th><th>blocks below</th>"
        "<th>blocks ignored</th></tr></thead>\n<tbody>\n",
        out);
    for (std::size_t i = 0; i < order.size(); ++i) writeRow(out, *order[i], i + 1);
    std::fputs("</tbody>\n</table>\n", out);
}

// A picture with its caption, a link to itself at full size: a screenshot is shown smaller.
void writeFigure(std::FILE* out, const std::string& caption, const std::string& source) {
    std::fprintf(out,
                 "<figure><figcaption>%s</figcaption><a href=\"%s\"><img src=\"%s\" "
                 "alt=\"%s\"></a></figure>\n",
                 caption.c_str(), source.c_str(), source.c_str(), caption.c_str());
}

// The view that switches between the first and second picture, with the worst block marked
// where it lies, in parts of the picture's sides so that it follows the picture's scale.
void writeSwitch(std::FILE* out, const Record& r) {
    char place[160];
    std::snprintf(place, sizeof place, "left:%.4f%%;top:%.4f%%;width:%.4f%%;height:%.4f%%",
                  100.0 * r.worstX / r.width, 100.0 * r.worstY / r.height,
                  100.0 * r.windowSize / r.width, 100.0 * r.windowSize / r.height);
    const std::string first = r.shown + "-first.png";
    const std::string second = r.shown + "-second.png";
    const std::string figure =
        "<figure class=\"switched\"><figcaption>showing <span class=\"shown\">first</span>, "
        "worst block marked</figcaption><div class=\"frame\"><img class=\"view\" src=\"" +
        first + "\" data-first=\"" + first + "\" data-second=\"" + second +
        "\" alt=\"first picture\"><div class=\"worst\" style=\"" + place +
        "\"></div></div><button type=\"button\" class=\"switch\" aria-pressed=\"false\">"
        "first / second</button></figure>\n";
    std::fputs(figure.c_str(), out);
}

void writePictures(std::FILE* out, const Record& r, std::size_t number) {
    std::fprintf(out,
                 "<section class=\"pair\" id=\"pair-%zu\">\n<h3><span class=\"path\">%s</span>"
                 " against <span class=\"path\">%s</span></h3>\n<div class=\"views\">\n",
                 number, markupText(r.first).c_str(), markupText(r.second).c_str());
    writeFigure(out, "first", r.shown + "-first.png");
    writeFigure(out, "second", r.shown + "-second.png");
    writeFigure(out, "difference", r.shown + "-diff.png");
    writeSwitch(out, r);
    std::fputs("</div>\n</section>\n", out);
}

}  // namespace

bool writeHtml(const std::string& folder, const std::vector<Record>& records, const Tally& tally,
               const Thresholds& thresholds) {
    std::vector<const Record*> order;
    for (const Record& record : records) order.push_back(&record);
    std::stable_sort(order.begin(), order.end(),
                     [](const Record* a, const Record* b) { return before(*a, *b); });
    const std::string path = folder + "/index.html";
    return writeWholeFile(path.c_str(), [&](std::FILE* out) {
        std::fputs(kHead, out);
        writeSummary(out, tally, thresholds);
        writeTable(out, order);
        if (tally.failed > 0) std::fputs("<h2>Pairs that failed</h2>\n", out);
        for (std::size_t i = 0; i < order.size(); ++i)
            if (group(*order[i]) == kFailed && !order[i]->shown.empty())
                writePictures(out, *order[i], i + 1);
        std::fputs(kScript, out);
        return std::fputs("</body>\n</html>\n", out) >= 0;
    });
}

}  // namespace likeness::check
