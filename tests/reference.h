// The plain way of comparing two files, which compare() must match bit for bit: the tests and
// the comparison's fuzzer hold the engine to it.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "likeness/engine.h"
#include "likeness/image_file.h"
#include "likeness/likeness.h"

namespace reference {

// Both files read whole with the limits, one after the other, a grey colour file taken as its
// twin (with luma, any colour file as its luma), then checkPair and meanSSIM; the block scores of
// a pair that is compared.
inline likeness::Comparison readThenCompare(const std::string& firstPath,
                                            const std::string& secondPath,
                                            const likeness::ReadLimits& limits, bool luma = false) {
    likeness::ImagePtr images[2];
    const std::string* paths[2] = {&firstPath, &secondPath};
    for (int i = 0; i < 2; ++i) {
        likeness::Image* raw = nullptr;
        const int code = likeness::readImageFile(paths[i]->c_str(), &raw, limits);
        likeness::ImagePtr owned(raw);
        if (code < 0) {
            likeness::Comparison unreadable;
            unreadable.verdict = i == 0 ? likeness::kFirstUnreadable : likeness::kSecondUnreadable;
            unreadable.readResult = code;
            return unreadable;
        }
        likeness::ImagePtr twin(luma ? likeness::createLumaImage(owned.get())
                                     : likeness::createGreyTwin(owned.get()));
        images[i] = twin ? std::move(twin) : std::move(owned);
    }
    likeness::Comparison comparison;
    comparison.verdict = likeness::checkPair(images[0].get(), images[1].get());
    comparison.firstWidth = images[0]->width;
    comparison.firstHeight = images[0]->height;
    comparison.secondWidth = images[1]->width;
    comparison.secondHeight = images[1]->height;
    if (comparison.verdict != likeness::kPairOk) return comparison;
    comparison.scores.resize(static_cast<std::size_t>(images[0]->width / likeness::kBlockSize) *
                             static_cast<std::size_t>(images[0]->height / likeness::kBlockSize));
    comparison.mean =
        likeness::meanSSIM(images[0].get(), images[1].get(), comparison.scores.data());
    return comparison;
}

// All that two comparisons of the same files must share, the mean and the scores as their bits:
// a score off in its last bit, a zero of the other sign and a different not-a-number all count.
inline auto comparedFields(const likeness::Comparison& comparison) {
    std::vector<std::uint64_t> scores;
    for (const double score : comparison.scores)
        scores.push_back(std::bit_cast<std::uint64_t>(score));
    return std::tuple{comparison.verdict,
                      comparison.readResult,
                      comparison.firstWidth,
                      comparison.firstHeight,
                      comparison.secondWidth,
                      comparison.secondHeight,
                      std::bit_cast<std::uint64_t>(comparison.mean),
                      scores};
}

}  // namespace reference
