#include "ui/window_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <memory>

namespace vantrel {
namespace {

constexpr const char* kExportFolderKey = "export/folder";

// ~/.config/vantrel/vantrel.conf, whatever name the running program gave itself
std::unique_ptr<QSettings> Stored() {
    return std::make_unique<QSettings>(QStringLiteral("vantrel"), QStringLiteral("vantrel"));
}

// The folder itself when it exists, else the nearest one above it that does; empty when none does.
QString ExistingFolderAtOrAbove(const QString& folder) {
    if (folder.isEmpty()) {
        return {};
    }
    QDir dir(QDir::cleanPath(folder));
    while (!dir.exists()) {
        if (dir.isRoot() || !dir.cdUp()) {
            return {};
        }
    }
    return dir.absolutePath();
}

}  // namespace

// A group per data folder; the folder's bytes percent-encoded, since '/' and '\' separate groups and keys.
WindowSettings::WindowSettings(const std::string& dataFolder)
    : folderGroup_(QStringLiteral("dataFolders/") +
                   QString::fromLatin1(QByteArray::fromStdString(dataFolder).toPercentEncoding())) {}

QString WindowSettings::Key(const char* name) const {
    return folderGroup_ + QLatin1Char('/') + QLatin1String(name);
}

QString WindowSettings::ExportFolder() const {
    QString last = ExistingFolderAtOrAbove(Stored()->value(QLatin1String(kExportFolderKey)).toString());
    if (!last.isEmpty() && last != QDir::rootPath()) {
        return last;
    }
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void WindowSettings::SetExportFolder(const QString& folder) {
    Stored()->setValue(QLatin1String(kExportFolderKey), folder);
}

QString WindowSettings::SearchNetworks() const {
    return Stored()->value(Key("searchNetworks")).toString();
}

void WindowSettings::SetSearchNetworks(const QString& networks) {
    Stored()->setValue(Key("searchNetworks"), networks);
}

QStringList WindowSettings::HiddenColumns() const {
    return Stored()->value(Key("hiddenColumns")).toStringList();
}

void WindowSettings::SetHiddenColumns(const QStringList& headings) {
    Stored()->setValue(Key("hiddenColumns"), headings);
}

}  // namespace vantrel
