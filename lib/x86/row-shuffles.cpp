#include "x86/row-shuffles.h"

#ifdef HAVE_X86_VARIANTS

// Constant-initialized: no code runs at load time, whatever the CPU.
constexpr RowShuffles rgbRowShuffles = makeRowShuffles<kRgbBytes>();
constexpr RowShuffles rgbaRowShuffles = makeRowShuffles<kRgbaBytes>();
#endif
