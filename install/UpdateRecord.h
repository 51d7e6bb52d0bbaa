#pragma once
// The lasting traces of a program update: the history file UpdateRecord.dat and
// the product's registry values.
#include <windows.h>

#include <string>

// The current local time formatted with strftime's pattern; empty when the
// result does not fit in 128 bytes.
std::string FormatLocalTime(const std::string& strPattern);

// Writes one section named FormatLocalTime(strPattern) into strAppDir +
// "UpdateRecord.dat": "IsSucceed" = nSucceed, "NewVersion", "OldVersion", in that
// order. A record with the same name replaces those keys. True when all three
// writes were stored.
bool WriteUpdateRecord(const std::string& strAppDir, const std::string& strPattern,
                       const std::string& strNewVersion, const std::string& strOldVersion, int nSucceed = 1);

// The same into the section strSection, named by the caller (a record written
// again after an interrupted run keeps the name of the first attempt). With
// pdwError, the Win32 error of the first write that failed (ERROR_SUCCESS when none).
bool WriteUpdateRecordSection(const std::string& strAppDir, const std::string& strSection,
                              const std::string& strNewVersion, const std::string& strOldVersion, int nSucceed,
                              DWORD* pdwError = nullptr);

// UpdateRecord.dat below strAppDir.
std::string UpdateRecordPath(const std::string& strAppDir);

// Sets "InstallPath" = strAppDir and "Version" = strNewVersion (REG_SZ, zero
// byte counted) under HKEY_LOCAL_MACHINE\SOFTWARE\QOVA, in the 64-bit view of
// the registry where the key exists there, else in the 32-bit view. The key is
// only opened, never created: without it in either view, or without the right
// to write it, nothing happens (false). With pdwError, the registry's error
// (ERROR_SUCCESS when both were set; ERROR_FILE_NOT_FOUND: the key is absent).
bool WriteProductRegistry(const std::string& strAppDir, const std::string& strNewVersion, DWORD* pdwError = nullptr);

// The key WriteProductRegistry writes, as the log names it.
extern const char kProductRegistryKey[];
