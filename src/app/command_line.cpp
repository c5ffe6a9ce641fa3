#include "command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QRegularExpression>

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "0"
#endif

namespace vantrel {
namespace {

constexpr const char* kProgram = "vantrel";

QString HelpText(const QCommandLineParser& parser, const DataFolderChoice& dataFolder) {
    QString text = parser.helpText();
    // without an application object Qt cannot name the program
    text.replace(0, text.indexOf(QLatin1Char('\n')), QStringLiteral("Usage: %1 [options]").arg(kProgram));
    text += QStringLiteral(
                "\nEnvironment:\n"
                "  %1  the data folder when --data-dir is not given\n"
                "\nThe data folder holds the device database Data.xml and its key Data.key. Without --data-dir or\n"
                "%1 it is XML/ beside the program; for an installed program it is the user's data folder,\n"
                "$XDG_DATA_HOME/vantrel (~/.local/share/vantrel), created when first used.\n")
                .arg(QString::fromLatin1(kDataDirVariable));
    if (dataFolder.problem.empty()) {
        text +=
            QStringLiteral("\nData folder: %1 (%2)\n")
                .arg(QString::fromStdString(dataFolder.folder), QString::fromLatin1(DescribeSource(dataFolder.source)));
    } else {
        text += QStringLiteral("\nData folder: none: %1\n").arg(QString::fromStdString(dataFolder.problem));
    }
    return text;
}

StartDecision Refuse(const QString& problem) {
    StartDecision decision;
    decision.action = StartDecision::Action::kError;
    decision.exitStatus = kUsageExitStatus;
    decision.output =
        QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(QLatin1String(kProgram), problem);
    return decision;
}

}  // namespace

bool MayHoldQtOptions(const QStringList& arguments) {
    static const QRegularExpression word(QStringLiteral("^-[A-Za-z]{2,}"));
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--")) {
            break;
        }
        if (word.match(arguments[i]).hasMatch()) {
            return true;
        }
    }
    return false;
}

StartDecision DecideStart(const QStringList& arguments, DataFolderRequest request) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Finds network video devices (video recorders, IP cameras) and registers them in a device database.\n"
        "Starting it sends a search broadcast on the local network (UDP port 5050)."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("Keep the database (Data.xml, Data.key) in the folder <DIR>."),
                                     QStringLiteral("DIR"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(dataDir);

    if (!parser.parse(arguments)) {
        return Refuse(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Refuse(QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().first()));
    }
    if (parser.isSet(dataDir) && parser.value(dataDir).isEmpty()) {
        return Refuse(QStringLiteral("--data-dir needs a folder."));
    }
    StartDecision decision;
    if (parser.isSet(version)) {
        decision.action = StartDecision::Action::kVersion;
        decision.output = QStringLiteral("%1 %2\n").arg(QLatin1String(kProgram), QLatin1String(VANTREL_VERSION));
        return decision;
    }
    request.option = parser.value(dataDir).toStdString();
    decision.dataFolder = ChooseDataFolder(request);
    if (parser.isSet(help)) {
        decision.action = StartDecision::Action::kHelp;
        decision.output = HelpText(parser, decision.dataFolder);
        return decision;
    }
    if (!decision.dataFolder.problem.empty()) {
        decision.action = StartDecision::Action::kError;
        decision.exitStatus = kUsageExitStatus;
        decision.output = QStringLiteral("%1: %2\n")
                              .arg(QLatin1String(kProgram), QString::fromStdString(decision.dataFolder.problem));
    }
    return decision;
}

}  // namespace vantrel
