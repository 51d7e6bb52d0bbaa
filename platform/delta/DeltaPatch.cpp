#include "platform/delta/DeltaPatch.h"

#include <divsufsort.h>

#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "platform/delta/DeltaIo.h"
#include "platform/delta/ZstdStream.h"

namespace {

using Index = std::int64_t;

Index MatchLength(const unsigned char* a, Index na, const unsigned char* b, Index nb) {
    const Index n = na < nb ? na : nb;
    Index i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// The longest match of pNew[0..nNew) among the old file's suffixes, by
// binary search over the sorted suffixes; its old position goes to pos.
Index LongestMatch(const std::vector<saidx_t>& sa, const unsigned char* pOld, Index nOld,
                   const unsigned char* pNew, Index nNew, Index& pos) {
    Index lo = 0, hi = static_cast<Index>(sa.size()) - 1;
    while (hi - lo >= 2) {
        const Index mid = lo + (hi - lo) / 2;
        const Index at = sa[static_cast<std::size_t>(mid)];
        const Index n = (nOld - at) < nNew ? (nOld - at) : nNew;
        if (std::memcmp(pOld + at, pNew, static_cast<std::size_t>(n)) < 0)
            lo = mid;
        else
            hi = mid;
    }
    const Index atLo = sa[static_cast<std::size_t>(lo)], atHi = sa[static_cast<std::size_t>(hi)];
    const Index x = MatchLength(pOld + atLo, nOld - atLo, pNew, nNew);
    const Index y = MatchLength(pOld + atHi, nOld - atHi, pNew, nNew);
    if (x > y) {
        pos = atLo;
        return x;
    }
    pos = atHi;
    return y;
}

struct Streams {
    std::string control, diff, extra;
};

void PutTriple(std::string& control, Index add, Index extra, Index seek) {
    unsigned char t[24];
    delta_format::PutU64(t, static_cast<std::uint64_t>(add));
    delta_format::PutU64(t + 8, static_cast<std::uint64_t>(extra));
    delta_format::PutU64(t + 16, static_cast<std::uint64_t>(seek));
    control.append(reinterpret_cast<const char*>(t), sizeof(t));
}

// The matching pass: which stretches of the new file are the old file's bytes
// plus a small difference, and which are new.
void Diff(const unsigned char* pOld, Index nOld, const unsigned char* pNew, Index nNew,
          const std::vector<saidx_t>& sa, Streams& s) {
    Index scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
    while (scan < nNew) {
        Index oldScore = 0;
        Index scsc = scan += len;
        for (; scan < nNew; ++scan) {
            len = nOld > 0 ? LongestMatch(sa, pOld, nOld, pNew + scan, nNew - scan, pos) : 0;
            for (; scsc < scan + len; ++scsc)
                if (scsc + lastOffset < nOld && pOld[scsc + lastOffset] == pNew[scsc]) ++oldScore;
            // A match clearly better than just continuing the previous alignment.
            if ((len == oldScore && len != 0) || len > oldScore + 8) break;
            if (scan + lastOffset < nOld && pOld[scan + lastOffset] == pNew[scan]) --oldScore;
        }
        if (len == oldScore && scan != nNew) continue;

        // Extend the previous match forwards and the new one backwards while
        // at least half of the bytes agree.
        Index lenF = 0;
        for (Index i = 0, same = 0, best = 0; lastScan + i < scan && lastPos + i < nOld;) {
            if (pOld[lastPos + i] == pNew[lastScan + i]) ++same;
            ++i;
            if (same * 2 - i > best * 2 - lenF) {
                best = same;
                lenF = i;
            }
        }
        Index lenB = 0;
        if (scan < nNew) {
            for (Index i = 1, same = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
                if (pOld[pos - i] == pNew[scan - i]) ++same;
                if (same * 2 - i > best * 2 - lenB) {
                    best = same;
                    lenB = i;
                }
            }
        }
        if (lastScan + lenF > scan - lenB) {   // the extensions overlap: split where it scores best
            const Index overlap = (lastScan + lenF) - (scan - lenB);
            Index score = 0, bestScore = 0, lenS = 0;
            for (Index i = 0; i < overlap; ++i) {
                if (pNew[lastScan + lenF - overlap + i] == pOld[lastPos + lenF - overlap + i]) ++score;
                if (pNew[scan - lenB + i] == pOld[pos - lenB + i]) --score;
                if (score > bestScore) {
                    bestScore = score;
                    lenS = i + 1;
                }
            }
            lenF += lenS - overlap;
            lenB -= lenS;
        }

        const std::size_t diffAt = s.diff.size();
        s.diff.resize(diffAt + static_cast<std::size_t>(lenF));
        for (Index i = 0; i < lenF; ++i)
            s.diff[diffAt + static_cast<std::size_t>(i)] =
                static_cast<char>(pNew[lastScan + i] - pOld[lastPos + i]);
        const Index cbExtra = (scan - lenB) - (lastScan + lenF);
        s.extra.append(reinterpret_cast<const char*>(pNew + lastScan + lenF), static_cast<std::size_t>(cbExtra));
        PutTriple(s.control, lenF, cbExtra, (pos - lenB) - (lastPos + lenF));

        lastScan = scan - lenB;
        lastPos = pos - lenB;
        lastOffset = pos - scan;
    }
}

}  // namespace

DeltaError MakeDeltaPatchBytes(const std::string& strOld, const std::string& strNew, std::string& strPatch) {
    if (strOld.size() > kDeltaMaxFileSize || strNew.size() > kDeltaMaxFileSize) return DeltaError::TooLargeToPatch;
    const auto* pOld = reinterpret_cast<const unsigned char*>(strOld.data());
    const auto* pNew = reinterpret_cast<const unsigned char*>(strNew.data());
    const Index nOld = static_cast<Index>(strOld.size()), nNew = static_cast<Index>(strNew.size());
    Streams s;
    std::string control, diff, extra;
    try {
        std::vector<saidx_t> sa(strOld.size());
        if (nOld > 0 && divsufsort(pOld, sa.data(), static_cast<saidx_t>(nOld)) != 0) return DeltaError::OutOfMemory;
        s.diff.reserve(strNew.size());
        Diff(pOld, nOld, pNew, nNew, sa, s);
    } catch (const std::bad_alloc&) {
        return DeltaError::OutOfMemory;
    }
    // The difference stream is the largest: compressed beside the other two.
    bool bDiff = false, bOthers = false;
    try {
        std::thread worker([&] { bDiff = ZstdCompressBuffer(reinterpret_cast<const unsigned char*>(s.diff.data()),
                                                            s.diff.size(), diff); });
        bOthers = ZstdCompressBuffer(reinterpret_cast<const unsigned char*>(s.control.data()), s.control.size(),
                                     control) &&
                  ZstdCompressBuffer(reinterpret_cast<const unsigned char*>(s.extra.data()), s.extra.size(), extra);
        worker.join();
    } catch (const std::exception&) {
        return DeltaError::OutOfMemory;
    }
    if (!bDiff || !bOthers) return DeltaError::OutOfMemory;

    delta_format::Header h;
    h.newSize = strNew.size();
    h.oldSize = strOld.size();
    h.controlSize = control.size();
    h.diffSize = diff.size();
    h.extraSize = extra.size();
    unsigned char header[delta_format::kHeaderSize];
    delta_format::WriteHeader(h, header);
    try {
        strPatch.assign(reinterpret_cast<const char*>(header), sizeof(header));
        strPatch += control;
        strPatch += diff;
        strPatch += extra;
    } catch (const std::bad_alloc&) {
        return DeltaError::OutOfMemory;
    }
    return DeltaError::None;
}

DeltaError MakeDeltaPatch(const std::string& strOldPath, const std::string& strNewPath, const std::string& strOut) {
    std::string strOld, strNew, strPatch;
    {
        DeltaInputFile probe;
        if (!probe.Open(strOldPath)) return DeltaError::OldUnreadable;
        if (probe.Size() > kDeltaMaxFileSize) return DeltaError::TooLargeToPatch;
        if (!probe.Open(strNewPath)) return DeltaError::InputUnreadable;
        if (probe.Size() > kDeltaMaxFileSize) return DeltaError::TooLargeToPatch;
    }
    if (!DeltaReadWholeFile(strOldPath, kDeltaMaxFileSize, strOld)) return DeltaError::OldUnreadable;
    if (!DeltaReadWholeFile(strNewPath, kDeltaMaxFileSize, strNew)) return DeltaError::InputUnreadable;
    const DeltaError e = MakeDeltaPatchBytes(strOld, strNew, strPatch);
    if (e != DeltaError::None) return e;
    DeltaOutputFile out;
    if (!out.Create(strOut)) return DeltaError::OutputUnwritable;
    if (!out.Write(strPatch.data(), strPatch.size())) return DeltaError::OutputUnwritable;
    return out.Commit() ? DeltaError::None : DeltaError::OutputUnwritable;
}
