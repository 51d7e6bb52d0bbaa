#include "tools/ReleaseDelta.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/delta/DeltaPatch.h"
#include "platform/delta/ZstdStream.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileDigest.h"
#include "tools/ToolConsole.h"

namespace {

static_assert(kMaxPatchedFileSize <= kDeltaMaxFileSize, "the delta engine refuses larger files");

// The same-named file of one earlier release.
struct S_OldFile {
    bool bExists = false;
    unsigned long long nSize = 0;
    std::string strDigest;
};

// One patch or copy to make; made in any order, decided in list order.
struct S_DeltaJob {
    size_t nFile = 0;
    size_t nFrom = 0;            // patch: the earlier release it starts from
    EDeltaWayKind kind = EDeltaWayKind::Copy;
    std::string strTemp;         // where it is made, in the store
    DeltaError result = DeltaError::None;
    unsigned long long nSize = 0;
    std::string strDigest;
};

bool FileSizeOf(const std::string& strPath, unsigned long long& nSize) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Utf8ToWide(strPath).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    nSize = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

const wchar_t* DigestAlgorithm(bool bSha256) { return bSha256 ? BCRYPT_SHA256_ALGORITHM : BCRYPT_MD5_ALGORITHM; }

// vecOld[file][from]: what each earlier release holds under each name.
bool ReadOldFiles(const S_ReleaseDeltaOptions& options, const std::vector<S_ReleaseFile>& vecFiles,
                  std::vector<std::vector<S_OldFile>>& vecOld, std::string& strError) {
    CFileDigest digest(DigestAlgorithm(options.bSha256));
    vecOld.assign(vecFiles.size(), std::vector<S_OldFile>(options.vecFrom.size()));
    for (size_t i = 0; i < vecFiles.size(); ++i) {
        for (size_t j = 0; j < options.vecFrom.size(); ++j) {
            const std::string strPath = options.vecFrom[j] + vecFiles[i].strName;
            S_OldFile& old = vecOld[i][j];
            if (!FileSizeOf(strPath, old.nSize)) continue;   // not in that release: it takes the copy or the file
            old.bExists = true;
            if (digest.GetFileDigest(strPath.c_str(), old.strDigest) != 0) {
                strError = "cannot read " + strPath;
                return false;
            }
        }
    }
    return true;
}

// A copy of every file, a patch from each distinct earlier version that differs.
std::vector<S_DeltaJob> PlanJobs(const std::vector<S_ReleaseFile>& vecFiles,
                                 const std::vector<std::vector<S_OldFile>>& vecOld) {
    std::vector<S_DeltaJob> vecJobs;
    for (size_t i = 0; i < vecFiles.size(); ++i) {
        if (vecFiles[i].nSize == 0) continue;   // nothing to save
        S_DeltaJob copy;
        copy.nFile = i;
        vecJobs.push_back(copy);
        if (vecFiles[i].nSize > kMaxPatchedFileSize) continue;
        std::vector<std::string> vecBases;
        for (size_t j = 0; j < vecOld[i].size(); ++j) {
            const S_OldFile& old = vecOld[i][j];
            if (!old.bExists || old.nSize > kMaxPatchedFileSize || old.strDigest == vecFiles[i].strDigest ||
                std::find(vecBases.begin(), vecBases.end(), old.strDigest) != vecBases.end()) {
                continue;
            }
            vecBases.push_back(old.strDigest);
            S_DeltaJob patch;
            patch.nFile = i;
            patch.nFrom = j;
            patch.kind = EDeltaWayKind::Patch;
            vecJobs.push_back(patch);
        }
    }
    return vecJobs;
}

void MakeJob(const S_ReleaseDeltaOptions& options, const std::vector<S_ReleaseFile>& vecFiles, CFileDigest& digest,
             S_DeltaJob& job) {
    const std::string strNew = options.strRoot + vecFiles[job.nFile].strName;
    job.result = job.kind == EDeltaWayKind::Copy
                     ? ZstdCompressFile(strNew, job.strTemp)
                     : MakeDeltaPatch(options.vecFrom[job.nFrom] + vecFiles[job.nFile].strName, strNew, job.strTemp);
    if (job.result != DeltaError::None) return;
    if (!FileSizeOf(job.strTemp, job.nSize) || digest.GetFileDigest(job.strTemp.c_str(), job.strDigest) != 0) {
        job.result = DeltaError::OutputUnwritable;
    }
}

// Memory of one job, after platform/delta: a patch holds both files, a suffix
// array and its streams (about 5 bytes per old byte and 3 per new one); a copy
// streams through a window of the file's size, at most 128 MiB, and its tables.
unsigned long long JobMemory(const S_DeltaJob& job, const std::vector<S_ReleaseFile>& vecFiles,
                             const std::vector<std::vector<S_OldFile>>& vecOld) {
    const unsigned long long nNew = vecFiles[job.nFile].nSize;
    if (job.kind == EDeltaWayKind::Patch) return 5 * vecOld[job.nFile][job.nFrom].nSize + 3 * nNew;
    return 3 * std::min(nNew, 128ULL << 20) + (16ULL << 20);
}

// Jobs run at once only while their memory together stays within the limit;
// a job that needs more than the limit runs alone.
class MemoryBudget {
public:
    explicit MemoryBudget(unsigned long long nLimit) : m_nLimit(nLimit) {}
    void Take(unsigned long long n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_nInUse == 0 || m_nInUse + n <= m_nLimit; });
        m_nInUse += n;
    }
    void Give(unsigned long long n) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_nInUse -= n;
        }
        m_changed.notify_all();
    }

