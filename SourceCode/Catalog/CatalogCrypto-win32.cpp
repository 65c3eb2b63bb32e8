// CatalogCrypto on Windows: each function is the calls it names. crypt32 and bcrypt are not
// KnownDLLs: every function is bound at run time from the system folder, so that the import
// tables stay the same and no DLL beside the program is loaded. The catalog calls of wintrust
// (CryptCATOpen, CryptCATAdmin*) are not used: the message is decoded as any PKCS#7 message is.
#include "CatalogCrypto.h"

#include "Win32.h"

#include <bcrypt.h>
#include <wincrypt.h>

#include <cstring>

namespace CatalogCrypto {

namespace {

using Win32::BindSystemFunction;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

#define BIND(dll, function)                                                                        \
    static const auto function##Bound = BindSystemFunction<decltype(&::function)>(L##dll, #function)

// What CryptDecodeObjectEx allocates, given back with LocalFree.
struct LocalDelete {
    void operator()(void* memory) const { LocalFree(memory); }
};

template <typename T>
std::unique_ptr<T, LocalDelete> Decode(LPCSTR type, const uint8_t* data, size_t size) {
    BIND("crypt32.dll", CryptDecodeObjectEx);
    void* decoded = nullptr;
    DWORD decodedSize = 0;
    if (CryptDecodeObjectExBound.call == nullptr || size == 0 || size > MAXDWORD ||
        !CryptDecodeObjectExBound.call(kEncoding, type, data, static_cast<DWORD>(size),
                                       CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &decodedSize)) {
        return nullptr;
    }
    return std::unique_ptr<T, LocalDelete>(static_cast<T*>(decoded));
}

Bytes Blob(const BYTE* data, DWORD size) {
    return size != 0 && data != nullptr ? Bytes(data, data + size) : Bytes();
}

struct MessageClose {
    void operator()(void* message) const {
        BIND("crypt32.dll", CryptMsgClose);
        if (CryptMsgCloseBound.call != nullptr) {
            CryptMsgCloseBound.call(message);
        }
    }
};

// A parameter of a decoded message, read again at the size the first call asks for.
bool MessageParam(HCRYPTMSG message, DWORD param, Bytes* value) {
    BIND("crypt32.dll", CryptMsgGetParam);
    DWORD size = 0;
    if (CryptMsgGetParamBound.call == nullptr ||
        !CryptMsgGetParamBound.call(message, param, 0, nullptr, &size)) {
        return false;
    }
    value->assign(size, 0);
    if (!CryptMsgGetParamBound.call(message, param, 0, value->data(), &size)) {
        return false;
    }
    value->resize(size);
    return true;
}

} // namespace

struct Digest::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    DWORD size = 0;
    ~State() {
        BIND("bcrypt.dll", BCryptDestroyHash);
        BIND("bcrypt.dll", BCryptCloseAlgorithmProvider);
        if (hash != nullptr && BCryptDestroyHashBound.call != nullptr) {
            BCryptDestroyHashBound.call(hash);
        }
        if (algorithm != nullptr && BCryptCloseAlgorithmProviderBound.call != nullptr) {
            BCryptCloseAlgorithmProviderBound.call(algorithm, 0);
        }
    }
};

Digest::Digest(HashAlgorithm algorithm) : state_(std::make_unique<State>()) {
    BIND("bcrypt.dll", BCryptOpenAlgorithmProvider);
    BIND("bcrypt.dll", BCryptCreateHash);
    state_->size = algorithm == HashAlgorithm::Sha1 ? 20 : 32;
    ok_ = BCryptOpenAlgorithmProviderBound.call != nullptr &&
          BCryptCreateHashBound.call != nullptr &&
          BCRYPT_SUCCESS(BCryptOpenAlgorithmProviderBound.call(
              &state_->algorithm,
              algorithm == HashAlgorithm::Sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_SHA256_ALGORITHM,
              nullptr, 0)) &&
          BCRYPT_SUCCESS(BCryptCreateHashBound.call(state_->algorithm, &state_->hash, nullptr, 0,
                                                    nullptr, 0, 0));
}

Digest::~Digest() = default;

void Digest::Update(const uint8_t* data, size_t size) {
    BIND("bcrypt.dll", BCryptHashData);
    while (ok_ && size > 0) {
        const ULONG part = static_cast<ULONG>(size < (1u << 30) ? size : (1u << 30));
        ok_ = BCRYPT_SUCCESS(
            BCryptHashDataBound.call(state_->hash, const_cast<PUCHAR>(data), part, 0));
        data += part;
        size -= part;
    }
}

bool Digest::Finish(Bytes* digest) {
    BIND("bcrypt.dll", BCryptFinishHash);
    Bytes out(state_->size);
    ok_ = ok_ && BCryptFinishHashBound.call != nullptr &&
          BCRYPT_SUCCESS(BCryptFinishHashBound.call(state_->hash, out.data(), state_->size, 0));
    if (ok_) {
        *digest = out;
    }
    return ok_;
}

