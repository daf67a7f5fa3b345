// The pixel layout decoder (pixel-layouts.h). Each output channel gets a plan
// once per call: a constant, a table of every code of a field of at most 8
// bits, the shared table of half floats to bytes, or the conversion of each
// code as it comes. One loop per pixel size and sample size then reads each
// pixel once and takes every channel from it.
//
// Exactness: a unorm or snorm value v / M (M odd, at most 65535) is never
// within 2^-40 of its size from a point where single or half precision
// rounds, nor from the half-way points of round(x * 255) and round(x * 65535),
// so computing it in double precision (error about 2^-52) and rounding once
// more gives the correctly rounded result; the half-float and shared-exponent
// values are exact in double precision.
#include "pixel-layouts.h"

#include <cmath>
#include <cstring>

namespace {

constexpr std::uint32_t kHalfInfinity = 0x7C00;
constexpr std::uint32_t kHalfQuietNaN = 0x7E00;
constexpr std::uint32_t kHalfOne = 0x3C00;
constexpr std::uint32_t kFloatOne = 0x3F800000;
constexpr unsigned kSharedExponentBits = 5;
constexpr int kSharedExponentBias = 24; // 15, and 9 for the mantissa's binary point
constexpr unsigned kXrBiasBits = 10;
constexpr unsigned kXrBiasZero = 384;  // the code of 0.0
constexpr unsigned kXrBiasScale = 510; // codes per 1.0
constexpr unsigned kTableBits = 8;     // fields this wide or narrower are converted through a table

// Round half up: the rule of every integer result that can tie (snorm, XR
// bias, unpremultiplied colours); unorm and float inputs never tie.
std::uint32_t roundedQuotient(std::uint64_t numerator, std::uint64_t denominator)
{
    return static_cast<std::uint32_t>((2 * numerator + denominator) / (2 * denominator));
}

std::uint32_t floatBits(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A value to a sample: integers clamp to 0 .. 1 (NaN to 0) and round to
// nearest; floats round to nearest even.
std::uint32_t sampleOfValue(double value, SampleType type)
{
    switch (type) {
    case SampleType::uint8:
        return !(value > 0) ? 0 : value >= 1 ? 255 : static_cast<std::uint32_t>(std::floor(value * 255 + 0.5));
    case SampleType::uint16:
        return !(value > 0) ? 0 : value >= 1 ? 65535 : static_cast<std::uint32_t>(std::floor(value * 65535 + 0.5));
    case SampleType::float16:
        return roundToHalf(value);
    case SampleType::float32:
        return floatBits(static_cast<float>(value));
    }
    return 0;
}

// The half float of an unsigned 11- or 10-bit float: the same exponent, its
// mantissa's 6 or 5 bits at the top of the half's 10.
std::uint16_t halfOfSmallFloat(std::uint32_t code, unsigned bits)
{
    return static_cast<std::uint16_t>(code << (15 - bits));
}

struct HalfToByteTable {
    std::uint8_t bytes[1 << 16];
    HalfToByteTable()
    {
        for (std::uint32_t half = 0; half < (1 << 16); half++)
            bytes[half] = static_cast<std::uint8_t>(sampleOfValue(halfToFloat(static_cast<std::uint16_t>(half)),
                                                                  SampleType::uint8));
    }
};

// Built on first use; C++ makes that thread-safe.
const std::uint8_t *halfToByte()
{
    static const HalfToByteTable table;
    return table.bytes;
}

enum class Method : unsigned { constant, table, halfToByte, compute };

struct ChannelPlan {
    Method method;
    PixelField field;
    SampleType type;
    std::uint32_t constant;         // Method::constant
    const std::uint8_t *halfBytes;  // Method::halfToByte
    std::uint32_t table[1 << kTableBits];
    // For uint8 samples, each method but compute as a lookup of the field's
    // code (a constant's code is always 0): the byte kernel's table.
    const std::uint8_t *byteTable;
    std::uint64_t byteMask;
    std::uint8_t bytes[1 << kTableBits];
};

// The field of `bits` bits at `offset` in a pixel whose bits 0-63 are `low`
// and 64-127 `high`. A field has 32 bits at most.
inline std::uint32_t fieldCode(std::uint64_t low, std::uint64_t high, unsigned offset, unsigned bits)
{
    std::uint64_t code;
    if (offset >= 64) {
        code = high >> (offset - 64);
    } else {
        code = low >> offset;
        if (offset + bits > 64)
            code |= high << (64 - offset);
    }
    return static_cast<std::uint32_t>(code & ((std::uint64_t(1) << bits) - 1));
}

std::uint32_t constantSample(FieldKind kind, SampleType type)
{
    switch (kind) {
    case FieldKind::one:
        return type == SampleType::uint8 ? 255 : type == SampleType::uint16 ? 65535
               : type == SampleType::float16 ? kHalfOne : kFloatOne;
    case FieldKind::signedZero:
        return type == SampleType::uint8 ? 128 : type == SampleType::uint16 ? 32768 : 0;
    default:
        return 0; // zero, of every type
    }
}

// The sample of one field code (and, for a shared exponent, the exponent).
std::uint32_t sampleOfCode(const PixelField &field, SampleType type, std::uint32_t code, std::uint32_t exponent)
{
    switch (field.kind) {
    case FieldKind::unorm:
        return sampleOfValue(code / static_cast<double>((std::uint32_t(1) << field.bits) - 1), type);
    case FieldKind::snorm: {
        // Two's complement; the most negative code reads as its neighbour.
        const std::int32_t most = (std::int32_t(1) << (field.bits - 1)) - 1;
        std::int32_t value = static_cast<std::int32_t>(code) - (code >> (field.bits - 1) ? 2 * (most + 1) : 0);
        if (value < -most)
            value = -most;
        const std::uint64_t shifted = static_cast<std::uint64_t>(value + most);
        if (type == SampleType::uint8)
            return roundedQuotient(shifted * 255, 2 * static_cast<std::uint64_t>(most));
        if (type == SampleType::uint16)
            return roundedQuotient(shifted * 65535, 2 * static_cast<std::uint64_t>(most));
        return sampleOfValue(value / static_cast<double>(most), type);
    }
    case FieldKind::floating: {
        if (field.bits == 32) {
            float value;
            std::memcpy(&value, &code, sizeof value);
            return type == SampleType::float32 ? code : sampleOfValue(value, type);
        }
        const std::uint16_t half =
            field.bits == 16 ? static_cast<std::uint16_t>(code) : halfOfSmallFloat(code, field.bits);
        return type == SampleType::float16 ? half : sampleOfValue(halfToFloat(half), type);
    }
    case FieldKind::sharedExponent:
        return sampleOfValue(std::ldexp(static_cast<double>(code), static_cast<int>(exponent) - kSharedExponentBias),
                             type);
    case FieldKind::xrBias: {
        const std::uint32_t clamped = code < kXrBiasZero ? kXrBiasZero
                                      : code > kXrBiasZero + kXrBiasScale ? kXrBiasZero + kXrBiasScale : code;
        if (type == SampleType::uint8)
            return roundedQuotient(std::uint64_t(clamped - kXrBiasZero) * 255, kXrBiasScale);
        if (type == SampleType::uint16)
            return roundedQuotient(std::uint64_t(clamped - kXrBiasZero) * 65535, kXrBiasScale);
        return sampleOfValue((static_cast<double>(code) - kXrBiasZero) / kXrBiasScale, type);
    }
    case FieldKind::zero:
    case FieldKind::one:
    case FieldKind::signedZero:
        return constantSample(field.kind, type);
    }
    return 0;
}

void planChannel(const PixelField &field, SampleType type, ChannelPlan &plan)
{
    plan.field = field;
    plan.type = type;
    plan.halfBytes = nullptr;
    plan.constant = 0;
    plan.byteTable = plan.bytes;
    plan.byteMask = 0;
    if (field.kind == FieldKind::zero || field.kind == FieldKind::one || field.kind == FieldKind::signedZero) {
        plan.method = Method::constant;
        plan.constant = constantSample(field.kind, type);
        plan.bytes[0] = static_cast<std::uint8_t>(plan.constant);
    } else if ((field.kind == FieldKind::unorm || field.kind == FieldKind::snorm) && field.bits <= kTableBits) {
        plan.method = Method::table;
        plan.byteMask = (std::uint64_t(1) << field.bits) - 1;
        for (std::uint32_t code = 0; code <= plan.byteMask; code++) {
            plan.table[code] = sampleOfCode(field, type, code, 0);
            plan.bytes[code] = static_cast<std::uint8_t>(plan.table[code]);
        }
    } else if (field.kind == FieldKind::floating && field.bits == 16 && type == SampleType::uint8) {
        plan.method = Method::halfToByte;
        plan.halfBytes = plan.byteTable = halfToByte();
        plan.byteMask = 0xFFFF;
    } else {
        plan.method = Method::compute;
    }
}

inline std::uint32_t channelSample(const ChannelPlan &plan, std::uint64_t low, std::uint64_t high)
{
    switch (plan.method) {
    case Method::constant:
        return plan.constant;
    case Method::table:
        return plan.table[fieldCode(low, high, plan.field.offset, plan.field.bits)];
    case Method::halfToByte:
        return plan.halfBytes[fieldCode(low, high, plan.field.offset, 16)];
    case Method::compute: {
        const std::uint32_t exponent = plan.field.kind == FieldKind::sharedExponent
                                           ? fieldCode(low, high, plan.field.exponentOffset, kSharedExponentBits)
                                           : 0;
        return sampleOfCode(plan.field, plan.type, fieldCode(low, high, plan.field.offset, plan.field.bits),
                            exponent);
    }
    }
    return 0;
}

// Pixel x of a row as a little-endian number; PixelBytes 0 stands for 1-bit pixels.
template <unsigned PixelBytes>
inline void loadPixel(const unsigned char *row, std::size_t x, std::uint64_t &low, std::uint64_t &high)
{
    low = 0;
    high = 0;
    if (PixelBytes == 0) {
        low = (row[x >> 3] >> (7 - (x & 7))) & 1u;
        return;
    }
    const unsigned char *pixel = row + x * PixelBytes;
    for (unsigned i = 0; i < PixelBytes && i < 8; i++)
        low |= std::uint64_t(pixel[i]) << (8 * i);
    for (unsigned i = 8; i < PixelBytes; i++)
        high |= std::uint64_t(pixel[i]) << (8 * (i - 8));
}

template <typename Sample>
inline void storeSample(unsigned char *out, std::uint32_t sample)
{
    const Sample value = static_cast<Sample>(sample);
    std::memcpy(out, &value, sizeof value);
}

template <unsigned PixelBytes, typename Sample>
void decodeRow(const ChannelPlan *plans, unsigned channels, const unsigned char *row, std::size_t width,
               unsigned char *out)
{
    for (std::size_t x = 0; x < width; x++) {
        std::uint64_t low, high;
        loadPixel<PixelBytes>(row, x, low, high);
        for (unsigned c = 0; c < channels; c++, out += sizeof(Sample))
            storeSample<Sample>(out, channelSample(plans[c], low, high));
    }
}

// Byte samples of fields that lie in a pixel's first 64 bits, every one
// through its table: the kernel of 8-bit layouts, 5-6-5 and half floats.
template <unsigned PixelBytes, unsigned Channels>
void decodeByteRow(const ChannelPlan *plans, const unsigned char *row, std::size_t width, unsigned char *out)
{
    const std::uint8_t *tables[Channels];
    unsigned offsets[Channels];
    std::uint64_t masks[Channels];
    for (unsigned c = 0; c < Channels; c++) {
        tables[c] = plans[c].byteTable;
        offsets[c] = plans[c].method == Method::constant ? 0 : plans[c].field.offset;
        masks[c] = plans[c].byteMask;
    }
    for (std::size_t x = 0; x < width; x++, out += Channels) {
        std::uint64_t low, high;
        loadPixel<PixelBytes>(row, x, low, high);
        for (unsigned c = 0; c < Channels; c++)
            out[c] = tables[c][(low >> offsets[c]) & masks[c]];
    }
}

typedef void (*ByteRowDecoder)(const ChannelPlan *plans, const unsigned char *row, std::size_t width,
                               unsigned char *out);

template <unsigned PixelBytes>
ByteRowDecoder byteRowDecoderOfChannels(unsigned channels)
{
    switch (channels) {
    case 1: return decodeByteRow<PixelBytes, 1>;
    case 2: return decodeByteRow<PixelBytes, 2>;
    case 3: return decodeByteRow<PixelBytes, 3>;
    case 4: return decodeByteRow<PixelBytes, 4>;
    }
    return nullptr;
}

// The byte kernel for a layout, or null where it does not apply: another
// sample type, a pixel past 64 bits, or a field converted as it comes.
ByteRowDecoder byteRowDecoder(const ChannelPlan *plans, unsigned channels, unsigned pixelBits, SampleType type)
{
    if (type != SampleType::uint8)
        return nullptr;
    for (unsigned c = 0; c < channels; c++)
        if (plans[c].method == Method::compute)
            return nullptr;
    switch (pixelBits) {
    case 1: return byteRowDecoderOfChannels<0>(channels);
    case 8: return byteRowDecoderOfChannels<1>(channels);
    case 16: return byteRowDecoderOfChannels<2>(channels);
    case 24: return byteRowDecoderOfChannels<3>(channels);
    case 32: return byteRowDecoderOfChannels<4>(channels);
    case 48: return byteRowDecoderOfChannels<6>(channels);
    case 64: return byteRowDecoderOfChannels<8>(channels);
    }
    return nullptr;
}

typedef void (*RowDecoder)(const ChannelPlan *plans, unsigned channels, const unsigned char *row,
                           std::size_t width, unsigned char *out);

template <unsigned PixelBytes>
RowDecoder rowDecoderOfType(SampleType type)
{
    switch (type) {
    case SampleType::uint8:
        return decodeRow<PixelBytes, std::uint8_t>;
    case SampleType::uint16:
    case SampleType::float16:
        return decodeRow<PixelBytes, std::uint16_t>;
    case SampleType::float32:
        return decodeRow<PixelBytes, std::uint32_t>;
    }
    return nullptr;
}

RowDecoder rowDecoder(unsigned pixelBits, SampleType type)
{
    switch (pixelBits) {
    case 1: return rowDecoderOfType<0>(type);
    case 8: return rowDecoderOfType<1>(type);
    case 16: return rowDecoderOfType<2>(type);
    case 24: return rowDecoderOfType<3>(type);
    case 32: return rowDecoderOfType<4>(type);
    case 48: return rowDecoderOfType<6>(type);
    case 64: return rowDecoderOfType<8>(type);
    case 96: return rowDecoderOfType<12>(type);
    case 128: return rowDecoderOfType<16>(type);
    }
    return nullptr;
}

// R, G and B of each RGBA byte pixel divided by its alpha.
void unpremultiplyRow(unsigned char *pixels, std::size_t width)
{
    for (std::size_t x = 0; x < width; x++, pixels += 4) {
        const unsigned alpha = pixels[3];
        for (unsigned c = 0; c < 3; c++) {
            const std::uint32_t colour = alpha == 0 ? 0 : roundedQuotient(pixels[c] * 255u, alpha);
            pixels[c] = static_cast<unsigned char>(colour > 255 ? 255 : colour);
        }
    }
}

bool fieldFits(unsigned offset, unsigned bits, unsigned pixelBits)
{
    return offset < pixelBits && bits <= pixelBits - offset;
}

} // namespace

float halfToFloat(std::uint16_t half)
{
    const std::uint32_t sign = std::uint32_t(half & 0x8000) << 16;
    const std::uint32_t exponent = (half >> 10) & 0x1F;
    const std::uint32_t mantissa = half & 0x3FF;
    std::uint32_t bits;
    if (exponent == 0) {
        const float magnitude = std::ldexp(static_cast<float>(mantissa), -24); // subnormal or zero, exact
        bits = sign | floatBits(magnitude);
    } else if (exponent == 0x1F) {
        bits = sign | 0x7F800000 | (mantissa << 13); // infinity, or a NaN with its payload
    } else {
        bits = sign | ((exponent + 127 - 15) << 23) | (mantissa << 13);
    }
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint16_t roundToHalf(double value)
{
    const std::uint32_t sign = std::signbit(value) ? 0x8000 : 0;
    if (std::isnan(value))
        return static_cast<std::uint16_t>(sign | kHalfQuietNaN);
    const double magnitude = std::fabs(value);
    if (magnitude >= 65520.0) // half-way from 65504, the largest half, to 2^16: ties to the even infinity
        return static_cast<std::uint16_t>(sign | kHalfInfinity);
    // The magnitude in units of the last place of its binade (2^-24 below
    // 2^-14, where halves are subnormal), rounded to even.
    int exponent = 0;
    std::frexp(magnitude, &exponent); // magnitude in [2^(exponent-1), 2^exponent)
    const int unitExponent = (exponent - 1 < -14 ? -14 : exponent - 1) - 10;
    const double units = std::ldexp(magnitude, -unitExponent);
    double rounded = std::floor(units);
    const double rest = units - rounded;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(rounded, 2.0) != 0))
        rounded += 1;
    // Normal halves are 1024 to 2047 units with their exponent field above
    // the mantissa; a carry to 2048 moves into the next binade by itself.
    const std::uint32_t mantissaUnits = static_cast<std::uint32_t>(rounded);
    const std::uint32_t bits =
        magnitude < std::ldexp(1.0, -14) ? mantissaUnits
                                         : (static_cast<std::uint32_t>(unitExponent + 10 + 15) << 10) + mantissaUnits - 1024;
    return static_cast<std::uint16_t>(sign | bits);
}

