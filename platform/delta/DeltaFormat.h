#pragma once
// The patch file's layout (docs/patches.md) and the reasons a patch or a
// compressed copy is refused. Shared by making and applying.
#include <cstddef>
#include <cstdint>
#include <string>

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
// Files above this get no patch: making needs about 6 bytes per byte of the
// old file, and the suffix array's indices are 32-bit.
constexpr std::uint64_t kDeltaMaxFileSize = std::uint64_t(1) << 30;

namespace delta_format {
constexpr char kMagic[8] = {'Q', 'O', 'V', 'A', 'D', 'L', 'T', 'A'};
constexpr std::uint32_t kVersion = 2;
// The method byte: how the streams encode the new file. One so far.
constexpr unsigned char kMethodSparseDiff = 1;
// Magic, version and method; the sizes follow as varints.
constexpr std::size_t kFixedHeaderSize = 13;
constexpr std::size_t kMaxVarintSize = 10;
constexpr std::size_t kMaxHeaderSize = kFixedHeaderSize + 6 * kMaxVarintSize;
// The patch streams are decoded with at most this window (8 MiB each).
constexpr int kStreamWindowLog = 23;
// A compressed copy's window: sized to the file, at most 128 MiB, which
// Linux `zstd -d` accepts without options.
constexpr int kCopyMaxWindowLog = 27;

// The streams of the sparse-difference method, in file order.
enum Stream { kControl, kGaps, kValues, kExtra, kStreamCount };

struct Header {
    std::uint64_t newSize = 0;
    std::uint64_t oldSize = 0;
    std::uint64_t streamSize[kStreamCount] = {};   // compressed sizes
};

// The encoded header, at most kMaxHeaderSize bytes.
std::string WriteHeader(const Header& h);
// From the first cb bytes of a patch: NotAPatch, UnsupportedVersion (also an
// unknown method), Truncated, Damaged or None with the header's length in cbHeader.
DeltaError ReadHeader(const unsigned char* in, std::size_t cb, Header& h, std::size_t& cbHeader);

// LEB128: seven bits a byte, low first.
void PutVarint(std::string& out, std::uint64_t v);
// Bytes used from p[0..cb), or 0 when the varint runs past cb or is longer than
// kMaxVarintSize; a tenth byte above 1 (more than 64 bits) is refused too.
std::size_t GetVarint(const unsigned char* p, std::size_t cb, std::uint64_t& v);
inline std::uint64_t Zigzag(std::int64_t v) {
    return (static_cast<std::uint64_t>(v) << 1) ^ (v < 0 ? ~std::uint64_t(0) : 0);
}
inline std::int64_t Unzigzag(std::uint64_t v) {
    return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
}
}  // namespace delta_format
