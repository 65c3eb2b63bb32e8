// The host stand-in of CatalogCrypto over OpenSSL: EVP for the hashes, d2i_PKCS7 for the
// message, and OpenSSL's generic ASN.1 (sequences and sets of ANY, objects, octet strings,
// X509_SIG for the digest info) for the trust list and the indirect data, as crypt32 decodes
// them on Windows.
#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <climits>

#include "CatalogCrypto.h"

namespace CatalogCrypto {

namespace {

struct TypeStackFree {
    void operator()(ASN1_SEQUENCE_ANY* stack) const {
        sk_ASN1_TYPE_pop_free(stack, ASN1_TYPE_free);
    }
};
using TypeStack = std::unique_ptr<ASN1_SEQUENCE_ANY, TypeStackFree>;

struct Pkcs7Free {
    void operator()(PKCS7* message) const { PKCS7_free(message); }
};
struct SigFree {
    void operator()(X509_SIG* sig) const { X509_SIG_free(sig); }
};

bool Fits(size_t size) {
    return size <= static_cast<size_t>(LONG_MAX);
}

// The elements of a SEQUENCE (or, with `set`, a SET) OF ANY; empty pointer when it is not one.
TypeStack Elements(const uint8_t* data, size_t size, bool set = false) {
    if (!Fits(size)) {
        return nullptr;
    }
    const unsigned char* at = data;
    ASN1_SEQUENCE_ANY* stack = set ? d2i_ASN1_SET_ANY(nullptr, &at, static_cast<long>(size))
                                   : d2i_ASN1_SEQUENCE_ANY(nullptr, &at, static_cast<long>(size));
    // Bytes after the element are not part of it: refused, as crypt32 refuses them.
    if (stack != nullptr && at != data + size) {
        sk_ASN1_TYPE_pop_free(stack, ASN1_TYPE_free);
        stack = nullptr;
    }
    return TypeStack(stack);
}

// The DER of an element, as it was encoded.
Bytes Der(const ASN1_TYPE* element) {
    const int size = i2d_ASN1_TYPE(element, nullptr);
    if (size <= 0) {
        return {};
    }
    Bytes out(static_cast<size_t>(size));
    unsigned char* at = out.data();
    i2d_ASN1_TYPE(element, &at);
    return out;
}

// A constructed element's DER (a SEQUENCE or SET held as ANY keeps its encoding).
bool Constructed(const ASN1_TYPE* element, int type, const uint8_t** data, size_t* size) {
    if (element == nullptr || ASN1_TYPE_get(element) != type) {
        return false;
    }
    const ASN1_STRING* encoding = element->value.sequence;
    *data = ASN1_STRING_get0_data(encoding);
    *size = static_cast<size_t>(ASN1_STRING_length(encoding));
    return true;
}

// The elements of a constructed `element` of `type` (V_ASN1_SEQUENCE or V_ASN1_SET); empty
// pointer when it is not one.
TypeStack Children(const ASN1_TYPE* element, int type) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    return Constructed(element, type, &data, &size) ? Elements(data, size, type == V_ASN1_SET)
                                                    : nullptr;
}

bool Oid(const ASN1_OBJECT* object, std::string* dotted) {
    char text[128];
    const int length = OBJ_obj2txt(text, sizeof text, object, 1);
    if (length <= 0 || length >= static_cast<int>(sizeof text)) {
        return false;
    }
    dotted->assign(text, static_cast<size_t>(length));
    return true;
}

bool OidOf(const ASN1_TYPE* element, std::string* dotted) {
    return element != nullptr && ASN1_TYPE_get(element) == V_ASN1_OBJECT &&
           Oid(element->value.object, dotted);
}

bool IsTime(const ASN1_TYPE* element) {
    const int type = element != nullptr ? ASN1_TYPE_get(element) : -1;
    return type == V_ASN1_UTCTIME || type == V_ASN1_GENERALIZEDTIME;
}

// Each of `elements` read by `read` into an item added to `items`; false at the first that does
// not read.
template <typename Item, typename Read>
bool ReadEach(const TypeStack& elements, std::vector<Item>* items, Read read) {
    for (int i = 0; i < sk_ASN1_TYPE_num(elements.get()); ++i) {
        items->emplace_back();
        if (!read(sk_ASN1_TYPE_value(elements.get(), i), &items->back())) {
            return false;
        }
    }
    return true;
}

// An attribute: SEQUENCE { type OID, values SET OF ANY }.
bool ReadAttribute(const ASN1_TYPE* element, Attribute* attribute) {
    const TypeStack parts = Children(element, V_ASN1_SEQUENCE);
    if (!parts || sk_ASN1_TYPE_num(parts.get()) != 2 ||
        !OidOf(sk_ASN1_TYPE_value(parts.get(), 0), &attribute->type)) {
        return false;
    }
    const TypeStack values = Children(sk_ASN1_TYPE_value(parts.get(), 1), V_ASN1_SET);
    if (!values) {
        return false;
    }
    for (int i = 0; i < sk_ASN1_TYPE_num(values.get()); ++i) {
        attribute->values.push_back(Der(sk_ASN1_TYPE_value(values.get(), i)));
    }
    return true;
}

// A trusted subject: SEQUENCE { identifier OCTET STRING, attributes SET OF Attribute OPTIONAL }.
bool ReadEntry(const ASN1_TYPE* element, TrustListEntry* entry) {
    const TypeStack parts = Children(element, V_ASN1_SEQUENCE);
    const int count = parts ? sk_ASN1_TYPE_num(parts.get()) : 0;
    const ASN1_TYPE* identifier = count >= 1 ? sk_ASN1_TYPE_value(parts.get(), 0) : nullptr;
    if (count < 1 || count > 2 || ASN1_TYPE_get(identifier) != V_ASN1_OCTET_STRING) {
        return false;
    }
    const ASN1_OCTET_STRING* octets = identifier->value.octet_string;
    entry->identifier.assign(ASN1_STRING_get0_data(octets),
                             ASN1_STRING_get0_data(octets) + ASN1_STRING_length(octets));
    if (count == 1) {
        return true;
    }
    const TypeStack attributes = Children(sk_ASN1_TYPE_value(parts.get(), 1), V_ASN1_SET);
    return attributes && ReadEach(attributes, &entry->attributes, ReadAttribute);
}

} // namespace

