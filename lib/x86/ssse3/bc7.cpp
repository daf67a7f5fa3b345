// The SSSE3 BC7 decoder: one block per register (bc7-lanes.h).
#include "bc7-decoder.h"

#ifdef HAVE_X86_VARIANTS

#include "ssse3-lanes.h"

#include "bc7-lanes.h"

VARIANT_TARGET void decodeBC7BlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc7::decodeBlocks<Ssse3>(data, len, outdata);
}

#endif
