#pragma once

// "Export…" of the search list: every listed device with what the search learnt about it, as CSV or JSON
// (the same fields and names as vantrel-scan writes).

#include <QString>
#include <cstdint>
#include <vector>

#include "discovery/found_row.h"

class QWidget;

namespace vantrel {

enum class ExportFormat { kCsv, kJson };

// The format a file name asks for: JSON for a name ending in ".json" (any case), CSV for every other.
ExportFormat ExportFormatFor(const QString& fileName);

// Writes the rows as one whole file: a failed write leaves an earlier file of that name as it was. probes is n
// of "seen in k of n". False with the reason when the file cannot be written.
bool WriteFoundList(const QString& fileName, ExportFormat format, const std::vector<FoundRow>& rows,
                    std::uint32_t probes, QString& problem);

class WindowSettings;

struct ExportOutcome {
    bool written = false;  // false also when the operator cancelled
    QString fileName;      // the file written
};

// Asks for a file name, starting in the folder of the last export, and writes the rows there in their order;
// the folder is remembered. A failure is told in a message naming the file.
ExportOutcome ExportFoundList(QWidget* parent, WindowSettings& settings, const std::vector<FoundRow>& rows,
                              std::uint32_t probes);

}  // namespace vantrel