struct Digest::State {
    EVP_MD_CTX* context = nullptr;
    ~State() { EVP_MD_CTX_free(context); }
};

Digest::Digest(HashAlgorithm algorithm) : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    const EVP_MD* md = algorithm == HashAlgorithm::Sha1 ? EVP_sha1() : EVP_sha256();
    ok_ = state_->context != nullptr && EVP_DigestInit_ex(state_->context, md, nullptr) == 1;
}

Digest::~Digest() = default;

void Digest::Update(const uint8_t* data, size_t size) {
    ok_ = ok_ && (size == 0 || EVP_DigestUpdate(state_->context, data, size) == 1);
}

bool Digest::Finish(Bytes* digest) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    ok_ = ok_ && EVP_DigestFinal_ex(state_->context, out, &size) == 1;
    if (ok_) {
        digest->assign(out, out + size);
    }
    return ok_;
}

Message SignedContent(const uint8_t* data, size_t size, std::string* contentType, Bytes* content,
                      bool* octetString) {
    if (!Fits(size)) {
        return Message::Unreadable;
    }
    const unsigned char* at = data;
    const std::unique_ptr<PKCS7, Pkcs7Free> message(
        d2i_PKCS7(nullptr, &at, static_cast<long>(size)));
    if (!message) {
        return Message::Unreadable;
    }
    if (!PKCS7_type_is_signed(message.get()) || message->d.sign == nullptr ||
        message->d.sign->contents == nullptr) {
        return Message::NotSignedData;
    }
    const PKCS7* inner = message->d.sign->contents;
    if (!Oid(inner->type, contentType)) {
        return Message::Unreadable;
    }
    content->clear();
    if (octetString != nullptr) {
        *octetString = false;
    }
    // A content type OpenSSL does not know is held as ANY: its DER, or an OCTET STRING's octets.
    if (OBJ_obj2nid(inner->type) == NID_undef && inner->d.other != nullptr) {
        const ASN1_TYPE* other = inner->d.other;
        if (ASN1_TYPE_get(other) == V_ASN1_OCTET_STRING) {
            const ASN1_OCTET_STRING* octets = other->value.octet_string;
            content->assign(ASN1_STRING_get0_data(octets),
                            ASN1_STRING_get0_data(octets) + ASN1_STRING_length(octets));
            if (octetString != nullptr) {
                *octetString = true;
            }
        } else {
            *content = Der(other);
        }
    }
    return Message::SignedData;
}

