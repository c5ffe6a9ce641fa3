// The Device Management dialog: its opening state, the checks on OK, the organization tree and the
// camera type dialog it opens.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "camera_type_dialog.h"
#include "catalogue/device_catalogue.h"
#include "fake_device_store.h"
#include "org_tree.h"
#include "ui/device_management_dialog.h"
#include "ui_test_support.h"

using namespace vantrel;
using vantrel::testing::MessageLog;
using vantrel::testing::ProgramFolder;
using vantrel::testing::WhenModal;

namespace {

QLineEdit* Field(QDialog& dialog, const char* name) {
    return dialog.findChild<QLineEdit*>(QString::fromLatin1(name));
}
QPushButton* Button(QDialog& dialog, const char* name) {
    return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
}

void Type(QDialog& dialog, const char* field, const QString& text) {
    QLineEdit* edit = Field(dialog, field);
    edit->clear();
    bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii) {
        QTest::keyClicks(edit, text);
    } else {
        edit->insert(text);  // the test keyboard types ASCII only
    }
}

QTreeWidgetItem* FindItem(QTreeWidget* tree, const QString& text) {
    QList<QTreeWidgetItem*> found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

}  // namespace

class DeviceManagementDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> folder;
    std::uint32_t north = 0;
    std::uint32_t harbour = 0;

