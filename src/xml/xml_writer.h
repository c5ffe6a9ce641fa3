#pragma once

// Serialises a node or a whole document. Nothing is escaped: names, values and text are written byte for
// byte as they stand. The writer's own line ends are a property of the output (CR LF for files, so the same
// tree gives the same bytes on every platform); bytes inside values are never changed.
//
// Attribute values are written between double quotes, except a value that holds a double quote (it came
// single-quoted from a file), which is written between apostrophes so that it reads back the same. A value
// holding both quote characters cannot be written so that it reads back the same: the writer stops there and
// reports failure, so that a save refuses rather than leaving a file that parses differently. The same holds
// for the quoted words of a DOCTYPE.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

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

// Writes node: a Document that is its own parent as its children in order (nothing for an empty
// document), any other node as itself; an empty handle writes nothing and succeeds.
// False when the sink failed or a value holds both quote characters (what was handed over before that
// stays written).
bool XmlWrite(XmlSink& sink, XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd = XmlLineEnd::CrLf);

// The bytes XmlWrite would give (up to where it failed).
std::string XmlWriteToString(XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd = XmlLineEnd::CrLf);

// Creates or truncates path and writes the node (not atomic; false on any open, write or close error).
bool XmlWriteFile(const char* path, XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd = XmlLineEnd::CrLf);

// Stream form: does nothing to a stream that is not good; compact when no format flag but skipws is set,
// indented otherwise (a fresh stream is indented); CR LF line ends. Sets badbit when writing fails.
std::ostream& operator<<(std::ostream& stream, XmlNodeRef node);

}  // namespace vantrel
