#include "ui/ui_text_table.h"

#include <ini.h>
#include <strings.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>
#include <sstream>

#include "files/file_read.h"
#include "paths/program_paths.h"

namespace vantrel {
namespace {

constexpr const char* kSection = "String";
// The system's inih reads lines of at most 199 bytes and would parse the rest of a longer line as a line of
// its own; such a line is cut here instead.
constexpr std::size_t kMaxLineBytes = INI_MAX_LINE - 1;
// A text table is a few kilobytes; anything larger in its place (or /dev/zero, a FIFO) is not read.
constexpr std::uint64_t kMaxTableBytes = 1 << 20;

struct Lookup {
    const char* key;
    std::string value;
    bool found = false;
};

int OnEntry(void* user, const char* section, const char* name, const char* value) {
    auto* lookup = static_cast<Lookup*>(user);
    if (!lookup->found && strcasecmp(section, kSection) == 0 && strcasecmp(name, lookup->key) == 0) {
        lookup->value = value;
        lookup->found = true;  // the first entry wins, as in a Windows profile file
    }
    return 1;
}

// Indented lines would be continuation lines to the parser; a profile file has no such thing.
std::string WithoutIndentation(std::istream& in) {
    std::string text;
    std::string line;
    while (std::getline(in, line)) {
        std::string::size_type start = line.find_first_not_of(" \t");
        if (start != std::string::npos) {
            text.append(line, start, kMaxLineBytes);
        }
        text += '\n';
    }
    return text;
}

}  // namespace

std::string UiTextFolderFor(const ProgramPaths& paths) {
    struct stat info {};
    std::string inData = paths.dataFolder + kUiTextFileName;
    if (::stat(inData.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        return paths.dataFolder;
    }
    return paths.programFolder;
}

UiTextTable UiTextTableFor(const ProgramPaths& paths) {
    return UiTextTable(UiTextFolderFor(paths), kUiTextFileName);
}

UiTextTable::UiTextTable(std::string folder, std::string fileName)
    : folder_(std::move(folder)), fileName_(std::move(fileName)) {}

std::string UiTextTable::Path() const {
    return fileName_.empty() ? std::string() : folder_ + fileName_;
}

std::string UiTextTable::Translate(const std::string& text) const {
    std::string path = Path();
    if (text.empty() || path.empty()) {
        return text;
    }
    FileContents file = ReadRegularFile(path, kMaxTableBytes, true);
    if (file.status != FileReadStatus::Read) {
        return text;
    }
    std::istringstream in(file.bytes);
    std::string contents = WithoutIndentation(in);
    Lookup lookup{text.c_str(), {}, false};
    ini_parse_string(contents.c_str(), OnEntry, &lookup);
    if (lookup.value.empty()) {
        return text;
    }
    return lookup.value;
}

QString UiTextTable::Translate(const QString& text) const {
    return QString::fromStdString(Translate(text.toStdString()));
}

void UiTextTable::ApplyTo(QWidget* dialog) const {
    if (dialog == nullptr) {
        return;
    }
    if (!dialog->windowTitle().isEmpty()) {
        dialog->setWindowTitle(Translate(dialog->windowTitle()));
    }
    for (QObject* child : dialog->children()) {
        if (qobject_cast<QLineEdit*>(child) || qobject_cast<QAbstractSpinBox*>(child) ||
            qobject_cast<QTextEdit*>(child) || qobject_cast<QPlainTextEdit*>(child)) {
            continue;
        }
        if (auto* button = qobject_cast<QAbstractButton*>(child)) {
            button->setText(Translate(button->text()));
        } else if (auto* label = qobject_cast<QLabel*>(child)) {
            label->setTextFormat(Qt::PlainText);
            label->setText(Translate(label->text()));
        } else if (auto* group = qobject_cast<QGroupBox*>(child)) {
            group->setTitle(Translate(group->title()));
        }
    }
}

}  // namespace vantrel
