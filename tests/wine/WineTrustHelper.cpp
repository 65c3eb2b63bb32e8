// Trust fixture and probe of the end-to-end suite under Wine: puts test certificates into the
// prefix's LocalMachine stores, and prints what the signature check's Windows layer
// (CatalogTrust-win32.cpp) answers for a catalog, call by call.
//
//   WineTrustHelper add STORE CERT          adds a certificate file (DER) to the LocalMachine
//                                           system store STORE (Root, TrustedPublisher)
//   WineTrustHelper add-user STORE CERT     the same in a CurrentUser store (which the layer
//                                           must not take for the machine's)
//   WineTrustHelper remove STORE CERT       deletes exactly that certificate from the LocalMachine
//                                           system store STORE, if it is there
//   WineTrustHelper has STORE CERT          prints "present" or "absent": whether exactly that
//                                           certificate (by its bytes) is in the store
//   WineTrustHelper probe LIST              for each line of LIST (a name, a catalog and pairs of
//                                           a member's tag and its file, separated by tabs):
//                                           "== name", one line per answer of the layer for the
//                                           catalog (its timestamp's path included), then
//                                           WinVerifyTrust's for each member
//   WineTrustHelper chain CERT              builds the chain of a certificate file with the
//                                           local machine's and the current user's engines;
//                                           prints the problems of each
//
// Output is UTF-8 with LF line ends; failures go to stderr with exit code 1 (2: bad usage).
// Never installed or packaged.
#include "CatalogCrypto.h"
#include "CatalogTrust.h"
#include "SignedContent.h"

#include "Win32.h"

#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using CatalogTrust::Bytes;

std::string Utf8(const std::u16string& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(
        CP_UTF8, 0, Win32::Wide(text), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Win32::Wide(text), static_cast<int>(text.size()), out.data(),
                        size, nullptr, nullptr);
    return out;
}

std::u16string Text(const wchar_t* text) {
    return Win32::FromWide(text);
}

bool ReadAll(const wchar_t* path, Bytes* data) {
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) {
        return false;
    }
    data->clear();
    uint8_t block[65536];
    size_t read = 0;
    while ((read = fread(block, 1, sizeof block, file)) > 0) {
        data->insert(data->end(), block, block + read);
    }
    fclose(file);
    return true;
}

struct StoreClose {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};

std::unique_ptr<void, StoreClose> OpenSystemStore(const wchar_t* name, DWORD flags) {
    return std::unique_ptr<void, StoreClose>(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, flags, name));
}

int Add(const wchar_t* store, const wchar_t* path, DWORD location) {
    Bytes der;
    if (!ReadAll(path, &der)) {
        fprintf(stderr, "WineTrustHelper: %s cannot be read\n", Utf8(Text(path)).c_str());
        return 1;
    }
    const auto opened = OpenSystemStore(store, location);
    if (!opened || !CertAddEncodedCertificateToStore(opened.get(), X509_ASN_ENCODING, der.data(),
                                                     static_cast<DWORD>(der.size()),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        fprintf(stderr, "WineTrustHelper: adding to %s failed, error 0x%lx\n",
                Utf8(Text(store)).c_str(), GetLastError());
        return 1;
    }
    return 0;
}

// Deletes exactly that certificate (found by the SHA-1 hash of its bytes) from a LocalMachine
// system store; absent already is no failure.
int Remove(const wchar_t* store, const wchar_t* path) {
    Bytes der;
    if (!ReadAll(path, &der)) {
        fprintf(stderr, "WineTrustHelper: %s cannot be read\n", Utf8(Text(path)).c_str());
        return 1;
    }
    BYTE hash[20] = {};
    DWORD hashSize = sizeof hash;
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(der.size()), der.data()};
    // The system store's registry part itself: Wine 8's CertDeleteCertificateFromStore on a
    // system store (CERT_STORE_PROV_SYSTEM_W, a collection) returns TRUE and deletes nothing.
    const std::unique_ptr<void, StoreClose> opened(CertOpenStore(
        CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, store));
    if (!opened ||
        !CryptHashCertificate(0, CALG_SHA1, 0, blob.pbData, blob.cbData, hash, &hashSize)) {
        fprintf(stderr, "WineTrustHelper: %s cannot be opened, error 0x%lx\n",
                Utf8(Text(store)).c_str(), GetLastError());
        return 1;
    }
    CRYPT_HASH_BLOB find = {hashSize, hash};
    const PCCERT_CONTEXT found = CertFindCertificateInStore(opened.get(), X509_ASN_ENCODING, 0,
                                                            CERT_FIND_SHA1_HASH, &find, nullptr);
    // CertDeleteCertificateFromStore frees the context it is given, whether or not it deletes.
    if (found != nullptr && !CertDeleteCertificateFromStore(found)) {
        fprintf(stderr, "WineTrustHelper: deleting from %s failed, error 0x%lx\n",
                Utf8(Text(store)).c_str(), GetLastError());
        return 1;
    }
    return 0;
}

