// The parser as it stood before it was made faster, kept only to check that the fast one builds the same
// trees and reports the same damage (fuzz_xml_differential). Not part of the program.
#include "reference/reference_parser.h"

#include <cstring>
#include <optional>
#include <vector>

#include "xml_arena.h"
#include "xml_tree_ops.h"

namespace vantrel::reference {

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

// Bytes that end the scan of a quoted value: its quote, the end of the text, and "<" (noted as damage).
struct ValueStops {
    unsigned char table[256] = {};
    constexpr explicit ValueStops(char quote) {
        table[static_cast<unsigned char>(quote)] = 1;
        table[0] = 1;
        table[static_cast<unsigned char>('<')] = 2;
    }
};

constexpr ValueStops kDoubleQuoted('"');
constexpr ValueStops kSingleQuoted('\'');

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
    // names and values are short but many: four bytes a round
    for (;;) {
        if (!IsName(p[0]))
            return p;
        if (!IsName(p[1]))
            return p + 1;
        if (!IsName(p[2]))
            return p + 2;
        if (!IsName(p[3]))
            return p + 3;
        p += 4;
    }
}
// Position of what at or after p, or null when the text ends first.
inline char* FindText(char* p, const char* what) {
    return std::strstr(p, what);
}
inline bool AllSpace(const char* from, const char* to) {
    for (; from < to; ++from) {
        if (!IsSpace(*from))
            return false;
    }
    return true;
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
    std::uint32_t length = SpanLength(start, end);
    if (trim)
        Trim(start, length);
    XmlBorrowValue(node, start, length);
}

std::string_view NameOf(const XmlNode* node) {
    const char* name = XmlNodeName(node);
    return name != nullptr ? std::string_view(name, node->nameLength) : std::string_view();
}

bool IsMarkupDeclaration(XmlNodeKind kind) {
    return kind == XmlNodeKind::EntityDecl || kind == XmlNodeKind::AttlistDecl || kind == XmlNodeKind::ElementDecl ||
           kind == XmlNodeKind::NotationDecl;
}

class Parser {
public:
    // inSubset: parsing a DOCTYPE's internal subset, where only markup declarations are kept on saving.
    Parser(XmlNode* parent, std::uint32_t growthStep, std::uint32_t options, int doctypeDepth, std::uint32_t depth,
           XmlParseResult& result)
        : current_(parent),
          arena_(parent->arena),
          step_(growthStep),
          options_(options),
          doctypeDepth_(doctypeDepth),
          inSubset_(doctypeDepth > 0),
          document_(parent->kind == XmlNodeKind::Document && parent->parent == parent ? parent : nullptr),
          depth_(depth),
          result_(result) {}

    char* Run(char* p);
    // Judges what stands open or missing where the parse of a whole document stopped.
    void Finish(char* stop);

private:
    enum class State { Scan, Tag, Content, Stop };

    bool Has(std::uint32_t option) const { return (options_ & option) != 0; }
    // Position of c at or after p, or null when the text ends first.
    static char* Find(char* p, char c) { return std::strchr(p, c); }
    // Ends the parse at the end of the text, after noting what the text ended inside.
    State CutOff(char*& p, const char* at, const char* inside) {
        Damage(at, XmlDamage::CutOff, inside);
        p += std::strlen(p);
        return State::Stop;
    }

