#include "ui/search_dialog.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <string_view>

#include "catalogue/device_catalogue.h"
#include "context/program_context.h"
#include "ui/about_dialog.h"
#include "ui/devices_window.h"
#include "ui/dialog_units.h"
#include "ui/elided_label.h"
#include "ui/found_device_model.h"
#include "ui/found_list_export.h"
#include "ui/messages.h"
#include "ui/resources.h"
#include "ui/search_networks_dialog.h"

namespace vantrel {
namespace {

// Each column's width in pixels as the window was first laid out, "NO" first. A column is made wider when its
// heading or the widest text it can hold (kColumnSamples) needs more in the window's font.
constexpr int kColumnWidths[FoundDeviceModel::kColumnCount] = {20, 120, 90, 120, 120, 80, 80, 60, 80, 120};
const char* const kColumnSamples[FoundDeviceModel::kColumnCount] = {
    "65536", "255.255.255.255", "65535",    "255.255.255.255", "255.255.255.255",
    "Yes",   "enp0s31f6",       "99 of 99", "00:00:00",        "255.255.255.255"};

bool HasMark(int column) {
    return column == FoundDeviceModel::kRegistered || column == FoundDeviceModel::kAdapter ||
           column == FoundDeviceModel::kSender;
}

std::string_view FieldText(const char (&field)[kTextFieldSize]) {
    return std::string_view(field, strnlen(field, sizeof field));
}

}  // namespace

std::shared_ptr<RegisteredDevices> RegisteredDevicesOf(const DeviceCatalogue* catalogue) {
    auto registered = std::make_shared<RegisteredDevices>();
    if (catalogue != nullptr) {
        for (const auto& entry : catalogue->DevicesById()) {
            const DeviceRecord& record = *entry.second;
            registered->Add(FieldText(record.host), record.port);
            registered->AddName(FieldText(record.name));
        }
    }
    return registered;
}

SearchDialog::SearchDialog(ProgramContext& context, QWidget* parent)
    : SearchDialog(context, SearchSessionOptions(), parent) {}

SearchDialog::SearchDialog(ProgramContext& context, SearchSessionOptions options, QWidget* parent)
    : QDialog(parent), context_(context), session_(std::make_unique<SearchSession>(std::move(options))) {
    setObjectName(QStringLiteral("searchDialog"));
    setWindowTitle(QStringLiteral("Vantrel"));
    setWindowIcon(ProgramIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    UseWindowBackground(this);

    model_ = new FoundDeviceModel(this);
    sorted_ = new QSortFilterProxyModel(this);
    sorted_->setSourceModel(model_);
    sorted_->setSortRole(FoundDeviceModel::kSortRole);
    sorted_->setDynamicSortFilter(true);

    list_ = new QTableView(this);
    list_->setObjectName(QStringLiteral("deviceList"));
    list_->setModel(sorted_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setShowGrid(true);
    list_->setWordWrap(false);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setTabKeyNavigation(false);  // Tab moves on to the buttons
    list_->installEventFilter(this);
    connect(list_, &QAbstractItemView::doubleClicked, this, &SearchDialog::OnAdd);
    QHeaderView* rows = list_->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(
        std::max(list_->fontMetrics().height(), style()->pixelMetric(QStyle::PM_SmallIconSize)) + 4);
    QHeaderView* columns = list_->horizontalHeader();
    columns->setHighlightSections(false);
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setMinimumSectionSize(kColumnWidths[FoundDeviceModel::kNumber]);
    // arrival order until the operator picks a column; a third click on it returns there
    columns->setSortIndicatorClearable(true);
    columns->setSortIndicator(-1, Qt::AscendingOrder);
    list_->setSortingEnabled(true);
    SizeColumns();

    status_ = new ElidedLabel(this);
    status_->setObjectName(QStringLiteral("statusLine"));

    closeButton_ = new QPushButton(QStringLiteral("Close"), this);
    closeButton_->setObjectName(QStringLiteral("closeButton"));
    closeButton_->hide();
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
    // Alt+A and Alt+R; the buttons still read "Add" and "Refresh"
    addButton_ = new QPushButton(QStringLiteral("&Add"), this);
    addButton_->setObjectName(QStringLiteral("addButton"));
    connect(addButton_, &QPushButton::clicked, this, &SearchDialog::OnAdd);
    refreshButton_ = new QPushButton(QStringLiteral("&Refresh"), this);
    refreshButton_->setObjectName(QStringLiteral("refreshButton"));
    connect(refreshButton_, &QPushButton::clicked, this, &SearchDialog::Refresh);
    for (QPushButton* button : {closeButton_, addButton_, refreshButton_}) {
        button->setAutoDefault(false);
    }
    setTabOrder(list_, addButton_);
    setTabOrder(addButton_, refreshButton_);

    addAction_ = AddWindowAction(QStringLiteral("&Add"), QKeySequence(), &SearchDialog::OnAdd);
    refreshAction_ = AddWindowAction(QStringLiteral("&Refresh"), QKeySequence(Qt::Key_F5), &SearchDialog::Refresh);
    copyAction_ = AddWindowAction(QStringLiteral("&Copy"), QKeySequence::Copy, &SearchDialog::CopySelection);
    selectAllAction_ =
        AddWindowAction(QStringLiteral("Select &all"), QKeySequence::SelectAll, &SearchDialog::SelectAll);
    networksAction_ =
        AddWindowAction(QString::fromUtf8("Search &networks\u2026"), QKeySequence(), &SearchDialog::SearchNetworks);
    exportAction_ = AddWindowAction(QString::fromUtf8("&Export\u2026"), QKeySequence(), &SearchDialog::Export);
    devicesAction_ = AddWindowAction(QString::fromUtf8("&Devices\u2026"), QKeySequence(Qt::CTRL | Qt::Key_D),
                                     &SearchDialog::ShowDevices);
    devicesButton_ = new QPushButton(devicesAction_->text(), this);
    devicesButton_->setObjectName(QStringLiteral("devicesButton"));
    devicesButton_->setAutoDefault(false);
    connect(devicesButton_, &QPushButton::clicked, this, &SearchDialog::ShowDevices);

    DialogUnits du(font());
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(closeButton_);
    buttons->addWidget(addButton_);
    buttons->addWidget(refreshButton_);
    buttons->addWidget(devicesButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(du.X(5), du.Y(7), du.X(5), du.Y(5));
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);

    int listWidth = 2 * list_->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (int column = 0; column < FoundDeviceModel::kColumnCount; ++column) {
        listWidth += list_->columnWidth(column);
    }
    int width = std::max(du.X(317), listWidth) + du.X(10);
    if (QScreen* shownOn = screen()) {
        width = std::min(width, shownOn->availableGeometry().width() * 9 / 10);
    }
    resize(width, du.Y(267));

    listPaintHold_.setInterval(kListPaintIntervalMs);
    connect(&listPaintHold_, &QTimer::timeout, this, &SearchDialog::OnListPaintDue);

    session_->SetPendingCallback(
        [this] { QMetaObject::invokeMethod(this, &SearchDialog::TakePending, Qt::QueuedConnection); });
    ShowStatus(session_->Status());
    list_->setFocus();
}

SearchDialog::~SearchDialog() {
    // no callback may run once the members start to go; queued hand-offs die with this object
    session_->Close();
    context_.ReleaseCatalogue();
}

QAction* SearchDialog::AddWindowAction(const QString& text, const QKeySequence& shortcut,
                                       void (SearchDialog::*slot)()) {
    auto* action = new QAction(text, this);
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, slot);
    addAction(action);
    return action;
}

void SearchDialog::SizeColumns() {
    QFontMetrics metrics = list_->fontMetrics();
    const int padding = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list_) + 1) + 4;
    const int mark = style()->pixelMetric(QStyle::PM_SmallIconSize) + 4;
    for (int column = 0; column < FoundDeviceModel::kColumnCount; ++column) {
        int content = metrics.horizontalAdvance(QLatin1String(kColumnSamples[column])) + padding;
        if (HasMark(column)) {
            content += mark;
        }
        int heading = list_->horizontalHeader()->sectionSizeHint(column);
        list_->setColumnWidth(column, std::max({kColumnWidths[column], content, heading}));
    }
}

