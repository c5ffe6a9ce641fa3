// vantrel's command line: --help, --version and refusals decided before any window exists, and the data
// folder that --data-dir and VANTREL_DATA_DIR choose.
#include <stdlib.h>

#include <QtTest>
#include <filesystem>

#include "command_line.h"
#include "temp_folder.h"

using namespace vantrel;
using Action = StartDecision::Action;

class CommandLineTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempFolder> temp;

    // A program with a writable XML/ beside it.
    DataFolderRequest Request() const {
        DataFolderRequest request;
        request.programFolder = temp->Path() + "bin/";
        request.home = temp->Path() + "home";
        request.workingFolder = temp->Path();
        request.writable = [](const std::string&) { return true; };
        return request;
    }
    static QStringList Arguments(const QStringList& options) {
        return QStringList{QStringLiteral("vantrel")} + options;
    }

private slots:
    void init() {
        temp = std::make_unique<TempFolder>();
        std::filesystem::create_directories(temp->Path() + "bin/XML");
        std::filesystem::create_directories(temp->Path() + "elsewhere");
    }
    void cleanup() { temp.reset(); }

    void noOptions_runsWithTheFolderBesideTheProgram() {
        const StartDecision decision = DecideStart(Arguments({}), Request());
        QCOMPARE(decision.action, Action::kRun);
        QCOMPARE(decision.exitStatus, 0);
        QCOMPARE(decision.dataFolder.folder, temp->Path() + "bin/XML/");
    }

    void help_listsTheOptionsAndNamesTheDataFolder() {
        StartDecision decision = DecideStart(Arguments({QStringLiteral("--help")}), Request());
        QCOMPARE(decision.action, Action::kHelp);
        QCOMPARE(decision.exitStatus, 0);
        QVERIFY(decision.output.startsWith(QStringLiteral("Usage: vantrel [options]\n")));
        for (const char* word : {"--help", "--version", "--data-dir <DIR>", "VANTREL_DATA_DIR", "broadcast"}) {
            QVERIFY2(decision.output.contains(QLatin1String(word)), word);
        }
        const QString beside = QString::fromStdString(temp->Path() + "bin/XML/");
        QVERIFY2(decision.output.contains(QStringLiteral("Data folder: %1 (beside the program)").arg(beside)),
                 qPrintable(decision.output));

        // the folder this command line would use, also one that does not exist yet
        decision = DecideStart(Arguments({QStringLiteral("-h"), QStringLiteral("--data-dir=elsewhere")}), Request());
        QCOMPARE(decision.action, Action::kHelp);
        QVERIFY(decision.output.contains(QStringLiteral("Data folder: %1 (given by --data-dir)")
                                             .arg(QString::fromStdString(temp->Path() + "elsewhere/"))));
        DataFolderRequest installed = Request();
        installed.programFolder = "/usr/bin/";
        decision = DecideStart(Arguments({QStringLiteral("--help")}), installed);
        const QString userData = QString::fromStdString(temp->Path() + "home/.local/share/vantrel/");
        QVERIFY(decision.output.contains(QStringLiteral("Data folder: %1 (the user's data folder)").arg(userData)));
        QVERIFY(!QFileInfo::exists(userData));
    }

    void version_printsNameAndVersion() {
        const StartDecision decision = DecideStart(Arguments({QStringLiteral("--version")}), Request());
        QCOMPARE(decision.action, Action::kVersion);
        QCOMPARE(decision.output, QStringLiteral("vantrel " VANTREL_VERSION "\n"));
        QCOMPARE(DecideStart(Arguments({QStringLiteral("-v")}), Request()).action, Action::kVersion);
    }

    void badCommandLine_isRefusedWithStatus2_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "vantrel: Unknown option 'bogus'.";
        QTest::newRow("unknown even with --help") << QStringList{"--help", "--bogus"} << "Unknown option 'bogus'.";
        QTest::newRow("missing value") << QStringList{"--data-dir"} << "Missing value after '--data-dir'.";
        QTest::newRow("empty value") << QStringList{"--data-dir="} << "--data-dir needs a folder.";
        QTest::newRow("argument") << QStringList{"Data.xml"} << "unexpected argument 'Data.xml'.";
        QTest::newRow("missing folder") << QStringList{"--data-dir", "nowhere"} << "does not exist";
    }
    void badCommandLine_isRefusedWithStatus2() {
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        const StartDecision decision = DecideStart(Arguments(options), Request());
        QCOMPARE(decision.action, Action::kError);
        QCOMPARE(decision.exitStatus, 2);
        QVERIFY2(decision.output.contains(message), qPrintable(decision.output));
        QVERIFY(decision.output.endsWith(QLatin1Char('\n')));
    }

    void dataDir_optionAndEnvironment() {
        const std::string elsewhere = temp->Path() + "elsewhere/";
        StartDecision decision =
            DecideStart(Arguments({QStringLiteral("--data-dir"), QString::fromStdString(elsewhere)}), Request());
        QCOMPARE(decision.action, Action::kRun);
        QCOMPARE(decision.dataFolder.folder, elsewhere);
        QCOMPARE(decision.dataFolder.source, DataFolderSource::kOption);

        // the variable as this process sees it, below --data-dir
        ::setenv(kDataDirVariable, elsewhere.c_str(), 1);
        decision = DecideStart(Arguments({}), RequestFromEnvironment(temp->Path() + "bin/", {}));
        QCOMPARE(decision.dataFolder.source, DataFolderSource::kEnvironment);
        QCOMPARE(decision.dataFolder.folder, elsewhere);
        decision = DecideStart(Arguments({QStringLiteral("--data-dir=") + QString::fromStdString(temp->Path())}),
                               RequestFromEnvironment(temp->Path() + "bin/", {}));
        QCOMPARE(decision.dataFolder.folder, temp->Path());
        ::setenv(kDataDirVariable, (temp->Path() + "gone").c_str(), 1);
        decision = DecideStart(Arguments({}), RequestFromEnvironment(temp->Path() + "bin/", {}));
        ::unsetenv(kDataDirVariable);
        QCOMPARE(decision.action, Action::kError);
        QVERIFY(decision.output.contains(QStringLiteral("given by VANTREL_DATA_DIR does not exist")));
    }

    void qtOptions_waitForTheApplicationObject() {
        QVERIFY(MayHoldQtOptions(Arguments({QStringLiteral("-platform"), QStringLiteral("offscreen")})));
        QVERIFY(MayHoldQtOptions(Arguments({QStringLiteral("--help"), QStringLiteral("-style=fusion")})));
        QVERIFY(
            !MayHoldQtOptions(Arguments({QStringLiteral("-h"), QStringLiteral("--data-dir"), QStringLiteral("x")})));
        QVERIFY(!MayHoldQtOptions(Arguments({QStringLiteral("--"), QStringLiteral("-platform")})));
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "command_line_test.moc"