    // Keeps the first problem in text order.
    void Damage(const char* at, XmlDamage kind, const char* detail = nullptr, std::string_view first = {},
                std::string_view second = {}) {
        if (result_.problemAt != nullptr && result_.problemAt <= at)
            return;
        result_.problemAt = at;
        result_.damage = kind;
        result_.detail = detail;
        result_.first = first;
        result_.second = second;
    }
    // Text in [from, to) that SCAN passes over and drops.
    void CheckSkipped(const char* from, const char* to) {
        if (from == textStart_ && to - from >= 3 && std::memcmp(from, "\xEF\xBB\xBF", 3) == 0)
            from += 3;  // a UTF-8 byte-order mark is no loss
        for (; from < to; ++from) {
            if (!IsSpace(*from)) {
                NoteDroppedText(from);
                return;
            }
        }
    }
    void NoteDroppedText(const char* at) {
        if (inSubset_) {
            Damage(at, XmlDamage::BadMarkup, "the document type declaration");
        } else if (current_ == document_) {
            Damage(at, rootSeen_ ? XmlDamage::AfterRoot : XmlDamage::StrayText);
        } else {
            Damage(at, XmlDamage::StrayText);
        }
    }
    // A node that a saved file would not give back where it stands, or at all.
    void CheckPlace(const char* at, XmlNodeKind kind) {
        if (inSubset_) {
            if (!IsMarkupDeclaration(kind))
                Damage(at, XmlDamage::BadMarkup, "the document type declaration");
        } else if (current_ == document_) {
            if (kind == XmlNodeKind::Element) {
                if (rootSeen_)
                    Damage(at, XmlDamage::AfterRoot);
                rootSeen_ = true;
            } else if (kind == XmlNodeKind::Text || kind == XmlNodeKind::CData) {
                Damage(at, rootSeen_ ? XmlDamage::AfterRoot : XmlDamage::StrayText);
            }
        }
    }

    XmlNode* AddNode(XmlNodeKind kind, const char* at) {
        CheckPlace(at, kind);
        void* memory = arena_->Allocate(sizeof(XmlNode));
        if (memory == nullptr)
            return nullptr;
        auto* node = new (memory) XmlNode();
        node->kind = kind;
        node->arena = arena_;
        node->parent = current_;
        if (current_->childCount < current_->childCapacity) {
            current_->children[current_->childCount++] = node;
        } else if (!XmlAppendChildSlot(current_, node, step_)) {
            arena_->Release(node, sizeof(XmlNode));
            return nullptr;
        }
        return node;
    }
    // Makes a new element the current parent.
    void Open(XmlNode* element) {
        current_ = element;
        if (++depth_ > result_.depth)
            result_.depth = depth_;
    }
    void Pop() {
        if (current_->parent != nullptr) {
            if (current_->kind == XmlNodeKind::Element && current_->parent != current_)
                --depth_;
            current_ = current_->parent;
        }
    }
    void Restore(XmlNode* saved) { current_ = saved; }
    // The attributes of one tag are written straight into the arena's free space, where they stay as the
    // node's array when the tag ends: nothing else is allocated while a tag's attributes are read.
    void BeginAttributes() {
        std::size_t available = 0;
        pending_ = reinterpret_cast<XmlAttribute*>(arena_->FreeSpace(&available));
        pendingCount_ = 0;
        pendingCapacity_ = available / sizeof(XmlAttribute);
    }
    // Null only when out of memory. Runs once per attribute of the whole file: kept inline.
#if defined(__GNUC__)
    __attribute__((always_inline))
#endif
    XmlAttribute*
    AddAttribute() {
        if (pendingCount_ == pendingCapacity_ && !GrowAttributes())
            return nullptr;
        return new (&pending_[pendingCount_++]) XmlAttribute();
    }
    bool GrowAttributes() {
        std::size_t wanted = (pendingCount_ * 2 + 16) * sizeof(XmlAttribute);
        if (pendingCount_ * sizeof(XmlAttribute) >= XmlArena::kExactLimit) {
            // a long list moves to a block of its own, grown like any array
            std::size_t bytes = XmlArena::RoundUp(wanted);
            auto* grown = static_cast<XmlAttribute*>(arena_->Allocate(bytes));
            if (grown == nullptr)
                return false;
            std::memcpy(static_cast<void*>(grown), pending_, pendingCount_ * sizeof(XmlAttribute));
            if (pendingOwnBlock_)
                arena_->Release(pending_, pendingCapacity_ * sizeof(XmlAttribute));
            pending_ = grown;
            pendingCapacity_ = bytes / sizeof(XmlAttribute);
            pendingOwnBlock_ = true;
            return true;
        }
        auto* fresh = reinterpret_cast<XmlAttribute*>(arena_->FreshSpace(wanted));
        if (fresh == nullptr)
            return false;
        if (pendingCount_ > 0)
            std::memcpy(static_cast<void*>(fresh), pending_, pendingCount_ * sizeof(XmlAttribute));
        pending_ = fresh;
        std::size_t available = 0;
        arena_->FreeSpace(&available);
        pendingCapacity_ = available / sizeof(XmlAttribute);
        return true;
    }
    // Gives node the attributes collected for it, in an array of exactly their number.
    void CommitAttributes(XmlNode* node) {
        std::size_t count = pendingCount_;
        if (count > 0) {
            node->attributes = pending_;
            node->attributeCount = static_cast<std::uint32_t>(count);
            node->attributeCapacity = static_cast<std::uint32_t>(pendingOwnBlock_ ? pendingCapacity_ : count);
            if (!pendingOwnBlock_)
                arena_->TakeSpace(count * sizeof(XmlAttribute));
        }
        pendingCount_ = 0;
        pendingOwnBlock_ = false;
    }
    // p is on the "/" of an end tag: pops the current parent at the tag's ">" and gives the byte after it;
    // null (parse stopped, p at the end) when the text ends first. The name in the tag changes nothing.
    char* EndTag(char*& p) {
        CheckEndTag(p);
        char* close = Find(p, '>');
        if (close == nullptr) {
            CutOff(p, p - 1, "a closing tag");
            return nullptr;
        }
        Pop();
        return close + 1;
    }
    void CheckEndTag(char* slash) {
        char* nameEnd = SkipName(slash + 1);
        std::string_view name(slash + 1, static_cast<std::size_t>(nameEnd - slash - 1));
        if (*SkipSpace(nameEnd) != '>' && *SkipSpace(nameEnd) != '\0') {
            Damage(slash - 1, XmlDamage::BadMarkup, "a closing tag");
        } else if (current_->kind != XmlNodeKind::Element || current_->parent == current_) {
            Damage(slash - 1, XmlDamage::StrayEndTag, nullptr, name);
        } else if (name != NameOf(current_)) {
            Damage(slash - 1, XmlDamage::MismatchedEndTag, nullptr, name, NameOf(current_));
        }
    }

