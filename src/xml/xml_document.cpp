#include "xml/xml_document.h"

#include <cerrno>
#include <cstring>

#include "xml/xml_file_reader.h"
#include "xml/xml_node.h"
#include "xml/xml_parser.h"
#include "xml/xml_records.h"

namespace vantrel {

namespace {

constexpr std::int32_t kGrowthStep = 4;
// A parsed tree takes about 2.7 bytes per byte of a database file; the arena is sized a little above that,
// and only the part in use is ever touched.
constexpr std::uint64_t kTreeBytesPerTextByte = 3;

bool HasUtf16Mark(const char* text, std::size_t length) {
    return length >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'));
}

// Where the first NUL byte of the text stands, or length when there is none.
std::size_t FirstNul(const char* text, std::size_t length, const char* from) {
    const void* nul = std::memchr(from, '\0', length - static_cast<std::size_t>(from - text));
    return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : length;
}

}  // namespace

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
    textMapped_ = 0;
    textLength_ = 0;
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

bool XmlDocument::ParseText(std::size_t textLength, XmlFileReport* report) {
    if (text_ == nullptr || textLength == 0) {
        Reset();
        return false;
    }
    // The parser reads up to the first NUL. The text is the file's bytes as read; only when a NUL stands
    // inside it are the pieces cut and joined and the text parsed again, so a clean file is read once.
    std::size_t nulAt = textLength;
    XmlParseResult result;
    for (int pass = 0; pass < 2; ++pass) {
        XmlDestroyTree(root_);
        root_ = XmlNewNode(XmlNodeKind::Document, std::uint64_t{textLength} * kTreeBytesPerTextByte);
        if (root_ == nullptr) {
            Reset();
            return false;
        }
        root_->parent = root_;
        result = XmlParse(text_, root_, kGrowthStep, parseOptions_);
        if (pass > 0)
            break;
        nulAt = FirstNul(text_, textLength, result.stop);
        if (nulAt == textLength)
            break;
        // after a stop at the internal subset nothing past the stop is parsed: no need to parse again
        if (*result.stop != '\0')
            break;
        textLength = XmlCutPiecesAtNul(text_, textLength);
    }
    textLength_ = textLength;
    if (report == nullptr)
        return true;
    report->depth = result.depth;
    // the first problem in the file: text before the first NUL has the same offsets in file and text
    if (HasUtf16Mark(text_, textLength)) {
        report->damage = XmlDamage::Utf16;
        report->problemOffset = 0;
    } else if (result.problemAt != nullptr && static_cast<std::size_t>(result.problemAt - text_) < nulAt) {
        report->damage = result.damage;
        report->problemOffset = static_cast<std::uint64_t>(result.problemAt - text_);
    } else if (nulAt < report->size) {
        report->damage = XmlDamage::NulByte;
        report->problemOffset = nulAt;
    } else if (result.problemAt != nullptr) {
        report->damage = result.damage;
        report->problemOffset = static_cast<std::uint64_t>(result.problemAt - text_);
    }
    if (report->damage != XmlDamage::None) {
        report->damaged = true;
        result.damage = report->damage;
        report->problem = XmlDescribeDamage(result);
    }
    return true;
}

bool XmlDocument::LoadFile(const char* path) {
    Clear();
    XmlTextBuffer text;
    bool read = XmlReadFile(path, text);
    text_ = text.data;
    textMapped_ = text.mapped;
    return ParseText(read ? text.size : 0, nullptr) && read;
}

XmlFileReport XmlDocument::LoadFileChecked(const char* path, std::uint64_t maxBytes) {
    Clear();
    XmlFileReport report;
    XmlTextBuffer text;
    XmlReadFileChecked(path, maxBytes, text, report);
    text_ = text.data;
    textMapped_ = text.mapped;
    ParseText(text.size, report.status == XmlFileStatus::Read ? &report : nullptr);
    return report;
}

bool XmlDocument::LoadText(std::string_view bytes) {
    Clear();
    std::size_t length = bytes.size();
    if (const void* nul = std::memchr(bytes.data(), '\0', length))
        length = static_cast<std::size_t>(static_cast<const char*>(nul) - bytes.data());
    XmlTextBuffer text;
    if (length > 0 && text.Reserve(length)) {
        std::memcpy(text.data, bytes.data(), length);
        text.data[length] = '\0';
    }
    text_ = text.data;
    textMapped_ = text.mapped;
    return ParseText(text_ != nullptr ? length : 0, nullptr);
}

XmlFileReport XmlDocument::LoadTextChecked(std::string_view bytes) {
    Clear();
    XmlFileReport report;
    report.status = XmlFileStatus::Read;
    report.size = bytes.size();
    XmlTextBuffer text;
    if (!bytes.empty()) {
        if (!text.Reserve(bytes.size())) {
            report.status = XmlFileStatus::Unreadable;
            report.error = ENOMEM;
            Reset();
            return report;
        }
        std::memcpy(text.data, bytes.data(), bytes.size());
        text.data[bytes.size()] = '\0';
    }
    text_ = text.data;
    textMapped_ = text.mapped;
    ParseText(text_ != nullptr ? bytes.size() : 0, &report);
    return report;
}

}  // namespace vantrel
