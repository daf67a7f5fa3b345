// BC7 fuzz target: every vector variant this CPU runs decodes the input into
// exact-size planes and must write what the plain decoder writes.
#include "bc7-decoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

typedef void (*Decode)(const unsigned char *, std::size_t, unsigned char *const[4]);

constexpr std::size_t kBlockBytes = 16, kRowBytes = 16;

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

void expectSameAsPlain(Decode decode, const std::uint8_t *data, std::size_t size, const Planes &expected)
{
    const std::size_t planeSize = size / kBlockBytes * kRowBytes;
    Planes actual(planeSize);
    decode(data, size, actual.data);
    for (int yo = 0; yo < 4; ++yo)
        if (std::memcmp(actual.data[yo], expected.data[yo], planeSize) != 0)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Planes expected(size / kBlockBytes * kRowBytes);
    decodeBC7BlocksPlain(data, size, expected.data);
#ifdef DXT1_HAVE_X86_VARIANTS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("ssse3"))
        expectSameAsPlain(decodeBC7BlocksSSSE3, data, size, expected);
    if (__builtin_cpu_supports("avx2"))
        expectSameAsPlain(decodeBC7BlocksAVX2, data, size, expected);
#endif
#ifdef DXT1_HAVE_NEON_VARIANT
    expectSameAsPlain(decodeBC7BlocksNEON, data, size, expected);
#endif
    return 0;
}
