// Builds BMP file bytes field by field, independently of the project's writer, so that a fault
// shared by reader and writer cannot hide.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_bmp {

using Bytes = std::vector<std::uint8_t>;

inline void putWORD(Bytes* out, std::uint32_t value) {
    out->push_back(static_cast<std::uint8_t>(value & 0xFF));
    out->push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
}

inline void putDWORD(Bytes* out, std::uint32_t value) {
    putWORD(out, value & 0xFFFF);
    putWORD(out, value >> 16);
}

// Every field of a file; palette and rows are taken as the raw bytes that follow the headers.
struct Layout {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t bits = 8;
    std::uint32_t headerSize = 40;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    Bytes palette;
    Bytes rows;
};

inline Bytes bmpBytes(const Layout& layout) {
    Bytes out{'B', 'M'};
    const std::uint32_t offset =
        14 + layout.headerSize + static_cast<std::uint32_t>(layout.palette.size());
    putDWORD(&out, offset + static_cast<std::uint32_t>(layout.rows.size()));
    putWORD(&out, 0);
    putWORD(&out, 0);
    putDWORD(&out, offset);
    putDWORD(&out, layout.headerSize);
    if (layout.headerSize == 12) {
        putWORD(&out, static_cast<std::uint32_t>(layout.width));
        putWORD(&out, static_cast<std::uint32_t>(layout.height));
        putWORD(&out, 1);
        putWORD(&out, layout.bits);
    } else {
        putDWORD(&out, static_cast<std::uint32_t>(layout.width));
        putDWORD(&out, static_cast<std::uint32_t>(layout.height));
        putWORD(&out, 1);
        putWORD(&out, layout.bits);
        for (std::uint32_t field : {layout.compression, 0u, 2835u, 2835u, layout.coloursUsed, 0u}) {
            putDWORD(&out, field);
        }
        out.resize(14 + layout.headerSize, 0);  // longer header versions: zero the rest
    }
    out.insert(out.end(), layout.palette.begin(), layout.palette.end());
    out.insert(out.end(), layout.rows.begin(), layout.rows.end());
    return out;
}

// 256 grey entries of 4 bytes (blue, green, red, reserved), or 3 bytes for the OS/2 header.
inline Bytes greyPalette(int entryBytes = 4) {
    Bytes out;
    for (int i = 0; i < 256; ++i) {
        for (int c = 0; c < 3; ++c) out.push_back(static_cast<std::uint8_t>(i));
        if (entryBytes == 4) out.push_back(0);
    }
    return out;
}

// Stored rows of an image given top row first: bottom row first, each padded to 4 bytes.
inline Bytes storedRows(const Bytes& pixels, int width, int height, int bytesPerPixel) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    const std::size_t stride = (rowBytes + 3) / 4 * 4;
    Bytes out;
    for (int y = height - 1; y >= 0; --y) {
        auto row = pixels.begin() + static_cast<std::ptrdiff_t>(y * rowBytes);
        out.insert(out.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
        out.resize(out.size() + stride - rowBytes, 0xEE);  // filler values must not matter
    }
    return out;
}

// An 8-bit grey file of the given grey levels, top row first.
inline Bytes greyBmp(int width, int height, const Bytes& pixels) {
    Layout layout;
    layout.width = width;
    layout.height = height;
    layout.palette = greyPalette();
    layout.rows = storedRows(pixels, width, height, 1);
    return bmpBytes(layout);
}

// A path in a fresh folder for this test program's files.
inline std::string tempPath(const std::string& name) {
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() /
                    ("likeness-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return (folder / name).string();
}

inline std::string writeFile(const std::string& name, const Bytes& bytes) {
    std::string path = tempPath(name);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return path;
}

}  // namespace testing_bmp