Message SignedContent(const uint8_t* data, size_t size, std::string* contentType, Bytes* content,
                      bool* octetString) {
    BIND("crypt32.dll", CryptMsgOpenToDecode);
    BIND("crypt32.dll", CryptMsgUpdate);
    if (CryptMsgOpenToDecodeBound.call == nullptr || CryptMsgUpdateBound.call == nullptr ||
        size == 0 || size > MAXDWORD) {
        return Message::Unreadable;
    }
    const std::unique_ptr<void, MessageClose> message(
        CryptMsgOpenToDecodeBound.call(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message ||
        !CryptMsgUpdateBound.call(message.get(), data, static_cast<DWORD>(size), TRUE)) {
        return Message::Unreadable;
    }
    Bytes value;
    if (!MessageParam(message.get(), CMSG_TYPE_PARAM, &value) || value.size() != sizeof(DWORD)) {
        return Message::Unreadable;
    }
    DWORD type = 0;
    std::memcpy(&type, value.data(), sizeof type);
    if (type != CMSG_SIGNED) {
        return Message::NotSignedData;
    }
    if (!MessageParam(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM, &value)) {
        return Message::Unreadable;
    }
    contentType->assign(value.begin(), value.end());
    contentType->resize(contentType->find('\0') != std::string::npos ? contentType->find('\0')
                                                                     : contentType->size());
    if (octetString != nullptr) {
        *octetString = false;
    }
    if (!MessageParam(message.get(), CMSG_CONTENT_PARAM, content)) {
        content->clear();
        return Message::SignedData;
    }
    // A content wrapped in an OCTET STRING (as CMS holds it) is unwrapped.
    if (const auto octets =
            Decode<CRYPT_DATA_BLOB>(X509_OCTET_STRING, content->data(), content->size())) {
        *content = Blob(octets->pbData, octets->cbData);
        if (octetString != nullptr) {
            *octetString = true;
        }
    }
    return Message::SignedData;
}

bool DecodeTrustList(const uint8_t* data, size_t size, TrustList* list) {
    *list = {};
    const auto info = Decode<CTL_INFO>(PKCS_CTL, data, size);
    if (!info) {
        return false;
    }
    for (DWORD i = 0; i < info->SubjectUsage.cUsageIdentifier; ++i) {
        list->usages.emplace_back(info->SubjectUsage.rgpszUsageIdentifier[i]);
    }
    list->subjectAlgorithm =
        info->SubjectAlgorithm.pszObjId != nullptr ? info->SubjectAlgorithm.pszObjId : "";
    for (DWORD i = 0; i < info->cCTLEntry; ++i) {
        const CTL_ENTRY& entry = info->rgCTLEntry[i];
        TrustListEntry out;
        out.identifier = Blob(entry.SubjectIdentifier.pbData, entry.SubjectIdentifier.cbData);
        for (DWORD a = 0; a < entry.cAttribute; ++a) {
            Attribute attribute;
            attribute.type =
                entry.rgAttribute[a].pszObjId != nullptr ? entry.rgAttribute[a].pszObjId : "";
            for (DWORD v = 0; v < entry.rgAttribute[a].cValue; ++v) {
                attribute.values.push_back(Blob(entry.rgAttribute[a].rgValue[v].pbData,
                                                entry.rgAttribute[a].rgValue[v].cbData));
            }
            out.attributes.push_back(std::move(attribute));
        }
        list->entries.push_back(std::move(out));
    }
    return true;
}

// The indirect data, its digest info and the digest's algorithm identifier are each a
// SEQUENCE: each is split with X509_SEQUENCE_OF_ANY; the algorithm's OID is decoded with
// X509_OBJECT_IDENTIFIER and the digest with X509_OCTET_STRING.
bool DecodeIndirectDigest(const uint8_t* data, size_t size, std::string* algorithm, Bytes* digest) {
    const auto indirect = Decode<CRYPT_SEQUENCE_OF_ANY>(X509_SEQUENCE_OF_ANY, data, size);
    if (!indirect || indirect->cValue != 2) {
        return false;
    }
    const auto info = Decode<CRYPT_SEQUENCE_OF_ANY>(
        X509_SEQUENCE_OF_ANY, indirect->rgValue[1].pbData, indirect->rgValue[1].cbData);
    if (!info || info->cValue != 2) {
        return false;
    }
    const auto identifier = Decode<CRYPT_SEQUENCE_OF_ANY>(
        X509_SEQUENCE_OF_ANY, info->rgValue[0].pbData, info->rgValue[0].cbData);
    if (!identifier || identifier->cValue < 1 || identifier->cValue > 2) {
        return false;
    }
    const auto oid = Decode<LPSTR>(X509_OBJECT_IDENTIFIER, identifier->rgValue[0].pbData,
                                   identifier->rgValue[0].cbData);
    const auto octets = Decode<CRYPT_DATA_BLOB>(X509_OCTET_STRING, info->rgValue[1].pbData,
                                                info->rgValue[1].cbData);
    if (!oid || *oid == nullptr || !octets) {
        return false;
    }
    *algorithm = *oid;
    *digest = Blob(octets->pbData, octets->cbData);
    return true;
}

} // namespace CatalogCrypto
