// The search window in network namespaces made by each test: simulated devices on one side of a veth
// link, the real window and its search on the other. Nothing leaves those namespaces. Layout, rows,
// Refresh, the status line and the keyboard; the rows' marks, sorting, copy and export are in
// search_dialog_rows_test.cpp.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QtTest>

#include "search_lab.h"
#include "ui/about_dialog.h"
#include "ui/device_management_dialog.h"
#include "ui/elided_label.h"
#include "ui/found_device_model.h"
#include "ui/resources.h"
#include "ui/search_dialog.h"
#include "ui_test_support.h"

using namespace vantrel;
using vantrel::testing::MessageLog;
using vantrel::testing::ProgramFolder;
using vantrel::testing::SearchLab;
using vantrel::testing::WhenModal;

namespace {

QSet<QString> Column(const FoundDeviceModel* model, int column) {
    QSet<QString> texts;
    for (int row = 0; row < model->rowCount(); ++row) {
        texts.insert(model->index(row, column).data().toString());
    }
    return texts;
}

// A socket on UDP port 5050 of every address, as another program would hold it; -1 when the bind fails.
int HoldSearchPort() {
    int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in port5050{};
    port5050.sin_family = AF_INET;
    port5050.sin_port = htons(5050);
    if (bind(holder, reinterpret_cast<sockaddr*>(&port5050), sizeof port5050) != 0) {
        close(holder);
        return -1;
    }
    return holder;
}

QSet<QString> Addresses(int first, int count) {
    QSet<QString> texts;
    for (int i = 0; i < count; ++i) {
        texts.insert(QStringLiteral("192.168.1.%1").arg(first + i));
    }
    return texts;
}

}  // namespace

class SearchDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SearchLab> net;
    std::string host;
    std::unique_ptr<ProgramFolder> folder;

    bool StartDevices(ChildProcess& simulator, std::vector<std::string> arguments) {
        return net->StartDevices(simulator, std::move(arguments));
    }

    // Counts the Device Management dialogs shown (each cancelled) while alive.
    struct AddWatch {
        int shown = 0;
        QPointer<QTimer> pending;
        QPointer<QTimer> question;
        void Arm() {
            // the lab's devices lie outside the host's subnet: Add asks about them before the dialog
            delete question.data();
            question = WhenModal<QMessageBox>([](QMessageBox* box) {
                if (box->objectName() == QStringLiteral("questionBox")) {
                    box->button(QMessageBox::Yes)->click();
                }
            });
            pending = WhenModal<DeviceManagementDialog>([this](DeviceManagementDialog* dialog) {
                ++shown;
                dialog->reject();
            });
        }
        ~AddWatch() {
            delete pending.data();
            delete question.data();
        }
    };

