// The about item of the search window's menu renders with the installed fonts, and the about box names the
// data folder in use.
#include <QFontDatabase>
#include <QLabel>
#include <QtTest>

#include "about_dialog.h"
#include "paths/program_paths.h"
#include "resources.h"

using namespace vantrel;

class AboutTest : public QObject {
    Q_OBJECT

private slots:
    void menuItem_rendersWithTheInstalledFonts() {
        const QFont font = QApplication::font();
        const QString item = AboutMenuItemText(font);
        // whatever it chose draws without a missing glyph
        QCOMPARE(TextOrFallback(item, QString(), font), item);
        // string 101 itself wherever a font for simplified Chinese is installed (the package depends on one)
        if (!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty()) {
            QCOMPARE(item, AboutMenuText());
        } else {
            QCOMPARE(item, QStringLiteral("About Vantrel(&A)..."));
        }
    }

    void textOrFallback_fallsBackOnAMissingGlyph() {
        const QFont font = QApplication::font();
        QCOMPARE(TextOrFallback(QStringLiteral("About Vantrel"), QStringLiteral("x"), font),
                 QStringLiteral("About Vantrel"));
        // a private-use character no font draws, inside ordinary text
        const QString missing = QStringLiteral("About ") + QString::fromUcs4(U"\U0010FFFD") + QStringLiteral(" it");
        QCOMPARE(TextOrFallback(missing, QStringLiteral("x"), font), QStringLiteral("x"));
    }

    void aboutBox_namesTheDataFolder() {
        ProgramPaths paths = PathsBeside("/opt/vantrel");
        paths.dataFolder = "/home/ana/.local/share/vantrel/";
        AboutDialog about(paths);
        auto* folder = about.findChild<QLabel*>(QStringLiteral("aboutDataFolder"));
        QCOMPARE(folder->text(), QStringLiteral("Data folder: /home/ana/.local/share/vantrel/"));
    }
};

QTEST_MAIN(AboutTest)
#include "about_test.moc"
