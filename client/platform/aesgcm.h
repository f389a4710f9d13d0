#pragma once

#include <vector>

// AES-256-GCM decryption on the operating system's own crypto library. Free of
// Qt so that each implementation can be compiled and checked on its own.
namespace Platform {

enum class AesGcmResult {
    Ok,
    InitFailed,   // the cipher or the key could not be set up
    VerifyFailed, // wrong key, tampered data or tag mismatch: no plaintext
};

// Decrypts ciphertext with a 32-byte key, a non-empty nonce of the sender's
// chosen length and the 16-byte authentication tag; no additional data.
// plaintext is set only on Ok and is left empty otherwise.
AesGcmResult decryptAes256Gcm(const std::vector<unsigned char> &key, const std::vector<unsigned char> &nonce,
                              const std::vector<unsigned char> &ciphertext, const std::vector<unsigned char> &tag,
                              std::vector<unsigned char> &plaintext);

} // namespace Platform
