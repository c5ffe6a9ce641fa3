// The search list's model and the sort proxy the window puts over it, fed with rows as the search session
// hands them out. No network and no root needed.
#include <arpa/inet.h>

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QIcon>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QtTest>
#include <cstring>

#include "ui/found_device_model.h"
#include "window_test_support.h"

using namespace vantrel;

namespace {

// A row as the session hands it out (window_test_support.h).
const auto Row = &vantrel::testing::RowOf;

QString Text(const QAbstractItemModel& model, int row, int column, int role = Qt::DisplayRole) {
    return model.index(row, column).data(role).toString();
}

// The column's texts from the top of the (sorted) model down.
QStringList ColumnTexts(const QAbstractItemModel& model, int column) {
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row) {
        texts << Text(model, row, column);
    }
    return texts;
}

}  // namespace

class FoundDeviceModelTest : public QObject {
    Q_OBJECT

private slots:
    void model_passesTheItemModelChecks() {
        FoundDeviceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.Merge({Row(1, "192.168.1.100", 5050), Row(2, "192.168.1.101", 37777)});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(Text(model, 1, FoundDeviceModel::kNumber), QStringLiteral("2"));
        QCOMPARE(Text(model, 0, FoundDeviceModel::kAddress), QStringLiteral("192.168.1.100"));
        QCOMPARE(Text(model, 1, FoundDeviceModel::kPort), QStringLiteral("37777"));
        QCOMPARE(Text(model, 0, FoundDeviceModel::kSubnetMask), QStringLiteral("255.255.255.0"));
        QCOMPARE(Text(model, 0, FoundDeviceModel::kGateway), QStringLiteral("192.168.1.1"));
        QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("Default Gateway"));
        model.Merge({});
        FoundRow changed = Row(1, "192.168.1.100", 5050);
        changed.registered = true;
        model.Merge({changed, Row(3, "192.168.1.102", 80)});
        model.SetProbeCount(3);
        QVERIFY(!model.index(0, FoundDeviceModel::kNumber).parent().isValid());
        QVERIFY(!model.index(0, FoundDeviceModel::kColumnCount).data().isValid());
        model.Clear();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.ProbeCount(), 0u);
    }

    void proxy_passesTheItemModelChecksWhileSortedAndFed() {
        FoundDeviceModel model;
        QSortFilterProxyModel sorted;
        sorted.setSourceModel(&model);
        sorted.setSortRole(FoundDeviceModel::kSortRole);
        sorted.setDynamicSortFilter(true);
        QAbstractItemModelTester tester(&sorted, QAbstractItemModelTester::FailureReportingMode::QtTest);
        sorted.sort(FoundDeviceModel::kAddress, Qt::DescendingOrder);
        std::vector<FoundRow> batch;
        for (std::uint32_t n = 1; n <= 40; ++n) {
            batch.push_back(Row(n, qPrintable(QStringLiteral("10.0.%1.%2").arg(n % 3).arg(n)), 8000));
        }
        model.Merge(batch);
        QCOMPARE(sorted.rowCount(), 40);
        QCOMPARE(Text(sorted, 0, FoundDeviceModel::kAddress), QStringLiteral("10.0.2.38"));
        // an update that moves a row in the sorted order, then a new batch, then empty again
        FoundRow moved = Row(7, "10.0.9.7", 8000);
        model.Merge({moved, Row(41, "9.0.0.1", 8000)});
        QCOMPARE(Text(sorted, 0, FoundDeviceModel::kAddress), QStringLiteral("10.0.9.7"));
        QCOMPARE(Text(sorted, 40, FoundDeviceModel::kAddress), QStringLiteral("9.0.0.1"));
        sorted.sort(FoundDeviceModel::kLastReply, Qt::AscendingOrder);
        model.SetProbeCount(2);
        model.Clear();
        QCOMPARE(sorted.rowCount(), 0);
    }

    // Text order would put "10.0.0.10" before "10.0.0.9" and "9..." last; numbers must not.
    void sort_numbersAddressesAndTimesAsNumbers() {
        FoundDeviceModel model;
        std::vector<FoundRow> rows = {Row(1, "10.0.0.10", 8000), Row(2, "9.255.255.255", 37777),
                                      Row(3, "192.168.1.2", 554), Row(4, "10.0.0.9", 80)};
        rows[0].lastReplyNs += 50'000'000'000LL;     // answered last
        rows[1].senderAddress = htonl(0x01020304u);  // 1.2.3.4, below every announced address
        rows[2].probesSeen = 3;
        rows[3].registered = true;
        for (std::uint32_t n = 5; n <= 11; ++n) {  // row numbers past 9
            rows.push_back(Row(n, qPrintable(QStringLiteral("172.16.0.%1").arg(n)), 8000));
        }
        model.Merge(rows);
        QSortFilterProxyModel sorted;
        sorted.setSourceModel(&model);
        sorted.setSortRole(FoundDeviceModel::kSortRole);

        sorted.sort(FoundDeviceModel::kAddress, Qt::AscendingOrder);
        QCOMPARE(ColumnTexts(sorted, FoundDeviceModel::kAddress).mid(0, 4),
                 (QStringList{"9.255.255.255", "10.0.0.9", "10.0.0.10", "172.16.0.5"}));
        QCOMPARE(ColumnTexts(sorted, FoundDeviceModel::kAddress).last(), QStringLiteral("192.168.1.2"));
        sorted.sort(FoundDeviceModel::kPort, Qt::AscendingOrder);
        QCOMPARE(ColumnTexts(sorted, FoundDeviceModel::kPort).mid(0, 3), (QStringList{"80", "554", "8000"}));
        QCOMPARE(ColumnTexts(sorted, FoundDeviceModel::kPort).last(), QStringLiteral("37777"));
        sorted.sort(FoundDeviceModel::kNumber, Qt::DescendingOrder);
        QCOMPARE(ColumnTexts(sorted, FoundDeviceModel::kNumber).mid(0, 3), (QStringList{"11", "10", "9"}));
        sorted.sort(FoundDeviceModel::kLastReply, Qt::DescendingOrder);
        QCOMPARE(Text(sorted, 0, FoundDeviceModel::kAddress), QStringLiteral("10.0.0.10"));
        sorted.sort(FoundDeviceModel::kSeen, Qt::DescendingOrder);
        QCOMPARE(Text(sorted, 0, FoundDeviceModel::kAddress), QStringLiteral("192.168.1.2"));
        sorted.sort(FoundDeviceModel::kRegistered, Qt::DescendingOrder);
        QCOMPARE(Text(sorted, 0, FoundDeviceModel::kAddress), QStringLiteral("10.0.0.9"));
        sorted.sort(FoundDeviceModel::kSender, Qt::AscendingOrder);
        QCOMPARE(Text(sorted, 0, FoundDeviceModel::kAddress), QStringLiteral("9.255.255.255"));
    }

    void merge_appendsNewRowsAndReplacesNewerStates() {
        FoundDeviceModel model;
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.Merge({Row(1, "10.0.0.1", 8000), Row(2, "10.0.0.2", 8000)});
        QCOMPARE(inserted.count(), 1);

        // the session hands a newer state of row 2 beside a new row 3
        FoundRow again = Row(2, "10.0.0.2", 8000);
        again.probesSeen = 2;
        again.registered = true;
        model.Merge({Row(3, "10.0.0.3", 8000), again});
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex().row(), 1);
        QCOMPARE(Text(model, 1, FoundDeviceModel::kRegistered), QStringLiteral("Yes"));
        QCOMPARE(Text(model, 2, FoundDeviceModel::kNumber), QStringLiteral("3"));

        // new rows out of order, one of them twice: placed by number, the later state kept
        FoundRow fiveLater = Row(5, "10.0.0.5", 8000);
        fiveLater.replies = 4;
        model.Merge({Row(5, "10.0.0.5", 8000), Row(4, "10.0.0.4", 8000), fiveLater});
        QCOMPARE(ColumnTexts(model, FoundDeviceModel::kNumber), (QStringList{"1", "2", "3", "4", "5"}));
        QCOMPARE(model.Row(4).replies, 4u);
        // a row the model never had (a number below the last one, not held) changes nothing
        FoundRow stray = Row(3, "10.9.9.9", 1);
        stray.number = 0;
        model.Merge({stray});
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(Text(model, 2, FoundDeviceModel::kAddress), QStringLiteral("10.0.0.3"));
    }

    void marks_textsAndExplanations() {
        FoundDeviceModel model;
        FoundRow plain = Row(1, "192.168.1.100", 8000);
        FoundRow foreign = Row(2, "192.168.1.108", 8000);
        inet_pton(AF_INET, "10.1.0.1", &foreign.adapterAddress);
        foreign.outsideAdapterSubnet = true;
        foreign.senderMismatch = true;
        inet_pton(AF_INET, "10.1.0.7", &foreign.senderAddress);
        foreign.registered = true;
        foreign.probesSeen = 2;
        foreign.replies = 5;
        model.Merge({plain, foreign});
        model.SetProbeCount(3);

        QCOMPARE(model.headerData(FoundDeviceModel::kRegistered, Qt::Horizontal).toString(),
                 QStringLiteral("Registered"));
        for (int column : {FoundDeviceModel::kRegistered, FoundDeviceModel::kAdapter, FoundDeviceModel::kSender}) {
            QVERIFY2(!model.index(0, column).data(Qt::DecorationRole).isValid(), qPrintable(QString::number(column)));
            QVERIFY(!model.index(1, column).data(Qt::DecorationRole).value<QIcon>().isNull());
        }
        QCOMPARE(Text(model, 0, FoundDeviceModel::kRegistered), QString());
        QCOMPARE(Text(model, 1, FoundDeviceModel::kRegistered), QStringLiteral("Yes"));
        QCOMPARE(Text(model, 1, FoundDeviceModel::kAdapter), QStringLiteral("veth0"));
        QString reach = Text(model, 1, FoundDeviceModel::kAdapter, Qt::ToolTipRole);
        QVERIFY2(reach.contains(QStringLiteral("192.168.1.108 is not in the subnet of veth0 (10.1.0.0/24)")) &&
                     reach.contains(QStringLiteral("cannot be reached until its address is changed")),
                 qPrintable(reach));
        QVERIFY(!Text(model, 0, FoundDeviceModel::kAdapter, Qt::ToolTipRole).contains(QStringLiteral("cannot")));
        QString sender = Text(model, 1, FoundDeviceModel::kSender, Qt::ToolTipRole);
        QVERIFY2(sender.contains(QStringLiteral("10.1.0.7")) && sender.contains(QStringLiteral("(192.168.1.108)")),
                 qPrintable(sender));
        QCOMPARE(Text(model, 1, FoundDeviceModel::kSender), QStringLiteral("10.1.0.7"));

        QCOMPARE(Text(model, 1, FoundDeviceModel::kSeen), QStringLiteral("2 of 3"));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.SetProbeCount(4);  // a later probe went out: every row's n changes
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex().column(), int(FoundDeviceModel::kSeen));
        QCOMPARE(changed.first().at(1).toModelIndex().row(), 1);
        QCOMPARE(Text(model, 0, FoundDeviceModel::kSeen), QStringLiteral("1 of 4"));

        QDateTime last = QDateTime::fromMSecsSinceEpoch(foreign.lastReplyNs / 1000000);
        QCOMPARE(Text(model, 1, FoundDeviceModel::kLastReply), last.toString(QStringLiteral("HH:mm:ss")));
        // a device that never told its adapter is listed without one
        FoundRow unknown = Row(3, "192.168.1.109", 8000);
        unknown.adapterIndex = 0;
        unknown.adapterName[0] = '\0';
        model.Merge({unknown});
        QCOMPARE(Text(model, 2, FoundDeviceModel::kAdapter), QString());
        QVERIFY(!model.index(2, FoundDeviceModel::kAdapter).data(Qt::DecorationRole).isValid());

        // an explanation quoting a name is shown as written, not as markup
        FoundRow odd = Row(4, "192.168.1.110", 8000);
        std::strncpy(odd.adapterName, "<b>br0", sizeof odd.adapterName - 1);
        model.Merge({odd});
        QVERIFY(Text(model, 3, FoundDeviceModel::kAdapter, Qt::ToolTipRole).contains(QStringLiteral("&lt;b&gt;br0")));
    }

    // What tells devices apart, for a device found by ONVIF only, one found by both searches with a conflict,
    // and one with an unusual mask.
    void learnt_onvifOnlyConflictAndWarningRows() {
        FoundDeviceModel model;
        FoundRow onvif = Row(1, "10.1.0.7", 0);
        onvif.protocols = kProtocolOnvif;
        onvif.portKnown = false;
        onvif.device.subnetMask = 0;
        onvif.device.gateway = 0;
        onvif.name = "Lobby <img src=x>";
        onvif.model = "NVT-200";
        onvif.location = "building/2/east wing";
        onvif.endpoint = "urn:uuid:1b4e28ba-2fa1-11d2-883f-0016d3cca427";
        onvif.serviceUrls = {"http://10.1.0.7/onvif/device_service"};
        onvif.mac = "00:16:d3:cc:a4:27";
        onvif.vendor = "Wistron";
        FoundRow both = Row(2, "10.1.0.8", 8000);
        both.protocols = kProtocolNative | kProtocolOnvif;
        both.conflict = true;
        both.senders.resize(2);
        inet_pton(AF_INET, "10.1.0.8", &both.senders[0]);
        inet_pton(AF_INET, "10.1.0.66", &both.senders[1]);
        FoundRow odd = Row(3, "10.1.0.9", 8000);
        odd.protocols = kProtocolNative;
        odd.device.subnetMask = 0;
        odd.warning = "subnet mask 0.0.0.0";
        model.Merge({onvif, both, odd});

        auto copied = [&model](int row, int column) {
            return model.index(row, column).data(FoundDeviceModel::kCopyRole).toString();
        };
        QCOMPARE(Text(model, 0, FoundDeviceModel::kProtocols), QStringLiteral("ONVIF"));
        for (int column : {FoundDeviceModel::kPort, FoundDeviceModel::kSubnetMask, FoundDeviceModel::kGateway}) {
            QCOMPARE(Text(model, 0, column), QString());  // not announced: nothing rather than 0
        }
        QCOMPARE(Text(model, 0, FoundDeviceModel::kName), QStringLiteral("Lobby <img src=x>"));
        QCOMPARE(Text(model, 0, FoundDeviceModel::kModel), QStringLiteral("NVT-200"));
        QCOMPARE(Text(model, 0, FoundDeviceModel::kLocation), QStringLiteral("building/2/east wing"));
        QCOMPARE(Text(model, 0, FoundDeviceModel::kMac), QStringLiteral("00:16:d3:cc:a4:27"));
        QCOMPARE(Text(model, 0, FoundDeviceModel::kVendor), QStringLiteral("Wistron"));
        // a device's own words never format its tool tip
        QVERIFY(Text(model, 0, FoundDeviceModel::kName, Qt::ToolTipRole).contains(QStringLiteral("&lt;img src=x&gt;")));
        const QString services = Text(model, 0, FoundDeviceModel::kProtocols, Qt::ToolTipRole);
        QVERIFY2(services.contains(QStringLiteral("http://10.1.0.7/onvif/device_service")) &&
                     services.contains(QStringLiteral("ONVIF only")),
                 qPrintable(services));

        QCOMPARE(Text(model, 1, FoundDeviceModel::kProtocols), QStringLiteral("native, ONVIF"));
        QCOMPARE(Text(model, 1, FoundDeviceModel::kSenders), QStringLiteral("10.1.0.8, 10.1.0.66"));
        QVERIFY(model.index(1, FoundDeviceModel::kSenders).data(Qt::DecorationRole).isValid());
        QVERIFY(copied(1, FoundDeviceModel::kSenders).startsWith(QStringLiteral("10.1.0.8, 10.1.0.66 (conflict")));
        QVERIFY(Text(model, 1, FoundDeviceModel::kSenders, Qt::ToolTipRole).contains(QStringLiteral("forged")));

        QCOMPARE(Text(model, 2, FoundDeviceModel::kSubnetMask), QStringLiteral("0.0.0.0"));
        QVERIFY(model.index(2, FoundDeviceModel::kSubnetMask).data(Qt::DecorationRole).isValid());
        QCOMPARE(copied(2, FoundDeviceModel::kSubnetMask), QStringLiteral("0.0.0.0 (subnet mask 0.0.0.0)"));
        QVERIFY(!model.index(1, FoundDeviceModel::kSubnetMask).data(Qt::DecorationRole).isValid());

        // a device without a port sorts before every port
        QSortFilterProxyModel sorted;
        sorted.setSourceModel(&model);
        sorted.setSortRole(FoundDeviceModel::kSortRole);
        sorted.sort(FoundDeviceModel::kPort, Qt::AscendingOrder);
        QCOMPARE(Text(sorted, 0, FoundDeviceModel::kAddress), QStringLiteral("10.1.0.7"));
        sorted.sort(FoundDeviceModel::kSenders, Qt::DescendingOrder);
        QCOMPARE(Text(sorted, 0, FoundDeviceModel::kAddress), QStringLiteral("10.1.0.8"));
    }
};

QTEST_MAIN(FoundDeviceModelTest)
#include "found_device_model_test.moc"
