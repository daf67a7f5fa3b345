// Pixel layout decoder: surfaces that are not block-compressed, and the
// conversion of decoded samples to another sample type.
//
// A surface is `height` rows of `width` pixels of `pixelBits` bits each, the
// rows `rowBytes` apart. A pixel is a little-endian number (bit 0 is the
// lowest bit of its first byte), except that 1-bit pixels fill each byte from
// its highest bit. Each output channel is one PixelField: where its bits are in
// the pixel and how they encode a value. The output is `height` rows of
// `width` pixels of `channels` samples of one SampleType, native byte order,
// packed. docs/formats.md gives the exact rule of each field kind and works a
// pixel of each. The decoder allocates nothing, cannot fail once the layout is
// valid (pixelLayoutError), keeps no state and is reentrant.
#ifndef PIXEL_LAYOUTS_H
#define PIXEL_LAYOUTS_H

#include <cstddef>
#include <cstdint>

// How a field's bits encode its value, or the constant a channel takes where a
// layout has none.
enum class FieldKind : unsigned {
    unorm,          // n bits, 0 .. 2^n - 1 for 0 .. 1 (n = 1 to 32)
    snorm,          // n bits two's complement, -(2^(n-1) - 1) .. 2^(n-1) - 1 for -1 .. 1 (n = 2 to 16)
    floating,       // 16-bit half, 32-bit single, or the unsigned 11- and 10-bit floats
    sharedExponent, // a 9-bit mantissa m and a 5-bit exponent e elsewhere in the pixel: m * 2^(e - 24)
    xrBias,         // 10 bits v: (v - 384) / 510
    zero,           // no bits: 0
    one,            // no bits: the full value (255, 65535, 1.0)
    signedZero,     // no bits: an snorm zero (128, 32768, 0.0)
};
constexpr unsigned kFieldKindCount = 8;

enum class SampleType : unsigned { uint8, uint16, float16, float32 };
constexpr unsigned kSampleTypeCount = 4;

constexpr unsigned sampleBytes(SampleType type)
{
    return type == SampleType::uint8 ? 1 : type == SampleType::float32 ? 4 : 2;
}

struct PixelField {
    FieldKind kind;
    unsigned offset;         // of the field's lowest bit in the pixel
    unsigned bits;           // its width (0 for the constants)
    unsigned exponentOffset; // sharedExponent: of the 5-bit exponent's lowest bit
};

constexpr unsigned kMaxChannels = 4;

struct PixelLayout {
    unsigned pixelBits; // 1, 8, 16, 24, 32, 48, 64, 96 or 128
    unsigned channels;  // 1 to kMaxChannels
    PixelField fields[kMaxChannels];
};

// Null if `layout` can be decoded to `type`, else a sentence saying why not.
// Unpremultiplying takes four 8-bit unorm fields (R, G, B, A) to uint8.
const char *pixelLayoutError(const PixelLayout &layout, SampleType type, bool unpremultiply);

// The least row pitch of `width` pixels: ceil(width * pixelBits / 8), or
// false where that cannot be represented.
bool pixelRowBytes(std::size_t width, unsigned pixelBits, std::size_t &rowBytes);

// Decodes `height` rows of a valid layout from `data` (rows `rowBytes` apart,
// rowBytes at least pixelRowBytes; the last row is read only as far as its
// pixels go) into `out`, width * channels * sampleBytes(type) bytes a row.
// With `unpremultiply`, each colour c of a pixel with alpha a becomes
// min(255, round(c * 255 / a)), and 0 where a is 0.
void decodePixels(const PixelLayout &layout, SampleType type, bool unpremultiply, const unsigned char *data,
                  std::size_t rowBytes, std::size_t width, std::size_t height, unsigned char *out);

// The sample conversions the decoder is built of, for its tests: a half's
// value (exact in single precision), and a number rounded to the nearest half,
// ties to even, overflowing to infinity, NaN staying NaN.
float halfToFloat(std::uint16_t half);
std::uint16_t roundToHalf(double value);

#endif
