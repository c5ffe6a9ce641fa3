// libFuzzer entry point: the parser against the reference copy of the parser it replaced. Both parse the same
// bytes under options taken from the input; the trees, the bytes written from them and the damage reports
// must be the same. Then the writer against the reference copy of the writer it replaced, on that tree and on
// the tree edited as the input says; and the writer copying untouched children against writing them all.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "reference/reference_parser.h"
#include "reference/writer_comparison.h"
#include "xml/xml_writer.h"
#include "xml_node.h"
#include "xml_parser.h"
#include "xml_records.h"
#include "xml_test_util.h"

namespace {

using namespace vantrel;

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_xml_differential: %s\n", what);
        std::abort();
    }
}

struct Parsed {
    std::vector<char> text;
    XmlNode* root = nullptr;
    XmlParseResult result;
    ~Parsed() { XmlDestroyTree(root); }
    std::ptrdiff_t Offset(const char* at) const { return at == nullptr ? -1 : at - text.data(); }
};

template <typename Parse>
void ParseInto(Parsed& parsed, const std::uint8_t* data, std::size_t size, std::uint32_t options, Parse parse) {
    parsed.text.assign(data, data + size);
    parsed.text.push_back('\0');
    parsed.root = XmlNewNode(XmlNodeKind::Document);
    Require(parsed.root != nullptr, "no memory");
    parsed.root->parent = parsed.root;
    parsed.result = parse(parsed.text.data(), parsed.root, 4, options);
}

bool SameView(std::string_view a, std::string_view b) {
    return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    std::uint32_t options = XmlParseOptions::AllOptions;
    if (data[0] & 1)
        options = static_cast<std::uint32_t>(data[1]) << 8 | data[0];
    Parsed fast, reference;
    ParseInto(fast, data + 2, size - 2, options, XmlParse);
    ParseInto(reference, data + 2, size - 2, options, reference::XmlParseReference);

    const XmlParseResult& a = fast.result;
    const XmlParseResult& b = reference.result;
    Require(fast.Offset(a.stop) == reference.Offset(b.stop), "stopped elsewhere");
    Require(a.damage == b.damage, "other damage");
    Require(fast.Offset(a.problemAt) == reference.Offset(b.problemAt), "damage elsewhere");
    Require((a.detail == nullptr) == (b.detail == nullptr) && (a.detail == nullptr || !std::strcmp(a.detail, b.detail)),
            "other detail");
    Require(SameView(a.first, b.first) && SameView(a.second, b.second), "other names in the damage");
    Require(a.depth == b.depth, "other depth");
    Require(a.outOfMemory == b.outOfMemory, "other memory outcome");

    XmlNodeRef fastRoot = XmlRecords::RefOf(fast.root);
    XmlNodeRef referenceRoot = XmlRecords::RefOf(reference.root);
    Require(test::DescribeNode(fastRoot) == test::DescribeNode(referenceRoot), "other tree");
    for (XmlLayout layout : {XmlLayout::Compact, XmlLayout::Indented}) {
        Require(XmlWriteToString(fastRoot, layout) == XmlWriteToString(referenceRoot, layout), "other bytes written");
    }

    const char* what = "";
    Require(reference::SameBytesWithVerbatim(fastRoot, options, data, size, &what), what);
    Require(reference::SameBytesWritten(fastRoot, &what), what);
    reference::EditAsTold(fastRoot, data, size);
    Require(reference::SameBytesWritten(fastRoot, &what), what);
    Require(reference::SameBytesWritten(fastRoot.Child(0), &what), what);
    return 0;
}
