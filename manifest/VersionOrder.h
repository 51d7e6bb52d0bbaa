#pragma once
#include <string>

// True when strA sorts after strB as a plain byte string: bytes compared as
// unsigned values from the left, the first difference decides, and a string
// extending the other is greater. So "4.0.999" is greater than "4.0.1000" and
// "10.0" is not greater than "9.0". This is the one version order of the
// updater; the servers publish versions that sort this way.
bool IsVersionGreater(const std::string& strA, const std::string& strB);
