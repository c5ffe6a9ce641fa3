// "Search networks": the list of networks as the operator types it, and the dialog that refuses a bad one.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "ui/search_networks_dialog.h"

using namespace vantrel;

class SearchNetworksDialogTest : public QObject {
    Q_OBJECT

private slots:
    void parse_entriesSeparatedAnyWayRepeatsDropped() {
        std::vector<SearchTarget> targets;
        QString problem;
        QVERIFY(ParseSearchTargets(QStringLiteral("  10.1.2.7/24\n10.3.0.10-10.3.0.20, 10.4.0.9;\t10.1.2.0/24\n\n"),
                                   targets, problem));
        QVERIFY(problem.isEmpty());
        QCOMPARE(SearchTargetsText(targets), QStringLiteral("10.1.2.0/24\n10.3.0.10-10.3.0.20\n10.4.0.9"));
        QCOMPARE(targets[0].kind, SearchTarget::Kind::kDirectedBroadcast);
        QCOMPARE(targets[1].ProbeCount(), 11u);

        QVERIFY(ParseSearchTargets(QStringLiteral(" \n "), targets, problem));
        QVERIFY(targets.empty());  // nothing typed: the local network only
    }

    void parse_refusesNamingTheEntryAndKeepsTheOldList() {
        std::vector<SearchTarget> targets;
        QString problem;
        QVERIFY(ParseSearchTargets(QStringLiteral("10.9.0.0/24"), targets, problem));
        // the second entry is refused (the parser's own tests cover every form it refuses)
        QVERIFY(!ParseSearchTargets(QStringLiteral("10.1.2.0/24 10.1.300.0/24"), targets, problem));
        QVERIFY2(problem.contains(QStringLiteral("10.1.300.0/24")), qPrintable(problem));
        QCOMPARE(SearchTargetsText(targets), QStringLiteral("10.9.0.0/24"));
        // each range fits, together they hold too many addresses
        QVERIFY(!ParseSearchTargets(QStringLiteral("10.1.0.0-10.1.255.255 10.2.0.0-10.2.0.9"), targets, problem));
        QVERIFY2(problem.contains(QStringLiteral("together")), qPrintable(problem));
    }

    void dialog_staysOpenOnABadEntryAndAcceptsAGoodOne() {
        SearchTarget known;
        std::string why;
        QVERIFY(ParseSearchTarget("10.5.0.0/16", known, why));
        SearchNetworksDialog dialog({known});
        dialog.show();
        auto* entries = dialog.findChild<QPlainTextEdit*>(QStringLiteral("networks"));
        auto* problem = dialog.findChild<QLabel*>(QStringLiteral("problem"));
        QCOMPARE(entries->toPlainText(), QStringLiteral("10.5.0.0/16"));
        QVERIFY(!problem->isVisible());

        entries->setPlainText(QStringLiteral("10.5.0.0/16\n10.6.0.1-10.6.0"));
        dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        QVERIFY(dialog.isVisible());
        QVERIFY(problem->isVisible());
        QVERIFY2(problem->text().contains(QStringLiteral("10.6.0.1-10.6.0")), qPrintable(problem->text()));
        QCOMPARE(dialog.Targets().size(), 1u);

        entries->setPlainText(QStringLiteral("10.5.0.0/16\n10.6.0.1-10.6.0.4"));
        dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(SearchTargetsText(dialog.Targets()), QStringLiteral("10.5.0.0/16\n10.6.0.1-10.6.0.4"));
    }
};

QTEST_MAIN(SearchNetworksDialogTest)
#include "search_networks_dialog_test.moc"
