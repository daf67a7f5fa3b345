// Texture block decoder.
//
// `data` holds a run of blocks of one format (kBlockFormats gives each
// format's block size); the blocks are floor(len / blockBytes), and trailing
// bytes are ignored. `outdata[yo]` receives pixel row `yo` of every block in
// input order, four pixels of pixelBytes each per block, so each plane must
// hold at least 4 * pixelBytes * blocks bytes; nothing past that is written
// and nothing past blockBytes * blocks input bytes is read. The decoders
// allocate nothing, cannot fail, keep no state and are reentrant.
//
// The formats, pixel k = 4·row + column of a block (docs/formats.md works a
// block of each):
//   bc1   DXT1's 8-byte colour block, RGB; the three-colour mode's index 3 is
//         opaque black.
//   bc1a  the same block, RGBA; index 3 of the three-colour mode is (0, 0, 0, 0),
//         every other pixel opaque.
//   bc2   sixteen 4-bit alphas (a·17), then a colour block that is always
//         four-colour; RGBA.
//   bc3   an alpha channel block, then a four-colour colour block; RGBA.
//   bc4   one channel block, one byte a pixel; bc4s its signed form.
//   bc5   a red then a green channel block, two bytes a pixel (red, green);
//         bc5s its signed form.
//   bc7   BC7 blocks (bc7-decoder.h), RGBA.
//   bc6h  BC6H blocks (bc6h-decoder.h): three half floats a pixel (R, G, B),
//         each a little-endian IEEE 754 binary16 bit pattern; bc6hs its
//         signed form.
// The colour rule says how endpoints widen and palettes divide: the design
// rule widens by plain shifts and truncates (white is 248, 252, 248); the gpu
// rule replicates the high bits and rounds, as graphics hardware does. BC7
// and BC6H are defined bit for bit: both rules give their one result.
#ifndef BLOCK_DECODER_H
#define BLOCK_DECODER_H

#include <cstddef>

enum class BlockFormat : unsigned { bc1, bc1a, bc2, bc3, bc4, bc4s, bc5, bc5s, bc7, bc6h, bc6hs };
constexpr unsigned kBlockFormatCount = 11;

enum class ColourRule : unsigned { design, gpu };
constexpr unsigned kColourRuleCount = 2;

// The type of each channel of an output pixel: a byte, or a half float (an
// IEEE 754 binary16 bit pattern, little-endian); the table says which, so
// that nothing that sizes or converts a pixel assumes it.
enum class ChannelType : unsigned { byte, half };

constexpr unsigned channelBytes(ChannelType type)
{
    return type == ChannelType::byte ? 1 : type == ChannelType::half ? 2 : 0;
}

struct BlockFormatInfo {
    const char *name;        // "bc1", ... as in BlockFormat
    const char *function;    // the block family's module function, "decodeBC1"; null where none returns it
    bool isSigned;           // the signed form of its function (its `signed` option)
    unsigned blockBytes;     // of one input block
    unsigned channels;       // of one output pixel: R, G, B, A, the first ones the format has
    ChannelType channelType; // of each of them
    unsigned pixelBytes;     // of one output pixel: 4 * pixelBytes a block in each plane
};

constexpr BlockFormatInfo formatRow(const char *name, const char *function, bool isSigned, unsigned blockBytes,
                                    unsigned channels, ChannelType channelType)
{
    return {name, function, isSigned, blockBytes, channels, channelType, channels * channelBytes(channelType)};
}

// Indexed by BlockFormat: the one description of each format. bc1, DXT1's
// RGB, has no function of the block family: _dxt1 returns it.
constexpr ChannelType kBytes = ChannelType::byte, kHalves = ChannelType::half;
constexpr BlockFormatInfo kBlockFormats[kBlockFormatCount] = {
    formatRow("bc1", nullptr, false, 8, 3, kBytes),
    formatRow("bc1a", "decodeBC1", false, 8, 4, kBytes),
    formatRow("bc2", "decodeBC2", false, 16, 4, kBytes),
    formatRow("bc3", "decodeBC3", false, 16, 4, kBytes),
    formatRow("bc4", "decodeBC4", false, 8, 1, kBytes),
    formatRow("bc4s", "decodeBC4", true, 8, 1, kBytes),
    formatRow("bc5", "decodeBC5", false, 16, 2, kBytes),
    formatRow("bc5s", "decodeBC5", true, 16, 2, kBytes),
    formatRow("bc7", "decodeBC7", false, 16, 4, kBytes),
    formatRow("bc6h", "decodeBC6H", false, 16, 3, kHalves),
    formatRow("bc6hs", "decodeBC6H", true, 16, 3, kHalves),
};

constexpr const BlockFormatInfo &blockFormatInfo(BlockFormat format)
{
    return kBlockFormats[static_cast<unsigned>(format)];
}

void decodeBlocks(BlockFormat format, ColourRule rule, const unsigned char *data, std::size_t len,
                  unsigned char *const outdata[4]);

// The function decodeBlocks runs for a format and rule on this CPU.
typedef void (*BlockDecodeFunction)(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
BlockDecodeFunction blockDecoder(BlockFormat format, ColourRule rule);

// DXT1 under the design rule: bc1 (RGB) and bc1a (RGBA).
void decodeDXT1Blocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1ABlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);

// Names, for people, the variant that the decoders run on this CPU:
// "AVX-512", "AVX2", "SSSE3", "NEON" or "plain C++".
const char *decoderLabel();

// The environment variable that names the variant every decoder runs
// ("plain", "ssse3", "avx2", "avx512" or "neon"), read once, at the first
// decode or question about the variant; empty or unset, the fastest this CPU
// supports.
#define BCN_DECODER_VARIABLE "BCN_DECODER"

// Whether the variable names no variant this build and CPU run: then writes
// a message for people into `message` (at most `size` bytes, terminated) that
// names the variable, its value and the choices, and returns true; the
// decoders then run the fastest variant, so a caller that cannot go on
// without the named one (the modules, at import) must stop.
bool decoderChoiceError(char *message, std::size_t size);

#endif
