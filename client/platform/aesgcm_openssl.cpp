#include "aesgcm.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>

namespace Platform {

namespace {

struct CipherContextFree
{
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};

} // namespace

AesGcmResult decryptAes256Gcm(const std::vector<unsigned char> &key, const std::vector<unsigned char> &nonce,
                              const std::vector<unsigned char> &ciphertext, const std::vector<unsigned char> &tag,
                              std::vector<unsigned char> &plaintext)
{
    plaintext.clear();
    if (key.size() != 32)
        return AesGcmResult::InitFailed;

    // Key set-up first, as the Windows implementation does, so both report
    // the same result for the same input.
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!context || EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nullptr) != 1)
        return AesGcmResult::InitFailed;

    if (nonce.empty() || tag.size() != 16 || ciphertext.size() > 0x7fffffff)
        return AesGcmResult::VerifyFailed;
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, int(nonce.size()), nullptr) != 1
        || EVP_DecryptInit_ex(context.get(), nullptr, nullptr, nullptr, nonce.data()) != 1) {
        return AesGcmResult::VerifyFailed;
    }

    // GCM never yields more than it is given; one spare byte keeps the
    // buffer non-null for an empty ciphertext.
    std::vector<unsigned char> output(ciphertext.size() + 1);
    int written = 0;
    if (!ciphertext.empty()
        && EVP_DecryptUpdate(context.get(), output.data(), &written, ciphertext.data(), int(ciphertext.size())) != 1) {
        OPENSSL_cleanse(output.data(), output.size());
        return AesGcmResult::VerifyFailed;
    }
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, int(tag.size()),
                            const_cast<unsigned char *>(tag.data()))
        != 1) {
        OPENSSL_cleanse(output.data(), output.size());
        return AesGcmResult::VerifyFailed;
    }
    int finalWritten = 0;
    if (EVP_DecryptFinal_ex(context.get(), output.data() + written, &finalWritten) != 1) {
        // The tag did not verify: what was decrypted so far must not leak out.
        OPENSSL_cleanse(output.data(), output.size());
        return AesGcmResult::VerifyFailed;
    }
    output.resize(std::size_t(written) + std::size_t(finalWritten));
    plaintext.swap(output);
    return AesGcmResult::Ok;
}

} // namespace Platform
