#pragma once
// The update dialog's download bookkeeping, free of any window: which changed
// files still have to be fetched, and what one download report means.
#include <windows.h>

#include <string>
#include <vector>

#include "manifest/UpdateFileInfo.h"

// Clears both lists, then appends, in order, the name and the expected size
// ("SIZE" as ParseManifestSize reads it, kUnknownSize when it cannot) of every
// file still to fetch (SelectFilesToFetch). Both lists end up the same length.
void ListFilesToDownload(const std::vector<S_UpdateFileInfo>& vecToFetch, std::vector<std::string>& vecDownFiles,
                         std::vector<unsigned long long>& vecFileSizes);

enum class EUpdateReport {
    Failed,        // (any, -1): the fetch failed and the download has ended
    Progress,      // (bytes so far, size): the bar shows the finished files
    FileComplete,  // (size, size) matching the next awaited size
    SizeMismatch,  // (size, size) not matching it
    Unexpected,    // a completion when every awaited file is already in: ignored
};

// What the report (wParam, lParam) means after nFinishedFiles completions,
// vecFileSizes holding the awaited sizes (an unknown one matches no completion).
// The failure mark is (0, an lParam whose low 32 bits are all set).
EUpdateReport ClassifyUpdateReport(WPARAM wParam, LPARAM lParam, int nFinishedFiles,
                                   const std::vector<unsigned long long>& vecFileSizes);
