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

std::string WriteHeader(const Header& h) {
    std::string out(kMagic, sizeof(kMagic));
    for (int i = 0; i < 4; ++i) out += static_cast<char>(kVersion >> (8 * i));
    out += static_cast<char>(kMethodSparseDiff);
    PutVarint(out, h.newSize);
    PutVarint(out, h.oldSize);
    for (std::uint64_t cb : h.streamSize) PutVarint(out, cb);
    return out;
}

DeltaError ReadHeader(const unsigned char* in, std::size_t cb, Header& h, std::size_t& cbHeader) {
    if (cb < sizeof(kMagic) || std::memcmp(in, kMagic, sizeof(kMagic)) != 0) return DeltaError::NotAPatch;
    if (cb < kFixedHeaderSize) return DeltaError::Truncated;
    std::uint32_t version = 0;
    for (int i = 3; i >= 0; --i) version = (version << 8) | in[8 + i];
    if (version != kVersion || in[12] != kMethodSparseDiff) return DeltaError::UnsupportedVersion;
    std::uint64_t* fields[2 + kStreamCount] = {&h.newSize, &h.oldSize};
    for (int i = 0; i < kStreamCount; ++i) fields[2 + i] = &h.streamSize[i];
    std::size_t at = kFixedHeaderSize;
    for (std::uint64_t* pField : fields) {
        const std::size_t used = GetVarint(in + at, cb - at, *pField);
        if (used == 0) return cb - at < kMaxVarintSize ? DeltaError::Truncated : DeltaError::Damaged;
        at += used;
    }
    cbHeader = at;
    return DeltaError::None;
}

void PutVarint(std::string& out, std::uint64_t v) {
    for (; v >= 0x80; v >>= 7) out += static_cast<char>((v & 0x7F) | 0x80);
    out += static_cast<char>(v);
}

std::size_t GetVarint(const unsigned char* p, std::size_t cb, std::uint64_t& v) {
    v = 0;
    for (std::size_t i = 0; i < cb && i < kMaxVarintSize; ++i) {
        if (i == kMaxVarintSize - 1 && p[i] > 1) return 0;
        v |= static_cast<std::uint64_t>(p[i] & 0x7F) << (7 * i);
        if (!(p[i] & 0x80)) return i + 1;
    }
    return 0;
}

}  // namespace delta_format
