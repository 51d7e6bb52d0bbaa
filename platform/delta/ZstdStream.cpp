#include "platform/delta/ZstdStream.h"

#include <zstd.h>

#include <algorithm>
#include <new>
#include <vector>

namespace {

constexpr std::size_t kChunk = 1 << 17;

struct CCtxOwner {
    ZSTD_CCtx* p = ZSTD_createCCtx();
    ~CCtxOwner() { ZSTD_freeCCtx(p); }
};

int WindowLogFor(std::uint64_t cb, int maxLog) {
    int log = 10;   // zstd's smallest window
    while (log < maxLog && (std::uint64_t(1) << log) < cb) ++log;
    return log;
}

}  // namespace

DeltaError ZstdCompressFile(const std::string& strIn, const std::string& strOut) {
    DeltaInputFile in;
    if (!in.Open(strIn)) return DeltaError::InputUnreadable;
    CCtxOwner ctx;
    if (!ctx.p) return DeltaError::OutOfMemory;
    ZSTD_CCtx_setParameter(ctx.p, ZSTD_c_compressionLevel, kZstdPatchLevel);
    ZSTD_CCtx_setParameter(ctx.p, ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(ctx.p, ZSTD_c_enableLongDistanceMatching, 1);
    ZSTD_CCtx_setParameter(ctx.p, ZSTD_c_windowLog, WindowLogFor(in.Size(), delta_format::kCopyMaxWindowLog));
    ZSTD_CCtx_setPledgedSrcSize(ctx.p, in.Size());
    DeltaOutputFile out;
    if (!out.Create(strOut)) return DeltaError::OutputUnwritable;
    std::vector<unsigned char> inBuf(kChunk), outBuf(ZSTD_CStreamOutSize());
    std::uint64_t offset = 0;
    for (;;) {
        const std::size_t cbIn = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, in.Size() - offset));
        if (cbIn > 0 && !in.ReadAt(offset, inBuf.data(), cbIn)) return DeltaError::InputUnreadable;
        offset += cbIn;
        const bool bLast = offset == in.Size();
        ZSTD_inBuffer input = {inBuf.data(), cbIn, 0};
        for (;;) {
            ZSTD_outBuffer output = {outBuf.data(), outBuf.size(), 0};
            const std::size_t rc = ZSTD_compressStream2(ctx.p, &output, &input, bLast ? ZSTD_e_end : ZSTD_e_continue);
            if (ZSTD_isError(rc)) return DeltaError::OutOfMemory;
            if (!out.Write(outBuf.data(), output.pos)) return DeltaError::OutputUnwritable;
            if (bLast ? rc == 0 : input.pos == input.size) break;
        }
        if (bLast) break;
    }
    return out.Commit() ? DeltaError::None : DeltaError::OutputUnwritable;
}

DeltaError ZstdDecompressFile(const std::string& strIn, const std::string& strOut, std::uint64_t cbMax) {
    DeltaInputFile in;
    if (!in.Open(strIn)) return DeltaError::InputUnreadable;
    ZstdFrameReader reader;
    DeltaError e = reader.Open(in, 0, in.Size(), delta_format::kCopyMaxWindowLog);
    if (e != DeltaError::None) return e;
    DeltaOutputFile out;
    if (!out.Create(strOut)) return DeltaError::OutputUnwritable;
    std::vector<unsigned char> buf(kChunk);
    for (;;) {
        std::size_t cbGot = 0;
        e = reader.ReadSome(buf.data(), buf.size(), cbGot);
        if (e != DeltaError::None) return e;
        if (cbGot == 0) break;
        if (cbGot > cbMax - out.Written()) return DeltaError::TooLarge;
        if (!out.Write(buf.data(), cbGot)) return DeltaError::OutputUnwritable;
    }
    e = reader.Finish();
    if (e != DeltaError::None) return e;
    return out.Commit() ? DeltaError::None : DeltaError::OutputUnwritable;
}

bool ZstdCompressBuffer(const unsigned char* p, std::size_t cb, std::string& strOut, int level) {
    CCtxOwner ctx;
    if (!ctx.p) return false;
    ZSTD_CCtx_setParameter(ctx.p, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(ctx.p, ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(ctx.p, ZSTD_c_windowLog, WindowLogFor(cb, delta_format::kStreamWindowLog));
    try {
        strOut.resize(ZSTD_compressBound(cb));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const std::size_t rc = ZSTD_compress2(ctx.p, &strOut[0], strOut.size(), p, cb);
    if (ZSTD_isError(rc)) return false;
    strOut.resize(rc);
    return true;
}

ZstdFrameReader::~ZstdFrameReader() { ZSTD_freeDCtx(m_pCtx); }

DeltaError ZstdFrameReader::Open(const DeltaInputFile& file, std::uint64_t offset, std::uint64_t cb,
                                 int windowLogMax) {
    m_pFile = &file;
    m_next = offset;
    m_remaining = cb;
    m_pCtx = ZSTD_createDCtx();
    if (!m_pCtx) return DeltaError::OutOfMemory;
    // The window bounds what the decoder may allocate, whatever the frame claims.
    ZSTD_DCtx_setParameter(m_pCtx, ZSTD_d_windowLogMax, windowLogMax);
    m_in.reserve(kChunk);
    return DeltaError::None;
}

DeltaError ZstdFrameReader::Refill() {
    const std::size_t cb = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, m_remaining));
    m_in.resize(cb);
    m_inPos = 0;
    if (cb == 0) return DeltaError::Truncated;
    if (!m_pFile->ReadAt(m_next, &m_in[0], cb)) return DeltaError::InputUnreadable;
    m_next += cb;
    m_remaining -= cb;
    return DeltaError::None;
}

DeltaError ZstdFrameReader::ReadSome(void* pv, std::size_t cbMax, std::size_t& cbGot) {
    cbGot = 0;
    ZSTD_outBuffer output = {pv, cbMax, 0};
    while (output.pos == 0 && !m_bFrameEnded) {
        if (m_inPos == m_in.size()) {
            const DeltaError e = Refill();
            if (e != DeltaError::None) return e;
        }
        ZSTD_inBuffer input = {m_in.data(), m_in.size(), m_inPos};
        const std::size_t rc = ZSTD_decompressStream(m_pCtx, &output, &input);
        m_inPos = input.pos;
        if (ZSTD_isError(rc)) return DeltaError::Damaged;
        if (rc == 0) m_bFrameEnded = true;
    }
    cbGot = output.pos;
    return DeltaError::None;
}

DeltaError ZstdFrameReader::Read(void* pv, std::size_t cb) {
    auto* p = static_cast<unsigned char*>(pv);
    while (cb > 0) {
        std::size_t cbGot = 0;
        const DeltaError e = ReadSome(p, cb, cbGot);
        if (e != DeltaError::None) return e;
        if (cbGot == 0) return DeltaError::Damaged;   // the frame ended early
        p += cbGot;
        cb -= cbGot;
    }
    return DeltaError::None;
}

DeltaError ZstdFrameReader::Finish() {
    if (!m_bFrameEnded) {
        unsigned char extra;
        std::size_t cbGot = 0;
        const DeltaError e = ReadSome(&extra, 1, cbGot);
        if (e != DeltaError::None) return e;
        if (cbGot != 0) return DeltaError::Damaged;   // more content than declared
    }
    return (m_inPos == m_in.size() && m_remaining == 0) ? DeltaError::None : DeltaError::Damaged;
}
