#include "aesgcm.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <bcrypt.h>

namespace Platform {

namespace {

// Destroys the key and closes the provider on every way out.
struct CngScope
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;

    CngScope() = default;
    CngScope(const CngScope &) = delete;
    CngScope &operator=(const CngScope &) = delete;
    ~CngScope()
    {
        if (key)
            BCryptDestroyKey(key);
        if (algorithm)
            BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

PUCHAR bytes(const std::vector<unsigned char> &data)
{
    return data.empty() ? nullptr : const_cast<PUCHAR>(data.data());
}

} // namespace

AesGcmResult decryptAes256Gcm(const std::vector<unsigned char> &key, const std::vector<unsigned char> &nonce,
                              const std::vector<unsigned char> &ciphertext, const std::vector<unsigned char> &tag,
                              std::vector<unsigned char> &plaintext)
{
    plaintext.clear();
    if (key.size() != 32)
        return AesGcmResult::InitFailed;

    CngScope scope;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&scope.algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0)))
        return AesGcmResult::InitFailed;
    if (!BCRYPT_SUCCESS(BCryptSetProperty(scope.algorithm, BCRYPT_CHAINING_MODE,
                                          reinterpret_cast<PUCHAR>(const_cast<wchar_t *>(BCRYPT_CHAIN_MODE_GCM)),
                                          ULONG(sizeof(BCRYPT_CHAIN_MODE_GCM)), 0))) {
        return AesGcmResult::InitFailed;
    }
    // No key object buffer: CNG allocates and owns it.
    if (!BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(scope.algorithm, &scope.key, nullptr, 0, bytes(key),
                                                   ULONG(key.size()), 0))) {
        return AesGcmResult::InitFailed;
    }

    if (nonce.empty() || tag.size() != 16 || ciphertext.size() > 0x7fffffff)
        return AesGcmResult::VerifyFailed;

    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO authInfo;
    BCRYPT_INIT_AUTH_MODE_INFO(authInfo);
    authInfo.pbNonce = bytes(nonce);
    authInfo.cbNonce = ULONG(nonce.size());
    authInfo.pbTag = bytes(tag);
    authInfo.cbTag = ULONG(tag.size());

    std::vector<unsigned char> output(ciphertext.size());
    ULONG written = 0;
    const NTSTATUS status = BCryptDecrypt(scope.key, bytes(ciphertext), ULONG(ciphertext.size()), &authInfo, nullptr,
                                          0, output.empty() ? nullptr : output.data(), ULONG(output.size()),
                                          &written, 0);
    if (!BCRYPT_SUCCESS(status)) {
        if (!output.empty())
            SecureZeroMemory(output.data(), output.size());
        return AesGcmResult::VerifyFailed;
    }
    output.resize(written);
    plaintext.swap(output);
    return AesGcmResult::Ok;
}

} // namespace Platform
