#include "found_list_export.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>

#include "discovery/found_export.h"
#include "ui/messages.h"
#include "ui/window_settings.h"

namespace vantrel {
namespace {

const QString kCsvFilter = QStringLiteral("CSV files (*.csv)");
const QString kJsonFilter = QStringLiteral("JSON files (*.json)");

}  // namespace

ExportFormat ExportFormatFor(const QString& fileName) {
    return fileName.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive) ? ExportFormat::kJson : ExportFormat::kCsv;
}

bool WriteFoundList(const QString& fileName, ExportFormat format, const std::vector<FoundRow>& rows,
                    std::uint32_t probes, QString& problem) {
    std::string text = format == ExportFormat::kJson ? FoundRowsToJson(rows, probes) : FoundRowsToCsv(rows, probes);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        problem = file.errorString();
        return false;
    }
    qint64 written = file.write(text.data(), static_cast<qint64>(text.size()));
    if (written != static_cast<qint64>(text.size())) {
        problem = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        problem = file.errorString();
        return false;
    }
    problem.clear();
    return true;
}

ExportOutcome ExportFoundList(QWidget* parent, WindowSettings& settings, const std::vector<FoundRow>& rows,
                              std::uint32_t probes) {
    QFileDialog dialog(parent, QStringLiteral("Export Found Devices"));
    dialog.setObjectName(QStringLiteral("exportDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({kCsvFilter, kJsonFilter});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    // no file name chosen beforehand: Qt's own dialog applies it once the folder has been read, which can
    // overwrite a name already typed
    dialog.setDirectory(settings.ExportFolder());
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter == kJsonFilter ? QStringLiteral("json") : QStringLiteral("csv"));
    });
    // the name as accepted: the dialog's view of its folder keeps loading after it closes
    QString fileName;
    QObject::connect(&dialog, &QFileDialog::fileSelected, &dialog,
                     [&fileName](const QString& file) { fileName = file; });
    if (dialog.exec() != QDialog::Accepted || fileName.isEmpty()) {
        return {};
    }
    settings.SetExportFolder(QFileInfo(fileName).absolutePath());
    QString problem;
    if (!WriteFoundList(fileName, ExportFormatFor(fileName), rows, probes, problem)) {
        ShowMessage(parent, QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(fileName), problem),
                    QStringLiteral("Export"));
        return {};
    }
    return ExportOutcome{true, fileName};
}

}  // namespace vantrel
