// The signature cases' tools (tests/signing/) for the host tests: real catalogs written by
// catalog.py (asn1crypto) and its file hashes, run at test time. INSTALLER_SOURCE_DIR names the
// source tree. A Python 3 with asn1crypto on PATH is taken first, else /usr/bin/python3, as the
// signing scripts take it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace SigningTools {

inline std::string Quote(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

inline std::string Python() {
    static const std::string python =
        std::system("python3 -c 'import asn1crypto' >/dev/null 2>&1") == 0 ? "python3"
                                                                           : "/usr/bin/python3";
    return python;
}

inline std::string Script(const char* name) {
    return Quote(std::string(INSTALLER_SOURCE_DIR) + "/tests/signing/" + name);
}

// Runs catalog.py with `arguments` (each quoted here); its standard output, and whether it
// exited 0.
inline bool CatalogPy(const std::vector<std::string>& arguments, std::string* output = nullptr) {
    std::string command = Python() + " " + Script("catalog.py");
    for (const std::string& argument : arguments) {
        command += " " + Quote(argument);
    }
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return false;
    }
    std::string text;
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        text.append(buffer, got);
    }
    const int status = pclose(pipe);
    if (output != nullptr) {
        *output = text;
    }
    return status == 0;
}

// Writes an unsigned catalog of `files` (SHA-256 members unless `hash` says "sha1").
inline bool WriteCatalog(const std::string& catalog, const std::vector<std::string>& files,
                         const std::string& hash = "sha256") {
    std::vector<std::string> arguments = {"write", "--hash", hash, "-o", catalog};
    arguments.insert(arguments.end(), files.begin(), files.end());
    return CatalogPy(arguments);
}

// The tag catalog.py gives a file: its hash in upper-case hex; empty when it fails.
inline std::string Tag(const std::string& file, const std::string& hash = "sha256") {
    std::string output;
    if (!CatalogPy({"hash", "--hash", hash, file}, &output)) {
        return {};
    }
    return output.substr(0, output.find(' '));
}

// The test PKI of tests/signing/make-pki.sh, made at test time by tests/signing/test-pki.sh, once
// per build tree (and again when make-pki.sh changes), in INSTALLER_TEST_PKI_DIR: the first test
// process to need it makes it while the others wait on a lock. RSA keys, as Wine's crypt32
// verifies no ECDSA signature and the Wine suite signs with, and trusts, the same PKI. Its
// folder, with a separator; empty when it could not be made.
inline std::string TestPki() {
    static const std::string folder = [] {
        const std::string dir = INSTALLER_TEST_PKI_DIR;
        const std::string command = "bash " + Script("test-pki.sh") + " " + Quote(dir);
        return std::system(command.c_str()) == 0 ? dir + "/" : std::string();
    }();
    return folder;
}

// Signs the catalog at `path` in place as the test PKI's `signer` (or, when it names a folder, the
// certificate and key at `signer`.pem and .key), with `hash` and no timestamp, with osslsigncode,
// as tests/signing/make-packages.sh signs; `more` is more of osslsigncode's arguments, quoted.
inline bool SignCatalog(const std::string& path, const std::string& signer = "publisher",
                        const std::string& hash = "sha256", const std::string& more = "") {
    const std::string pki = TestPki();
    const std::string stem = signer.find('/') == std::string::npos ? pki + signer : signer;
    const std::string command = "osslsigncode sign -certs " + Quote(stem + ".pem") + " -key " +
                                Quote(stem + ".key") + " -h " + hash + " " + more + " -in " +
                                Quote(path) + " -out " + Quote(path + ".signed") +
                                " >/dev/null && mv " + Quote(path + ".signed") + " " + Quote(path);
    return !pki.empty() && std::system(command.c_str()) == 0;
}

// A certificate's thumbprints as thumbprints.txt lists them: {SHA-1, SHA-256}, upper-case hex.
inline std::vector<std::string> Thumbprints(const std::string& name) {
    FILE* file = std::fopen((TestPki() + "thumbprints.txt").c_str(), "r");
    char line[256];
    std::vector<std::string> found;
    while (file != nullptr && found.empty() && std::fgets(line, sizeof line, file) != nullptr) {
        char who[64], sha1[64], sha256[80];
        if (std::sscanf(line, "%63s %63s %79s", who, sha1, sha256) == 3 && name == who) {
            found = {sha1, sha256};
        }
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    return found.empty() ? std::vector<std::string>{"", ""} : found;
}

// Writes the minimal x64 PE image of minimal-pe.py (1024 bytes, no certificate table).
inline bool MinimalImage(const std::string& path) {
    return std::system((Python() + " " + Script("minimal-pe.py") + " " + Quote(path)).c_str()) == 0;
}

} // namespace SigningTools
