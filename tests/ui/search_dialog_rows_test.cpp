// What the search window's rows tell the operator and what can be done with them, against simulated devices
// in network namespaces made by each test: registered marks from a real Data.xml, the adapter and sender
// marks, sorting, Select all and copy, the context menu, export, and networks searched behind a router.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

#include "search_lab.h"
#include "store/device_store.h"
#include "ui/device_management_dialog.h"
#include "ui/found_device_model.h"
#include "ui/search_dialog.h"
#include "ui/search_networks_dialog.h"
#include "ui_test_support.h"

using namespace vantrel;
using vantrel::testing::MessageLog;
using vantrel::testing::ProgramFolder;
using vantrel::testing::SearchLab;
using vantrel::testing::WhenMenu;
using vantrel::testing::WhenModal;

namespace {

int RowOf(const QAbstractItemModel* model, const QString& address) {
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, FoundDeviceModel::kAddress).data().toString() == address) {
            return row;
        }
    }
    return -1;
}

QString Cell(const QAbstractItemModel* model, const QString& address, int column, int role = Qt::DisplayRole) {
    return model->index(RowOf(model, address), column).data(role).toString();
}

bool Marked(const QAbstractItemModel* model, const QString& address, int column) {
    return model->index(RowOf(model, address), column).data(Qt::DecorationRole).isValid();
}

QStringList ViewAddresses(const SearchDialog& window) {
    QStringList addresses;
    const QAbstractItemModel* shown = window.List()->model();
    for (int row = 0; row < shown->rowCount(); ++row) {
        addresses << shown->index(row, FoundDeviceModel::kAddress).data().toString();
    }
    return addresses;
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

void ClickHeader(SearchDialog& window, int column) {
    QHeaderView* header = window.List()->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
}

}  // namespace

class SearchDialogRowsTest : public QObject {
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
        QTRY_COMPARE_WITH_TIMEOUT(window.StatusLine()->text(), QStringLiteral("5 devices found (2 already registered)"),
                                  6000);
        const FoundDeviceModel* model = window.Model();
        for (const char* registered : {"192.168.1.100", "192.168.1.103"}) {
            QCOMPARE(Cell(model, registered, FoundDeviceModel::kRegistered), QStringLiteral("Yes"));
            QVERIFY(Marked(model, registered, FoundDeviceModel::kRegistered));
        }
        for (const char* fresh : {"192.168.1.101", "192.168.1.102", "192.168.1.104"}) {
            QCOMPARE(Cell(model, fresh, FoundDeviceModel::kRegistered), QString());
        }

        // Add 192.168.1.104: its row is marked as soon as the flow is over
        window.List()->selectRow(RowOf(window.List()->model(), QStringLiteral("192.168.1.104")));
        WhenModal<DeviceManagementDialog>([](DeviceManagementDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("deviceName"))->setText(QStringLiteral("Gate"));
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
        window.OnAdd();
        QCOMPARE(log.Texts(), QStringList{QStringLiteral("1 device was registered.")});  // the summary after Add
        QTRY_COMPARE_WITH_TIMEOUT(Cell(model, "192.168.1.104", FoundDeviceModel::kRegistered), QStringLiteral("Yes"),
                                  2000);
        QTRY_COMPARE_WITH_TIMEOUT(window.StatusLine()->text(), QStringLiteral("5 devices found (3 already registered)"),
                                  2000);
    }