int Has(const wchar_t* store, const wchar_t* path) {
    Bytes der;
    if (!ReadAll(path, &der)) {
        fprintf(stderr, "WineTrustHelper: %s cannot be read\n", Utf8(Text(path)).c_str());
        return 1;
    }
    if (std::wcscmp(store, L"TrustedPublisher") == 0) {
        // The layer's own question.
        const auto presence = CatalogTrust::InTrustedPublishers(der);
        printf("%s\n", presence == CatalogTrust::Presence::Present  ? "present"
                       : presence == CatalogTrust::Presence::Absent ? "absent"
                                                                    : "unreadable");
        return presence == CatalogTrust::Presence::Unreadable ? 1 : 0;
    }
    const auto opened =
        OpenSystemStore(store, CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG |
                                   CERT_STORE_OPEN_EXISTING_FLAG);
    if (!opened) {
        printf("absent\n");
        return 0;
    }
    bool found = false;
    for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(opened.get(), nullptr);
         context != nullptr; context = CertEnumCertificatesInStore(opened.get(), context)) {
        found = found || Bytes(context->pbCertEncoded,
                               context->pbCertEncoded + context->cbCertEncoded) == der;
    }
    printf("%s\n", found ? "present" : "absent");
    return 0;
}

std::string Describe(const Bytes& der) {
    CatalogTrust::Certificate certificate;
    if (!CatalogTrust::DescribeCertificate(der, &certificate)) {
        return "undecodable";
    }
    std::string out = "\"";
    out.append(Utf8(certificate.name));
    out.append("\" usages=");
    for (size_t i = 0; i < certificate.usages.size(); ++i) {
        if (i > 0) {
            out.push_back(',');
        }
        out.append(certificate.usages[i]);
    }
    if (certificate.usages.empty()) {
        out.push_back('-');
    }
    return out;
}

std::string ChainText(const CatalogTrust::Chain& chain) {
    char text[96];
    std::snprintf(text, sizeof text, "problems=0x%lx authenticode=0x%lx",
                  static_cast<unsigned long>(chain.problems),
                  static_cast<unsigned long>(chain.authenticodeError));
    return text;
}

