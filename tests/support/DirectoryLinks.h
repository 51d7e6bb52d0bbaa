#pragma once
// Directory links for tests: a symbolic link, else a junction, else under
// Wine (which creates neither) a host link, which shows up as a reparse-point
// directory. Host links are removed with the host's rm when the object goes;
// Wine cannot.
#include <string>
#include <vector>

bool IsReparsePoint(const std::string& strPath);

class DirectoryLinks {
public:
    DirectoryLinks() = default;
    DirectoryLinks(const DirectoryLinks&) = delete;
    DirectoryLinks& operator=(const DirectoryLinks&) = delete;
    ~DirectoryLinks();

    // The kind of link made, empty when none can be made here.
    std::string Create(const std::string& strLink, const std::string& strTarget);

private:
    std::vector<std::string> m_vecHostLinks;
};
