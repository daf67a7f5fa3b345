// Decodes one BC7 run with one variant, TIMES times, for counting
// instructions where time means nothing (under an emulator):
//   qemu-aarch64 -singlestep -d nochain,exec -D FIFO bc7-instruction-count neon mixed 256 3
// The difference between the counts with TIMES 3 and 1, over twice BLOCKS,
// is the instructions per block without the set-up.
#include "bc7-runs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s VARIANT mixed|mode0..mode7 BLOCKS TIMES\n", argv[0]);
        return 2;
    }
    const Bc7Variant *variant = nullptr;
    const std::vector<Bc7Variant> variants = bc7Variants();
    for (const Bc7Variant &v : variants)
        if (std::strcmp(v.name, argv[1]) == 0 && v.supported)
            variant = &v;
    int mode = kBc7Mixed - 1;
    for (int m = kBc7Mixed; m < int(kBc7Modes); ++m)
        if (bc7RunName(m) == argv[2])
            mode = m;
    if (variant == nullptr || mode < kBc7Mixed) {
        std::fprintf(stderr, "%s: no variant %s on this CPU, or no run %s\n", argv[0], argv[1], argv[2]);
        return 2;
    }
    const std::size_t blocks = std::strtoul(argv[3], nullptr, 10);
    const unsigned long times = std::strtoul(argv[4], nullptr, 10);
    const std::vector<unsigned char> input = bc7Run(mode, blocks);
    std::vector<unsigned char> planes(4 * 16 * blocks);
    unsigned char *const outdata[4] = {&planes[0], &planes[16 * blocks], &planes[32 * blocks], &planes[48 * blocks]};
    for (unsigned long t = 0; t < times; ++t)
        variant->decode(input.data(), input.size(), outdata);
    unsigned sum = 0; // so that the decoding cannot be left out
    for (unsigned char byte : planes)
        sum += byte;
    std::printf("%u\n", sum);
    return 0;
}
