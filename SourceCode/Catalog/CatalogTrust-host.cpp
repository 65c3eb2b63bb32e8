// The host stand-in of CatalogTrust over OpenSSL. The machine's stores are the simulated
// machine's [trust] lists (DeviceSimulator.h): `root` is LocalMachine Root, `trusted-publisher`
// TrustedPublisher, and a root listed as `microsoft-root` passes the Microsoft-root policy. The
// chain's problems are reported as the CERT_TRUST_* bits Windows gives for the same faults.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <climits>
#include <memory>

#include "CatalogTrust.h"
#include "DeviceSimulator.h"
#include "Utf8.h"

namespace CatalogTrust {

namespace {

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)> using Owned = std::unique_ptr<T, Deleter<T, Free>>;

using Pkcs7 = Owned<PKCS7, PKCS7_free>;
using Certificate509 = Owned<X509, X509_free>;
using Store = Owned<X509_STORE, X509_STORE_free>;
using StoreContext = Owned<X509_STORE_CTX, X509_STORE_CTX_free>;
using DigestContext = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using Bio = Owned<BIO, BIO_free_all>;

constexpr const char* kCodeSigning = "1.3.6.1.5.5.7.3.3";
constexpr const char* kHardwareDriver = "1.3.6.1.4.1.311.10.3.5";

// The HRESULTs the Authenticode policy gives for a chain's first problem.
constexpr uint32_t kCertExpired = 0x800B0101;
constexpr uint32_t kCertUntrustedRoot = 0x800B0109;
constexpr uint32_t kCertChaining = 0x800B010A;
constexpr uint32_t kCertWrongUsage = 0x800B0110;
constexpr uint32_t kTrustCertSignature = 0x80096004;

Pkcs7 SignedMessage(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(LONG_MAX)) {
        return nullptr;
    }
    const unsigned char* at = data;
    Pkcs7 message(d2i_PKCS7(nullptr, &at, static_cast<long>(size)));
    if (!message || !PKCS7_type_is_signed(message.get()) || message->d.sign == nullptr) {
        return nullptr;
    }
    return message;
}

Certificate509 FromDer(const Bytes& der) {
    const unsigned char* at = der.data();
    Certificate509 certificate(d2i_X509(nullptr, &at, static_cast<long>(der.size())));
    return certificate && at == der.data() + der.size() ? std::move(certificate) : nullptr;
}

Bytes ToDer(X509* certificate) {
    const int size = i2d_X509(certificate, nullptr);
    if (size <= 0) {
        return {};
    }
    Bytes der(static_cast<size_t>(size));
    unsigned char* at = der.data();
    i2d_X509(certificate, &at);
    return der;
}

std::string Dotted(const ASN1_OBJECT* object) {
    char text[128];
    const int length = OBJ_obj2txt(text, sizeof text, object, 1);
    return length > 0 && length < static_cast<int>(sizeof text)
               ? std::string(text, static_cast<size_t>(length))
               : std::string();
}

// A certificate file as the machine file names it: PEM, else DER.
Certificate509 LoadCertificate(const std::string& path) {
    Bio file(BIO_new_file(path.c_str(), "rb"));
    if (!file) {
        return nullptr;
    }
    Certificate509 certificate(PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr));
    if (!certificate && BIO_reset(file.get()) == 0) {
        certificate.reset(d2i_X509_bio(file.get(), nullptr));
    }
    return certificate;
}

// The certificates of one of the machine's [trust] lists; false when a file does not load.
bool LoadList(const std::vector<std::string>& names, std::vector<Certificate509>* out) {
    for (const std::string& path : DevSim::TrustFiles(names)) {
        Certificate509 certificate = LoadCertificate(path);
        if (!certificate) {
            return false;
        }
        out->push_back(std::move(certificate));
    }
    return true;
}

bool SameCertificate(X509* a, X509* b) {
    return X509_cmp(a, b) == 0;
}

// The CERT_TRUST_* bit for an OpenSSL verification error.
uint32_t ProblemOf(int error) {
    switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return kNotTimeValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return kUntrustedRoot;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return kPartialChain;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
        return kSignatureNotValid;
    case X509_V_ERR_INVALID_PURPOSE:
        return kNotValidForUsage;
    default:
        return 0x400; // CERT_TRUST_INVALID_BASIC_CONSTRAINTS and the like
    }
}

// Every problem of the chain is noted, and the chain is built on past it, as Windows builds it.
int NoteProblem(int ok, X509_STORE_CTX* context) {
    if (!ok) {
        auto* problems = static_cast<uint32_t*>(X509_STORE_CTX_get_app_data(context));
        *problems |= ProblemOf(X509_STORE_CTX_get_error(context));
    }
    return 1;
}

uint32_t PolicyError(uint32_t problems) {
    if (problems & kSignatureNotValid) {
        return kTrustCertSignature;
    }
    if (problems & kPartialChain) {
        return kCertChaining;
    }
    if (problems & kUntrustedRoot) {
        return kCertUntrustedRoot;
    }
    if (problems & kNotTimeValid) {
        return kCertExpired;
    }
    return problems != 0 ? kCertWrongUsage : 0;
}

} // namespace

