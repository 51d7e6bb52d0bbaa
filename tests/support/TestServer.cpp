#include "support/TestServer.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdlib>

#include "platform/base/Text.h"
#include "platform/base/WinHttpHandle.h"

namespace {

struct AdminReply {
    DWORD dwStatus = 0;
    std::string strBody;
};

unsigned short PortFromEnv(const char* pszName) {
    char szValue[16] = {};
    DWORD n = GetEnvironmentVariableA(pszName, szValue, sizeof(szValue));
    if (n == 0 || n >= sizeof(szValue)) return 0;
    long nPort = std::strtol(szValue, nullptr, 10);
    return nPort > 0 && nPort < 65536 ? static_cast<unsigned short>(nPort) : 0;
}

std::wstring Widen(const std::string& str, UINT nCodePage) {
    if (str.empty()) return std::wstring();
    int n = MultiByteToWideChar(nCodePage, 0, str.data(), static_cast<int>(str.size()), nullptr, 0);
    std::wstring wstr(n, L'\0');
    MultiByteToWideChar(nCodePage, 0, str.data(), static_cast<int>(str.size()), &wstr[0], n);
    return wstr;
}

std::string Narrow(const std::wstring& wstr, UINT nCodePage) {
    if (wstr.empty()) return std::string();
    int n = WideCharToMultiByte(nCodePage, 0, wstr.data(), static_cast<int>(wstr.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string str(n, '\0');
    WideCharToMultiByte(nCodePage, 0, wstr.data(), static_cast<int>(wstr.size()), &str[0], n, nullptr, nullptr);
    return str;
}

// One admin request straight to 127.0.0.1:nPort, never through a proxy.
bool Exchange(unsigned short nPort, const wchar_t* pszVerb, const wchar_t* pszPath, const std::string& strBody,
              AdminReply& reply) {
    if (nPort == 0) return false;
    UniqueInternet hSession(WinHttpOpen(L"QOVATestClient", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0));
    if (!hSession) return false;
    WinHttpSetTimeouts(hSession.get(), 5000, 5000, 30000, 30000);
    UniqueInternet hConnect(WinHttpConnect(hSession.get(), L"127.0.0.1", nPort, 0));
    if (!hConnect) return false;
    UniqueInternet hRequest(WinHttpOpenRequest(hConnect.get(), pszVerb, pszPath, nullptr, WINHTTP_NO_REFERER,
                                               WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!hRequest) return false;
    DWORD dwTimeout = 30000;
    WinHttpSetOption(hRequest.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
    WinHttpSetOption(hRequest.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &dwTimeout, sizeof(dwTimeout));
    DWORD cbBody = static_cast<DWORD>(strBody.size());
    void* pBody = strBody.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(strBody.data());
    if (!WinHttpSendRequest(hRequest.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, pBody, cbBody, cbBody, 0) ||
        !WinHttpReceiveResponse(hRequest.get(), nullptr))
        return false;
    DWORD cbStatus = sizeof(reply.dwStatus);
    if (!WinHttpQueryHeaders(hRequest.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &reply.dwStatus, &cbStatus, WINHTTP_NO_HEADER_INDEX))
        return false;
    char szBuf[8192];
    for (;;) {
        DWORD cbRead = 0;
        if (!WinHttpReadData(hRequest.get(), szBuf, sizeof(szBuf), &cbRead)) return false;
        if (cbRead == 0) break;
        reply.strBody.append(szBuf, cbRead);
    }
    return true;
}

std::vector<std::string> SplitLines(const std::string& strText) {
    std::vector<std::string> vecLines;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos) nEnd = strText.size();
        vecLines.push_back(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return vecLines;
}

// The server runs on the Unix side; under Wine it gets the Unix path, elsewhere
// the Windows path (the server maps drive letters itself).
std::string ServerPathOf(const std::string& strWindowsPath) {
    std::wstring wstrPath = Utf8ToWide(strWindowsPath);
    using WineGetUnixFileName = char*(CDECL*)(LPCWSTR);
    FARPROC pfn = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (pfn) {
        auto pfnGet = reinterpret_cast<WineGetUnixFileName>(reinterpret_cast<void*>(pfn));
        if (char* pszUnix = pfnGet(wstrPath.c_str())) {
            std::string strUnix(pszUnix);  // already in the Unix locale's charset (UTF-8)
            HeapFree(GetProcessHeap(), 0, pszUnix);
            return strUnix;
        }
    }
    return Narrow(wstrPath, CP_UTF8);
}

std::string StringFromEnv(const char* pszName) {
    char szValue[MAX_PATH * 2] = {};
    DWORD n = GetEnvironmentVariableA(pszName, szValue, sizeof(szValue));
    return n == 0 || n >= sizeof(szValue) ? std::string() : std::string(szValue, n);
}

}  // namespace

TestServer TestServer::First() { return TestServer(PortFromEnv("QOVA_TEST_SERVER1")); }
TestServer TestServer::Second() { return TestServer(PortFromEnv("QOVA_TEST_SERVER2")); }
unsigned short TestServer::ProxyPort() { return PortFromEnv("QOVA_TEST_PROXY"); }

bool TestServer::Serve(const std::string& strRoot) {
    AdminReply reply;
    return Exchange(m_nPort, L"POST", L"/__admin/serve", ServerPathOf(strRoot), reply) && reply.dwStatus == 200;
}

bool TestServer::SetFault(const std::string& strUrlPath, const std::string& strKind) {
    std::string strBody = strKind + " " + strUrlPath;   // UTF-8, as the server speaks
    AdminReply reply;
    return Exchange(m_nPort, L"POST", L"/__admin/fault", strBody, reply) && reply.dwStatus == 200;
}

std::vector<std::string> TestServer::RequestLog() {
    AdminReply reply;
    if (!Exchange(m_nPort, L"GET", L"/__admin/log", std::string(), reply) || reply.dwStatus != 200) return {};
    return SplitLines(reply.strBody);
}

std::vector<std::string> SortRuns(std::vector<std::string> vec, size_t nFirst) {
    const auto split = vec.begin() + static_cast<std::ptrdiff_t>(std::min(nFirst, vec.size()));
    std::sort(vec.begin(), split);
    std::sort(split, vec.end());
    return vec;
}

std::vector<std::string> TestServer::RequestLogInRuns(size_t nFirst) { return SortRuns(RequestLog(), nFirst); }

int TestServer::ConnectionCount() {
    AdminReply reply;
    if (!Exchange(m_nPort, L"GET", L"/__admin/connections", std::string(), reply) || reply.dwStatus != 200)
        return -1;
    return std::atoi(reply.strBody.c_str());
}

std::vector<std::string> TestServer::ProxyLog() {
    AdminReply reply;
    if (!Exchange(ProxyPort(), L"GET", L"/__admin/log", std::string(), reply) || reply.dwStatus != 200) return {};
    return SplitLines(reply.strBody);
}

bool TestServer::ClearProxyLog() {
    AdminReply reply;
    return Exchange(ProxyPort(), L"POST", L"/__admin/clear", std::string(), reply) && reply.dwStatus == 200;
}

bool TestServer::SetDelay(unsigned int nMilliseconds) {
    AdminReply reply;
    return Exchange(m_nPort, L"POST", L"/__admin/delay", std::to_string(nMilliseconds), reply) &&
           reply.dwStatus == 200;
}

std::vector<std::string> TestServer::RequestDetails() {
    AdminReply reply;
    if (!Exchange(m_nPort, L"GET", L"/__admin/requests", std::string(), reply) || reply.dwStatus != 200) return {};
    return SplitLines(reply.strBody);
}

long long TestServer::BodyBytes() {
    AdminReply reply;
    if (!Exchange(m_nPort, L"GET", L"/__admin/bytes", std::string(), reply) || reply.dwStatus != 200) return -1;
    return std::atoll(reply.strBody.c_str());
}

bool TestServer::SetProxyAuth(const std::string& strMode) {
    AdminReply reply;
    return Exchange(ProxyPort(), L"POST", L"/__admin/auth", strMode, reply) && reply.dwStatus == 200;
}

std::vector<std::string> TestServer::ProxyAuthLog() {
    AdminReply reply;
    if (!Exchange(ProxyPort(), L"GET", L"/__admin/auth-log", std::string(), reply) || reply.dwStatus != 200)
        return {};
    return SplitLines(reply.strBody);
}

unsigned short TestServer::TlsPort(const char* pszVariable) { return PortFromEnv(pszVariable); }

unsigned short TestServer::NginxPort() { return PortFromEnv("QOVA_TEST_NGINX"); }
std::string TestServer::NginxRoot() { return StringFromEnv("QOVA_TEST_NGINX_ROOT"); }

std::vector<std::string> TestServer::NginxLog() {
    std::string strPath = StringFromEnv("QOVA_TEST_NGINX_LOG");
    HANDLE hFile = CreateFileW(Utf8ToWide(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return {};
    std::string strText;
    char szBuf[8192];
    DWORD cbRead = 0;
    while (ReadFile(hFile, szBuf, sizeof(szBuf), &cbRead, nullptr) && cbRead) strText.append(szBuf, cbRead);
    CloseHandle(hFile);
    return SplitLines(strText);
}
