#include "xml/xml_parser.h"

#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "xml/xml_arena.h"
#include "xml/xml_tree_ops.h"

namespace vantrel {

namespace {

enum ByteClass : unsigned char { kSpace = 1, kName = 2 };

struct ByteClasses {
    unsigned char table[256] = {};
    constexpr ByteClasses() {
        for (int c = 1; c <= 0x20; ++c) table[c] = kSpace;
        for (int c = '0'; c <= '9'; ++c) table[c] = kName;
        for (int c = 'A'; c <= 'Z'; ++c) table[c] = kName;
        for (int c = 'a'; c <= 'z'; ++c) table[c] = kName;
        table[static_cast<unsigned char>('_')] = kName;
        table[static_cast<unsigned char>(':')] = kName;
        table[static_cast<unsigned char>('-')] = kName;
        table[static_cast<unsigned char>('.')] = kName;
        for (int c = 0x80; c <= 0xFF; ++c) table[c] = kName;
    }
};

constexpr ByteClasses kClasses;

inline bool IsSpace(char c) {
    return kClasses.table[static_cast<unsigned char>(c)] == kSpace;
}
inline bool IsName(char c) {
    return kClasses.table[static_cast<unsigned char>(c)] == kName;
}
inline char* SkipSpace(char* p) {
    while (IsSpace(*p)) ++p;
    return p;
}
inline char* SkipName(char* p) {
    while (IsName(*p)) ++p;
    return p;
}
inline char* FindText(char* p, const char* what) {
    return std::strstr(p, what);
}

inline void Trim(char*& start, std::uint32_t& length) {
    if (length == 0 || (!IsSpace(start[0]) && !IsSpace(start[length - 1])))
        return;
    char* end = start + length;
    while (start < end && IsSpace(*start)) ++start;
    while (end > start && IsSpace(end[-1])) --end;
    length = static_cast<std::uint32_t>(end - start);
}

std::uint32_t SpanLength(const char* start, const char* end) {
    std::size_t length = static_cast<std::size_t>(end - start);
    return length > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<std::uint32_t>(length);
}

void SetValue(XmlNode* node, char* start, const char* end, bool trim) {
    node->value = start;
    std::uint32_t length = SpanLength(start, end);
    if (trim)
        Trim(node->value, length);
    node->valueLength = length;
}

class Parser {
public:
    Parser(XmlNode* parent, std::uint32_t growthStep, std::uint32_t options, int doctypeDepth)
        : current_(parent), arena_(parent->arena), step_(growthStep), options_(options), doctypeDepth_(doctypeDepth) {}

    char* Run(char* p);

private:
    enum class State { Scan, Tag, Content, Stop };

    bool Has(std::uint32_t option) const { return (options_ & option) != 0; }
    // Position of c at or after p, or null when the text ends first.
    char* Find(char* p, char c) const {
        return static_cast<char*>(std::memchr(p, c, static_cast<std::size_t>(end_ - p)));
    }

    XmlNode* AddNode(XmlNodeKind kind) {
        XmlNode* node = XmlNewNodeIn(arena_, kind, false);
        if (node == nullptr)
            return nullptr;
        node->parent = current_;
        if (!XmlAppendChildSlot(current_, node, step_)) {
            arena_->Release(node, sizeof(XmlNode));
            return nullptr;
        }
        return node;
    }
    XmlAttribute* AddAttribute() {
        XmlAttribute* attribute = XmlNewAttributeIn(arena_);
        if (attribute != nullptr)
            pending_.push_back(attribute);
        return attribute;
    }
    // Ends the current element at the next ">" (p left on it); with no ">" left, parsing stops.
    State PopAtTagClose(char*& p) {
        char* close = Find(p, '>');
        if (close == nullptr) {
            p = end_;
            return State::Stop;
        }
        Pop();
        p = close;
        return State::Scan;
    }
    // A DOCTYPE word [start, end) becomes an attribute whose name and value are both the word.
    void AddWordAttribute(char* start, char* end) {
        if (XmlAttribute* attribute = AddAttribute()) {
            attribute->name = attribute->value = start;
            attribute->nameLength = attribute->valueLength = SpanLength(start, end);
        }
    }
    // Gives node the attributes collected for it, in an array of exactly their number.
    void CommitAttributes(XmlNode* node) {
        if (pending_.empty())
            return;
        std::size_t count = pending_.size();
        std::size_t bytes = XmlArena::RoundUp(count * sizeof(XmlAttribute*));
        auto** array = static_cast<XmlAttribute**>(arena_->Allocate(bytes));
        if (array == nullptr) {
            for (XmlAttribute* attribute : pending_) arena_->Release(attribute, sizeof(XmlAttribute));
        } else {
            std::memcpy(array, pending_.data(), count * sizeof(XmlAttribute*));
            node->attributes = array;
            node->attributeCount = static_cast<std::uint32_t>(count);
            node->attributeCapacity = static_cast<std::uint32_t>(bytes / sizeof(XmlAttribute*));
        }
        pending_.clear();
    }
    void Pop() {
        if (current_->parent != nullptr)
            current_ = current_->parent;
    }

