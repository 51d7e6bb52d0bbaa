#include "manifest/ManifestSignature.h"

#include <windows.h>

#include <cstdio>

#include "manifest/UpdateFileInfo.h"
#include "platform/fs/FileContents.h"
#include "platform/ini/IniDocument.h"
#include "platform/crypto/Base64.h"

const char kSignatureSuffix[] = ".sig";

namespace {

const size_t kKeyIdDigits = 16;


const char kMessagePrefix[] = "QOVA-SIG-2\n";
const char kSection[] = "Signature";
const long long kSecondsPerDay = 86400;

bool ReadDigits(const std::string& strText, size_t nPos, size_t nCount, int& nValue) {
    nValue = 0;
    for (size_t i = nPos; i < nPos + nCount; ++i) {
        if (strText[i] < '0' || strText[i] > '9') return false;
        nValue = nValue * 10 + (strText[i] - '0');
    }
    return true;
}

bool IsLeapYear(int nYear) { return (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0; }

int DaysInMonth(int nYear, int nMonth) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return nMonth == 2 && IsLeapYear(nYear) ? 29 : kDays[nMonth - 1];
}

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
long long DaysFromCivil(int nYear, int nMonth, int nDay) {
    const int y = nYear - (nMonth <= 2 ? 1 : 0);
    const int era = y / 400;   // years from 1970 on: never negative
    const int yoe = y - era * 400;
    const int doy = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<long long>(era) * 146097 + doe - 719468;
}

bool IsHexDigest(const std::string& strValue) {
    if (strValue.size() != 64) return false;
    for (char c : strValue) {
        const bool bHex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!bHex) return false;
    }
    return true;
}

bool HasSha256(const IniDocument& doc, const std::string& strSection) {
    const std::string* pValue = doc.Find(strSection, "SHA256");
    return pValue && IsHexDigest(*pValue);
}

// Digits only, and a length the transport can hold a body to (the largest
// value stands for "unknown" there, which bounds nothing).
bool HasPlainSize(const IniDocument& doc, const std::string& strSection) {
    const std::string* pValue = doc.Find(strSection, "SIZE");
    unsigned long long nBytes = 0;
    return pValue && ParseManifestSize(*pValue, nBytes) && nBytes != kUnknownSize;
}

