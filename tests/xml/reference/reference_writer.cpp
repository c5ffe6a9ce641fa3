// The writer as it stood before it was made faster, kept only to check that the fast one writes the same
// bytes (fuzz_xml_differential). Not part of the program.
#include "reference/reference_writer.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "xml_node.h"
#include "xml_records.h"
#include "xml_walk_stack.h"

namespace vantrel::reference {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

// Indentation of one output operation: indentByte (TAB, or 0 for compact) per level.
struct Indent {
    char indentByte = '\t';
    std::string current;
    void Push() {
        if (indentByte != 0)
            current.push_back(indentByte);
    }
    void Pop() {
        if (!current.empty())
            current.pop_back();
    }
};

// Collects the output in a buffer and hands it to the sink in large pieces.
class BufferedOutput {
public:
    explicit BufferedOutput(XmlSink& sink) : sink_(sink) {}
    ~BufferedOutput() { Flush(); }

    bool Ok() const { return ok_; }
    // Stops the output: nothing more reaches the sink.
    void Fail() {
        used_ = 0;
        ok_ = false;
    }

    void Put(const char* data, std::size_t size) {
        if (!ok_)
            return;
        if (size > kBufferSize - used_) {
            Flush();
            if (size >= kBufferSize) {
                if (ok_)
                    ok_ = sink_.Write(data, size);
                return;
            }
        }
        std::memcpy(buffer_ + used_, data, size);
        used_ += size;
    }
    void Put(const char* text) { Put(text, std::strlen(text)); }
    void Put(char c) {
        if (used_ == kBufferSize)
            Flush();
        buffer_[used_++] = c;
    }
    void Flush() {
        if (ok_ && used_ > 0)
            ok_ = sink_.Write(buffer_, used_);
        used_ = 0;
    }

private:
    XmlSink& sink_;
    std::size_t used_ = 0;
    bool ok_ = true;
    char buffer_[kBufferSize];
};

class Writer {
public:
    Writer(BufferedOutput& out, Indent& indent, XmlLayout layout, XmlLineEnd lineEnd)
        : out_(out),
          indent_(indent),
          indented_(layout == XmlLayout::Indented),
          lineEnd_(lineEnd == XmlLineEnd::CrLf ? "\r\n" : "\n") {}

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
                if (child != nullptr && WriteStart(child))
                    stack.Push(child);
                continue;
            }
            const XmlNode* done = frame.node;
            stack.Pop();
            indent_.Pop();
            WriteIndent();
            WriteEndTag(done);
            LineEnd();
        }
    }

