// What the program writes over a file it read is well-formed XML that reads back to the same tree, even when
// the file it read was damaged; a well-formed file comes back with its own bytes.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/xml_database_text.h"
#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"

namespace vantrel {
namespace {

std::string Save(const XmlDocument& document) {
    return XmlWriteToString(document.Root(), XmlLayout::Indented, XmlLineEnd::CrLf);
}

// xmllint's verdict on the bytes: "" when well-formed, its message otherwise; nullptr when it is missing.
const char* kNoXmllint = "xmllint is not installed";
std::string XmllintProblems(const std::string& bytes) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0)
        return kNoXmllint;
    char path[] = "/tmp/vantrel_xmllint_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return "no temporary file";
    bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    std::string out;
    if (written) {
        std::string command = std::string("xmllint --noout ") + path + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        char line[512];
        while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) out += line;
        if (pipe != nullptr && pclose(pipe) != 0 && out.empty())
            out = "xmllint failed";
    }
    std::remove(path);
    return out;
}

std::string Utf16(const std::string& text) {
    std::string out = "\xFF\xFE";
    for (char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

TEST(XmlRewrite, DamagedFilesAreWrittenWellFormed) {
    const std::string database = test::GenerateDatabaseText({20, 4, 2});
    std::string missingQuote = database;
    missingQuote.erase(missingQuote.find("name=\"Device00001\"") + 17, 1);
    std::string nul = database;
    nul[500] = '\0';
    const struct {
        const char* kind;
        std::string bytes;
    } cases[] = {
        {"missing quote", missingQuote},
        {"NUL byte", nul},
        {"cut tail", database.substr(0, database.size() * 2 / 3)},
        {"UTF-16", Utf16(database)},
    };
    bool xmllintMissing = false;
    for (const auto& c : cases) {
        XmlDocument damaged;
        ASSERT_TRUE(damaged.LoadText(c.bytes).damaged) << c.kind;
        // as the store does on its first use of the database
        EnsureSection(damaged.Root(), "DEVINFO");
        std::string written = Save(damaged);

        XmlDocument again;
        XmlLoadResult result = again.LoadText(written);
        EXPECT_TRUE(result.Clean()) << c.kind << ": " << result.problem;
        EXPECT_EQ(Save(again), written) << c.kind;
        std::string problems = XmllintProblems(written);
        xmllintMissing = problems == kNoXmllint;
        EXPECT_TRUE(problems.empty() || xmllintMissing) << c.kind << ": " << problems;
    }
    if (xmllintMissing)
        std::printf("xmllint is not installed (libxml2-utils): written files were not checked by it\n");
}

// Each mend of the writer, and what stays as it was.
TEST(XmlRewrite, WhatTheWriterMends) {
    const struct {
        const char* read;
        const char* written;
    } cases[] = {
        // well-formed: the same bytes
        {"<?xml version=\"1.0\"?>\r\n<?pi b?>\r\n<r/>\r\n", "<?xml version=\"1.0\"?>\r\n<?pi b?>\r\n<r/>\r\n"},
        {"<?pi a b?>\r\n<r a=\"&amp;&#38;&#x26;\">&lt;x&gt;</r>\r\n",
         "<?pi a b?>\r\n<r a=\"&amp;&#38;&#x26;\">&lt;x&gt;</r>\r\n"},
        // an element's attribute without a value gets an empty one
        {"<r a b=\"1\" c ></r>", "<r a=\"\" b=\"1\" c=\"\"/>\r\n"},
        // a value that ran into markup, and an "&" that starts no reference
        {"<r a=\"x<y\" b=\"AT&T\">Q&A</r>", "<r a=\"x&lt;y\" b=\"AT&amp;T\">Q&amp;A</r>\r\n"},
        // a name no XML reader takes
        {"<r 1a=\"1\"><-b/></r>", "<r _1a=\"1\">\r\n\t<_-b/>\r\n</r>\r\n"},
    };
    for (const auto& c : cases) {
        XmlDocument document;
        document.LoadText(c.read);
        std::string written = Save(document);
        EXPECT_EQ(written, c.written) << c.read;
        XmlDocument again;
        EXPECT_TRUE(again.LoadText(written).Clean()) << written;
        EXPECT_EQ(Save(again), written);
    }
}

}  // namespace
}  // namespace vantrel
