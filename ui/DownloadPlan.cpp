#include "ui/DownloadPlan.h"

#include <cstdint>
#include <cstdlib>

#include "download/UpdateNotify.h"

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

EUpdateReport ClassifyUpdateReport(WPARAM wParam, LPARAM lParam) {
    if (wParam == 0 && static_cast<uint32_t>(lParam) == UINT32_MAX) return EUpdateReport::Failed;
    if (lParam == UPDATE_NOTIFY_STAGED) return EUpdateReport::Staged;
    if (lParam == UPDATE_NOTIFY_DONE) return EUpdateReport::Done;
    return EUpdateReport::Progress;
}
