#pragma once
// Base64 text (RFC 4648, standard alphabet, '=' padding) for keys and
// signatures that travel in one line of an INI file.
#include <string>

std::string Base64Encode(const std::string& strBytes);

// Strict: only the standard alphabet, the length a multiple of 4, padding only
// at the end, the unused bits of the last character zero, no blanks or line
// breaks. So every byte string has exactly one accepted text, and a text that
// was altered in transit is refused rather than read as something else. On
// failure strBytes is empty.
bool Base64Decode(const std::string& strText, std::string& strBytes);
