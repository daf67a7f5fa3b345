// Fuzz target: every variant this CPU supports decodes the input into
// exact-size planes, in every format and colour rule it has a kernel for, and
// must write what the plain decoder writes.
#include "decoder-variants.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct Planes {
    unsigned char *data[4];
    explicit Planes(std::size_t size)
    {
        for (unsigned char *&plane : data)
            plane = static_cast<unsigned char *>(std::malloc(size ? size : 1));
    }
    ~Planes()
    {
        for (unsigned char *plane : data)
            std::free(plane);
    }
};

// Every supported variant's decoder of one format and rule against the
// plain variant's.
void compareVariants(const std::uint8_t *data, std::size_t size, BlockFormat format, ColourRule rule)
{
    const BlockFormatInfo &info = blockFormatInfo(format);
    const std::size_t planeSize = size / info.blockBytes * 4 * info.pixelBytes;
    std::size_t count;
    const DecoderVariant *variants = decoderVariants(&count);
    Planes expected(planeSize);
    variantDecoder(variants[0], format, rule)(data, size, expected.data);
    for (std::size_t i = 1; i < count; ++i) {
        if (!variants[i].supported() || !variantHasOwnDecoder(variants[i], format, rule))
            continue;
        Planes actual(planeSize);
        variantDecoder(variants[i], format, rule)(data, size, actual.data);
        for (int yo = 0; yo < 4; ++yo)
            if (std::memcmp(actual.data[yo], expected.data[yo], planeSize) != 0)
                std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    for (unsigned f = 0; f < kBlockFormatCount; ++f)
        for (unsigned r = 0; r < kColourRuleCount; ++r)
            compareVariants(data, size, BlockFormat(f), ColourRule(r));
    return 0;
}
