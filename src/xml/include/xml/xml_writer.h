#pragma once

// Serialises a node or a whole document. Names, values and text are written byte for byte as they stand, so a
// well-formed file that was read comes back with the same bytes (the layout aside). The writer's own line ends
// are a property of the output (CR LF for files, so the same tree gives the same bytes on every platform).
//
// What is written is always well-formed, whatever the tree holds (a damaged file read by the tolerant parser
// can give a tree that is not):
// - attribute values are written between double quotes, except a value that holds a double quote (it came
//   single-quoted from a file), which is written between apostrophes. A value holding both quote characters
//   cannot be written so that it reads back the same: the writer stops there and reports failure, so that a
//   save refuses rather than leaving a file that parses differently. The same holds for the quoted words of
//   a DOCTYPE;
// - an element's attribute without a value is written with an empty value, name=""; a declaration's bare word
//   stays bare (<?pi b?>);
// - "<" in an element's attribute value or in text is written "&lt;", and an "&" that starts no reference
//   "&amp;";
// - a name that starts with a digit, "-" or "." gets a "_" in front; an element without a name is written
//   <anonymous>...</anonymous>;
// - nodes that give no bytes (empty text, a declaration without name) give no line, and an element whose
//   children all give none is written <a/>; attributes and DOCTYPE words with an empty name are left out.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "xml/xml_node_ref.h"

namespace vantrel {

enum class XmlLayout {
    Indented,  // one node per line, one TAB per nesting level
    Compact,   // no line ends, no indentation
};

enum class XmlLineEnd {
    CrLf,  // files (Data.xml is shared with a Windows client)
    Lf,
};

// Where the writer's bytes go. The writer buffers and hands over large pieces.
class XmlSink {
public:
    virtual ~XmlSink() = default;
    // False when the bytes could not be taken; the writer then stops.
    virtual bool Write(const char* data, std::size_t size) = 0;
    // A sink that would copy what Write hands it may lend room of its own instead (at least atLeast bytes; size
    // gets how many), which spares that copy. The writer fills it and hands it back as the data of its next
    // Write, with the bytes it filled (possibly none), and does not touch it after that; a writer that stops
    // after a failure may never hand it back. Null, the default: the writer uses a buffer of its own.
    virtual char* Lend(std::size_t atLeast, std::size_t& size) {
        (void)atLeast;
        size = 0;
        return nullptr;
    }
};

// Appends to a string.
class XmlStringSink : public XmlSink {
public:
    explicit XmlStringSink(std::string& out) : out_(out) {}
    bool Write(const char* data, std::size_t size) override;

private:
    std::string& out_;
};

// Writes to an open file descriptor (retrying short writes and EINTR); the caller owns, syncs and
// closes the descriptor. Fails from the first write error on.
class XmlFdSink : public XmlSink {
public:
    explicit XmlFdSink(int fd) : fd_(fd) {}
    bool Write(const char* data, std::size_t size) override;
    int Error() const { return error_; }  // errno of the first failure, 0 if none

private:
    int fd_;
    int error_ = 0;
};

// The children of one element whose bytes in the text they were parsed from are exactly what the writer gives for
// them where they stand, with one layout and line end. A write that meets such a child, untouched since the parse
// (no change through the handles has reached it), copies those bytes instead of writing it again: for a large
// file in the writer's own layout, most of the work of a save.
class XmlVerbatim {
public:
    // Compares each element child of parent, untouched since the parse, with text, the whole text its tree was
    // parsed from (XmlDocument::Text); many children are looked at on two threads. Nothing is found when parent
    // is not of a tree parsed from text. The tree must not change meanwhile.
    static XmlVerbatim Find(std::string_view text, XmlNodeRef parent, XmlLayout layout, XmlLineEnd lineEnd);
    // The same for the children not found yet (anew when parent, its tree or the format is another), on this
    // thread alone unless twoThreads; stop, when set by another thread, ends the look between two children and
    // keeps what was found.
    void Extend(std::string_view text, XmlNodeRef parent, XmlLayout layout, XmlLineEnd lineEnd,
                const std::atomic<bool>* stop = nullptr, bool twoThreads = true);

    // How many children were found to be copied as they stand.
    std::size_t Count() const { return spans_.size(); }

private:
    friend class XmlVerbatimUse;
    struct Span {
        std::uint32_t at;  // in the text
        std::uint32_t length;
    };
    XmlNodeRef parent_;
    std::uint64_t tree_ = 0;  // the parent's tree when it was looked at
    XmlLayout layout_ = XmlLayout::Indented;
    XmlLineEnd lineEnd_ = XmlLineEnd::CrLf;
    std::uint32_t depth_ = 0;  // the children's indentation
    std::unordered_map<const void*, Span> spans_;
};

// Writes node: a Document that is its own parent as its children in order (nothing for an empty
// document), any other node as itself; an empty handle writes nothing and succeeds.
// False when the sink failed or a value holds both quote characters (what was handed over before that
// stays written).
bool XmlWrite(XmlSink& sink, XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd = XmlLineEnd::CrLf);

// The same bytes, with what verbatim holds copied where it still applies (same tree, layout, line end and
// indentation, and the child untouched since the parse).
bool XmlWrite(XmlSink& sink, XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd, const XmlVerbatim& verbatim);

// The bytes XmlWrite would give (up to where it failed).
std::string XmlWriteToString(XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd = XmlLineEnd::CrLf);

}  // namespace vantrel