// The timestamp path of the signer's first RFC 3161 timestamp, call by call, as the signature
// check takes it: the token's signer and its signature, its content (a TSTInfo whose hash is the
// signer's messageDigest), the TSTInfo's imprint (of the catalog signer's signature) and time, the
// time stamping authority's chain for time stamping at that time (and, to show that the time and
// the usage are heeded, before its certificate was valid and for code signing), and the catalog
// signer's chain at that time.
void ProbeTimestamp(const Bytes& catalog, const CatalogTrust::Signer& signer) {
    printf("timestamps: %zu\n", signer.timestamps.size());
    if (signer.timestamps.empty()) {
        return;
    }
    const Bytes& token = signer.timestamps.front();
    CatalogTrust::Signer stamper;
    const auto read = CatalogTrust::ReadSigner(token.data(), token.size(), &stamper);
    printf("timestamp signer: %s\n", read == CatalogTrust::SignerRead::Read       ? "read"
                                     : read == CatalogTrust::SignerRead::NoSigner ? "none"
                                                                                  : "unreadable");
    if (read != CatalogTrust::SignerRead::Read) {
        return;
    }
    printf("timestamp digest: %s\n", stamper.digestAlgorithm.c_str());
    printf("timestamp signature: %s\n", stamper.signatureVerifies ? "verifies" : "does not verify");
    printf("timestamp certificate: %s\n", stamper.certificate.empty()
                                              ? "not in the message"
                                              : Describe(stamper.certificate).c_str());
    CatalogCrypto::Bytes content;
    const auto check = Signature::CheckContent(token.data(), token.size(), stamper, true,
                                               "1.2.840.113549.1.9.16.1.4", &content);
    printf("timestamp content: %s\n",
           check == Signature::ContentCheck::Matches            ? "TSTInfo, messageDigest matches"
           : check == Signature::ContentCheck::UnknownAlgorithm ? "unknown digest algorithm"
           : check == Signature::ContentCheck::NoMessageDigest  ? "no messageDigest"
           : check == Signature::ContentCheck::Unhashable       ? "not a TSTInfo, or unhashable"
                                                                : "messageDigest differs");
    std::string algorithm;
    CatalogCrypto::Bytes imprint;
    int64_t time = 0;
    if (!CatalogCrypto::DecodeTimestampInfo(content.data(), content.size(), &algorithm, &imprint,
                                            &time)) {
        printf("timestamp info: undecodable\n");
        return;
    }
    CatalogCrypto::HashAlgorithm hash;
    CatalogCrypto::Bytes signature;
    const bool covers = Signature::HashAlgorithmOf(algorithm, &hash) &&
                        Signature::Hash(hash, signer.encryptedDigest.data(),
                                        signer.encryptedDigest.size(), &signature) &&
                        signature == imprint;
    printf("timestamp info: imprint %s %s the catalog's signature, time %s\n", algorithm.c_str(),
           covers ? "covers" : "does not cover", Utf8(Signature::TimeText(time)).c_str());
    if (!stamper.certificate.empty()) {
        const struct {
            const char* what;
            CatalogTrust::Usage usage;
            int64_t at;
        } asks[] = {
            {"for time stamping at its time", CatalogTrust::Usage::TimeStamping, time},
            {"for time stamping at 2019-06-01", CatalogTrust::Usage::TimeStamping, 1559347200},
            {"for code signing at its time", CatalogTrust::Usage::CodeSigning, time}};
        for (const auto& ask : asks) {
            CatalogTrust::Chain chain;
            if (CatalogTrust::BuildChain(token.data(), token.size(), stamper.certificate, ask.usage,
                                         ask.at, &chain)) {
                printf("timestamp chain %s: %s root=%s\n", ask.what, ChainText(chain).c_str(),
                       Describe(chain.root).c_str());
            } else {
                printf("timestamp chain %s: not built\n", ask.what);
            }
        }
    }
    CatalogTrust::Chain chain;
    if (!signer.certificate.empty() &&
        CatalogTrust::BuildChain(catalog.data(), catalog.size(), signer.certificate,
                                 CatalogTrust::Usage::CodeSigning, time, &chain)) {
        printf("chain at the timestamp's time: %s\n", ChainText(chain).c_str());
    } else {
        printf("chain at the timestamp's time: not built\n");
    }
}

// Prints the layer's answers for one catalog, then WinVerifyTrust's for each member.
void Probe(const std::u16string& path, const std::vector<std::u16string>& members) {
    Bytes catalog;
    if (!ReadAll(Win32::Wide(path), &catalog)) {
        printf("catalog: cannot be read\n");
        return;
    }
    CatalogTrust::Signer signer;
    const auto read = CatalogTrust::ReadSigner(catalog.data(), catalog.size(), &signer);
    printf("signer: %s\n", read == CatalogTrust::SignerRead::Read       ? "read"
                           : read == CatalogTrust::SignerRead::NoSigner ? "none"
                                                                        : "unreadable");
    if (read == CatalogTrust::SignerRead::Read) {
        printf("digest: %s\n", signer.digestAlgorithm.c_str());
        if (signer.messageDigest) {
            printf("messageDigest: %zu bytes\n", signer.messageDigest->size());
        } else {
            printf("messageDigest: absent\n");
        }
        printf("signature: %s\n", signer.signatureVerifies ? "verifies" : "does not verify");
        printf("certificate: %s\n", signer.certificate.empty()
                                        ? "not in the message"
                                        : Describe(signer.certificate).c_str());
    }
    if (!signer.certificate.empty()) {
        CatalogTrust::Chain chain;
        if (CatalogTrust::BuildChain(catalog.data(), catalog.size(), signer.certificate,
                                     CatalogTrust::Usage::CodeSigning, std::nullopt, &chain)) {
            printf("chain: problems=0x%lx authenticode=0x%lx microsoftRoot=%s\n",
                   static_cast<unsigned long>(chain.problems),
                   static_cast<unsigned long>(chain.authenticodeError),
                   chain.microsoftRoot ? "passes" : "fails");
            printf("root: %s\n", Describe(chain.root).c_str());
        } else {
            printf("chain: not built\n");
        }
        const auto presence = CatalogTrust::InTrustedPublishers(signer.certificate);
        printf("trustedPublisher: %s\n", presence == CatalogTrust::Presence::Present ? "present"
                                         : presence == CatalogTrust::Presence::Absent
                                             ? "absent"
                                             : "unreadable");
    }
    if (read == CatalogTrust::SignerRead::Read) {
        ProbeTimestamp(catalog, signer);
    }
    for (size_t i = 0; i + 1 < members.size(); i += 2) {
        const auto verdict = CatalogTrust::WindowsVerdict(path, members[i], members[i + 1]);
        const std::u16string file = members[i + 1].substr(members[i + 1].find_last_of(u"\\/") + 1);
        if (verdict) {
            printf("WinVerifyTrust %s: 0x%lx\n", Utf8(file).c_str(),
                   static_cast<unsigned long>(*verdict));
        } else {
            printf("WinVerifyTrust %s: not asked\n", Utf8(file).c_str());
        }
    }
}

