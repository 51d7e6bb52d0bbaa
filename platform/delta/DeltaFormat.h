#pragma once
// The patch file's layout (docs/patches.md) and the reasons a patch or a
// compressed copy is refused. Shared by making and applying.
#include <cstdint>

// Why making, applying or decompressing stopped; None is success.
enum class DeltaError {
    None,
    OldUnreadable,      // the reference file cannot be opened or mapped
    InputUnreadable,    // the patch or compressed copy cannot be opened or read
    OutputUnwritable,   // the result cannot be created or written
    NotAPatch,          // wrong magic
    UnsupportedVersion, // a format version this build does not know
    WrongBase,          // the reference file is not the one the patch was made from (size)
    TooLarge,           // the result would exceed the caller's bound
    Truncated,          // the input ends before its declared content
    Damaged,            // a stream does not decode, or its content is inconsistent
    TooLargeToPatch,    // make: a file above the bound that gets no patch
    OutOfMemory,        // make: buffers for the file could not be allocated
};

// Short English text for logs.
const char* DeltaErrorText(DeltaError e);

// A file the result cannot exceed when the caller knows no tighter bound.
constexpr std::uint64_t kDeltaUnbounded = ~std::uint64_t(0);
// Files above this get no patch: making needs about 9 bytes per byte of the
// old file, and the suffix array's indices are 32-bit.
constexpr std::uint64_t kDeltaMaxFileSize = std::uint64_t(1) << 30;

namespace delta_format {
constexpr char kMagic[8] = {'Q', 'O', 'V', 'A', 'D', 'L', 'T', 'A'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 56;
// The patch streams are decoded with at most this window (8 MiB each).
constexpr int kStreamWindowLog = 23;
// A compressed copy's window: sized to the file, at most 128 MiB, which
// Linux `zstd -d` accepts without options.
constexpr int kCopyMaxWindowLog = 27;

struct Header {
    std::uint64_t newSize = 0;
    std::uint64_t oldSize = 0;
    std::uint64_t controlSize = 0;   // compressed sizes of the three streams, in file order
    std::uint64_t diffSize = 0;
    std::uint64_t extraSize = 0;
};

void WriteHeader(const Header& h, unsigned char out[kHeaderSize]);
// NotAPatch, UnsupportedVersion or None.
DeltaError ReadHeader(const unsigned char in[kHeaderSize], Header& h);

inline void PutU64(unsigned char* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline std::uint64_t GetU64(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
}  // namespace delta_format
