#include "loader/image_header.h"
#include "loader/load_result.h"

#include <gtest/gtest.h>

#include "unique_test_dir.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace kestrum;

namespace {

class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = kestrum::test::MakeUniqueTestDir("kestrum-image");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static std::vector<uint8_t> RamImage(uint32_t flag, uint32_t target, size_t size = 64)
    {
        std::vector<uint8_t> bytes(size, 0xA5);
        for (int i = 0; i < 4; ++i) {
            bytes[static_cast<size_t>(8 + i)] = static_cast<uint8_t>(flag >> (24 - 8 * i));
            bytes[static_cast<size_t>(16 + i)] = static_cast<uint8_t>(target >> (24 - 8 * i));
        }
        return bytes;
    }

    std::string dir_;
};

}  // namespace

TEST_F(ImageFiles, RamHeaderIsBigEndianAndLeavesThePositionAlone)
{
    CImageFile image;
    ASSERT_TRUE(image.Open(Write("a.ldr", RamImage(0x00000100, 0x00000016))));
    ASSERT_TRUE(image.Seek(0));
    RamHeader header;
    std::string problem;
    ASSERT_TRUE(ReadRamHeader(image, header, problem)) << problem;
    EXPECT_EQ(header.finalAcknowledge, 0x100u);
    EXPECT_EQ(header.targetDevice, 22);
    EXPECT_EQ(image.Tell(), 0) << "the image must still be sent from its first byte";

    ASSERT_TRUE(image.Seek(33));
    ASSERT_TRUE(ReadRamHeader(image, header, problem));
    EXPECT_EQ(image.Tell(), 33);
}

TEST_F(ImageFiles, RamTargetAllOnesMeansAnyDevice)
{
    CImageFile image;
    ASSERT_TRUE(image.Open(Write("any.ldr", RamImage(0, 0xFFFFFFFF))));
    RamHeader header;
    std::string problem;
    ASSERT_TRUE(ReadRamHeader(image, header, problem));
    EXPECT_EQ(header.finalAcknowledge, 0u);
    EXPECT_LT(header.targetDevice, 0);
    for (int device : {0, 20, 22, 255})
        EXPECT_TRUE(ImageFits(ImageKind::Ram, header.targetDevice, device, 0));
}

TEST_F(ImageFiles, RamImageShorterThanItsHeaderIsRefusedWithAReason)
{
    for (size_t size : {size_t{0}, size_t{8}, size_t{19}}) {
        CImageFile image;
        ASSERT_TRUE(image.Open(Write("short.ldr", std::vector<uint8_t>(size, 0))));
        RamHeader header;
        std::string problem;
        EXPECT_FALSE(ReadRamHeader(image, header, problem)) << size;
        EXPECT_NE(problem.find("too short"), std::string::npos) << problem;
    }
    CImageFile exact;
    ASSERT_TRUE(exact.Open(Write("exact.ldr", RamImage(1, 5, 20))));
    RamHeader header;
    std::string problem;
    EXPECT_TRUE(ReadRamHeader(exact, header, problem));
}

TEST_F(ImageFiles, FlashIdentifierPlacement)
{
    struct Case {
        std::vector<uint8_t> bytes;
        int identifier;
    };
    std::vector<uint8_t> plain(32, 0);
    plain[19] = 0x14;
    std::vector<uint8_t> erased = {0xFF, 0xFF, 0xFF, 0xFF, 0x16};
    erased.resize(32, 0);
    erased[19] = 0x33;  // plays no part after FF FF FF FF
    std::vector<uint8_t> almost = {0xFF, 0xFF, 0xFF, 0xFE, 0x16};
    almost.resize(32, 0);
    almost[19] = 0x07;
    const Case cases[] = {
        {plain, 20},
        {erased, 22},
        {almost, 7},
        {{0xFF, 0xFF, 0xFF, 0xFF}, -1},       // identifier byte missing
        {std::vector<uint8_t>(19, 0), -1},    // too short for offset 19
        {{0x01, 0x02}, -1},                   // too short for the lead
    };
    int n = 0;
    for (const Case& c : cases) {
        CImageFile image;
        ASSERT_TRUE(image.Open(Write("f" + std::to_string(n++) + ".ldp", c.bytes)));
        EXPECT_EQ(ReadFlashIdentifier(image), c.identifier) << "case " << n - 1;
    }
}

