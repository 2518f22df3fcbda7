#include "likeness-check/pairs.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace likeness::check {

namespace {

namespace fs = std::filesystem;

bool isImageName(const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension == ".bmp" || extension == ".png" || extension == ".pgm" ||
           extension == ".jpg" || extension == ".jpeg";
}

// The relative paths of the image files under folder, sorted bytewise. Subfolders that cannot be
// read are passed over; links to folders are not followed, so no loop can form.
std::vector<std::string> imageFilesUnder(const std::string& folder) {
    std::vector<std::string> names;
    const std::size_t prefix = (fs::path(folder) / "").string().size();
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                        error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_directory(error) && isImageName(it->path()))
            names.push_back(it->path().string().substr(prefix));
    }
    // std::string compares as unsigned bytes, as memcmp does.
    std::sort(names.begin(), names.end());
    return names;
}

Pair folderPair(const std::string& first, const std::string& second, const std::string& name,
                Problem problem) {
    return {(fs::path(first) / name).string(), (fs::path(second) / name).string(), problem};
}

Pair malformed(std::string_view line) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return {std::string(line), "", Problem::kMalformedLine};
    return {std::string(line.substr(0, tab)), std::string(line.substr(tab + 1)),
            Problem::kMalformedLine};
}

// The texts between the tabs of a line.
std::vector<std::string_view> tabFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

}  // namespace

bool PairVector::next(Pair* pair) {
    if (next_ == pairs_.size()) return false;
    *pair = std::move(pairs_[next_++]);
    return true;
}

std::vector<Pair> pairsWithFirst(const std::string& first,
                                 const std::vector<std::string>& seconds) {
    std::vector<Pair> pairs;
    for (const std::string& second : seconds) pairs.push_back({first, second});
    return pairs;
}

std::vector<Pair> pairsInFolders(const std::string& first, const std::string& second) {
    const std::vector<std::string> left = imageFilesUnder(first);
    const std::vector<std::string> right = imageFilesUnder(second);
    std::vector<Pair> pairs;
    auto l = left.begin();
    auto r = right.begin();
    while (l != left.end() || r != right.end()) {
        if (r == right.end() || (l != left.end() && *l < *r)) {
            pairs.push_back(folderPair(first, second, *l++, Problem::kMissingSecond));
        } else if (l == left.end() || *r < *l) {
            pairs.push_back(folderPair(first, second, *r++, Problem::kMissingFirst));
        } else {
            pairs.push_back(folderPair(first, second, *l++, Problem::kNone));
            ++r;
        }
    }
    return pairs;
}

PairList::~PairList() {
    std::free(line_);
}

bool PairList::atEnd() {
    const int c = std::getc(stream_);
    return c == EOF || std::ungetc(c, stream_) == EOF;
}

bool PairList::next(Pair* pair) {
    const ssize_t read = getline(&line_, &capacity_, stream_);
    if (read < 0) return false;
    std::string_view line(line_, static_cast<std::size_t>(read));
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string_view> fields = tabFields(line);
    const bool emptyField = std::any_of(fields.begin(), fields.end(),
                                        [](std::string_view field) { return field.empty(); });
    // A zero byte would cut the path short when it is opened.
    if (fields.size() < 2 || fields.size() > 3 || emptyField ||
        line.find('\0') != std::string_view::npos) {
        *pair = malformed(line);
        return true;
    }
    *pair = {std::string(fields[0]), std::string(fields[1]), Problem::kNone,
             fields.size() == 3 ? std::string(fields[2]) : std::string()};
    return true;
}

}  // namespace likeness::check
