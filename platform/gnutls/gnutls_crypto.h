#pragma once

#include <memory>

#include "platform/crypto.h"

namespace tempikon::platform {

// Crypto from GnuTLS (AES-SIV-CMAC by way of nettle).
std::unique_ptr<Crypto> CreateGnutlsCrypto();

}  // namespace tempikon::platform
