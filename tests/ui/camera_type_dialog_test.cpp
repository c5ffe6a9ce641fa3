// The camera type dialog: rows shown for the channel count, hidden rows and the shrinking, OK and Cancel.
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "camera_type_dialog.h"
#include "ui/ui_text_table.h"

using vantrel::CameraTypeDialog;

class CameraTypeDialogTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;  // the program's folder, without a text table

    static QRadioButton* Normal(QDialog& d, int channel) {
        return d.findChild<QRadioButton*>(QStringLiteral("normalCamera%1").arg(channel));
    }
    static QRadioButton* Dome(QDialog& d, int channel) {
        return d.findChild<QRadioButton*>(QStringLiteral("speedDome%1").arg(channel));
    }
    static QWidget* Child(QDialog& d, const char* name) { return d.findChild<QWidget*>(QString::fromLatin1(name)); }

private slots:
    vantrel::UiTextTable NoTable() const { return vantrel::UiTextTable(dir.path().toStdString() + "/", "UiText.ini"); }

    void rows_shownForTheChannelCount_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("shrink");
        QTest::newRow("1") << 1 << 300;
        QTest::newRow("4") << 4 << 240;
        QTest::newRow("8") << 8 << 160;
        QTest::newRow("16") << 16 << 0;
    }

    void rows_shownForTheChannelCount() {
        QFETCH(int, count);
        QFETCH(int, shrink);
        CameraTypeDialog full{NoTable()};
        full.channelCount = 16;
        full.show();
        CameraTypeDialog dialog{NoTable()};
        dialog.channelCount = count;
        dialog.show();
        for (int channel = 1; channel <= 16; ++channel) {
            bool shown = channel <= count;
            QCOMPARE(Normal(dialog, channel)->isVisible(), shown);
            QCOMPARE(Dome(dialog, channel)->isVisible(), shown);
            QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("channelLabel%1").arg(channel))->isVisible(), shown);
            if (shown) {
                QVERIFY(Normal(dialog, channel)->isChecked());
                QVERIFY(!Dome(dialog, channel)->isChecked());
            }
        }
        QCOMPARE(full.height() - dialog.height(), shrink);
        QCOMPARE(dialog.width(), full.width());
        QCOMPARE(Child(full, "groupBox")->height() - Child(dialog, "groupBox")->height(), shrink);
        QCOMPARE(Child(full, "groupBox")->pos(), Child(dialog, "groupBox")->pos());
        for (const char* button : {"okButton", "cancelButton"}) {
            QCOMPARE(Child(full, button)->y() - Child(dialog, button)->y(), shrink);
            QCOMPARE(Child(full, button)->size(), Child(dialog, button)->size());
            // the buttons stay inside the shrunk dialog, below the group box
            QVERIFY(Child(dialog, button)->geometry().bottom() < dialog.height());
            QVERIFY(Child(dialog, button)->y() > Child(dialog, "groupBox")->geometry().bottom());
        }
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Select Camera Type"));
    }

    void ok_takesShownRowsAndKeepsHiddenOnes() {
        CameraTypeDialog dialog{NoTable()};
        dialog.channelCount = 8;
        dialog.cameraTypes[1] = 1;
        dialog.cameraTypes[9] = 1;  // channel 10, beyond the count
        dialog.cameraTypes[12] = 5;
        dialog.show();
        QVERIFY(Dome(dialog, 2)->isChecked());
        QTest::mouseClick(Dome(dialog, 3), Qt::LeftButton);
        QTest::mouseClick(Normal(dialog, 2), Qt::LeftButton);
        QVERIFY(Dome(dialog, 3)->isChecked() && !Normal(dialog, 3)->isChecked());
        QVERIFY(!Dome(dialog, 4)->isChecked());  // rows are independent
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        std::array<std::int32_t, 16> expected{};
        expected[2] = 1;
        expected[9] = 1;
        expected[12] = 5;
        QCOMPARE(dialog.cameraTypes, expected);
    }

    void cancel_readsNothing() {
        CameraTypeDialog dialog{NoTable()};
        dialog.channelCount = 4;
        dialog.show();
        QTest::mouseClick(Dome(dialog, 1), Qt::LeftButton);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.cameraTypes[0], 0);
    }

    void countOutOfRange_showsNearestRowCount() {
        CameraTypeDialog none{NoTable()};
        none.channelCount = 0;
        none.show();
        QVERIFY(Normal(none, 1)->isVisible());
        QVERIFY(!Normal(none, 2)->isVisible());
        CameraTypeDialog many{NoTable()};
        many.channelCount = 40;
        many.show();
        QVERIFY(Normal(many, 16)->isVisible());
    }
};

QTEST_MAIN(CameraTypeDialogTest)
#include "camera_type_dialog_test.moc"
