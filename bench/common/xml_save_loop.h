#pragma once

// The timed loop shared by the benchmarks that save a loaded database with the program's own writer.

#include <benchmark/benchmark.h>

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
        if (!vantrel::XmlWriteFile(out.c_str(), document.Root(), vantrel::XmlLayout::Indented))
            state.SkipWithError("write failed");
    }
    std::remove(out.c_str());
}

}  // namespace vantrel::bench
