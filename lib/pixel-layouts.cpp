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
// values are exact in double precision. A 32-bit unorm's M = 2^32 - 1 is
// 255 * 16843009 and 65535 * 65537, so v * 255 / M and v * 65535 / M are
// v / 16843009 and v / 65537, never nearer a half-way point than 2^-25; and
// v / M's binary digits repeat every 32 places, so they hold no run of more
// than 31 alike, where double precision could only mislead a half's rounding
// across a run of 42. Single precision's could be misled (a run of 29 is
// enough), so it is rounded from the bits (unorm32ToFloat).
#include "pixel-layouts.h"
#include "decoder-variants.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#ifdef HAVE_X86_VARIANTS
#include <immintrin.h>
#endif

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

// Round half up: the rule of every integer result (snorm, XR bias and
// unpremultiplied colours tie often; unorm codes never, floats at 0.5 only).
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

// A 32-bit unorm code v as the single nearest v / (2^32 - 1). Through double
// precision it could round twice (v = 0xFFFFFF7F does), so it is rounded from
// its bits: v / (2^32 - 1) in binary is 0.vvv..., v's 32 bits repeated without
// end, so the first 64 are (v << 32) | v, and the bits past them are never
// all zero: no tie, and the bit after the 24 kept decides alone.
float unorm32ToFloat(std::uint32_t v)
{
    if (v == 0 || v == 0xFFFFFFFFu)
        return v == 0 ? 0.0f : 1.0f;
    std::uint64_t bits = std::uint64_t(v) << 32 | v;
    int shift = 0;
    while (!(bits >> 63)) {
        bits <<= 1;
        ++shift;
    }
    const std::uint64_t kept = (bits >> 40) + (bits >> 39 & 1); // at most 2^24: exact in a float
    return std::ldexp(static_cast<float>(kept), -24 - shift);
}

// Built on first use by one thread while any other waits. An atomic rather
// than a guarded static keeps the library free of the C++ runtime, so that
// the modules load beside any libstdc++ or none (as the dispatcher does).
std::uint8_t halfToByteTable[1 << 16];
enum : int { kTableUnbuilt, kTableBuilding, kTableBuilt };
std::atomic<int> halfToByteState{kTableUnbuilt};