private:
    void WriteIndent() {
        if (indented_ && !indent_.current.empty())
            out_.Put(indent_.current.data(), indent_.current.size());
    }
    void LineEnd() {
        if (indented_)
            out_.Put(lineEnd_);
    }
    void WriteEndTag(const XmlNode* node) {
        out_.Put("</", 2);
        if (XmlNodeName(node) != nullptr && node->nameLength > 0) {
            PutName(XmlNodeName(node), node->nameLength);
        } else {
            out_.Put("anonymous");
        }
        out_.Put('>');
    }
    // A value between the quote it does not hold; a value holding both cannot be read back the same.
    void QuotedValue(const char* value, std::uint32_t length, bool escaped) {
        char quote = '"';
        if (std::memchr(value, '"', length) != nullptr) {
            if (std::memchr(value, '\'', length) != nullptr) {
                out_.Fail();
                return;
            }
            quote = '\'';
        }
        out_.Put(quote);
        if (escaped) {
            PutCharacterData(value, length);
        } else {
            out_.Put(value, length);
        }
        out_.Put(quote);
    }
    // Values and text as they stand, except what no XML reader takes there, which only a damaged file or a
    // caller of SetValue can bring: "<" becomes "&lt;", and "&" that starts no reference becomes "&amp;".
    void PutCharacterData(const char* data, std::uint32_t length) {
        const char* end = data + length;
        const char* from = data;
        for (const char* p = data; p < end; ++p) {
            if (*p != '<' && (*p != '&' || StartsReference(p + 1, end)))
                continue;
            out_.Put(from, static_cast<std::size_t>(p - from));
            out_.Put(*p == '<' ? "&lt;" : "&amp;");
            from = p + 1;
        }
        out_.Put(from, static_cast<std::size_t>(end - from));
    }
    // Whether the bytes after an "&" complete a reference: a name, "#" and digits, or "#x" and hex digits,
    // then ";".
    static bool StartsReference(const char* p, const char* end) {
        auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
        auto isHex = [&](char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
        const char* start = p;
        if (p < end && *p == '#') {
            bool hex = ++p < end && *p == 'x';
            start = hex ? ++p : p;
            while (p < end && (hex ? isHex(*p) : isDigit(*p))) ++p;
        } else if (p < end && IsNameStart(*p)) {
            while (p < end && IsNameByte(*p)) ++p;
        }
        return p > start && p < end && *p == ';';
    }
    static bool IsNameByte(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }
    static bool IsNameStart(char c) {
        auto byte = static_cast<unsigned char>(c);
        return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || byte == '_' || byte == ':' ||
               byte >= 0x80;
    }
    // A name as it stands; one that begins with a digit, "-" or "." (which the tolerant parser reads from a
    // damaged file, but no XML reader takes) gets a "_" in front.
    void PutName(const char* name, std::uint32_t length) {
        if (length > 0 && !IsNameStart(name[0]))
            out_.Put('_');
        out_.Put(name, length);
    }
    // An element's attribute without a value is written with an empty one: a bare name is not XML. In a
    // declaration a bare word is what the file held, and is written back as it was.
    void WriteAttributes(const XmlNode* node) {
        bool element = node->kind == XmlNodeKind::Element;
        for (std::uint32_t i = 0; i < node->attributeCount; ++i) {
            const XmlAttribute& attribute = node->attributes[i];
            const char* name = XmlAttributeName(node, attribute);
            const char* value = XmlAttributeValue(node, attribute);
            std::uint32_t nameLength = XmlAttributeNameLength(attribute, name);
            // a name that is not there, or empty, would not read back as an attribute
            if (name == nullptr || nameLength == 0)
                continue;
            out_.Put(' ');
            PutName(name, nameLength);
            if (value != nullptr) {
                out_.Put('=');
                QuotedValue(value, attribute.valueLength, element);
            } else if (element) {
                out_.Put("=\"\"", 3);
            }
        }
    }
    void WriteMarkupDeclaration(const char* keyword, const XmlNode* node) {
        if (XmlNodeName(node) == nullptr)
            return;
        out_.Put(keyword);
        out_.Put(XmlNodeName(node), node->nameLength);
        if (XmlNodeValue(node) != nullptr) {
            out_.Put(' ');
            out_.Put(XmlNodeValue(node), node->valueLength);
        }
        out_.Put('>');
    }
    void WriteSection(const char* open, const char* close, const XmlNode* node) {
        if (XmlNodeValue(node) == nullptr)
            return;
        out_.Put(open);
        out_.Put(XmlNodeValue(node), node->valueLength);
        out_.Put(close);
    }
    void WriteDoctype(const XmlNode* node) {
        out_.Put("<!DOCTYPE");
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
                    QuotedValue(value, attribute.valueLength, false);
            }
        }
        if (node->childCount > 0) {
            const char* separator = indented_ ? lineEnd_ : " ";
            out_.Put(separator);
            out_.Put('[');
            out_.Put(separator);
            indent_.Push();
            for (std::uint32_t i = 0; i < node->childCount; ++i) {
                const XmlNode* child = node->children[i];
                if (child == nullptr)
                    continue;
                switch (child->kind) {
                    case XmlNodeKind::EntityDecl:
                    case XmlNodeKind::AttlistDecl:
                    case XmlNodeKind::ElementDecl:
                    case XmlNodeKind::NotationDecl:
                        WriteStart(child);  // leaves: never pushes
                        break;
                    default:
                        break;
                }
            }
            indent_.Pop();
            out_.Put(']');
        } else if (XmlNodeValue(node) != nullptr) {
            out_.Put(" [", 2);
            out_.Put(XmlNodeValue(node), node->valueLength);
            out_.Put(']');
        }
        out_.Put('>');
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

    // Writes the node up to its children; true when its children and end tag are still to come.
    bool WriteStart(const XmlNode* node) {
        if (WritesNothing(node))
            return false;
        WriteIndent();
        switch (node->kind) {
            case XmlNodeKind::Element:
            case XmlNodeKind::Declaration: {
                bool declaration = node->kind == XmlNodeKind::Declaration;
                out_.Put(declaration ? "<?" : "<");
                if (XmlNodeName(node) != nullptr && node->nameLength > 0) {
                    PutName(XmlNodeName(node), node->nameLength);
                } else {
                    out_.Put("anonymous");
                }
                WriteAttributes(node);
                // children that give no bytes count as none, so that what is written reads back the same
                const XmlNode* only = nullptr;
                std::uint32_t shown = 0;
                for (std::uint32_t i = 0; i < node->childCount && shown < 2; ++i) {
                    const XmlNode* child = node->children[i];
                    if (child != nullptr && !WritesNothing(child) && shown++ == 0)
                        only = child;
                }
                if (declaration) {
                    out_.Put("?>", 2);
                } else if (shown == 0) {
                    out_.Put("/>", 2);
                } else {
                    out_.Put('>');
                    if (shown == 1 && only->kind == XmlNodeKind::Text) {
                        PutCharacterData(XmlNodeValue(only), only->valueLength);
                        WriteEndTag(node);
                    } else {
                        LineEnd();
                        indent_.Push();
                        return true;
                    }
                }
                break;
            }
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
            case XmlNodeKind::Document:
            case XmlNodeKind::None:
                break;
        }
        LineEnd();
        return false;
    }

    BufferedOutput& out_;
    Indent& indent_;
    bool indented_;
    const char* lineEnd_;
};

}  // namespace

bool XmlWriteReference(XmlSink& sink, XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd) {
    const XmlNode* record = XmlRecords::NodeOf(node);
    if (record == nullptr)
        return true;
    try {
        Indent indent;
        indent.indentByte = layout == XmlLayout::Indented ? '\t' : '\0';
        auto out = std::make_unique<BufferedOutput>(sink);
        Writer writer(*out, indent, layout, lineEnd);
        if (record->parent == record && record->kind == XmlNodeKind::Document) {
            for (std::uint32_t i = 0; i < record->childCount && out->Ok(); ++i) writer.Write(record->children[i]);
        } else {
            writer.Write(record);
        }
        out->Flush();
        return out->Ok();
    } catch (const std::bad_alloc&) {
        // deep trees keep their walk on the heap
        return false;
    }
}

std::string XmlWriteToStringReference(XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd, bool* ok) {
    std::string out;
    XmlStringSink sink(out);
    bool written = XmlWriteReference(sink, node, layout, lineEnd);
    if (ok != nullptr)
        *ok = written;
    return out;
}

}  // namespace vantrel::reference
