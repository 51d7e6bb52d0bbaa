#pragma once
// zstd for the delta code: compressed copies of whole files (plain zstd frames
// that any zstd decoder reads), the patch streams, and the incremental decoder
// both are read through.
#include <cstdint>
#include <string>

#include "platform/delta/DeltaFormat.h"
#include "platform/delta/DeltaIo.h"

typedef struct ZSTD_DCtx_s ZSTD_DCtx;

// A compressed copy: level 19, long-distance matching with the window sized to
// the file (at most 128 MiB), content size and checksum in the frame.
DeltaError ZstdCompressFile(const std::string& strIn, const std::string& strOut);
// Decompresses a compressed copy into strOut as it is read; fails (and leaves
// no strOut) when the result would exceed cbMax or the frame is damaged.
DeltaError ZstdDecompressFile(const std::string& strIn, const std::string& strOut, std::uint64_t cbMax);

// The level of patch streams and compressed copies.
constexpr int kZstdPatchLevel = 19;
// One frame of a patch stream, window at most 8 MiB; false when out of memory.
bool ZstdCompressBuffer(const unsigned char* p, std::size_t cb, std::string& strOut, int level = kZstdPatchLevel);

// Decodes one zstd frame held at [offset, offset + cb) of a file, as much as the caller asks for.
class ZstdFrameReader {
public:
    ZstdFrameReader() = default;
    ~ZstdFrameReader();
    ZstdFrameReader(const ZstdFrameReader&) = delete;
    ZstdFrameReader& operator=(const ZstdFrameReader&) = delete;

    DeltaError Open(const DeltaInputFile& file, std::uint64_t offset, std::uint64_t cb, int windowLogMax);
    // Exactly cb decoded bytes into pv; Truncated or Damaged when the frame has fewer.
    DeltaError Read(void* pv, std::size_t cb);
    // Up to cbMax decoded bytes; cbGot 0 means the frame ended.
    DeltaError ReadSome(void* pv, std::size_t cbMax, std::size_t& cbGot);
    // After the last Read: the frame must end here and use all of its bytes.
    DeltaError Finish();

private:
    DeltaError Refill();
    const DeltaInputFile* m_pFile = nullptr;
    ZSTD_DCtx* m_pCtx = nullptr;
    std::uint64_t m_next = 0;       // file offset of the next unread compressed byte
    std::uint64_t m_remaining = 0;  // compressed bytes not yet read from the file
    std::string m_in;
    std::size_t m_inPos = 0;
    bool m_bFrameEnded = false;
};
