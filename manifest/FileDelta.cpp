#include "manifest/FileDelta.h"

#include "manifest/UpdateFileInfo.h"
#include "platform/ini/IniDocument.h"

std::string DeltaRemoteName(EDeltaWayKind kind, const std::string& strDigest) {
    return kDeltaFolder + strDigest + (kind == EDeltaWayKind::Patch ? ".patch" : ".zst");
}

namespace {

// Lower-case hex of 32 or 64 digits; the kind it is, or None.
EDeltaDigest DigestKindOf(const std::string& strDigest) {
    if (strDigest.size() != 32 && strDigest.size() != 64) return EDeltaDigest::None;
    for (char c : strDigest) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return EDeltaDigest::None;
    }
    return strDigest.size() == 32 ? EDeltaDigest::Md5 : EDeltaDigest::Sha256;
}

// Every digest of a section is of one kind: the first one sets it.
bool TakeDigest(const std::string& strDigest, EDeltaDigest& eKind) {
    const EDeltaDigest eThis = DigestKindOf(strDigest);
    if (eThis == EDeltaDigest::None || (eKind != EDeltaDigest::None && eKind != eThis)) return false;
    eKind = eThis;
    return true;
}

// A way never larger than the file itself: the publisher keeps only ways that save.
bool TakeSize(const std::string& strSize, unsigned long long nFileSize, unsigned long long& nSize) {
    return ParseManifestSize(strSize, nSize) && nSize > 0 && nSize < nFileSize;
}

enum class EWayRead { Absent, Read, Malformed };

EWayRead ReadWay(const FindSectionValue& find, const std::string& strPrefix, bool bPatch, unsigned long long nFileSize,
                 EDeltaDigest& eKind, S_DeltaWay& way) {
    const std::string* pBase = bPatch ? find(strPrefix + "BASE") : nullptr;
    const std::string* pSize = find(strPrefix + "SIZE");
    const std::string* pDigest = find(strPrefix + "DIGEST");
    if (!pBase && !pSize && !pDigest) return EWayRead::Absent;
    if ((bPatch && !pBase) || !pSize || !pDigest) return EWayRead::Malformed;
    if (bPatch && !TakeDigest(*pBase, eKind)) return EWayRead::Malformed;
    if (!TakeSize(*pSize, nFileSize, way.nSize) || !TakeDigest(*pDigest, eKind)) return EWayRead::Malformed;
    if (bPatch) way.strBase = *pBase;
    way.strDigest = *pDigest;
    way.strRemoteName = DeltaRemoteName(bPatch ? EDeltaWayKind::Patch : EDeltaWayKind::Copy, way.strDigest);
    return EWayRead::Read;
}

}  // namespace

bool ReadFileDelta(const FindSectionValue& find, const std::string& strFileSize, S_FileDelta& delta) {
    delta = S_FileDelta();
    unsigned long long nFileSize = 0;   // unreadable: 0, and no way is smaller
    ParseManifestSize(strFileSize, nFileSize);
    S_FileDelta read;
    EWayRead copy = ReadWay(find, "COPY", false, nFileSize, read.eDigest, read.copy);
    bool bGood = copy != EWayRead::Malformed;
    read.bHasCopy = copy == EWayRead::Read;
    for (unsigned n = 1; bGood && n <= kMaxFilePatches; ++n) {
        S_DeltaWay patch;
        const EWayRead result = ReadWay(find, "PATCH" + std::to_string(n), true, nFileSize, read.eDigest, patch);
        if (result == EWayRead::Absent) break;
        bGood = result == EWayRead::Read;
        read.vecPatches.push_back(std::move(patch));
    }
    if (!bGood) return false;
    if (read.bHasCopy || !read.vecPatches.empty()) delta = std::move(read);
    return true;
}

void SetFileDeltaKeys(IniDocument& doc, const std::string& strSection, const S_FileDelta& delta) {
    if (delta.bHasCopy) {
        doc.Set(strSection, "COPYSIZE", std::to_string(delta.copy.nSize));
        doc.Set(strSection, "COPYDIGEST", delta.copy.strDigest);
    }
    for (size_t i = 0; i < delta.vecPatches.size() && i < kMaxFilePatches; ++i) {
        const std::string strPrefix = "PATCH" + std::to_string(i + 1);
        doc.Set(strSection, strPrefix + "BASE", delta.vecPatches[i].strBase);
        doc.Set(strSection, strPrefix + "SIZE", std::to_string(delta.vecPatches[i].nSize));
        doc.Set(strSection, strPrefix + "DIGEST", delta.vecPatches[i].strDigest);
    }
}
