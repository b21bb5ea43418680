#include <gtest/gtest.h>

#include <string>

#include "loader/sha256.h"

using namespace kestrum;

namespace {

std::string Sha(const std::string& text)
{
    return CSha256::HexOf(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

// The standard test vectors: the empty message, one block, the two-block messages whose
// padding spills into a block of its own, and a million bytes fed in uneven pieces.
TEST(Sha256, StandardVectors)
{
    EXPECT_EQ(Sha(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
                  "nopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    CSha256 million;
    const std::string piece(997, 'a');
    size_t fed = 0;
    for (; fed + piece.size() <= 1000000; fed += piece.size())
        million.Update(reinterpret_cast<const uint8_t*>(piece.data()), piece.size());
    million.Update(reinterpret_cast<const uint8_t*>(piece.data()), 1000000 - fed);
    EXPECT_EQ(million.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
