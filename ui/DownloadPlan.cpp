#include "ui/DownloadPlan.h"

#include <cstdint>
#include <cstdlib>


void ListFilesToDownload(const std::vector<S_UpdateFileInfo>& vecToFetch, std::vector<std::string>& vecDownFiles,
                         std::vector<int>& vecFileSizes) {
    vecDownFiles.clear();
    vecFileSizes.clear();
    for (const S_UpdateFileInfo& info : vecToFetch) {
        vecFileSizes.push_back(std::atoi(info.strSize.c_str()));
        vecDownFiles.push_back(info.strFileName);
    }
}

EUpdateReport ClassifyUpdateReport(WPARAM wParam, LPARAM lParam, int nFinishedFiles,
                                   const std::vector<int>& vecFileSizes) {
    if (static_cast<uint32_t>(lParam) == UINT32_MAX) return EUpdateReport::Failed;
    if (static_cast<ULONG_PTR>(wParam) != static_cast<ULONG_PTR>(lParam)) return EUpdateReport::Progress;
    // Never read past the awaited sizes, whatever the transport sends.
    if (nFinishedFiles < 0 || static_cast<size_t>(nFinishedFiles) >= vecFileSizes.size())
        return EUpdateReport::Unexpected;
    if (static_cast<int32_t>(static_cast<uint32_t>(wParam)) != vecFileSizes[nFinishedFiles])
        return EUpdateReport::SizeMismatch;
    return EUpdateReport::FileComplete;
}
