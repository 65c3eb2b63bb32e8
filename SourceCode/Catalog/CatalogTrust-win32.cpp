// CatalogTrust on Windows: each function is the calls it names. crypt32 and wintrust are not
// KnownDLLs: every function is bound at run time from the system folder, so that the import
// tables stay the same and no DLL beside the program is loaded. The catalog calls of wintrust
// (CryptCATOpen, CryptCATAdmin*) are never made: the message is decoded as any PKCS#7 message is.
#include "CatalogTrust.h"

#include "CryptCalls-win32.h"

#include <wintrust.h>

#include <softpub.h>

#include <cstring>

namespace CatalogTrust {

namespace {

using CryptCalls::Blob;
using CryptCalls::DecodeMessage;
using CryptCalls::kEncoding;
using CryptCalls::MessageParam;
using CryptCalls::UniqueMessage;

struct StoreClose {
    void operator()(void* store) const {
        BIND("crypt32.dll", CertCloseStore);
        if (CertCloseStoreBound.call != nullptr) {
            CertCloseStoreBound.call(store, 0);
        }
    }
};
using UniqueStore = std::unique_ptr<void, StoreClose>;

struct CertificateFree {
    void operator()(const CERT_CONTEXT* certificate) const {
        BIND("crypt32.dll", CertFreeCertificateContext);
        if (CertFreeCertificateContextBound.call != nullptr) {
            CertFreeCertificateContextBound.call(certificate);
        }
    }
};
using UniqueCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

struct ChainFree {
    void operator()(const CERT_CHAIN_CONTEXT* chain) const {
        BIND("crypt32.dll", CertFreeCertificateChain);
        if (CertFreeCertificateChainBound.call != nullptr) {
            CertFreeCertificateChainBound.call(chain);
        }
    }
};
using UniqueChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

bool DwordParam(HCRYPTMSG message, DWORD param, DWORD* value) {
    Bytes bytes;
    if (!MessageParam(message, param, 0, &bytes) || bytes.size() != sizeof(DWORD)) {
        return false;
    }
    std::memcpy(value, bytes.data(), sizeof(DWORD));
    return true;
}

// The store of the certificates a decoded message carries (CERT_STORE_PROV_MSG).
UniqueStore MessageStore(HCRYPTMSG message) {
    BIND("crypt32.dll", CertOpenStore);
    if (CertOpenStoreBound.call == nullptr) {
        return nullptr;
    }
    return UniqueStore(CertOpenStoreBound.call(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message));
}

UniqueCertificate CertificateOf(const Bytes& der) {
    BIND("crypt32.dll", CertCreateCertificateContext);
    if (CertCreateCertificateContextBound.call == nullptr || der.empty() || der.size() > MAXDWORD) {
        return nullptr;
    }
    return UniqueCertificate(CertCreateCertificateContextBound.call(
        X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

// The messageDigest among a signer's authenticated attributes (X509_OCTET_STRING).
std::optional<Bytes> MessageDigest(const CRYPT_ATTRIBUTES& attributes) {
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
        if (attribute.pszObjId == nullptr ||
            std::strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) != 0 ||
            attribute.cValue != 1) {
            continue;
        }
        const auto octets = CryptCalls::Decode<CRYPT_DATA_BLOB>(
            X509_OCTET_STRING, attribute.rgValue[0].pbData, attribute.rgValue[0].cbData);
        if (!octets) {
            return std::nullopt;
        }
        return Blob(octets->pbData, octets->cbData);
    }
    return std::nullopt;
}

} // namespace

SignerRead ReadSigner(const uint8_t* data, size_t size, Signer* signer) {
    BIND("crypt32.dll", CertGetSubjectCertificateFromStore);
    BIND("crypt32.dll", CryptMsgControl);
    *signer = {};
    const UniqueMessage message = DecodeMessage(data, size);
    DWORD type = 0;
    DWORD signers = 0;
    if (!message || !DwordParam(message.get(), CMSG_TYPE_PARAM, &type) || type != CMSG_SIGNED ||
        !DwordParam(message.get(), CMSG_SIGNER_COUNT_PARAM, &signers)) {
        return SignerRead::Unreadable;
    }
    if (signers == 0) {
        return SignerRead::NoSigner;
    }
    Bytes info;
    if (!MessageParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, &info) ||
        info.size() < sizeof(CMSG_SIGNER_INFO)) {
        return SignerRead::Unreadable;
    }
    const auto* signerInfo = reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
    signer->digestAlgorithm =
        signerInfo->HashAlgorithm.pszObjId != nullptr ? signerInfo->HashAlgorithm.pszObjId : "";
    signer->messageDigest = MessageDigest(signerInfo->AuthAttrs);
    signer->encryptedDigest =
        Blob(signerInfo->EncryptedHash.pbData, signerInfo->EncryptedHash.cbData);
    // The RFC 3161 timestamps among its unauthenticated attributes, each value's DER.
    for (DWORD i = 0; i < signerInfo->UnauthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = signerInfo->UnauthAttrs.rgAttr[i];
        if (attribute.pszObjId != nullptr &&
            std::strcmp(attribute.pszObjId, szOID_RFC3161_counterSign) == 0) {
            for (DWORD v = 0; v < attribute.cValue; ++v) {
                signer->timestamps.push_back(
                    Blob(attribute.rgValue[v].pbData, attribute.rgValue[v].cbData));
            }
        }
    }

