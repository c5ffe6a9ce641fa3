// The search window on rows handed to its model, as the search session would hand them: what the operator
// does with the list (sort, copy, export, add), the menu and keys, the networks remembered, the layout. The
// window's own search only ever probes loopback, and nothing answers it.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "about_dialog.h"
#include "camera_type_dialog.h"
#include "elided_label.h"
#include "search_details_dialog.h"
#include "search_networks_dialog.h"
#include "store/device_store.h"
#include "ui/device_management_dialog.h"
#include "ui/found_device_model.h"
#include "ui/search_dialog.h"
#include "ui_test_support.h"
#include "window_test_support.h"

using namespace vantrel;
using vantrel::testing::LoopbackSearch;
using vantrel::testing::MessageLog;
using vantrel::testing::MnemonicClashes;
using vantrel::testing::ProgramFolder;
using vantrel::testing::RowOf;
using vantrel::testing::WhenModal;

namespace {

FoundDeviceModel* Model(SearchDialog& window) {
    return window.findChild<FoundDeviceModel*>(QStringLiteral("foundDevices"));
}
QTableView* List(SearchDialog& window) {
    return window.findChild<QTableView*>(QStringLiteral("deviceList"));
}
ElidedLabel* StatusLine(SearchDialog& window) {
    return window.findChild<ElidedLabel*>(QStringLiteral("statusLine"));
}
QAction* Action(SearchDialog& window, const char* name) {
    return window.findChild<QAction*>(QLatin1String(name));
}

// Three devices in order of answer .20, .3, .100; .3 answered from another host (a sender mismatch) and lies
// outside its adapter's subnet.
std::vector<FoundRow> ThreeRows() {
    FoundRow marked = RowOf(2, "192.168.7.3", 37777);
    marked.senderMismatch = true;
    inet_pton(AF_INET, "192.168.1.9", &marked.senderAddress);
    marked.outsideAdapterSubnet = true;
    marked.registered = true;
    return {RowOf(1, "192.168.1.20", 8000), marked, RowOf(3, "192.168.1.100", 8000)};
}

// The window over folder, shown, its list fed with rows.
std::unique_ptr<SearchDialog> WindowWith(ProgramFolder& folder, const std::vector<FoundRow>& rows) {
    auto window = std::make_unique<SearchDialog>(folder.Context(), LoopbackSearch());
    window->show();
    Model(*window)->Merge(rows);
    return window;
}

// Types path into the next file dialog and accepts it, as the operator would; runs Export.
void ExportTo(SearchDialog& window, const QString& path) {
    WhenModal<QFileDialog>([path](QFileDialog* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    Action(window, "exportAction")->trigger();
}

// The folder the next export's dialog opens in.
QString NextExportFolder(SearchDialog& window) {
    QString folder;
    WhenModal<QFileDialog>([&folder](QFileDialog* dialog) {
        folder = dialog->directory().absolutePath();
        dialog->reject();
    });
    Action(window, "exportAction")->trigger();
    return folder;
}

QStringList CsvAddresses(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList addresses;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int line = 1; line < lines.size(); ++line) {
        if (!lines[line].trimmed().isEmpty()) {
            addresses << QString::fromLatin1(lines[line].split(',').value(1));
        }
    }
    return addresses;
}

}  // namespace

class SearchWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> folder;

private slots:
    void init() { folder = std::make_unique<ProgramFolder>(); }
    void cleanup() { folder.reset(); }

