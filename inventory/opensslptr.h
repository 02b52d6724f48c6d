#pragma once

#include <memory>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

// Owning handles for OpenSSL objects, so every early return frees what it
// allocated.
namespace OpenSsl {

template<auto Free>
struct FreeWith
{
    template<typename T>
    void operator()(T *object) const
    {
        Free(object);
    }
};

using Bio = std::unique_ptr<BIO, FreeWith<BIO_free_all>>;
using MdContext = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using Pkcs7 = std::unique_ptr<PKCS7, FreeWith<PKCS7_free>>;
using SignerInfo = std::unique_ptr<PKCS7_SIGNER_INFO, FreeWith<PKCS7_SIGNER_INFO_free>>;
using TstInfo = std::unique_ptr<TS_TST_INFO, FreeWith<TS_TST_INFO_free>>;
using Object = std::unique_ptr<ASN1_OBJECT, FreeWith<ASN1_OBJECT_free>>;
using Store = std::unique_ptr<X509_STORE, FreeWith<X509_STORE_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, FreeWith<X509_STORE_CTX_free>>;
using Cert = std::unique_ptr<X509, FreeWith<X509_free>>;

// A stack that owns only itself, not the certificates in it.
struct CertStackShallowFree
{
    void operator()(STACK_OF(X509) * stack) const { sk_X509_free(stack); }
};
using CertList = std::unique_ptr<STACK_OF(X509), CertStackShallowFree>;

} // namespace OpenSsl
