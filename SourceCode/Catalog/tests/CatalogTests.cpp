// The catalog check's hashes and reader against an implementation that was not written here:
// tests/signing/catalog.py (asn1crypto and Python's hashlib) writes the catalogs and gives the
// hashes it puts in them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "Catalog.h"
#include "DeviceSimulator.h"
#include "ImageHash.h"
#include "Signature.h"
#include "SigningTools.h"
#include "Utf8.h"

namespace fs = std::filesystem;
using Catalog::FileHash;
using Catalog::FileHashResult;
using CatalogCrypto::Bytes;
using CatalogCrypto::HashAlgorithm;

namespace {

class CatalogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("catalog-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Hex(const Bytes& bytes) {
        static const char* digits = "0123456789ABCDEF";
        std::string out;
        for (const uint8_t b : bytes) {
            out += digits[b >> 4];
            out += digits[b & 15];
        }
        return out;
    }
    static FileHash Hash(const std::string& path) {
        FileHash hash;
        EXPECT_EQ(Catalog::HashFile(Text::Utf8ToUtf16(path), true, true, &hash),
                  FileHashResult::Done);
        return hash;
    }
    static Catalog::CatalogContents ReadCatalogFile(const std::string& path) {
        const std::string bytes = Read(path);
        return Catalog::ReadCatalog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }

    // The image signed afterwards, as a signing tool leaves it: a certificate table appended
    // (the image is a multiple of 8 bytes long), the data directory's entry pointing at it and a
    // checksum written.
    static std::string SignedAfter(std::string image, uint32_t tableSize) {
        const uint32_t pe = static_cast<uint8_t>(image[0x3C]) | static_cast<uint8_t>(image[0x3D])
                                                                    << 8;
        const size_t optional = pe + 24;
        const size_t entry = optional + 112 + 4 * 8;
        const auto put32 = [&image](size_t at, uint32_t value) {
            for (int i = 0; i < 4; ++i) {
                image[at + i] = static_cast<char>(value >> (8 * i));
            }
        };
        put32(entry, static_cast<uint32_t>(image.size()));
        put32(entry + 4, tableSize);
        put32(optional + 64, 0x1234ABCD);
        image += std::string(tableSize, '\x5A');
        return image;
    }

    fs::path dir_;
};

} // namespace