const std::uint8_t *halfToByte()
{
    int state = halfToByteState.load(std::memory_order_acquire);
    if (state != kTableBuilt) {
        if (state == kTableUnbuilt && halfToByteState.compare_exchange_strong(state, kTableBuilding)) {
            for (std::uint32_t half = 0; half < (1 << 16); half++)
                halfToByteTable[half] = static_cast<std::uint8_t>(
                    sampleOfValue(halfToFloat(static_cast<std::uint16_t>(half)), SampleType::uint8));
            halfToByteState.store(kTableBuilt, std::memory_order_release);
        } else {
            while (halfToByteState.load(std::memory_order_acquire) != kTableBuilt)
                std::this_thread::yield();
        }
    }
    return halfToByteTable;
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
        if (field.bits == 32 && type == SampleType::float32)
            return floatBits(unorm32ToFloat(code));
        return sampleOfValue(code / static_cast<double>((std::uint64_t(1) << field.bits) - 1), type);
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
// through its table: the kernel of 5-6-5, 4-4-4-4, 1-bit and other packed
// layouts, and of halves out of order.
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

// A layout whose every channel is a whole byte of the pixel (an 8-bit unorm
// field on a byte boundary) or a constant, to bytes: each output byte is a
// byte of the pixel or a constant.
struct ByteShuffle {
    unsigned pixelBytes, channels;
    int source[kMaxChannels];           // the pixel's byte, or -1 for a constant
    unsigned char constant[kMaxChannels];
};

bool byteShuffleOf(const PixelLayout &layout, const ChannelPlan *plans, SampleType type, ByteShuffle &shuffle)
{
    if (type != SampleType::uint8 || layout.pixelBits % 8 != 0)
        return false;
    shuffle.pixelBytes = layout.pixelBits / 8;
    shuffle.channels = layout.channels;
    for (unsigned c = 0; c < layout.channels; c++) {
        const PixelField &field = layout.fields[c];
        if (plans[c].method == Method::constant) {
            shuffle.source[c] = -1;
            shuffle.constant[c] = static_cast<unsigned char>(plans[c].constant);
        } else if (field.kind == FieldKind::unorm && field.bits == 8 && field.offset % 8 == 0) {
            shuffle.source[c] = static_cast<int>(field.offset / 8);
            shuffle.constant[c] = 0;
        } else {
            return false;
        }
    }
    return true;
}

void shuffleBytesPlain(const ByteShuffle &shuffle, const unsigned char *row, std::size_t width, unsigned char *out)
{
    for (std::size_t x = 0; x < width; x++, row += shuffle.pixelBytes)
        for (unsigned c = 0; c < shuffle.channels; c++)
            *out++ = shuffle.source[c] < 0 ? shuffle.constant[c] : row[shuffle.source[c]];
}

#ifdef HAVE_X86_VARIANTS
bool cpuHasSSSE3()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

// As many pixels a step as sixteen bytes hold, in and out: one load, one
// shuffle, one store; a store's bytes past the step are written again by the
// next step, so steps run while sixteen bytes remain on both sides.
__attribute__((target("ssse3"))) void shuffleBytesSSSE3(const ByteShuffle &shuffle, const unsigned char *row,
                                                        std::size_t width, unsigned char *out)
{
    const unsigned step = 16 / (shuffle.pixelBytes > shuffle.channels ? shuffle.pixelBytes : shuffle.channels);
    alignas(16) unsigned char indices[16], constants[16];
    for (unsigned i = 0; i < 16; i++) {
        const unsigned pixel = i / shuffle.channels, c = i % shuffle.channels;
        const bool inStep = pixel < step && shuffle.source[c] >= 0;
        indices[i] = inStep ? static_cast<unsigned char>(pixel * shuffle.pixelBytes + shuffle.source[c]) : 0x80;
        constants[i] = pixel < step && shuffle.source[c] < 0 ? shuffle.constant[c] : 0;
    }
    const __m128i index = _mm_load_si128(reinterpret_cast<const __m128i *>(indices));
    const __m128i constant = _mm_load_si128(reinterpret_cast<const __m128i *>(constants));
    std::size_t x = 0;
    for (; x * shuffle.pixelBytes + 16 <= width * shuffle.pixelBytes && x * shuffle.channels + 16 <= width * shuffle.channels;
         x += step) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x * shuffle.pixelBytes));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x * shuffle.channels),
                         _mm_or_si128(_mm_shuffle_epi8(pixels, index), constant));
    }
    shuffleBytesPlain(shuffle, row + x * shuffle.pixelBytes, width - x, out + x * shuffle.channels);
}
#endif

// Whether each channel c is the half float at bit 16·c of a pixel of
// nothing else: a row is then a run of width · channels halves.
bool halvesInOrder(const PixelLayout &layout)
{
    if (layout.pixelBits != 16 * layout.channels)
        return false;
    for (unsigned c = 0; c < layout.channels; c++)
        if (layout.fields[c].kind != FieldKind::floating || layout.fields[c].bits != 16 ||
            layout.fields[c].offset != 16 * c)
            return false;
    return true;
}

typedef void (*HalfRunFunction)(const unsigned char *halves, std::size_t count, unsigned char *out);

void halvesToBytesPlain(const unsigned char *halves, std::size_t count, unsigned char *out)
{
    const std::uint8_t *table = halfToByte();
    for (std::size_t i = 0; i < count; i++)
        out[i] = table[halves[2 * i] | halves[2 * i + 1] << 8];
}

void halvesToSinglesPlain(const unsigned char *halves, std::size_t count, unsigned char *out)
{
    for (std::size_t i = 0; i < count; i++)
        storeSample<std::uint32_t>(out + 4 * i, floatBits(halfToFloat(
                                                    static_cast<std::uint16_t>(halves[2 * i] | halves[2 * i + 1] << 8))));
}

