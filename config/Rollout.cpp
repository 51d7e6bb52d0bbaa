#include "config/Rollout.h"

#include <windows.h>
#include <bcrypt.h>

#include "platform/ini/CryptConfigFile.h"

namespace {

constexpr char kSection[] = "Rollout";
constexpr char kDrawKey[] = "Draw";

bool ParseDecimal(const std::string& strValue, unsigned nMax, unsigned& nValue) {
    if (strValue.empty() || strValue.size() > 5) return false;
    unsigned n = 0;
    for (char c : strValue) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (n > nMax) return false;
    nValue = n;
    return true;
}

// Uniform over 0 .. kRolloutDraws - 1: values past the last whole multiple are drawn again.
bool DrawNumber(unsigned& nDraw) {
    const unsigned kLimit = 0x10000u - 0x10000u % kRolloutDraws;
    for (;;) {
        unsigned short nRandom = 0;
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&nRandom), sizeof(nRandom),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            return false;
        }
        if (nRandom < kLimit) {
            nDraw = nRandom % kRolloutDraws;
            return true;
        }
    }
}

}  // namespace

bool ParseRolloutPercent(const std::string& strValue, unsigned& nPercent) { return ParseDecimal(strValue, 100, nPercent); }

bool ReadRolloutDraw(const std::string& strAppPath, unsigned& nDraw) {
    CCryptConfigFile config(strAppPath + "UserConfig.dat", "");
    std::string strDraw;
    config.ReadString(kSection, kDrawKey, "", strDraw);
    if (ParseDecimal(strDraw, kRolloutDraws - 1, nDraw)) return true;
    unsigned nNew = 0;
    if (DrawNumber(nNew) && config.WriteString(kSection, kDrawKey, std::to_string(nNew)) == 0) {
        nDraw = nNew;
        return true;
    }
    nDraw = kRolloutDraws - 1;
    return false;
}
