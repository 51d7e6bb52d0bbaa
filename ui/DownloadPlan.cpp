#include "ui/DownloadPlan.h"

#include <cstdint>
#include <cstdlib>

#include "install/StagedFileCheck.h"

void ListFilesToDownload(const std::vector<S_UpdateFileInfo>& vecUpdateFiles, const std::string& strDownloadPath,
                         CStagedFileCheck& check, std::vector<std::string>& vecDownFiles,
                         std::vector<unsigned long long>& vecFileSizes) {
    vecDownFiles.clear();
    vecFileSizes.clear();
    for (const S_UpdateFileInfo& info : vecUpdateFiles) {
        // A copy left by an interrupted run is kept when it is exactly the manifest's.
        if (check.IsReusable(strDownloadPath + info.strFileName, info)) continue;
        unsigned long long nSize = kUnknownSize;
        if (!ParseManifestSize(info.strSize, nSize)) nSize = kUnknownSize;
        vecFileSizes.push_back(nSize);
        vecDownFiles.push_back(info.strFileName);
    }
}

EUpdateReport ClassifyUpdateReport(WPARAM wParam, LPARAM lParam, int nFinishedFiles,
                                   const std::vector<unsigned long long>& vecFileSizes) {
    if (wParam == 0 && static_cast<uint32_t>(lParam) == UINT32_MAX) return EUpdateReport::Failed;
    if (static_cast<ULONG_PTR>(wParam) != static_cast<ULONG_PTR>(lParam)) return EUpdateReport::Progress;
    // Never read past the awaited sizes, whatever the transport sends.
    if (nFinishedFiles < 0 || static_cast<size_t>(nFinishedFiles) >= vecFileSizes.size())
        return EUpdateReport::Unexpected;
    if (vecFileSizes[nFinishedFiles] == kUnknownSize ||
        static_cast<unsigned long long>(wParam) != vecFileSizes[nFinishedFiles])
        return EUpdateReport::SizeMismatch;
    return EUpdateReport::FileComplete;
}
