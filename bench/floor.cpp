// floor read|map FIRST SECOND: adds up the bytes of both files, one thread each, and does nothing
// else: read through a small buffer that stays in the cache, or mapped. What any comparison that
// reads the files where they lie must spend at least. It takes what likeness takes to be quick
// on a virtual machine: buffers in a huge page, and the second thread sent to the other core.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr std::size_t kBuffer = std::size_t{256} << 10;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

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

std::uint64_t sumRead(int descriptor, std::uint8_t* buffer) {
    std::uint64_t total = 0;
    for (ssize_t got; (got = read(descriptor, buffer, kBuffer)) > 0;)
        total += sum(buffer, static_cast<std::size_t>(got));
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

std::uint64_t sumFile(const char* path, std::uint8_t* buffer) {
    const int descriptor = open(path, O_RDONLY);
    if (descriptor < 0) return 0;
    const std::uint64_t total = buffer ? sumRead(descriptor, buffer) : sumMapped(descriptor);
    close(descriptor);
    return total;
}

// Both threads' buffers, in a huge page.
std::uint8_t* hugePage() {
    void* mapped =
        mmap(nullptr, 2 * kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    auto* page = static_cast<std::uint8_t*>(mapped) + (-start & (kHugePage - 1));
    madvise(page, kHugePage, MADV_HUGEPAGE);
    return page;
}

void sendToAnotherCore(std::thread* thread) {
    cpu_set_t others;
    if (sched_getaffinity(0, sizeof others, &others) != 0) return;
    const int here = sched_getcpu();
    if (here >= 0) CPU_CLR(here, &others);
    if (CPU_COUNT(&others) > 0)
        pthread_setaffinity_np(thread->native_handle(), sizeof others, &others);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("floor read|map FIRST SECOND\n", stderr);
        return 1;
    }
    std::uint8_t* buffers = nullptr;
    if (std::strcmp(argv[1], "map") != 0 && (buffers = hugePage()) == nullptr) return 1;
    std::uint64_t second = 0;
    std::thread worker([&] { second = sumFile(argv[3], buffers ? buffers + kBuffer : nullptr); });
    sendToAnotherCore(&worker);
    const std::uint64_t first = sumFile(argv[2], buffers);
    worker.join();
    std::printf("%llu\n", static_cast<unsigned long long>(first + second));
    return 0;
}
