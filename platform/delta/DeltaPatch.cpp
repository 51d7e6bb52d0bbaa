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

// The sparse-difference streams (docs/patches.md): the difference bytes are
// zero almost everywhere, so only the nonzero ones are kept, each after the
// count of zeros before it.
struct Streams {
    std::string control, gaps, values, extra;
    std::uint64_t zeros = 0;   // difference bytes that were zero since the last nonzero one
};

struct Matcher {
    const unsigned char* pOld;
    Index nOld;
    const unsigned char* pNew;
    Index nNew;
    const std::vector<saidx_t>& sa;
    Index slack;   // how many bytes a new match must gain over the previous alignment
};

// From scan on, the first match clearly better than just continuing the
// previous alignment (old = new + lastOffset); scan and len end on it. Returns
// how many of the match's bytes the previous alignment also gets right.
Index NextMatch(const Matcher& m, Index lastOffset, Index& scan, Index& len, Index& pos) {
    Index oldScore = 0;
    Index scsc = scan += len;
    for (; scan < m.nNew; ++scan) {
        len = m.nOld > 0 ? LongestMatch(m.sa, m.pOld, m.nOld, m.pNew + scan, m.nNew - scan, pos) : 0;
        for (; scsc < scan + len; ++scsc)
            if (scsc + lastOffset < m.nOld && m.pOld[scsc + lastOffset] == m.pNew[scsc]) ++oldScore;
        if ((len == oldScore && len != 0) || len > oldScore + m.slack) break;
        if (scan + lastOffset < m.nOld && m.pOld[scan + lastOffset] == m.pNew[scan]) --oldScore;
    }
    return oldScore;
}

// How far the previous match extends forwards while at least half of the bytes agree.
Index ExtendForward(const Matcher& m, Index lastScan, Index lastPos, Index scan) {
    Index lenF = 0;
    for (Index i = 0, same = 0, best = 0; lastScan + i < scan && lastPos + i < m.nOld;) {
        if (m.pOld[lastPos + i] == m.pNew[lastScan + i]) ++same;
        ++i;
        if (same * 2 - i > best * 2 - lenF) {
            best = same;
            lenF = i;
        }
    }
    return lenF;
}

// The same backwards from the new match at (scan, pos).
Index ExtendBackward(const Matcher& m, Index lastScan, Index scan, Index pos) {
    Index lenB = 0;
    if (scan >= m.nNew) return 0;
    for (Index i = 1, same = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
        if (m.pOld[pos - i] == m.pNew[scan - i]) ++same;
        if (same * 2 - i > best * 2 - lenB) {
            best = same;
            lenB = i;
        }
    }
    return lenB;
}

// The extensions overlap: split where it scores best.
void SplitOverlap(const Matcher& m, Index lastScan, Index lastPos, Index scan, Index pos, Index& lenF, Index& lenB) {
    const Index overlap = (lastScan + lenF) - (scan - lenB);
    Index score = 0, bestScore = 0, lenS = 0;
    for (Index i = 0; i < overlap; ++i) {
        if (m.pNew[lastScan + lenF - overlap + i] == m.pOld[lastPos + lenF - overlap + i]) ++score;
        if (m.pNew[scan - lenB + i] == m.pOld[pos - lenB + i]) --score;
        if (score > bestScore) {
            bestScore = score;
            lenS = i + 1;
        }
    }
    lenF += lenS - overlap;
    lenB -= lenS;
}

// One control entry: cbAdd bytes of new at newAt as differences from old at
// oldAt, then cbExtra bytes verbatim, then the old position moves by seek.
void Emit(const Matcher& m, Index newAt, Index oldAt, Index cbAdd, Index cbExtra, Index seek, Streams& s) {
    for (Index i = 0; i < cbAdd; ++i) {
        const auto d = static_cast<unsigned char>(m.pNew[newAt + i] - m.pOld[oldAt + i]);
        if (d == 0) {
            ++s.zeros;
            continue;
        }
        delta_format::PutVarint(s.gaps, s.zeros);
        s.values += static_cast<char>(d);
        s.zeros = 0;
    }
    s.extra.append(reinterpret_cast<const char*>(m.pNew + newAt + cbAdd), static_cast<std::size_t>(cbExtra));
    delta_format::PutVarint(s.control, static_cast<std::uint64_t>(cbAdd));
    delta_format::PutVarint(s.control, static_cast<std::uint64_t>(cbExtra));
    delta_format::PutVarint(s.control, delta_format::Zigzag(seek));
}