    void layout_headingsWidthsAndTheLastColumnStretches() {
        auto window = WindowWith(*folder, {});
        QCOMPARE(window->windowTitle(), QStringLiteral("Vantrel"));
        QCOMPARE(window->palette().color(QPalette::Window), QColor(198, 206, 225));
        const QStringList headings = {"NO",         "IP Address", "Port Number", "Subnet Mask", "Default Gateway",
                                      "Registered", "Adapter",    "Seen",        "Last Reply",  "Sender",
                                      "Protocols",  "Name",       "Model",       "Location",    "MAC",
                                      "Vendor",     "Senders"};
        const int firstWidths[] = {20, 120, 90, 120, 120};
        QTableView* list = List(*window);
        QFontMetrics headerFont = list->horizontalHeader()->fontMetrics();
        QCOMPARE(Model(*window)->columnCount(), headings.size());
        for (int column = 0; column < headings.size(); ++column) {
            QCOMPARE(Model(*window)->headerData(column, Qt::Horizontal).toString(), headings[column]);
            // no heading is cut, and none of the first five is narrower than the window first had it
            QVERIFY2(list->columnWidth(column) >= headerFont.horizontalAdvance(headings[column]) + 8,
                     qPrintable(headings[column]));
            QVERIFY(column >= 5 || list->columnWidth(column) >= firstWidths[column]);
        }
        QVERIFY(!window->findChild<QPushButton*>(QStringLiteral("closeButton"))->isVisible());

        // a wide window leaves no empty strip after the last column
        window->resize(2400, window->height());
        QTRY_COMPARE(list->horizontalHeader()->length(), list->viewport()->width());
    }

    void menu_lettersUniqueInEveryMenuAndDialog() {
        auto window = WindowWith(*folder, {});
        QCOMPARE(MnemonicClashes(window.get()), QStringList());
        auto* menu = window->findChild<QMenu*>(QStringLiteral("listMenu"));
        QCOMPARE(MnemonicClashes(menu), QStringList());
        QVERIFY(Action(*window, "aboutAction") != nullptr);

        SearchNetworksDialog networks({}, window.get());
        AboutDialog about(folder->Context().Paths(), window.get());
        CameraTypeDialog cameraTypes(UiTextTable{}, window.get());
        cameraTypes.channelCount = 16;
        DeviceManagementDialog management(folder->Context(), window.get());
        SearchDetailsDialog details([] { return SessionStatus(); }, window.get());
        for (QDialog* dialog :
             std::initializer_list<QDialog*>{&networks, &about, &cameraTypes, &management, &details}) {
            dialog->show();
            QVERIFY2(MnemonicClashes(dialog).isEmpty(),
                     qPrintable(dialog->objectName() + QLatin1Char(' ') + MnemonicClashes(dialog).join(' ')));
            dialog->hide();
        }
    }

    void menu_searchNetworksAndExportHaveShownShortcuts() {
        auto window = WindowWith(*folder, ThreeRows());
        QSet<QKeySequence> shortcuts;
        for (const char* name :
             {"addAction", "refreshAction", "copyAction", "selectAllAction", "searchNetworksAction", "exportAction"}) {
            QAction* action = Action(*window, name);
            QVERIFY2(action != nullptr, name);
            if (!action->shortcut().isEmpty()) {
                QVERIFY2(!shortcuts.contains(action->shortcut()), name);
                shortcuts.insert(action->shortcut());
                QVERIFY2(action->isShortcutVisibleInContextMenu(), name);
            }
        }
        QVERIFY(!Action(*window, "searchNetworksAction")->shortcut().isEmpty());
        QVERIFY(!Action(*window, "exportAction")->shortcut().isEmpty());

        // the keys reach their commands from the list
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        bool networksAsked = false;
        WhenModal<SearchNetworksDialog>([&networksAsked](SearchNetworksDialog* dialog) {
            networksAsked = true;
            dialog->reject();
        });
        QTest::keySequence(List(*window), Action(*window, "searchNetworksAction")->shortcut());
        QVERIFY(networksAsked);
        // the window is active again once the dialog over it has closed, as the window manager makes it
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        bool exportAsked = false;
        QPointer<QTimer> answer = WhenModal<QFileDialog>([&exportAsked](QFileDialog* dialog) {
            exportAsked = true;
            dialog->reject();
        });
        QTest::keySequence(List(*window), Action(*window, "exportAction")->shortcut());
        delete answer.data();
        QVERIFY(exportAsked);
    }

