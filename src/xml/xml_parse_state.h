#pragma once

// Internal to the XML parser: the byte classes and the state of one parse, shared by the parser's files
// (xml_parser.cpp for tags and content, xml_doctype.cpp for document type declarations).

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "xml_arena.h"
#include "xml_byte_classes.h"
#include "xml_parser.h"
#include "xml_tree_ops.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__GNUC__)
#define VANTREL_XML_INLINE inline __attribute__((always_inline))
#define VANTREL_XML_NOINLINE __attribute__((noinline))
#else
#define VANTREL_XML_INLINE inline
#define VANTREL_XML_NOINLINE
#endif

namespace vantrel::parsing {

// Bytes that end the scan of a quoted value: its quote, the end of the text, and "<" (noted as damage).
struct ValueStops {
    unsigned char table[256] = {};
    constexpr explicit ValueStops(char quote) {
        table[static_cast<unsigned char>(quote)] = 1;
        table[0] = 1;
        table[static_cast<unsigned char>('<')] = 2;
    }
};

inline constexpr ValueStops kDoubleQuoted('"');
inline constexpr ValueStops kSingleQuoted('\'');

// The first byte at or after p that is quote, "<" or the terminating NUL.
#if defined(__SSE2__) && !defined(VANTREL_XML_ASAN)
// Sixteen bytes a round with aligned loads: an aligned block never reaches into another page, so reading the
// whole block that holds the terminator is safe (and AddressSanitizer builds take the plain loop).
inline char* FindValueStop(char* p, char quote) {
    const __m128i quotes = _mm_set1_epi8(quote);
    const __m128i opens = _mm_set1_epi8('<');
    const __m128i nuls = _mm_setzero_si128();
    auto offset = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p) & 15u);
    const char* block = p - offset;
    for (unsigned skip = offset;; skip = 0, block += 16) {
        __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quotes), _mm_cmpeq_epi8(bytes, opens)),
                                    _mm_cmpeq_epi8(bytes, nuls));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits)) >> skip << skip;
        if (mask != 0)
            return const_cast<char*>(block) + __builtin_ctz(mask);
    }
}
#else
inline char* FindValueStop(char* p, char quote) {
    const unsigned char* stops = quote == '"' ? kDoubleQuoted.table : kSingleQuoted.table;
    while (stops[static_cast<unsigned char>(*p)] == 0) ++p;
    return p;
}
#endif

