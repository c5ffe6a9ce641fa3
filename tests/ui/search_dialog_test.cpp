// The search window over a real search, in network namespaces made by each test: simulated devices on one
// side of a veth link, the window on the other. Nothing leaves those namespaces. Only what the window adds to
// the search is tested here (rows taken in bursts, Refresh, marks from Data.xml, the status line when the
// search cannot run); what the window does with rows is in search_window_test.cpp, the search itself in the
// discovery tests.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>
#include <cstring>

#include "elided_label.h"
#include "search_lab.h"
#include "store/device_store.h"
#include "ui/device_management_dialog.h"
#include "ui/found_device_model.h"
#include "ui/search_dialog.h"
#include "ui_test_support.h"

using namespace vantrel;
using vantrel::testing::MessageLog;
using vantrel::testing::ProgramFolder;
using vantrel::testing::SearchLab;
using vantrel::testing::WhenModal;

namespace {

FoundDeviceModel* Model(SearchDialog& window) {
    return window.findChild<FoundDeviceModel*>(QStringLiteral("foundDevices"));
}
QString Status(SearchDialog& window) {
    return window.findChild<ElidedLabel*>(QStringLiteral("statusLine"))->text();
}

QSet<QString> Column(const FoundDeviceModel* model, int column) {
    QSet<QString> texts;
    for (int row = 0; row < model->rowCount(); ++row) {
        texts.insert(model->index(row, column).data().toString());
    }
    return texts;
}

int RowOf(const QAbstractItemModel* model, const QString& address) {
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, FoundDeviceModel::kAddress).data().toString() == address) {
            return row;
        }
    }
    return -1;
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

// Writes devices (host, port) into the folder's Data.xml through the store, as an earlier Add would have.
bool Register(ProgramFolder& folder, const std::vector<std::pair<const char*, std::uint32_t>>& devices) {
    DeviceStore* store = folder.Context().Store();
    if (store == nullptr) {
        return false;
    }
    int n = 0;
    for (const auto& [host, port] : devices) {
        DeviceRecord record{};
        std::snprintf(record.name, sizeof record.name, "Known%d", ++n);
        std::strncpy(record.host, host, sizeof record.host - 1);
        std::strncpy(record.username, "admin", sizeof record.username - 1);
        record.port = port;
        record.cameras = 1;
        if (store->AddDevices(&record, sizeof record) == 0) {
            return false;
        }
    }
    bool saved = store->Save() == 1;
    folder.Context().ReleaseCatalogue();
    folder.Context().ReleaseStore();
    return saved;
}

}  // namespace

class SearchDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SearchLab> net;
    std::unique_ptr<ProgramFolder> folder;

