#include "image/huge_pages.h"

#include <sys/mman.h>

namespace likeness {

namespace {

std::size_t wholeHugePages(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

std::uint8_t* mapHugePages(std::size_t bytes) {
    const std::size_t length = wholeHugePages(bytes);
    void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    // Keep the aligned middle of the mapping and hand the rest back.
    auto* start = static_cast<std::uint8_t*>(mapped);
    const std::size_t head =
        (kHugePage - reinterpret_cast<std::uintptr_t>(start) % kHugePage) % kHugePage;
    if (head > 0) munmap(start, head);
    munmap(start + head + length, kHugePage - head);
#ifdef MADV_HUGEPAGE
    madvise(start + head, length, MADV_HUGEPAGE);
#endif
    return start + head;
}

void unmapHugePages(std::uint8_t* memory, std::size_t bytes) {
    munmap(memory, wholeHugePages(bytes));
}

}  // namespace likeness