    void marks_foreignSubnetAndSenderShownOnlyWhereTheyApply() {
        ChildProcess simulator;
        // 192.168.1.100 answers from the link's 10.1.0.2: a foreign subnet and a sender that is not the device;
        // 10.1.0.2 announces itself
        QVERIFY(net->StartDevices(simulator, {"--devices", "1", "--device", "10.1.0.2,255.255.255.0,10.1.0.1,8000"}));
        NetnsScope inHost(net->host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(window.StatusLine()->text(), QStringLiteral("2 devices found"), 6000);
        const FoundDeviceModel* model = window.Model();
        const QString foreign = QStringLiteral("192.168.1.100");
        const QString local = QStringLiteral("10.1.0.2");

        QVERIFY(!Cell(model, foreign, FoundDeviceModel::kAdapter).isEmpty());
        QCOMPARE(Cell(model, foreign, FoundDeviceModel::kAdapter), Cell(model, local, FoundDeviceModel::kAdapter));
        QVERIFY(Marked(model, foreign, FoundDeviceModel::kAdapter));
        QVERIFY(!Marked(model, local, FoundDeviceModel::kAdapter));
        QVERIFY(Cell(model, foreign, FoundDeviceModel::kAdapter, Qt::ToolTipRole)
                    .contains(QStringLiteral("cannot be reached until its address is changed")));
        QVERIFY(
            Cell(model, foreign, FoundDeviceModel::kAdapter, Qt::ToolTipRole).contains(QStringLiteral("10.1.0.0/24")));

        QCOMPARE(Cell(model, foreign, FoundDeviceModel::kSender), local);
        QVERIFY(Marked(model, foreign, FoundDeviceModel::kSender));
        QVERIFY(!Marked(model, local, FoundDeviceModel::kSender));

        // each answered the round's probes (on a loaded machine a late answer may count for no probe)
        const QRegularExpression seen(QStringLiteral("^[1-3] of 3$"));
        QVERIFY(seen.match(Cell(model, foreign, FoundDeviceModel::kSeen)).hasMatch());
        QVERIFY(seen.match(Cell(model, local, FoundDeviceModel::kSeen)).hasMatch());
        QVERIFY(Cell(model, foreign, FoundDeviceModel::kSeen) == QStringLiteral("3 of 3") ||
                Cell(model, local, FoundDeviceModel::kSeen) == QStringLiteral("3 of 3"));
        QVERIFY(!Cell(model, local, FoundDeviceModel::kLastReply).isEmpty());
    }

    void sort_addressesAsNumbersAndAddTakesTheViewsOrder() {
        ChildProcess simulator;
        QVERIFY(net->StartDevices(simulator, {"--devices", "12", "--first-address", "192.168.1.95", "--jitter", "30"}));
        NetnsScope inHost(net->host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 12, 5000);
        QStringList ascending;
        for (int last = 95; last <= 106; ++last) {
            ascending << QStringLiteral("192.168.1.%1").arg(last);
        }
        ClickHeader(window, FoundDeviceModel::kAddress);
        QCOMPARE(ViewAddresses(window), ascending);
        ClickHeader(window, FoundDeviceModel::kAddress);
        QStringList descending(ascending.rbegin(), ascending.rend());
        QCOMPARE(ViewAddresses(window), descending);

        // the rows reach Add top to bottom as the list shows them, not in order of answer
        QItemSelectionModel* selection = window.List()->selectionModel();
        for (int row : {4, 0, 2}) {
            selection->select(window.List()->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        std::vector<SelectedRow> chosen = window.SelectedRows();
        QCOMPARE(chosen.size(), 3u);
        QCOMPARE(chosen[0].address, descending[0]);
        QCOMPARE(chosen[1].address, descending[2]);
        QCOMPARE(chosen[2].address, descending[4]);
        QCOMPARE(chosen[0].port, QStringLiteral("8000"));

        // a third click returns to the order of answer
        ClickHeader(window, FoundDeviceModel::kAddress);
        QCOMPARE(window.List()->model()->index(0, FoundDeviceModel::kNumber).data().toString(), QStringLiteral("1"));
    }

    void copy_selectAllThenCopyGivesTabSeparatedRowsUnderTheHeadings() {
        ChildProcess simulator;
        QVERIFY(net->StartDevices(simulator, {"--devices", "3"}));
        NetnsScope inHost(net->host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 3, 5000);
        QApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(window.List(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));  // nothing selected, nothing copied

        QTest::keyClick(window.List(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(window.List()->selectionModel()->selectedRows().size(), 3);
        QTest::keyClick(window.List(), Qt::Key_C, Qt::ControlModifier);
        QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 5);  // headings, three rows, the last line end
        QCOMPARE(lines[0], QStringLiteral("NO\tIP Address\tPort Number\tSubnet Mask\tDefault Gateway\tRegistered\t"
                                          "Adapter\tSeen\tLast Reply\tSender"));
        QVERIFY(lines[4].isEmpty());
        for (int row = 0; row < 3; ++row) {
            QStringList cells = lines[row + 1].split(QLatin1Char('\t'));
            QCOMPARE(cells.size(), 10);
            QCOMPARE(cells[FoundDeviceModel::kNumber], QString::number(row + 1));
            QCOMPARE(cells[FoundDeviceModel::kAddress], window.Model()->index(row, FoundDeviceModel::kAddress).data());
            QCOMPARE(cells[FoundDeviceModel::kPort], QStringLiteral("8000"));
            QCOMPARE(cells[FoundDeviceModel::kSender], QStringLiteral("10.1.0.2"));
        }
    }

    void contextMenu_offersEveryCommandAndSelectAllWorks() {
        ChildProcess simulator;
        QVERIFY(net->StartDevices(simulator, {"--devices", "2"}));
        NetnsScope inHost(net->host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 2, 5000);
        QStringList texts;
        WhenMenu([&texts](QMenu* menu) {
            for (QAction* action : menu->actions()) {
                if (!action->isSeparator()) {
                    texts << action->text().remove(QLatin1Char('&'));
                }
                if (action->text().remove(QLatin1Char('&')) == QStringLiteral("Select all")) {
                    action->trigger();
                }
            }
        });
        QWidget* viewport = window.List()->viewport();
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), viewport->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(viewport, &event);
        QCOMPARE(texts.mid(0, 7),
                 (QStringList{"Add", "Refresh", "Copy", "Select all", QString::fromUtf8("Search networks\u2026"),
                              QString::fromUtf8("Export\u2026"), QString::fromUtf8("Devices\u2026")}));
        QCOMPARE(texts.size(), 8);  // and the about item
        QCOMPARE(window.List()->selectionModel()->selectedRows().size(), 2);
    }

    void export_csvAndJsonFilesAndAFailureNamingTheFile() {
        ChildProcess simulator;
        QVERIFY(net->StartDevices(simulator, {"--devices", "3"}));
        NetnsScope inHost(net->host);
        QVERIFY(inHost.Entered());
        QVERIFY(Register(*folder, {{"192.168.1.101", 8000}}));
        MessageLog log;
        SearchDialog window(folder->Context());
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(window.StatusLine()->text(), QStringLiteral("3 devices found (1 already registered)"),
                                  6000);
        QTemporaryDir out;
        // afterAccept runs once the dialog has taken the name, before the file is written
        auto exportTo = [&window](const QString& path, std::function<void()> afterAccept = nullptr) {
            // typed as the operator would: selectFile goes through the dialog's folder model, which loads late
            WhenModal<QFileDialog>([path, afterAccept](QFileDialog* dialog) {
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                QVERIFY(name != nullptr);
                name->setText(path);
                QMetaObject::invokeMethod(dialog, "accept");
                if (afterAccept) {
                    afterAccept();
                }
            });
            window.Export();
        };

        const QString csvPath = out.filePath(QStringLiteral("found.csv"));
        exportTo(csvPath);
        QFile csv(csvPath);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0].trimmed(), QByteArray("no,address,port,subnetMask,gateway,registered,adapter,adapterAddress,"
                                                "adapterMask,outsideAdapterSubnet,sender,senderMismatch,seenInProbes,"
                                                "probes,replies,lastReply"));
        QCOMPARE(lines.count(QByteArray()), 1);

        const QString jsonPath = out.filePath(QStringLiteral("found.json"));
        exportTo(jsonPath);
        QFile json(jsonPath);
        QVERIFY(json.open(QIODevice::ReadOnly));
        QJsonArray devices = QJsonDocument::fromJson(json.readAll()).array();
        QCOMPARE(devices.size(), 3);
        QSet<QString> addresses;
        for (const QJsonValue& device : devices) {
            QJsonObject fields = device.toObject();
            addresses << fields[QStringLiteral("address")].toString();
            QCOMPARE(fields[QStringLiteral("registered")].toBool(),
                     fields[QStringLiteral("address")].toString() == QStringLiteral("192.168.1.101"));
            QCOMPARE(fields[QStringLiteral("probes")].toInt(), 3);
            QCOMPARE(fields[QStringLiteral("senderMismatch")].toBool(), true);
        }
        QCOMPARE(addresses, (QSet<QString>{"192.168.1.100", "192.168.1.101", "192.168.1.102"}));
        QVERIFY(log.messages.empty());

        // the folder goes away between choosing and writing (the dialog itself refuses missing folders): told,
        // with the file's name
        QVERIFY(QDir(out.path()).mkdir(QStringLiteral("gone")));
        const QString impossible = out.filePath(QStringLiteral("gone/found.csv"));
        exportTo(impossible, [&out] { QDir(out.filePath(QStringLiteral("gone"))).removeRecursively(); });
        QCOMPARE(log.messages.size(), 1u);
        QVERIFY2(log.messages[0].text.startsWith(QStringLiteral("Cannot write ") + impossible),
                 qPrintable(log.messages[0].text));
    }

    void networks_rangeBehindARouterIsSearched() {
        // the window's namespace and the devices' namespace joined by a router namespace
        NetnsLab& lab = *net->lab;
        std::string router = lab.AddNamespace("uirouter");
        std::string remote = lab.AddNamespace("uiremote");
        QVERIFY(!router.empty() && !remote.empty());
        QVERIFY(lab.Link(net->host, "10.3.0.1/24", router, "10.3.0.254/24"));
        QVERIFY(lab.Link(router, "10.4.0.254/24", remote, "10.4.0.2/24"));
        QVERIFY(lab.Run("ip netns exec " + router + " sysctl -qw net.ipv4.ip_forward=1"));
        QVERIFY(lab.Run("ip -n " + net->host + " route add 10.4.0.0/24 via 10.3.0.254"));
        QVERIFY(lab.Run("ip -n " + remote + " route add default via 10.4.0.254"));
        ChildProcess behindRouter;
        std::vector<std::string> arguments = {ToolPath("vantrel-devsim"), "--device",
                                              "10.4.0.2,255.255.255.0,10.4.0.254,8000"};
        QVERIFY(behindRouter.Start(remote, arguments) &&
                behindRouter.WaitForLine("listening", std::chrono::seconds(5)));

        NetnsScope inHost(net->host);
        QVERIFY(inHost.Entered());
        SearchDialog window(folder->Context());
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(window.StatusLine()->text(), QStringLiteral("0 devices found"), 6000);

        WhenModal<SearchNetworksDialog>([](SearchNetworksDialog* dialog) {
            dialog->findChild<QPlainTextEdit*>(QStringLiteral("networks"))
                ->setPlainText(QStringLiteral("10.4.0.1-10.4.0.9"));
            dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        window.SearchNetworks();
        QCOMPARE(SearchTargetsText(window.Targets()), QStringLiteral("10.4.0.1-10.4.0.9"));
        QTRY_COMPARE_WITH_TIMEOUT(window.Model()->rowCount(), 1, 5000);
        QCOMPARE(window.Model()->index(0, FoundDeviceModel::kAddress).data().toString(), QStringLiteral("10.4.0.2"));
        // it answered by the router: outside the adapter's subnet, but in a network searched on purpose
        QVERIFY(!window.Model()->index(0, FoundDeviceModel::kAdapter).data(Qt::DecorationRole).isValid());
        QVERIFY(!window.Model()->index(0, FoundDeviceModel::kSender).data(Qt::DecorationRole).isValid());

        // the dialog opens with what is searched, and Cancel changes nothing
        QString shown;
        WhenModal<SearchNetworksDialog>([&shown](SearchNetworksDialog* dialog) {
            shown = dialog->findChild<QPlainTextEdit*>(QStringLiteral("networks"))->toPlainText();
            dialog->reject();
        });
        window.SearchNetworks();
        QCOMPARE(shown, QStringLiteral("10.4.0.1-10.4.0.9"));
        QCOMPARE(window.Model()->rowCount(), 1);
    }
};

QTEST_MAIN(SearchDialogRowsTest)
#include "search_dialog_rows_test.moc"
