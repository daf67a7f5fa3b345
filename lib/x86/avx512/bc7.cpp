// The AVX-512 BC7 decoder: four blocks of one mode per register, one in each 128-bit lane (bc7-lanes.h).
#include "bc7-decoder.h"

#ifdef HAVE_X86_VARIANTS

#include "avx512-lanes.h"

#include "bc7-lanes.h"

VARIANT_TARGET void decodeBC7BlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc7::decodeBlocks<Avx512>(data, len, outdata);
}

#endif
