// The save's write-behind sink and the atomic save through it, with a writer thread in play.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "atomic_save.h"
#include "files/content_hash.h"
#include "temp_folder.h"
#include "write_behind_sink.h"
#include "xml/xml_document.h"

using namespace vantrel;

namespace {

// Collects what it takes; from the call numbered failAt on it fails with the given errno.
class RecordingSink : public XmlSink {
public:
    RecordingSink(std::size_t failAt, int error) : failAt_(failAt), error_(error) {}
    bool Write(const char* data, std::size_t size) override {
        if (calls_++ >= failAt_) {
            errno = error_;
            return false;
        }
        taken_.append(data, size);
        return true;
    }
    const std::string& Taken() const { return taken_; }
    std::size_t Calls() const { return calls_; }

private:
    std::size_t failAt_;
    int error_;
    std::size_t calls_ = 0;
    std::string taken_;
};

constexpr std::size_t kNeverFails = SIZE_MAX;

std::string Pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
    }
    return text;
}

struct PassCase {
    std::size_t buffer;
    std::size_t piece;
    std::size_t total;
};

TEST(WriteBehindSink, PassesEveryByteInOrderAndHashesThem) {
    const PassCase cases[] = {
        {1, 1, 10},           // every byte its own buffer
        {7, 3, 100},          // pieces straddle buffers
        {64, 1000, 5000},     // pieces larger than a buffer
        {4096, 4096, 40960},  // exact fits
        {4096, 100, 0},       // nothing at all
        {1 << 20, 128 << 10, (3 << 20) + 17},
    };
    for (const PassCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.buffer << " " << c.piece << " " << c.total);
        const std::string text = Pattern(c.total);
        RecordingSink inner(kNeverFails, 0);
        WriteBehindSink sink(inner, -1, c.buffer);
        for (std::size_t at = 0; at < text.size(); at += c.piece) {
            ASSERT_TRUE(sink.Write(text.data() + at, std::min(c.piece, text.size() - at)));
        }
        ASSERT_TRUE(sink.Finish());
        EXPECT_EQ(inner.Taken(), text);
        EXPECT_EQ(sink.Hash(), ContentHash::Of(text.data(), text.size()));
    }
}

// A writer that fills the lent buffer in place and one that hands its bytes over give the inner sink the same
// bytes in the same order; the buffer is lent only while empty and large enough.
TEST(WriteBehindSink, BufferFilledInPlaceArrivesAsIfCopied) {
    struct Step {
        std::size_t size;
        bool inPlace;
    };
    struct LendCase {
        const char* what;
        std::size_t buffer;
        std::vector<Step> steps;
    };
    const LendCase cases[] = {
        {"whole buffers in place", 64, {{64, true}, {64, true}, {64, true}}},
        {"part-filled buffers in place", 64, {{10, true}, {63, true}, {1, true}}},
        {"room handed back empty", 64, {{0, true}, {20, true}, {0, true}}},
        {"copies and in place mixed", 64, {{30, false}, {50, true}, {100, false}, {28, false}, {64, true}, {5, false}}},
        {"one-byte buffers", 1, {{1, true}, {3, false}, {1, true}}},
    };
    for (const LendCase& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingSink inner(kNeverFails, 0);
        WriteBehindSink sink(inner, -1, c.buffer);
        std::string expected;
        for (const Step& step : c.steps) {
            std::string piece = Pattern(expected.size() + step.size).substr(expected.size());
            std::size_t lentSize = 0;
            char* lent = step.inPlace ? sink.Lend(step.size, lentSize) : nullptr;
            if (lent != nullptr) {
                ASSERT_GE(lentSize, step.size);
                std::memcpy(lent, piece.data(), piece.size());
                ASSERT_TRUE(sink.Write(lent, piece.size()));
            } else {
                ASSERT_TRUE(sink.Write(piece.data(), piece.size()));
            }
            expected += piece;
        }
        ASSERT_TRUE(sink.Finish());
        EXPECT_EQ(inner.Taken(), expected);
        EXPECT_EQ(sink.Hash(), ContentHash::Of(expected.data(), expected.size()));
    }
    // what is being filled by copies is never lent, nor a buffer smaller than asked for
    RecordingSink inner(kNeverFails, 0);
    WriteBehindSink sink(inner, -1, 64);
    std::size_t size = 1;
    EXPECT_EQ(sink.Lend(65, size), nullptr);
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(sink.Write("abc", 3));
    EXPECT_EQ(sink.Lend(1, size), nullptr);
    ASSERT_TRUE(sink.Finish());
    EXPECT_EQ(inner.Taken(), "abc");
}

