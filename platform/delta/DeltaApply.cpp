#include "platform/delta/DeltaApply.h"

#include <algorithm>
#include <vector>

#include "platform/delta/DeltaIo.h"
#include "platform/delta/ZstdStream.h"

namespace {

using delta_format::kStreamCount;
constexpr std::size_t kChunk = 1 << 16;
constexpr std::uint64_t kNone = ~std::uint64_t(0);

// a + b without wrapping; false when it would.
bool AddChecked(std::uint64_t a, std::uint64_t b, std::uint64_t& sum) {
    sum = a + b;
    return sum >= a;
}

// A patch stream read a byte or a varint at a time through a buffer.
class StreamBytes {
public:
    DeltaError Open(const DeltaInputFile& file, std::uint64_t offset, std::uint64_t cb) {
        m_buf.resize(kChunk);
        return m_reader.Open(file, offset, cb, delta_format::kStreamWindowLog);
    }
    // The next byte, or bEnd when the frame has ended.
    DeltaError Next(unsigned char& b, bool& bEnd) {
        bEnd = false;
        if (m_pos == m_end) {
            m_pos = m_end = 0;
            const DeltaError e = m_reader.ReadSome(m_buf.data(), m_buf.size(), m_end);
            if (e != DeltaError::None) return e;
            if (m_end == 0) {
                bEnd = true;
                return DeltaError::None;
            }
        }
        b = m_buf[m_pos++];
        return DeltaError::None;
    }
    // bEnd only when the frame ended before the varint; inside one it is Damaged.
    DeltaError Varint(std::uint64_t& v, bool& bEnd) {
        v = 0;
        for (std::size_t i = 0; i < delta_format::kMaxVarintSize; ++i) {
            unsigned char b = 0;
            const DeltaError e = Next(b, bEnd);
            if (e != DeltaError::None) return e;
            if (bEnd) return i == 0 ? DeltaError::None : DeltaError::Damaged;
            if (i == delta_format::kMaxVarintSize - 1 && b > 1) return DeltaError::Damaged;
            v |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return DeltaError::None;
        }
        return DeltaError::Damaged;
    }
    DeltaError Read(unsigned char* p, std::size_t cb) {
        const std::size_t cbBuffered = std::min(cb, m_end - m_pos);
        std::copy(m_buf.data() + m_pos, m_buf.data() + m_pos + cbBuffered, p);
        m_pos += cbBuffered;
        return cb > cbBuffered ? m_reader.Read(p + cbBuffered, cb - cbBuffered) : DeltaError::None;
    }
    DeltaError Finish() { return m_pos == m_end ? m_reader.Finish() : DeltaError::Damaged; }

private:
    ZstdFrameReader m_reader;
    std::vector<unsigned char> m_buf;
    std::size_t m_pos = 0, m_end = 0;
};

// Rebuilds the new file from the mapped old one and the four streams, in order.
class Applier {
public:
    Applier(const DeltaMappedFile& old, const delta_format::Header& h, DeltaOutputFile& out)
        : m_pOld(old.Data()), m_oldSize(static_cast<std::int64_t>(h.oldSize)), m_newSize(h.newSize), m_out(out),
          m_buf(kChunk) {}
    DeltaError Run(const DeltaInputFile& patch, std::uint64_t offset, const delta_format::Header& h);

private:
    DeltaError NextGap(std::uint64_t from);
    DeltaError Add(std::uint64_t cbAdd);
    DeltaError Extra(std::uint64_t cbExtra);

    const unsigned char* m_pOld;
    const std::int64_t m_oldSize;
    const std::uint64_t m_newSize;
    DeltaOutputFile& m_out;
    std::vector<unsigned char> m_buf;
    StreamBytes m_streams[kStreamCount];
    std::uint64_t m_newPos = 0;
    std::int64_t m_oldPos = 0;
    std::uint64_t m_diffPos = 0;       // difference bytes applied so far
    std::uint64_t m_nextNonzero = 0;   // index of the next nonzero difference byte, kNone after the last
};

DeltaError Applier::NextGap(std::uint64_t from) {
    std::uint64_t gap = 0;
    bool bEnd = false;
    const DeltaError e = m_streams[delta_format::kGaps].Varint(gap, bEnd);
    if (e != DeltaError::None) return e;
    if (!bEnd && gap > m_newSize) return DeltaError::Damaged;
    m_nextNonzero = bEnd ? kNone : from + gap;
    return DeltaError::None;
}

DeltaError Applier::Add(std::uint64_t cbAdd) {
    if (cbAdd > 0 && (m_oldPos < 0 || m_oldPos > m_oldSize || static_cast<std::uint64_t>(m_oldSize - m_oldPos) < cbAdd))
        return DeltaError::Damaged;
    for (std::uint64_t done = 0; done < cbAdd;) {
        const std::size_t cb = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, cbAdd - done));
        const unsigned char* pFrom = m_pOld + m_oldPos + done;
        if (m_nextNonzero - m_diffPos >= cb) {   // all zero: the old bytes as they are
            if (!m_out.Write(pFrom, cb)) return DeltaError::OutputUnwritable;
        } else {
            std::copy(pFrom, pFrom + cb, m_buf.data());
            while (m_nextNonzero - m_diffPos < cb) {
                unsigned char value = 0;
                bool bEnd = false;
                DeltaError e = m_streams[delta_format::kValues].Next(value, bEnd);
                if (e != DeltaError::None) return e;
                if (bEnd || value == 0) return DeltaError::Damaged;
                m_buf[static_cast<std::size_t>(m_nextNonzero - m_diffPos)] += value;
                if ((e = NextGap(m_nextNonzero + 1)) != DeltaError::None) return e;
            }
            if (!m_out.Write(m_buf.data(), cb)) return DeltaError::OutputUnwritable;
        }
        m_diffPos += cb;
        done += cb;
    }
    m_oldPos += static_cast<std::int64_t>(cbAdd);
    m_newPos += cbAdd;
    return DeltaError::None;
}