const char *pixelLayoutError(const PixelLayout &layout, SampleType type, bool unpremultiply)
{
    if (rowDecoder(layout.pixelBits, type) == nullptr)
        return "pixel_bits must be 1, 8, 16, 24, 32, 48, 64, 96 or 128";
    if (layout.channels < 1 || layout.channels > kMaxChannels)
        return "fields must describe 1 to 4 channels";
    for (unsigned c = 0; c < layout.channels; c++) {
        const PixelField &field = layout.fields[c];
        switch (field.kind) {
        case FieldKind::unorm:
            if (field.bits < 1 || field.bits > 16)
                return "a unorm field has 1 to 16 bits";
            break;
        case FieldKind::snorm:
            if (field.bits < 2 || field.bits > 16)
                return "an snorm field has 2 to 16 bits";
            break;
        case FieldKind::floating:
            if (field.bits != 10 && field.bits != 11 && field.bits != 16 && field.bits != 32)
                return "a float field has 10, 11, 16 or 32 bits";
            break;
        case FieldKind::sharedExponent:
            if (field.bits != 9)
                return "a shared-exponent field has a 9-bit mantissa";
            if (!fieldFits(field.exponentOffset, kSharedExponentBits, layout.pixelBits))
                return "a field's bits lie outside the pixel";
            break;
        case FieldKind::xrBias:
            if (field.bits != kXrBiasBits)
                return "an XR-bias field has 10 bits";
            break;
        case FieldKind::zero:
        case FieldKind::one:
        case FieldKind::signedZero:
            continue; // no bits
        }
        if (!fieldFits(field.offset, field.bits, layout.pixelBits))
            return "a field's bits lie outside the pixel";
    }
    if (unpremultiply) {
        bool rgba8 = type == SampleType::uint8 && layout.channels == 4;
        for (unsigned c = 0; rgba8 && c < 4; c++)
            rgba8 = layout.fields[c].kind == FieldKind::unorm && layout.fields[c].bits == 8;
        if (!rgba8)
            return "unpremultiply takes four 8-bit unorm fields (R, G, B, A) to uint8";
    }
    return nullptr;
}

