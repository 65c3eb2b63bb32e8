#include "SignedContent.h"

namespace Signature {

namespace {

using CatalogCrypto::Bytes;

// The octets a signer's messageDigest covers: `whole`, all of them; else the DER without its outer
// tag and length.
bool DigestedOctets(const Bytes& content, bool whole, const uint8_t** data, size_t* size) {
    if (whole) {
        *data = content.data();
        *size = content.size();
        return true;
    }
    if (content.size() < 2) {
        return false;
    }
    size_t header = 2;
    size_t length = content[1];
    if (length & 0x80) {
        const size_t octets = length & 0x7f;
        if (octets == 0 || octets > 4 || content.size() < 2 + octets) {
            return false;
        }
        length = 0;
        for (size_t i = 0; i < octets; ++i) {
            length = (length << 8) | content[2 + i];
        }
        header += octets;
    }
    if (content.size() - header != length) {
        return false;
    }
    *data = content.data() + header;
    *size = length;
    return true;
}

std::u16string Digits(int64_t value, size_t width) {
    std::u16string text;
    for (; width > 0; --width, value /= 10) {
        text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
    }
    return text;
}

} // namespace

bool HashAlgorithmOf(const std::string& oid, CatalogCrypto::HashAlgorithm* algorithm) {
    if (oid == "1.3.14.3.2.26") {
        *algorithm = CatalogCrypto::HashAlgorithm::Sha1;
        return true;
    }
    if (oid == "2.16.840.1.101.3.4.2.1") {
        *algorithm = CatalogCrypto::HashAlgorithm::Sha256;
        return true;
    }
    return false;
}

bool Hash(CatalogCrypto::HashAlgorithm algorithm, const uint8_t* data, size_t size, Bytes* digest) {
    CatalogCrypto::Digest hash(algorithm);
    if (!hash.Ok()) {
        return false;
    }
    hash.Update(data, size);
    return hash.Finish(digest);
}

ContentCheck CheckContent(const uint8_t* data, size_t size, const CatalogTrust::Signer& signer,
                          bool cms, const char* expectedType, Bytes* content) {
    CatalogCrypto::HashAlgorithm algorithm;
    if (!HashAlgorithmOf(signer.digestAlgorithm, &algorithm)) {
        return ContentCheck::UnknownAlgorithm;
    }
    if (!signer.messageDigest) {
        return ContentCheck::NoMessageDigest;
    }
    std::string type;
    Bytes own;
    Bytes& signedContent = content != nullptr ? *content : own;
    bool octetString = false;
    const uint8_t* digested = nullptr;
    size_t digestedSize = 0;
    Bytes hash;
    if (CatalogCrypto::SignedContent(data, size, &type, &signedContent, &octetString) !=
            CatalogCrypto::Message::SignedData ||
        (expectedType != nullptr && type != expectedType) ||
        !DigestedOctets(signedContent, octetString || cms, &digested, &digestedSize) ||
        !Hash(algorithm, digested, digestedSize, &hash)) {
        return ContentCheck::Unhashable;
    }
    return hash == *signer.messageDigest ? ContentCheck::Matches : ContentCheck::Differs;
}

std::u16string Hex(const Bytes& bytes) {
    static const char16_t* digits = u"0123456789ABCDEF";
    std::u16string text;
    for (const uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::u16string Hex32(uint32_t value) {
    return u"0x" + Hex({static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

std::u16string TimeText(int64_t seconds) {
    // The civil date of a day count (days since 1970-01-01), proleptic Gregorian.
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const int64_t second = seconds - days * 86400;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return Digits(year, 4) + u"-" + Digits(month, 2) + u"-" + Digits(day, 2) + u" " +
           Digits(second / 3600, 2) + u":" + Digits(second / 60 % 60, 2) + u":" +
           Digits(second % 60, 2) + u" UTC";
}

} // namespace Signature
