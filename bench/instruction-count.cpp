// Decodes random DXT1 blocks with one variant, once or TIMES times, for
// counting instructions; "--rgba" first decodes to RGBA, and "--format NAME"
// (bc1, bc1a, ... bc7) with "--rule design|gpu" any format under either
// colour rule (bc1 and the design rule unless given); "--bc7-run RUN" BC7
// blocks of one mode alone or of bc7-runs.h's photo-like mix rather than
// random bytes (mostly modes 0 and 1), and "--bc6h-run bc6h|bc6hs" BC6H's
// mix of bc6h-runs.h in either form (signed with real textures' signs):
//   valgrind --tool=callgrind --collect-atstart=no
//       --toggle-collect='countedDecode*' instruction-count avx2 65536
//   valgrind ... --toggle-collect='countedDecode*' instruction-count --rgba avx2 65536
//   valgrind ... --toggle-collect='countedDecode*' instruction-count --format bc3 --rule gpu avx2 65536
//   qemu-aarch64 -singlestep -d nochain,exec -D FIFO instruction-count --bc7-run mixed neon 256 3
// Where only whole runs can be counted (qemu's trace), the difference between
// runs with TIMES 3 and 1 is two decodes of the blocks, without the set-up.
// `instruction-count --variants` names the variants this CPU runs, one a line.
#include "bc6h-runs.h"
#include "bc7-runs.h"
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
    const char *const program = argv[0];
    BlockFormat format = BlockFormat::bc1;
    ColourRule rule = ColourRule::design;
    int bc7Mode = kBc7Mixed - 1; // none: random bytes
    bool bc6hMixed = false;
    bool known = true;
    while (known && argc > 1 && std::strncmp(argv[1], "--", 2) == 0) {
        if (std::strcmp(argv[1], "--rgba") == 0) {
            format = BlockFormat::bc1a;
        } else if (argc > 2 && std::strcmp(argv[1], "--format") == 0) {
            known = false;
            for (unsigned f = 0; f < kBlockFormatCount; ++f)
                if (std::strcmp(argv[2], kBlockFormats[f].name) == 0) {
                    format = BlockFormat(f);
                    known = true;
                }
            --argc;
            ++argv;
        } else if (argc > 2 && std::strcmp(argv[1], "--bc7-run") == 0) {
            for (int m = kBc7Mixed; m < int(kBc7Modes); ++m)
                if (bc7RunName(m) == argv[2])
                    bc7Mode = m;
            known = bc7Mode >= kBc7Mixed;
            format = BlockFormat::bc7;
            --argc;
            ++argv;
        } else if (argc > 2 && std::strcmp(argv[1], "--bc6h-run") == 0) {
            known = std::strcmp(argv[2], "bc6h") == 0 || std::strcmp(argv[2], "bc6hs") == 0;
            format = std::strcmp(argv[2], "bc6hs") == 0 ? BlockFormat::bc6hs : BlockFormat::bc6h;
            bc6hMixed = true;
            --argc;
            ++argv;
        } else if (argc > 2 && std::strcmp(argv[1], "--rule") == 0) {
            known = std::strcmp(argv[2], "design") == 0 || std::strcmp(argv[2], "gpu") == 0;
            rule = std::strcmp(argv[2], "gpu") == 0 ? ColourRule::gpu : ColourRule::design;
            --argc;
            ++argv;
        } else {
            known = false;
        }
        --argc;
        ++argv;
    }
    // A run is of its own format: another named with it would misread its blocks.
    if ((bc7Mode >= kBc7Mixed && format != BlockFormat::bc7) ||
        (bc6hMixed && format != BlockFormat::bc6h && format != BlockFormat::bc6hs))
        known = false;
    if (!known || (argc != 3 && argc != 4)) {
        std::fprintf(stderr,
                     "usage: %s [--rgba | --format bc1|bc1a|bc2|bc3|bc4|bc4s|bc5|bc5s|bc7|bc6h|bc6hs | --bc7-run mixed|mode0..mode7 | "
                     "--bc6h-run bc6h|bc6hs] "
                     "[--rule design|gpu] VARIANT BLOCKS [TIMES] | --variants\n",
                     program);
        return 2;
    }
    const DecoderVariant *variant = nullptr;
    for (std::size_t i = 0; i < count; ++i)
        if (std::strcmp(variants[i].name, argv[1]) == 0)
            variant = &variants[i];
    if (variant == nullptr || !variant->supported()) {
        std::fprintf(stderr, "%s: no variant %s on this CPU\n", program, argv[1]);
        return 2;
    }
    const std::size_t blocks = std::strtoul(argv[2], nullptr, 10);
    const unsigned long times = argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 1;
    const BlockFormatInfo &info = blockFormatInfo(format);
    const std::size_t rowBytes = 4 * info.pixelBytes;
    std::vector<unsigned char> input(blocks * info.blockBytes), planes(blocks * 4 * rowBytes);
    if (bc7Mode >= kBc7Mixed) {
        input = bc7Run(bc7Mode, blocks);
    } else if (bc6hMixed) {
        input = bc6hMixedRun(blocks, format == BlockFormat::bc6hs);
    } else {
        std::mt19937 rng(1);
        for (unsigned char &byte : input)
            byte = static_cast<unsigned char>(rng());
    }
    unsigned char *const outdata[4] = {&planes[0], &planes[blocks * rowBytes], &planes[2 * blocks * rowBytes],
                                       &planes[3 * blocks * rowBytes]};
    const BlockDecodeFunction decode = variantDecoder(*variant, format, rule);
    for (unsigned long i = 0; i < times; ++i)
        countedDecode(decode, input, outdata);
    unsigned sum = 0;
    for (unsigned char byte : planes)
        sum += byte;
    std::printf("%s %s (%s rule): %zu blocks decoded, checksum %u\n", variant->name, info.name,
                rule == ColourRule::gpu ? "gpu" : "design", blocks, sum);
    return 0;
}
