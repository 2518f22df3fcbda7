#include "image_file.h"

#include <cstddef>
#include <memory>
#include <new>

#include "reading.h"

namespace likeness {

namespace {

// A file is read through a buffer this large: few system calls for a large image, and a buffer
// small enough to stay in the cache while rows are copied out of it.
constexpr std::size_t kFileBuffer = std::size_t{64} << 10;

}  // namespace

int readFileWith(const char* path, Image** out, int (*read)(std::FILE*, Image**)) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return kCannotOpen;
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kFileBuffer]);
    if (buffer) std::setvbuf(file, buffer.get(), _IOFBF, kFileBuffer);
    const int result = read(file, out);
    // A folder opens for reading here, and fails at the first byte: it is no file to read.
    const bool unreadable = result == kEmptyFile && std::ferror(file);
    std::fclose(file);
    return unreadable ? kCannotOpen : result;
}

int readImageStream(std::FILE* stream, Image** out) {
    const int first = std::fgetc(stream);
    const int second = std::fgetc(stream);
    if (first == EOF || second == EOF) return kEmptyFile;
    if (first == 'B' && second == 'M') return readBMPafterSignature(stream, out);
    if (first == 0x89 && second == 'P') return readPNGafterSignature(stream, out);
    if (first == 'P' && (second == '5' || second == '2'))
        return readPGMafterMagic(stream, second == '2', out);
    return kBadHeader;
}

int readImageFile(const char* path, Image** out) {
    return readFileWith(path, out, readImageStream);
}

}  // namespace likeness