private:
    const unsigned long long m_nLimit;
    unsigned long long m_nInUse = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

// Two at a time, within 10 times the largest earlier file (at least 1 GiB).
void RunJobs(const S_ReleaseDeltaOptions& options, const std::vector<S_ReleaseFile>& vecFiles,
             const std::vector<std::vector<S_OldFile>>& vecOld, std::vector<S_DeltaJob>& vecJobs) {
    unsigned long long nLargestOld = 0;
    for (const S_DeltaJob& job : vecJobs) {
        if (job.kind == EDeltaWayKind::Patch) nLargestOld = std::max(nLargestOld, vecOld[job.nFile][job.nFrom].nSize);
    }
    MemoryBudget budget(std::max(10 * nLargestOld, 1ULL << 30));
    std::atomic<size_t> next(0);
    auto work = [&] {
        CFileDigest digest(DigestAlgorithm(options.bSha256));
        for (size_t n; (n = next++) < vecJobs.size();) {
            const unsigned long long nMemory = JobMemory(vecJobs[n], vecFiles, vecOld);
            budget.Take(nMemory);
            MakeJob(options, vecFiles, digest, vecJobs[n]);
            budget.Give(nMemory);
        }
    };
    const unsigned nWorkers = std::min(2u, std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> vecThreads;
    for (unsigned i = 1; i < nWorkers && i < vecJobs.size(); ++i) {
        try {
            vecThreads.emplace_back(work);
        } catch (const std::system_error&) {
            break;   // fewer helpers: this thread does the rest
        }
    }
    work();
    for (std::thread& thread : vecThreads) thread.join();
}

bool Saves(unsigned long long nWay, unsigned long long nAgainst) { return nWay * 10 <= nAgainst * 9; }

// Moves a kept way to its digest's name; an existing one has the same bytes and stays untouched.
bool Publish(const std::string& strStore, const S_DeltaJob& job, S_DeltaWay& way, std::string& strError) {
    way.nSize = job.nSize;
    way.strDigest = job.strDigest;
    way.strRemoteName = DeltaRemoteName(job.kind, job.strDigest);
    const std::string strFinal = strStore + way.strRemoteName.substr(sizeof(kDeltaFolder) - 1);
    if (MoveFileExW(Utf8ToWide(job.strTemp).c_str(), Utf8ToWide(strFinal).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS) return true;
    strError = "cannot write " + strFinal;
    return false;
}

// A way that could not be made leaves the others; only an unreadable input or unwritable store fails the run.
bool JobUsable(const S_DeltaJob& job, const std::vector<S_ReleaseFile>& vecFiles, std::string& strError) {
    if (job.result == DeltaError::None) return true;
    if (job.result == DeltaError::TooLargeToPatch || job.result == DeltaError::OutOfMemory) {
        ToolPrintf(stderr, "no %s for %s: %s\n", job.kind == EDeltaWayKind::Patch ? "patch" : "copy",
                   vecFiles[job.nFile].strName.c_str(), DeltaErrorText(job.result));
        return false;
    }
    strError = vecFiles[job.nFile].strName + ": " + DeltaErrorText(job.result);
    return false;
}

// In list order, so that the manifest does not depend on which job ended first.
bool DecideWays(const S_ReleaseDeltaOptions& options, std::vector<S_ReleaseFile>& vecFiles,
                const std::vector<std::vector<S_OldFile>>& vecOld, const std::vector<S_DeltaJob>& vecJobs,
                std::string& strError) {
    const std::string strStore = options.strRoot + kDeltaFolder;
    for (const S_DeltaJob& job : vecJobs) {
        S_ReleaseFile& file = vecFiles[job.nFile];
        if (!JobUsable(job, vecFiles, strError)) {
            if (!strError.empty()) return false;
            continue;
        }
        const unsigned long long nNextBetter = file.delta.bHasCopy ? file.delta.copy.nSize : file.nSize;
        if (!Saves(job.nSize, nNextBetter)) continue;
        S_DeltaWay way;
        if (!Publish(strStore, job, way, strError)) return false;
        file.delta.eDigest = options.bSha256 ? EDeltaDigest::Sha256 : EDeltaDigest::Md5;
        if (job.kind == EDeltaWayKind::Copy) {
            file.delta.bHasCopy = true;
            file.delta.copy = way;
        } else {
            way.strBase = vecOld[job.nFile][job.nFrom].strDigest;
            file.delta.vecPatches.push_back(way);
        }
    }
    return true;
}

struct S_Taken {
    const char* pszWay;   // "same", "patch", "copy" or "file"
    unsigned long long nBytes;
};

// What a client holding the earlier file takes: nothing, a patch from it, the copy or the file.
S_Taken Taken(const S_ReleaseFile& file, const S_OldFile& old) {
    if (old.bExists && old.strDigest == file.strDigest) return {"same", 0};
    for (const S_DeltaWay& patch : file.delta.vecPatches) {
        if (old.bExists && patch.strBase == old.strDigest) return {"patch", patch.nSize};
    }
    return file.delta.bHasCopy ? S_Taken{"copy", file.delta.copy.nSize} : S_Taken{"file", file.nSize};
}

double Percent(unsigned long long nPart, unsigned long long nWhole) { return nWhole ? 100.0 * nPart / nWhole : 0.0; }

void PrintReport(const S_ReleaseDeltaOptions& options, const std::vector<S_ReleaseFile>& vecFiles,
                 const std::vector<std::vector<S_OldFile>>& vecOld) {
    unsigned long long nFull = 0;
    std::vector<unsigned long long> vecTotal(options.vecFrom.size(), 0);
    for (size_t i = 0; i < vecFiles.size(); ++i) {
        const S_ReleaseFile& file = vecFiles[i];
        nFull += file.nSize;
        std::string strLine = file.strName + ": " + std::to_string(file.nSize) + " bytes";
        for (size_t j = 0; j < options.vecFrom.size(); ++j) {
            const S_Taken taken = Taken(file, vecOld[i][j]);
            vecTotal[j] += taken.nBytes;
            strLine += "; from " + options.vecShown[j] + ": " + taken.pszWay + " " + std::to_string(taken.nBytes);
        }
        ToolPrintf(stdout, "%s\n", strLine.c_str());
    }
    std::string strLine = "total: " + std::to_string(nFull) + " bytes";
    for (size_t j = 0; j < options.vecFrom.size(); ++j) {
        char szPercent[32];
        std::snprintf(szPercent, sizeof(szPercent), " (%.1f %%)", Percent(vecTotal[j], nFull));
        strLine += "; from " + options.vecShown[j] + ": " + std::to_string(vecTotal[j]) + szPercent;
    }
    ToolPrintf(stdout, "%s\n", strLine.c_str());
}

}  // namespace

bool PublishReleaseDeltas(const S_ReleaseDeltaOptions& options, std::vector<S_ReleaseFile>& vecFiles,
                          std::string& strError) {
    std::vector<std::vector<S_OldFile>> vecOld;
    if (!ReadOldFiles(options, vecFiles, vecOld, strError)) return false;
    std::vector<S_DeltaJob> vecJobs = PlanJobs(vecFiles, vecOld);

    const std::string strStore = options.strRoot + kDeltaFolder;
    if (!vecJobs.empty() && CDirectoryEx::CreateMultipleDirectory(strStore) != 0) {
        strError = "cannot create " + strStore;
        return false;
    }
    const std::string strTempPrefix = strStore + "~" + std::to_string(GetCurrentProcessId()) + "-";
    for (size_t n = 0; n < vecJobs.size(); ++n) vecJobs[n].strTemp = strTempPrefix + std::to_string(n) + ".tmp";
    // Whatever was not published (not kept, failed, or the run stopped) goes again.
    const ScopeExit cleanUp([&] {
        for (const S_DeltaJob& job : vecJobs) DeleteFileW(Utf8ToWide(job.strTemp).c_str());   // best effort: a leftover is only litter
    });
    RunJobs(options, vecFiles, vecOld, vecJobs);
    if (!DecideWays(options, vecFiles, vecOld, vecJobs, strError)) return false;
    PrintReport(options, vecFiles, vecOld);
    return true;
}