private slots:
    void init() {
        folder = std::make_unique<ProgramFolder>();
        net = std::make_unique<SearchLab>();
        if (!net->Make()) {
            QFAIL(qPrintable(net->Problem()));
        }
        host = net->host;
    }
    void cleanup() {
        net.reset();
        folder.reset();
    }

    void window_layoutAndTexts() {
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        window.show();
        QCOMPARE(window.windowTitle(), QStringLiteral("Vantrel"));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.palette().color(QPalette::Window), QColor(198, 206, 225));
        // the original five columns first, in their order; the later ones after them
        const QStringList headings = {"NO",         "IP Address", "Port Number", "Subnet Mask", "Default Gateway",
                                      "Registered", "Adapter",    "Seen",        "Last Reply",  "Sender"};
        const int widths[] = {20, 120, 90, 120, 120};
        QCOMPARE(window.Model()->columnCount(), headings.size());
        QFontMetrics headerFont = window.List()->horizontalHeader()->fontMetrics();
        for (int column = 0; column < headings.size(); ++column) {
            QCOMPARE(window.Model()->headerData(column, Qt::Horizontal).toString(), headings[column]);
            // no heading is cut, "NO" included, and none is narrower than the window first had it
            QVERIFY2(window.List()->columnWidth(column) >= headerFont.horizontalAdvance(headings[column]) + 8,
                     qPrintable(headings[column]));
            if (column < 5) {
                QVERIFY(window.List()->columnWidth(column) >= widths[column]);
            }
        }
        auto* add = window.findChild<QPushButton*>(QStringLiteral("addButton"));
        auto* refresh = window.findChild<QPushButton*>(QStringLiteral("refreshButton"));
        QVERIFY(add->isVisible());
        QVERIFY(refresh->isVisible());
        QCOMPARE(add->text().remove(QLatin1Char('&')), QStringLiteral("Add"));
        QCOMPARE(refresh->text().remove(QLatin1Char('&')), QStringLiteral("Refresh"));
        QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("closeButton"))->isVisible());
        QCOMPARE(window.List()->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(window.StatusLine()->text(), QString::fromUtf8("Searching\u2026"));
        // nothing answers: the round ends with an empty list
        QTRY_COMPARE_WITH_TIMEOUT(window.StatusLine()->text(), QStringLiteral("0 devices found"), 5000);
        QCOMPARE(AboutMenuText(), QString::fromUtf8("关于 Vantrel(&A)..."));
        AboutDialog about(&window);
        QVERIFY(about.findChild<QLabel*>(QStringLiteral("aboutText"))->text().startsWith(QStringLiteral("Vantrel")));
    }

    void replies_listedOnceEachAndProbesRepeated() {
        ChildProcess simulator;
        QVERIFY(StartDevices(simulator, {"--devices", "5", "--repeat", "3", "--malformed", "4"}));
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        window.show();
        QVERIFY(window.EndpointOpen());
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 5, 5000);
        QCOMPARE(Column(window.Model(), FoundDeviceModel::kAddress), Addresses(100, 5));
        QCOMPARE(Column(window.Model(), FoundDeviceModel::kNumber), (QSet<QString>{"1", "2", "3", "4", "5"}));
        QTRY_COMPARE_WITH_TIMEOUT(window.ProbesSent(), 3, 3000);
        // the round ends 1 s after the last probe; the simulator's malformed replies are counted, not listed
        QTRY_COMPARE_WITH_TIMEOUT(window.StatusLine()->text(), QStringLiteral("5 devices found; 12 replies rejected"),
                                  3000);
        QTest::qWait(300);  // the later probes' answers are duplicates
        QCOMPARE(window.Model()->rowCount(), 5);
        QCOMPARE(window.ProbesSent(), 3);
    }

    void refresh_emptiesAndRefills() {
        ChildProcess simulator;
        QVERIFY(StartDevices(simulator, {"--devices", "3", "--delay", "100"}));
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 3, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(window.ProbesSent(), 3, 3000);
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("refreshButton")), Qt::LeftButton);
        QCOMPARE(window.Model()->rowCount(), 0);
        QCOMPARE(window.StatusLine()->text(), QString::fromUtf8("Searching\u2026"));
        QTRY_COMPARE_WITH_TIMEOUT(window.ProbesSent(), 4, 1000);
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 3, 5000);
        QCOMPARE(window.Model()->index(0, FoundDeviceModel::kNumber).data().toString(), QStringLiteral("1"));
        QTRY_COMPARE_WITH_TIMEOUT(window.ProbesSent(), 6, 3000);
    }

    void burst_listedInFullAndClosingMidBurstEndsCleanly() {
        ChildProcess simulator;
        QVERIFY(StartDevices(simulator, {"--devices", "3000", "--quiet"}));
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        {
            SearchDialog window(folder->Context());
            window.show();
            QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 3000, 15000);
            // paints were held back while the rows poured in; the list is not left frozen
            QTRY_VERIFY_WITH_TIMEOUT(window.List()->updatesEnabled(), 1000);
            // the number column has widened so that "3000" is readable
            QVERIFY(window.List()->columnWidth(0) >
                    window.List()->fontMetrics().horizontalAdvance(QStringLiteral("3000")));
        }
        for (int round = 0; round < 5; ++round) {
            auto window = std::make_unique<SearchDialog>(folder->Context());
            window->show();
            QTRY_VERIFY_WITH_TIMEOUT(window->Model()->rowCount() > 0, 5000);
            window->close();
            window.reset();  // replies are still pouring in
            QCoreApplication::processEvents();
        }
    }

    void portHeld_statusLineSaysSoAndRefreshRetries() {
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        int holder = HoldSearchPort();
        QVERIFY(holder >= 0);
        SearchDialog window(folder->Context());
        window.show();
        QVERIFY(!window.EndpointOpen());
        QVERIFY2(window.StatusLine()->text().contains(QStringLiteral("5050")), qPrintable(window.StatusLine()->text()));
        QVERIFY(window.StatusLine()->text().startsWith(QStringLiteral("Cannot search for devices")));
        close(holder);
        window.Refresh();
        QVERIFY(window.EndpointOpen());
        QCOMPARE(window.StatusLine()->text(), QString::fromUtf8("Searching\u2026"));
    }

    void add_registersTheSelectedRows() {
        ChildProcess simulator;
        QVERIFY(StartDevices(simulator, {"--devices", "4", "--device-port", "37777"}));
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        MessageLog log;
        SearchDialog window(folder->Context());
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 4, 5000);
        QItemSelectionModel* selection = window.List()->selectionModel();
        for (int row : {0, 2}) {
            selection->select(window.List()->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        QStringList chosen = {window.Model()->index(0, 1).data().toString(),
                              window.Model()->index(2, 1).data().toString()};
        WhenModal<DeviceManagementDialog>([](DeviceManagementDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(QStringLiteral("Dome"));
            dialog->findChild<QLineEdit*>(QStringLiteral("userName"))->setText(QStringLiteral("admin"));
            dialog->findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("pw"));
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        // rows the search doubts (another subnet in this lab) are asked about first
        WhenModal<QMessageBox>([](QMessageBox* box) {
            if (box->objectName() == QStringLiteral("questionBox")) {
                box->button(QMessageBox::Yes)->click();
            }
        });
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("addButton")), Qt::LeftButton);
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("2 devices were registered.")});  // the summary after Add
        QCOMPARE(window.Model()->rowCount(), 4);                                           // the list is left as it was

        std::unique_ptr<DeviceStore> saved = OpenDeviceStore(folder->Context().Paths().DatabasePath());
        QCOMPARE(saved->CountDevices(), 2u);
        std::vector<DeviceRecord> records(2);
        QVERIFY(saved->LoadDevices(records.data(), 2 * sizeof(DeviceRecord)) == 1);
        QCOMPARE(QByteArray(records[0].name), QByteArray("Dome1"));
        QCOMPARE(QString::fromLatin1(records[0].host), chosen[0]);
        QCOMPARE(QByteArray(records[1].name), QByteArray("Dome2"));
        QCOMPARE(QString::fromLatin1(records[1].host), chosen[1]);
        QCOMPARE(records[1].port, 37777u);
        QCOMPARE(records[1].cameras, 8u);
    }

    void status_noProbeCouldBeSentSaysWhy() {
        // a namespace with nothing but loopback: the broadcast has no way out
        std::string alone = net->lab->AddNamespace("uialone");
        QVERIFY(!alone.empty());
        NetnsScope inAlone(alone);
        QVERIFY(inAlone.Entered());
        SearchSessionOptions quick;
        quick.probeDelaysMs = {0, 50};
        quick.settleMs = 100;
        SearchDialog window(folder->Context(), quick);
        window.show();
        QVERIFY(window.EndpointOpen());
        const QString why = QStringLiteral("No probe could be sent: network unreachable");
        QTRY_COMPARE_WITH_TIMEOUT(window.StatusLine()->text(), why, 3000);
        QTest::qWait(300);  // the round is over: still the reason, not "0 devices found"
        QCOMPARE(window.StatusLine()->text(), why);
    }

    void status_listFullSaysSoAndListsNoMore() {
        ChildProcess simulator;
        QVERIFY(StartDevices(simulator, {"--devices", "5"}));
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        SearchSessionOptions small;
        small.maxListed = 3;
        SearchDialog window(folder->Context(), small);
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(window.StatusLine()->text().startsWith(QStringLiteral("3 devices found; list full at "
                                                                                       "3 devices")),
                                 6000);
        QCOMPARE(window.Model()->rowCount(), 3);
    }

    void status_longMessageDoesNotWidenTheWindow() {
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        int holder = HoldSearchPort();
        QVERIFY(holder >= 0);
        SearchDialog window(folder->Context());
        const int width = window.width();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* line = qobject_cast<ElidedLabel*>(window.StatusLine());
        QVERIFY(line != nullptr);
        QVERIFY(line->text().startsWith(QStringLiteral("Cannot search for devices")));
        const QString longText = line->text() + QStringLiteral(" And then some more words.").repeated(20);
        line->SetMessage(longText);
        QCoreApplication::processEvents();
        QCOMPARE(window.width(), width);
        QVERIFY(window.minimumSizeHint().width() <= width);
        QCOMPARE(line->text(), longText);  // cut on the screen only
        QVERIFY(line->Elided());
        QCOMPARE(line->toolTip(), longText);
        line->SetMessage(QStringLiteral("3 devices found"));
        QVERIFY(!line->Elided());
        QVERIFY(line->toolTip().isEmpty());
        close(holder);
    }

    void keyboard_tabLeavesTheListMnemonicsAndF5() {
        ChildProcess simulator;
        QVERIFY(StartDevices(simulator, {"--devices", "2"}));
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        MessageLog log;
        SearchSessionOptions oneProbe;  // each search is one probe, so that ProbesSent counts the searches
        oneProbe.probeDelaysMs = {0};
        SearchDialog window(folder->Context(), oneProbe);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 2, 5000);
        auto* add = window.findChild<QPushButton*>(QStringLiteral("addButton"));
        auto* refresh = window.findChild<QPushButton*>(QStringLiteral("refreshButton"));
        QCOMPARE(QApplication::focusWidget(), window.List());
        window.List()->setCurrentIndex(window.List()->model()->index(0, 0));
        QTest::keyClick(window.List(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), add);
        QTest::keyClick(add, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), refresh);
        QTest::keyClick(refresh, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window.findChild<QPushButton*>(QStringLiteral("devicesButton")));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window.List());

        // F5 and Alt+R search again
        QCOMPARE(window.ProbesSent(), 1);
        QTest::keyClick(window.List(), Qt::Key_F5);
        QTRY_COMPARE_WITH_TIMEOUT(window.ProbesSent(), 2, 2000);
        QTest::keyClick(window.List(), Qt::Key_R, Qt::AltModifier);
        QTRY_COMPARE_WITH_TIMEOUT(window.ProbesSent(), 3, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 2, 5000);

        // Alt+A is Add (the button clicks itself a moment later): with nothing selected it asks for a selection
        window.List()->clearSelection();
        QTest::keyClick(window.List(), Qt::Key_A, Qt::AltModifier);
        QTRY_COMPARE_WITH_TIMEOUT(log.Texts(), QStringList{QString::fromLatin1(add_messages::kNoSelection)}, 2000);
    }

    void keyboard_enterAndDoubleClickOnRowsStartAdd() {
        ChildProcess simulator;
        QVERIFY(StartDevices(simulator, {"--devices", "2"}));
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 2, 5000);
        QTableView* list = window.List();
        list->setFocus();
        list->setCurrentIndex(list->model()->index(0, 0));
        list->selectRow(0);

        AddWatch watch;
        watch.Arm();
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(watch.shown, 1);
        watch.Arm();
        QTest::keyClick(list, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(watch.shown, 2);
        watch.Arm();
        // a double click is a click and a second press soon after
        const QPoint secondRow = list->visualRect(list->model()->index(1, 1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, secondRow);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, secondRow);
        QCOMPARE(watch.shown, 3);
        // a double click below the last row is not on a row
        const QPoint belowRows(10, list->viewport()->height() - 3);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, belowRows);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, belowRows);
        QTest::qWait(100);
        QCOMPARE(watch.shown, 3);
    }
};

QTEST_MAIN(SearchDialogTest)
#include "search_dialog_test.moc"
