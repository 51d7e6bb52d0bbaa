#pragma once
// A fresh directory under the Windows temporary directory for one test,
// deleted with everything in it when the object goes away.
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Ends in '\'.
    const std::string& Path() const { return m_strPath; }
    // Path() + relative name ('\'-separated).
    std::string operator/(const std::string& strRelative) const { return m_strPath + strRelative; }

private:
    std::string m_strPath;
};

// Small file helpers for tests (UTF-8 paths, as in the product).
bool WriteFileBytes(const std::string& strPath, const std::string& strBytes);   // creates parents
std::string ReadFileBytes(const std::string& strPath);                          // empty when missing
bool FileExists(const std::string& strPath);
// The GBK (code page 936) bytes of UTF-8 text, as the stored formats hold it.
// Text that is not UTF-8 or has no GBK spelling comes back unchanged: that is
// how a test hands a reader bytes that are not GBK.
std::string Gbk(const std::string& strUtf8);
// nSize deterministic bytes (a fixed linear congruential sequence), the same in
// every run, so that expected digests can be computed elsewhere once.
std::string PseudoRandomBytes(size_t nSize);
// Directory of the running test program, ending in '\'.
std::string TestProgramDir();
// build\bin\ beside the test programs' build\tests\.
std::string ProductBinDir();
