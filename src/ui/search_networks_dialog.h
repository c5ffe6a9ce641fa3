#pragma once

// "Search networks": the networks searched beyond the local one, so that devices behind a router are found
// too. Each entry is a network ("10.1.2.0/24": the probe goes to its broadcast address) or a range of
// addresses ("10.1.2.10-10.1.2.50", or one address: the probe goes to each of them); entries are separated by
// line ends, commas or blanks. No entry: only the local network is searched.

#include <QDialog>
#include <QString>
#include <vector>

#include "discovery/search_targets.h"

class QLabel;
class QPlainTextEdit;

namespace vantrel {

// Parses the entries in order, dropping repeats of one network; false with a message naming the first
// refused entry, or the total when the ranges together hold too many addresses.
bool ParseSearchTargets(const QString& text, std::vector<SearchTarget>& targets, QString& problem);

// The entries' normalised texts, one per line.
QString SearchTargetsText(const std::vector<SearchTarget>& targets);

// The networks searched, as the status line names them: "the local networks and 10.1.2.0/24", "the local
// networks, 10.1.2.0/24 and 10.4.0.1-10.4.0.9"; past three entries the rest are counted ("and 2 more"). Empty
// when only the local networks are searched.
QString SearchedNetworksText(const std::vector<SearchTarget>& targets);

// status with the networks named after its "found" ("5 devices found on the local networks and
// 10.1.2.0/24 (1 already registered)"); status itself when it has no "found" or no network is searched beyond
// the local ones.
QString WithSearchedNetworks(const QString& status, const std::vector<SearchTarget>& targets);

class SearchNetworksDialog : public QDialog {
    Q_OBJECT

public:
    // Opens with the networks searched so far.
    explicit SearchNetworksDialog(const std::vector<SearchTarget>& current, QWidget* parent = nullptr);

    // After OK: the networks to search.
    const std::vector<SearchTarget>& Targets() const { return targets_; }

    // Accepts only a valid list; otherwise the problem is shown in the dialog, which stays open.
    void accept() override;

private:
    QPlainTextEdit* entries_ = nullptr;
    QLabel* problem_ = nullptr;
    std::vector<SearchTarget> targets_;
};

}  // namespace vantrel
