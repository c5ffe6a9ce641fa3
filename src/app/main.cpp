// Vantrel: decides from the command line where the data folder is, then runs the search window modally and
// ends when it closes.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <optional>

#include "command_line.h"
#include "context/program_context.h"
#include "paths/program_paths.h"
#include "ui/messages.h"
#include "ui/search_dialog.h"
#include "ui/single_instance.h"

namespace {

QStringList ArgumentsOf(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

// Prints what --help, --version or a refusal has to say; true when the program ends there.
bool Finish(const vantrel::StartDecision& decision) {
    if (decision.action == vantrel::StartDecision::Action::kRun) {
        return false;
    }
    std::FILE* stream = decision.action == vantrel::StartDecision::Action::kError ? stderr : stdout;
    std::fputs(decision.output.toLocal8Bit().constData(), stream);
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    const vantrel::ProgramPaths beside = vantrel::PathsBesideProgram();
    // Decided before any window system is asked for, so --help works without a display; a command line with
    // Qt's own options (-platform, ...) waits for QApplication, which takes those out.
    vantrel::StartDecision decision;
    const QStringList arguments = ArgumentsOf(argc, argv);
    const bool early = !vantrel::MayHoldQtOptions(arguments);
    if (early) {
        decision = vantrel::DecideStart(arguments, vantrel::RequestFromEnvironment(beside.programFolder, {}));
        if (Finish(decision)) {
            return decision.exitStatus;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vantrel.vantrel"));
    if (!early) {
        decision =
            vantrel::DecideStart(QApplication::arguments(), vantrel::RequestFromEnvironment(beside.programFolder, {}));
        if (Finish(decision)) {
            return decision.exitStatus;
        }
    }

    vantrel::ProgramPaths paths = beside;
    paths.dataFolder = decision.dataFolder.folder;
    if (decision.dataFolder.source == vantrel::DataFolderSource::kUserData) {
        const vantrel::DataFolderCreation created = vantrel::CreateDataFolder(paths.dataFolder);
        if (!created.Ready()) {
            std::fprintf(stderr, "vantrel: %s\n", created.problem.c_str());
            QMessageBox::critical(
                nullptr, QStringLiteral("Vantrel"),
                QStringLiteral("Vantrel cannot start: %1.").arg(QString::fromStdString(created.problem)));
            return 1;
        }
    }
    vantrel::ProgramContext context(paths);
    vantrel::InstallCatalogueMessages(context);
    // held until the window has closed
    const std::optional<vantrel::InstanceLock> claimed = vantrel::ClaimDataFolder(context);
    if (!claimed) {
        return 1;
    }
    {
        vantrel::SearchDialog window(context);
        window.exec();
    }
    return 0;
}
