// What the two Windows files of the catalog library (CatalogCrypto-win32.cpp and
// CatalogTrust-win32.cpp) share of crypt32: binding a call at run time from the system folder,
// decoding with CryptDecodeObjectEx, and decoding a PKCS#7 message and reading its parameters.
// Windows only; no logic.
#pragma once

#include "Win32.h"

#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <vector>

// crypt32, bcrypt and wintrust are not KnownDLLs: each call is bound from the system folder.
#define BIND(dll, function)                                                                        \
    static const auto function##Bound =                                                            \
        Win32::BindSystemFunction<decltype(&::function)>(L##dll, #function)

namespace CryptCalls {

using Bytes = std::vector<uint8_t>;

inline constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// What CryptDecodeObjectEx allocates, given back with LocalFree.
struct LocalDelete {
    void operator()(void* memory) const { LocalFree(memory); }
};

// CryptDecodeObjectEx of `type`, allocating; empty when it does not decode.
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

inline Bytes Blob(const BYTE* data, DWORD size) {
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
using UniqueMessage = std::unique_ptr<void, MessageClose>;

// The PKCS#7 message in `data`, decoded (CryptMsgOpenToDecode, CryptMsgUpdate); empty when it
// is not one.
inline UniqueMessage DecodeMessage(const uint8_t* data, size_t size) {
    BIND("crypt32.dll", CryptMsgOpenToDecode);
    BIND("crypt32.dll", CryptMsgUpdate);
    if (CryptMsgOpenToDecodeBound.call == nullptr || CryptMsgUpdateBound.call == nullptr ||
        data == nullptr || size == 0 || size > MAXDWORD) {
        return nullptr;
    }
    UniqueMessage message(CryptMsgOpenToDecodeBound.call(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message ||
        !CryptMsgUpdateBound.call(message.get(), data, static_cast<DWORD>(size), TRUE)) {
        return nullptr;
    }
    return message;
}

// A parameter of a decoded message, read again at the size the first call asks for.
inline bool MessageParam(HCRYPTMSG message, DWORD param, DWORD index, Bytes* value) {
    BIND("crypt32.dll", CryptMsgGetParam);
    DWORD size = 0;
    if (CryptMsgGetParamBound.call == nullptr ||
        !CryptMsgGetParamBound.call(message, param, index, nullptr, &size)) {
        return false;
    }
    value->assign(size, 0);
    if (!CryptMsgGetParamBound.call(message, param, index, value->data(), &size)) {
        return false;
    }
    value->resize(size);
    return true;
}

} // namespace CryptCalls
