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
    Failed,     // (any, -1): the fetch failed and the download has ended
    Staged,     // (files, -2): this many files are staged
    Done,       // (any, -3): every file is staged and the download has ended
    Progress,   // anything else: bytes of a file's way in flight, or a way complete
};

// What the report (wParam, lParam) means (download/UpdateNotify.h). The
// failure mark is (0, an lParam whose low 32 bits are all set).
EUpdateReport ClassifyUpdateReport(WPARAM wParam, LPARAM lParam);