// strSection := the first file section that fails fnHas.
bool FindFileSection(const std::string& strManifest, EManifestLayout layout,
                     bool (*fnHas)(const IniDocument&, const std::string&), std::string& strSection) {
    strSection.clear();
    IniDocument doc;
    doc.Parse(strManifest);
    const std::vector<std::string> vecSections =
        layout == EManifestLayout::Program ? doc.KeyNames("FILES") : doc.SectionNames();
    for (const std::string& strName : vecSections) {
        if (!fnHas(doc, strName)) {
            strSection = strName;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ParseUtcTime(const std::string& strText, long long& nSeconds) {
    // 2026-12-08T09:30:00Z
    if (strText.size() != 20 || strText[4] != '-' || strText[7] != '-' || strText[10] != 'T' || strText[13] != ':' ||
        strText[16] != ':' || strText[19] != 'Z') {
        return false;
    }
    int nYear, nMonth, nDay, nHour, nMinute, nSecond;
    if (!ReadDigits(strText, 0, 4, nYear) || !ReadDigits(strText, 5, 2, nMonth) || !ReadDigits(strText, 8, 2, nDay) ||
        !ReadDigits(strText, 11, 2, nHour) || !ReadDigits(strText, 14, 2, nMinute) ||
        !ReadDigits(strText, 17, 2, nSecond)) {
        return false;
    }
    if (nYear < 1970 || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > DaysInMonth(nYear, nMonth) || nHour > 23 ||
        nMinute > 59 || nSecond > 59) {
        return false;
    }
    nSeconds = DaysFromCivil(nYear, nMonth, nDay) * kSecondsPerDay + nHour * 3600LL + nMinute * 60LL + nSecond;
    return true;
}

std::string FormatUtcTime(long long nSeconds) {
    if (nSeconds < 0) return std::string();
    // Civil date from days since 1970-01-01 (the inverse of DaysFromCivil).
    const long long z = nSeconds / kSecondsPerDay + 719468;
    const long long era = z / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long nDay = doy - (153 * mp + 2) / 5 + 1;
    const long long nMonth = mp < 10 ? mp + 3 : mp - 9;
    const long long nYear = yoe + era * 400 + (nMonth <= 2 ? 1 : 0);
    if (nYear > 9999) return std::string();
    const long long nTime = nSeconds % kSecondsPerDay;
    char szText[32];
    std::snprintf(szText, sizeof(szText), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", nYear, nMonth, nDay,
                  nTime / 3600, nTime / 60 % 60, nTime % 60);
    return szText;
}

long long CurrentUtcTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const unsigned long long n100ns = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    const unsigned long long kEpoch = 116444736000000000ULL;   // 1970-01-01 in FILETIME units
    return n100ns < kEpoch ? 0 : static_cast<long long>((n100ns - kEpoch) / 10000000ULL);
}

std::string ManifestTarget(int nUpdateType, const std::string& strManifestName) {
    return "/" + std::to_string(nUpdateType) + "/" + strManifestName;
}

std::string SignedMessage(const std::string& strTarget, const std::string& strSigned, const std::string& strExpires,
                          const std::string& strManifest) {
    std::string strMessage = kMessagePrefix;
    strMessage.reserve(strMessage.size() + strTarget.size() + strSigned.size() + strExpires.size() + 3 +
                       strManifest.size());
    strMessage += strTarget;
    strMessage += '\n';
    strMessage += strSigned;
    strMessage += '\n';
    strMessage += strExpires;
    strMessage += '\n';
    strMessage += strManifest;
    return strMessage;
}

std::string KeyId(const CEcdsaP256PublicKey& key) {
    std::string strDigest;
    if (!Sha256Of(key.Point(), strDigest)) return std::string();
    static const char kHex[] = "0123456789abcdef";
    std::string strId;
    for (size_t i = 0; i < kKeyIdDigits / 2 && i < strDigest.size(); ++i) {
        const unsigned char uch = static_cast<unsigned char>(strDigest[i]);
        strId += kHex[uch >> 4];
        strId += kHex[uch & 0x0F];
    }
    return strId;
}

std::string SignatureText(const S_ManifestSignature& sig) {
    std::string strText = std::string("[") + kSection + "]\r\nTarget=" + sig.strTarget + "\r\nSigned=" +
                          sig.strSigned + "\r\n";
    if (!sig.strExpires.empty()) strText += "Expires=" + sig.strExpires + "\r\n";
    strText += "Value=" + sig.strValue + "\r\n";
    if (!sig.strKey.empty()) strText += "Key=" + sig.strKey + "\r\n";
    return strText;
}

bool ParseSignatureText(const std::string& strText, S_ManifestSignature& sig) {
    sig = S_ManifestSignature();
    IniDocument doc;
    doc.Parse(strText);
    const std::string* pTarget = doc.Find(kSection, "Target");
    const std::string* pSigned = doc.Find(kSection, "Signed");
    const std::string* pExpires = doc.Find(kSection, "Expires");
    const std::string* pValue = doc.Find(kSection, "Value");
    long long nTime = 0;
    std::string strSignature;
    if (!pTarget || pTarget->empty() || (*pTarget)[0] != '/' || pTarget->find('\n') != std::string::npos ||
        !pSigned || !pValue || !ParseUtcTime(*pSigned, nTime) || !Base64Decode(*pValue, strSignature) ||
        strSignature.size() != kP256SignatureBytes) {
        return false;
    }
    // "Expires=" with nothing after it signs the same bytes as no Expires at all.
    if (pExpires && !pExpires->empty() && !ParseUtcTime(*pExpires, nTime)) return false;
    sig.strTarget = *pTarget;
    sig.strSigned = *pSigned;
    sig.strExpires = pExpires ? *pExpires : std::string();
    sig.strValue = *pValue;
    // A line that is not a KeyId is ignored: it decides nothing.
    const std::string* pKey = doc.Find(kSection, "Key");
    if (pKey && pKey->size() == kKeyIdDigits && pKey->find_first_not_of("0123456789abcdef") == std::string::npos)
        sig.strKey = *pKey;
    return true;
}

bool SignManifest(const std::string& strManifest, const std::string& strTarget, const CEcdsaP256PrivateKey& key,
                  long long nSigned, long long nExpires, S_ManifestSignature& sig) {
    sig = S_ManifestSignature();
    if (strTarget.empty() || strTarget[0] != '/' || strTarget.find_first_of("\r\n") != std::string::npos) return false;
    const std::string strSigned = FormatUtcTime(nSigned);
    const std::string strExpires = nExpires < 0 ? std::string() : FormatUtcTime(nExpires);
    if (strSigned.empty() || (nExpires >= 0 && strExpires.empty())) return false;
    std::string strDigest;
    std::string strSignature;
    if (!Sha256Of(SignedMessage(strTarget, strSigned, strExpires, strManifest), strDigest) ||
        !key.Sign(strDigest, strSignature)) {
        return false;
    }
    sig.strTarget = strTarget;
    sig.strSigned = strSigned;
    sig.strExpires = strExpires;
    sig.strValue = Base64Encode(strSignature);
    CEcdsaP256PublicKey publicKey;
    if (publicKey.Import(key.PublicPoint())) sig.strKey = KeyId(publicKey);
    return true;
}

bool IsManifestText(const std::string& strManifest, EManifestLayout layout) {
    IniDocument doc;
    doc.Parse(strManifest);
    return layout == EManifestLayout::Program ? doc.HasSection("Version") : !doc.SectionNames().empty();
}

bool FindSectionWithoutSha256(const std::string& strManifest, EManifestLayout layout, std::string& strSection) {
    return FindFileSection(strManifest, layout, HasSha256, strSection);
}

bool FindSectionWithoutSize(const std::string& strManifest, EManifestLayout layout, std::string& strSection) {
    return FindFileSection(strManifest, layout, HasPlainSize, strSection);
}

ESignatureCheck CheckManifestSignature(const std::string& strManifest, const std::string& strSignatureText,
                                       const std::string& strTarget, EManifestLayout layout, const std::vector<CEcdsaP256PublicKey>& vecKeys,
                                       long long nNow, const std::string& strNewestAccepted, S_ManifestSignature& sig) {
    if (!ParseSignatureText(strSignatureText, sig)) return ESignatureCheck::Malformed;

    std::string strDigest;
    std::string strSignature;
    // The path asked for, not the file's claim: a pair served in place of another fails here.
    if (!Sha256Of(SignedMessage(strTarget, sig.strSigned, sig.strExpires, strManifest), strDigest) ||
        !Base64Decode(sig.strValue, strSignature)) {
        return ESignatureCheck::BadSignature;
    }
    bool bVerified = false;
    for (const CEcdsaP256PublicKey& key : vecKeys) {
        if (key.Verify(strDigest, strSignature)) {
            bVerified = true;
            break;
        }
    }
    if (!bVerified) {
        // Only what the log says: a .sig naming a known key but not verifying is a changed manifest.
        if (sig.strKey.empty()) return ESignatureCheck::BadSignature;
        for (const CEcdsaP256PublicKey& key : vecKeys) {
            if (KeyId(key) == sig.strKey) return ESignatureCheck::BadSignature;
        }
        return ESignatureCheck::OtherKey;
    }

    long long nSigned = 0;
    long long nExpires = 0;
    ParseUtcTime(sig.strSigned, nSigned);   // both well-formed: ParseSignatureText said so
    if (!sig.strExpires.empty() && ParseUtcTime(sig.strExpires, nExpires) && nNow > nExpires) {
        return ESignatureCheck::Expired;
    }
    if (!strNewestAccepted.empty()) {
        long long nAccepted = 0;
        if (!ParseUtcTime(strNewestAccepted, nAccepted)) return ESignatureCheck::BadRecord;
        if (nSigned < nAccepted) return ESignatureCheck::Replayed;
    }
    std::string strSection;
    if (FindSectionWithoutSha256(strManifest, layout, strSection)) return ESignatureCheck::NoSha256;
    // Without a length a file's body is bounded by nothing: any stream fills the disk.
    if (FindSectionWithoutSize(strManifest, layout, strSection)) return ESignatureCheck::NoSize;
    return ESignatureCheck::Valid;
}

ESignatureCheck VerifyManifestFile(const std::string& strManifestPath, const std::string& strTarget,
                                   EManifestLayout layout,
                                   const std::vector<CEcdsaP256PublicKey>& vecKeys, long long nNow,
                                   const std::string& strNewestAccepted, S_ManifestSignature& sig) {
    sig = S_ManifestSignature();
    std::string strManifest;
    if (ReadWholeFile(strManifestPath, strManifest) != FileReadResult::Read) return ESignatureCheck::NoManifest;
    std::string strSignatureText;
    if (ReadWholeFile(strManifestPath + kSignatureSuffix, strSignatureText) != FileReadResult::Read) {
        return ESignatureCheck::NoSignature;
    }
    std::string strCheckedTarget = strTarget;
    if (strCheckedTarget.empty()) {
        S_ManifestSignature claimed;
        if (ParseSignatureText(strSignatureText, claimed)) strCheckedTarget = claimed.strTarget;
    }
    return CheckManifestSignature(strManifest, strSignatureText, strCheckedTarget, layout, vecKeys, nNow,
                                  strNewestAccepted, sig);
}

const char* SignatureCheckText(ESignatureCheck result) {
    switch (result) {
    case ESignatureCheck::Valid: return "valid";
    case ESignatureCheck::NoManifest: return "the manifest cannot be read";
    case ESignatureCheck::NoSignature: return "no signature file beside the manifest, or it cannot be read";
    case ESignatureCheck::Malformed: return "the signature file is malformed (Target, Signed, Expires or Value)";
    case ESignatureCheck::BadSignature:
        return "the signature does not match the manifest and its Target with any of the keys";
    case ESignatureCheck::OtherKey: return "signed with a key this installation does not trust";
    case ESignatureCheck::Expired: return "the signature has expired";
    case ESignatureCheck::Replayed: return "signed before the newest signature accepted earlier";
    case ESignatureCheck::BadRecord: return "the recorded signing time cannot be read";
    case ESignatureCheck::NoSha256: return "a file section has no SHA256";
    case ESignatureCheck::NoSize: return "a file section has no plain SIZE";
    }
    return "unknown result";
}
