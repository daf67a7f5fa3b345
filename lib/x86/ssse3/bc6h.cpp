// The SSSE3 BC6H decoders: one block per register (bc6h-lanes.h).
#include "bc6h-decoder.h"

#ifdef HAVE_X86_VARIANTS

#include "ssse3-lanes.h"

#include "bc7-lanes.h"
#include "bc6h-lanes.h"

VARIANT_TARGET void decodeBC6HBlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc6h::decodeBlocks<Ssse3, false>(data, len, outdata);
}

VARIANT_TARGET void decodeBC6HSBlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc6h::decodeBlocks<Ssse3, true>(data, len, outdata);
}

#endif
