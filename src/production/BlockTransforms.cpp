// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/BlockTransforms.h"

#include <mutex>

// mpeg2enc's transforms and the pointers it calls them through. The library installs no
// header for them; these are its exported C symbols.
extern "C" {
extern void (*pfdct)(std::int16_t* block);
extern void (*pidct)(std::int16_t* block);
void fdct_daan(std::int16_t* block);
void fdct_ref(std::int16_t* block);
void idct(std::int16_t* block);
void idct_ref(std::int16_t* block);
void init_fdct_daan();
void init_fdct_ref();
void init_idct();
void init_idct_ref();
}

namespace lumivox {
namespace {

// Each initialiser fills constant tables; running them once per process is enough, and
// running them again (the library's own set-up does) writes the same values.
void InitialiseTables()
{
    static std::once_flag once;
    std::call_once(once, [] {
        init_fdct_daan();
        init_fdct_ref();
        init_idct();
        init_idct_ref();
    });
}

} // namespace

BlockTransformPair FastBlockTransforms()
{
    InitialiseTables();
    return {fdct_daan, idct};
}

BlockTransformPair ReferenceBlockTransforms()
{
    InitialiseTables();
    return {fdct_ref, idct_ref};
}

void InstallStillTransforms(StillTransforms which)
{
    const BlockTransformPair pair =
        which == StillTransforms::Reference ? ReferenceBlockTransforms() : FastBlockTransforms();
    pfdct = pair.forward;
    pidct = pair.inverse;
}

} // namespace lumivox
