// Export of the found list: the files written, and a failed write told with its reason.
#include <arpa/inet.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

#include "ui/found_list_export.h"

using namespace vantrel;

namespace {

FoundRow Row(std::uint32_t number, const char* address, bool registered) {
    FoundRow row;
    row.number = number;
    inet_pton(AF_INET, address, &row.device.address);
    row.device.subnetMask = htonl(0xFFFFFF00u);
    row.device.gateway = htonl(0xC0A80101u);
    row.device.port = 8000;
    std::strncpy(row.device.addressText, address, sizeof row.device.addressText - 1);
    row.senderAddress = row.device.address;
    std::strncpy(row.adapterName, "veth0", sizeof row.adapterName - 1);
    row.registered = registered;
    row.probesSeen = 2;
    row.replies = 2;
    row.lastReplyNs = 1'700'000'000'123'000'000LL;
    return row;
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class FoundListExportTest : public QObject {
    Q_OBJECT

private slots:
    void format_followsTheFileName() {
        QCOMPARE(ExportFormatFor(QStringLiteral("/tmp/found.json")), ExportFormat::kJson);
        QCOMPARE(ExportFormatFor(QStringLiteral("FOUND.JSON")), ExportFormat::kJson);
        QCOMPARE(ExportFormatFor(QStringLiteral("found.csv")), ExportFormat::kCsv);
        QCOMPARE(ExportFormatFor(QStringLiteral("found.json.txt")), ExportFormat::kCsv);
    }

    void write_csvAndJsonFilesOfEveryRow() {
        QTemporaryDir dir;
        const std::vector<FoundRow> rows = {Row(1, "192.168.1.100", false), Row(2, "192.168.1.101", true)};
        QString problem;
        const QString csv = dir.filePath(QStringLiteral("found.csv"));
        QVERIFY(WriteFoundList(csv, ExportFormat::kCsv, rows, 3, problem));
        QList<QByteArray> lines = Contents(csv).split('\n');
        QCOMPARE(lines.size(), 4);  // header, two rows, nothing after the last line end
        QVERIFY(lines[0].startsWith("no,address,port,subnetMask,gateway,registered,adapter"));
        QVERIFY2(lines[2].startsWith("2,192.168.1.101,8000,255.255.255.0,192.168.1.1,true,veth0"), lines[2]);

        const QString json = dir.filePath(QStringLiteral("found.json"));
        QVERIFY(WriteFoundList(json, ExportFormat::kJson, rows, 3, problem));
        QJsonParseError error;
        QJsonDocument document = QJsonDocument::fromJson(Contents(json), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QJsonArray devices = document.array();
        QCOMPARE(devices.size(), 2);
        QCOMPARE(devices[0].toObject()[QStringLiteral("address")].toString(), QStringLiteral("192.168.1.100"));
        QCOMPARE(devices[1].toObject()[QStringLiteral("registered")].toBool(), true);
        QCOMPARE(devices[1].toObject()[QStringLiteral("seenInProbes")].toInt(), 2);
        QCOMPARE(devices[1].toObject()[QStringLiteral("probes")].toInt(), 3);

        // a second export over the first replaces it whole
        QVERIFY(WriteFoundList(json, ExportFormat::kJson, {}, 0, problem));
        QCOMPARE(Contents(json).trimmed(), QByteArray("[]"));
    }

    void write_failureKeepsTheEarlierFileAndSaysWhy() {
        QTemporaryDir dir;
        QString problem;
        // a folder that is a file: nothing can be created beneath it
        const QString notAFolder = dir.filePath(QStringLiteral("plain"));
        QVERIFY(WriteFoundList(notAFolder, ExportFormat::kCsv, {Row(1, "10.0.0.1", false)}, 1, problem));
        const QByteArray before = Contents(notAFolder);
        QVERIFY(!WriteFoundList(notAFolder + QStringLiteral("/found.csv"), ExportFormat::kCsv, {}, 1, problem));
        QVERIFY(!problem.isEmpty());
        QCOMPARE(Contents(notAFolder), before);
        // a name that is a folder is not replaced
        QVERIFY(!WriteFoundList(dir.path(), ExportFormat::kCsv, {}, 1, problem));
        QVERIFY(QFileInfo(dir.path()).isDir());
    }
};

QTEST_MAIN(FoundListExportTest)
#include "found_list_export_test.moc"
