// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The 8x8 block transforms of the still encoder (mjpegtools' mpeg2enc).
//
// On this platform the library chooses its reference transforms: a forward and an inverse
// DCT as double-precision matrix products, which took about a third of all the time a
// slide costs. The library reaches its transforms through two function pointers that it
// exports ("pfdct", "pidct") and ships faster transforms beside them; the encoder process
// installs the fast pair once the library has made its own choice:
//   - forward: the library's double-precision AAN factorisation, the same transform as the
//     reference to within its rounding (a coefficient differs by at most one);
//   - inverse: the library's integer Chen-Wang transform, which meets the IEEE 1180
//     accuracy limits (output clipped to -256..255 as the standard requires).
// The inverse only rebuilds the picture the encoder predicts from, so for a single still
// it does not change the stream; the forward transform does (by a rounding now and then).
//
// Blocks are 64 coefficients or samples in row order; the transforms work in place.

#include <cstdint>

namespace lumivox {

using BlockTransform = void (*)(std::int16_t* block);

struct BlockTransformPair {
    BlockTransform forward = nullptr;
    BlockTransform inverse = nullptr;
};

// Which pair the encoder uses for a still.
enum class StillTransforms : std::int32_t {
    Fast = 0, // the pair above: what every still of a disc is encoded with
    Reference = 1, // the library's reference pair, to compare the fast pair's quality with
};

// The pairs, ready to call (the library's tables are set up on first use).
BlockTransformPair FastBlockTransforms();
BlockTransformPair ReferenceBlockTransforms();

// Makes the encoder library of this process use `which`. Call after the encoder object has
// been constructed (its one-time set-up installs the reference pair) and before encoding.
void InstallStillTransforms(StillTransforms which);

} // namespace lumivox
