// Decodes random DXT1 blocks with one variant, once or TIMES times, for
// counting instructions; "--rgba" first decodes to RGBA:
//   valgrind --tool=callgrind --collect-atstart=no
//       --toggle-collect='countedDecode*' instruction-count avx2 65536
//   valgrind ... --toggle-collect='countedDecode*' instruction-count --rgba avx2 65536
// Where only whole runs can be counted (qemu's trace), the difference between
// runs with TIMES 3 and 1 is two decodes of the blocks, without the set-up.
// `instruction-count --variants` names the variants this CPU runs, one a line.
#include "decoder-variants.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

// The decoding alone, for callgrind to collect in.
__attribute__((noinline)) void countedDecode(BlockDecodeFunction decode, const std::vector<unsigned char> &input,
                                             unsigned char *const outdata[4])
{
    decode(input.data(), input.size(), outdata);
}

int main(int argc, char **argv)
{
    std::size_t count;
    const DecoderVariant *variants = decoderVariants(&count);
    if (argc == 2 && std::strcmp(argv[1], "--variants") == 0) {
        for (std::size_t i = 0; i < count; ++i)
            if (variants[i].supported())
                std::printf("%s\n", variants[i].name);
        return 0;
    }
    const bool rgba = argc > 1 && std::strcmp(argv[1], "--rgba") == 0;
    if (rgba) {
        --argc;
        ++argv;
    }
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s [--rgba] VARIANT BLOCKS [TIMES] | --variants\n", argv[0]);
        return 2;
    }
    const DecoderVariant *variant = nullptr;
    for (std::size_t i = 0; i < count; ++i)
        if (std::strcmp(variants[i].name, argv[1]) == 0)
            variant = &variants[i];
    if (variant == nullptr || !variant->supported()) {
        std::fprintf(stderr, "%s: no variant %s on this CPU\n", argv[0], argv[1]);
        return 2;
    }
    const std::size_t blocks = std::strtoul(argv[2], nullptr, 10);
    const unsigned long times = argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 1;
    const std::size_t rowBytes = 4 * (rgba ? kRgbaBytes : kRgbBytes);
    std::vector<unsigned char> input(blocks * 8), planes(blocks * 4 * rowBytes);
    std::mt19937 rng(1);
    for (unsigned char &byte : input)
        byte = static_cast<unsigned char>(rng());
    unsigned char *const outdata[4] = {&planes[0], &planes[blocks * rowBytes], &planes[2 * blocks * rowBytes],
                                       &planes[3 * blocks * rowBytes]};
    const BlockDecodeFunction decode =
        variantDecoder(*variant, rgba ? BlockFormat::bc1a : BlockFormat::bc1, ColourRule::design);
    for (unsigned long i = 0; i < times; ++i)
        countedDecode(decode, input, outdata);
    unsigned sum = 0;
    for (unsigned char byte : planes)
        sum += byte;
    std::printf("%s%s: %zu blocks decoded, checksum %u\n", variant->name, rgba ? " (RGBA)" : "", blocks, sum);
    return 0;
}
