// patch make|apply and compress: binary patches and compressed copies by hand,
// so that a publisher can check what the manifest command writes.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/delta/DeltaApply.h"
#include "platform/delta/DeltaIo.h"
#include "platform/delta/DeltaPatch.h"
#include "platform/delta/ZstdStream.h"
#include "tools/ToolCommands.h"
#include "tools/ToolConsole.h"

namespace {

int Report(DeltaError e, const char* pszWhat, const char* pszOut) {
    if (e == DeltaError::None) return 0;
    ToolPrintf(stderr, "%s %s: %s\n", pszWhat, pszOut, DeltaErrorText(e));
    return 1;
}

std::uint64_t FileSize(const char* pszPath) {
    DeltaInputFile file;
    return file.Open(pszPath) ? file.Size() : 0;
}

}  // namespace

int RunPatchCommand(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[0], "make") != 0 && std::strcmp(argv[0], "apply") != 0)) {
        ToolPrintf(stderr, "usage: UpdateTool patch make OLD NEW OUT | patch apply OLD PATCH OUT\n");
        return 2;
    }
    if (std::strcmp(argv[0], "make") == 0) {
        const int rc = Report(MakeDeltaPatch(argv[1], argv[2], argv[3]), "patch make", argv[3]);
        if (rc == 0) {
            const std::uint64_t cbNew = FileSize(argv[2]), cbPatch = FileSize(argv[3]);
            ToolPrintf(stdout, "%llu bytes for %llu (%.1f %%)\n", static_cast<unsigned long long>(cbPatch),
                       static_cast<unsigned long long>(cbNew), cbNew ? 100.0 * cbPatch / cbNew : 0.0);
        }
        return rc;
    }
    return Report(ApplyDeltaPatch(argv[1], argv[2], argv[3], kDeltaUnbounded), "patch apply", argv[3]);
}

int RunCompressCommand(int argc, char** argv) {
    if (argc != 2) {
        ToolPrintf(stderr, "usage: UpdateTool compress IN OUT\n");
        return 2;
    }
    return Report(ZstdCompressFile(argv[0], argv[1]), "compress", argv[1]);
}

int RunDecompressCommand(int argc, char** argv) {
    char* pszEnd = nullptr;
    const unsigned long long cbMax = argc == 3 ? std::strtoull(argv[2], &pszEnd, 10) : 0;
    if (argc != 3 || pszEnd == argv[2] || *pszEnd != '\0') {
        ToolPrintf(stderr, "usage: UpdateTool decompress IN OUT SIZE\n");
        return 2;
    }
    return Report(ZstdDecompressFile(argv[0], argv[1], cbMax), "decompress", argv[1]);
}
