#include "config/ReleaseTrust.h"

#include "platform/ini/CryptConfigFile.h"

namespace {

const char kConfigName[] = "Config.dat";
const char kRecordSection[] = "Signature";

}  // namespace

S_ReleaseTrust ReadReleaseTrust(const std::string& strAppPath) {
    S_ReleaseTrust trust;
    CCryptConfigFile config(strAppPath + kConfigName, "");
    // A damaged file hides whether it holds a key: assume it does, and that it cannot be read.
    if (config.IsDamaged()) {
        trust.eTrust = ETrust::Broken;
        trust.bConfigDamaged = true;
        return trust;
    }
    std::string strValue;
    if (config.ReadString("Update", "PublicKey", "", strValue) != 0) return trust;   // no key: unsigned
    trust.eTrust = ParsePublicKeyList(strValue, trust.vecKeys) ? ETrust::Signed : ETrust::Broken;
    return trust;
}

std::string ReadAcceptedSigned(const std::string& strAppPath, const std::string& strRecordName) {
    CCryptConfigFile config(strAppPath + kConfigName, "");
    std::string strSigned;
    config.ReadString(kRecordSection, strRecordName, "", strSigned);
    return strSigned;
}

bool WriteAcceptedSigned(const std::string& strAppPath, const std::string& strRecordName, const std::string& strSigned) {
    CCryptConfigFile config(strAppPath + kConfigName, "");
    return config.WriteString(kRecordSection, strRecordName, strSigned) == 0;
}
