// The search window in network namespaces made by each test: simulated devices on one side of a veth
// link, the real window and its endpoint on the other. Nothing leaves those namespaces.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>
#include <set>

#include "discovery/search_reply_builder.h"
#include "netns_lab.h"
#include "ui/about_dialog.h"
#include "ui/device_management_dialog.h"
#include "ui/found_device_model.h"
#include "ui/resources.h"
#include "ui/search_dialog.h"
#include "ui_test_support.h"

using namespace vantrel;
using vantrel::testing::MessageLog;
using vantrel::testing::ProgramFolder;
using vantrel::testing::WhenModal;

namespace {

FoundDevice Device(std::uint32_t hostOrderAddress, std::uint16_t port) {
    FoundDevice device;
    device.address = htonl(hostOrderAddress);
    device.subnetMask = htonl(0xFFFFFF00u);
    device.gateway = htonl(0xC0A80101u);
    device.port = port;
    std::string text = DottedDecimal(device.address);
    std::memcpy(device.addressText, text.c_str(), text.size() + 1);
    return device;
}

QSet<QString> Column(const FoundDeviceModel* model, int column) {
    QSet<QString> texts;
    for (int row = 0; row < model->rowCount(); ++row) {
        texts.insert(model->index(row, column).data().toString());
    }
    return texts;
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
    std::unique_ptr<NetnsLab> lab;
    std::string host;
    std::string devices;
    std::unique_ptr<ProgramFolder> folder;

    bool StartDevices(ChildProcess& simulator, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), ToolPath("vantrel-devsim"));
        return simulator.Start(devices, arguments) && simulator.WaitForLine("listening", std::chrono::seconds(5));
    }

private slots:
    void init() {
        folder = std::make_unique<ProgramFolder>();
        lab = std::make_unique<NetnsLab>();
        host = lab->AddNamespace("uihost");
        devices = lab->AddNamespace("uidev");
        if (host.empty() || devices.empty() || !lab->Link(host, "10.1.0.1/24", devices, "10.1.0.2/24")) {
            QFAIL(qPrintable(QStringLiteral("no network namespaces (needs root): ") +
                             QString::fromStdString(lab->Error())));
        }
    }
    void cleanup() {
        lab.reset();
        folder.reset();
    }

    void model_passesTheItemModelChecks() {
        FoundDeviceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.Append({Device(0xC0A80164u, 5050), Device(0xC0A80165u, 37777)});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(1, FoundDeviceModel::kNumber).data().toString(), QStringLiteral("2"));
        QCOMPARE(model.index(0, FoundDeviceModel::kAddress).data().toString(), QStringLiteral("192.168.1.100"));
        QCOMPARE(model.index(1, FoundDeviceModel::kPort).data().toString(), QStringLiteral("37777"));
        QCOMPARE(model.index(0, FoundDeviceModel::kSubnetMask).data().toString(), QStringLiteral("255.255.255.0"));
        QCOMPARE(model.index(0, FoundDeviceModel::kGateway).data().toString(), QStringLiteral("192.168.1.1"));
        QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("Default Gateway"));
        model.Append({});
        model.Clear();
        QCOMPARE(model.rowCount(), 0);
    }

    void window_layoutAndTexts() {
        NetnsScope inHost(host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        window.show();
        QCOMPARE(window.windowTitle(), QStringLiteral("Vantrel"));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.palette().color(QPalette::Window), QColor(198, 206, 225));
        const QStringList headings = {"NO", "IP Address", "Port Number", "Subnet Mask", "Default Gateway"};
        const int widths[] = {20, 120, 90, 120, 120};
        for (int column = 0; column < 5; ++column) {
            QCOMPARE(window.Model()->headerData(column, Qt::Horizontal).toString(), headings[column]);
            QCOMPARE(window.List()->columnWidth(column), widths[column]);
        }
        QVERIFY(window.findChild<QPushButton*>(QStringLiteral("addButton"))->isVisible());
        QVERIFY(window.findChild<QPushButton*>(QStringLiteral("refreshButton"))->isVisible());
        QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("closeButton"))->isVisible());
        QCOMPARE(window.List()->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(window.StatusLine()->text(), QStringLiteral("0 devices found"));
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
        QCOMPARE(window.StatusLine()->text(), QStringLiteral("5 devices found"));
        QTRY_COMPARE_WITH_TIMEOUT(window.ProbesSent(), 3, 3000);
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
        QCOMPARE(window.StatusLine()->text(), QStringLiteral("0 devices found"));
        QCOMPARE(window.ProbesSent(), 4);
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
        int holder = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in port5050{};
        port5050.sin_family = AF_INET;
        port5050.sin_port = htons(5050);
        QCOMPARE(bind(holder, reinterpret_cast<sockaddr*>(&port5050), sizeof port5050), 0);
        SearchDialog window(folder->Context());
        window.show();
        QVERIFY(!window.EndpointOpen());
        QVERIFY2(window.StatusLine()->text().contains(QStringLiteral("5050")), qPrintable(window.StatusLine()->text()));
        QVERIFY(window.StatusLine()->text().startsWith(QStringLiteral("Cannot search for devices")));
        close(holder);
        window.Refresh();
        QVERIFY(window.EndpointOpen());
        QCOMPARE(window.StatusLine()->text(), QStringLiteral("0 devices found"));
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
            selection->select(window.Model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        QStringList chosen = {window.Model()->index(0, 1).data().toString(),
                              window.Model()->index(2, 1).data().toString()};
        WhenModal<DeviceManagementDialog>([](DeviceManagementDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(QStringLiteral("Dome"));
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("addButton")), Qt::LeftButton);
        QVERIFY2(log.messages.empty(), qPrintable(log.Texts().join('\n')));
        QCOMPARE(window.Model()->rowCount(), 4);  // the list is left as it was

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
};

QTEST_MAIN(SearchDialogTest)
#include "search_dialog_test.moc"
