// The codecs of HEIF pictures, driven straight: HEVC (HEIC) through libde265, AV1 (AVIF) through
// dav1d. Each decodes one coded picture at a time (a whole image, or one tile of a grid) into the
// codec's own YCbCr planes, which stay until the next one; what they hold is charged first.
#pragma once

#include "Budget.h"

#include <cstddef>
#include <memory>
#include <span>

namespace rt::pictures::heif {

// A decoded picture as the codec holds it: 8-bit samples, or 16-bit ones above 8 bits.
struct Planes {
    const unsigned char* plane[3] = {}; // Y, Cb, Cr (no chroma when monochrome)
    std::ptrdiff_t stride[3] = {};
    int width = 0, height = 0;  // of the luma plane
    int shiftX = 0, shiftY = 0; // chroma subsampling: 1 and 1 for 4:2:0
    bool monochrome = false;
    int bits = 8;
    int matrix = 2; // H.273 matrix coefficients as the bitstream gives them (2: unspecified)
    bool fullRange = false;
};

class Decoder {
public:
    virtual ~Decoder() = default;
    // One coded picture from its configuration property's payload ('hvcC' or 'av1C') and its
    // bytes; `width` x `height` is the size its 'ispe' gives, and a bitstream that claims more is
    // refused before anything is decoded.
    virtual Planes decode(std::span<const unsigned char> config,
                          std::span<const unsigned char> data, int width, int height) = 0;
};

// Null when the codec's library is not installed. `threads` decode one picture side by side: for
// a picture that is not tiled (the tiles of a grid are decoded side by side instead).
std::unique_ptr<Decoder> hevcDecoder(Budget& budget, const char* format, int threads);
std::unique_ptr<Decoder> av1Decoder(Budget& budget, const char* format, int threads);

} // namespace rt::pictures::heif
