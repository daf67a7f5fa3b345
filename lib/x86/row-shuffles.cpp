#include "x86/row-shuffles.h"

#ifdef DXT1_HAVE_X86_VARIANTS

// Constant-initialized: no code runs at load time, whatever the CPU.
constexpr Dxt1RowShuffles dxt1RowShuffles = makeDxt1RowShuffles<kRgbBytes>();
constexpr Dxt1RowShuffles dxt1RgbaRowShuffles = makeDxt1RowShuffles<kRgbaBytes>();
#endif
