#pragma once
// What a complete installation leaves besides its files: Config.dat's
// version, the product's registry values, the data set's manifest, the
// accepted signature and the UpdateRecord.dat line.
#include <string>

// What a complete installation leaves besides its files.
struct S_InstallTraces {
    std::string strAppPath;
    bool bWriteConfigVersion = false;   // Config.dat [Update] Version
    bool bWriteRegistry = false;        // HKLM\SOFTWARE\QOVA
    std::string strNewVersion;
    bool bWriteRecord = false;          // UpdateRecord.dat
    std::string strRecordSection;
    std::string strOldVersion;
    std::string strManifestCopyFrom;    // a data set's manifest, copied in last (empty: none)
    std::string strManifestCopyTo;
    std::string strSignatureRecord;     // Config.dat [Signature] (empty: unsigned release)
    std::string strSigned;
};

// Writes the traces, each step best effort: a failed write leaves the value
// as it was and its call, file and error in UPDATE\Update.log. True when
// every write was stored.
bool WriteInstallTraces(const S_InstallTraces& traces);


// The UpdateRecord.dat line alone, IsSucceed = nSucceed (0 after a failed
// installation), best effort as above.
bool WriteInstallRecord(const S_InstallTraces& traces, int nSucceed);
