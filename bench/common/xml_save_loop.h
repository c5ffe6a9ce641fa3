#pragma once

// The timed loop shared by the benchmarks that save a loaded database with the program's own writer.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "xml/xml_document.h"
#include "xml/xml_writer.h"

namespace vantrel::bench {

// Loads source once, then saves it to out (indented) on every iteration; removes out at the end.
inline void TimeIndentedSave(benchmark::State& state, const std::string& source, const std::string& out) {
    vantrel::XmlDocument document;
    document.LoadFile(source.c_str());
    for (auto _ : state) {
        int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        vantrel::XmlFdSink sink(fd);
        bool written = fd >= 0 && vantrel::XmlWrite(sink, document.Root(), vantrel::XmlLayout::Indented);
        if (fd < 0 || ::close(fd) != 0 || !written)
            state.SkipWithError("write failed");
    }
    std::remove(out.c_str());
}

}  // namespace vantrel::bench