// CertificateTrustList ::= SEQUENCE { version INTEGER DEFAULT, subjectUsage SEQUENCE OF OID,
// listIdentifier OCTET STRING OPTIONAL, sequenceNumber INTEGER OPTIONAL, thisUpdate Time,
// nextUpdate Time OPTIONAL, subjectAlgorithm AlgorithmIdentifier, trustedSubjects SEQUENCE OF
// TrustedSubject OPTIONAL, extensions [0] OPTIONAL }.
bool DecodeTrustList(const uint8_t* data, size_t size, TrustList* list) {
    *list = {};
    const TypeStack parts = Elements(data, size);
    if (!parts) {
        return false;
    }
    const int count = sk_ASN1_TYPE_num(parts.get());
    int at = 0;
    const auto next = [&]() { return at < count ? sk_ASN1_TYPE_value(parts.get(), at) : nullptr; };
    if (next() != nullptr && ASN1_TYPE_get(next()) == V_ASN1_INTEGER) {
        ++at;
    }
    const TypeStack usages = Children(next(), V_ASN1_SEQUENCE);
    if (!usages) {
        return false;
    }
    ++at;
    for (int i = 0; i < sk_ASN1_TYPE_num(usages.get()); ++i) {
        std::string usage;
        if (!OidOf(sk_ASN1_TYPE_value(usages.get(), i), &usage)) {
            return false;
        }
        list->usages.push_back(usage);
    }
    if (next() != nullptr && ASN1_TYPE_get(next()) == V_ASN1_OCTET_STRING) {
        ++at;
    }
    if (next() != nullptr && ASN1_TYPE_get(next()) == V_ASN1_INTEGER) {
        ++at;
    }
    if (!IsTime(next())) {
        return false;
    }
    ++at;
    if (IsTime(next())) {
        ++at;
    }
    const TypeStack algorithm = Children(next(), V_ASN1_SEQUENCE);
    ++at;
    if (!algorithm || sk_ASN1_TYPE_num(algorithm.get()) < 1 ||
        sk_ASN1_TYPE_num(algorithm.get()) > 2 ||
        !OidOf(sk_ASN1_TYPE_value(algorithm.get(), 0), &list->subjectAlgorithm)) {
        return false;
    }
    const uint8_t* inner = nullptr;
    size_t innerSize = 0;
    if (Constructed(next(), V_ASN1_SEQUENCE, &inner, &innerSize)) {
        ++at;
        const TypeStack subjects = Elements(inner, innerSize);
        if (!subjects || !ReadEach(subjects, &list->entries, ReadEntry)) {
            return false;
        }
    }
    // What may follow is the [0] extensions, which OpenSSL holds as an element of another class.
    if (next() != nullptr && ASN1_TYPE_get(next()) == V_ASN1_OTHER) {
        ++at;
    }
    return at == count;
}

// SpcIndirectDataContent ::= SEQUENCE { data SpcAttributeTypeAndOptionalValue,
// messageDigest DigestInfo }.
bool DecodeIndirectDigest(const uint8_t* data, size_t size, std::string* algorithm, Bytes* digest) {
    const TypeStack parts = Elements(data, size);
    const uint8_t* info = nullptr;
    size_t infoSize = 0;
    if (!parts || sk_ASN1_TYPE_num(parts.get()) != 2 ||
        ASN1_TYPE_get(sk_ASN1_TYPE_value(parts.get(), 0)) != V_ASN1_SEQUENCE ||
        !Constructed(sk_ASN1_TYPE_value(parts.get(), 1), V_ASN1_SEQUENCE, &info, &infoSize)) {
        return false;
    }
    const unsigned char* at = info;
    const std::unique_ptr<X509_SIG, SigFree> sig(
        d2i_X509_SIG(nullptr, &at, static_cast<long>(infoSize)));
    if (!sig || at != info + infoSize) {
        return false;
    }
    const X509_ALGOR* digestAlgorithm = nullptr;
    const ASN1_OCTET_STRING* octets = nullptr;
    X509_SIG_get0(sig.get(), &digestAlgorithm, &octets);
    const ASN1_OBJECT* object = nullptr;
    X509_ALGOR_get0(&object, nullptr, nullptr, digestAlgorithm);
    if (object == nullptr || !Oid(object, algorithm)) {
        return false;
    }
    digest->assign(ASN1_STRING_get0_data(octets),
                   ASN1_STRING_get0_data(octets) + ASN1_STRING_length(octets));
    return true;
}

} // namespace CatalogCrypto
