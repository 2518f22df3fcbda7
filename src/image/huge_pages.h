// Memory in the kernel's transparent huge pages, for buffers large enough that faulting them in
// 4 KiB at a time would cost more than using them: a page fault is dear, above all on a virtual
// machine. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace likeness {

// A huge page where Linux has them of this size (x86-64, arm64 with 4 KiB pages); elsewhere
// asking for them is harmless.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// A fresh mapping of zeroes that starts a huge page and is advised for them, bytes rounded up to
// whole huge pages; nullptr when memory is exhausted.
std::uint8_t* mapHugePages(std::size_t bytes);

// Releases what mapHugePages(bytes) gave.
void unmapHugePages(std::uint8_t* memory, std::size_t bytes);

}  // namespace likeness
