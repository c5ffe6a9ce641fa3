// libFuzzer entry point: parse arbitrary bytes under options taken from the input, as text and as a file,
// with the damage report; write the tree in both layouts, parse and write again and abort unless the bytes
// are the same (for every text judged clean: a damaged one may hold what no tree gives back, such as text
// after the root); then use the handles on what came out.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"

namespace {

using namespace vantrel;

bool Write(const XmlDocument& document, XmlLayout layout, std::string& out) {
    out.clear();
    XmlStringSink sink(out);
    return XmlWrite(sink, document.Root(), layout);
}

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_xml_parser: %s\n", what);
        std::abort();
    }
}

// The same bytes through a real file: the checked file load must build the same tree and the same report.
void CompareWithFile(std::string_view text, std::uint32_t options, const XmlDocument& document,
                     const XmlLoadResult& report) {
    static const std::string path = "/dev/shm/vantrel_fuzz_xml_" + std::to_string(getpid()) + ".xml";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written)
        return;
    XmlDocument fromFile;
    fromFile.SetParseOptions(options);
    XmlLoadResult fileReport = fromFile.LoadFile(path.c_str());
    Require(fileReport.status == FileReadStatus::Read, "file not read");
    Require(fileReport.damage == report.damage && fileReport.problemOffset == report.problemOffset &&
                fileReport.depth == report.depth && fileReport.problem == report.problem,
            "file and text judged differently");
    std::string a, b;
    Write(document, XmlLayout::Compact, a);
    Write(fromFile, XmlLayout::Compact, b);
    Require(a == b, "file and text give different trees");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    std::uint32_t options = XmlParseOptions::AllOptions;
    if (data[0] & 1)
        options = static_cast<std::uint32_t>(data[1]) << 8 | data[0];
    std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

    XmlDocument document;
    document.SetParseOptions(options);
    XmlLoadResult report = document.LoadText(text);
    Require(report.status == FileReadStatus::Read, "text not read");
    Require(report.damaged == (report.damage != XmlDamage::None), "damaged without a kind");
    Require(report.damaged == !report.problem.empty(), "damaged without words");
    Require(report.problemOffset <= text.size(), "problem past the end");
    if (data[0] & 2)
        CompareWithFile(text, options, document, report);

    // parse, write, parse, write: the same bytes (a value with both quotes refuses to be written at all)
    std::string once, twice;
    for (XmlLayout layout : {XmlLayout::Compact, XmlLayout::Indented}) {
        if (!Write(document, layout, once))
            continue;
        XmlDocument again;
        again.SetParseOptions(options);
        XmlLoadResult againReport = again.LoadText(once);
        bool written = Write(again, layout, twice);
        // the indented layout puts a line end after text, which reads back as part of it unless trimmed
        bool textTrimmed = (options & XmlParseOptions::TrimText) != 0;
        if (report.Clean() && (layout == XmlLayout::Compact || textTrimmed)) {
            Require(againReport.Clean(), "a clean text written out is damaged");
            Require(written, "second write failed");
            Require(once == twice, "parse, write, parse, write changed the bytes");
        }
    }

    XmlDocument again;
    again.LoadText(once);
    XmlNodeRef section = EnsureSection(again.Root(), "DEVINFO");
    section.FindChildByName("x");
    XmlNodeRef dev = section.AppendChild(XmlNodeKind::Element);
    dev.SetName("DEV");
    dev.Attribute("id").SetUnsigned(section.Child(0).Attribute("id").ValueAsUnsigned());
    section.Child(0).Attribute("name").ValueView();
    if (again.Root().ChildCount() > 0)
        again.Root().RemoveChild(0);
    XmlWriteToString(again.Root(), XmlLayout::Compact);
    return 0;
}