    // The signer's certificate: the one of the message's certificates that the signer names by
    // issuer and serial number.
    const UniqueStore store = MessageStore(message.get());
    Bytes certInfo;
    if (!store || CertGetSubjectCertificateFromStoreBound.call == nullptr ||
        !MessageParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, &certInfo) ||
        certInfo.size() < sizeof(CERT_INFO)) {
        return SignerRead::Read;
    }
    const UniqueCertificate certificate(CertGetSubjectCertificateFromStoreBound.call(
        store.get(), kEncoding, reinterpret_cast<CERT_INFO*>(certInfo.data())));
    if (!certificate) {
        return SignerRead::Read;
    }
    signer->certificate = Blob(certificate->pbCertEncoded, certificate->cbCertEncoded);
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify = {};
    verify.cbSize = sizeof verify;
    verify.dwSignerIndex = 0;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(certificate.get());
    signer->signatureVerifies =
        CryptMsgControlBound.call != nullptr &&
        CryptMsgControlBound.call(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify);
    return SignerRead::Read;
}

bool DescribeCertificate(const Bytes& der, Certificate* certificate) {
    BIND("crypt32.dll", CertGetNameStringW);
    BIND("crypt32.dll", CertGetEnhancedKeyUsage);
    *certificate = {};
    const UniqueCertificate context = CertificateOf(der);
    if (!context) {
        return false;
    }
    if (CertGetNameStringWBound.call != nullptr) {
        const DWORD length = CertGetNameStringWBound.call(
            context.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
        std::u16string name(length, u'\0');
        if (length > 1 &&
            CertGetNameStringWBound.call(context.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                                         Win32::Wide(name.data()), length) == length) {
            name.resize(length - 1);
            certificate->name = name;
        }
    }
    // The usages the certificate's own extension names (not those a store gave it as a property).
    DWORD size = 0;
    if (CertGetEnhancedKeyUsageBound.call != nullptr &&
        CertGetEnhancedKeyUsageBound.call(context.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG,
                                          nullptr, &size) &&
        size >= sizeof(CERT_ENHKEY_USAGE)) {
        Bytes usage(size);
        auto* list = reinterpret_cast<CERT_ENHKEY_USAGE*>(usage.data());
        if (CertGetEnhancedKeyUsageBound.call(context.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG,
                                              list, &size)) {
            for (DWORD i = 0; i < list->cUsageIdentifier; ++i) {
                certificate->usages.emplace_back(list->rgpszUsageIdentifier[i]);
            }
        }
    }
    return true;
}

bool BuildChain(const uint8_t* catalog, size_t size, const Bytes& certificate, Usage usage,
                std::optional<int64_t> at, Chain* chain) {
    BIND("crypt32.dll", CertGetCertificateChain);
    BIND("crypt32.dll", CertVerifyCertificateChainPolicy);
    *chain = {};
    const UniqueMessage message = DecodeMessage(catalog, size);
    const UniqueStore intermediates = message ? MessageStore(message.get()) : nullptr;
    const UniqueCertificate context = CertificateOf(certificate);
    if (!intermediates || !context || CertGetCertificateChainBound.call == nullptr ||
        CertVerifyCertificateChainPolicyBound.call == nullptr) {
        return false;
    }
    // Valid for code signing, or for Windows hardware drivers or attestation: a signer Microsoft
    // gives for hardware is valid for usage with either of these alone.
    // A time stamping authority's, for time stamping.
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING),
                      const_cast<LPSTR>("1.3.6.1.4.1.311.10.3.5"),
                      const_cast<LPSTR>("1.3.6.1.4.1.311.10.3.5.1")};
    LPSTR stamping[] = {const_cast<LPSTR>(szOID_PKIX_KP_TIMESTAMP_SIGNING)};
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier =
        usage == Usage::CodeSigning ? sizeof usages / sizeof usages[0] : 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier =
        usage == Usage::CodeSigning ? usages : stamping;
    // As valid at the given time (FILETIME: 100 ns since 1601), else now.
    FILETIME time = {};
    if (at) {
        const uint64_t ticks = (static_cast<uint64_t>(*at) + 11644473600ull) * 10000000ull;
        time.dwLowDateTime = static_cast<DWORD>(ticks);
        time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    }
    // The local machine's engine: its Root store decides, whoever runs the check. No revocation
    // flags: an offline install cannot ask. Nothing fetched from the network (the certificates'
    // URLs) and no root added to the machine's stores by the automatic root update: the check
    // answers from what the machine holds, and changes nothing.
    constexpr DWORD kFlags =
        CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!CertGetCertificateChainBound.call(HCCE_LOCAL_MACHINE, context.get(), at ? &time : nullptr,
                                           intermediates.get(), &para, kFlags, nullptr, &built) ||
        built == nullptr) {
        return false;
    }
    const UniqueChain owned(built);
    chain->built = true;
    chain->problems = built->TrustStatus.dwErrorStatus;
    if (built->cChain > 0 && built->rgpChain[0]->cElement > 0) {
        const CERT_CHAIN_ELEMENT* last =
            built->rgpChain[0]->rgpElement[built->rgpChain[0]->cElement - 1];
        chain->root = Blob(last->pCertContext->pbCertEncoded, last->pCertContext->cbCertEncoded);
    }
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    // A policy that cannot be asked does not pass.
    chain->authenticodeError = CertVerifyCertificateChainPolicyBound.call(
                                   CERT_CHAIN_POLICY_AUTHENTICODE, built, &policy, &status)
                                   ? status.dwError
                                   : static_cast<uint32_t>(TRUST_E_FAIL);
    status = {};
    status.cbSize = sizeof status;
    chain->microsoftRoot = CertVerifyCertificateChainPolicyBound.call(
                               CERT_CHAIN_POLICY_MICROSOFT_ROOT, built, &policy, &status) &&
                           status.dwError == 0;
    return true;
}

