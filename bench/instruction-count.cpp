// Decodes random blocks once with one variant, for counting instructions:
//   valgrind --tool=callgrind --collect-atstart=no
//       --toggle-collect='decodeDXT1BlocksAVX2*' instruction-count avx2 65536
#include "dxt1-variants.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s VARIANT BLOCKS\n", argv[0]);
        return 2;
    }
    std::size_t count;
    const Dxt1Variant *variants = dxt1Variants(&count);
    const Dxt1Variant *variant = nullptr;
    for (std::size_t i = 0; i < count; ++i)
        if (std::strcmp(variants[i].name, argv[1]) == 0)
            variant = &variants[i];
    if (variant == nullptr || !variant->supported()) {
        std::fprintf(stderr, "%s: no variant %s on this CPU\n", argv[0], argv[1]);
        return 2;
    }
    const std::size_t blocks = std::strtoul(argv[2], nullptr, 10);
    std::vector<unsigned char> input(blocks * 8), planes(blocks * 48);
    std::mt19937 rng(1);
    for (unsigned char &byte : input)
        byte = static_cast<unsigned char>(rng());
    unsigned char *const outdata[4] = {&planes[0], &planes[blocks * 12], &planes[blocks * 24], &planes[blocks * 36]};
    variant->decode(input.data(), input.size(), outdata);
    unsigned sum = 0;
    for (unsigned char byte : planes)
        sum += byte;
    std::printf("%s: %zu blocks decoded, checksum %u\n", variant->name, blocks, sum);
    return 0;
}
