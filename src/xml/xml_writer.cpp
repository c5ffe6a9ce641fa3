#include "xml/xml_writer.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "files/file_read.h"
#include "xml_node.h"
#include "xml_records.h"
#include "xml_walk_stack.h"

namespace vantrel {

// The writer's way into what XmlVerbatim found.
class XmlVerbatimUse {
public:
    using Span = XmlVerbatim::Span;
    static const Span* SpanOf(const XmlVerbatim& verbatim, const XmlNode* child) {
        auto found = verbatim.spans_.find(child);
        return found != verbatim.spans_.end() ? &found->second : nullptr;
    }
    // The parent whose children may be copied into this output of node's tree; null when verbatim was found for
    // another tree, layout or line end. The parent is compared with, never read: it may have been removed since.
    static const XmlNode* ParentFor(const XmlVerbatim& verbatim, const XmlNode* node, XmlLayout layout,
                                    XmlLineEnd lineEnd) {
        if (node->arena == nullptr || node->arena->tree != verbatim.tree_ || verbatim.layout_ != layout ||
            verbatim.lineEnd_ != lineEnd)
            return nullptr;
        return XmlRecords::NodeOf(verbatim.parent_);
    }
    static std::uint32_t Depth(const XmlVerbatim& verbatim) { return verbatim.depth_; }
};

namespace {

// Large enough that the sink sees few calls, small enough to stay in the second-level cache.
constexpr std::size_t kBufferSize = 128 * 1024;

// What the writer needs to know of a byte.
enum ByteClass : unsigned char {
    kNameStart = 1,    // may begin a name as it stands
    kNameByte = 2,     // may continue a reference's name
    kNeedsEscape = 4,  // "<" or "&": escaped in text and element attribute values ("&" unless a reference)
    kDoubleQuote = 8,  // the two quotes decide the quote character
    kApostrophe = 16,
    kBothQuotes = kDoubleQuote | kApostrophe,
};

struct ByteClasses {
    unsigned char table[256] = {};
    constexpr ByteClasses() {
        for (int c = 'a'; c <= 'z'; ++c) table[c] = kNameStart | kNameByte;
        for (int c = 'A'; c <= 'Z'; ++c) table[c] = kNameStart | kNameByte;
        for (int c = 0x80; c <= 0xFF; ++c) table[c] = kNameStart | kNameByte;
        table[static_cast<unsigned char>('_')] = kNameStart | kNameByte;
        table[static_cast<unsigned char>(':')] = kNameStart | kNameByte;
        for (int c = '0'; c <= '9'; ++c) table[c] = kNameByte;
        table[static_cast<unsigned char>('-')] = kNameByte;
        table[static_cast<unsigned char>('.')] = kNameByte;
        table[static_cast<unsigned char>('<')] = kNeedsEscape;
        table[static_cast<unsigned char>('&')] = kNeedsEscape;
        table[static_cast<unsigned char>('"')] = kDoubleQuote;
        table[static_cast<unsigned char>('\'')] = kApostrophe;
    }
    unsigned Of(char c) const { return table[static_cast<unsigned char>(c)]; }
};

constexpr ByteClasses kBytes;

// The escape and quote classes of data's bytes, or-ed together.
unsigned Classify(const char* data, std::uint32_t length) {
    unsigned seen = 0;
    for (std::uint32_t i = 0; i < length; ++i) seen |= kBytes.Of(data[i]);
    return seen & (kNeedsEscape | kBothQuotes);
}

// Eight bytes at a time: nonzero when one of the word's bytes is c (exact as to whether there is one).
constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;
inline std::uint64_t Holds(std::uint64_t word, char c) {
    std::uint64_t match = word ^ (kEveryByte * static_cast<unsigned char>(c));
    return (match - kEveryByte) & ~match & (kEveryByte << 7);
}

// Nonzero when the word holds "<", "&", a double quote or an apostrophe: with bits 0 and 2 set, the last three
// (and "#", which only costs a second look) all become an apostrophe. Zero bytes, which pad short pieces, are
// none of them.
inline std::uint64_t HoldsSpecial(std::uint64_t word) {
    return Holds(word | kEveryByte * 5, '\'') | Holds(word, '<');
}

inline std::uint64_t Load64(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

inline std::uint32_t Load32(const char* p) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Copies size bytes in word moves that may overlap and never read past from's end (short pieces are common:
// this avoids a call per piece); look sees every byte at least once, in words padded with zero bytes.
template <typename Look>
inline char* CopyWords(char* to, const char* from, std::uint32_t size, Look&& look) {
    if (size >= 8) {
        std::uint32_t at = 0;
        for (; at + 8 <= size; at += 8) {
            std::uint64_t word = Load64(from + at);
            look(word);
            std::memcpy(to + at, &word, 8);
        }
        if (at < size) {
            std::uint64_t word = Load64(from + size - 8);
            look(word);
            std::memcpy(to + size - 8, &word, 8);
        }
    } else if (size >= 4) {
        std::uint32_t head = Load32(from), tail = Load32(from + size - 4);
        look(head | std::uint64_t{tail} << 32);
        std::memcpy(to, &head, 4);
        std::memcpy(to + size - 4, &tail, 4);
    } else if (size > 0) {
        char first = from[0], middle = from[size / 2], last = from[size - 1];
        auto byte = [](char c) { return std::uint64_t{static_cast<unsigned char>(c)}; };
        look(byte(first) | byte(middle) << 8 | byte(last) << 16);
        to[0] = first;
        to[size / 2] = middle;
        to[size - 1] = last;
    }
    return to + size;
}

inline char* Copy(char* to, const char* from, std::uint32_t size) {
    return CopyWords(to, from, size, [](std::uint64_t) {});
}

// A name that begins with a digit, "-" or "." (which the tolerant parser reads from a damaged file, but no
// XML reader takes) gets a "_" in front.
bool NeedsNamePrefix(const char* name, std::uint32_t length) {
    return length > 0 && (kBytes.Of(name[0]) & kNameStart) == 0;
}

// Whether the bytes after an "&" complete a reference: a name, "#" and digits, or "#x" and hex digits,
// then ";".
bool StartsReference(const char* p, const char* end) {
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    auto isHex = [&](char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    const char* start = p;
    if (p < end && *p == '#') {
        bool hex = ++p < end && *p == 'x';
        start = hex ? ++p : p;
        while (p < end && (hex ? isHex(*p) : isDigit(*p))) ++p;
    } else if (p < end && (kBytes.Of(*p) & kNameStart) != 0) {
        while (p < end && (kBytes.Of(*p) & kNameByte) != 0) ++p;
    }
    return p > start && p < end && *p == ';';
}

// Collects the output in a buffer and hands it to the sink in large pieces: room the sink lends, or a buffer of
// its own. Callers that know the size of a whole piece ask for Room once and copy without further checks.
class Output {
public:
    explicit Output(XmlSink& sink) : sink_(sink) { TakeRoom(); }

    bool Ok() const { return ok_; }
    // Stops the output: nothing more reaches the sink, not even what is buffered.
    void Fail() {
        cursor_ = begin_;
        ok_ = false;
    }
    // Starts again after a failure, dropping what is buffered (for a sink that takes each piece on its own).
    void Restart() {
        if (lent_)
            HandBack();
        cursor_ = begin_;
        ok_ = true;
    }

    // Where size bytes can be written before Commit; null when size is larger than a whole buffer.
    char* Room(std::size_t size) {
        if (size <= static_cast<std::size_t>(limit_ - cursor_))
            return cursor_;
        Flush();
        return size <= kBufferSize ? cursor_ : nullptr;
    }
    void Commit(char* end) { cursor_ = end; }

    void Put(const char* data, std::size_t size) {
        if (size <= static_cast<std::size_t>(limit_ - cursor_)) {
            std::memcpy(cursor_, data, size);
            cursor_ += size;
        } else {
            PutLarge(data, size);
        }
    }
    void Put(char c) {
        if (cursor_ == limit_)
            Flush();
        *cursor_++ = c;
    }
    void Flush() {
        HandBack();
        TakeRoom();
    }

private:
    void PutLarge(const char* data, std::size_t size) {
        Flush();
        if (size < kBufferSize) {
            std::memcpy(cursor_, data, size);
            cursor_ += size;
        } else if (ok_) {
            HandBack();
            ok_ = sink_.Write(data, size);
            TakeRoom();
        }
    }
    // What is buffered goes to the sink, and lent room goes back with it.
    void HandBack() {
        std::size_t used = static_cast<std::size_t>(cursor_ - begin_);
        if (ok_ && (used > 0 || lent_))
            ok_ = sink_.Write(begin_, used);
        lent_ = false;
        cursor_ = begin_;
    }
    // Lent room when the sink has some (and the output still goes on), else the buffer of our own.
    void TakeRoom() {
        std::size_t size = 0;
        char* room = ok_ ? sink_.Lend(kBufferSize, size) : nullptr;
        lent_ = room != nullptr && size >= kBufferSize;
        if (!lent_) {
            if (own_ == nullptr)
                own_.reset(new char[kBufferSize]);
            room = own_.get();
            size = kBufferSize;
        }
        begin_ = cursor_ = room;
        limit_ = room + size;
    }

    XmlSink& sink_;
    std::unique_ptr<char[]> own_;
    char* begin_ = nullptr;
    char* cursor_ = nullptr;
    char* limit_ = nullptr;
    bool lent_ = false;
    bool ok_ = true;
};

template <std::size_t N>
char* CopyLiteral(char* to, const char (&literal)[N]) {
    std::memcpy(to, literal, N - 1);
    return to + N - 1;
}

// A name or value: borrowed bytes and their count.
struct Span {
    const char* data;
    std::uint32_t size;
};

// Start tags with more attributes than this are written in pieces.
constexpr std::uint32_t kMaxCopiedAttributes = 32;

// Tabs for the indentation, handed out as a slice.
struct TabRun {
    static constexpr std::uint32_t kLength = 32;
    char tabs[kLength] = {};
    constexpr TabRun() {
        for (char& tab : tabs) tab = '\t';
    }
};

constexpr TabRun kTabs;

class Writer {
public:
    Writer(XmlSink& sink, XmlLayout layout, XmlLineEnd lineEnd)
        : out_(sink),
          indented_(layout == XmlLayout::Indented),
          lineEnd_(lineEnd == XmlLineEnd::CrLf ? "\r\n" : "\n\n"),
          lineEndSize_(lineEnd == XmlLineEnd::CrLf ? 2 : 1) {}

    bool Ok() const { return out_.Ok(); }
    // Hands what is buffered to the sink; false when the output failed at any point.
    bool Finish() {
        out_.Flush();
        return out_.Ok();
    }

    // Copies the children of parent that verbatim holds instead of writing them, at the given indentation.
    void Use(const XmlVerbatim& verbatim, const XmlNode* parent, std::uint32_t depth) {
        verbatim_ = &verbatim;
        verbatimParent_ = parent;
        verbatimDepth_ = depth;
    }
    // Starts a new output at the given indentation, after one that may have failed.
    void Restart(std::uint32_t depth) {
        out_.Restart();
        depth_ = depth;
    }

    // Writes node and its subtree without recursion.
    void Write(const XmlNode* node) {
        if (node == nullptr)
            return;
        XmlWalkStack stack;
        if (WriteStart(node))
            stack.Push(node);
        while (!stack.Empty() && out_.Ok()) {
            XmlWalkStack::Frame& frame = stack.Top();
            if (frame.next < frame.node->childCount) {
                const XmlNode* child = frame.node->children[frame.next++];
                if (child == nullptr || (frame.node == verbatimParent_ && CopyVerbatim(child)))
                    continue;
                if (WriteStart(child))
                    stack.Push(child);
                continue;
            }
            const XmlNode* done = frame.node;
            stack.Pop();
            Pop();
            WriteIndent();
            WriteEndTag(done);
            LineEnd();
        }
    }

private:
    // The bytes the child was read from, when they are what writing it here would give.
    bool CopyVerbatim(const XmlNode* child) {
        if (child->edited || depth_ != verbatimDepth_)
            return false;
        const XmlVerbatimUse::Span* span = XmlVerbatimUse::SpanOf(*verbatim_, child);
        if (span == nullptr)
            return false;
        out_.Put(child->arena->text + span->at, span->length);
        return true;
    }

    void Push() {
        if (indented_)
            ++depth_;
    }
    void Pop() {
        if (depth_ > 0)
            --depth_;
    }
    void WriteIndent() {
        if (depth_ <= TabRun::kLength) {
            // the whole run in one fixed-size move; only depth_ of it counts
            char* p = out_.Room(TabRun::kLength);
            std::memcpy(p, kTabs.tabs, TabRun::kLength);
            out_.Commit(p + depth_);
            return;
        }
        for (std::uint32_t left = depth_; left > 0;) {
            std::uint32_t slice = left < TabRun::kLength ? left : TabRun::kLength;
            out_.Put(kTabs.tabs, slice);
            left -= slice;
        }
    }
    void LineEnd() {
        if (!indented_)
            return;
        char* p = out_.Room(2);
        std::memcpy(p, lineEnd_, 2);
        out_.Commit(p + lineEndSize_);
    }

    // The node's name; a node without one is written "anonymous".
    static Span NameOf(const XmlNode* node) {
        const char* name = XmlNodeName(node);
        if (name == nullptr || node->nameLength == 0)
            return {"anonymous", 9};
        return {name, node->nameLength};
    }
    // "<" (with "?" for a declaration) and the name.
    void WriteOpenTag(const XmlNode* node, bool declaration) {
        const auto [name, length] = NameOf(node);
        char* p = out_.Room(std::size_t{length} + 3);
        if (p == nullptr) {
            out_.Put(declaration ? "<?" : "<", declaration ? 2 : 1);
            PutName(name, length);
            return;
        }
        *p++ = '<';
        if (declaration)
            *p++ = '?';
        if (NeedsNamePrefix(name, length))
            *p++ = '_';
        out_.Commit(Copy(p, name, length));
    }
    void WriteEndTag(const XmlNode* node) {
        const auto [name, length] = NameOf(node);
        char* p = out_.Room(std::size_t{length} + 4);
        if (p == nullptr) {
            out_.Put("</", 2);
            PutName(name, length);
            out_.Put('>');
            return;
        }
        p = CopyLiteral(p, "</");
        if (NeedsNamePrefix(name, length))
            *p++ = '_';
        p = Copy(p, name, length);
        *p++ = '>';
        out_.Commit(p);
    }
    void PutName(const char* name, std::uint32_t length) {
        if (NeedsNamePrefix(name, length))
            out_.Put('_');
        out_.Put(name, length);
    }

    // The quote a value is written between: the one it does not hold. A value holding both cannot be read
    // back the same, and fails the output.
    char QuoteFor(unsigned seen) {
        if ((seen & kDoubleQuote) == 0)
            return '"';
        if ((seen & kApostrophe) != 0)
            out_.Fail();
        return '\'';
    }

    // Attributes in pieces, each value looked at for what it needs: the start tags that CopyStartTag leaves,
    // and declarations. A declaration's bare word is what the file held, and is written back as it was.
    void WriteAttributes(const XmlNode* node, bool element) {
        for (std::uint32_t i = 0; i < node->attributeCount && out_.Ok(); ++i) {
            const XmlAttribute& attribute = node->attributes[i];
            const char* name = XmlAttributeName(node, attribute);
            std::uint32_t nameLength = XmlAttributeNameLength(attribute, name);
            // a name that is not there, or empty, would not read back as an attribute
            if (nameLength > 0)
                PutAttribute({name, nameLength}, {XmlAttributeValue(node, attribute), attribute.valueLength}, element);
        }
    }
    void PutAttribute(Span name, Span value, bool element) {
        char quote = value.data != nullptr ? QuoteFor(Classify(value.data, value.size)) : '"';
        if (!out_.Ok())
            return;
        out_.Put(' ');
        PutName(name.data, name.size);
        if (value.data != nullptr) {
            out_.Put('=');
            out_.Put(quote);
            if (element) {
                PutCharacterData(value.data, value.size);
            } else {
                out_.Put(value.data, value.size);
            }
            out_.Put(quote);
        } else if (element) {
            out_.Put("=\"\"", 3);
        }
    }
    // A quoted DOCTYPE word, as it stands between the quote it does not hold.
    void PutQuotedWord(const char* value, std::uint32_t length) {
        char quote = QuoteFor(Classify(value, length));
        out_.Put(quote);
        out_.Put(value, length);
        out_.Put(quote);
    }

    // Values and text as they stand, except what no XML reader takes there, which only a damaged file or a
    // caller of SetValue can bring: "<" becomes "&lt;", and "&" that starts no reference becomes "&amp;".
    void PutCharacterData(const char* data, std::uint32_t length) {
        if ((Classify(data, length) & kNeedsEscape) == 0) {
            out_.Put(data, length);
            return;
        }
        const char* end = data + length;
        const char* from = data;
        for (const char* p = data; p < end; ++p) {
            if (*p != '<' && (*p != '&' || StartsReference(p + 1, end)))
                continue;
            out_.Put(from, static_cast<std::size_t>(p - from));
            if (*p == '<') {
                out_.Put("&lt;", 4);
            } else {
                out_.Put("&amp;", 5);
            }
            from = p + 1;
        }
        out_.Put(from, static_cast<std::size_t>(end - from));
    }

    template <std::size_t N>
    void WriteMarkupDeclaration(const char (&keyword)[N], const XmlNode* node) {
        out_.Put(keyword, N - 1);
        out_.Put(XmlNodeName(node), node->nameLength);
        if (XmlNodeValue(node) != nullptr) {
            out_.Put(' ');
            out_.Put(XmlNodeValue(node), node->valueLength);
        }
        out_.Put('>');
    }
    template <std::size_t N, std::size_t M>
    void WriteSection(const char (&open)[N], const char (&close)[M], const XmlNode* node) {
        out_.Put(open, N - 1);
        out_.Put(XmlNodeValue(node), node->valueLength);
        out_.Put(close, M - 1);
    }
    void WriteDoctype(const XmlNode* node) {
        out_.Put("<!DOCTYPE", 9);
        for (std::uint32_t i = 0; i < node->attributeCount; ++i) {
            const XmlAttribute& attribute = node->attributes[i];
            const char* name = XmlAttributeName(node, attribute);
            const char* value = XmlAttributeValue(node, attribute);
            if (name != nullptr) {
                std::uint32_t nameLength = XmlAttributeNameLength(attribute, name);
                if (nameLength == 0)
                    continue;  // an empty word: nothing would read back
                out_.Put(' ');
                out_.Put(name, nameLength);
            } else {
                out_.Put(' ');
                if (value != nullptr)
                    PutQuotedWord(value, attribute.valueLength);
            }
        }
        if (node->childCount > 0) {
            WriteInternalSubset(node);
        } else if (XmlNodeValue(node) != nullptr) {
            out_.Put(" [", 2);
            out_.Put(XmlNodeValue(node), node->valueLength);
            out_.Put(']');
        }
        out_.Put('>');
    }
    void WriteInternalSubset(const XmlNode* node) {
        const char* separator = indented_ ? lineEnd_ : " ";
        std::size_t separatorSize = indented_ ? lineEndSize_ : 1;
        out_.Put(separator, separatorSize);
        out_.Put('[');
        out_.Put(separator, separatorSize);
        Push();
        for (std::uint32_t i = 0; i < node->childCount; ++i) {
            const XmlNode* child = node->children[i];
            if (child != nullptr && IsMarkupDeclaration(child->kind))
                WriteStart(child);  // leaves: never pushes
        }
        Pop();
        out_.Put(']');
    }
    static bool IsMarkupDeclaration(XmlNodeKind kind) {
        return kind == XmlNodeKind::EntityDecl || kind == XmlNodeKind::AttlistDecl ||
               kind == XmlNodeKind::ElementDecl || kind == XmlNodeKind::NotationDecl;
    }

    // A node that gives no bytes gets no line either: an empty line would not read back as anything.
    static bool WritesNothing(const XmlNode* node) {
        switch (node->kind) {
            case XmlNodeKind::Text:
                return XmlNodeValue(node) == nullptr || node->valueLength == 0;
            case XmlNodeKind::CData:
            case XmlNodeKind::Comment:
            case XmlNodeKind::IncludeSection:
                return XmlNodeValue(node) == nullptr;
            case XmlNodeKind::EntityDecl:
            case XmlNodeKind::AttlistDecl:
            case XmlNodeKind::ElementDecl:
            case XmlNodeKind::NotationDecl:
                return XmlNodeName(node) == nullptr;
            case XmlNodeKind::Document:
            case XmlNodeKind::None:
                return true;
            default:
                return false;
        }
    }

    // The element up to its children; true when its children and end tag are still to come. Children that
    // give no bytes count as none, so that what is written reads back the same.
    bool WriteElement(const XmlNode* node) {
        if (!CopyStartTag(node)) {
            WriteIndent();
            WriteOpenTag(node, false);
            WriteAttributes(node, true);
        }
        const XmlNode* only = nullptr;
        std::uint32_t shown = 0;
        for (std::uint32_t i = 0; i < node->childCount && shown < 2; ++i) {
            const XmlNode* child = node->children[i];
            if (child != nullptr && !WritesNothing(child) && shown++ == 0)
                only = child;
        }
        if (shown == 0) {
            char* p = out_.Room(4);
            p = CopyLiteral(p, "/>");
            std::memcpy(p, lineEnd_, 2);
            out_.Commit(indented_ ? p + lineEndSize_ : p);
            return false;
        }
        out_.Put('>');
        if (shown == 1 && only->kind == XmlNodeKind::Text) {
            PutCharacterData(XmlNodeValue(only), only->valueLength);
            WriteEndTag(node);
            LineEnd();
            return false;
        }
        LineEnd();
        Push();
        return true;
    }
    // The common start tag, indentation to the last attribute, copied in one piece with no check between its
    // parts; false, with nothing committed, when it is too large or deep, or a value needs a second look.
    bool CopyStartTag(const XmlNode* node) {
        const std::uint32_t count = node->attributeCount;
        if (count > kMaxCopiedAttributes)
            return false;
        const Span name = NameOf(node);
        // the whole tab run, '<', '_', name, then per attribute ' ', '_', name, '=', quote, value, quote
        std::size_t size = TabRun::kLength + std::size_t{name.size} + 2;
        Span names[kMaxCopiedAttributes];
        Span values[kMaxCopiedAttributes];
        for (std::uint32_t i = 0; i < count; ++i) {
            const XmlAttribute& attribute = node->attributes[i];
            const char* attributeName = XmlAttributeName(node, attribute);
            names[i] = {attributeName, XmlAttributeNameLength(attribute, attributeName)};
            values[i] = {XmlAttributeValue(node, attribute), attribute.valueLength};
            size += std::size_t{names[i].size} + values[i].size + 5;
        }
        char* p = depth_ <= TabRun::kLength ? out_.Room(size) : nullptr;
        if (p == nullptr)
            return false;
        std::memcpy(p, kTabs.tabs, TabRun::kLength);
        p += indented_ ? depth_ : 0;
        *p++ = '<';
        if (NeedsNamePrefix(name.data, name.size))
            *p++ = '_';
        p = Copy(p, name.data, name.size);
        std::uint64_t special = 0;
        for (std::uint32_t i = 0; i < count; ++i) p = CopyAttribute(p, names[i], values[i], special);
        if (special != 0)
            return false;
        out_.Commit(p);
        return true;
    }
    // One attribute of an element; special gains the bytes of its value that need a second look. An
    // attribute without a value is written with an empty one: a bare name is not XML.
    static char* CopyAttribute(char* p, Span name, Span value, std::uint64_t& special) {
        // a name that is not there, or empty, would not read back as an attribute
        if (name.data == nullptr || name.size == 0)
            return p;
        *p++ = ' ';
        if (NeedsNamePrefix(name.data, name.size))
            *p++ = '_';
        p = Copy(p, name.data, name.size);
        if (value.data == nullptr)
            return CopyLiteral(p, "=\"\"");
        p[0] = '=';
        p[1] = '"';
        p = CopyWords(p + 2, value.data, value.size, [&](std::uint64_t word) { special |= HoldsSpecial(word); });
        *p++ = '"';
        return p;
    }

    // Writes the node up to its children; true when its children and end tag are still to come.
    bool WriteStart(const XmlNode* node) {
        if (WritesNothing(node))
            return false;
        if (node->kind == XmlNodeKind::Element)
            return WriteElement(node);
        WriteIndent();
        switch (node->kind) {
            case XmlNodeKind::Declaration:
                WriteOpenTag(node, true);
                WriteAttributes(node, false);
                out_.Put("?>", 2);
                break;
            case XmlNodeKind::Text:
                PutCharacterData(XmlNodeValue(node), node->valueLength);
                break;
            case XmlNodeKind::CData:
                WriteSection("<![CDATA[", "]]>", node);
                break;
            case XmlNodeKind::Comment:
                WriteSection("<!--", "-->", node);
                break;
            case XmlNodeKind::IncludeSection:
                WriteSection("<![INCLUDE[", "]]>", node);
                break;
            case XmlNodeKind::Doctype:
                WriteDoctype(node);
                break;
            case XmlNodeKind::EntityDecl:
                WriteMarkupDeclaration("<!ENTITY ", node);
                break;
            case XmlNodeKind::AttlistDecl:
                WriteMarkupDeclaration("<!ATTLIST ", node);
                break;
            case XmlNodeKind::ElementDecl:
                WriteMarkupDeclaration("<!ELEMENT ", node);
                break;
            case XmlNodeKind::NotationDecl:
                WriteMarkupDeclaration("<!NOTATION ", node);
                break;
            case XmlNodeKind::Element:  // above
            case XmlNodeKind::Document:
            case XmlNodeKind::None:
                break;
        }
        LineEnd();
        return false;
    }

    Output out_;
    bool indented_;
    const char* lineEnd_;  // two bytes, of which lineEndSize_ count
    std::size_t lineEndSize_;
    std::uint32_t depth_ = 0;  // nesting level: TABs before a line
    // What may be copied instead of written: children of verbatimParent_ at verbatimDepth_.
    const XmlVerbatim* verbatim_ = nullptr;
    const XmlNode* verbatimParent_ = nullptr;
    std::uint32_t verbatimDepth_ = 0;
};

}  // namespace

bool XmlStringSink::Write(const char* data, std::size_t size) {
    try {
        out_.append(data, size);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool XmlFdSink::Write(const char* data, std::size_t size) {
    if (error_ != 0)
        return false;
    errno = 0;
    if (!WriteAll(fd_, data, size)) {
        error_ = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

namespace {

// Takes a writer's bytes and compares them with the text from a place on; fails at the first difference.
class CompareSink : public XmlSink {
public:
    void Start(const char* at, const char* end) {
        at_ = at;
        end_ = end;
    }
    const char* At() const { return at_; }
    bool Write(const char* data, std::size_t size) override {
        if (size > static_cast<std::size_t>(end_ - at_) || std::memcmp(at_, data, size) != 0)
            return false;
        at_ += size;
        return true;
    }

private:
    const char* at_ = nullptr;
    const char* end_ = nullptr;
};

using VerbatimSpans = std::unordered_map<const void*, XmlVerbatimUse::Span>;

// Adds to found the element children of parent in [from, to), not yet in known, whose text is what the writer
// gives for them at depth. Stops between two children once stop is set.
void FindVerbatimChildren(std::string_view text, const XmlNode* parent, XmlLayout layout, XmlLineEnd lineEnd,
                          std::uint32_t depth, std::uint32_t from, std::uint32_t to, const VerbatimSpans& known,
                          VerbatimSpans& found, const std::atomic<bool>* stop) {
    CompareSink sink;
    Writer writer(sink, layout, lineEnd);
    for (std::uint32_t i = from; i < to && (stop == nullptr || !stop->load(std::memory_order_relaxed)); ++i) {
        const XmlNode* child = parent->children[i];
        // the text of an element read from it starts with the indentation, "<" and its name
        if (child == nullptr || child->kind != XmlNodeKind::Element || child->edited || !child->nameBorrowed ||
            child->nameAt == kXmlNoSpan || child->nameAt < depth + 1 || known.count(child) != 0)
            continue;
        std::uint32_t start = child->nameAt - depth - 1;
        sink.Start(text.data() + start, text.data() + text.size());
        writer.Restart(depth);
        writer.Write(child);
        if (writer.Finish())
            found.emplace(child,
                          XmlVerbatimUse::Span{start, static_cast<std::uint32_t>(sink.At() - text.data() - start)});
    }
}

// The indentation of parent's children when the whole document is written.
std::uint32_t ChildDepth(const XmlNode* parent, XmlLayout layout) {
    std::uint32_t depth = 0;
    if (layout == XmlLayout::Indented) {
        for (const XmlNode* node = parent; node->parent != node; node = node->parent) ++depth;
    }
    return depth;
}

// From this many children on, the second half is looked at on a thread of its own.
constexpr std::uint32_t kVerbatimThreadFrom = 1024;

// FindVerbatimChildren over all of parent's children, the later half on a second thread when there are many.
void FindVerbatimChildren(std::string_view text, const XmlNode* parent, XmlLayout layout, XmlLineEnd lineEnd,
                          std::uint32_t depth, bool twoThreads, VerbatimSpans& spans, const std::atomic<bool>* stop) {
    std::uint32_t count = parent->childCount;
    std::uint32_t half = twoThreads && count >= kVerbatimThreadFrom ? count / 2 : count;
    // both threads read spans, neither adds to it until both are done
    VerbatimSpans earlier, later;
    bool laterFound = false;
    std::thread helper;
    if (half < count) {
        try {
            helper = std::thread([&] {
                try {
                    FindVerbatimChildren(text, parent, layout, lineEnd, depth, half, count, spans, later, stop);
                    laterFound = true;
                } catch (const std::bad_alloc&) {
                    // what this thread found is left out
                }
            });
        } catch (const std::system_error&) {
            half = count;  // no thread to be had: all of them here
        }
    }
    try {
        FindVerbatimChildren(text, parent, layout, lineEnd, depth, 0, half, spans, earlier, stop);
    } catch (...) {
        if (helper.joinable())
            helper.join();
        throw;
    }
    if (helper.joinable())
        helper.join();
    spans.insert(earlier.begin(), earlier.end());
    if (laterFound)
        spans.insert(later.begin(), later.end());
}

}  // namespace

XmlVerbatim XmlVerbatim::Find(std::string_view text, XmlNodeRef parent, XmlLayout layout, XmlLineEnd lineEnd) {
    XmlVerbatim verbatim;
    verbatim.Extend(text, parent, layout, lineEnd);
    return verbatim;
}

void XmlVerbatim::Extend(std::string_view text, XmlNodeRef parent, XmlLayout layout, XmlLineEnd lineEnd,
                         const std::atomic<bool>* stop, bool twoThreads) {
    const XmlNode* record = XmlRecords::NodeOf(parent);
    if (record == nullptr || record->kind != XmlNodeKind::Element || record->arena == nullptr ||
        record->arena->text == nullptr || record->arena->text != text.data())
        return;
    // what was found for another list, tree or format is of no use here
    if (parent_ != parent || tree_ != record->arena->tree || layout_ != layout || lineEnd_ != lineEnd)
        *this = XmlVerbatim();
    parent_ = parent;
    tree_ = record->arena->tree;
    layout_ = layout;
    lineEnd_ = lineEnd;
    depth_ = ChildDepth(record, layout);
    try {
        FindVerbatimChildren(text, record, layout, lineEnd, depth_, twoThreads, spans_, stop);
    } catch (const std::bad_alloc&) {
        // what was found before stands; the rest is written
    }
}

bool XmlWrite(XmlSink& sink, XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd) {
    return XmlWrite(sink, node, layout, lineEnd, XmlVerbatim());
}

bool XmlWrite(XmlSink& sink, XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd, const XmlVerbatim& verbatim) {
    const XmlNode* record = XmlRecords::NodeOf(node);
    if (record == nullptr)
        return true;
    try {
        Writer writer(sink, layout, lineEnd);
        if (const XmlNode* parent = XmlVerbatimUse::ParentFor(verbatim, record, layout, lineEnd))
            writer.Use(verbatim, parent, XmlVerbatimUse::Depth(verbatim));
        if (record->parent == record && record->kind == XmlNodeKind::Document) {
            for (std::uint32_t i = 0; i < record->childCount && writer.Ok(); ++i) writer.Write(record->children[i]);
        } else {
            writer.Write(record);
        }
        return writer.Finish();
    } catch (const std::bad_alloc&) {
        // the buffer and deep trees' walks live on the heap
        return false;
    }
}

std::string XmlWriteToString(XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd) {
    std::string out;
    XmlStringSink sink(out);
    XmlWrite(sink, node, layout, lineEnd);
    return out;
}

}  // namespace vantrel