DeltaError Applier::Extra(std::uint64_t cbExtra) {
    for (std::uint64_t done = 0; done < cbExtra;) {
        const std::size_t cb = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, cbExtra - done));
        const DeltaError e = m_streams[delta_format::kExtra].Read(m_buf.data(), cb);
        if (e != DeltaError::None) return e;
        if (!m_out.Write(m_buf.data(), cb)) return DeltaError::OutputUnwritable;
        done += cb;
    }
    m_newPos += cbExtra;
    return DeltaError::None;
}

DeltaError Applier::Run(const DeltaInputFile& patch, std::uint64_t offset, const delta_format::Header& h) {
    DeltaError e = DeltaError::None;
    for (int i = 0; i < kStreamCount && e == DeltaError::None; offset += h.streamSize[i++])
        e = m_streams[i].Open(patch, offset, h.streamSize[i]);
    if (e == DeltaError::None) e = NextGap(0);
    // A seek, or an old position, further out than both files are long cannot
    // come from the maker; with the sizes below INT64_MAX / 4 nothing here wraps.
    const std::int64_t bound = m_oldSize + static_cast<std::int64_t>(m_newSize);
    while (e == DeltaError::None && m_newPos < m_newSize) {
        std::uint64_t entry[3] = {};
        bool bEnd = false;
        for (int i = 0; i < 3 && e == DeltaError::None && !bEnd; ++i)
            e = m_streams[delta_format::kControl].Varint(entry[i], bEnd);
        if (e != DeltaError::None) return e;
        const std::uint64_t cbAdd = entry[0], cbExtra = entry[1];
        const std::int64_t seek = delta_format::Unzigzag(entry[2]);
        if (bEnd || cbAdd > m_newSize - m_newPos || cbExtra > m_newSize - m_newPos - cbAdd) return DeltaError::Damaged;
        if (seek > bound || seek < -bound) return DeltaError::Damaged;
        if ((e = Add(cbAdd)) != DeltaError::None || (e = Extra(cbExtra)) != DeltaError::None) return e;
        m_oldPos += seek;
        if (m_oldPos > bound || m_oldPos < -bound) return DeltaError::Damaged;
    }
    if (e == DeltaError::None && m_nextNonzero != kNone) return DeltaError::Damaged;   // differences left over
    for (int i = 0; i < kStreamCount && e == DeltaError::None; ++i) e = m_streams[i].Finish();
    return e;
}

}  // namespace

DeltaError ApplyDeltaPatch(const std::string& strOld, const std::string& strPatch, const std::string& strOut,
                           std::uint64_t cbMax) {
    DeltaInputFile patch;
    if (!patch.Open(strPatch)) return DeltaError::InputUnreadable;
    unsigned char header[delta_format::kMaxHeaderSize];
    const std::size_t cbRead = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof(header), patch.Size()));
    if (!patch.ReadAt(0, header, cbRead)) return DeltaError::InputUnreadable;
    delta_format::Header h;
    std::size_t cbHeader = 0;
    DeltaError e = delta_format::ReadHeader(header, cbRead, h, cbHeader);
    if (e != DeltaError::None) return e;
    if (h.newSize > cbMax || h.newSize > static_cast<std::uint64_t>(INT64_MAX / 4)) return DeltaError::TooLarge;
    std::uint64_t total = cbHeader;
    for (std::uint64_t cb : h.streamSize)
        if (!AddChecked(total, cb, total)) return DeltaError::Damaged;
    if (total > patch.Size()) return DeltaError::Truncated;
    if (total < patch.Size()) return DeltaError::Damaged;

    DeltaMappedFile old;
    if (!old.Open(strOld)) return DeltaError::OldUnreadable;
    if (old.Size() != h.oldSize || h.oldSize > static_cast<std::uint64_t>(INT64_MAX / 4))
        return DeltaError::WrongBase;

    DeltaOutputFile out;
    if (!out.Create(strOut)) return DeltaError::OutputUnwritable;
    e = Applier(old, h, out).Run(patch, cbHeader, h);
    // The file has every byte the header declares: a stream wanting more is damaged.
    if (e == DeltaError::Truncated) return DeltaError::Damaged;
    if (e != DeltaError::None) return e;   // out's destructor removes the partial result
    if (out.Written() != h.newSize) return DeltaError::Damaged;
    return out.Commit() ? DeltaError::None : DeltaError::OutputUnwritable;
}
