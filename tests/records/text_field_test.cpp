#include "records/text_field.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vantrel {
namespace {

TEST(TextField, CopyCutsAtWholeUtf8CharactersAndNeverWritesPastTheField) {
    struct Case {
        std::string text;
        std::size_t size;
        std::string expected;
    };
    const std::string a62(62, 'a');
    const Case cases[] = {
        {"short", 64, "short"},
        {std::string(63, 'x'), 64, std::string(63, 'x')},
        {std::string(70, 'x'), 64, std::string(63, 'x')},
        {a62 + "\xC3\xA4", 64, a62},                                        // two-byte character across the limit
        {a62 + "b\xC3\xA4", 64, a62 + "b"},                                 // ends exactly before it
        {std::string(61, 'a') + "\xE2\x82\xAC", 64, std::string(61, 'a')},  // three bytes, one over
        {std::string(60, 'a') + "\xF0\x9F\x98\x80", 64, std::string(60, 'a')},
        {std::string(90, '\x80'), 84, std::string(83, '\x80')},  // not UTF-8: plain cut
        {"", 64, ""},
        {"ab", 1, ""},
    };
    for (const Case& c : cases) {
        char field[300];
        std::memset(field, 'Z', sizeof field);
        CopyToField(field, c.size, c.text);
        EXPECT_EQ(std::string(field), c.expected) << c.text.size() << " bytes into " << c.size;
        EXPECT_EQ(field[c.size], 'Z') << "wrote past the field";
    }
}

}  // namespace
}  // namespace vantrel