    State Tag(char*& p);
    State TagBody(char*& p, XmlNode* node);
    State Content(char*& p);
    State Section(char*& p, std::uint32_t keep, XmlNodeKind kind, std::size_t keywordLength, const char* what);
    State Comment(char*& p);
    State Doctype(char*& p);
    State DoctypeWords(char*& p, bool keep, bool& closed);
    State MarkupDeclaration(char*& p);
    std::optional<State> SpaceAfterDeclarationWord(char*& p, bool closingAllowed);

    XmlNode* current_;
    XmlArena* arena_;
    std::uint32_t At(const char* p) const {
        return static_cast<std::uint32_t>(p - arena_->text);
    }
    std::string_view AttributeName(const XmlAttribute* attribute) const {
        const char* name = arena_->text + attribute->nameAt;
        return std::string_view(name, static_cast<std::size_t>(SkipName(const_cast<char*>(name)) - name));
    }
    std::uint32_t step_;
    std::uint32_t options_;
    int doctypeDepth_;
    bool inSubset_;
    XmlNode* document_;  // the Document root when a whole document is parsed, else null
    bool rootSeen_ = false;
    std::uint32_t depth_;  // elements open above the current parent, itself included
    const char* textStart_ = nullptr;
    XmlParseResult& result_;
    XmlAttribute* pending_ = nullptr;
    std::size_t pendingCount_ = 0;
    std::size_t pendingCapacity_ = 0;
    bool pendingOwnBlock_ = false;  // the list outgrew the in-place space
};

