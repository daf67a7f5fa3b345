// The AVX2 BC6H decoders: two blocks of one mode per register, one in each 128-bit lane (bc6h-lanes.h).
#include "bc6h-decoder.h"

#ifdef HAVE_X86_VARIANTS

#include "avx2-lanes.h"

#include "bc7-lanes.h"
#include "bc6h-lanes.h"

VARIANT_TARGET void decodeBC6HBlocksAVX2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc6h::decodeBlocks<Avx2, false>(data, len, outdata);
}

VARIANT_TARGET void decodeBC6HSBlocksAVX2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc6h::decodeBlocks<Avx2, true>(data, len, outdata);
}

#endif
