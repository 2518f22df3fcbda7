#include "likeness/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
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

// Runs write on the open file and closes it; whether every byte was written and flushed. The
// file is closed whatever happens, also when write throws.
bool writeAndClose(std::FILE* file, const std::function<bool(std::FILE*)>& write) {
    bool written = false;
    try {
        written = write(file) && std::fflush(file) == 0 && !std::ferror(file);
    } catch (...) {
        std::fclose(file);
        throw;
    }
    // A full disk often shows only when the last bytes are flushed on closing.
    return std::fclose(file) == 0 && written;
}

// The file that path names once symbolic links are followed, so that a link is kept and its
// file replaced; path itself when nothing is there yet.
std::string resolved(const char* path) {
    char* real = realpath(path, nullptr);
    if (real == nullptr) return path;
    std::string target(real);
    std::free(real);
    return target;
}

}  // namespace

bool writeWholeFile(const char* path, const std::function<bool(std::FILE*)>& write) {
    // A device or a pipe (/dev/stdout) cannot be replaced, nor left out: it is written into.
    struct stat status {};
    if (stat(path, &status) == 0 && !S_ISREG(status.st_mode)) {
        std::FILE* file = std::fopen(path, "wb");
        return file != nullptr && writeAndClose(file, write);
    }
    const std::string target = resolved(path);
    std::string temporary;
    std::FILE* file = openTemporary(target, &temporary);
    if (file == nullptr) return false;
    bool whole = false;
    try {
        whole = writeAndClose(file, write);
    } catch (...) {
        unlink(temporary.c_str());
        throw;
    }
    if (whole && std::rename(temporary.c_str(), target.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

}  // namespace likeness