// A file's hashes as the catalog writer computes them, for plain files and PE images: the
// image's exclusions are exactly its checksum and certificate-table entry, and with a table, the
// table too, so an image signed after cataloguing keeps its hash and a changed byte does not.
TEST_F(CatalogTest, HashesAreTheCatalogWritersForPlainFilesAndImages) {
    Put(Path("abc.txt"), "abc");
    const FileHash plain = Hash(Path("abc.txt"));
    EXPECT_FALSE(plain.image);
    EXPECT_EQ(Hex(plain.sha256),
              "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    EXPECT_EQ(Hex(plain.sha1), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    Put(Path("empty"), "");
    EXPECT_EQ(Hex(Hash(Path("empty")).sha256),
              "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");

    ASSERT_TRUE(SigningTools::MinimalImage(Path("image.sys")));
    const std::string image = Read(Path("image.sys"));
    std::vector<Catalog::Range> excluded;
    ASSERT_TRUE(Catalog::ImageExcludedRanges(reinterpret_cast<const uint8_t*>(image.data()),
                                             image.size(), image.size(), &excluded));
    const uint32_t optional = static_cast<uint8_t>(image[0x3C]) + 24u;
    ASSERT_EQ(excluded.size(), 2u);
    EXPECT_EQ(excluded[0].offset, optional + 64u);
    EXPECT_EQ(excluded[0].length, 4u);
    EXPECT_EQ(excluded[1].offset, optional + 112u + 32u);
    EXPECT_EQ(excluded[1].length, 8u);

    const FileHash unsigned_ = Hash(Path("image.sys"));
    EXPECT_TRUE(unsigned_.image);
    EXPECT_EQ(Hex(unsigned_.sha256), SigningTools::Tag(Path("image.sys")));
    EXPECT_EQ(Hex(unsigned_.sha1), SigningTools::Tag(Path("image.sys"), "sha1"));

    const std::string signedImage = SignedAfter(image, 64);
    Put(Path("signed.sys"), signedImage);
    ASSERT_TRUE(Catalog::ImageExcludedRanges(reinterpret_cast<const uint8_t*>(signedImage.data()),
                                             signedImage.size(), signedImage.size(), &excluded));
    ASSERT_EQ(excluded.size(), 3u);
    EXPECT_EQ(excluded[2].offset, image.size());
    EXPECT_EQ(excluded[2].length, 64u);
    EXPECT_EQ(Hex(Hash(Path("signed.sys")).sha256), Hex(unsigned_.sha256));
    EXPECT_EQ(SigningTools::Tag(Path("signed.sys")), Hex(unsigned_.sha256));

    std::string changed = image;
    changed[changed.size() - 1] ^= 1;
    Put(Path("changed.sys"), changed);
    EXPECT_NE(Hex(Hash(Path("changed.sys")).sha256), Hex(unsigned_.sha256));
    EXPECT_EQ(Hex(Hash(Path("changed.sys")).sha256), SigningTools::Tag(Path("changed.sys")));

    // Not images: too short, no PE signature, an unknown optional header. Hashed flat.
    for (const std::string& bytes :
         {std::string("MZ"), image.substr(0, 0x3C), "MZ" + image.substr(2, 0x3E) + "XX", [&] {
              std::string other = image;
              other[optional] = 0x07;
              return other;
          }()}) {
        EXPECT_FALSE(Catalog::ImageExcludedRanges(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                  bytes.size(), bytes.size(), &excluded));
    }
}

// An image larger than a block, whose certificate table starts in one block and ends in the
// next, and a plain file of several blocks: the blocks' parts make the whole file's hash.
TEST_F(CatalogTest, HashesSpanBlocks) {
    ASSERT_TRUE(SigningTools::MinimalImage(Path("image.sys")));
    std::string image = Read(Path("image.sys"));
    for (size_t i = 0; image.size() < Catalog::kHashBlock - 16; ++i) {
        image += static_cast<char>(i * 31 + 7);
    }
    image.resize((image.size() + 7) / 8 * 8);
    Put(Path("big.sys"), SignedAfter(image, 4096));
    EXPECT_EQ(Hex(Hash(Path("big.sys")).sha256), SigningTools::Tag(Path("big.sys")));
    Put(Path("unsigned.sys"), image);
    EXPECT_EQ(Hex(Hash(Path("big.sys")).sha256), Hex(Hash(Path("unsigned.sys")).sha256));

    std::string plain(3 * Catalog::kHashBlock + 5, '\0');
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<char>(i * 131 + i / 7);
    }
    Put(Path("big.dat"), plain);
    EXPECT_EQ(Hex(Hash(Path("big.dat")).sha1), SigningTools::Tag(Path("big.dat"), "sha1"));

    FileHash hash;
    EXPECT_EQ(Catalog::HashFile(Text::Utf8ToUtf16(Path("none")), true, true, &hash),
              FileHashResult::NotRead);
    fs::create_directories(Path("folder"));
    EXPECT_EQ(Catalog::HashFile(Text::Utf8ToUtf16(Path("folder")), true, true, &hash),
              FileHashResult::NotRead);
    fs::create_symlink(Path("big.dat"), Path("link.dat"));
    EXPECT_EQ(Catalog::HashFile(Text::Utf8ToUtf16(Path("link.dat")), true, true, &hash),
              FileHashResult::NotRead);
}

// The writer's catalogs read back, SHA-256 and SHA-1: every member, with its algorithm, is the
// hash of one of the files, and a file not given is no member.
TEST_F(CatalogTest, CatalogsReadBackWithTheirMembers) {
    ASSERT_TRUE(SigningTools::MinimalImage(Path("image.sys")));
    Put(Path("pkg.inf"), "[Version]\nSignature = \"$Windows NT$\"\n");
    Put(Path("other.dat"), "not catalogued");
    const FileHash image = Hash(Path("image.sys"));
    const FileHash inf = Hash(Path("pkg.inf"));
    const FileHash other = Hash(Path("other.dat"));
    for (const auto& [name, algorithm] :
         {std::pair{"sha256", HashAlgorithm::Sha256}, std::pair{"sha1", HashAlgorithm::Sha1}}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(SigningTools::WriteCatalog(Path("pkg.cat"),
                                               {Path("pkg.inf"), Path("image.sys")}, name));
        const Catalog::CatalogContents catalog = ReadCatalogFile(Path("pkg.cat"));
        EXPECT_TRUE(catalog.isCatalog);
        EXPECT_EQ(catalog.whyNot, u"");
        EXPECT_EQ(catalog.listAlgorithm, algorithm);
        ASSERT_EQ(catalog.members.size(), 2u);
        std::vector<std::string> digests;
        for (const Catalog::Member& member : catalog.members) {
            EXPECT_EQ(member.algorithm, algorithm);
            digests.push_back(Hex(member.digest));
        }
        const auto of = [&](const FileHash& hash) {
            return Hex(algorithm == HashAlgorithm::Sha1 ? hash.sha1 : hash.sha256);
        };
        std::vector<std::string> expected = {of(inf), of(image)};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(digests, expected); // members are sorted by tag
        EXPECT_TRUE(Catalog::IsMember(catalog, inf.sha1, inf.sha256));
        EXPECT_TRUE(Catalog::IsMember(catalog, image.sha1, image.sha256));
        EXPECT_FALSE(Catalog::IsMember(catalog, other.sha1, other.sha256));
        // The other algorithm's hash of a member is no member.
        EXPECT_FALSE(algorithm == HashAlgorithm::Sha1 ? Catalog::IsMember(catalog, {}, inf.sha256)
                                                      : Catalog::IsMember(catalog, inf.sha1, {}));
    }
}

