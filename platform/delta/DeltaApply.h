#pragma once
// Applies a patch made by MakeDeltaPatch: the result is written to strOut as
// it is decoded, with the old file mapped read-only (opened with every sharing
// flag, so a running program's image can be the reference) and the patch's
// four streams decoded incrementally. Private memory stays bounded whatever
// the file sizes: four decoders of at most 8 MiB window each plus small buffers.
//
// cbMax bounds the result (the caller's expected size, or kDeltaUnbounded): a
// patch declaring more is refused before anything is written. On any failure
// strOut does not exist afterwards.
#include <cstdint>
#include <string>

#include "platform/delta/DeltaFormat.h"

DeltaError ApplyDeltaPatch(const std::string& strOld, const std::string& strPatch, const std::string& strOut,
                           std::uint64_t cbMax);
