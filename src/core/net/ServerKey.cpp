#include "core/net/ServerKey.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;

// What `print` writes into a memory BIO.
template <class Print>
std::string Printed(Print print) {
    Bio out(BIO_new(BIO_s_mem()));
    if (!out || print(out.get()) <= 0) {
        return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

}  // namespace

ServerKey ServerKeyOfPem(std::string_view pem) {
    ServerKey key;
    Bio in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Certificate certificate(in ? PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!certificate) {
        return key;
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate.get()), &der);
    if (length <= 0) {
        return key;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    const bool bHashed = EVP_Digest(der, static_cast<std::size_t>(length), digest, &digestLength,
                                    EVP_sha256(), nullptr) == 1;
    OPENSSL_free(der);
    if (!bHashed) {
        return key;
    }
    std::string base64(4 * ((digestLength + 2) / 3) + 1, '\0');
    base64.resize(static_cast<std::size_t>(EVP_EncodeBlock(
        reinterpret_cast<unsigned char*>(base64.data()), digest, static_cast<int>(digestLength))));
    key.pin = "sha256//" + base64;
    // Control bytes and the like in a name are escaped, so the line can be shown as it is.
    key.subject = Printed([&](BIO* out) {
        return X509_NAME_print_ex(out, X509_get_subject_name(certificate.get()), 0,
                                  XN_FLAG_ONELINE);
    });
    key.notBefore = Printed(
        [&](BIO* out) { return ASN1_TIME_print(out, X509_get0_notBefore(certificate.get())); });
    key.notAfter = Printed(
        [&](BIO* out) { return ASN1_TIME_print(out, X509_get0_notAfter(certificate.get())); });
    return key;
}