TEST(WriteBehindSink, StopsAtTheFirstFailureAndKeepsItsReason) {
    struct FailCase {
        std::size_t failAt;
        int error;
        int reported;
    };
    const FailCase cases[] = {
        {0, ENOSPC, ENOSPC}, {3, EDQUOT, EDQUOT}, {5, 0, EIO},  // a sink that says nothing still fails the save
    };
    constexpr std::size_t kBuffer = 16;
    const std::string text = Pattern(kBuffer * 40);
    for (const FailCase& c : cases) {
        SCOPED_TRACE(c.failAt);
        RecordingSink inner(c.failAt, c.error);
        WriteBehindSink sink(inner, -1, kBuffer);
        bool accepted = true;
        for (std::size_t at = 0; at < text.size() && accepted; at += 5) {
            accepted = sink.Write(text.data() + at, 5);
        }
        errno = 0;
        EXPECT_FALSE(sink.Finish());
        EXPECT_EQ(errno, c.reported);
        // the failed call is the last one the inner sink saw; before it, whole buffers in order
        EXPECT_EQ(inner.Calls(), c.failAt + 1);
        EXPECT_EQ(inner.Taken(), text.substr(0, c.failAt * kBuffer));
    }
}

TEST(WriteBehindSink, DestroyedWithoutFinishJoinsItsThread) {
    RecordingSink inner(kNeverFails, 0);
    {
        WriteBehindSink sink(inner, -1, 8);
        std::string text = Pattern(100);
        ASSERT_TRUE(sink.Write(text.data(), text.size()));
    }
    // whole buffers only: the tail was never handed over
    EXPECT_EQ(inner.Taken(), Pattern(96));
}

class AtomicSave : public ::testing::Test {
protected:
    void SetUp() override {
        std::string text = "<DATAROOT><DEVINFO>";
        for (int i = 0; i < 60000; ++i) {
            text += "<DEV id=\"" + std::to_string(i) + "\" name=\"Camera " + std::to_string(i) + "\"/>";
        }
        text += "</DEVINFO></DATAROOT>";
        document_.LoadText(text);
        expected_ = XmlWriteToString(document_.Root(), XmlLayout::Indented, XmlLineEnd::CrLf);
        ASSERT_GT(expected_.size(), 2 * WriteBehindSink::kDefaultBufferSize);
        path_ = folder_.Path() + "Data.xml";
        WriteWholeFile(path_, "old");
    }

    std::size_t FolderSize() const {
        auto entries = std::filesystem::directory_iterator(folder_.Path());
        return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
    }

    TempFolder folder_;
    XmlDocument document_;
    std::string expected_;
    std::string path_;
};

TEST_F(AtomicSave, WritesTheDocumentAndItsHash) {
    SavedFile saved = SaveAtomically(path_, document_.Root(), nullptr);
    ASSERT_TRUE(saved.Ok()) << saved.error;
    EXPECT_EQ(ReadWholeFile(path_), expected_);
    EXPECT_EQ(saved.hash, ContentHash::Of(expected_.data(), expected_.size()));
    EXPECT_EQ(static_cast<std::size_t>(saved.info.st_size), expected_.size());
    EXPECT_EQ(FolderSize(), 1u);
}

TEST_F(AtomicSave, AFailureMidwayKeepsTheOldFileAndSaysWhy) {
    SaveSinkFactory failing = [](int) { return std::make_unique<RecordingSink>(2, ENOSPC); };
    SavedFile saved = SaveAtomically(path_, document_.Root(), failing);
    EXPECT_EQ(saved.error, ENOSPC);
    EXPECT_EQ(ReadWholeFile(path_), "old");
    EXPECT_EQ(FolderSize(), 1u);
}

TEST_F(AtomicSave, AFileSizeLimitMidwayFailsWithItsReason) {
    // the kernel writes part of a buffer up to the limit, then refuses: the short write, then EFBIG
    struct rlimit before {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    struct rlimit limited = before;
    limited.rlim_cur = WriteBehindSink::kDefaultBufferSize + 12345;
    sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    SavedFile saved = SaveAtomically(path_, document_.Root(), nullptr);
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(saved.error, EFBIG);
    EXPECT_EQ(ReadWholeFile(path_), "old");
    EXPECT_EQ(FolderSize(), 1u);
}

}  // namespace
