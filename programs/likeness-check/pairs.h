// Where the pairs come from: one first file against many, two folders, or a list of pairs.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "likeness-check/record.h"

namespace likeness::check {

// Hands out the pairs in input order, one at a time, so that a long list is never held whole.
class PairSource {
  public:
    virtual ~PairSource() = default;
    // The next pair; false when there are no more.
    virtual bool next(Pair* pair) = 0;
};

// Pairs known in advance, handed out in order.
class PairVector : public PairSource {
  public:
    explicit PairVector(std::vector<Pair> pairs) : pairs_(std::move(pairs)) {}
    bool next(Pair* pair) override;
    std::size_t size() const { return pairs_.size(); }

  private:
    std::vector<Pair> pairs_;
    std::size_t next_ = 0;
};

// first against each of seconds.
std::vector<Pair> pairsWithFirst(const std::string& first, const std::vector<std::string>& seconds);

// Every image file under first (.bmp .png .pgm .jpg .jpeg in any case, in subfolders too) paired
// with the file of the same relative path under second, in bytewise order of those paths; a
// file found on one side only makes a pair that is missing the other.
std::vector<Pair> pairsInFolders(const std::string& first, const std::string& second);

// One pair a line from an open stream, the two paths separated by a tab, then optionally a second
// tab and the path of the pair's mask; a line without a tab, with an empty field, with a third tab
// or with a zero byte is a malformed line. A carriage
// return before the line end is dropped. The caller closes the stream.
class PairList : public PairSource {
  public:
    explicit PairList(std::FILE* stream) : stream_(stream) {}
    ~PairList() override;
    bool next(Pair* pair) override;
    // Whether the stream holds nothing more; waits for a byte or its end.
    bool atEnd();
    // Whether the stream failed before its end.
    bool failed() const { return std::ferror(stream_) != 0; }

  private:
    std::FILE* stream_;
    char* line_ = nullptr;
    std::size_t capacity_ = 0;
};

}  // namespace likeness::check
