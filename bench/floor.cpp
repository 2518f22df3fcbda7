// floor read|map FIRST SECOND: adds up the bytes of both files, one thread each, and does nothing
// else: read through a small buffer that stays in the cache, or mapped. What any comparison that
// reads the files where they lie must spend at least.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace {

// A word at a time: the least work that still reads every byte.
std::uint64_t sum(const std::uint8_t* bytes, std::size_t count) {
    std::uint64_t total = 0;
    std::size_t i = 0;
    for (std::uint64_t word = 0; i + sizeof word <= count; i += sizeof word) {
        std::memcpy(&word, bytes + i, sizeof word);
        total += word;
    }
    for (; i < count; ++i) total += bytes[i];
    return total;
}

std::uint64_t sumRead(int descriptor) {
    constexpr std::size_t kBuffer = std::size_t{256} << 10;
    const auto buffer = std::make_unique<std::uint8_t[]>(kBuffer);
    std::uint64_t total = 0;
    for (ssize_t got; (got = read(descriptor, buffer.get(), kBuffer)) > 0;)
        total += sum(buffer.get(), static_cast<std::size_t>(got));
    return total;
}

std::uint64_t sumMapped(int descriptor) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || status.st_size == 0) return 0;
    const auto size = static_cast<std::size_t>(status.st_size);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
    if (mapped == MAP_FAILED) return 0;
    const std::uint64_t total = sum(static_cast<const std::uint8_t*>(mapped), size);
    munmap(mapped, size);
    return total;
}

std::uint64_t sumFile(const char* path, bool mapped) {
    const int descriptor = open(path, O_RDONLY);
    if (descriptor < 0) return 0;
    const std::uint64_t total = mapped ? sumMapped(descriptor) : sumRead(descriptor);
    close(descriptor);
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("floor read|map FIRST SECOND\n", stderr);
        return 1;
    }
    const bool mapped = std::strcmp(argv[1], "map") == 0;
    std::uint64_t second = 0;
    std::thread worker([&] { second = sumFile(argv[3], mapped); });
    const std::uint64_t first = sumFile(argv[2], mapped);
    worker.join();
    std::printf("%llu\n", static_cast<unsigned long long>(first + second));
    return 0;
}
