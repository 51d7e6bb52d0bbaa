#include "platform/delta/DeltaFormat.h"

#include <cstring>

const char* DeltaErrorText(DeltaError e) {
    switch (e) {
    case DeltaError::None: return "done";
    case DeltaError::OldUnreadable: return "the reference file cannot be read";
    case DeltaError::InputUnreadable: return "the input cannot be read";
    case DeltaError::OutputUnwritable: return "the result cannot be written";
    case DeltaError::NotAPatch: return "not a patch";
    case DeltaError::UnsupportedVersion: return "unknown patch format version";
    case DeltaError::WrongBase: return "the reference file is not the patch's base";
    case DeltaError::TooLarge: return "the result would exceed its bound";
    case DeltaError::Truncated: return "the input is truncated";
    case DeltaError::Damaged: return "the input is damaged";
    case DeltaError::TooLargeToPatch: return "the file is too large for a patch";
    case DeltaError::OutOfMemory: return "out of memory";
    }
    return "unknown error";
}

namespace delta_format {

void WriteHeader(const Header& h, unsigned char out[kHeaderSize]) {
    std::memcpy(out, kMagic, 8);
    for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<unsigned char>(kVersion >> (8 * i));
    std::memset(out + 12, 0, 4);
    PutU64(out + 16, h.newSize);
    PutU64(out + 24, h.oldSize);
    PutU64(out + 32, h.controlSize);
    PutU64(out + 40, h.diffSize);
    PutU64(out + 48, h.extraSize);
}

DeltaError ReadHeader(const unsigned char in[kHeaderSize], Header& h) {
    if (std::memcmp(in, kMagic, 8) != 0) return DeltaError::NotAPatch;
    std::uint32_t version = 0;
    for (int i = 3; i >= 0; --i) version = (version << 8) | in[8 + i];
    if (version != kVersion) return DeltaError::UnsupportedVersion;
    for (int i = 12; i < 16; ++i)
        if (in[i] != 0) return DeltaError::UnsupportedVersion;   // flags: none defined yet
    h.newSize = GetU64(in + 16);
    h.oldSize = GetU64(in + 24);
    h.controlSize = GetU64(in + 32);
    h.diffSize = GetU64(in + 40);
    h.extraSize = GetU64(in + 48);
    return DeltaError::None;
}

}  // namespace delta_format
