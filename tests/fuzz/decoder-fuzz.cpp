// Fuzz target: every variant this CPU supports decodes the input into
// exact-size planes and must write what the plain decoder writes.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::size_t planeSize = size / 8 * 12;
    Planes expected(planeSize);
    decodeDXT1BlocksPlain(data, size, expected.data);

    std::size_t count;
    const Dxt1Variant *variants = dxt1Variants(&count);
    for (std::size_t i = 1; i < count; ++i) {
        if (!variants[i].supported())
            continue;
        Planes actual(planeSize);
        variants[i].decode(data, size, actual.data);
        for (int yo = 0; yo < 4; ++yo)
            if (std::memcmp(actual.data[yo], expected.data[yo], planeSize) != 0)
                std::abort();
    }
    return 0;
}
