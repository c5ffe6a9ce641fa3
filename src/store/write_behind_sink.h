#pragma once

// Lets the serialisation of a save go on while the bytes already produced reach the kernel: the caller fills
// one buffer while a single writer thread hands the other to the inner sink, hashes it and starts its disk
// writes. Finish joins that thread, so the caller's fsync follows every byte.

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "files/content_hash.h"
#include "xml/xml_writer.h"

namespace vantrel {

class WriteBehindSink : public XmlSink {
public:
    // fd < 0 starts no disk writes early (the inner sink does not write to a file of ours).
    WriteBehindSink(XmlSink& inner, int fd, std::size_t bufferSize = kDefaultBufferSize);
    ~WriteBehindSink() override;
    WriteBehindSink(const WriteBehindSink&) = delete;
    WriteBehindSink& operator=(const WriteBehindSink&) = delete;

    // False once the inner sink has failed; nothing reaches it after its first failure.
    bool Write(const char* data, std::size_t size) override;
    // The buffer being filled, when it is empty: a writer that fills it in place spares the copy into it.
    char* Lend(std::size_t atLeast, std::size_t& size) override;
    // Hands over what is left and waits for the writer thread. False when any write failed; errno is then
    // the one the inner sink left at its failure (EIO when it left none).
    bool Finish();
    // The ContentHash of the bytes handed on: after a Finish that succeeded, those the inner sink took.
    std::uint64_t Hash() const { return hash_.Value(); }

    static constexpr std::size_t kDefaultBufferSize = 1 << 20;

private:
    struct Buffer {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
    };

    bool HandOver();
    void Run();
    void Drain(Buffer& buffer);
    void Stop();

    XmlSink& inner_;
    int fd_;
    std::size_t capacity_;
    Buffer filling_;     // the caller's
    Buffer writing_;     // the writer thread's while handedOver_
    bool lent_ = false;  // filling_ is lent out
    ContentHash hash_;   // the caller's
    off_t written_ = 0;  // touched only by whoever writes (the thread, or the caller when there is none)
    off_t started_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool handedOver_ = false;
    bool stopping_ = false;
    bool failed_ = false;
    int error_ = 0;
    std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace vantrel