bool pixelRowBytes(std::size_t width, unsigned pixelBits, std::size_t &rowBytes)
{
    if (pixelBits == 0 || width > (static_cast<std::size_t>(-1) - 7) / pixelBits)
        return false;
    rowBytes = (width * pixelBits + 7) / 8;
    return true;
}

void decodePixels(const PixelLayout &layout, SampleType type, bool unpremultiply, const unsigned char *data,
                  std::size_t rowBytes, std::size_t width, std::size_t height, unsigned char *out)
{
    ChannelPlan plans[kMaxChannels];
    for (unsigned c = 0; c < layout.channels; c++)
        planChannel(layout.fields[c], type, plans[c]);
    const RowDecoder decode = rowDecoder(layout.pixelBits, type);
    const ByteRowDecoder decodeBytes = byteRowDecoder(plans, layout.channels, layout.pixelBits, type);
    const std::size_t outRowBytes = width * layout.channels * sampleBytes(type);
    for (std::size_t y = 0; y < height; y++) {
        unsigned char *row = out + y * outRowBytes;
        if (decodeBytes != nullptr)
            decodeBytes(plans, data + y * rowBytes, width, row);
        else
            decode(plans, layout.channels, data + y * rowBytes, width, row);
        if (unpremultiply)
            unpremultiplyRow(row, width);
    }
}
