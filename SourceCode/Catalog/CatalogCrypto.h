// The platform's cryptography as the catalog check uses it: hashes, and the decoding of a
// catalog's message, trust list and indirect data. CatalogCrypto-win32.cpp calls Windows (CNG's
// BCrypt* for the hashes, crypt32's CryptMsg* and CryptDecodeObjectEx for the decoding, both
// bound at run time from the system folder); CatalogCrypto-host.cpp stands in with OpenSSL. The
// calls only decode and hash: which member matches which file is Catalog.cpp's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace CatalogCrypto {

using Bytes = std::vector<uint8_t>;

enum class HashAlgorithm { Sha1, Sha256 };

// A hash being computed. Fails (Ok() false) when the platform cannot give the algorithm.
class Digest {
  public:
    explicit Digest(HashAlgorithm algorithm);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    bool Ok() const { return ok_; }
    void Update(const uint8_t* data, size_t size);
    // The hash of everything given; false (and Ok() false after) when the platform fails.
    bool Finish(Bytes* digest);

  private:
    struct State;
    std::unique_ptr<State> state_;
    bool ok_ = false;
};

enum class Message {
    Unreadable,    // not a PKCS#7 message the platform can decode
    NotSignedData, // a message of another type
    SignedData,
};

// Decodes `data` as a PKCS#7 message. For signed data, `contentType` gets the dotted OID of its
// content and `content` the content's DER as it stands (a content the message wraps in an
// OCTET STRING is unwrapped, and `octetString`, when given, says so).
Message SignedContent(const uint8_t* data, size_t size, std::string* contentType, Bytes* content,
                      bool* octetString = nullptr);

// An attribute of a trust list's entry: its dotted OID and the DER of each value.
struct Attribute {
    std::string type;
    std::vector<Bytes> values;
};

struct TrustListEntry {
    Bytes identifier; // the subject identifier's octets
    std::vector<Attribute> attributes;
};

// What the catalog check reads of a certificate trust list.
struct TrustList {
    std::vector<std::string> usages; // the subject usage OIDs, dotted
    std::string subjectAlgorithm;    // dotted
    std::vector<TrustListEntry> entries;
};

// Decodes the DER of a certificate trust list; false when it is not one.
bool DecodeTrustList(const uint8_t* data, size_t size, TrustList* list);

// Decodes the DER of an SPC_INDIRECT_DATA_CONTENT: its digest's algorithm (dotted OID) and the
// digest. False when it is not one.
bool DecodeIndirectDigest(const uint8_t* data, size_t size, std::string* algorithm, Bytes* digest);

} // namespace CatalogCrypto
