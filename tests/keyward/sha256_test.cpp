// The audit chain's digest against the published vectors and, for every
// length across the padding's block boundaries, against OpenSSL.
#include "sha256.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

namespace {

std::string hex(const unsigned char* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string ours(const std::string& data) {
    const auto digest = keyward::sha256(data);
    return hex(digest.data(), digest.size());
}

TEST(Sha256, PublishedVectors) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [data, digest] : cases) EXPECT_EQ(ours(data), digest) << data.size();
}

TEST(Sha256, EveryLengthAcrossTheBlockBoundariesMatchesOpenSsl) {
    std::string data;
    for (int size = 0; size <= 300; ++size) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestSize = 0;
        ASSERT_EQ(EVP_Digest(data.data(), data.size(), digest, &digestSize, EVP_sha256(), nullptr),
                  1);
        EXPECT_EQ(ours(data), hex(digest, digestSize)) << "length " << size;
        data += char(size * 37 + 11);  // all byte values, high bit included
    }
}

}  // namespace
