// The NEON BC7 decoder: one block per register (bc7-lanes.h), run through
// the NEON operations (neon-lanes.h).
#include "bc7-decoder.h"

#ifdef HAVE_NEON_VARIANT

#include "neon/neon-lanes.h"

#include "bc7-lanes.h"

void decodeBC7BlocksNEON(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc7::decodeBlocks<Neon>(data, len, outdata);
}

#endif
