// Makes or applies one patch, or decompresses one compressed copy, in process
// and reports time, output rate and peak private memory (the figures of
// bench/patch.sh; for make the rate is of the new file).
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/BenchMeasure.h"
#include "platform/delta/DeltaApply.h"
#include "platform/delta/DeltaIo.h"
#include "platform/delta/DeltaPatch.h"
#include "platform/delta/ZstdStream.h"

int main(int argc, char** argv) {
    const bool bMake = argc == 5 && std::strcmp(argv[1], "make") == 0;
    if (argc != 5 || (!bMake && std::strcmp(argv[1], "apply") != 0 && std::strcmp(argv[1], "decompress") != 0)) {
        std::fprintf(stderr, "usage: patch_bench make OLD NEW PATCH | apply OLD PATCH OUT | decompress IN OUT SIZE\n");
        return 2;
    }
    BenchPrivateSampler sampler;
    const double t0 = BenchNow();
    DeltaError e;
    std::string strOut;
    if (bMake) {
        e = MakeDeltaPatch(argv[2], argv[3], argv[4]);
        strOut = argv[3];
    } else if (std::strcmp(argv[1], "apply") == 0) {
        e = ApplyDeltaPatch(argv[2], argv[3], argv[4], kDeltaUnbounded);
        strOut = argv[4];
    } else {
        e = ZstdDecompressFile(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10));
        strOut = argv[3];
    }
    const double seconds = BenchNow() - t0;
    const unsigned long long peakKiB = sampler.Stop();
    if (e != DeltaError::None) {
        std::fprintf(stderr, "failed: %s\n", DeltaErrorText(e));
        return 1;
    }
    DeltaInputFile out;
    const double mb = out.Open(strOut) ? out.Size() / 1e6 : 0;
    std::printf("seconds=%.4f mbps=%.1f peak_private_mib=%.1f\n", seconds, seconds > 0 ? mb / seconds : 0,
                peakKiB / 1024.0);
    return 0;
}
