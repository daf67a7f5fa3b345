// The one definition of BC6H's mode table (C++14 asks for one outside the
// class for every constexpr member that is used by address).
#include "bc6h-tables.h"

constexpr Bc6hMode Bc6hTables::modes[kBc6hModes];