private slots:
    void init() {
        folder = std::make_unique<ProgramFolder>();
        DeviceStore* store = folder->Context().Store();
        north = store->AddOrganization(0, "North");
        harbour = store->AddOrganization(north, "Harbour");
        store->AddOrganization(0, "South");
        QVERIFY(north != 0 && harbour != 0);
        QVERIFY(store->Save() == 1);
        folder->Reload();
    }
    void cleanup() { folder.reset(); }

    void opening_showsDefaultsAndTheTopLevel() {
        DeviceManagementDialog dialog(folder->Context());
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Device Management"));
        QCOMPARE(Field(dialog, "totalChannel")->text(), QStringLiteral("8"));
        QCOMPARE(Field(dialog, "organization")->text(), QStringLiteral("Organization"));
        QVERIFY(Field(dialog, "organization")->isReadOnly());
        QCOMPARE(Field(dialog, "password")->echoMode(), QLineEdit::Password);
        QCOMPARE(dialog.Details().orgId, 0);
        OrgTreeCtrl* tree = dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"));
        QCOMPARE(tree->topLevelItemCount(), 1);
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("Organization"));
        QVERIFY(root->isExpanded());
        QCOMPARE(tree->currentItem(), root);
        QCOMPARE(root->childCount(), 2);
        QCOMPARE(root->child(0)->text(0), QStringLiteral("North"));
        QCOMPARE(root->child(1)->text(0), QStringLiteral("South"));
        QVERIFY(!root->child(0)->isExpanded());
        QCOMPARE(root->child(0)->child(0)->text(0), QStringLiteral("Harbour"));
        QVERIFY(!root->child(0)->icon(0).isNull());
        QCOMPARE(root->child(0)->icon(0).cacheKey(), root->child(1)->icon(0).cacheKey());
    }

    void ok_checks_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("channels");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("message");  // empty: accepted
        const QString name63(63, QLatin1Char('n'));
        const QString name62(62, QLatin1Char('n'));
        const QString text64(64, QLatin1Char('t'));
        const QString twoByte32(32, QChar(0x00E9));  // 64 bytes in UTF-8
        QTest::newRow("accepted") << "Cam"
                                  << "admin"
                                  << "secret"
                                  << "8" << 1 << "";
        QTest::newRow("only spaces") << "   "
                                     << ""
                                     << ""
                                     << "8" << 1 << "Device Name is invalid!";
        QTest::newRow("channels 0") << "Cam"
                                    << ""
                                    << ""
                                    << "0" << 1 << "The channel's number must be between 1 and 16!";
        QTest::newRow("channels 17") << "Cam"
                                     << ""
                                     << ""
                                     << "17" << 1 << "The channel's number must be between 1 and 16!";
        QTest::newRow("channels 1") << "Cam"
                                    << ""
                                    << ""
                                    << "1" << 1 << "";
        QTest::newRow("channels 16") << "Cam"
                                     << ""
                                     << ""
                                     << "16" << 1 << "";
        QTest::newRow("channels empty") << "Cam"
                                        << ""
                                        << ""
                                        << "" << 1 << "Total Channel must be a whole number!";
        QTest::newRow("channels overflow") << "Cam"
                                           << ""
                                           << ""
                                           << "99999999999" << 1 << "Total Channel must be a whole number!";
        QTest::newRow("name and number fill 63 bytes") << name62 << ""
                                                       << ""
                                                       << "8" << 9 << "";
        QTest::newRow("name leaves no room for the number")
            << name63 << ""
            << ""
            << "8" << 1 << "Device Name is too long! Together with the device number it must fit in 63 bytes.";
        QTest::newRow("two-digit numbers need two bytes")
            << name62 << ""
            << ""
            << "8" << 10 << "Device Name is too long! Together with the device number it must fit in 63 bytes.";
        QTest::newRow("name in two-byte characters")
            << twoByte32 << ""
            << ""
            << "8" << 1 << "Device Name is too long! Together with the device number it must fit in 63 bytes.";
        QTest::newRow("name with a double quote") << "Cam \"A\""
                                                  << ""
                                                  << ""
                                                  << "8" << 1 << "Device Name must not contain a double quote (\")!";
        QTest::newRow("name with an ampersand") << "R&D"
                                                << ""
                                                << ""
                                                << "8" << 1 << "Device Name must not contain an ampersand (&)!";
        QTest::newRow("user name with a less-than sign")
            << "Cam"
            << "a<b"
            << ""
            << "8" << 1 << "User Name must not contain a less-than sign (<)!";
        QTest::newRow("password with markup characters, stored enciphered") << "Cam"
                                                                            << ""
                                                                            << "p<&>w"
                                                                            << "8" << 1 << "";
        QTest::newRow("user name 63 bytes") << "Cam" << name63 << ""
                                            << "8" << 1 << "";
        QTest::newRow("user name 64 bytes") << "Cam" << text64 << ""
                                            << "8" << 1 << "User Name is too long! It must fit in 63 bytes.";
        QTest::newRow("password 64 bytes")
            << "Cam"
            << "" << text64 << "8" << 1 << "Password is too long! It must fit in 63 bytes.";
        QTest::newRow("password with a double quote") << "Cam"
                                                      << ""
                                                      << "a\"b"
                                                      << "8" << 1 << "Password must not contain a double quote (\")!";
    }

    void ok_checks() {
        QFETCH(QString, name);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, channels);
        QFETCH(int, rows);
        QFETCH(QString, message);
        MessageLog log;
        DeviceManagementDialog dialog(folder->Context());
        dialog.SetRowCount(rows);
        dialog.show();
        Type(dialog, "deviceName", name);
        Type(dialog, "userName", user);
        Type(dialog, "password", password);
        Type(dialog, "totalChannel", channels);
        QTest::mouseClick(Button(dialog, "okButton"), Qt::LeftButton);
        if (message.isEmpty()) {
            QVERIFY(log.messages.empty());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QVERIFY(!dialog.isVisible());
        } else {
            QCOMPARE(log.Texts(), QStringList{message});
            QCOMPARE(log.messages[0].caption, QStringLiteral("ERROR"));
            QVERIFY(dialog.isVisible());
            // the operator's text is kept as typed, never cut
            QCOMPARE(Field(dialog, "deviceName")->text(), name);
            QCOMPARE(Field(dialog, "userName")->text(), user);
        }
    }

    void ok_trimsTheNameAndGivesTheDetails() {
        DeviceManagementDialog dialog(folder->Context());
        dialog.show();
        dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))
            ->setCurrentItem(
                FindItem(dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree")), QStringLiteral("Harbour")));
        Type(dialog, "deviceName", QStringLiteral("  Cam\t "));
        Type(dialog, "userName", QStringLiteral(" admin "));
        Type(dialog, "password", QStringLiteral("pässwörd"));
        Type(dialog, "totalChannel", QStringLiteral("4"));
        QTest::mouseClick(Button(dialog, "okButton"), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Details().deviceName, QStringLiteral("Cam"));

        const DeviceDetails& details = dialog.Details();
        QCOMPARE(details.userName, QStringLiteral(" admin "));
        QCOMPARE(details.password, QStringLiteral("pässwörd"));
        QCOMPARE(details.channelCount, 4);
        QCOMPARE(details.orgId, static_cast<std::int32_t>(harbour));
        QCOMPARE(details.firstNumber, 1);
    }

    void choosingAnOrganization_keepsWhatWasTyped() {
        DeviceManagementDialog dialog(folder->Context());
        dialog.show();
        Type(dialog, "deviceName", QStringLiteral("Cam"));
        Type(dialog, "userName", QStringLiteral("admin"));
        Type(dialog, "totalChannel", QStringLiteral("12"));
        QTreeWidgetItem* northItem =
            FindItem(dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree")), QStringLiteral("North"));
        QTest::mouseClick(
            dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->viewport(), Qt::LeftButton, {},
            dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->visualItemRect(northItem).center());
        QCOMPARE(dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->currentItem(), northItem);
        QCOMPARE(Field(dialog, "organization")->text(), QStringLiteral("North"));
        QCOMPARE(dialog.Details().orgId, static_cast<std::int32_t>(north));
        QCOMPARE(Field(dialog, "deviceName")->text(), QStringLiteral("Cam"));
        QCOMPARE(Field(dialog, "userName")->text(), QStringLiteral("admin"));
        QCOMPARE(Field(dialog, "totalChannel")->text(), QStringLiteral("12"));
        dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))
            ->setCurrentItem(dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->topLevelItem(0));
        QCOMPARE(Field(dialog, "organization")->text(), QStringLiteral("Organization"));
        QCOMPARE(dialog.Details().orgId, 0);
    }

    void editCameraType_countOutOfRange_toldWithoutOpening_data() {
        QTest::addColumn<QString>("channels");
        QTest::newRow("0") << "0";
        QTest::newRow("20") << "20";
    }

    void editCameraType_countOutOfRange_toldWithoutOpening() {
        QFETCH(QString, channels);
        MessageLog log;
        DeviceManagementDialog dialog(folder->Context());
        dialog.show();
        Type(dialog, "totalChannel", channels);
        QTest::mouseClick(Button(dialog, "editCameraType"), Qt::LeftButton);
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("The channel's number must be between 1 and 16!")});
        QCOMPARE(log.messages[0].caption, QStringLiteral("Quellfort"));
        QVERIFY(dialog.findChild<CameraTypeDialog*>() == nullptr);
    }

    void editCameraType_okKeepsChoicesCancelLeavesThem() {
        DeviceManagementDialog dialog(folder->Context());
        dialog.show();
        Type(dialog, "totalChannel", QStringLiteral("4"));
        int shownRows = 0;
        WhenModal<CameraTypeDialog>([&](CameraTypeDialog* camera) {
            for (int channel = 1; channel <= 16; ++channel) {
                shownRows += camera->findChild<QRadioButton*>(QStringLiteral("speedDome%1").arg(channel))->isVisible();
            }
            camera->findChild<QRadioButton*>(QStringLiteral("speedDome3"))->click();
            camera->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        QTest::mouseClick(Button(dialog, "editCameraType"), Qt::LeftButton);
        QCOMPARE(shownRows, 4);
        std::array<std::int32_t, 16> expected{};
        expected[2] = 1;
        QCOMPARE(dialog.Details().cameraTypes, expected);

        bool reopenedWithChoice = false;
        WhenModal<CameraTypeDialog>([&](CameraTypeDialog* camera) {
            reopenedWithChoice = camera->findChild<QRadioButton*>(QStringLiteral("speedDome3"))->isChecked();
            camera->findChild<QRadioButton*>(QStringLiteral("speedDome1"))->click();
            camera->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
        });
        QTest::mouseClick(Button(dialog, "editCameraType"), Qt::LeftButton);
        QVERIFY(reopenedWithChoice);
        QCOMPARE(dialog.Details().cameraTypes, expected);
    }

    void fillOrgTree_followsTheCatalogueAndSkipsMissingBranches() {
        vantrel::testing::FakeDeviceStore store;
        store.AddOrg(0, 1, "A");
        store.AddOrg(0, 2, "B");
        store.AddOrg(1, 3, "A1");
        store.AddOrg(1, 4, "A2");
        store.AddOrg(3, 5, "A1a");
        store.AddOrg(2, 6, "Unreadable");
        store.AddOrg(6, 7, "Below");
        store.failingParents = {6};
        DeviceCatalogue catalogue(StoreAccess{[&] { return &store; }, nullptr});
        catalogue.LoadAll();
        OrgTreeCtrl tree;
        FillOrgTree(&tree, nullptr, 0, &catalogue);
        QCOMPARE(tree.topLevelItemCount(), 1);
        QTreeWidgetItem* root = tree.topLevelItem(0);
        QCOMPARE(root->childCount(), 2);
        QTreeWidgetItem* a = root->child(0);
        QCOMPARE(a->text(0), QStringLiteral("A"));
        QCOMPARE(OrgTreeCtrl::OrgIdOf(a), 1);
        QCOMPARE(a->childCount(), 2);
        QCOMPARE(a->child(0)->text(0), QStringLiteral("A1"));
        QCOMPARE(a->child(0)->child(0)->text(0), QStringLiteral("A1a"));
        QCOMPARE(a->child(1)->text(0), QStringLiteral("A2"));
        QCOMPARE(root->child(1)->childCount(), 0);  // organization 6 could not be read

        OrgTreeCtrl partial;
        FillOrgTree(&partial, nullptr, 42, &catalogue);
        QCOMPARE(partial.topLevelItemCount(), 0);
        FillOrgTree(&partial, nullptr, 0, nullptr);
        QCOMPARE(partial.topLevelItemCount(), 0);
    }

    void keyboard_opensOnDeviceNameAndTabsRoundThroughTheTree() {
        DeviceManagementDialog dialog(folder->Context());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(QApplication::focusWidget(), Field(dialog, "deviceName"));
        QStringList order;
        for (int step = 0; step < 9; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, (QStringList{"userName", "password", "totalChannel", "editCameraType", "firstNumber",
                                     "okButton", "cancelButton", "orgTree", "deviceName"}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree")));
        // in the tree the arrow keys choose the organization
        QTest::keyClick(dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree")), Qt::Key_Down);
        QCOMPARE(Field(dialog, "organization")->text(), QStringLiteral("North"));
    }

    void keyboard_mnemonicsReachEveryField() {
        DeviceManagementDialog dialog(folder->Context());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        const std::pair<char, QWidget*> mnemonics[] = {
            {'O', dialog.findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))},
            {'U', Field(dialog, "userName")},
            {'P', Field(dialog, "password")},
            {'H', Field(dialog, "totalChannel")},
            {'N', Field(dialog, "deviceName")},
        };
        for (const auto& [letter, target] : mnemonics) {
            QTest::keyClick(&dialog, static_cast<Qt::Key>(letter), Qt::AltModifier);
            QVERIFY2(QApplication::focusWidget() == target, &letter);
        }
        bool opened = false;
        WhenModal<CameraTypeDialog>([&opened](CameraTypeDialog* camera) {
            opened = true;
            camera->reject();
        });
        QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(opened);  // a mnemonic clicks with the button's short animation
    }

    void look_textFollowsTheDesktopFont() {
        const QFont desktop = QApplication::font();
        for (int points : {9, 16}) {
            QFont font = desktop;
            font.setPointSize(points);
            QApplication::setFont(font);
            DeviceManagementDialog dialog(folder->Context());
            dialog.show();
            QCOMPARE(dialog.font().pointSize(), points);
            CameraTypeDialog cameras(UiTextTable{}, &dialog);
            cameras.channelCount = 2;
            cameras.show();
            // every text fits its control at that size
            QList<QLabel*> labels = dialog.findChildren<QLabel*>();
            labels += cameras.findChildren<QLabel*>();
            for (QLabel* label : labels) {
                if (!label->isVisible()) {
                    continue;
                }
                QVERIFY2(label->sizeHint().width() <= label->width(),
                         qPrintable(QStringLiteral("%1 at %2 points: %3 > %4")
                                        .arg(label->text())
                                        .arg(points)
                                        .arg(label->sizeHint().width())
                                        .arg(label->width())));
                QVERIFY2(label->fontMetrics().height() <= label->height() + 2, qPrintable(label->text()));
            }
            for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
                QVERIFY2(
                    button->fontMetrics().horizontalAdvance(button->text().remove(QLatin1Char('&'))) < button->width(),
                    qPrintable(button->text()));
            }
            QVERIFY(Field(dialog, "deviceName")->height() >= Field(dialog, "deviceName")->fontMetrics().height());
        }
        QApplication::setFont(desktop);
    }
};

QTEST_MAIN(DeviceManagementDialogTest)
#include "device_management_dialog_test.moc"
