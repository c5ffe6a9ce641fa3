#include "store/store_text.h"

#include <cstring>

namespace vantrel {

const char* UnstorableCharacter(std::string_view text) {
    std::string_view::size_type at = text.find_first_of("\"<&");
    if (at == std::string_view::npos) {
        return nullptr;
    }
    switch (text[at]) {
        case '"':
            return "a double quote (\")";
        case '<':
            return "a less-than sign (<)";
        default:
            return "an ampersand (&)";
    }
}

bool IsStorableText(std::string_view text) {
    return UnstorableCharacter(text) == nullptr;
}

bool IsStorableField(const char* field, std::size_t size) {
    std::optional<std::string_view> text = FieldText(field, size);
    return text && IsStorableText(*text);
}

std::string UnsignedText(std::uint32_t number) {
    return std::to_string(number);
}

std::optional<std::uint32_t> CanonicalUnsigned(std::string_view text) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace vantrel
