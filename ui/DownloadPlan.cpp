#include "ui/DownloadPlan.h"

#include <cstdint>
#include <cstdlib>

void ListFilesToDownload(const std::vector<S_UpdateFileInfo>& vecToFetch, std::vector<std::string>& vecDownFiles,
                         std::vector<unsigned long long>& vecFileSizes) {
    vecDownFiles.clear();
    vecFileSizes.clear();
    for (const S_UpdateFileInfo& info : vecToFetch) {
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
