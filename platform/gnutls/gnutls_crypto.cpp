#include "platform/gnutls/gnutls_crypto.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <stdexcept>
#include <vector>

namespace tempikon::platform {

namespace {

// One AES-SIV handle for one call: keys change with every key
// establishment, and the calls are few.
class SivHandle {
public:
    explicit SivHandle(std::string_view key) {
        if (key.size() != Crypto::kSivKeyBytes) return;
        gnutls_datum_t datum{reinterpret_cast<unsigned char*>(const_cast<char*>(key.data())),
                             static_cast<unsigned>(key.size())};
        if (gnutls_aead_cipher_init(&handle_, GNUTLS_CIPHER_AES_128_SIV, &datum) < 0)
            handle_ = nullptr;
    }
    ~SivHandle() {
        if (handle_) gnutls_aead_cipher_deinit(handle_);
    }
    SivHandle(const SivHandle&) = delete;
    SivHandle& operator=(const SivHandle&) = delete;
    gnutls_aead_cipher_hd_t get() const { return handle_; }

private:
    gnutls_aead_cipher_hd_t handle_ = nullptr;
};

class GnutlsCrypto : public Crypto {
public:
    std::optional<std::string> sivSeal(std::string_view key, std::string_view nonce,
                                       std::string_view associated,
                                       std::string_view plaintext) override {
        // nettle asserts on an empty nonce: the process would abort.
        if (nonce.empty()) return std::nullopt;
        SivHandle siv(key);
        if (!siv.get()) return std::nullopt;
        std::string out(plaintext.size() + kSivTagBytes, '\0');
        std::size_t outSize = out.size();
        if (gnutls_aead_cipher_encrypt(siv.get(), nonce.data(), nonce.size(), associated.data(),
                                       associated.size(), kSivTagBytes, plaintext.data(),
                                       plaintext.size(), out.data(), &outSize) < 0)
            return std::nullopt;
        out.resize(outSize);
        return out;
    }

    std::optional<std::string> sivOpen(std::string_view key, std::string_view nonce,
                                       std::string_view associated,
                                       std::string_view sealed) override {
        // An empty nonce would abort in nettle; a server's packet may carry one.
        if (sealed.size() < kSivTagBytes || nonce.empty()) return std::nullopt;
        SivHandle siv(key);
        if (!siv.get()) return std::nullopt;
        // Room for the tag too: the library checks the size before it knows
        // how much is text.
        std::string out(sealed.size(), '\0');
        std::size_t outSize = out.size();
        if (gnutls_aead_cipher_decrypt(siv.get(), nonce.data(), nonce.size(), associated.data(),
                                       associated.size(), kSivTagBytes, sealed.data(),
                                       sealed.size(), out.data(), &outSize) < 0)
            return std::nullopt;
        out.resize(outSize);
        return out;
    }

    std::string randomBytes(std::size_t count) override {
        std::string out(count, '\0');
        if (count > 0 && gnutls_rnd(GNUTLS_RND_NONCE, out.data(), count) < 0)
            throw std::runtime_error("the random generator failed");
        return out;
    }
};

}  // namespace

std::unique_ptr<Crypto> CreateGnutlsCrypto() {
    return std::make_unique<GnutlsCrypto>();
}

}  // namespace tempikon::platform