#ifdef HAVE_X86_VARIANTS
bool cpuHasF16C()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") && __builtin_cpu_supports("f16c");
}

#define PIXELS_F16C __attribute__((target("avx,f16c")))

// Sixteen halves to bytes: max(x, 0) is 0 for NaN; x · 255 + 0.5 is exact in
// single precision wherever its truncation could differ from the rounded
// value (a half has 11 significant bits, 255 eight), so truncating it rounds
// halves up as the table does.
PIXELS_F16C void halvesToBytesF16C(const unsigned char *halves, std::size_t count, unsigned char *out)
{
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 full = _mm256_set1_ps(255.0f), half = _mm256_set1_ps(0.5f);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i words[2];
        for (int k = 0; k < 2; k++) {
            const __m256 value = _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(halves + 2 * i + 16 * k)));
            const __m256 clamped = _mm256_min_ps(_mm256_max_ps(value, zero), one);
            const __m256i rounded = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(clamped, full), half));
            words[k] = _mm_packs_epi32(_mm256_castsi256_si128(rounded), _mm256_extractf128_si256(rounded, 1));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(words[0], words[1]));
    }
    halvesToBytesPlain(halves + 2 * i, count - i, out + i);
}

PIXELS_F16C void halvesToSinglesF16C(const unsigned char *halves, std::size_t count, unsigned char *out)
{
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8)
        _mm256_storeu_ps(reinterpret_cast<float *>(out + 4 * i),
                         _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(halves + 2 * i))));
    halvesToSinglesPlain(halves + 2 * i, count - i, out + 4 * i);
}
#endif

// The converter of a run of halves to `type`, chosen once per type: F16C
// where the CPU has it; null for the types it does not serve.
HalfRunFunction halfRunFunction(SampleType type)
{
#ifdef HAVE_X86_VARIANTS
    const bool f16c = cpuHasF16C(); // a flag the CPU check keeps: cheap to ask each call
    if (f16c && type == SampleType::uint8)
        return halvesToBytesF16C;
    if (f16c && type == SampleType::float32)
        return halvesToSinglesF16C;
#endif
    return type == SampleType::uint8 ? halvesToBytesPlain : type == SampleType::float32 ? halvesToSinglesPlain
                                                                                        : nullptr;
}

typedef void (*ByteShuffleFunction)(const ByteShuffle &shuffle, const unsigned char *row, std::size_t width,
                                    unsigned char *out);

// Chosen once: SSSE3 where the CPU has it.
ByteShuffleFunction byteShuffleFunction()
{
#ifdef HAVE_X86_VARIANTS
    return cpuHasSSSE3() ? shuffleBytesSSSE3 : shuffleBytesPlain; // the CPU check keeps its answer
#else
    return shuffleBytesPlain;
#endif
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
        // Infinity, or a NaN with its payload, made quiet as F16C's conversion makes it.
        bits = sign | 0x7F800000 | (mantissa << 13) | (mantissa != 0 ? 0x400000 : 0);
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
            if (field.bits < 1 || field.bits > 32)
                return "a unorm field has 1 to 32 bits";
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
    ByteShuffle shuffle;
    const ByteShuffleFunction shuffleBytes = byteShuffleOf(layout, plans, type, shuffle) ? byteShuffleFunction()
                                                                                       : nullptr;
    const HalfRunFunction convertHalves = halvesInOrder(layout) ? halfRunFunction(type) : nullptr;
    const std::size_t outRowBytes = width * layout.channels * sampleBytes(type);
    for (std::size_t y = 0; y < height; y++) {
        unsigned char *row = out + y * outRowBytes;
        if (convertHalves != nullptr)
            convertHalves(data + y * rowBytes, width * layout.channels, row);
        else if (shuffleBytes != nullptr)
            shuffleBytes(shuffle, data + y * rowBytes, width, row);
        else if (decodeBytes != nullptr)
            decodeBytes(plans, data + y * rowBytes, width, row);
        else
            decode(plans, layout.channels, data + y * rowBytes, width, row);
        if (unpremultiply)
            unpremultiplyRow(row, width);
    }
}
