#include "app/terminal_answer.h"

#include "app/command_line_options.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace kestrum;

namespace {

// The words of a text, whatever the spaces, tabs and line ends between them.
std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

} // namespace

TEST(TerminalAnswer, HelpIsTheDialogsTextInColumnsAfterAUsageLine)
{
    const std::string text = TerminalHelpText();
    ASSERT_TRUE(text.starts_with("Usage: kestrum [options]\n\n")) << text;
    std::vector<std::string> dialog = Words(CommandLineHelpText());
    dialog.insert(dialog.begin(), {"Usage:", "kestrum", "[options]"});
    EXPECT_EQ(Words(text), dialog) << "the same words as the help dialog, none lost or added";
    EXPECT_EQ(text.find('\t'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    // Options start in the third column and their meaning in one column for all.
    EXPECT_NE(text.find("\n  -p port         name of used PC port"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  -c method       capture method"), std::string::npos) << text;
    EXPECT_NE(text.find("\n                  ramimage.ldr (for Receiver), powbrd.ldr (for Powerboard).\n"),
              std::string::npos)
        << text;
}

TEST(TerminalAnswer, HelpAndVersionNeedNoDisplay)
{
    for (const bool display : {true, false}) {
        const TerminalAnswer help = AnswerOnTerminal({"kestrum", "--help"}, display);
        EXPECT_TRUE(help.answered);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out, TerminalHelpText());
        const TerminalAnswer version = AnswerOnTerminal({"kestrum", "--version"}, display);
        EXPECT_TRUE(version.answered);
        EXPECT_EQ(version.out, "kestrum 1.0.07\n");
    }
    // Only in the first place, as the program's own help words.
    EXPECT_FALSE(AnswerOnTerminal({"kestrum", "-a", "--help"}, true).answered);
}

TEST(TerminalAnswer, HelpWordsOpenTheDialogWhereThereIsADisplay)
{
    EXPECT_FALSE(AnswerOnTerminal({"kestrum", "-h"}, true).answered);
    EXPECT_FALSE(AnswerOnTerminal({"kestrum", "-p", "/dev/ttyUSB0"}, true).answered);
    EXPECT_FALSE(AnswerOnTerminal({"kestrum"}, true).answered);

    const TerminalAnswer help = AnswerOnTerminal({"kestrum", "/?"}, false);
    EXPECT_TRUE(help.answered);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, TerminalHelpText());
}

TEST(TerminalAnswer, WithoutADisplayTheWindowCannotComeAndTheProgramSaysWhy)
{
    const TerminalAnswer answer = AnswerOnTerminal({"kestrum", "-a", "-e"}, false);
    EXPECT_TRUE(answer.answered);
    EXPECT_EQ(answer.status, 1);
    EXPECT_EQ(answer.out, "");
    EXPECT_NE(answer.err.find("no display"), std::string::npos) << answer.err;
    EXPECT_NE(answer.err.find("kestrum-cli"), std::string::npos) << answer.err;
}

TEST(TerminalAnswer, PlatformOptionCountsAsADisplay)
{
    EXPECT_TRUE(DisplayAvailable({"kestrum", "-platform", "offscreen"}));
}