// Catalogs broken one part at a time, and optional parts present or absent, each read whole: what
// is not a catalog says why and has no member; a member whose attributes do not give a SHA-1 or
// SHA-256 digest of its size is left out, the others still read.
TEST_F(CatalogTest, CatalogsBrokenOnePartAtATime) {
    Put(Path("one.dat"), "one");
    Put(Path("two.dat"), "two");
    std::vector<std::string> tags = {SigningTools::Tag(Path("one.dat")),
                                     SigningTools::Tag(Path("two.dat"))};
    std::sort(tags.begin(), tags.end()); // a fault changes the first member by tag
    const auto describe = [](const Catalog::CatalogContents& contents) {
        std::string text = contents.isCatalog
                               ? Text::Utf16ToUtf8(Catalog::AlgorithmName(contents.listAlgorithm))
                               : "not a catalog: " + Text::Utf16ToUtf8(contents.whyNot);
        for (const Catalog::Member& member : contents.members) {
            text += " " + Text::Utf16ToUtf8(Catalog::AlgorithmName(member.algorithm)) + " " +
                    Hex(member.digest);
        }
        return text;
    };
    const std::string all = "SHA256 SHA256 " + tags[0] + " SHA256 " + tags[1];
    const std::string second = "SHA256 SHA256 " + tags[1];
    const std::string undecoded = "not a catalog: its certificate trust list does not decode";
    const struct {
        const char* fault;
        std::string expected;
    } table[] = {
        {"message-not-signed", "not a catalog: it is not PKCS#7 signed data"},
        {"content-not-trust-list", "not a catalog: its content is not a certificate trust list"},
        {"content-in-octet-string", all},
        {"list-not-sequence", undecoded},
        {"bytes-after-list", "not a catalog: it is not a PKCS#7 message"},
        {"usage-not-catalog", "not a catalog: its certificate trust list is not a catalog list"},
        {"usage-catalog-second", all},
        {"usage-not-oid", undecoded},
        {"algorithm-other", "not a catalog: its members' algorithm is neither SHA1 nor SHA256"},
        {"no-this-update", undecoded},
        {"optional-all", all},
        {"optional-none", "SHA256"},
        {"member-extra-element", undecoded},
        {"member-identifier-only", second},
        {"attributes-not-set", undecoded},
        {"values-not-set", undecoded},
        {"attribute-extra-element", undecoded},
        {"indirect-bad-value-first", all},
        {"indirect-sha1-of-32-bytes", second},
        {"indirect-md5", second},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.fault);
        ASSERT_TRUE(SigningTools::CatalogPy({"write", "--fault", c.fault, "-o", Path("pkg.cat"),
                                             Path("one.dat"), Path("two.dat")}));
        EXPECT_EQ(describe(ReadCatalogFile(Path("pkg.cat"))), c.expected);
    }
    // Text, a truncated catalog and nothing at all.
    ASSERT_TRUE(SigningTools::WriteCatalog(Path("pkg.cat"), {Path("one.dat")}));
    const std::string catalog = Read(Path("pkg.cat"));
    for (const std::string& bytes : {std::string("stand-in for pkg.cat\n"),
                                     catalog.substr(0, catalog.size() - 1), std::string()}) {
        EXPECT_EQ(describe(Catalog::ReadCatalog(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                bytes.size())),
                  "not a catalog: it is not a PKCS#7 message");
    }
}

