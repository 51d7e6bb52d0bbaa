// The check of a signed manifest beside the comparison of the same manifest
// with the installed files: the work a signed update adds against the work it
// already does. Two figures: the signature alone (read both files, SHA-256 of
// the signed bytes, ECDSA) and the whole check, which also parses the
// manifest to see a SHA256 in every file section.
//
//   signature_bench DIR PUBLIC_KEY   DIR holds install\ and its signed UpdateConfig.ini
//
// Prints the best of several rounds for each, the rounds taking turns.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchMeasure.h"
#include "manifest/CompareProgramFiles.h"
#include "manifest/ManifestSignature.h"
#include "platform/fs/FileContents.h"
#include "platform/crypto/Base64.h"
#include "platform/crypto/EcdsaP256.h"

namespace {

const int kRounds = 5;

template <typename F>
void Time(double& dBest, F work) {
    const double dStart = BenchNow();
    work();
    const double dElapsed = BenchNow() - dStart;
    if (dElapsed < dBest) dBest = dElapsed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: signature_bench DIR PUBLIC_KEY\n");
        return 2;
    }
    const std::string strDir = std::string(argv[1]) + "\\";
    std::vector<CEcdsaP256PublicKey> vecKeys;
    if (!ParsePublicKeyList(argv[2], vecKeys)) {
        std::fprintf(stderr, "signature_bench: not a public key\n");
        return 2;
    }
    S_UpdateCheckInfo request;
    request.strRootPath = strDir + "install\\";
    request.strConfigFile = strDir + "UpdateConfig.ini";
    request.strVersion = "1";   // older than the manifest's: the files are compared
    request.strRegion = "CN";

    double dSignature = 1e30;
    double dVerify = 1e30;
    double dCompare = 1e30;
    bool bSignature = false;
    ESignatureCheck result = ESignatureCheck::NoManifest;
    size_t nListed = 0;
    {
        std::vector<S_UpdateFileInfo> vecWarm;
        CompareProgramFiles(request, vecWarm);   // the same warm cache for both
    }
    for (int i = 0; i < kRounds; ++i) {
        Time(dSignature, [&] {
            std::string strManifest, strSigText, strDigest, strValue;
            S_ManifestSignature sig;
            bSignature = ReadWholeFile(request.strConfigFile, strManifest) == FileReadResult::Read &&
                         ReadWholeFile(request.strConfigFile + kSignatureSuffix, strSigText) == FileReadResult::Read &&
                         ParseSignatureText(strSigText, sig) &&
                         Sha256Of(SignedMessage(sig.strTarget, sig.strSigned, sig.strExpires, strManifest), strDigest) &&
                         Base64Decode(sig.strValue, strValue) && vecKeys[0].Verify(strDigest, strValue);
        });
        Time(dVerify, [&] {
            S_ManifestSignature sig;
            result = VerifyManifestFile(request.strConfigFile, "/1/UpdateConfig.ini", EManifestLayout::Program, vecKeys, CurrentUtcTime(),
                                        std::string(), sig);
        });
        Time(dCompare, [&] {
            std::vector<S_UpdateFileInfo> vecList;
            CompareProgramFiles(request, vecList);
            nListed = vecList.size();
        });
    }
    if (result != ESignatureCheck::Valid || !bSignature) {
        std::fprintf(stderr, "signature_bench: %s\n", SignatureCheckText(result));
        return 1;
    }
    std::printf("compare        %8.1f ms   (listed %u)\n", dCompare * 1000.0, static_cast<unsigned>(nListed));
    std::printf("signature      %8.1f ms   %.2f %% of compare (target < 5 %%)\n", dSignature * 1000.0,
                100.0 * dSignature / dCompare);
    std::printf("whole check    %8.1f ms   %.2f %% of compare (signature and SHA256 in every section)\n",
                dVerify * 1000.0, 100.0 * dVerify / dCompare);
    return 0;
}