char* Parser::Run(char* p) {
    textStart_ = p;
    State state = State::Scan;
    for (;;) {
        switch (state) {
            case State::Scan: {
                if (*p == '\0')
                    return p;
                char* open = Find(p, '<');
                if (open == nullptr) {
                    char* end = p + std::strlen(p);
                    CheckSkipped(p, end);
                    return end;
                }
                CheckSkipped(p, open);
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

void Parser::Finish(char* stop) {
    if (document_ == nullptr)
        return;
    if (*stop != '\0' && !AllSpace(stop, stop + std::strlen(stop)))
        Damage(stop, XmlDamage::NotRead);
    for (const XmlNode* node = current_; node != document_ && node->parent != node; node = node->parent) {
        if (node->kind == XmlNodeKind::Element) {
            Damage(stop, XmlDamage::UnclosedElement, nullptr, NameOf(node));
            break;
        }
    }
    if (!rootSeen_ && !AllSpace(textStart_, stop))
        Damage(stop, XmlDamage::NoRoot);
}

// p is on the byte after "<".
Parser::State Parser::Tag(char*& p) {
    switch (*p) {
        case '?': {
            if (IsName(p[1]) && Has(XmlParseOptions::KeepDeclarations)) {
                if (Find(p + 1, '?') == nullptr)
                    return CutOff(p, p - 1, "a declaration");
                XmlNode* node = AddNode(XmlNodeKind::Declaration, p - 1);
                if (node == nullptr)
                    return State::Stop;
                current_ = node;
                ++p;
                return TagBody(p, node);
            }
            if (!IsName(p[1]))
                Damage(p - 1, XmlDamage::BadMarkup, "a declaration");
            char* close = Find(p, '>');
            if (close == nullptr)
                return CutOff(p, p - 1, "a declaration");
            p = close + 1;
            return State::Scan;
        }
        case '!':
            switch (p[1]) {
                case '-':
                    return Comment(p);
                case '[':
                    if (std::strncmp(p + 2, "INCLUDE[", 8) == 0) {
                        return Section(p, XmlParseOptions::KeepDtd, XmlNodeKind::IncludeSection, 10,
                                       "an INCLUDE section");
                    }
                    if (std::strncmp(p + 2, "CDATA[", 6) == 0)
                        return Section(p, XmlParseOptions::KeepCData, XmlNodeKind::CData, 8, "a CDATA section");
                    Damage(p - 1, XmlDamage::BadMarkup, "a section");
                    // the keyword bytes passed over hold no "<", so scanning on from here finds the same one
                    p += 2;
                    return State::Scan;
                case 'D':
                    if (std::strncmp(p + 2, "OCTYPE", 6) == 0) {
                        p += 7;
                        return Doctype(p);
                    }
                    Damage(p - 1, XmlDamage::BadMarkup, "a declaration");
                    p += 1;
                    return State::Scan;
                default:
                    if (IsName(p[1])) {
                        p += 1;
                        return MarkupDeclaration(p);
                    }
                    Damage(p - 1, XmlDamage::BadMarkup, "a declaration");
                    p += 1;
                    return State::Scan;
            }
        case '/': {
            char* after = EndTag(p);
            if (after == nullptr)
                return State::Stop;
            p = after;
            return State::Scan;
        }
        default:
            if (IsName(*p)) {
                XmlNode* node = AddNode(XmlNodeKind::Element, p - 1);
                if (node == nullptr)
                    return State::Stop;
                Open(node);
                return TagBody(p, node);
            }
            Damage(p - 1, XmlDamage::BadMarkup, "a tag");
            return State::Scan;
    }
}

// p is on the first byte of the name of node, which is the current parent.
Parser::State Parser::TagBody(char*& p, XmlNode* node) {
    bool declaration = node->kind == XmlNodeKind::Declaration;
    const char* tagStart = p - (declaration ? 2 : 1);
    const char* what = declaration ? "a declaration" : "a tag";
    char* nameEnd = SkipName(p);
    XmlBorrowName(node, p, SpanLength(p, nameEnd));
    BeginAttributes();
    char delimiter = *nameEnd;
    p = nameEnd;
    if (delimiter == '\0')
        return CutOff(p, tagStart, what);
    ++p;
    if (*p == '\0') {
        if (delimiter != '>' || declaration)
            Damage(tagStart, XmlDamage::CutOff, what);
        return State::Stop;
    }

    State next = State::Stop;
    enum class After { TagEnd, DeclarationEnd, Done } after = After::Done;
    if (delimiter == '/') {
        if (*p != '>' || declaration)
            Damage(tagStart, XmlDamage::BadMarkup, what);
        char* close = Find(p, '>');
        if (close == nullptr)
            return CutOff(p, tagStart, what);
        Pop();
        p = close + 1;
        return State::Scan;
    }
    if (!IsSpace(delimiter)) {
        if (!declaration) {
            if (delimiter != '>')
                Damage(nameEnd, XmlDamage::BadMarkup, what);
            return State::Content;
        }
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
            attribute->nameAt = At(p);
            char byteAfter = *attributeEnd;
            if (byteAfter == '\0') {
                p = attributeEnd;
                CommitAttributes(node);
                return CutOff(p, tagStart, what);
            }
            char* attributeStart = p;
            // a word that ends a declaration ("<?pi b?>") leaves its "?" to close it
            bool closesDeclaration = declaration && byteAfter == '?';
            p = closesDeclaration ? attributeEnd : attributeEnd + 1;
            if (IsSpace(byteAfter))
                p = SkipSpace(p);
            if (byteAfter != '=' && *p != '=') {
                // no value; the byte after the name was stepped over unexamined
                if (!declaration) {
                    Damage(attributeStart, XmlDamage::BrokenAttribute, "has no value", AttributeName(attribute));
                } else if (!IsSpace(byteAfter) && !closesDeclaration) {
                    Damage(attributeEnd, XmlDamage::BadMarkup, what);
                }
                if (IsName(*p))
                    continue;
                after = After::TagEnd;
                break;
            }
            if (byteAfter != '=')
                ++p;
            p = SkipSpace(p);
            if (*p != '"' && *p != '\'') {
                Damage(attributeStart, declaration ? XmlDamage::BadMarkup : XmlDamage::BrokenAttribute,
                       declaration ? what : "has no quoted value", AttributeName(attribute));
                if (IsName(*p))
                    continue;
                after = After::TagEnd;
                break;
            }
            char* valueStart = p + 1;
            attribute->valueAt = At(valueStart);
            // values are short: a plain loop beats a library call here
            const unsigned char* stops = *p == '"' ? kDoubleQuoted.table : kSingleQuoted.table;
            char* close = valueStart;
            for (;;) {
                while (stops[static_cast<unsigned char>(close[0])] == 0) {
                    if (stops[static_cast<unsigned char>(close[1])] != 0) {
                        close += 1;
                        break;
                    }
                    if (stops[static_cast<unsigned char>(close[2])] != 0) {
                        close += 2;
                        break;
                    }
                    if (stops[static_cast<unsigned char>(close[3])] != 0) {
                        close += 3;
                        break;
                    }
                    close += 4;
                }
                if (stops[static_cast<unsigned char>(*close)] == 1)
                    break;
                // "<" inside a value: a quote is missing, and the value swallowed markup
                Damage(p, XmlDamage::BrokenAttribute, "runs into \"<\" (a quote is missing)", AttributeName(attribute));
                ++close;
            }
            if (*close == '\0') {
                CommitAttributes(node);
                return CutOff(p, tagStart, "an attribute value");
            }
            std::uint32_t length = SpanLength(valueStart, close);
            if (Has(XmlParseOptions::TrimAttributeValues)) {
                Trim(valueStart, length);
                attribute->valueAt = At(valueStart);
            }
            attribute->valueLength = length;
            p = close + 1;
            if (*p == '>') {
                ++p;
                // a declaration closed by ">" alone ends here instead of taking the content as children
                if (declaration) {
                    Damage(tagStart, XmlDamage::BadMarkup, what);
                    Pop();
                }
                next = State::Content;
                break;
            }
            if (*p == '/') {
                if (p[1] != '>' || declaration)
                    Damage(tagStart, XmlDamage::BadMarkup, what);
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
            if (IsName(*p)) {
                Damage(p, declaration ? XmlDamage::BadMarkup : XmlDamage::BrokenAttribute,
                       declaration ? what : "has no space before it",
                       std::string_view(p, static_cast<std::size_t>(SkipName(p) - p)));
                continue;
            }
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
        if (*p == '\0')
            return CutOff(p, tagStart, what);
        Damage(p, XmlDamage::BadMarkup, what);
        return State::Scan;
    }
    // declaration end
    char* question = Find(p, '?');
    if (question == nullptr)
        return CutOff(p, tagStart, what);
    if (!AllSpace(p, question) || question[1] != '>')
        Damage(tagStart, XmlDamage::BadMarkup, what);
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
        if (p[1] == '/') {
            ++p;
            char* after = EndTag(p);
            if (after == nullptr)
                return State::Stop;
            p = after;
            return State::Scan;
        }
        ++p;
        return State::Tag;
    }
    XmlNode* text = AddNode(XmlNodeKind::Text, p);
    if (text == nullptr)
        return State::Stop;
    XmlBorrowValue(text, p, text->valueLength);
    char* open = Find(p, '<');
    if (open == nullptr)
        return CutOff(p, p, "text");
    SetValue(text, p, open, Has(XmlParseOptions::TrimText));
    p = open + 1;
    if (*p == '/') {
        char* after = EndTag(p);
        if (after == nullptr)
            return State::Stop;
        p = after;
        return State::Content;
    }
    return State::Tag;
}

// p is on the "!" of "<!-".
Parser::State Parser::Comment(char*& p) {
    if (Has(XmlParseOptions::KeepComments) && p[2] == '-') {
        XmlNode* comment = AddNode(XmlNodeKind::Comment, p - 1);
        if (comment == nullptr)
            return State::Stop;
        char* start = p + 3;
        XmlBorrowValue(comment, start, comment->valueLength);
        char* end = FindText(start, "-->");
        if (end == nullptr)
            return CutOff(p, p - 1, "a comment");
        SetValue(comment, start, end, Has(XmlParseOptions::TrimComments));
        p = end + 3;
        return State::Content;
    }
    if (p[2] != '-')
        Damage(p - 1, XmlDamage::BadMarkup, "a comment");
    char* end = FindText(p + 2, "-->");
    if (end == nullptr)
        return CutOff(p, p - 1, "a comment");
    p = end + 3;
    return State::Content;
}

// p is on the "!" of "<![INCLUDE[" or "<![CDATA["; keywordLength counts from the "!" to the last "[".
Parser::State Parser::Section(char*& p, std::uint32_t keep, XmlNodeKind kind, std::size_t keywordLength,
                              const char* what) {
    char* start = p + keywordLength;
    XmlNode* node = nullptr;
    if (Has(keep)) {
        node = AddNode(kind, p - 1);
        if (node == nullptr)
            return State::Stop;
        XmlBorrowValue(node, start, node->valueLength);
    }
    char* end = FindText(start, "]]>");
    if (end == nullptr)
        return CutOff(p, p - 1, what);
    if (node != nullptr)
        SetValue(node, start, end, Has(XmlParseOptions::TrimSections));
    p = end + 3;
    return State::Content;
}

// The words after the keyword: the root name, then names and quoted strings. closed: a word's following
// byte, stepped over, was the declaration's ">".
Parser::State Parser::DoctypeWords(char*& p, bool keep, bool& closed) {
    auto addWord = [&](char* start, char* end) {
        if (XmlAttribute* attribute = keep ? AddAttribute() : nullptr) {
            attribute->nameAt = attribute->valueAt = At(start);
            attribute->valueLength = SpanLength(start, end);
        }
    };
    const char* start = p;
    char* wordEnd = SkipName(p);
    if (wordEnd == p)
        Damage(p, XmlDamage::BadMarkup, "the document type declaration");
    addWord(p, wordEnd);
    p = wordEnd;
    if (*p == '\0')
        return CutOff(p, start, "the document type declaration");
    char byteAfter = *p++;
    if (IsSpace(byteAfter)) {
        p = SkipSpace(p);
    } else if (byteAfter == '>') {
        closed = true;
    } else {
        Damage(p - 1, XmlDamage::BadMarkup, "the document type declaration");
    }
    for (;;) {
        if (IsName(*p)) {
            if (closed)
                Damage(p, XmlDamage::BadMarkup, "the document type declaration");
            wordEnd = SkipName(p);
            addWord(p, wordEnd);
            p = wordEnd;
            if (*p == '\0')
                return CutOff(p, start, "the document type declaration");
            if (*p == '>') {
                closed = true;
            } else if (!IsSpace(*p)) {
                Damage(p, XmlDamage::BadMarkup, "the document type declaration");
            }
            p = SkipSpace(p + 1);
        } else if (*p == '"' || *p == '\'') {
            if (closed)
                Damage(p, XmlDamage::BadMarkup, "the document type declaration");
            char* valueStart = p + 1;
            XmlAttribute* attribute = keep ? AddAttribute() : nullptr;
            if (attribute != nullptr)
                attribute->valueAt = At(valueStart);
            char* close = Find(valueStart, *p);
            if (close == nullptr)
                return CutOff(p, start, "the document type declaration");
            if (attribute != nullptr)
                attribute->valueLength = SpanLength(valueStart, close);
            p = SkipSpace(close + 1);
        } else {
            break;
        }
    }
    return State::Scan;
}

// p is on the "E" that ends the keyword "DOCTYPE".
Parser::State Parser::Doctype(char*& p) {
    const char* declarationStart = p - 8;
    p = SkipSpace(p + 1);
    // Past the nesting limit a DOCTYPE is skipped like one that is not kept, so recursion stays bounded.
    bool keep = Has(XmlParseOptions::KeepDtd) && doctypeDepth_ < kMaxDoctypeNesting;
    if (doctypeDepth_ >= kMaxDoctypeNesting)
        Damage(declarationStart, XmlDamage::BadMarkup, "the document type declaration");
    XmlNode* saved = current_;
    XmlNode* doctype = nullptr;
    if (keep) {
        doctype = AddNode(XmlNodeKind::Doctype, declarationStart);
        if (doctype == nullptr)
            return State::Stop;
        current_ = doctype;
    }
    bool closed = false;
    BeginAttributes();
    State words = DoctypeWords(p, keep, closed);
    if (doctype != nullptr)
        CommitAttributes(doctype);
    if (words == State::Stop)
        return State::Stop;

    if (*p != '[') {
        if (keep)
            Restore(saved);
        if (!closed) {
            if (*p == '>') {
                ++p;
            } else if (*p != '\0') {
                Damage(p, XmlDamage::BadMarkup, "the document type declaration");
            }
        }
        if (*p == '\0' && !closed)
            Damage(declarationStart, XmlDamage::CutOff, "the document type declaration");
        return State::Scan;
    }
    if (closed)
        Damage(p, XmlDamage::BadMarkup, "the document type declaration");
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
            XmlBorrowValue(doctype, start, doctype->valueLength);
        p = end;
        Damage(declarationStart, XmlDamage::CutOff, "the document type declaration");
        return State::Stop;
    }
    if (keep) {
        bool parse = Has(XmlParseOptions::ParseInternalSubset);
        bool stop = Has(XmlParseOptions::StopAfterInternalSubset);
        SetValue(doctype, start, end, !parse && !stop && Has(XmlParseOptions::TrimInternalSubset));
        if (parse) {
            *end = '\0';
            Parser nested(doctype, step_, options_, doctypeDepth_ + 1, depth_, result_);
            nested.Run(start);
            *end = ']';
        }
        if (stop) {
            p = end + 1;
            return State::Stop;
        }
        Restore(saved);
    }
    p = end + 1;
    char* close = Find(p, '>');
    if (close == nullptr)
        return CutOff(p, declarationStart, "the document type declaration");
    if (!AllSpace(p, close))
        Damage(p, XmlDamage::BadMarkup, "the document type declaration");
    p = close + 1;
    return State::Scan;
}

// p is just past a word of a markup declaration, which goes on only when white space follows: then p moves past
// it and nothing is given. Otherwise gives what to return: Stop at the end of the text, else Scan with the
// declaration dropped and the byte after the word passed over (no damage when closingAllowed and it was ">").
std::optional<Parser::State> Parser::SpaceAfterDeclarationWord(char*& p, bool closingAllowed) {
    if (*p == '\0') {
        Damage(p, XmlDamage::CutOff, "a markup declaration");
        return State::Stop;
    }
    if (!IsSpace(*p)) {
        if (!closingAllowed || *p != '>')
            Damage(p, XmlDamage::BadMarkup, "a markup declaration");
        Pop();
        ++p;
        return State::Scan;
    }
    p = SkipSpace(p);
    return std::nullopt;
}

// p is on the first byte of the keyword after "<!".
Parser::State Parser::MarkupDeclaration(char*& p) {
    const char* declarationStart = p - 2;
    char* keywordEnd = SkipName(p);
    std::size_t keywordLength = static_cast<std::size_t>(keywordEnd - p);
    auto is = [&](const char* keyword) {
        return std::strlen(keyword) == keywordLength && std::memcmp(p, keyword, keywordLength) == 0;
    };
    XmlNodeKind kind = is("ATTLIST")    ? XmlNodeKind::AttlistDecl
                       : is("ELEMENT")  ? XmlNodeKind::ElementDecl
                       : is("NOTATION") ? XmlNodeKind::NotationDecl
                                        : XmlNodeKind::EntityDecl;
    // any other keyword is written back as ENTITY
    if (kind == XmlNodeKind::EntityDecl && !is("ENTITY"))
        Damage(declarationStart, XmlDamage::BadMarkup, "a markup declaration");
    XmlNode* node = AddNode(kind, declarationStart);
    if (node == nullptr)
        return State::Stop;
    current_ = node;
    p = keywordEnd;
    if (std::optional<State> done = SpaceAfterDeclarationWord(p, false))
        return *done;
    if (!IsName(*p) && *p != '%') {
        Damage(p, XmlDamage::BadMarkup, "a markup declaration");
        Pop();
        return State::Scan;
    }
    char* nameStart = p;
    if (*p == '%')
        p = SkipSpace(p + 1);
    char* nameEnd = SkipName(p);
    XmlBorrowName(node, nameStart, SpanLength(nameStart, nameEnd));
    p = nameEnd;
    if (std::optional<State> done = SpaceAfterDeclarationWord(p, true))
        return *done;
    char* valueStart = p;
    XmlBorrowValue(node, valueStart, node->valueLength);
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
    if (close == nullptr)
        return CutOff(p, declarationStart, "a markup declaration");
    SetValue(node, valueStart, close, Has(XmlParseOptions::TrimMarkupDeclarations));
    p = close + 1;
    Pop();
    return State::Scan;
}

}  // namespace

XmlParseResult XmlParseReference(char* text, XmlNode* parent, std::int32_t growthStep, std::uint32_t options) {
    XmlParseResult result;
    result.stop = text;
    if (text == nullptr || parent == nullptr || parent->arena == nullptr)
        return result;
    if (parent->arena->text == nullptr)
        parent->arena->text = text;
    if (text != parent->arena->text)
        return result;
    Parser parser(parent, growthStep < 1 ? 1u : static_cast<std::uint32_t>(growthStep), options, 0, 0, result);
    char* stop = parser.Run(text);
    parser.Finish(stop);
    result.stop = stop;
    result.outOfMemory = parent->arena->Exhausted();
    return result;
}

}  // namespace vantrel::reference
