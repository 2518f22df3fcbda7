#include "likeness/whole_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace likeness {

namespace {

// A new file beside path that no other writer has, open for writing; nullptr when none can be
// made. The name holds the process and a count, so that threads and processes writing the same
// path at once each have their own.
std::FILE* openTemporary(const std::string& path, std::string* temporary) {
    static std::atomic<unsigned long> count{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporary = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(count++);
        const int descriptor =
            open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0) {
            std::FILE* file = fdopen(descriptor, "wb");
            if (file != nullptr) return file;
            close(descriptor);
            unlink(temporary->c_str());
            return nullptr;
        }
        // A name left by a writer that was killed is passed over.
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

}  // namespace

bool writeWholeFile(const char* path, const std::function<bool(std::FILE*)>& write) {
    std::string temporary;
    std::FILE* file = openTemporary(path, &temporary);
    if (file == nullptr) return false;
    bool whole = false;
    try {
        whole = write(file) && std::fflush(file) == 0 && !std::ferror(file);
    } catch (...) {
        std::fclose(file);
        unlink(temporary.c_str());
        throw;
    }
    // A full disk often shows only when the last bytes are flushed on closing.
    whole = std::fclose(file) == 0 && whole;
    if (whole && std::rename(temporary.c_str(), path) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

}  // namespace likeness
