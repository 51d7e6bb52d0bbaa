#pragma once
// Move-only owners of BCrypt handles.
#include <windows.h>
#include <bcrypt.h>

#include "platform/base/Win32Handles.h"

struct BCryptCloseAlgorithmFn {
    void operator()(BCRYPT_ALG_HANDLE h) const { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct BCryptDestroyKeyFn {
    void operator()(BCRYPT_KEY_HANDLE h) const { ::BCryptDestroyKey(h); }
};
struct BCryptDestroyHashFn {
    void operator()(BCRYPT_HASH_HANDLE h) const { ::BCryptDestroyHash(h); }
};

using UniqueBCryptAlgorithm = UniqueAny<BCRYPT_ALG_HANDLE, BCryptCloseAlgorithmFn, nullptr>;
using UniqueBCryptKey = UniqueAny<BCRYPT_KEY_HANDLE, BCryptDestroyKeyFn, nullptr>;
using UniqueBCryptHash = UniqueAny<BCRYPT_HASH_HANDLE, BCryptDestroyHashFn, nullptr>;

inline bool BCryptSucceeded(NTSTATUS status) { return status >= 0; }
