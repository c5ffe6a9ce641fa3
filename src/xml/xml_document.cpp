#include "xml/xml_document.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "xml_node.h"
#include "xml_parser.h"
#include "xml_records.h"
#include "xml_text_buffer.h"

namespace vantrel {

namespace {

constexpr std::int32_t kGrowthStep = 4;

bool HasUtf16Mark(const char* text, std::size_t length) {
    return length >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'));
}

// Where the first NUL byte of the text stands, or length when there is none.
std::size_t FirstNul(const char* text, std::size_t length, const char* from) {
    const void* nul = std::memchr(from, '\0', length - static_cast<std::size_t>(from - text));
    return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : length;
}

void RefuseForMemory(XmlLoadResult& result) {
    result.status = FileReadStatus::OutOfMemory;
    result.damaged = false;
    result.damage = XmlDamage::None;
    result.problemOffset = 0;
    result.problem.clear();
    result.depth = 0;
}

}  // namespace

std::string XmlLoadResult::Description() const {
    if (status != FileReadStatus::Read)
        return DescribeFileReadStatus(status, error);
    if (!damaged)
        return std::string();
    return "is damaged (" + problem + " at byte " + std::to_string(problemOffset) + ")";
}

XmlDocument::~XmlDocument() {
    Clear();
}

XmlNodeRef XmlDocument::Root() const {
    return XmlRecords::RefOf(root_);
}

std::uint64_t XmlDocument::TreeBytes() const {
    return XmlTreeMemory(root_);
}

void XmlDocument::FreeText() {
    XmlFreeTextBlock(text_, textMapped_);
    text_ = nullptr;
    textMapped_ = textCapacity_ = textLength_ = 0;
}

void XmlDocument::Clear() {
    XmlDestroyTree(root_);
    root_ = nullptr;
    FreeText();
}

void XmlDocument::Reset() {
    Clear();
    root_ = XmlNewNode(XmlNodeKind::Document);
    if (root_ != nullptr)
        root_->parent = root_;
}

std::string_view XmlDocument::Text() const {
    return text_ != nullptr ? std::string_view(text_, textLength_) : std::string_view();
}

void XmlDocument::AdoptTextBlock(XmlTextBuffer& text) {
    // the tree borrows from the block: it is dropped or renewed before anything reads it again
    text.data = text_;
    text.capacity = textCapacity_;
    text.mapped = textMapped_;
    text.size = 0;
    text_ = nullptr;
    textMapped_ = textCapacity_ = textLength_ = 0;
}

void XmlDocument::ParseText(XmlTextBuffer& text, XmlLoadResult& result) {
    if (text.data == nullptr || text.size == 0) {
        Reset();
        return;
    }
    if (HasUtf16Mark(text.data, text.size)) {
        // not in the 8-bit encoding the parser reads: what it would build is noise, not the file's content
        Reset();
        XmlParseResult utf16;
        utf16.damage = XmlDamage::Utf16;
        result.damaged = true;
        result.damage = XmlDamage::Utf16;
        result.problem = XmlDescribeDamage(utf16);
        return;
    }
    if (text.size > kXmlMaxText) {
        Reset();
        RefuseForMemory(result);
        return;
    }
    text_ = text.data;
    textMapped_ = text.mapped;
    textCapacity_ = text.capacity;
    std::size_t textLength = text.size;
    text.Release();
    // The parser reads up to the first NUL. The text is the file's bytes as read; only when a NUL stands
    // inside it are the pieces cut and joined and the text parsed again, so a clean file is read once.
    std::size_t nulAt = textLength;
    XmlParseResult parsed;
    for (int pass = 0; pass < 2; ++pass) {
        root_ = XmlRenewRoot(root_, XmlTreeBudget(textLength));
        if (root_ == nullptr) {
            Reset();
            RefuseForMemory(result);
            return;
        }
        parsed = XmlParse(text_, root_, kGrowthStep, parseOptions_);
        if (parsed.outOfMemory) {
            Reset();
            RefuseForMemory(result);
            return;
        }
        if (pass > 0)
            break;
        nulAt = FirstNul(text_, textLength, parsed.stop);
        // after a stop at the internal subset nothing past the stop is parsed: no need to parse again
        if (nulAt == textLength || *parsed.stop != '\0')
            break;
        textLength = XmlCutPiecesAtNul(text_, textLength);
    }
    XmlTrimTree(root_);
    textLength_ = textLength;
    JudgeText(parsed, nulAt, result);
}

void XmlDocument::JudgeText(const XmlParseResult& parsed, std::size_t nulAt, XmlLoadResult& result) const {
    result.depth = parsed.depth;
    // the first problem in the file: text before the first NUL has the same offsets in file and text
    XmlDamage damage = XmlDamage::None;
    if (parsed.problemAt != nullptr && static_cast<std::size_t>(parsed.problemAt - text_) < nulAt) {
        damage = parsed.damage;
        result.problemOffset = static_cast<std::uint64_t>(parsed.problemAt - text_);
    } else if (nulAt < result.size) {
        damage = XmlDamage::NulByte;
        result.problemOffset = nulAt;
    } else if (parsed.problemAt != nullptr) {
        damage = parsed.damage;
        result.problemOffset = static_cast<std::uint64_t>(parsed.problemAt - text_);
    }
    if (damage != XmlDamage::None) {
        result.damaged = true;
        result.damage = damage;
        XmlParseResult described = parsed;
        described.damage = damage;
        result.problem = XmlDescribeDamage(described);
    }
}

XmlLoadResult XmlDocument::LoadFile(const char* path, std::uint64_t maxBytes) {
    XmlLoadResult result;
    try {
        XmlTextBuffer text;
        AdoptTextBlock(text);
        FileReadResult read;
        if (path == nullptr) {
            read.status = FileReadStatus::Unreadable;
            read.error = EINVAL;
        } else {
            read = ReadRegularFileInto(path, maxBytes, false, text);
        }
        result.status = read.status;
        result.error = read.error;
        result.size = read.size;
        result.info = read.info;
        if (read.status != FileReadStatus::Read) {
            Reset();
            return result;
        }
        text.Finish(static_cast<std::size_t>(read.size));
        ParseText(text, result);
    } catch (const std::bad_alloc&) {
        Reset();
        RefuseForMemory(result);
    }
    return result;
}

XmlLoadResult XmlDocument::LoadText(std::string_view bytes) {
    XmlLoadResult result;
    result.status = FileReadStatus::Read;
    result.size = bytes.size();
    try {
        XmlTextBuffer text;
        AdoptTextBlock(text);
        if (!bytes.empty()) {
            if (!text.Reserve(bytes.size())) {
                Reset();
                RefuseForMemory(result);
                return result;
            }
            std::memcpy(text.data, bytes.data(), bytes.size());
            text.Finish(bytes.size());
        }
        ParseText(text, result);
    } catch (const std::bad_alloc&) {
        Reset();
        RefuseForMemory(result);
    }
    return result;
}

}  // namespace vantrel
