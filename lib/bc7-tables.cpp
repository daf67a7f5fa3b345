// The one definition of each of BC7's tables (C++14 asks for one outside the
// class for every constexpr member that is used by address, as the decoders'
// loads do).
#include "bc7-tables.h"

constexpr Bc7ModeLayout Bc7Tables::modes[kBc7Modes];
constexpr unsigned char Bc7Tables::partitions2[kBc7Partitions][kBc7Pixels];
constexpr unsigned char Bc7Tables::partitions3[kBc7Partitions][kBc7Pixels];
constexpr unsigned char Bc7Tables::anchors2[kBc7Partitions];
constexpr unsigned char Bc7Tables::anchors3Second[kBc7Partitions];
constexpr unsigned char Bc7Tables::anchors3Third[kBc7Partitions];
constexpr unsigned char Bc7Tables::weights2[4];
constexpr unsigned char Bc7Tables::weights3[8];
constexpr unsigned char Bc7Tables::weights4[16];
