#include "platform/crypto/Base64.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of an alphabet character, or -1.
int SextetOf(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string Base64Encode(const std::string& strBytes) {
    std::string strText;
    strText.reserve((strBytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= strBytes.size(); i += 3) {
        const unsigned n = (static_cast<unsigned char>(strBytes[i]) << 16) |
                           (static_cast<unsigned char>(strBytes[i + 1]) << 8) | static_cast<unsigned char>(strBytes[i + 2]);
        strText += kAlphabet[(n >> 18) & 63];
        strText += kAlphabet[(n >> 12) & 63];
        strText += kAlphabet[(n >> 6) & 63];
        strText += kAlphabet[n & 63];
    }
    const size_t nRest = strBytes.size() - i;
    if (nRest > 0) {
        unsigned n = static_cast<unsigned char>(strBytes[i]) << 16;
        if (nRest == 2) n |= static_cast<unsigned char>(strBytes[i + 1]) << 8;
        strText += kAlphabet[(n >> 18) & 63];
        strText += kAlphabet[(n >> 12) & 63];
        strText += nRest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        strText += '=';
    }
    return strText;
}

bool Base64Decode(const std::string& strText, std::string& strBytes) {
    strBytes.clear();
    if (strText.size() % 4 != 0) return false;
    std::string strOut;
    strOut.reserve(strText.size() / 4 * 3);
    for (size_t i = 0; i < strText.size(); i += 4) {
        const bool bLast = i + 4 == strText.size();
        int nPadding = 0;
        if (bLast && strText[i + 3] == '=') nPadding = strText[i + 2] == '=' ? 2 : 1;
        unsigned n = 0;
        for (size_t j = 0; j < 4 - static_cast<size_t>(nPadding); ++j) {
            const int nSextet = SextetOf(strText[i + j]);
            if (nSextet < 0) return false;   // also a '=' anywhere but the padding
            n |= static_cast<unsigned>(nSextet) << (18 - 6 * j);
        }
        // Bits the padding leaves over must be zero: "Zh==" is not another spelling of "Zg==".
        if ((nPadding == 1 && (n & 0xFF) != 0) || (nPadding == 2 && (n & 0xFFFF) != 0)) return false;
        strOut += static_cast<char>((n >> 16) & 0xFF);
        if (nPadding < 2) strOut += static_cast<char>((n >> 8) & 0xFF);
        if (nPadding < 1) strOut += static_cast<char>(n & 0xFF);
    }
    strBytes.swap(strOut);
    return true;
}
