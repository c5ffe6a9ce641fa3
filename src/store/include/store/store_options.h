#pragma once

// How a store reaches its file: how Save writes, how long it waits for the lock and how a wait passes time.
// The defaults are the program's; tests give their own.

#include <chrono>
#include <functional>
#include <memory>

#include "xml/xml_writer.h"

namespace vantrel {

// Makes the sink that writes the file's bytes into an open descriptor (tests wrap it to fail part-way).
using SaveSinkFactory = std::function<std::unique_ptr<XmlSink>(int fd)>;

// Waits the given time; the store is given one so that tests drive the wait instead of sleeping.
using Sleeper = std::function<void(std::chrono::milliseconds)>;

struct DatabaseFileOptions {
    // How Save writes its bytes into the open temporary file; null writes straight to the descriptor.
    SaveSinkFactory saveSink;
    // How long load and Save wait for another holder of the lock file.
    std::chrono::milliseconds lockTimeout{5000};
    // How the wait for another writer passes time; null sleeps.
    Sleeper sleep;
};

}  // namespace vantrel