    void copy_marksCopiedAsWords() {
        auto window = WindowWith(*folder, ThreeRows());
        List(*window)->selectRow(1);
        Action(*window, "copyAction")->trigger();
        const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);  // headings, the row, the last line end
        QCOMPARE(lines[0], QStringLiteral("NO\tIP Address\tPort Number\tSubnet Mask\tDefault Gateway\tRegistered\t"
                                          "Adapter\tSeen\tLast Reply\tSender\tProtocols\tName\tModel\tLocation\tMAC\t"
                                          "Vendor\tSenders"));
        const QStringList cells = lines[1].split(QLatin1Char('\t'));
        QCOMPARE(cells.size(), int(FoundDeviceModel::kColumnCount));
        QCOMPARE(cells[FoundDeviceModel::kAddress], QStringLiteral("192.168.7.3"));
        QCOMPARE(cells[FoundDeviceModel::kPort], QStringLiteral("37777"));
        QCOMPARE(cells[FoundDeviceModel::kRegistered], QStringLiteral("Yes"));
        QCOMPARE(cells[FoundDeviceModel::kAdapter], QStringLiteral("veth0 (not in its subnet 192.168.1.0/24)"));
        QCOMPARE(cells[FoundDeviceModel::kSender],
                 QStringLiteral("192.168.1.9 (not the address the device announces)"));