void SearchDialog::setVisible(bool visible) {
    if (visible && !initialised_) {
        initialised_ = true;
        InitDialog();
    }
    QDialog::setVisible(visible);
}

void SearchDialog::InitDialog() {
    if (DeviceCatalogue* catalogue = context_.Catalogue()) {
        catalogue->LoadAll();
    }
    MarkRegistered();
    StartSearch();
}

void SearchDialog::MarkRegistered() {
    session_->SetRegistered(RegisteredDevicesOf(context_.Catalogue()));
    // the rows whose mark changed wait in the session, which wakes the window only from its receiver thread
    QMetaObject::invokeMethod(this, &SearchDialog::TakePending, Qt::QueuedConnection);
}

void SearchDialog::StartSearch() {
    session_->Start();
    ShowStatus(session_->Status());
}

bool SearchDialog::EndpointOpen() const {
    return session_->IsOpen();
}

std::uint16_t SearchDialog::LocalPort() const {
    return session_->LocalPort();
}

int SearchDialog::ProbesSent() const {
    return probesOfEarlierRounds_ + static_cast<int>(session_->Status().probesSent);
}

QLabel* SearchDialog::StatusLine() const {
    return status_;
}

void SearchDialog::TakePending() {
    PendingRows pending = session_->TakePending(kMaxRowsPerBatch);
    if (pending.more) {
        QMetaObject::invokeMethod(this, &SearchDialog::TakePending, Qt::QueuedConnection);
    }
    SessionStatus status = session_->Status();
    if (!pending.rows.empty() || status.probesSent != model_->ProbeCount()) {
        PaceListPaint();
    }
    model_->SetProbeCount(status.probesSent);
    model_->Merge(pending.rows);
    ShowStatus(status);
}

