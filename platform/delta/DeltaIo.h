#pragma once
// Files as the delta code reads and writes them: inputs opened with every
// sharing flag (a running program's image can be read), read by offset; the
// output written in order and removed again unless it was completed.
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/base/Win32Handles.h"

class DeltaInputFile {
public:
    bool Open(const std::string& strPath);
    std::uint64_t Size() const { return m_size; }
    HANDLE Handle() const { return m_file.get(); }
    // Reads exactly cb bytes at offset; false on an error or a short read.
    bool ReadAt(std::uint64_t offset, void* pv, std::size_t cb) const;

private:
    UniqueFile m_file;
    std::uint64_t m_size = 0;
};

// A read-only view of a whole file (empty files have none).
class DeltaMappedFile {
public:
    ~DeltaMappedFile();
    bool Open(const std::string& strPath);
    const unsigned char* Data() const { return m_pView; }
    std::uint64_t Size() const { return m_input.Size(); }

private:
    DeltaInputFile m_input;
    UniqueHandle m_mapping;
    const unsigned char* m_pView = nullptr;
};

class DeltaOutputFile {
public:
    ~DeltaOutputFile();
    bool Create(const std::string& strPath);
    bool Write(const void* pv, std::size_t cb);
    std::uint64_t Written() const { return m_written; }
    // Flushes the buffer and closes; the file then stays.
    bool Commit();
    // Closes and deletes the file (also done by the destructor unless committed).
    void Discard();

private:
    bool Flush();
    UniqueFile m_file;
    std::wstring m_strPath;
    std::string m_buffer;
    std::uint64_t m_written = 0;
};

// The whole file into memory (for making patches); false when unreadable or above cbMax.
bool DeltaReadWholeFile(const std::string& strPath, std::uint64_t cbMax, std::string& strBytes);
