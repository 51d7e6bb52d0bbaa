#include "platform/fs/Sha256.h"

#include <bcrypt.h>

CSha256::CSha256() : m_digest(BCRYPT_SHA256_ALGORITHM) {}
