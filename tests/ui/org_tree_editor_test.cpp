// Organizations in the Device Management tree: New (Insert), Rename (F2) and Remove (Delete) reach Data.xml
// through the real store, bad names are refused naming the problem, removal asks with the number of devices,
// and a failed save is told and leaves memory as the file is.
#include <QAction>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <cstring>

#include "catalogue/device_catalogue.h"
#include "org_tree.h"
#include "org_tree_editor.h"
#include "store/device_store.h"
#include "store/xml_device_store.h"
#include "ui/device_management_dialog.h"
#include "ui_test_support.h"

using namespace vantrel;
using vantrel::testing::MessageLog;
using vantrel::testing::ProgramFolder;
using vantrel::testing::WhenModal;

namespace {

// Answers the next name prompt with text (accepting) or cancels it when text is null; returns what it showed.
QPointer<QTimer> AnswerName(const char* text, QString* shown = nullptr, QString* title = nullptr) {
    return WhenModal<QInputDialog>([=](QInputDialog* dialog) {
        if (shown != nullptr) {
            *shown = dialog->textValue();
        }
        if (title != nullptr) {
            *title = dialog->windowTitle();
        }
        if (text == nullptr) {
            dialog->reject();
            return;
        }
        dialog->setTextValue(QString::fromUtf8(text));
        dialog->accept();
    });
}

// Answers the next question with Yes or No and keeps its text.
QPointer<QTimer> AnswerQuestion(bool yes, QString* text, bool* noIsDefault = nullptr) {
    return WhenModal<QMessageBox>([=](QMessageBox* box) {
        *text = box->text();
        if (noIsDefault != nullptr) {
            *noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
        }
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    });
}

QTreeWidgetItem* ItemOf(QTreeWidget* tree, std::uint32_t orgId) {
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        if (OrgTreeCtrl::OrgIdOf(*it) == static_cast<std::int32_t>(orgId)) {
            return *it;
        }
    }
    return nullptr;
}

// A store over a fresh load of the file: what another start of the program would see.
std::unique_ptr<DeviceStore> Reopen(const ProgramFolder& folder) {
    return OpenDeviceStore(folder.DatabasePath().toStdString());
}

// A sink that takes nothing, so that every save fails.
class RefusingSink : public XmlSink {
public:
    bool Write(const char*, std::size_t) override { return false; }
};

}  // namespace

class OrgTreeEditorTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<MessageLog> log;
    std::unique_ptr<DeviceManagementDialog> dialog;
    std::uint32_t north = 0;
    std::uint32_t harbour = 0;
    std::uint32_t south = 0;

    void AddDevice(const char* name, const char* host, std::uint32_t orgId) {
        DeviceRecord record{};
        std::strncpy(record.name, name, sizeof record.name - 1);
        std::strncpy(record.host, host, sizeof record.host - 1);
        record.port = 8000;
        record.cameras = 1;
        record.orgId = orgId;
        QVERIFY(folder->Context().Store()->AddDevices(&record, sizeof record) == 1);
    }

    // Shows the dialog with the tree focused and the organization selected.
    void Open(std::uint32_t selected) {
        dialog = std::make_unique<DeviceManagementDialog>(folder->Context());
        dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        OrgTreeCtrl* tree = dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"));
        tree->setFocus();
        tree->setCurrentItem(ItemOf(tree, selected));
    }
    // The key on the focused tree; the dialog is made active again first, as the window manager does when a
    // box over it closes.
    void Press(Qt::Key key) {
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->setFocus();
        QTest::keyClick(dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree")), key);
    }
    // Answers still waiting when a test ends are called off, so that none acts in the next test.
    std::vector<QPointer<QTimer>> answers;
    void Expect(QPointer<QTimer> answer) { answers.push_back(answer); }
    QTreeWidgetItem* Current() const {
        return dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->currentItem();
    }
    QString SavedFile() const {
        QFile file(folder->DatabasePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void init() {
        folder = std::make_unique<ProgramFolder>();
        log = std::make_unique<MessageLog>();
        DeviceStore* store = folder->Context().Store();
        north = store->AddOrganization(0, "North");
        harbour = store->AddOrganization(north, "Harbour");
        south = store->AddOrganization(0, "South");
        AddDevice("Gate", "10.0.0.1", north);
        AddDevice("Pier", "10.0.0.2", harbour);
        AddDevice("Quay", "10.0.0.3", harbour);
        QVERIFY(store->Save() == 1);
        folder->Reload();
    }
    void cleanup() {
        for (const QPointer<QTimer>& answer : answers) {
            delete answer.data();
        }
        answers.clear();
        dialog.reset();
        log.reset();
        folder.reset();
    }

    void insert_addsUnderTheSelectedOneAndSaves() {
        Open(north);
        QString title;
        Expect(AnswerName("  Depot ", nullptr, &title));
        Press(Qt::Key_Insert);
        QCOMPARE(title, QStringLiteral("New Organization"));
        QVERIFY2(log->messages.empty(), qPrintable(log->Texts().join('\n')));

        const std::uint32_t depot = Reopen(*folder)->FindOrganizationByName(north, "Depot");
        QVERIFY(depot != 0);
        // the tree shows it under North, selected, and the form takes it as the organization
        QCOMPARE(Current()->text(0), QStringLiteral("Depot"));
        QCOMPARE(OrgTreeCtrl::OrgIdOf(Current()->parent()), static_cast<std::int32_t>(north));
        QCOMPARE(dialog->Details().orgId, static_cast<std::int32_t>(depot));
        QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("organization"))->text(), QStringLiteral("Depot"));
        const OrgEntry* entry = folder->Context().Catalogue()->FindOrganization(static_cast<std::int32_t>(north));
        QCOMPARE(entry->childIds.back(), static_cast<std::int32_t>(depot));

        // with the root selected, a top-level organization; the same name elsewhere is fine
        dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))
            ->setCurrentItem(dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->topLevelItem(0));
        Expect(AnswerName("Depot"));
        dialog->findChild<OrgTreeEditor*>()->NewAction()->trigger();
        QVERIFY(Reopen(*folder)->FindOrganizationByName(0, "Depot") != 0);
        QCOMPARE(Current()->parent(), dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->topLevelItem(0));
    }

    void f2_renamesInPlaceAndKeepsTheSelection() {
        Open(harbour);
        QString shown;
        Expect(AnswerName("Pier Side", &shown));
        Press(Qt::Key_F2);
        QCOMPARE(shown, QStringLiteral("Harbour"));
        const std::unique_ptr<DeviceStore> saved = Reopen(*folder);
        QCOMPARE(saved->FindOrganizationByName(north, "Pier Side"), harbour);
        QCOMPARE(saved->FindOrganizationByName(north, "Harbour"), 0u);
        QCOMPARE(OrgTreeCtrl::OrgIdOf(Current()), static_cast<std::int32_t>(harbour));
        QCOMPARE(Current()->text(0), QStringLiteral("Pier Side"));
        QVERIFY(Current()->parent()->isExpanded());
        QCOMPARE(dialog->Details().orgName, QStringLiteral("Pier Side"));

        // cancelled: nothing changes, nothing written
        const QString before = SavedFile();
        Expect(AnswerName(nullptr));
        Press(Qt::Key_F2);
        QCOMPARE(SavedFile(), before);
    }

    void delete_asksWithTheDeviceCountFirst() {
        Open(north);
        QString question;
        bool noIsDefault = false;
        const QString before = SavedFile();
        Expect(AnswerQuestion(false, &question, &noIsDefault));
        Press(Qt::Key_Delete);
        QCOMPARE(question, QStringLiteral("Remove the organization \"North\" and the organization below it?\n\n"
                                          "3 devices belong to it or to the organizations below it. They stay in the "
                                          "database without an organization."));
        QVERIFY(noIsDefault);
        QCOMPARE(SavedFile(), before);
        QCOMPARE(OrgTreeCtrl::OrgIdOf(Current()), static_cast<std::int32_t>(north));

        Expect(AnswerQuestion(true, &question));
        Press(Qt::Key_Delete);
        const std::unique_ptr<DeviceStore> saved = Reopen(*folder);
        QCOMPARE(saved->FindOrganizationByName(0, "North"), 0u);
        QCOMPARE(saved->CountChildOrgs(0), 1u);
        QCOMPARE(saved->CountDevices(), 3u);  // the devices stay
        QCOMPARE(Current(), dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->topLevelItem(0));
        QCOMPARE(ItemOf(dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree")), harbour), nullptr);
        const DeviceCatalogue* catalogue = folder->Context().Catalogue();
        QCOMPARE(catalogue->FindOrganization(static_cast<std::int32_t>(north)), nullptr);
        QCOMPARE(catalogue->FindOrganization(static_cast<std::int32_t>(harbour)), nullptr);
        QCOMPARE(catalogue->FindOrganization(0)->childIds, std::vector<std::int32_t>{static_cast<std::int32_t>(south)});
    }

    void delete_questionFitsWhatIsRemoved_data() {
        QTest::addColumn<QString>("organization");
        QTest::addColumn<QString>("question");
        QTest::newRow("empty leaf") << "South"
                                    << "Remove the organization \"South\"?";
        QTest::newRow("leaf with devices")
            << "Harbour"
            << "Remove the organization \"Harbour\"?\n\n2 devices belong to it. They stay in the database without "
               "an organization.";
    }
    void delete_questionFitsWhatIsRemoved() {
        QFETCH(QString, organization);
        QFETCH(QString, question);
        Open(organization == QLatin1String("South") ? south : harbour);
        QString asked;
        Expect(AnswerQuestion(true, &asked));
        Press(Qt::Key_Delete);
        QCOMPARE(asked, question);
        QCOMPARE(Reopen(*folder)->FindOrganizationByName(organization == QLatin1String("South") ? 0 : north,
                                                         organization.toUtf8().constData()),
                 0u);
        QCOMPARE(OrgTreeCtrl::OrgIdOf(Current()),
                 organization == QLatin1String("South") ? 0 : static_cast<std::int32_t>(north));
    }

    // The title bar holds the whole title, and the field a name of the longest a record keeps (63 bytes).
    void namePrompts_fitTheirTitlesAndTheLongestName() {
        Open(south);
        const QString longest(63, QLatin1Char('n'));
        for (Qt::Key key : {Qt::Key_Insert, Qt::Key_F2}) {
            int width = 0;
            int titleWidth = 0;
            int nameShown = 0;
            int nameWidth = 0;
            Expect(WhenModal<QInputDialog>([&](QInputDialog* prompt) {
                width = prompt->width();
                titleWidth = prompt->fontMetrics().horizontalAdvance(prompt->windowTitle());
                auto* name = prompt->findChild<QLineEdit*>();
                nameShown = name->contentsRect().width();
                nameWidth = name->fontMetrics().horizontalAdvance(longest);
                prompt->reject();
            }));
            Press(key);
            QVERIFY2(width > titleWidth + 100, qPrintable(QStringLiteral("%1 %2").arg(width).arg(titleWidth)));
            QVERIFY2(nameShown >= nameWidth, qPrintable(QStringLiteral("%1 %2").arg(nameShown).arg(nameWidth)));
        }
    }

    void root_cannotBeRenamedOrRemoved() {
        Open(0);
        QVERIFY(!dialog->findChild<OrgTreeEditor*>()->RenameAction()->isEnabled());
        QVERIFY(!dialog->findChild<OrgTreeEditor*>()->RemoveAction()->isEnabled());
        QVERIFY(dialog->findChild<OrgTreeEditor*>()->NewAction()->isEnabled());
        const QString before = SavedFile();
        bool asked = false;
        Expect(WhenModal<QDialog>([&asked](QDialog* box) {
            asked = true;
            box->reject();
        }));
        Press(Qt::Key_F2);
        Press(Qt::Key_Delete);
        QVERIFY(!asked);
        QCOMPARE(SavedFile(), before);
        QCOMPARE(Current()->text(0), QStringLiteral("Organization"));
        // selecting an organization enables them
        dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))
            ->setCurrentItem(ItemOf(dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree")), south));
        QVERIFY(dialog->findChild<OrgTreeEditor*>()->RenameAction()->isEnabled());
    }

    void keys_actOnlyInTheTree() {
        Open(south);
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"));
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("Cam"));
        QTest::keyClick(name, Qt::Key_Home);
        QTest::keyClick(name, Qt::Key_Delete);
        QCOMPARE(name->text(), QStringLiteral("am"));
        bool asked = false;
        Expect(WhenModal<QDialog>([&asked](QDialog* box) {
            asked = true;
            box->reject();
        }));
        QTest::keyClick(name, Qt::Key_Insert);
        QTest::keyClick(name, Qt::Key_F2);
        QVERIFY(!asked);
        QVERIFY(Reopen(*folder)->FindOrganizationByName(0, "South") != 0);
    }

    void badNames_areRefusedNamingTheProblem_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("parent");       // 0 root, 1 North
        QTest::addColumn<int>("renamed");      // 0 new, 1 Harbour
        QTest::addColumn<QString>("problem");  // empty: accepted
        QTest::newRow("empty") << "" << 0 << 0 << "The organization name is empty!";
        QTest::newRow("63 bytes") << QString(63, QLatin1Char('n')) << 0 << 0 << "";
        QTest::newRow("64 bytes") << QString(64, QLatin1Char('n')) << 0 << 0
                                  << "The organization name is too long! It must fit in 63 bytes (UTF-8), it has 64.";
        QTest::newRow("32 two-byte characters")
            << QString(32, QChar(0x00E9)) << 0 << 0
            << "The organization name is too long! It must fit in 63 bytes (UTF-8), it has 64.";
        QTest::newRow("double quote") << "Big \"One\"" << 0 << 0
                                      << "The organization name must not contain a double quote (\")!";
        QTest::newRow("less than") << "A<B" << 0 << 0 << "The organization name must not contain \"<\"!";
        QTest::newRow("ampersand") << "R&D" << 0 << 0 << "The organization name must not contain \"&\"!";
        QTest::newRow("line break") << "Two\nLines" << 0 << 0
                                    << "The organization name must not contain line breaks or other control "
                                       "characters!";
        QTest::newRow("sibling's name") << "South" << 0 << 0
                                        << "An organization named \"South\" already exists in \"Organization\"!";
        QTest::newRow("under another parent") << "South" << 1 << 0 << "";
        QTest::newRow("its own name on rename") << "Harbour" << 1 << 1 << "";
        QTest::newRow("sibling's name on rename")
            << "Harbour" << 1 << 0 << "An organization named \"Harbour\" already exists in \"North\"!";
        QTest::newRow("other letter case") << "south" << 0 << 0 << "";
        QTest::newRow("greater than and apostrophe") << "A > B's" << 0 << 0 << "";
    }
    void badNames_areRefusedNamingTheProblem() {
        QFETCH(QString, name);
        QFETCH(int, parent);
        QFETCH(int, renamed);
        QFETCH(QString, problem);
        QCOMPARE(OrganizationNameProblem(name, parent == 1 ? north : 0, renamed == 1 ? harbour : 0,
                                         *folder->Context().Store(), *folder->Context().Catalogue()),
                 problem);
    }

    void refusedName_isAskedAgainAndNothingIsWritten() {
        Open(0);
        const QString before = SavedFile();
        QString shownAgain;
        WhenModal<QInputDialog>([&](QInputDialog* first) {
            first->setTextValue(QStringLiteral("R&D"));
            Expect(AnswerName(nullptr, &shownAgain));
            first->accept();
        });
        Press(Qt::Key_Insert);
        QCOMPARE(log->Texts(), QStringList{QStringLiteral("The organization name must not contain \"&\"!")});
        QCOMPARE(log->messages.front().caption, QStringLiteral("ERROR"));
        QCOMPARE(shownAgain, QStringLiteral("R&D"));  // to be corrected, not typed again
        QCOMPARE(SavedFile(), before);
        QCOMPARE(dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"))->topLevelItem(0)->childCount(), 2);
    }

    void failedSave_isToldAndUndone() {
        // the same folder through a store whose saves fail
        bool failing = true;
        ProgramContext context(folder->Context().Paths(), [&failing](const ProgramPaths& paths) {
            XmlStoreOptions options;
            if (failing) {
                options.saveSink = [](int) { return std::make_unique<RefusingSink>(); };
            }
            return std::unique_ptr<DeviceStore>(std::make_unique<XmlDeviceStore>(paths.DatabasePath(), options));
        });
        context.Catalogue()->LoadAll();
        dialog = std::make_unique<DeviceManagementDialog>(context);
        dialog->show();
        OrgTreeCtrl* tree = dialog->findChild<OrgTreeCtrl*>(QStringLiteral("orgTree"));
        tree->setCurrentItem(ItemOf(tree, south));
        const QString before = SavedFile();

        Expect(AnswerName("Depot"));
        dialog->findChild<OrgTreeEditor*>()->NewAction()->trigger();
        QCOMPARE(log->Texts(),
                 QStringList{
                     QStringLiteral("Cannot write %1! The organization was not added.").arg(folder->DatabasePath())});
        QCOMPARE(SavedFile(), before);
        QCOMPARE(context.Store()->FindOrganizationByName(south, "Depot"), 0u);  // not kept in memory either
        QCOMPARE(ItemOf(tree, south)->childCount(), 0);
        QCOMPARE(OrgTreeCtrl::OrgIdOf(tree->currentItem()), static_cast<std::int32_t>(south));

        Expect(AnswerName("Harbour Two"));
        tree->setCurrentItem(ItemOf(tree, harbour));
        dialog->findChild<OrgTreeEditor*>()->RenameAction()->trigger();
        QCOMPARE(log->Texts().last(),
                 QStringLiteral("Cannot write %1! The organization was not renamed.").arg(folder->DatabasePath()));
        QCOMPARE(ItemOf(tree, harbour)->text(0), QStringLiteral("Harbour"));

        QString question;
        Expect(AnswerQuestion(true, &question));
        dialog->findChild<OrgTreeEditor*>()->RemoveAction()->trigger();
        QCOMPARE(log->Texts().last(),
                 QStringLiteral("Cannot write %1! The organization was not removed.").arg(folder->DatabasePath()));
        QVERIFY(ItemOf(tree, harbour) != nullptr);
        QCOMPARE(context.Store()->FindOrganizationByName(north, "Harbour"), harbour);
        QCOMPARE(SavedFile(), before);

        // once the file can be written again, the next change is saved
        failing = false;
        context.ReleaseCatalogue();
        context.Catalogue()->LoadAll();
        dialog->findChild<OrgTreeEditor*>()->Refresh(static_cast<std::int32_t>(south));
        Expect(AnswerName("Depot"));
        dialog->findChild<OrgTreeEditor*>()->NewAction()->trigger();
        QVERIFY(Reopen(*folder)->FindOrganizationByName(south, "Depot") != 0);
        dialog.reset();
    }
};

QTEST_MAIN(OrgTreeEditorTest)
#include "org_tree_editor_test.moc"
