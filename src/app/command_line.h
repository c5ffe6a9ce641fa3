#pragma once

// vantrel's command line: what to do, and the data folder that running would use.

#include <QString>
#include <QStringList>

#include "app/data_folder.h"

namespace vantrel {

struct StartDecision {
    enum class Action { kRun, kHelp, kVersion, kError };
    Action action = Action::kRun;
    // kHelp, kVersion: the text for standard output; kError: the message for standard error.
    QString output;
    int exitStatus = 0;  // 2 for a bad command line or an unusable data folder
    DataFolderChoice dataFolder;
};

// Exit status for a bad command line, as for most command-line programs.
inline constexpr int kUsageExitStatus = 2;

// arguments as QCoreApplication::arguments() gives them, the program first. request supplies everything but
// the --data-dir value, which comes from arguments. --help and --version win over everything after a clean
// parse; --help names the data folder in use (nothing is created for it).
StartDecision DecideStart(const QStringList& arguments, DataFolderRequest request);

// Whether arguments may hold options of Qt's own (-platform, -style, ...), which only QApplication knows and
// strips: a word after a single dash. Such a command line is decided after QApplication has been made.
bool MayHoldQtOptions(const QStringList& arguments);

}  // namespace vantrel
