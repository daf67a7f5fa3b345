// The AVX512 BC6H decoders: two blocks of one mode per 256-bit register, one
// in each 128-bit lane (bc6h-lanes.h), as AVX2's are, but with AVX-512's
// encoding and so its 32 registers (in 64-bit builds; 32-bit x86 has 8).
// A BC6H lane's work is mostly its own
// (its block's load, its partition's indices, its rows' 24-byte stores):
// at four lanes a register that costs an insert or an extract a lane, which
// the wider operations do not earn back on a core that runs them as two
// halves. On such a core (AMD Zen 4) these decode about 30% faster than
// four lanes did, and about 8% faster than AVX2's, for the registers.
#include "bc6h-decoder.h"

#ifdef HAVE_X86_VARIANTS

#include "avx512-lanes.h" // this variant's target, which the 256-bit operations take
#include "x86/avx2/avx2-lanes.h"

#include "bc7-lanes.h"
#include "bc6h-lanes.h"

VARIANT_TARGET void decodeBC6HBlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc6h::decodeBlocks<Avx2, false>(data, len, outdata);
}

VARIANT_TARGET void decodeBC6HSBlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc6h::decodeBlocks<Avx2, true>(data, len, outdata);
}

#endif
