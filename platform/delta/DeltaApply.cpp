#include "platform/delta/DeltaApply.h"

#include <algorithm>
#include <vector>

#include "platform/delta/DeltaIo.h"
#include "platform/delta/ZstdStream.h"

namespace {

constexpr std::size_t kChunk = 1 << 16;

// a + b without wrapping; false when it would.
bool AddChecked(std::uint64_t a, std::uint64_t b, std::uint64_t& sum) {
    sum = a + b;
    return sum >= a;
}

DeltaError Apply(const DeltaMappedFile& old, const DeltaInputFile& patch, const delta_format::Header& h,
                 DeltaOutputFile& out) {
    using delta_format::kHeaderSize;
    using delta_format::kStreamWindowLog;
    ZstdFrameReader control, diff, extra;
    DeltaError e = control.Open(patch, kHeaderSize, h.controlSize, kStreamWindowLog);
    if (e == DeltaError::None) e = diff.Open(patch, kHeaderSize + h.controlSize, h.diffSize, kStreamWindowLog);
    if (e == DeltaError::None)
        e = extra.Open(patch, kHeaderSize + h.controlSize + h.diffSize, h.extraSize, kStreamWindowLog);
    if (e != DeltaError::None) return e;

    const unsigned char* pOld = old.Data();
    const std::int64_t oldSize = static_cast<std::int64_t>(h.oldSize);
    std::vector<unsigned char> buf(kChunk);
    std::uint64_t newPos = 0;
    std::int64_t oldPos = 0;
    while (newPos < h.newSize) {
        unsigned char triple[24];
        if ((e = control.Read(triple, sizeof(triple))) != DeltaError::None) return e;
        const std::uint64_t cbAdd = delta_format::GetU64(triple);
        const std::uint64_t cbExtra = delta_format::GetU64(triple + 8);
        const std::int64_t seek = static_cast<std::int64_t>(delta_format::GetU64(triple + 16));
        if (cbAdd > h.newSize - newPos || cbExtra > h.newSize - newPos - cbAdd) return DeltaError::Damaged;
        if (cbAdd > 0 && (oldPos < 0 || static_cast<std::uint64_t>(oldSize - oldPos) < cbAdd || oldPos > oldSize))
            return DeltaError::Damaged;
        for (std::uint64_t done = 0; done < cbAdd;) {
            const std::size_t cb = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, cbAdd - done));
            if ((e = diff.Read(buf.data(), cb)) != DeltaError::None) return e;
            const unsigned char* pFrom = pOld + oldPos + done;
            for (std::size_t i = 0; i < cb; ++i) buf[i] = static_cast<unsigned char>(buf[i] + pFrom[i]);
            if (!out.Write(buf.data(), cb)) return DeltaError::OutputUnwritable;
            done += cb;
        }
        oldPos += static_cast<std::int64_t>(cbAdd);
        newPos += cbAdd;
        for (std::uint64_t done = 0; done < cbExtra;) {
            const std::size_t cb = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, cbExtra - done));
            if ((e = extra.Read(buf.data(), cb)) != DeltaError::None) return e;
            if (!out.Write(buf.data(), cb)) return DeltaError::OutputUnwritable;
            done += cb;
        }
        newPos += cbExtra;
        // A seek further than either file is long cannot come from the maker.
        const std::int64_t bound = oldSize + static_cast<std::int64_t>(h.newSize);
        if (seek > bound || seek < -bound) return DeltaError::Damaged;
        oldPos += seek;
    }
    if ((e = control.Finish()) != DeltaError::None) return e;
    if ((e = diff.Finish()) != DeltaError::None) return e;
    return extra.Finish();
}

}  // namespace

DeltaError ApplyDeltaPatch(const std::string& strOld, const std::string& strPatch, const std::string& strOut,
                           std::uint64_t cbMax) {
    DeltaInputFile patch;
    if (!patch.Open(strPatch)) return DeltaError::InputUnreadable;
    unsigned char header[delta_format::kHeaderSize];
    if (patch.Size() < sizeof(header)) return patch.Size() < 8 ? DeltaError::NotAPatch : DeltaError::Truncated;
    if (!patch.ReadAt(0, header, sizeof(header))) return DeltaError::InputUnreadable;
    delta_format::Header h;
    DeltaError e = delta_format::ReadHeader(header, h);
    if (e != DeltaError::None) return e;
    if (h.newSize > cbMax || h.newSize > static_cast<std::uint64_t>(INT64_MAX / 2)) return DeltaError::TooLarge;
    std::uint64_t total = 0;
    if (!AddChecked(sizeof(header), h.controlSize, total) || !AddChecked(total, h.diffSize, total) ||
        !AddChecked(total, h.extraSize, total))
        return DeltaError::Damaged;
    if (total > patch.Size()) return DeltaError::Truncated;
    if (total < patch.Size()) return DeltaError::Damaged;

    DeltaMappedFile old;
    if (!old.Open(strOld)) return DeltaError::OldUnreadable;
    if (old.Size() != h.oldSize || h.oldSize > static_cast<std::uint64_t>(INT64_MAX / 2))
        return DeltaError::WrongBase;

    DeltaOutputFile out;
    if (!out.Create(strOut)) return DeltaError::OutputUnwritable;
    e = Apply(old, patch, h, out);
    if (e != DeltaError::None) return e;   // out's destructor removes the partial result
    if (out.Written() != h.newSize) return DeltaError::Damaged;
    return out.Commit() ? DeltaError::None : DeltaError::OutputUnwritable;
}
