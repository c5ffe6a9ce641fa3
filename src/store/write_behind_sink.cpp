#include "write_behind_sink.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace vantrel {
namespace {

// Started disk writes of about this much at a time keep the final fsync short.
constexpr off_t kSyncStretch = 4 << 20;

}  // namespace

WriteBehindSink::WriteBehindSink(XmlSink& inner, int fd, std::size_t bufferSize)
    : inner_(inner), fd_(fd), capacity_(std::max<std::size_t>(bufferSize, 1)) {
    filling_.bytes.reset(new char[capacity_]);
    writing_.bytes.reset(new char[capacity_]);
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // no thread to be had: the caller writes each buffer itself
    }
}

WriteBehindSink::~WriteBehindSink() {
    Stop();
}

char* WriteBehindSink::Lend(std::size_t atLeast, std::size_t& size) {
    size = 0;
    if (filling_.size > 0 || capacity_ < atLeast) {
        return nullptr;
    }
    lent_ = true;
    size = capacity_;
    return filling_.bytes.get();
}

bool WriteBehindSink::Write(const char* data, std::size_t size) {
    if (std::exchange(lent_, false) && data == filling_.bytes.get()) {
        // filled in place: handed over as it stands
        filling_.size = std::min(size, capacity_);
        return filling_.size == 0 || HandOver();
    }
    while (size > 0) {
        std::size_t part = std::min(capacity_ - filling_.size, size);
        std::memcpy(filling_.bytes.get() + filling_.size, data, part);
        filling_.size += part;
        data += part;
        size -= part;
        if (filling_.size == capacity_ && !HandOver()) {
            return false;
        }
    }
    return true;
}

bool WriteBehindSink::HandOver() {
    // hashed here, while the writer thread writes the buffer before: that thread is the one a save waits for
    hash_.Add(filling_.bytes.get(), filling_.size);
    if (!thread_.joinable()) {
        Drain(filling_);
        filling_.size = 0;
        return !failed_;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !handedOver_; });
    if (failed_) {
        return false;
    }
    std::swap(filling_, writing_);
    handedOver_ = true;
    lock.unlock();
    changed_.notify_all();
    filling_.size = 0;
    return true;
}

void WriteBehindSink::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return handedOver_ || stopping_; });
        if (!handedOver_) {
            return;
        }
        lock.unlock();
        Drain(writing_);
        lock.lock();
        handedOver_ = false;
        changed_.notify_all();
    }
}

// Runs on one thread at a time: the writer thread, or the caller when there is none.
void WriteBehindSink::Drain(Buffer& buffer) {
    bool failedBefore;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failedBefore = failed_;
    }
    if (failedBefore || buffer.size == 0) {
        return;
    }
    errno = 0;
    if (!inner_.Write(buffer.bytes.get(), buffer.size)) {
        int error = errno != 0 ? errno : EIO;
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
        error_ = error;
        return;
    }
    written_ += static_cast<off_t>(buffer.size);
    if (fd_ >= 0 && written_ - started_ >= kSyncStretch) {
        sync_file_range(fd_, started_, written_ - started_, SYNC_FILE_RANGE_WRITE);
        started_ = written_;
    }
}

bool WriteBehindSink::Finish() {
    bool handedOver = filling_.size == 0 || HandOver();
    Stop();
    if (!handedOver || failed_) {
        errno = error_ != 0 ? error_ : EIO;
        return false;
    }
    return true;
}

void WriteBehindSink::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

}  // namespace vantrel
