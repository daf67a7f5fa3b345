// Byte-shuffle controls for the vector variants. A block's palette register
// holds colour 0 at bytes 0-2, colour 1 at 3-5, colour 2 at 8-10 and colour 3
// at 11-13. Entry i of the table turns a row's index byte i into the control
// that gathers that row's four RGB pixels into bytes 0-11 (bytes 12-15 zero).
#ifndef DXT1_ROW_SHUFFLES_H
#define DXT1_ROW_SHUFFLES_H

struct Dxt1RowShuffles {
    alignas(16) unsigned char control[256][16];
};

constexpr Dxt1RowShuffles makeDxt1RowShuffles()
{
    Dxt1RowShuffles table{};
    const unsigned char colourOffset[4] = {0, 3, 8, 11};
    for (unsigned i = 0; i < 256; ++i) {
        for (unsigned xo = 0; xo < 4; ++xo)
            for (unsigned c = 0; c < 3; ++c)
                table.control[i][3 * xo + c] =
                    static_cast<unsigned char>(colourOffset[(i >> (2 * xo)) & 3u] + c);
        for (unsigned j = 12; j < 16; ++j)
            table.control[i][j] = 0x80;
    }
    return table;
}

// The table, built at compile time and shared by the vector decoders.
extern const Dxt1RowShuffles dxt1RowShuffles;

#endif
