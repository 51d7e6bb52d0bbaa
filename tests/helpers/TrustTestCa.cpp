// Adds a test CA (a DER certificate file) to the LocalMachine root store of
// the Wine prefix it runs in, so that the test servers' certificates verify.
// Only ever run inside a test's private prefix.
#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 2) {
        std::fprintf(stderr, "usage: TrustTestCa CA.der\n");
        return 2;
    }
    HANDLE hFile = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "CreateFileW failed: %lu\n", GetLastError());
        return 1;
    }
    std::vector<BYTE> vecDer(64 * 1024);
    DWORD cbRead = 0;
    const BOOL bRead = ReadFile(hFile, vecDer.data(), static_cast<DWORD>(vecDer.size()), &cbRead, nullptr);
    CloseHandle(hFile);
    if (!bRead || cbRead == 0) {
        std::fprintf(stderr, "ReadFile failed: %lu\n", GetLastError());
        return 1;
    }
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (!hStore) {
        std::fprintf(stderr, "CertOpenStore failed: %lu\n", GetLastError());
        return 1;
    }
    const BOOL bAdded = CertAddEncodedCertificateToStore(hStore, X509_ASN_ENCODING, vecDer.data(), cbRead,
                                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(hStore, 0);
    if (!bAdded) std::fprintf(stderr, "CertAddEncodedCertificateToStore failed: %lu\n", GetLastError());
    return bAdded ? 0 : 1;
}
