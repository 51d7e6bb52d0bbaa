#include "platform/delta/DeltaIo.h"

#include "platform/base/Text.h"

namespace {
constexpr std::size_t kOutputBuffer = 1 << 20;
}

bool DeltaInputFile::Open(const std::string& strPath) {
    m_file.reset(::CreateFileW(Utf8ToWide(strPath).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_file) return false;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(m_file.get(), &size) || size.QuadPart < 0) {
        m_file.reset();
        return false;
    }
    m_size = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

bool DeltaInputFile::ReadAt(std::uint64_t offset, void* pv, std::size_t cb) const {
    auto* p = static_cast<unsigned char*>(pv);
    while (cb > 0) {
        OVERLAPPED ov = {};
        ov.Offset = static_cast<DWORD>(offset);
        ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD cbChunk = static_cast<DWORD>(cb < (1u << 30) ? cb : (1u << 30));
        DWORD cbRead = 0;
        if (!::ReadFile(m_file.get(), p, cbChunk, &cbRead, &ov) || cbRead == 0) return false;
        p += cbRead;
        cb -= cbRead;
        offset += cbRead;
    }
    return true;
}

DeltaMappedFile::~DeltaMappedFile() {
    if (m_pView) ::UnmapViewOfFile(m_pView);
}

bool DeltaMappedFile::Open(const std::string& strPath) {
    if (!m_input.Open(strPath)) return false;
    if (m_input.Size() == 0) return true;
    if (m_input.Size() > static_cast<std::uint64_t>(SIZE_MAX)) return false;
    m_mapping.reset(::CreateFileMappingW(m_input.Handle(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!m_mapping) return false;
    m_pView = static_cast<const unsigned char*>(::MapViewOfFile(m_mapping.get(), FILE_MAP_READ, 0, 0, 0));
    return m_pView != nullptr;
}

DeltaOutputFile::~DeltaOutputFile() { Discard(); }

bool DeltaOutputFile::Create(const std::string& strPath) {
    m_strPath = Utf8ToWide(strPath);
    m_file.reset(::CreateFileW(m_strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    m_buffer.reserve(kOutputBuffer);
    return static_cast<bool>(m_file);
}

bool DeltaOutputFile::Flush() {
    std::size_t done = 0;
    while (done < m_buffer.size()) {
        DWORD cbWritten = 0;
        const DWORD cb = static_cast<DWORD>(m_buffer.size() - done);
        if (!::WriteFile(m_file.get(), m_buffer.data() + done, cb, &cbWritten, nullptr) || cbWritten == 0)
            return false;
        done += cbWritten;
    }
    m_buffer.clear();
    return true;
}

bool DeltaOutputFile::Write(const void* pv, std::size_t cb) {
    if (!m_file) return false;
    const char* p = static_cast<const char*>(pv);
    m_written += cb;
    while (cb > 0) {
        const std::size_t room = kOutputBuffer - m_buffer.size();
        const std::size_t take = cb < room ? cb : room;
        m_buffer.append(p, take);
        p += take;
        cb -= take;
        if (m_buffer.size() == kOutputBuffer && !Flush()) return false;
    }
    return true;
}

bool DeltaOutputFile::Commit() {
    if (!m_file || !Flush()) return false;
    m_file.reset();
    m_strPath.clear();
    return true;
}

void DeltaOutputFile::Discard() {
    if (m_strPath.empty()) return;
    m_file.reset();
    ::DeleteFileW(m_strPath.c_str());
    m_strPath.clear();
}

bool DeltaReadWholeFile(const std::string& strPath, std::uint64_t cbMax, std::string& strBytes) {
    DeltaInputFile file;
    if (!file.Open(strPath) || file.Size() > cbMax) return false;
    try {
        strBytes.assign(static_cast<std::size_t>(file.Size()), '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    return file.Size() == 0 || file.ReadAt(0, &strBytes[0], strBytes.size());
}
