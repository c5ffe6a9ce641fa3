#include "store/store_text.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vantrel;

namespace {

TEST(StoreText, FieldChecksNeedTerminatorAndNoMarkupCharacter) {
    char field[8];
    std::memset(field, 'x', sizeof field);
    EXPECT_FALSE(FieldText(field, sizeof field).has_value());
    EXPECT_FALSE(IsStorableField(field, sizeof field));
    for (const char* refused : {"a\"b", "a<b", "a&b"}) {
        std::strcpy(field, refused);
        EXPECT_FALSE(IsStorableField(field, sizeof field)) << refused;
    }
    std::strcpy(field, "a>'b");
    EXPECT_TRUE(IsStorableField(field, sizeof field));
}

TEST(StoreText, UnstorableCharacterNamesTheFirstOffender) {
    EXPECT_EQ(UnstorableCharacter("plain > 'text'"), nullptr);
    EXPECT_STREQ(UnstorableCharacter("say \"hi\" & <go>"), "a double quote (\")");
    EXPECT_STREQ(UnstorableCharacter("R&D <lab> \""), "an ampersand (&)");
    EXPECT_STREQ(UnstorableCharacter("x<y"), "a less-than sign (<)");
}

TEST(StoreText, CanonicalUnsignedAcceptsOnlyTheWrittenForm) {
    EXPECT_EQ(CanonicalUnsigned("0"), 0u);
    EXPECT_EQ(CanonicalUnsigned("4294967295"), 4294967295u);
    for (const char* text : {"", "01", " 1", "1 ", "+1", "-1", "4294967296", "12a", "99999999999"}) {
        EXPECT_FALSE(CanonicalUnsigned(text).has_value()) << text;
    }
}

}  // namespace
