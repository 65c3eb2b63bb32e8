// CatalogCrypto on Windows: each function is the calls it names. crypt32 and bcrypt are not
// KnownDLLs: every function is bound at run time from the system folder, so that the import
// tables stay the same and no DLL beside the program is loaded. The catalog calls of wintrust
// (CryptCATOpen, CryptCATAdmin*) are not used: the message is decoded as any PKCS#7 message is.
#include "CatalogCrypto.h"

#include "CryptCalls-win32.h"

#include <bcrypt.h>

#include <cstring>

namespace CatalogCrypto {

using CryptCalls::Blob;
using CryptCalls::Decode;
using CryptCalls::MessageParam;

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
    const CryptCalls::UniqueMessage message = CryptCalls::DecodeMessage(data, size);
    if (!message) {
        return Message::Unreadable;
    }
    Bytes value;
    if (!MessageParam(message.get(), CMSG_TYPE_PARAM, 0, &value) || value.size() != sizeof(DWORD)) {
        return Message::Unreadable;
    }
    DWORD type = 0;
    std::memcpy(&type, value.data(), sizeof type);
    if (type != CMSG_SIGNED) {
        return Message::NotSignedData;
    }
    if (!MessageParam(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM, 0, &value)) {
        return Message::Unreadable;
    }
    contentType->assign(value.begin(), value.end());
    contentType->resize(contentType->find('\0') != std::string::npos ? contentType->find('\0')
                                                                     : contentType->size());
    if (octetString != nullptr) {
        *octetString = false;
    }
    if (!MessageParam(message.get(), CMSG_CONTENT_PARAM, 0, content)) {
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

// TSTInfo ::= SEQUENCE { version, policy, messageImprint SEQUENCE { AlgorithmIdentifier,
// OCTET STRING }, serialNumber, genTime GeneralizedTime, ... }: split with X509_SEQUENCE_OF_ANY
// as the indirect data is; the time decoded with X509_CHOICE_OF_TIME to a FILETIME.
bool DecodeTimestampInfo(const uint8_t* data, size_t size, std::string* imprintAlgorithm,
                         Bytes* imprint, int64_t* time) {
    const auto info = Decode<CRYPT_SEQUENCE_OF_ANY>(X509_SEQUENCE_OF_ANY, data, size);
    if (!info || info->cValue < 5) {
        return false;
    }
    const auto message = Decode<CRYPT_SEQUENCE_OF_ANY>(
        X509_SEQUENCE_OF_ANY, info->rgValue[2].pbData, info->rgValue[2].cbData);
    if (!message || message->cValue != 2) {
        return false;
    }
    const auto identifier = Decode<CRYPT_SEQUENCE_OF_ANY>(
        X509_SEQUENCE_OF_ANY, message->rgValue[0].pbData, message->rgValue[0].cbData);
    if (!identifier || identifier->cValue < 1 || identifier->cValue > 2) {
        return false;
    }
    const auto oid = Decode<LPSTR>(X509_OBJECT_IDENTIFIER, identifier->rgValue[0].pbData,
                                   identifier->rgValue[0].cbData);
    const auto octets = Decode<CRYPT_DATA_BLOB>(X509_OCTET_STRING, message->rgValue[1].pbData,
                                                message->rgValue[1].cbData);
    const auto when =
        Decode<FILETIME>(X509_CHOICE_OF_TIME, info->rgValue[4].pbData, info->rgValue[4].cbData);
    if (!oid || *oid == nullptr || !octets || !when) {
        return false;
    }
    *imprintAlgorithm = *oid;
    *imprint = Blob(octets->pbData, octets->cbData);
    const uint64_t ticks =
        (static_cast<uint64_t>(when->dwHighDateTime) << 32) | when->dwLowDateTime;
    *time = static_cast<int64_t>(ticks / 10000000) - 11644473600;
    return true;
}

} // namespace CatalogCrypto
