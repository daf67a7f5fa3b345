// Fuzz target: every variant this CPU supports decodes the input into
// exact-size planes, RGB and RGBA, and must write what the plain decoder writes.
#include "dxt1-variants.h"

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

// Every supported variant's decoder of one output (`pick` chooses RGB or RGBA)
// against the plain variant's.
void compareVariants(const std::uint8_t *data, std::size_t size, std::size_t rowBytes,
                     Dxt1DecodeFunction Dxt1Variant::*pick)
{
    const std::size_t planeSize = size / 8 * rowBytes;
    std::size_t count;
    const Dxt1Variant *variants = dxt1Variants(&count);
    Planes expected(planeSize);
    (variants[0].*pick)(data, size, expected.data);
    for (std::size_t i = 1; i < count; ++i) {
        if (!variants[i].supported())
            continue;
        Planes actual(planeSize);
        (variants[i].*pick)(data, size, actual.data);
        for (int yo = 0; yo < 4; ++yo)
            if (std::memcmp(actual.data[yo], expected.data[yo], planeSize) != 0)
                std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    compareVariants(data, size, 4 * kRgbBytes, &Dxt1Variant::decode);
    compareVariants(data, size, 4 * kRgbaBytes, &Dxt1Variant::decodeRgba);
    return 0;
}