    State Tag(char*& p);
    State TagBody(char*& p, XmlNode* node);
    State Content(char*& p);
    State Section(char*& p, std::uint32_t keep, XmlNodeKind kind, std::size_t keywordLength);
    State Comment(char*& p);
    State Doctype(char*& p);
    State DoctypeWords(char*& p, XmlNode* doctype, bool keep);
    State MarkupDeclaration(char*& p);
    std::optional<State> SpaceAfterDeclarationWord(char*& p);

    XmlNode* current_;
    XmlArena* arena_;
    std::uint32_t step_;
    std::uint32_t options_;
    int doctypeDepth_;
    char* end_ = nullptr;  // the terminating NUL
    std::vector<XmlAttribute*> pending_;
};

char* Parser::Run(char* p) {
    end_ = p + std::strlen(p);
    State state = State::Scan;
    for (;;) {
        switch (state) {
            case State::Scan: {
                if (*p == '\0')
                    return p;
                char* open = Find(p, '<');
                if (open == nullptr)
                    return end_;
                p = open + 1;
                state = State::Tag;
                break;
            }
            case State::Tag:
                state = Tag(p);
                break;
            case State::Content:
                state = Content(p);
                break;
            case State::Stop:
                return p;
        }
    }
}

// p is on the byte after "<".
Parser::State Parser::Tag(char*& p) {
    switch (*p) {
        case '?': {
            if (IsName(p[1]) && Has(XmlParseOptions::KeepDeclarations)) {
                if (Find(p + 1, '?') == nullptr) {
                    p = end_;
                    return State::Stop;
                }
                XmlNode* node = AddNode(XmlNodeKind::Declaration);
                if (node == nullptr)
                    return State::Stop;
                current_ = node;
                ++p;
                return TagBody(p, node);
            }
            char* close = Find(p, '>');
            if (close == nullptr) {
                p = end_;
                return State::Stop;
            }
            p = close + 1;
            return State::Scan;
        }
        case '!':
            switch (p[1]) {
                case '-':
                    return Comment(p);
                case '[':
                    if (std::strncmp(p + 2, "INCLUDE[", 8) == 0) {
                        return Section(p, XmlParseOptions::KeepDtd, XmlNodeKind::IncludeSection, 10);
                    }
                    if (std::strncmp(p + 2, "CDATA[", 6) == 0) {
                        return Section(p, XmlParseOptions::KeepCData, XmlNodeKind::CData, 8);
                    }
                    // the keyword bytes passed over hold no "<", so scanning on from here finds the same one
                    p += 2;
                    return State::Scan;
                case 'D':
                    if (std::strncmp(p + 2, "OCTYPE", 6) == 0) {
                        p += 7;
                        return Doctype(p);
                    }
                    p += 1;
                    return State::Scan;
                default:
                    if (IsName(p[1])) {
                        p += 1;
                        return MarkupDeclaration(p);
                    }
                    p += 1;
                    return State::Scan;
            }
        case '/':
            return PopAtTagClose(p);
        default:
            if (IsName(*p)) {
                XmlNode* node = AddNode(XmlNodeKind::Element);
                if (node == nullptr)
                    return State::Stop;
                current_ = node;
                return TagBody(p, node);
            }
            return State::Scan;
    }
}

// p is on the first byte of the name of node, which is the current parent.
Parser::State Parser::TagBody(char*& p, XmlNode* node) {
    bool declaration = node->kind == XmlNodeKind::Declaration;
    char* nameEnd = SkipName(p);
    node->name = p;
    node->nameLength = SpanLength(p, nameEnd);
    char delimiter = *nameEnd;
    p = nameEnd;
    if (delimiter == '\0')
        return State::Stop;
    ++p;
    if (*p == '\0')
        return State::Stop;

    State next = State::Stop;
    enum class After { TagEnd, DeclarationEnd, Done } after = After::Done;
    if (delimiter == '/')
        return PopAtTagClose(p);
    if (!IsSpace(delimiter)) {
        if (!declaration)
            return State::Content;
        --p;
        after = After::DeclarationEnd;
    } else {
        p = SkipSpace(p);
        for (;;) {
            if (!IsName(*p)) {
                after = After::TagEnd;
                break;
            }
            XmlAttribute* attribute = AddAttribute();
            if (attribute == nullptr) {
                after = After::TagEnd;
                break;
            }
            char* attributeEnd = SkipName(p);
            attribute->name = p;
            attribute->nameLength = SpanLength(p, attributeEnd);
            char byteAfter = *attributeEnd;
            if (byteAfter == '\0') {
                p = attributeEnd;
                CommitAttributes(node);
                return State::Stop;
            }
            p = attributeEnd + 1;
            if (IsSpace(byteAfter))
                p = SkipSpace(p);
            if (byteAfter != '=' && *p != '=') {
                if (IsName(*p))
                    continue;
                after = After::TagEnd;
                break;
            }
            if (byteAfter != '=')
                ++p;
            p = SkipSpace(p);
            if (*p != '"' && *p != '\'') {
                if (IsName(*p))
                    continue;
                after = After::TagEnd;
                break;
            }
            char* valueStart = p + 1;
            attribute->value = valueStart;
            // values are short: a plain loop beats a library call here
            char quote = *p;
            char* close = valueStart;
            while (*close != quote && *close != '\0') ++close;
            if (*close == '\0') {
                p = end_;
                CommitAttributes(node);
                return State::Stop;
            }
            std::uint32_t length = SpanLength(valueStart, close);
            if (Has(XmlParseOptions::TrimAttributeValues))
                Trim(attribute->value, length);
            attribute->valueLength = length;
            p = close + 1;
            if (*p == '>') {
                ++p;
                // a declaration closed by ">" alone ends here instead of taking the content as children
                if (declaration)
                    Pop();
                next = State::Content;
                break;
            }
            if (*p == '/') {
                Pop();
                p = SkipSpace(p + 1);
                if (*p == '>')
                    ++p;
                next = State::Content;
                break;
            }
            if (IsSpace(*p)) {
                p = SkipSpace(p);
                continue;
            }
            if (IsName(*p))
                continue;
            after = After::TagEnd;
            break;
        }
    }
    CommitAttributes(node);
    if (after == After::Done)
        return next;
    if (after == After::TagEnd && !declaration) {
        if (*p == '>') {
            ++p;
            return State::Content;
        }
        if (*p == '/' && p[1] == '>') {
            Pop();
            p += 2;
            return State::Scan;
        }
        return State::Scan;
    }
    // declaration end
    char* question = Find(p, '?');
    if (question == nullptr) {
        p = end_;
        return State::Stop;
    }
    p = SkipSpace(question + 1);
    if (*p == '>')
        ++p;
    Pop();
    return State::Content;
}

Parser::State Parser::Content(char*& p) {
    p = SkipSpace(p);
    if (*p == '\0')
        return State::Stop;
    if (*p == '<') {
        if (p[1] == '/')
            return PopAtTagClose(p);
        ++p;
        return State::Tag;
    }
    XmlNode* text = AddNode(XmlNodeKind::Text);
    if (text == nullptr)
        return State::Stop;
    text->value = p;
    char* open = Find(p, '<');
    if (open == nullptr) {
        p = end_;
        return State::Stop;
    }
    SetValue(text, p, open, Has(XmlParseOptions::TrimText));
    p = open + 1;
    if (*p == '/') {
        char* close = Find(p, '>');
        if (close == nullptr) {
            p = end_;
            return State::Stop;
        }
        Pop();
        p = close + 1;
        return State::Content;
    }
    return State::Tag;
}

// p is on the "!" of "<!-".
Parser::State Parser::Comment(char*& p) {
    if (Has(XmlParseOptions::KeepComments) && p[2] == '-') {
        XmlNode* comment = AddNode(XmlNodeKind::Comment);
        if (comment == nullptr)
            return State::Stop;
        char* start = p + 3;
        comment->value = start;
        char* end = FindText(start, "-->");
        if (end == nullptr) {
            p = end_;
            return State::Stop;
        }
        SetValue(comment, start, end, Has(XmlParseOptions::TrimComments));
        p = end + 3;
        return State::Content;
    }
    char* end = FindText(p + 2, "-->");
    if (end == nullptr) {
        p = end_;
        return State::Stop;
    }
    p = end + 3;
    return State::Content;
}

// p is on the "!" of "<![INCLUDE[" or "<![CDATA["; keywordLength counts from the "!" to the last "[".
Parser::State Parser::Section(char*& p, std::uint32_t keep, XmlNodeKind kind, std::size_t keywordLength) {
    char* start = p + keywordLength;
    XmlNode* node = nullptr;
    if (Has(keep)) {
        node = AddNode(kind);
        if (node == nullptr)
            return State::Stop;
        node->value = start;
    }
    char* end = FindText(start, "]]>");
    if (end == nullptr) {
        p = end_;
        return State::Stop;
    }
    if (node != nullptr)
        SetValue(node, start, end, Has(XmlParseOptions::TrimSections));
    p = end + 3;
    return State::Content;
}

// The words after the keyword: the root name, then names and quoted strings.
Parser::State Parser::DoctypeWords(char*& p, XmlNode* doctype, bool keep) {
    char* wordEnd = SkipName(p);
    if (keep)
        AddWordAttribute(p, wordEnd);
    p = wordEnd;
    if (*p == '\0')
        return State::Stop;
    char byteAfter = *p++;
    if (IsSpace(byteAfter))
        p = SkipSpace(p);
    for (;;) {
        if (IsName(*p)) {
            wordEnd = SkipName(p);
            if (keep)
                AddWordAttribute(p, wordEnd);
            p = wordEnd;
            if (*p == '\0')
                return State::Stop;
            p = SkipSpace(p + 1);
        } else if (*p == '"' || *p == '\'') {
            char* start = p + 1;
            XmlAttribute* attribute = keep ? AddAttribute() : nullptr;
            if (attribute != nullptr)
                attribute->value = start;
            char* close = Find(start, *p);
            if (close == nullptr) {
                p = end_;
                return State::Stop;
            }
            if (attribute != nullptr)
                attribute->valueLength = SpanLength(start, close);
            p = SkipSpace(close + 1);
        } else {
            break;
        }
    }
    (void)doctype;
    return State::Scan;
}

// p is on the "E" that ends the keyword "DOCTYPE".
Parser::State Parser::Doctype(char*& p) {
    p = SkipSpace(p + 1);
    // Past the nesting limit a DOCTYPE is skipped like one that is not kept, so recursion stays bounded.
    bool keep = Has(XmlParseOptions::KeepDtd) && doctypeDepth_ < kMaxDoctypeNesting;
    XmlNode* saved = current_;
    XmlNode* doctype = nullptr;
    if (keep) {
        doctype = AddNode(XmlNodeKind::Doctype);
        if (doctype == nullptr)
            return State::Stop;
        current_ = doctype;
    }
    State words = DoctypeWords(p, doctype, keep);
    if (doctype != nullptr)
        CommitAttributes(doctype);
    if (words == State::Stop)
        return State::Stop;

    if (*p != '[') {
        if (keep)
            current_ = saved;
        return State::Scan;
    }
    char* start = p + 1;
    char* end = start;
    for (int depth = 1; *end != '\0'; ++end) {
        if (*end == '[') {
            ++depth;
        } else if (*end == ']' && --depth == 0) {
            break;
        }
    }
    if (*end == '\0') {
        if (doctype != nullptr)
            doctype->value = start;
        p = end;
        return State::Stop;
    }
    if (keep) {
        bool parse = Has(XmlParseOptions::ParseInternalSubset);
        bool stop = Has(XmlParseOptions::StopAfterInternalSubset);
        SetValue(doctype, start, end, !parse && !stop && Has(XmlParseOptions::TrimInternalSubset));
        if (parse) {
            *end = '\0';
            Parser nested(doctype, step_, options_, doctypeDepth_ + 1);
            nested.Run(start);
            *end = ']';
        }
        if (stop) {
            p = end + 1;
            return State::Stop;
        }
        current_ = saved;
    }
    p = end + 1;
    char* close = Find(p, '>');
    if (close == nullptr) {
        p = end_;
        return State::Stop;
    }
    p = close;
    return State::Scan;
}

// p is just past a word of a markup declaration, which goes on only when white space follows: then p moves past
// it and nothing is given. Otherwise gives what to return: Stop at the end of the text, else Scan with the
// declaration dropped and the byte after the word passed over.
std::optional<Parser::State> Parser::SpaceAfterDeclarationWord(char*& p) {
    if (*p == '\0')
        return State::Stop;
    if (!IsSpace(*p)) {
        Pop();
        ++p;
        return State::Scan;
    }
    p = SkipSpace(p);
    return std::nullopt;
}

// p is on the first byte of the keyword after "<!".
Parser::State Parser::MarkupDeclaration(char*& p) {
    char* keywordEnd = SkipName(p);
    std::size_t keywordLength = static_cast<std::size_t>(keywordEnd - p);
    auto is = [&](const char* keyword) {
        return std::strlen(keyword) == keywordLength && std::memcmp(p, keyword, keywordLength) == 0;
    };
    XmlNodeKind kind = is("ATTLIST")    ? XmlNodeKind::AttlistDecl
                       : is("ELEMENT")  ? XmlNodeKind::ElementDecl
                       : is("NOTATION") ? XmlNodeKind::NotationDecl
                                        : XmlNodeKind::EntityDecl;
    XmlNode* node = AddNode(kind);
    if (node == nullptr)
        return State::Stop;
    current_ = node;
    p = keywordEnd;
    if (std::optional<State> done = SpaceAfterDeclarationWord(p))
        return *done;
    if (!IsName(*p) && *p != '%') {
        Pop();
        return State::Scan;
    }
    char* nameStart = p;
    if (*p == '%')
        p = SkipSpace(p + 1);
    char* nameEnd = SkipName(p);
    node->name = nameStart;
    node->nameLength = SpanLength(nameStart, nameEnd);
    p = nameEnd;
    if (std::optional<State> done = SpaceAfterDeclarationWord(p))
        return *done;
    char* valueStart = p;
    node->value = valueStart;
    char* close = nullptr;
    if (kind == XmlNodeKind::EntityDecl) {
        for (char* q = valueStart; *q != '\0'; ++q) {
            if (*q == '>') {
                close = q;
                break;
            }
            if (*q == '"' || *q == '\'') {
                char* quoteEnd = Find(q + 1, *q);
                if (quoteEnd == nullptr)
                    break;
                q = quoteEnd;
            }
        }
    } else {
        close = Find(valueStart, '>');
    }
    if (close == nullptr) {
        p = end_;
        return State::Stop;
    }
    SetValue(node, valueStart, close, Has(XmlParseOptions::TrimMarkupDeclarations));
    p = close + 1;
    Pop();
    return State::Scan;
}

}  // namespace

const char* XmlParse(char* text, XmlNode* parent, std::int32_t growthStep, std::uint32_t options) {
    if (text == nullptr || parent == nullptr || parent->arena == nullptr)
        return text;
    Parser parser(parent, growthStep < 1 ? 1u : static_cast<std::uint32_t>(growthStep), options, 0);
    return parser.Run(text);
}

}  // namespace vantrel