TEST(ImageFit, InterchangeableIdentifiersDependOnKindAndImage)
{
    // RAM: 20 and 22 swap on both device kinds.
    EXPECT_TRUE(ImageFits(ImageKind::Ram, 22, 20, 0));
    EXPECT_TRUE(ImageFits(ImageKind::Ram, 20, 22, 1));
    EXPECT_FALSE(ImageFits(ImageKind::Ram, 21, 20, 0));
    EXPECT_FALSE(ImageFits(ImageKind::Ram, 22, 20, 2));
    // Flash: only on a power board.
    EXPECT_FALSE(ImageFits(ImageKind::Flash, 22, 20, 0));
    EXPECT_TRUE(ImageFits(ImageKind::Flash, 22, 20, 1));
    EXPECT_TRUE(ImageFits(ImageKind::Flash, 5, 5, 0));
    // A Flash image without an identifier, or a negative one, fits nothing.
    EXPECT_FALSE(ImageFits(ImageKind::Flash, -1, 5, 0));
    EXPECT_FALSE(ImageFits(ImageKind::Flash, -1, -1, 0));
}

TEST_F(ImageFiles, OpenFailureSaysWhy)
{
    CImageFile image;
    EXPECT_FALSE(image.Open(dir_ + "/missing.ldr"));
    EXPECT_NE(image.ErrorText().find("missing.ldr"), std::string::npos);
    EXPECT_FALSE(image.Open(dir_));
    EXPECT_NE(image.ErrorText().find("directory"), std::string::npos);
    EXPECT_FALSE(image.IsOpen());
}

TEST_F(ImageFiles, ImageIsTheFileAsItWasWhenOpened)
{
    std::vector<uint8_t> original(3000);
    for (size_t i = 0; i < original.size(); ++i)
        original[i] = static_cast<uint8_t>(i * 7);
    const std::string path = Write("f.ldp", original);
    CImageFile image;
    ASSERT_TRUE(image.Open(path));
    std::filesystem::resize_file(path, 100);  // cut short while the load runs
    Write("f.ldp", std::vector<uint8_t>(3000, 0xEE));  // or rewritten
    std::vector<uint8_t> read(4096);
    EXPECT_EQ(image.Read(read.data(), read.size()), original.size());
    read.resize(original.size());
    EXPECT_EQ(read, original);
    EXPECT_TRUE(image.AtEnd());
}

TEST_F(ImageFiles, FileLargerThanAnyImageIsRefusedWithoutReadingIt)
{
    const std::string path = Write("huge.ldp", {});
    std::filesystem::resize_file(path, CImageFile::kMaxSize + 1);  // sparse: no disk used
    CImageFile image;
    EXPECT_FALSE(image.Open(path));
    EXPECT_EQ(image.ErrorText(), path + " is too large for an image (" + std::to_string(CImageFile::kMaxSize + 1) +
                                     " bytes)");
}

TEST(LoadResultText, FixedTextsAndUntouchedOutsideTheTable)
{
    const char* expected[] = {"OK",
                              "Generic error",
                              "Loading aborted by User",
                              "Can't capture receiver",
                              "Handshaking error",
                              "Error version checking",
                              "Error in RAM file loading",
                              "Error in Flash file loading",
                              "Eror setting baud rate",
                              "Error opening file"};
    for (int code = 0; code < 10; ++code) {
        std::string text;
        EXPECT_TRUE(GetLoadResultText(code, text));
        EXPECT_EQ(text, expected[code]);
    }
    for (int code : {-1, 10, 1000}) {
        std::string text = "caller's";
        EXPECT_FALSE(GetLoadResultText(code, text));
        EXPECT_EQ(text, "caller's");
    }
}