        // unmarked cells are copied as shown
        List(*window)->selectRow(0);
        Action(*window, "copyAction")->trigger();
        const QStringList plain = QApplication::clipboard()->text().split(QLatin1Char('\n'))[1].split('\t');
        QCOMPARE(plain[FoundDeviceModel::kAdapter], QStringLiteral("veth0"));
        QCOMPARE(plain[FoundDeviceModel::kSender], QStringLiteral("192.168.1.20"));
    }

    void columns_hiddenFromTheHeadingsMenuRememberedAndLeftOutOfCopy() {
        auto window = WindowWith(*folder, ThreeRows());
        auto* menu = window->findChild<QMenu*>(QStringLiteral("columnMenu"));
        QStringList offered;
        for (QAction* action : menu->actions()) {
            offered << action->text();
            if (action->text() == QStringLiteral("Location") || action->text() == QStringLiteral("Seen")) {
                action->trigger();
            }
        }
        QVERIFY(!offered.contains(QStringLiteral("NO")) && !offered.contains(QStringLiteral("IP Address")));
        QVERIFY(offered.contains(QStringLiteral("Senders")));
        QVERIFY(List(*window)->isColumnHidden(FoundDeviceModel::kLocation));
        QVERIFY(List(*window)->isColumnHidden(FoundDeviceModel::kSeen));
        List(*window)->selectRow(0);
        Action(*window, "copyAction")->trigger();
        const QStringList headings = QApplication::clipboard()->text().split(QLatin1Char('\n'))[0].split('\t');
        QCOMPARE(headings.size(), FoundDeviceModel::kColumnCount - 2);
        QVERIFY(!headings.contains(QStringLiteral("Location")) && !headings.contains(QStringLiteral("Seen")));
        window.reset();

        // the next window over this data folder hides them too; showing one again is remembered as well
        auto again = WindowWith(*folder, {});
        QVERIFY(List(*again)->isColumnHidden(FoundDeviceModel::kLocation));
        for (QAction* action : again->findChild<QMenu*>(QStringLiteral("columnMenu"))->actions()) {
            QCOMPARE(action->isChecked(),
                     action->text() != QStringLiteral("Location") && action->text() != QStringLiteral("Seen"));
            if (action->text() == QStringLiteral("Seen")) {
                action->trigger();
            }
        }
        again.reset();
        auto third = WindowWith(*folder, {});
        QVERIFY(!List(*third)->isColumnHidden(FoundDeviceModel::kSeen));
        QVERIFY(List(*third)->isColumnHidden(FoundDeviceModel::kLocation));
    }

    void details_showTheRoundPerAdapter() {
        auto window = WindowWith(*folder, {});
        QTRY_COMPARE(StatusLine(*window)->text(), QStringLiteral("0 devices found"));
        int adapters = -1;
        QString notes;
        WhenModal<QDialog>([&](QDialog* details) {
            QCOMPARE(details->objectName(), QStringLiteral("searchDetailsDialog"));
            adapters = details->findChild<QTableWidget*>(QStringLiteral("adapterStatistics"))->rowCount();
            notes = details->findChild<QLabel*>(QStringLiteral("searchNotes"))->text();
            details->reject();
        });
        Action(*window, "detailsAction")->trigger();
        QVERIFY(adapters >= 0);
        QVERIFY(!notes.isEmpty());
    }

    void probeAddress_saysWhatCameBackAndRefusesANonAddress() {
        MessageLog log;
        auto window = WindowWith(*folder, ThreeRows());
        WhenModal<QInputDialog>([](QInputDialog* ask) {
            ask->setTextValue(QStringLiteral("192.168.1.300"));
            ask->accept();
        });
        Action(*window, "probeAddressAction")->trigger();
        QCOMPARE(log.Texts(),
                 QStringList{QStringLiteral("192.168.1.300 is not an IPv4 address such as 192.168.1.108.")});

        // nothing listens on loopback's discard port or on 3702 there: the kernel says so
        QString offered;
        WhenModal<QInputDialog>([&offered](QInputDialog* ask) {
            offered = ask->textValue();
            ask->setTextValue(QStringLiteral("127.0.0.1"));
            ask->accept();
        });
        List(*window)->selectRow(1);
        Action(*window, "probeAddressAction")->trigger();
        QCOMPARE(offered, QStringLiteral("192.168.7.3"));  // the selected row's address first
        QTRY_VERIFY2_WITH_TIMEOUT(StatusLine(*window)->text().contains(QStringLiteral("; 127.0.0.1: ")),
                                  qPrintable(StatusLine(*window)->text()), 5000);
        QVERIFY2(StatusLine(*window)->text().contains(QStringLiteral("unreachable")),
                 qPrintable(StatusLine(*window)->text()));
    }

    void export_followsTheSortRemembersTheFolderAndSaysWhere() {
        auto window = WindowWith(*folder, ThreeRows());
        QTemporaryDir out;
        const QString first = out.filePath(QStringLiteral("site/found.csv"));
        QVERIFY(QDir(out.path()).mkpath(QStringLiteral("site")));

        List(*window)->sortByColumn(FoundDeviceModel::kAddress, Qt::DescendingOrder);
        ExportTo(*window, first);
        QCOMPARE(CsvAddresses(first), (QStringList{"192.168.7.3", "192.168.1.100", "192.168.1.20"}));
        QVERIFY2(StatusLine(*window)->text().endsWith(QStringLiteral("; 3 devices written to ") + first),
                 qPrintable(StatusLine(*window)->text()));
        // the next export starts where this one went, also in the next window
        QCOMPARE(NextExportFolder(*window), out.filePath(QStringLiteral("site")));
        auto later = WindowWith(*folder, ThreeRows());
        QCOMPARE(NextExportFolder(*later), out.filePath(QStringLiteral("site")));
        // unsorted: the order of answer
        const QString second = out.filePath(QStringLiteral("site/again.csv"));
        ExportTo(*later, second);
        QCOMPARE(CsvAddresses(second), (QStringList{"192.168.1.20", "192.168.7.3", "192.168.1.100"}));

        // a remembered folder that is gone: the nearest one above it that exists
        QVERIFY(QDir(out.filePath(QStringLiteral("site"))).removeRecursively());
        QCOMPARE(NextExportFolder(*later), out.path());
        // a new round forgets the notice
        Action(*later, "refreshAction")->trigger();
        QVERIFY(!StatusLine(*later)->text().contains(QStringLiteral("written to")));
    }

    void networks_rememberedPerDataFolderAndNamedInTheStatusLine() {
        auto window = WindowWith(*folder, {});
        WhenModal<SearchNetworksDialog>([](SearchNetworksDialog* dialog) {
            dialog->findChild<QPlainTextEdit*>(QStringLiteral("networks"))->setPlainText(QStringLiteral("10.1.2.0/24"));
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        QSignalSpy searches(window.get(), &SearchDialog::SearchStarted);
        Action(*window, "searchNetworksAction")->trigger();
        QCOMPARE(searches.count(), 1);
        const QString named = QStringLiteral(" found on the local networks and 10.1.2.0/24");
        QTRY_VERIFY2(StatusLine(*window)->text().contains(named), qPrintable(StatusLine(*window)->text()));
        window.reset();

        // the next start over the same data folder searches them again; another data folder does not
        auto again = WindowWith(*folder, {});
        QTRY_VERIFY2(StatusLine(*again)->text().contains(named), qPrintable(StatusLine(*again)->text()));
        QString shown;
        WhenModal<SearchNetworksDialog>([&shown](SearchNetworksDialog* dialog) {
            shown = dialog->findChild<QPlainTextEdit*>(QStringLiteral("networks"))->toPlainText();
            dialog->reject();
        });
        Action(*again, "searchNetworksAction")->trigger();
        QCOMPARE(shown, QStringLiteral("10.1.2.0/24"));
        ProgramFolder otherSite;
        auto other = WindowWith(otherSite, {});
        QTRY_VERIFY(StatusLine(*other)->text().contains(QStringLiteral("found")));
        QVERIFY(!StatusLine(*other)->text().contains(QStringLiteral("10.1.2.0/24")));
    }

    void add_registersTheSelectedRowsInTheListsOrder() {
        MessageLog log;
        auto window = WindowWith(*folder, ThreeRows());
        List(*window)->sortByColumn(FoundDeviceModel::kAddress, Qt::AscendingOrder);
        QItemSelectionModel* selection = List(*window)->selectionModel();
        for (int row : {2, 0}) {
            selection->select(List(*window)->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        // 192.168.7.3 carries warning marks: Add asks about it before the dialog
        WhenModal<QMessageBox>([](QMessageBox* box) {
            if (box->objectName() == QStringLiteral("questionBox")) {
                box->button(QMessageBox::Yes)->click();
            }
        });
        WhenModal<DeviceManagementDialog>([](DeviceManagementDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(QStringLiteral("Dome"));
            dialog->findChild<QLineEdit*>(QStringLiteral("userName"))->setText(QStringLiteral("admin"));
            dialog->findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("pw"));
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("addButton")), Qt::LeftButton);
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("2 devices were registered.")});
        QCOMPARE(Model(*window)->rowCount(), 3);  // the list is left as it was

        std::unique_ptr<DeviceStore> saved = OpenDeviceStore(folder->Context().Paths().DatabasePath());
        QCOMPARE(saved->CountDevices(), 2u);
        std::vector<DeviceRecord> records(2);
        QVERIFY(saved->LoadDevices(records.data(), 2 * sizeof(DeviceRecord)) == 1);
        // top to bottom as the list shows them, not in order of answer
        QCOMPARE(QByteArray(records[0].host), QByteArray("192.168.1.20"));
        QCOMPARE(QByteArray(records[0].name), QByteArray("Dome1"));
        QCOMPARE(QByteArray(records[1].host), QByteArray("192.168.7.3"));
        QCOMPARE(records[1].port, 37777u);
    }

    void add_leavesOutDevicesThatAnswerOnvifOnly() {
        MessageLog log;
        FoundRow camera = RowOf(4, "192.168.1.50", 0);
        camera.protocols = kProtocolOnvif;
        camera.portKnown = false;
        std::vector<FoundRow> rows = ThreeRows();
        rows.push_back(camera);
        auto window = WindowWith(*folder, rows);
        List(*window)->selectRow(3);
        Action(*window, "addAction")->trigger();
        QCOMPARE(log.messages.size(), 1u);
        QVERIFY2(log.messages[0].text.contains(QStringLiteral("ONVIF only")), qPrintable(log.messages[0].text));

        // beside a device that can be registered: that one is, and the status line says what was left out
        List(*window)->selectAll();
        List(*window)->selectionModel()->select(List(*window)->model()->index(1, 0),
                                                QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        List(*window)->selectionModel()->select(List(*window)->model()->index(2, 0),
                                                QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        WhenModal<DeviceManagementDialog>([](DeviceManagementDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(QStringLiteral("Door"));
            dialog->findChild<QLineEdit*>(QStringLiteral("userName"))->setText(QStringLiteral("admin"));
            dialog->findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("pw"));
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        Action(*window, "addAction")->trigger();
        QCOMPARE(log.Texts().last(), QStringLiteral("1 device was registered."));
        QVERIFY2(StatusLine(*window)->text().endsWith(QStringLiteral("; 1 left out of Add: answers ONVIF only")),
                 qPrintable(StatusLine(*window)->text()));
        QCOMPARE(OpenDeviceStore(folder->Context().Paths().DatabasePath())->CountDevices(), 1u);
    }

    void keyboard_tabCyclesAndF5AndAltRSearchAgain() {
        MessageLog log;
        auto window = WindowWith(*folder, ThreeRows());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTableView* list = List(*window);
        auto* add = window->findChild<QPushButton*>(QStringLiteral("addButton"));
        auto* refresh = window->findChild<QPushButton*>(QStringLiteral("refreshButton"));
        QCOMPARE(QApplication::focusWidget(), list);
        list->setCurrentIndex(list->model()->index(0, 0));
        QTest::keyClick(list, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), add);
        QTest::keyClick(add, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), refresh);
        QTest::keyClick(refresh, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window->findChild<QPushButton*>(QStringLiteral("devicesButton")));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), list);

        QSignalSpy searches(window.get(), &SearchDialog::SearchStarted);
        QTest::keyClick(list, Qt::Key_F5);
        QCOMPARE(searches.count(), 1);
        QCOMPARE(Model(*window)->rowCount(), 0);  // a new round starts with an empty list
        QTest::keyClick(list, Qt::Key_R, Qt::AltModifier);
        QTRY_COMPARE(searches.count(), 2);

        // Alt+A is Add (the button clicks itself a moment later): with nothing selected it asks for a selection
        QTest::keyClick(list, Qt::Key_A, Qt::AltModifier);
        QTRY_COMPARE(log.Texts(), QStringList{QString::fromLatin1(add_messages::kNoSelection)});
    }

    void keyboard_enterAndDoubleClickOnARowStartAdd() {
        auto window = WindowWith(*folder, ThreeRows());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTableView* list = List(*window);
        list->setFocus();
        list->setCurrentIndex(list->model()->index(0, 0));
        list->selectRow(0);
        int shown = 0;
        auto cancelNext = [&shown] {
            WhenModal<DeviceManagementDialog>([&shown](DeviceManagementDialog* dialog) {
                ++shown;
                dialog->reject();
            });
        };
        cancelNext();
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(shown, 1);
        cancelNext();
        QTest::keyClick(list, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(shown, 2);
        cancelNext();
        // (the second row carries warning marks, which Add would ask about first: the third is plain)
        const QPoint thirdRow = list->visualRect(list->model()->index(2, 1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, thirdRow);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, thirdRow);
        QCOMPARE(shown, 3);
        // below the last row is not on a row: the double click is handled at once and starts nothing
        MessageLog log;
        const QPoint belowRows(10, list->viewport()->height() - 3);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, belowRows);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, belowRows);
        QCOMPARE(shown, 3);
        QVERIFY(log.messages.empty());
    }

    void status_longOrMarkedUpMessageShownPlainWithoutWideningTheWindow() {
        auto window = WindowWith(*folder, {});
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // the round is over: nothing changes the line but the test
        QTRY_COMPARE(StatusLine(*window)->text(), QStringLiteral("0 devices found"));
        const int width = window->width();
        ElidedLabel* line = StatusLine(*window);
        const QString longText = QStringLiteral("<b>Cannot</b> search & more words.").repeated(30);
        line->SetMessage(longText);
        QCoreApplication::processEvents();
        QCOMPARE(window->width(), width);
        QCOMPARE(line->text(), longText);  // cut on the screen only
        QCOMPARE(line->textFormat(), Qt::PlainText);
        QVERIFY(line->Elided());
        QVERIFY(line->toolTip().contains(QStringLiteral("&lt;b&gt;Cannot&lt;/b&gt; search &amp; more")));
        line->SetMessage(QStringLiteral("3 devices found"));
        QVERIFY(!line->Elided());
        QVERIFY(line->toolTip().isEmpty());
    }
};

QTEST_MAIN(SearchWindowTest)
#include "search_window_test.moc"
