// The text table: lookups with and without a table file, and a dialog passed through it.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include "camera_type_dialog.h"
#include "paths/program_paths.h"
#include "ui/messages.h"
#include "ui/ui_text_table.h"
#include "ui_test_support.h"

using vantrel::CameraTypeDialog;
using vantrel::UiTextTable;
using vantrel::testing::WhenModal;

class UiTextTableTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;

    UiTextTable TableWith(const QByteArray& contents) {
        QFile file(dir.filePath(QStringLiteral("UiText.ini")));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(contents);
        file.close();
        return UiTextTable((dir.path() + QLatin1Char('/')).toStdString(), "UiText.ini");
    }

    static QStringList LabelTexts(QWidget& dialog) {
        QStringList texts;
        for (QLabel* label : dialog.findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
            texts << label->text();
        }
        return texts;
    }

private slots:
    void folder_dataFolderWhenItHoldsTheTableElseTheProgramFolder() {
        QTemporaryDir program;
        vantrel::ProgramPaths paths = vantrel::PathsBeside(program.path().toStdString());
        QVERIFY(QDir(program.path()).mkdir(QStringLiteral("XML")));
        QCOMPARE(vantrel::UiTextFolderFor(paths), paths.programFolder);
        const QString inData = QString::fromStdString(paths.dataFolder) + QStringLiteral("UiText.ini");
        QVERIFY(QDir().mkdir(inData));  // a folder of that name is no table
        QCOMPARE(vantrel::UiTextFolderFor(paths), paths.programFolder);
        QVERIFY(QDir().rmdir(inData));
        QFile table(inData);
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write("[String]\nNormal Camera=Standard\n");
        table.close();
        QCOMPARE(vantrel::UiTextFolderFor(paths), paths.dataFolder);
    }

    void translate_fifoOrDeviceInPlaceOfTheTable_noHangNoTable() {
        const QString path = dir.filePath(QStringLiteral("UiText.ini"));
        QFile::remove(path);
        QVERIFY(mkfifo(path.toLocal8Bit().constData(), 0600) == 0);
        UiTextTable table((dir.path() + QLatin1Char('/')).toStdString(), "UiText.ini");
        // returning at all is the point: a read that waited for a writer would never come back
        QCOMPARE(table.Translate(std::string("Normal Camera")), std::string("Normal Camera"));
        QFile::remove(path);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        QCOMPARE(table.Translate(std::string("Normal Camera")), std::string("Normal Camera"));
        QFile::remove(path);
        // a table linked from elsewhere is still read
        QFile real(dir.filePath(QStringLiteral("real.ini")));
        QVERIFY(real.open(QIODevice::WriteOnly));
        real.write("[String]\nNormal Camera=Standard\n");
        real.close();
        QVERIFY(QFile::link(real.fileName(), path));
        QCOMPARE(table.Translate(std::string("Normal Camera")), std::string("Standard"));
        QFile::remove(path);
    }

    void translate_data() {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QByteArray table =
            "; texts\r\n[String]\r\nNormal Camera=Standard\r\nSpeed Dome=\r\n"
            "  Channel = Kanal  \r\nOK=Übernehmen\r\n[Other]\r\nCancel=Abbrechen\r\n";
        QTest::newRow("key found") << table << "Normal Camera"
                                   << "Standard";
        QTest::newRow("key in other case") << table << "NORMAL camera"
                                           << "Standard";
        QTest::newRow("empty value keeps text") << table << "Speed Dome"
                                                << "Speed Dome";
        QTest::newRow("indented key, spaces trimmed") << table << "Channel"
                                                      << "Kanal";
        QTest::newRow("UTF-8 value") << table << "OK"
                                     << "Übernehmen";
        QTest::newRow("key only in another section") << table << "Cancel"
                                                     << "Cancel";
        QTest::newRow("no such key") << table << "Select Camera Type"
                                     << "Select Camera Type";
        QTest::newRow("empty text stays empty") << table << ""
                                                << "";
        QTest::newRow("section name in other case") << QByteArray("[string]\nOK=Yes\n") << "OK"
                                                    << "Yes";
        QTest::newRow("first entry wins") << QByteArray("[String]\nOK=One\nOK=Two\n") << "OK"
                                          << "One";
        QTest::newRow("no section") << QByteArray("OK=Yes\n") << "OK"
                                    << "OK";
    }

    void translate() {
        QFETCH(QByteArray, table);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(TableWith(table).Translate(text), expected);
    }

    void translate_withoutFileOrName_keepsTexts() {
        UiTextTable missing((dir.path() + QStringLiteral("/nowhere/")).toStdString(), "UiText.ini");
        QCOMPARE(missing.Translate(QStringLiteral("Speed Dome")), QStringLiteral("Speed Dome"));
        UiTextTable unnamed((dir.path() + QLatin1Char('/')).toStdString(), "");
        QCOMPARE(unnamed.Path(), std::string());
        QCOMPARE(unnamed.Translate(QStringLiteral("OK")), QStringLiteral("OK"));
    }

    void translate_longLine_isCutNotSplitIntoAnEntry() {
        QByteArray value(250, 'x');
        value.replace(200, 9, "Cancel=Oh");  // would become an entry of its own if the line were split
        UiTextTable table = TableWith("[String]\nOK=" + value + "\n");
        QString translated = table.Translate(QStringLiteral("OK"));
        QVERIFY(translated.startsWith(QStringLiteral("xxxx")));
        QVERIFY(translated.size() < 200);
        QCOMPARE(table.Translate(QStringLiteral("Cancel")), QStringLiteral("Cancel"));
    }

    void applyTo_cameraDialog_translatesTitleLabelsAndButtonsOnly() {
        CameraTypeDialog dialog{UiTextTable{}};
        UiTextTable table = TableWith(
            "[String]\nSelect Camera Type=Kameratyp\nNormal Camera=Standard\n"
            "Cancel=Abbrechen\n1=Eins\n");
        table.ApplyTo(&dialog);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Kameratyp"));
        QStringList labels = LabelTexts(dialog);
        QVERIFY(labels.contains(QStringLiteral("Standard")));
        QVERIFY(labels.contains(QStringLiteral("Speed Dome")));
        QVERIFY(labels.contains(QStringLiteral("Eins")));
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("cancelButton"))->text(), QStringLiteral("Abbrechen"));
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->text(), QStringLiteral("OK"));
        QCOMPARE(dialog.findChild<QRadioButton*>(QStringLiteral("normalCamera1"))->text(), QString());
    }

    void applyTo_editFieldsAndGrandchildren_areLeftAlone() {
        QWidget dialog;
        dialog.setWindowTitle(QStringLiteral("OK"));
        auto* edit = new QLineEdit(QStringLiteral("OK"), &dialog);
        auto* frame = new QWidget(&dialog);
        auto* inner = new QLabel(QStringLiteral("OK"), frame);
        auto* label = new QLabel(QStringLiteral("OK"), &dialog);
        TableWith("[String]\nOK=Fine\n").ApplyTo(&dialog);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Fine"));
        QCOMPARE(label->text(), QStringLiteral("Fine"));
        QCOMPARE(edit->text(), QStringLiteral("OK"));
        QCOMPARE(inner->text(), QStringLiteral("OK"));
    }

    // A replacement is shown as written: markup in it neither renders nor loads anything.
    void applyTo_markupInReplacements_shownAsPlainText_data() {
        QTest::addColumn<QString>("replacement");
        QTest::newRow("image") << QStringLiteral("<img src=\"/etc/passwd\">Standard");
        QTest::newRow("link") << QStringLiteral("<a href=\"http://example.com/\">Standard</a>");
        QTest::newRow("heading") << QStringLiteral("<h1>Standard</h1>");
    }
    void applyTo_markupInReplacements_shownAsPlainText() {
        QFETCH(QString, replacement);
        UiTextTable table =
            TableWith("[String]\nNormal Camera=" + replacement.toUtf8() + "\nCancel=" + replacement.toUtf8() +
                      "\nSelect Camera Type=" + replacement.toUtf8() + "\n");
        CameraTypeDialog dialog(table);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), replacement);
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("cancelButton"))->text(), replacement);
        QLabel* heading = nullptr;
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            QCOMPARE(label->textFormat(), Qt::PlainText);
            if (label->text() == replacement) {
                heading = label;
            }
        }
        QVERIFY(heading != nullptr);
        // a message box too shows its text as it is (a message may quote a table's value or a file name)
        Qt::TextFormat shownAs = Qt::RichText;
        WhenModal<QMessageBox>([&shownAs](QMessageBox* box) {
            shownAs = box->textFormat();
            box->done(QMessageBox::Ok);
        });
        ShowMessage(&dialog, replacement, QStringLiteral("Vantrel"));
        QCOMPARE(shownAs, Qt::PlainText);
    }
};

QTEST_MAIN(UiTextTableTest)
#include "ui_text_table_test.moc"