// FindValueStop for a value in double quotes that is most likely short: the first bytes are looked at one by one,
// so that the byte found is already at hand, and only a long value is handed to the block scan.
inline char* FindShortValueStop(char* p) {
    const unsigned char* stops = kDoubleQuoted.table;
    for (int i = 0; i < 16; i += 4, p += 4) {
        if (stops[static_cast<unsigned char>(p[0])] != 0)
            return p;
        if (stops[static_cast<unsigned char>(p[1])] != 0)
            return p + 1;
        if (stops[static_cast<unsigned char>(p[2])] != 0)
            return p + 2;
        if (stops[static_cast<unsigned char>(p[3])] != 0)
            return p + 3;
    }
    return FindValueStop(p, '"');
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

inline std::uint32_t SpanLength(const char* start, const char* end) {
    std::size_t length = static_cast<std::size_t>(end - start);
    return length > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<std::uint32_t>(length);
}

inline void SetValue(XmlNode* node, char* start, const char* end, bool trim) {
    std::uint32_t length = SpanLength(start, end);
    if (trim)
        Trim(start, length);
    XmlBorrowValue(node, start, length);
}

inline std::string_view NameOf(const XmlNode* node) {
    const char* name = XmlNodeName(node);
    return name != nullptr ? std::string_view(name, node->nameLength) : std::string_view();
}

inline bool IsMarkupDeclaration(XmlNodeKind kind) {
    return kind == XmlNodeKind::EntityDecl || kind == XmlNodeKind::AttlistDecl || kind == XmlNodeKind::ElementDecl ||
           kind == XmlNodeKind::NotationDecl;
}

class Parser {
public:
    // doctypeDepth: how many DOCTYPE subsets enclose this parse (above 0 only markup declarations are kept on
    // saving); depth: the elements open above parent.
    Parser(XmlNode* parent, std::uint32_t growthStep, std::uint32_t options, int doctypeDepth, std::uint32_t depth,
           XmlParseResult& result)
        : current_(parent),
          arena_(parent->arena),
          base_(parent->arena->text),
          step_(growthStep),
          options_(options),
          trimValues_((options & XmlParseOptions::TrimAttributeValues) != 0),
          doctypeDepth_(doctypeDepth),
          inSubset_(doctypeDepth > 0),
          document_(parent->kind == XmlNodeKind::Document && parent->parent == parent ? parent : nullptr),
          depth_(depth),
          result_(result) {}

    char* Run(char* p);
    // Judges what stands open or missing where the parse of a whole document stopped.
    void Finish(char* stop);

private:
    // Pending: not a state to go to; a step of a tag says that the tag goes on.
    enum class State { Scan, Tag, Content, Stop, Pending };

    bool Has(std::uint32_t option) const { return (options_ & option) != 0; }
    // Where a borrowed attribute span starts, and back.
    std::uint32_t At(const char* p) const { return static_cast<std::uint32_t>(p - base_); }
    std::string_view AttributeName(const XmlAttribute* attribute) const {
        return Span(base_ + attribute->nameAt, SkipName(base_ + attribute->nameAt));
    }
    static std::string_view Span(const char* start, const char* end) {
        return std::string_view(start, static_cast<std::size_t>(end - start));
    }
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
    // A slot for the caller to fill in whole (not initialised); null only when out of memory. Runs once per
    // attribute of the whole file: kept inline.
#if defined(__GNUC__)
    __attribute__((always_inline))
#endif
    XmlAttribute*
    AddAttributeSlot() {
        if (pendingCount_ == pendingCapacity_ && !GrowAttributes())
            return nullptr;
        return &pending_[pendingCount_++];
    }
    // An attribute with no spans yet.
    XmlAttribute* AddAttribute() {
        XmlAttribute* slot = AddAttributeSlot();
        return slot != nullptr ? new (slot) XmlAttribute() : nullptr;
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
        // a list taken in place is given back later by its exact size, which the arena keeps only up to
        // kExactLimit: a longer one moves to a block of its own first
        if (count > 0 && !pendingOwnBlock_ && count * sizeof(XmlAttribute) > XmlArena::kExactLimit) {
            std::size_t bytes = XmlArena::RoundUp(count * sizeof(XmlAttribute));
            auto* own = static_cast<XmlAttribute*>(arena_->Allocate(bytes));
            if (own == nullptr) {  // the arena notes it: the load reports out of memory
                pendingCount_ = 0;
                return;
            }
            std::memcpy(static_cast<void*>(own), pending_, count * sizeof(XmlAttribute));
            pending_ = own;
            pendingCapacity_ = bytes / sizeof(XmlAttribute);
            pendingOwnBlock_ = true;
        }
        if (count > 0) {
            node->attributes = pending_;
            node->attributeCount = static_cast<std::uint32_t>(count);
            // a block of its own is given back by its address: a capacity cut to the limit is safe
            node->attributeCapacity = static_cast<std::uint32_t>(
                !pendingOwnBlock_ ? count : std::min<std::size_t>(pendingCapacity_, kXmlMaxAttributeCapacity));
            node->edited = 0;  // as made: set with the capacity, the word is stored whole
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

    // The tag whose attributes are being read.
    struct TagInfo {
        bool declaration = false;
        const char* start = nullptr;  // its "<"
        const char* what = nullptr;   // for messages
    };

    State Tag(char*& p);
    // Usual lines of a database, read without the state machine; see xml_parser.cpp.
    State UsualLines(char*& cursor, State state);
    State TagBody(char*& p, XmlNode* node);
    // a start tag's attributes on the usual lines: in line in UsualLines, with the unusual cases out of line
    VANTREL_XML_INLINE State PlainAttributes(char*& p, const TagInfo& tag);
    VANTREL_XML_NOINLINE State OtherAttributes(char*& p, const TagInfo& tag, XmlAttribute& slot);
    VANTREL_XML_NOINLINE State AfterPlainValue(char*& p, const TagInfo& tag);
    State TagAfterName(char*& p, XmlNode* node, const TagInfo& tag);
    // the steps of a start tag run once per attribute of the file: kept inline in TagBody
    VANTREL_XML_INLINE State Attributes(char*& cursor, const TagInfo& tag);
    VANTREL_XML_INLINE bool PlainAttribute(char*& p, XmlAttribute& slot);
    VANTREL_XML_INLINE State Attribute(char*& p, const TagInfo& tag, XmlAttribute& attribute);
    VANTREL_XML_INLINE char* QuotedValue(char* p, XmlAttribute* attribute);
    VANTREL_XML_INLINE State AfterValue(char*& p, const TagInfo& tag);
    State ElementTagEnd(char*& p, const TagInfo& tag);
    State DeclarationEnd(char*& p, const TagInfo& tag);
    State Content(char*& p);
    State Section(char*& p, std::uint32_t keep, XmlNodeKind kind, std::size_t keywordLength, const char* what);
    State Comment(char*& p);
    State Doctype(char*& p);
    State DoctypeWords(char*& p, bool keep, bool& closed);
    State MarkupDeclaration(char*& p);
    std::optional<State> SpaceAfterDeclarationWord(char*& p, bool closingAllowed);

    XmlNode* current_;
    XmlArena* arena_;
    const char* base_;  // the text attribute spans are offsets into
    std::uint32_t step_;
    std::uint32_t options_;
    bool trimValues_;
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

}  // namespace vantrel::parsing