SignerRead ReadSigner(const uint8_t* data, size_t size, Signer* signer) {
    *signer = {};
    const Pkcs7 message = SignedMessage(data, size);
    if (!message) {
        return SignerRead::Unreadable;
    }
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(message.get());
    if (signers == nullptr || sk_PKCS7_SIGNER_INFO_num(signers) == 0) {
        return SignerRead::NoSigner;
    }
    PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    signer->digestAlgorithm = Dotted(info->digest_alg->algorithm);
    if (const ASN1_OCTET_STRING* digest = PKCS7_digest_from_attributes(info->auth_attr)) {
        signer->messageDigest = Bytes(ASN1_STRING_get0_data(digest),
                                      ASN1_STRING_get0_data(digest) + ASN1_STRING_length(digest));
    }
    X509* certificate = X509_find_by_issuer_and_serial(
        message->d.sign->cert, info->issuer_and_serial->issuer, info->issuer_and_serial->serial);
    if (certificate == nullptr) {
        return SignerRead::Read;
    }
    signer->certificate = ToDer(certificate);
    // The signature is over the DER of the authenticated attributes, as a SET.
    unsigned char* attributes = nullptr;
    const int attributesSize = info->auth_attr != nullptr
                                   ? ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(info->auth_attr),
                                                   &attributes, ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY))
                                   : 0;
    const EVP_MD* md = EVP_get_digestbyobj(info->digest_alg->algorithm);
    const DigestContext context(EVP_MD_CTX_new());
    signer->signatureVerifies =
        attributesSize > 0 && md != nullptr && context &&
        EVP_DigestVerifyInit(context.get(), nullptr, md, nullptr, X509_get0_pubkey(certificate)) ==
            1 &&
        EVP_DigestVerify(context.get(), ASN1_STRING_get0_data(info->enc_digest),
                         static_cast<size_t>(ASN1_STRING_length(info->enc_digest)), attributes,
                         static_cast<size_t>(attributesSize)) == 1;
    OPENSSL_free(attributes);
    return SignerRead::Read;
}

bool DescribeCertificate(const Bytes& der, Certificate* certificate) {
    *certificate = {};
    const Certificate509 x509 = FromDer(der);
    if (!x509) {
        return false;
    }
    // The simple display name: the common name, else the organisation's unit or name.
    const X509_NAME* subject = X509_get_subject_name(x509.get());
    for (const int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName}) {
        const int at = X509_NAME_get_index_by_NID(subject, nid, -1);
        if (at < 0) {
            continue;
        }
        unsigned char* utf8 = nullptr;
        const int length =
            ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at)));
        if (length >= 0) {
            certificate->name = Text::Utf8ToUtf16(
                std::string(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length)));
            OPENSSL_free(utf8);
            break;
        }
    }
    if (auto* usages = static_cast<EXTENDED_KEY_USAGE*>(
            X509_get_ext_d2i(x509.get(), NID_ext_key_usage, nullptr, nullptr))) {
        for (int i = 0; i < sk_ASN1_OBJECT_num(usages); ++i) {
            certificate->usages.push_back(Dotted(sk_ASN1_OBJECT_value(usages, i)));
        }
        EXTENDED_KEY_USAGE_free(usages);
    }
    return true;
}

bool BuildChain(const uint8_t* catalog, size_t size, const Bytes& certificate, Chain* chain) {
    *chain = {};
    const Pkcs7 message = SignedMessage(catalog, size);
    const Certificate509 leaf = FromDer(certificate);
    std::vector<Certificate509> roots;
    std::vector<Certificate509> microsoftRoots;
    const DevSim::Machine& machine = DevSim::Current();
    const Store store(X509_STORE_new());
    const StoreContext context(X509_STORE_CTX_new());
    if (!message || !leaf || !store || !context || !LoadList(machine.roots, &roots) ||
        !LoadList(machine.microsoftRoots, &microsoftRoots)) {
        return false;
    }
    for (const Certificate509& root : roots) {
        X509_STORE_add_cert(store.get(), root.get());
    }
    if (X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), message->d.sign->cert) != 1) {
        return false;
    }
    uint32_t problems = 0;
    X509_STORE_CTX_set_app_data(context.get(), &problems);
    X509_STORE_CTX_set_verify_cb(context.get(), NoteProblem);
    X509_verify_cert(context.get());
    // Windows asks for code signing or the hardware-driver usage of the signer.
    Certificate described;
    if (DescribeCertificate(certificate, &described) && !described.usages.empty()) {
        bool usable = false;
        for (const std::string& usage : described.usages) {
            usable = usable || usage == kCodeSigning || usage == kHardwareDriver;
        }
        if (!usable) {
            problems |= kNotValidForUsage;
        }
    }
    STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(context.get());
    if (built == nullptr || sk_X509_num(built) == 0) {
        return true;
    }
    X509* last = sk_X509_value(built, sk_X509_num(built) - 1);
    chain->built = true;
    chain->problems = problems;
    chain->root = ToDer(last);
    chain->authenticodeError = PolicyError(problems);
    for (const Certificate509& root : microsoftRoots) {
        chain->microsoftRoot = chain->microsoftRoot || SameCertificate(root.get(), last);
    }
    return true;
}

Presence InTrustedPublishers(const Bytes& certificate) {
    const Certificate509 wanted = FromDer(certificate);
    std::vector<Certificate509> publishers;
    if (!wanted || !LoadList(DevSim::Current().trustedPublishers, &publishers)) {
        return Presence::Unreadable;
    }
    for (const Certificate509& publisher : publishers) {
        if (SameCertificate(publisher.get(), wanted.get())) {
            return Presence::Present;
        }
    }
    return Presence::Absent;
}

std::optional<uint32_t> WindowsVerdict(const std::u16string&, const std::u16string&,
                                       const std::u16string&) {
    return std::nullopt;
}

} // namespace CatalogTrust
