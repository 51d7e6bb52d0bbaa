#include "platform/fs/MD5.h"

#include <bcrypt.h>

CMD5::CMD5() : m_digest(BCRYPT_MD5_ALGORITHM) {}
