#include "search_networks_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <set>

namespace vantrel {

bool ParseSearchTargets(const QString& text, std::vector<SearchTarget>& targets, QString& problem) {
    static const QRegularExpression kSeparators(QStringLiteral("[\\s,;]+"));
    std::vector<SearchTarget> parsed;
    std::set<std::string> seen;
    for (const QString& entry : text.split(kSeparators, Qt::SkipEmptyParts)) {
        SearchTarget target;
        std::string why;
        if (!ParseSearchTarget(entry.toStdString(), target, why)) {
            problem = QString::fromStdString(why);
            return false;
        }
        if (seen.insert(target.text).second) {
            parsed.push_back(std::move(target));
        }
    }
    std::string why;
    if (!CheckUnicastTotal(parsed, why)) {
        problem = QString::fromStdString(why);
        return false;
    }
    targets = std::move(parsed);
    problem.clear();
    return true;
}

QString SearchTargetsText(const std::vector<SearchTarget>& targets) {
    QStringList lines;
    for (const SearchTarget& target : targets) {
        lines << QString::fromStdString(target.text);
    }
    return lines.join(QLatin1Char('\n'));
}

QString SearchedNetworksText(const std::vector<SearchTarget>& targets) {
    // enough to recognise the site's networks; the status line has one line
    constexpr std::size_t kNamed = 3;
    if (targets.empty()) {
        return {};
    }
    QStringList names = {QStringLiteral("the local networks")};
    for (std::size_t i = 0; i < targets.size() && i < kNamed; ++i) {
        names << QString::fromStdString(targets[i].text);
    }
    if (targets.size() > kNamed) {
        names << QStringLiteral("%1 more").arg(targets.size() - kNamed);
    }
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

QString WithSearchedNetworks(const QString& status, const std::vector<SearchTarget>& targets) {
    static const QRegularExpression kFound(QStringLiteral("\\bfound\\b"));
    const QString networks = SearchedNetworksText(targets);
    QRegularExpressionMatch found = kFound.match(status);
    if (networks.isEmpty() || !found.hasMatch()) {
        return status;
    }
    QString text = status;
    return text.insert(found.capturedEnd(), QStringLiteral(" on ") + networks);
}

SearchNetworksDialog::SearchNetworksDialog(const std::vector<SearchTarget>& current, QWidget* parent)
    : QDialog(parent), targets_(current) {
    setObjectName(QStringLiteral("searchNetworksDialog"));
    setWindowTitle(QStringLiteral("Search networks"));

    auto* explanation =
        new QLabel(QStringLiteral("Networks to search beyond this one, one per line:\n"
                                  "a network such as 10.1.2.0/24 (one probe to its broadcast address), or\n"
                                  "a range such as 10.1.2.10-10.1.2.50 or one address (a probe to each address).\n"
                                  "Leave it empty to search only the local network."),
                   this);
    entries_ = new QPlainTextEdit(this);
    entries_->setObjectName(QStringLiteral("networks"));
    entries_->setTabChangesFocus(true);
    entries_->setPlainText(SearchTargetsText(current));
    explanation->setBuddy(entries_);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("problem"));
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette warning = problem_->palette();
    warning.setColor(QPalette::WindowText, QColor(170, 0, 0));
    problem_->setPalette(warning);
    problem_->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Search"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explanation);
    layout->addWidget(entries_, 1);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
    int lines = 8;
    entries_->setMinimumHeight(entries_->fontMetrics().lineSpacing() * lines);
    entries_->setFocus();
}

void SearchNetworksDialog::accept() {
    QString problem;
    std::vector<SearchTarget> parsed;
    if (!ParseSearchTargets(entries_->toPlainText(), parsed, problem)) {
        problem_->setText(problem);
        problem_->show();
        entries_->setFocus();
        return;
    }
    targets_ = std::move(parsed);
    problem_->hide();
    QDialog::accept();
}

}  // namespace vantrel