// Each line of the list (UTF-8): a name, the catalog and (tag, file) pairs, separated by tabs.
int ProbeList(const wchar_t* list) {
    Bytes text;
    if (!ReadAll(list, &text)) {
        fprintf(stderr, "WineTrustHelper: %s cannot be read\n", Utf8(Text(list)).c_str());
        return 1;
    }
    std::vector<std::u16string> fields(1);
    for (size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? static_cast<char>(text[i]) : '\n';
        if (c == '\t' || c == '\n') {
            // Fields hold ASCII names and paths of the build folder.
            if (c == '\n' && fields.size() >= 2) {
                printf("== %s\n", Utf8(fields[0]).c_str());
                Probe(fields[1], std::vector<std::u16string>(fields.begin() + 2, fields.end()));
                fflush(stdout);
            }
            if (c == '\n') {
                fields.assign(1, u"");
            } else {
                fields.emplace_back();
            }
        } else if (c != '\r') {
            fields.back().push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
        }
    }
    return 0;
}

// Builds a chain for a certificate file with the local machine's engine, as the layer does, and
// with the current user's, as WinVerifyTrust does; prints the problems of each.
int ChainOf(const wchar_t* path) {
    Bytes der;
    if (!ReadAll(path, &der)) {
        fprintf(stderr, "WineTrustHelper: %s cannot be read\n", Utf8(Text(path)).c_str());
        return 1;
    }
    const PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (certificate == nullptr) {
        fprintf(stderr, "WineTrustHelper: %s is no certificate\n", Utf8(Text(path)).c_str());
        return 1;
    }
    int result = 0;
    for (const HCERTCHAINENGINE engine : {HCCE_LOCAL_MACHINE, HCCE_CURRENT_USER}) {
        CERT_CHAIN_PARA para = {};
        para.cbSize = sizeof para;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        if (!CertGetCertificateChain(engine, certificate, nullptr, nullptr, &para,
                                     CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &chain)) {
            fprintf(stderr, "WineTrustHelper: no chain for %s, error 0x%lx\n",
                    Utf8(Text(path)).c_str(), GetLastError());
            result = 1;
            continue;
        }
        printf("%s: problems=0x%lx\n", engine == HCCE_LOCAL_MACHINE ? "machine" : "user",
               chain->TrustStatus.dwErrorStatus);
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(certificate);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wcscmp(argv[1], L"add") == 0) {
        return Add(argv[2], argv[3], CERT_SYSTEM_STORE_LOCAL_MACHINE);
    }
    if (argc == 4 && std::wcscmp(argv[1], L"add-user") == 0) {
        return Add(argv[2], argv[3], CERT_SYSTEM_STORE_CURRENT_USER);
    }
    if (argc == 4 && std::wcscmp(argv[1], L"remove") == 0) {
        return Remove(argv[2], argv[3]);
    }
    if (argc == 4 && std::wcscmp(argv[1], L"has") == 0) {
        return Has(argv[2], argv[3]);
    }
    if (argc == 3 && std::wcscmp(argv[1], L"probe") == 0) {
        return ProbeList(argv[2]);
    }
    if (argc == 3 && std::wcscmp(argv[1], L"chain") == 0) {
        return ChainOf(argv[2]);
    }
    fprintf(
        stderr,
        "usage: WineTrustHelper add|add-user|remove|has STORE CERT | probe LIST | chain CERT\n");
    return 2;
}
