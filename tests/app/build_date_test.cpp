#include "app/build_date.h"

#include <gtest/gtest.h>

using namespace kestrum;

TEST(FormatBuildDate, SpellsOutTheMonthAndInsertsTheComma)
{
    EXPECT_EQ(FormatBuildDate("Feb 12 2002"), "February 12, 2002");
    EXPECT_EQ(FormatBuildDate("Sep 30 2026"), "September 30, 2026");
    EXPECT_EQ(FormatBuildDate("Dec  7 2026"), "December  7, 2026");
    EXPECT_EQ(FormatBuildDate("Xyz 12 2002"), "Xyz 12, 2002") << "unknown month keeps its letters";
    EXPECT_EQ(FormatBuildDate("Feb 1"), "February 1") << "too short for the comma";
    EXPECT_EQ(FormatBuildDate("Feb"), "Feb") << "too short to hold a month";
    EXPECT_EQ(FormatBuildDate(""), "");
    EXPECT_NE(BuildDateText().find(", 20"), std::string::npos);
}