private slots:
    void init() {
        folder = std::make_unique<ProgramFolder>();
        net = std::make_unique<SearchLab>();
        if (!net->Make()) {
            QFAIL(qPrintable(net->Problem()));
        }
    }
    void cleanup() {
        net.reset();
        folder.reset();
    }

    void search_rowsListedAndRefreshListsThemAnew() {
        ChildProcess simulator;
        QVERIFY(net->StartDevices(simulator, {"--devices", "3", "--repeat", "3"}));
        NetnsScope inHost(net->host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        QSignalSpy searches(&window, &SearchDialog::SearchStarted);
        window.show();
        QCOMPARE(searches.count(), 1);
        QCOMPARE(Status(window), QString::fromUtf8("Searching\u2026"));
        QTRY_COMPARE_WITH_TIMEOUT(Model(window)->rowCount(), 3, 5000);
        QCOMPARE(Column(Model(window), FoundDeviceModel::kAddress),
                 (QSet<QString>{"192.168.1.100", "192.168.1.101", "192.168.1.102"}));
        // (the lab's veth adapters are virtual: the status says so after the count)
        QTRY_VERIFY_WITH_TIMEOUT(Status(window).startsWith(QStringLiteral("3 devices found")), 5000);

        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("refreshButton")), Qt::LeftButton);
        QCOMPARE(searches.count(), 2);
        QCOMPARE(Model(window)->rowCount(), 0);
        QCOMPARE(Status(window), QString::fromUtf8("Searching\u2026"));
        QTRY_COMPARE_WITH_TIMEOUT(Model(window)->rowCount(), 3, 5000);
        QCOMPARE(Column(Model(window), FoundDeviceModel::kNumber), (QSet<QString>{"1", "2", "3"}));
    }

    void burst_listedInFullAndClosingMidBurstEndsCleanly() {
        ChildProcess simulator;
        QVERIFY(net->StartDevices(simulator, {"--devices", "3000", "--quiet"}));
        NetnsScope inHost(net->host);
        QVERIFY(inHost.Entered());
        SearchSessionOptions oneSenderForAll;  // the simulator answers for every device from one address
        oneSenderForAll.maxDevicesPerSender = 3000;
        {
            SearchDialog window(folder->Context(), oneSenderForAll);
            window.show();
            // 192.168.1.100 onwards: the 24 that fall on a /24's network or broadcast address are refused
            QTRY_COMPARE_WITH_TIMEOUT(Model(window)->rowCount(), 2976, 15000);
            // paints were held back while the rows poured in; the list is not left frozen
            auto* list = window.findChild<QTableView*>(QStringLiteral("deviceList"));
            QTRY_VERIFY_WITH_TIMEOUT(list->updatesEnabled(), 1000);
            // the number column has widened so that "3000" is readable
            QVERIFY(list->columnWidth(0) > list->fontMetrics().horizontalAdvance(QStringLiteral("3000")));
        }
        for (int round = 0; round < 5; ++round) {
            auto window = std::make_unique<SearchDialog>(folder->Context(), oneSenderForAll);
            window->show();
            QTRY_VERIFY_WITH_TIMEOUT(Model(*window)->rowCount() > 0, 5000);
            window->close();
            window.reset();  // replies are still pouring in
            QCoreApplication::processEvents();
        }
    }

    void registered_markedFromDataXmlAndRenewedAfterAdd() {
        // 192.168.1.101 is registered with another port: not the same device
        QVERIFY(Register(*folder, {{"192.168.1.100", 8000}, {"192.168.1.101", 9000}, {"192.168.1.103", 8000}}));
        ChildProcess simulator;
        QVERIFY(net->StartDevices(simulator, {"--devices", "5"}));
        NetnsScope inHost(net->host);
        QVERIFY(inHost.Entered());
        MessageLog log;
        SearchDialog window(folder->Context());
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(Status(window).startsWith(QStringLiteral("5 devices found (2 already registered)")),
                                 6000);
        const FoundDeviceModel* model = Model(window);
        auto registered = [model](const char* address) {
            return model->index(RowOf(model, QLatin1String(address)), FoundDeviceModel::kRegistered).data().toString();
        };
        QCOMPARE(registered("192.168.1.100"), QStringLiteral("Yes"));
        QCOMPARE(registered("192.168.1.103"), QStringLiteral("Yes"));
        QCOMPARE(registered("192.168.1.101"), QString());

        // Add 192.168.1.104: its row is marked as soon as the flow is over
        auto* list = window.findChild<QTableView*>(QStringLiteral("deviceList"));
        list->selectRow(RowOf(list->model(), QStringLiteral("192.168.1.104")));
        // the lab's devices lie outside the host's subnet: Add asks about them before the dialog
        WhenModal<QMessageBox>([](QMessageBox* box) {
            if (box->objectName() == QStringLiteral("questionBox")) {
                box->button(QMessageBox::Yes)->click();
            }
        });
        WhenModal<DeviceManagementDialog>([](DeviceManagementDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(QStringLiteral("Gate"));
            dialog->findChild<QLineEdit*>(QStringLiteral("userName"))->setText(QStringLiteral("admin"));
            dialog->findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("pw"));
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("addButton")), Qt::LeftButton);
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("1 device was registered.")});
        QTRY_COMPARE_WITH_TIMEOUT(registered("192.168.1.104"), QStringLiteral("Yes"), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(Status(window).startsWith(QStringLiteral("5 devices found (3 already registered)")),
                                 2000);
    }

    void status_portHeldSaysSoAndRefreshRetries() {
        NetnsScope inHost(net->host);
        QVERIFY(inHost.Entered());
        int holder = HoldSearchPort();
        QVERIFY(holder >= 0);
        SearchDialog window(folder->Context());
        window.show();
        QVERIFY2(Status(window).startsWith(QStringLiteral("Cannot search for devices")), qPrintable(Status(window)));
        QVERIFY(Status(window).contains(QStringLiteral("5050")));
        QVERIFY(Status(window).endsWith(QStringLiteral("Is another program using the port?")));
        close(holder);
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("refreshButton")), Qt::LeftButton);
        QCOMPARE(Status(window), QString::fromUtf8("Searching\u2026"));
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
        QTRY_COMPARE_WITH_TIMEOUT(Status(window), QStringLiteral("No probe could be sent: network unreachable"), 3000);
    }
};

QTEST_MAIN(SearchDialogTest)
#include "search_dialog_test.moc"
