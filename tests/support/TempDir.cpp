#include "support/TempDir.h"

#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "platform/base/Text.h"
#include "platform/fs/DirectoryEx.h"

namespace {

// A run meant for another Windows language (ctest sets QOVA_EXPECT_ACP with
// LC_ALL) fails at once when Wine did not take the code page from the locale:
// the run would prove nothing.
class CodePageCheck : public ::testing::Environment {
public:
    void SetUp() override {
        wchar_t szExpected[16] = {};
        const DWORD cch = GetEnvironmentVariableW(L"QOVA_EXPECT_ACP", szExpected, 16);
        if (cch == 0 || cch >= 16) return;
        ASSERT_EQ(std::wcstoul(szExpected, nullptr, 10), GetACP()) << "the system code page of this run";
    }
};
[[maybe_unused]] ::testing::Environment* const g_pCodePageCheck = ::testing::AddGlobalTestEnvironment(new CodePageCheck);

void CreateParents(const std::string& strPath) {
    std::string strDir;
    CDirectoryEx::GetFilePath(strPath, strDir);
    if (!strDir.empty() && !PathIsDirectoryW(Utf8ToWide(strDir).c_str())) CDirectoryEx::CreateMultipleDirectory(strDir);
}

}  // namespace

// Wine hands a freed process id to a later process of the same run, so an
// earlier test program may have used this name, and what it left there may
// still be held by a process of its own. The directory is made here or a new
// name is taken: a test never starts in another program's files.
TempDir::TempDir() {
    static std::atomic<unsigned> s_nCounter{0};
    wchar_t szTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, szTemp);
    CDirectoryEx::CreateMultipleDirectory(WideToUtf8(szTemp));
    for (;;) {
        char szName[64];
        std::snprintf(szName, sizeof(szName), "qova-test-%lu-%u\\", GetCurrentProcessId(), s_nCounter++);
        m_strPath = WideToUtf8(szTemp) + szName;
        if (CreateDirectoryW(Utf8ToWide(m_strPath).c_str(), nullptr)) return;
        const DWORD dwError = GetLastError();
        if (dwError != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create " << m_strPath << ": error " << dwError;
            return;
        }
        std::fprintf(stderr, "TempDir: %s is left from an earlier program with this process id; next name\n",
                     m_strPath.c_str());
    }
}

TempDir::~TempDir() {
    CDirectoryEx::DeleteDirectory(m_strPath);
    // Something of the test still holds a file there: say so, it is a fault of the test.
    if (PathIsDirectoryW(Utf8ToWide(m_strPath).c_str()))
        std::fprintf(stderr, "TempDir: %s could not be deleted (a file in it is still open)\n", m_strPath.c_str());
}

bool WriteFileBytes(const std::string& strPath, const std::string& strBytes) {
    CreateParents(strPath);
    FILE* pFile = _wfopen(Utf8ToWide(strPath).c_str(), L"wb");
    if (!pFile) return false;
    bool bOk = std::fwrite(strBytes.data(), 1, strBytes.size(), pFile) == strBytes.size();
    return std::fclose(pFile) == 0 && bOk;
}

std::string ReadFileBytes(const std::string& strPath) {
    std::string strBytes;
    FILE* pFile = _wfopen(Utf8ToWide(strPath).c_str(), L"rb");
    if (!pFile) return strBytes;
    char szBuf[65536];
    size_t n;
    while ((n = std::fread(szBuf, 1, sizeof(szBuf), pFile)) > 0) strBytes.append(szBuf, n);
    std::fclose(pFile);
    return strBytes;
}

bool FileExists(const std::string& strPath) {
    DWORD dwAttr = GetFileAttributesW(Utf8ToWide(strPath).c_str());
    return dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

std::string TestProgramDir() {
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    PathRemoveFileSpecW(szPath);
    return WideToUtf8(szPath) + "\\";
}

std::string ProductBinDir() { return TestProgramDir() + "..\\bin\\"; }

std::string Gbk(const std::string& strUtf8) {
    std::string strGbk;
    return Utf8ToGbk(strUtf8, strGbk) ? strGbk : strUtf8;
}

std::string PseudoRandomBytes(size_t nSize) {
    std::string strBytes(nSize, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < nSize; ++i) {
        x = x * 1103515245u + 12345u;
        strBytes[i] = static_cast<char>((x >> 16) & 0xFF);
    }
    return strBytes;
}