void SearchDialog::PaceListPaint() {
    if (!listPaintHold_.isActive()) {
        listPaintHold_.start(kListPaintIntervalMs);  // this change is painted at once, the next ones wait
        return;
    }
    if (!listPaintHeld_) {
        listPaintHeld_ = true;
        list_->setUpdatesEnabled(false);
    }
}

void SearchDialog::OnListPaintDue() {
    if (!listPaintHeld_) {
        listPaintHold_.stop();
        return;
    }
    listPaintHeld_ = false;
    list_->setUpdatesEnabled(true);  // one paint of everything that changed meanwhile
}

void SearchDialog::ShowStatus(const SessionStatus& status) {
    QString text = QString::fromStdString(DescribeStatus(status));
    if (status.state == SearchState::kCannotOpen && status.problem.find("bind") != std::string::npos) {
        text += QStringLiteral(". Is another program using the port?");
    }
    status_->SetMessage(text);
}

void SearchDialog::Refresh() {
    probesOfEarlierRounds_ += static_cast<int>(session_->Status().probesSent);
    PaceListPaint();
    model_->Clear();
    StartSearch();
}

std::vector<SelectedRow> SearchDialog::SelectedRows() const {
    QModelIndexList selected = list_->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<SelectedRow> rows;
    rows.reserve(static_cast<std::size_t>(selected.size()));
    for (const QModelIndex& index : selected) {
        const FoundRow& row = model_->Row(sorted_->mapToSource(index).row());
        QStringList warnings;
        if (row.outsideAdapterSubnet) {
            warnings << QStringLiteral("outside the adapter's subnet");
        }
        if (row.senderMismatch) {
            warnings
                << QStringLiteral("answered from %1").arg(QString::fromStdString(DottedDecimal(row.senderAddress)));
        }
        rows.push_back(SelectedRow{QString::fromStdString(AddressText(row.device)),
                                   QString::fromStdString(PortText(row.device)), warnings.join(QStringLiteral(", "))});
    }
    return rows;
}

QString SearchDialog::SelectionText() const {
    QModelIndexList selected = list_->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return {};
    }
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    QStringList cells;
    for (int column = 0; column < FoundDeviceModel::kColumnCount; ++column) {
        cells << sorted_->headerData(column, Qt::Horizontal).toString();
    }
    lines << cells.join(QLatin1Char('\t'));
    for (const QModelIndex& index : selected) {
        cells.clear();
        for (int column = 0; column < FoundDeviceModel::kColumnCount; ++column) {
            cells << sorted_->index(index.row(), column).data().toString();
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void SearchDialog::CopySelection() {
    QString text = SelectionText();
    if (!text.isEmpty()) {
        QApplication::clipboard()->setText(text);
    }
}

void SearchDialog::SelectAll() {
    list_->selectAll();
    list_->setFocus();
}

void SearchDialog::SearchNetworks() {
    SearchNetworksDialog dialog(targets_, this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    std::string problem;
    if (!session_->SetTargets(dialog.Targets(), problem)) {
        ShowMessage(this, QString::fromStdString(problem), QStringLiteral("Search networks"));
        return;
    }
    targets_ = dialog.Targets();
    Refresh();
}

void SearchDialog::Export() {
    ExportFoundList(this, model_->Rows(), model_->ProbeCount());
}

void SearchDialog::OnAdd() {
    RunAddDeviceFlow(this, context_, [this] { return SelectedRows(); });
    MarkRegistered();
}

void SearchDialog::ShowDevices() {
    DevicesWindow window(context_, this);
    auto feed = [this, &window] { window.ShowAnswers(model_->Rows()); };
    feed();
    QList<QMetaObject::Connection> feeds{connect(model_, &QAbstractItemModel::rowsInserted, &window, feed),
                                         connect(model_, &QAbstractItemModel::dataChanged, &window, feed),
                                         connect(model_, &QAbstractItemModel::modelReset, &window, feed)};
    window.exec();
    for (const QMetaObject::Connection& connection : feeds) {
        disconnect(connection);
    }
    MarkRegistered();
}

void SearchDialog::ShowAbout() {
    AboutDialog about(this);
    about.exec();
}

bool SearchDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            OnAdd();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SearchDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(addAction_);
    menu.addAction(refreshAction_);
    menu.addSeparator();
    menu.addAction(copyAction_);
    menu.addAction(selectAllAction_);
    menu.addSeparator();
    menu.addAction(networksAction_);
    menu.addAction(exportAction_);
    menu.addAction(devicesAction_);
    menu.addSeparator();
    QString about = AboutMenuItemText(menu.font());
    if (!about.isEmpty()) {
        menu.addAction(about, this, &SearchDialog::ShowAbout);
    }
    menu.exec(event->globalPos());
}

}  // namespace vantrel
