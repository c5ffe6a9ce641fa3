#include "reference/writer_comparison.h"

#include <string>
#include <vector>

#include "reference/reference_writer.h"
#include "xml/xml_document.h"
#include "xml/xml_writer.h"

namespace vantrel::reference {

namespace {

// Lends room of the writer's own buffer size (as the save's sink does), keeps what comes back, and notes any
// hand-back that breaks the lending rules.
class LendingStringSink : public XmlSink {
public:
    explicit LendingStringSink(std::string& out) : out_(out), room_(kRoom, '\0') {}
    char* Lend(std::size_t atLeast, std::size_t& size) override {
        size = lent_ || atLeast > kRoom ? 0 : kRoom;
        lent_ = size > 0;
        return lent_ ? &room_[0] : nullptr;
    }
    bool Write(const char* data, std::size_t size) override {
        broken_ = broken_ || (lent_ ? data != room_.data() || size > kRoom : data == room_.data());
        lent_ = false;
        out_.append(data, size);
        return true;
    }
    bool Broken() const { return broken_; }

private:
    static constexpr std::size_t kRoom = 128 * 1024;
    std::string& out_;
    std::string room_;
    bool lent_ = false;
    bool broken_ = false;
};

}  // namespace

bool SameBytesWritten(XmlNodeRef node, const char** what) {
    for (XmlLayout layout : {XmlLayout::Indented, XmlLayout::Compact}) {
        for (XmlLineEnd lineEnd : {XmlLineEnd::CrLf, XmlLineEnd::Lf}) {
            std::string fast, reference, inPlace;
            XmlStringSink sink(fast);
            bool fastOk = XmlWrite(sink, node, layout, lineEnd);
            LendingStringSink lending(inPlace);
            if (XmlWrite(lending, node, layout, lineEnd) != fastOk || inPlace != fast || lending.Broken()) {
                *what = "the writer filling lent room wrote otherwise than into its own buffer";
                return false;
            }
            bool referenceOk = false;
            reference = XmlWriteToStringReference(node, layout, lineEnd, &referenceOk);
            if (fastOk != referenceOk) {
                *what = "one writer failed, the other did not";
                return false;
            }
            // after a failure only whole buffers reach the sink, and the two buffers differ in size: what
            // each handed over is the start of the same bytes
            bool same = fastOk ? fast == reference : fast.compare(0, reference.size(), reference, 0, fast.size()) == 0;
            if (!same) {
                *what = "other bytes written";
                return false;
            }
        }
    }
    return true;
}

namespace {

// Reads the edits and their texts from the bytes in turn; a NUL ends a text early (the handles take
// NUL-terminated texts).
class EditBytes {
public:
    EditBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool More() const { return next_ < size_; }
    std::uint8_t Byte() { return data_[next_++]; }
    std::string Text(std::size_t length) {
        std::string text;
        for (std::size_t i = 0; i < length && More(); ++i) {
            char c = static_cast<char>(Byte());
            if (c == '\0')
                break;
            text += c;
        }
        return text;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t next_ = 0;
};

void EditOne(XmlNodeRef node, std::uint8_t op, EditBytes& bytes) {
    std::size_t length = op >> 4;
    switch (op & 7) {
        case 1:
            node.SetValue(bytes.Text(length).c_str());
            break;
        case 2:
            node.SetName(bytes.Text(length).c_str());
            break;
        case 3: {
            std::string name = bytes.Text(length);
            node.AddAttribute(name.c_str(), bytes.Text(length).c_str());
            break;
        }
        case 4:
            node.AppendChild(XmlNodeKind::Text).SetValue(bytes.Text(length).c_str());
            break;
        case 5:
            node.AttributeAt(0).SetValue(bytes.Text(length).c_str());
            break;
        case 6:
            node.AppendChild(op & 8 ? XmlNodeKind::Element : XmlNodeKind::Text);
            break;
        case 7:
            node.RemoveChild(static_cast<std::uint32_t>(length));
            break;
        default:
            // adds the attribute when it is not there
            node.Attribute(bytes.Text(length).c_str());
            break;
    }
}

}  // namespace

void EditAsTold(XmlNodeRef root, const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return;
    std::vector<XmlNodeRef> nodes{root};
    root.VisitDescendants([&](XmlNodeRef node) {
        nodes.push_back(node);
        return true;
    });
    EditBytes bytes(data, size);
    // last node first: a removal destroys only nodes already edited
    for (auto node = nodes.rbegin(); node != nodes.rend() && bytes.More(); ++node) EditOne(*node, bytes.Byte(), bytes);
}

namespace {

// The element below root with the most children.
XmlNodeRef LongestList(XmlNodeRef root) {
    XmlNodeRef longest;
    root.VisitDescendants([&](XmlNodeRef node) {
        if (node.Kind() == XmlNodeKind::Element && (!longest.IsValid() || node.ChildCount() > longest.ChildCount()))
            longest = node;
        return true;
    });
    return longest;
}

struct WriteOutcome {
    bool ok;
    std::string bytes;
};

WriteOutcome WriteWith(XmlNodeRef root, XmlLayout layout, XmlLineEnd lineEnd, const XmlVerbatim* verbatim) {
    WriteOutcome outcome;
    XmlStringSink sink(outcome.bytes);
    outcome.ok =
        verbatim != nullptr ? XmlWrite(sink, root, layout, lineEnd, *verbatim) : XmlWrite(sink, root, layout, lineEnd);
    return outcome;
}

}  // namespace

bool SameBytesWithVerbatim(XmlNodeRef root, std::uint32_t options, const std::uint8_t* edits, std::size_t size,
                           const char** what) {
    const std::pair<XmlLayout, XmlLineEnd> formats[] = {{XmlLayout::Indented, XmlLineEnd::CrLf},
                                                        {XmlLayout::Indented, XmlLineEnd::Lf},
                                                        {XmlLayout::Compact, XmlLineEnd::CrLf}};
    for (const auto& [layout, lineEnd] : formats) {
        std::string own;
        XmlStringSink sink(own);
        if (!XmlWrite(sink, root, layout, lineEnd))
            continue;
        XmlDocument document;
        document.SetParseOptions(options);
        document.LoadText(own);
        XmlNodeRef list = LongestList(document.Root());
        XmlVerbatim verbatim = XmlVerbatim::Find(document.Text(), list, layout, lineEnd);
        for (int edited = 0; edited < 2; ++edited) {
            if (edited == 1)
                EditAsTold(document.Root(), edits, size);
            WriteOutcome copied = WriteWith(document.Root(), layout, lineEnd, &verbatim);
            WriteOutcome written = WriteWith(document.Root(), layout, lineEnd, nullptr);
            if (copied.ok != written.ok || copied.bytes != written.bytes) {
                *what = edited == 1 ? "copying untouched children gave other bytes after edits"
                                    : "copying untouched children gave other bytes";
                return false;
            }
        }
    }
    return true;
}

}  // namespace vantrel::reference