// The matching pass: which stretches of the new file are the old file's bytes
// plus a small difference, and which are new.
void Diff(const Matcher& m, Streams& s) {
    Index scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
    while (scan < m.nNew) {
        // A match no better than the previous alignment: keep scanning past it.
        const Index oldScore = NextMatch(m, lastOffset, scan, len, pos);
        if (len == oldScore && scan != m.nNew) continue;
        Index lenF = ExtendForward(m, lastScan, lastPos, scan);
        Index lenB = ExtendBackward(m, lastScan, scan, pos);
        if (lastScan + lenF > scan - lenB) SplitOverlap(m, lastScan, lastPos, scan, pos, lenF, lenB);
        const Index cbExtra = (scan - lenB) - (lastScan + lenF);
        Emit(m, lastScan, lastPos, lenF, cbExtra, (pos - lenB) - (lastPos + lenF), s);
        lastScan = scan - lenB;
        lastPos = pos - lenB;
        lastOffset = pos - scan;
    }
}

// The matching passes tried, keeping the smallest patch: bsdiff's own 8, and
// lower values that follow more of the small moves of a rebuilt executable
// (on the bench, 3 is 11 % smaller than 8 on grubx64.efi, 6 is 1 % smaller on
// systemd-bootx64.efi).
constexpr Index kSlacks[] = {8, 6, 3};
// An extra stream above this is ranked at a fast level and only the chosen
// one compressed at the patch's level: level 19 on many MiB takes seconds.
constexpr std::size_t kRankFullyUpTo = std::size_t(4) << 20;
constexpr int kRankLevel = 3;

// The compressed streams of one matching pass.
struct Packed {
    std::string frames[delta_format::kStreamCount];
    std::uint64_t Size() const {
        std::uint64_t cb = 0;
        for (const std::string& strFrame : frames) cb += strFrame.size();
        return cb;
    }
};

// Compresses the streams, the extra one (it can be as large as the new file)
// beside the others; false when out of memory.
bool Pack(const Streams& s, int extraLevel, Packed& out) {
    const std::string* streams[delta_format::kStreamCount] = {&s.control, &s.gaps, &s.values, &s.extra};
    bool bOk[delta_format::kStreamCount] = {};
    auto pack = [&](int i, int level) {
        bOk[i] = ZstdCompressBuffer(reinterpret_cast<const unsigned char*>(streams[i]->data()), streams[i]->size(),
                                    out.frames[i], level);
    };
    try {
        std::thread worker(pack, delta_format::kExtra, extraLevel);
        for (int i = 0; i < delta_format::kExtra; ++i) pack(i, kZstdPatchLevel);
        worker.join();
    } catch (const std::exception&) {
        return false;
    }
    for (bool b : bOk)
        if (!b) return false;
    return true;
}

// Every matching pass, the smallest kept (ties to the earlier pass).
DeltaError BestPass(const Matcher& base, Packed& best) {
    Streams bestStreams;
    bool bHave = false, bFast = false;
    for (Index slack : kSlacks) {
        Matcher m = base;
        m.slack = slack;
        Streams s;
        Packed packed;
        Diff(m, s);
        if (!bHave) bFast = s.extra.size() > kRankFullyUpTo;   // the same level for every pass
        if (!Pack(s, bFast ? kRankLevel : kZstdPatchLevel, packed)) return DeltaError::OutOfMemory;
        if (bHave && packed.Size() >= best.Size()) continue;
        best = std::move(packed);
        bHave = true;
        if (bFast) bestStreams = std::move(s);
    }
    if (bFast && !Pack(bestStreams, kZstdPatchLevel, best)) return DeltaError::OutOfMemory;
    return DeltaError::None;
}

}  // namespace

DeltaError MakeDeltaPatchBytes(const std::string& strOld, const std::string& strNew, std::string& strPatch) {
    if (strOld.size() > kDeltaMaxFileSize || strNew.size() > kDeltaMaxFileSize) return DeltaError::TooLargeToPatch;
    const auto* pOld = reinterpret_cast<const unsigned char*>(strOld.data());
    const auto* pNew = reinterpret_cast<const unsigned char*>(strNew.data());
    const Index nOld = static_cast<Index>(strOld.size()), nNew = static_cast<Index>(strNew.size());
    Packed best;
    try {
        std::vector<saidx_t> sa(strOld.size());
        if (nOld > 0 && divsufsort(pOld, sa.data(), static_cast<saidx_t>(nOld)) != 0) return DeltaError::OutOfMemory;
        const DeltaError e = BestPass(Matcher{pOld, nOld, pNew, nNew, sa, 0}, best);
        if (e != DeltaError::None) return e;
    } catch (const std::bad_alloc&) {
        return DeltaError::OutOfMemory;
    }
    delta_format::Header h;
    h.newSize = strNew.size();
    h.oldSize = strOld.size();
    for (int i = 0; i < delta_format::kStreamCount; ++i) h.streamSize[i] = best.frames[i].size();
    try {
        strPatch = delta_format::WriteHeader(h);
        for (const std::string& strFrame : best.frames) strPatch += strFrame;
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