// The signature's verdict over crafted messages, whole, on a machine that trusts the test root and
// its publisher: signers with other digests, without a messageDigest, a certificate or a
// signature that verifies; a content held in an OCTET STRING and a trust list short enough for a
// one-byte length; a signer neither for code signing nor named by a common name; then machines
// whose trusted publishers or roots name a file that is not there.
TEST_F(CatalogTest, SignatureVerdictsOverCraftedMessages) {
    const std::string pki = SigningTools::TestPki();
    ASSERT_FALSE(pki.empty());
    DevSim::Machine machine;
    machine.roots = {pki + "root.pem"};
    machine.trustedPublishers = {pki + "publisher.pem"};
    DevSim::UseMachine(machine);
    Put(Path("one.dat"), "one");
    using SigningTools::Quote;
    // A certificate the test PKI's `issuer` issues, with its key, and its SHA-1 thumbprint.
    const auto issue = [&](const std::string& name, const std::string& subject,
                           const std::string& issuer, const std::string& usage) {
        const std::string stem = Path(name);
        EXPECT_EQ(
            std::system(("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 "
                         "-out " +
                         Quote(stem + ".key") + " && openssl req -x509 -new -key " +
                         Quote(stem + ".key") + " -subj " + Quote(subject) + " -CA " +
                         Quote(pki + issuer + ".pem") + " -CAkey " + Quote(pki + issuer + ".key") +
                         " -addext extendedKeyUsage=" + usage + " -days 30 -out " +
                         Quote(stem + ".pem") + " && openssl x509 -noout -fingerprint -sha1 -in " +
                         Quote(stem + ".pem") + " >" + Quote(stem + ".sha1"))
                            .c_str()),
            0);
        std::string sha1 = Read(stem + ".sha1");
        sha1 = sha1.substr(sha1.find('=') + 1);
        sha1.erase(std::remove(sha1.begin(), sha1.end(), ':'), sha1.end());
        return sha1.substr(0, sha1.find('\n'));
    };
    const std::string server = Path("server");
    const std::string serverSha1 = issue("server", "/O=Example Server Maker", "root", "serverAuth");
    // Issued by the publisher, which is no CA: a problem Windows names by no reason of its own.
    const std::string sub = Path("sub");
    const std::string subSha1 = issue("sub", "/CN=Example Sub Signer", "publisher", "codeSigning");
    const std::string timestamped = "-TSA-certs " + Quote(pki + "timestamper.pem") + " -TSA-key " +
                                    Quote(pki + "timestamper.key") + " -TSA-time 1590969600";

    const auto check = [&] {
        const std::string bytes = Read(Path("pkg.cat"));
        const Signature::SignatureFacts facts = Signature::CheckSignature(
            reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), u"pkg.cat");
        std::string text = std::string(facts.isSigned ? "signed" : "not signed") +
                           (facts.signatureHolds ? ", holds" : "") +
                           (facts.chainTrusted ? ", chain trusted" : "") +
                           (facts.publisherTrusted ? ", publisher trusted" : "") + ": " +
                           Text::Utf16ToUtf8(facts.signer) + " / " + Text::Utf16ToUtf8(facts.root) +
                           (facts.timestamp.empty() ? "" : " at ") +
                           Text::Utf16ToUtf8(facts.timestamp);
        for (const std::u16string& reason : facts.reasons) {
            text += "\n" + Text::Utf16ToUtf8(reason);
        }
        return text;
    };
    const std::string good = "signed, holds, chain trusted, publisher trusted: Example Devices "
                             "Test Publisher / Example Test Root";
    const std::string trusted = "signed, chain trusted, publisher trusted: Example Devices Test "
                                "Publisher / Example Test Root\npkg.cat";
    const struct {
        const char* fault;  // catalog.py write --fault; "" none
        const char* signer; // "" leaves it unsigned; "cms": the trust list alone, signed by
                            // openssl cms as the publisher, which holds it in an OCTET STRING
        const char* hash;
        const char* change; // catalog.py signer; "" none
        std::string expected;
        std::string more = ""; // osslsigncode's
    } table[] = {
        {"", "publisher", "sha256", "", good},
        {"", "publisher", "sha1", "", good},
        {"", "publisher", "sha512", "",
         trusted + "'s signer uses a digest algorithm (2.16.840.1.101.3.4.2.3) other than SHA1 and "
                   "SHA256"},
        {"", "publisher", "sha256", "drop-digest",
         trusted + "'s signer has no messageDigest to check its content by"},
        {"", "publisher", "sha256", "drop-certificates",
         "signed:  / \npkg.cat does not hold its signer's certificate"},
        {"", "publisher", "sha256", "flip-signature",
         trusted + "'s signature does not verify with its signer's certificate"},
        {"", "cms", "sha256", "", good},
        {"optional-none", "publisher", "sha256", "", good},
        {"", server.c_str(), "sha256", "",
         "signed, holds: Example Server Maker / Example Test Root\npkg.cat's signer Example Server "
         "Maker has a chain to Example Test Root that is not valid for code signing\npkg.cat's "
         "signer Example Server Maker (" +
             serverSha1 +
             ") is not a trusted publisher (TrustedPublisher): an unattended install "
             "fails"},
        {"", sub.c_str(), "sha256", "",
         "signed, holds: Example Sub Signer / Example Test Root\npkg.cat's signer Example Sub "
         "Signer has a chain to Example Test Root that has the problems 0x00000400\npkg.cat's "
         "signer Example Sub Signer (" +
             subSha1 +
             ") is not a trusted publisher (TrustedPublisher): an unattended install fails",
         "-ac " + Quote(pki + "publisher.pem")},
        // An unauthenticated attribute of another type before the timestamp: the timestamp is
        // still found, and the expired signer's chain judged at its time.
        {"", "expired-signer", "sha256", "attribute-first",
         "signed, holds, chain trusted: Example Devices Expired Signer / Example Test Root at "
         "2020-06-01 00:00:00 UTC\npkg.cat's signer Example Devices Expired Signer (" +
             SigningTools::Thumbprints("expired-signer")[0] +
             ") is not a trusted publisher (TrustedPublisher): an unattended install fails",
         timestamped},
        {"message-not-signed", "", "", "",
         "not signed:  / \npkg.cat is not signed data that Windows can read"},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(std::string(c.fault) + " " + c.signer + " " + c.hash + " " + c.change + " " +
                     c.more);
        std::vector<std::string> write = {"write", "-o", Path("pkg.cat"), Path("one.dat")};
        if (*c.fault != '\0') {
            write.insert(write.begin() + 1, {"--fault", c.fault});
        }
        if (std::string(c.signer) == "cms") {
            ASSERT_TRUE(SigningTools::CatalogPy(
                {"write", "--list-only", "-o", Path("pkg.der"), Path("one.dat")}));
            ASSERT_EQ(std::system(("openssl cms -sign -binary -nodetach -nosmimecap -econtent_type "
                                   "1.3.6.1.4.1.311.10.1 -md sha256 -signer " +
                                   Quote(pki + "publisher.pem") + " -inkey " +
                                   Quote(pki + "publisher.key") + " -in " + Quote(Path("pkg.der")) +
                                   " -outform DER -out " + Quote(Path("pkg.cat")))
                                      .c_str()),
                      0);
        } else {
            ASSERT_TRUE(SigningTools::CatalogPy(write));
        }
        if (*c.signer != '\0' && std::string(c.signer) != "cms") {
            ASSERT_TRUE(SigningTools::SignCatalog(Path("pkg.cat"), c.signer, c.hash, c.more));
        }
        if (*c.change != '\0') {
            ASSERT_TRUE(SigningTools::CatalogPy({"signer", Path("pkg.cat"), c.change}));
        }
        EXPECT_EQ(check(), c.expected);
    }

    ASSERT_TRUE(SigningTools::CatalogPy({"write", "-o", Path("pkg.cat"), Path("one.dat")}));
    ASSERT_TRUE(SigningTools::SignCatalog(Path("pkg.cat")));
    DevSim::Current().trustedPublishers.push_back(Path("gone.pem"));
    EXPECT_EQ(check(),
              "signed, holds, chain trusted: Example Devices Test Publisher / Example "
              "Test Root\nthe machine's trusted publishers (TrustedPublisher) could not be "
              "read to look for pkg.cat's signer Example Devices Test Publisher");
    DevSim::Current().roots.push_back(Path("gone.pem"));
    EXPECT_EQ(check(), "signed, holds: Example Devices Test Publisher / \nWindows built no "
                       "certificate chain for pkg.cat's signer Example Devices Test Publisher");
}
