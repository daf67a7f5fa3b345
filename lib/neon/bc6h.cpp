// The NEON BC6H decoders: one block per register (bc6h-lanes.h).
#include "bc6h-decoder.h"

#ifdef HAVE_NEON_VARIANT

#include "neon-lanes.h"

#include "bc7-lanes.h"
#include "bc6h-lanes.h"

void decodeBC6HBlocksNEON(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc6h::decodeBlocks<Neon, false>(data, len, outdata);
}

void decodeBC6HSBlocksNEON(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc6h::decodeBlocks<Neon, true>(data, len, outdata);
}

#endif
