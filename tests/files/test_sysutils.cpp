// Reading settings values as integers.
#include <gtest/gtest.h>

#include "support/Errors.h"
#include "support/SysUtils.h"

namespace {

struct Case {
    const char* text;
    bool ok;
    int32_t value;
};

TEST(StrToInt, ReadsDecimalAndHexadecimalAsTheSettingsLoaderNeeds) {
    const Case cases[] = {
        {"0", true, 0},
        {"42", true, 42},
        {"   42", true, 42},  // leading blanks skipped
        {"+7", true, 7},
        {"-7", true, -7},
        {"-0", true, 0},
        {"007", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},  // beyond the signed range
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"$FF", true, 255},
        {"$ffffffff", true, -1},  // 32 bits taken as signed
        {"$FFFFFFFF", true, -1},
        {"x10", true, 16},
        {"X1a", true, 26},
        {"0x10", true, 16},
        {"0XfF", true, 255},
        {"  $10", true, 16},
        {"0x80000000", true, INT32_MIN},
        {"$100000000", false, 0},  // more than 32 bits
        {"$", false, 0},           // a prefix alone
        {"0x", false, 0},
        {"x", false, 0},
        {"-$10", false, 0},  // no sign before a prefix
        {"+0x10", false, 0},
        {"$1G", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"+", false, 0},
        {"-", false, 0},
        {"12 ", false, 0},  // a trailing blank
        {"1 2", false, 0},
        {"\t5", false, 0},  // only code 32 counts as a blank
        {"abc", false, 0},
        {"1.5", false, 0},
        {"1e3", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        if (c.ok) {
            EXPECT_EQ(c.value, StrToInt(c.text));
        } else {
            try {
                StrToInt(c.text);
                ADD_FAILURE() << "accepted";
            } catch (const EConvertError& e) {
                EXPECT_EQ(std::string("'") + c.text + "' is not a valid integer value",
                          e.Message());
            }
        }
    }
}

TEST(IntToStr, ShortestDecimalForm) {
    EXPECT_EQ("0", IntToStr(0));
    EXPECT_EQ("-5", IntToStr(-5));
    EXPECT_EQ("2147483647", IntToStr(2147483647));
    EXPECT_EQ("-2147483648", IntToStr(INT32_MIN));
}

}  // namespace
