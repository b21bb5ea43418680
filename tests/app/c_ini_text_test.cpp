#include "app/c_ini_text.h"

#include <gtest/gtest.h>

using namespace kestrum;

// A settings text that nobody changed is written back as it was, whatever its line ends,
// and reading that again gives the same text once more.
TEST(IniText, UnchangedTextIsWrittenBackAsItWas)
{
    const char* texts[] = {
        "[Test]\nA=1\n",     "[Test]\r\nA=1\r\n", "[Test]\r\nA=1",
        "[Test]\r\nA=1\r",   // cut off after the CR of its last line end
        "[Test]\r\nA=1\r\r", // a stray CR before that one
        "[Test]\nA=1\r",     // LF line ends: the CR is the line's
    };
    for (const std::string text : texts) {
        const std::string rendered = CIniText(text).Render();
        EXPECT_EQ(rendered, text);
        EXPECT_EQ(CIniText(rendered).Render(), rendered);
        EXPECT_EQ(CIniText(text).Find("Test", "A"), "1");
    }
}

TEST(IniText, ASetCompletesALastLineEndThatWasCutOff)
{
    CIniText ini("[Test]\r\nA=1\r");
    ASSERT_TRUE(ini.Set("Test", "B", "2"));
    EXPECT_EQ(ini.Render(), "[Test]\r\nA=1\r\nB=2\r\n");
}
