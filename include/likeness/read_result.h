// What reading an image file gives, whatever its format.
#pragma once

namespace likeness {

enum ReadResult {
    kReadOk = 0,
    kCannotOpen = -1,        // the file cannot be opened, or is a folder
    kEmptyFile = -2,         // the file ended before its first two bytes
    kUnsupportedDepth = -3,  // a depth or kind of picture not read here
    kBadHeader = -10,       // no known signature, a malformed or cut header, sides beyond the model
    kBadPixels = -20,       // an unsupported compression, or the file ended inside the pixels
    kDecoderRefused = -30,  // a PNG or JPEG decoder refused the file (broken, cut, beyond limits)
    kOutOfMemory = -40,     // memory, or a thread, could not be had for reading it
};

}  // namespace likeness
