// spng_decode FIRST SECOND: decodes both PNG files with libspng, one after the other, each into a
// buffer of the whole picture, and does nothing else. What reading a PNG pair costs a program
// that decodes the files whole: the floor the benchmark sets beside likeness on PNG pairs, as
// djpeg is on JPEG pairs.
#include <spng.h>

#include <cstdio>
#include <memory>
#include <new>

namespace {

using Context = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

// Grey files decode to 8-bit grey and the others to 8-bit RGB, the work likeness's reader asks of
// libspng for them. The buffer is left unset, as a decoder's would be: clearing it first would
// add a pass over memory to the floor.
bool decodeFile(std::FILE* file) {
    const Context context(spng_ctx_new(0), spng_ctx_free);
    spng_ihdr header{};
    if (!context || spng_set_png_file(context.get(), file) != 0 ||
        spng_get_ihdr(context.get(), &header) != 0) {
        return false;
    }
    const int format = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE ? SPNG_FMT_G8 : SPNG_FMT_RGB8;
    std::size_t size = 0;
    if (spng_decoded_image_size(context.get(), format, &size) != 0) return false;
    const std::unique_ptr<unsigned char[]> pixels(new (std::nothrow) unsigned char[size]);
    return pixels && spng_decode_image(context.get(), pixels.get(), size, format, 0) == 0;
}

bool decode(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    const bool decoded = decodeFile(file);
    std::fclose(file);
    if (!decoded) std::fprintf(stderr, "spng_decode: cannot decode %s\n", path);
    return decoded;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("spng_decode FIRST SECOND\n", stderr);
        return 1;
    }
    return decode(argv[1]) && decode(argv[2]) ? 0 : 1;
}