Presence InTrustedPublishers(const Bytes& certificate) {
    BIND("crypt32.dll", CertOpenStore);
    BIND("crypt32.dll", CertGetCertificateContextProperty);
    BIND("crypt32.dll", CertFindCertificateInStore);
    if (CertOpenStoreBound.call == nullptr ||
        CertGetCertificateContextPropertyBound.call == nullptr ||
        CertFindCertificateInStoreBound.call == nullptr) {
        return Presence::Unreadable;
    }
    const UniqueStore store(CertOpenStoreBound.call(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG,
        L"TrustedPublisher"));
    if (!store) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ||
                       error == static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
                   ? Presence::Absent
                   : Presence::Unreadable;
    }
    // Found by the SHA-1 hash of its encoding, that is by its bytes: CERT_FIND_EXISTING matches
    // by issuer and serial number, which another certificate of another key may share.
    const UniqueCertificate context = CertificateOf(certificate);
    BYTE hash[20] = {};
    DWORD hashSize = sizeof hash;
    if (!context || !CertGetCertificateContextPropertyBound.call(
                        context.get(), CERT_SHA1_HASH_PROP_ID, hash, &hashSize)) {
        return Presence::Unreadable;
    }
    CRYPT_HASH_BLOB find = {hashSize, hash};
    const UniqueCertificate found(CertFindCertificateInStoreBound.call(
        store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &find, nullptr));
    if (found) {
        return Presence::Present;
    }
    return GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND) ? Presence::Absent
                                                                   : Presence::Unreadable;
}

std::optional<uint32_t> WindowsVerdict(const std::u16string& catalogPath,
                                       const std::u16string& memberTag,
                                       const std::u16string& memberPath) {
    BIND("wintrust.dll", WinVerifyTrust);
    BIND("crypt32.dll", CertFreeCertificateContext);
    if (WinVerifyTrustBound.call == nullptr) {
        return std::nullopt;
    }
    WINTRUST_CATALOG_INFO member = {};
    member.cbStruct = sizeof member;
    member.pcwszCatalogFilePath = Win32::Wide(catalogPath);
    member.pcwszMemberTag = Win32::Wide(memberTag);
    member.pcwszMemberFilePath = Win32::Wide(memberPath);
    DRIVER_VER_INFO version = {};
    version.cbStruct = sizeof version;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.pPolicyCallbackData = &version;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &member;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = DRIVER_ACTION_VERIFY;
    const LONG verdict =
        WinVerifyTrustBound.call(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrustBound.call(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    // The signer's certificate the driver policy hands back is the caller's to free.
    if (version.pcSignerCertContext != nullptr && CertFreeCertificateContextBound.call != nullptr) {
        CertFreeCertificateContextBound.call(version.pcSignerCertContext);
    }
    return static_cast<uint32_t>(verdict);
}

} // namespace CatalogTrust
