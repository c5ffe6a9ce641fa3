#pragma once

// What the search window remembers between runs, in the user's configuration file (QSettings, in
// ~/.config/vantrel/vantrel.conf): the folder of the last export, and per data folder the networks searched beyond the
// local one and the list's hidden columns (another data folder is another site, with other networks).

#include <QString>
#include <QStringList>
#include <string>

namespace vantrel {

class WindowSettings {
public:
    explicit WindowSettings(const std::string& dataFolder);

    // The folder to offer for an export: the last one used when it still exists, else the nearest folder
    // above it that does, else the user's documents folder, else the home folder.
    QString ExportFolder() const;
    void SetExportFolder(const QString& folder);

    // The networks as typed in "Search networks", one per line; empty when none were searched.
    QString SearchNetworks() const;
    void SetSearchNetworks(const QString& networks);

    // Headings of the list's columns the operator hid.
    QStringList HiddenColumns() const;
    void SetHiddenColumns(const QStringList& headings);

private:
    QString Key(const char* name) const;

    QString folderGroup_;
};

}  // namespace vantrel
