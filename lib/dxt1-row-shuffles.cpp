#include "dxt1-palette-layout.h"

// Constant-initialized: no code runs at load time, whatever the CPU.
constexpr Dxt1RowShuffles dxt1RowShuffles = makeDxt1RowShuffles();
