#include "ui/search_dialog.h"

#include <arpa/inet.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cstring>
#include <string_view>

#include "about_dialog.h"
#include "catalogue/device_catalogue.h"
#include "context/program_context.h"
#include "dialog_units.h"
#include "elided_label.h"
#include "found_list_export.h"
#include "records/text_field.h"
#include "resources.h"
#include "search_details_dialog.h"
#include "search_networks_dialog.h"
#include "ui/devices_window.h"
#include "ui/found_device_model.h"
#include "ui/messages.h"

namespace vantrel {
namespace {

// Each column's width in pixels as the window was first laid out, "NO" first. A column is made wider when its
// heading or the widest text it usually holds (kColumnSamples) needs more in the window's font; the texts of
// the names, models and places that devices give themselves are cut there, their tool tips hold them whole.
constexpr int kColumnWidths[FoundDeviceModel::kColumnCount] = {20,  120, 90,  120, 120, 80,  80,  60, 80,
                                                               120, 80,  120, 120, 120, 120, 120, 120};
const char* const kColumnSamples[FoundDeviceModel::kColumnCount] = {"65536",
                                                                    "255.255.255.255",
                                                                    "65535",
                                                                    "255.255.255.255",
                                                                    "255.255.255.255",
                                                                    "Yes",
                                                                    "enp0s31f6",
                                                                    "99 of 99",
                                                                    "00:00:00",
                                                                    "255.255.255.255",
                                                                    "native, ONVIF",
                                                                    "Entrance East",
                                                                    "DS-2CD2143G2",
                                                                    "building/floor2",
                                                                    "00:00:00:00:00:00",
                                                                    "Hikvision Digital",
                                                                    "255.255.255.255"};

bool HasMark(int column) {
    return column == FoundDeviceModel::kRegistered || column == FoundDeviceModel::kAdapter ||
           column == FoundDeviceModel::kSender || column == FoundDeviceModel::kSubnetMask ||
           column == FoundDeviceModel::kSenders;
}

bool Registrable(const FoundRow& row) {
    return row.Answered(kProtocolNative) && row.portKnown;
}

// What Add asks about before registering a row: a device that cannot be reached where it is, or whose reply
// came from another host.
QString WarningText(const FoundRow& row) {
    QStringList warnings;
    if (row.outsideAdapterSubnet) {
        warnings << QStringLiteral("outside the adapter's subnet");
    }
    if (row.senderMismatch) {
        warnings << QStringLiteral("answered from %1").arg(QString::fromStdString(DottedDecimal(row.senderAddress)));
    }
    return warnings.join(QStringLiteral(", "));
}

}  // namespace

std::shared_ptr<RegisteredDevices> RegisteredDevicesOf(const DeviceCatalogue* catalogue) {
    auto registered = std::make_shared<RegisteredDevices>();
    if (catalogue != nullptr) {
        registered->Reserve(catalogue->DevicesById().size());
        for (const auto& entry : catalogue->DevicesById()) {
            const DeviceRecord& record = *entry.second;
            registered->Add(FieldText(record.host, sizeof record.host).value_or(""), record.port);
            registered->AddName(FieldText(record.name, sizeof record.name).value_or(""));
        }
    }
    return registered;
}

SearchDialog::SearchDialog(ProgramContext& context, QWidget* parent)
    : SearchDialog(context, SearchSessionOptions(), parent) {}

SearchDialog::SearchDialog(ProgramContext& context, SearchSessionOptions options, QWidget* parent)
    : QDialog(parent),
      context_(context),
      settings_(context.Paths().dataFolder),
      session_(std::make_unique<SearchSession>(options)) {
    probeOptions_.nativePort = options.addresses.destinationPort;
    probeOptions_.wsDiscoveryPort = options.wsDiscoveryPort;
    setObjectName(QStringLiteral("searchDialog"));
    setWindowTitle(QStringLiteral("Vantrel"));
    setWindowIcon(ProgramIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    UseWindowBackground(this);
    BuildList();
    BuildButtons();
    BuildActions();
    BuildColumnMenu();
    BuildLayout();
    addressProbe_ = new QFutureWatcher<AddressProbeResult>(this);
    connect(addressProbe_, &QFutureWatcherBase::finished, this, &SearchDialog::OnAddressProbed);

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

void SearchDialog::BuildList() {
    model_ = new FoundDeviceModel(this);
    model_->setObjectName(QStringLiteral("foundDevices"));
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
    columns->setStretchLastSection(true);  // no empty strip right of the last column in a wide window
    // arrival order until the operator picks a column; a third click on it returns there
    columns->setSortIndicatorClearable(true);
    columns->setSortIndicator(-1, Qt::AscendingOrder);
    list_->setSortingEnabled(true);
    SizeColumns();
}

void SearchDialog::BuildButtons() {
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
    devicesButton_ = new QPushButton(QString::fromUtf8("De&vices\u2026"), this);
    devicesButton_->setObjectName(QStringLiteral("devicesButton"));
    connect(devicesButton_, &QPushButton::clicked, this, &SearchDialog::ShowDevices);
    for (QPushButton* button : {closeButton_, addButton_, refreshButton_, devicesButton_}) {
        button->setAutoDefault(false);
    }
    setTabOrder(list_, addButton_);
    setTabOrder(addButton_, refreshButton_);
    setTabOrder(refreshButton_, devicesButton_);
}

// The context menu's letters are its own: the about item keeps the A that string 101 gives it.
void SearchDialog::BuildActions() {
    listMenu_ = new QMenu(this);
    listMenu_->setObjectName(QStringLiteral("listMenu"));
    listMenu_->addAction(AddWindowAction("addAction", QStringLiteral("A&dd"), QKeySequence(), &SearchDialog::OnAdd));
    listMenu_->addAction(
        AddWindowAction("refreshAction", QStringLiteral("&Refresh"), QKeySequence(Qt::Key_F5), &SearchDialog::Refresh));
    listMenu_->addAction(AddWindowAction("devicesAction", QString::fromUtf8("De&vices\u2026"),
                                         QKeySequence(Qt::CTRL | Qt::Key_D), &SearchDialog::ShowDevices));
    listMenu_->addSeparator();
    listMenu_->addAction(
        AddWindowAction("copyAction", QStringLiteral("&Copy"), QKeySequence::Copy, &SearchDialog::CopySelection));
    listMenu_->addAction(AddWindowAction("selectAllAction", QStringLiteral("&Select all"), QKeySequence::SelectAll,
                                         &SearchDialog::SelectAll));
    listMenu_->addSeparator();
    listMenu_->addAction(AddWindowAction("searchNetworksAction", QString::fromUtf8("Search &networks\u2026"),
                                         QKeySequence(Qt::CTRL | Qt::Key_N), &SearchDialog::SearchNetworks));
    listMenu_->addAction(AddWindowAction("exportAction", QString::fromUtf8("&Export\u2026"),
                                         QKeySequence(Qt::CTRL | Qt::Key_E), &SearchDialog::Export));
    listMenu_->addSeparator();
    listMenu_->addAction(AddWindowAction("detailsAction", QString::fromUtf8("Search de&tails\u2026"), QKeySequence(),
                                         &SearchDialog::ShowDetails));
    listMenu_->addAction(AddWindowAction("probeAddressAction", QString::fromUtf8("&Probe address\u2026"),
                                         QKeySequence(), &SearchDialog::ProbeOneAddress));
    const QString about = AboutMenuItemText(listMenu_->font());
    if (!about.isEmpty()) {
        listMenu_->addSeparator();
        QAction* aboutAction = listMenu_->addAction(about, this, &SearchDialog::ShowAbout);
        aboutAction->setObjectName(QStringLiteral("aboutAction"));
    }
}

QAction* SearchDialog::AddWindowAction(const char* name, const QString& text, const QKeySequence& shortcut,
                                       void (SearchDialog::*slot)()) {
    auto* action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setShortcutVisibleInContextMenu(true);
    connect(action, &QAction::triggered, this, slot);
    addAction(action);
    return action;
}

void SearchDialog::BuildColumnMenu() {
    QHeaderView* header = list_->horizontalHeader();
    columnMenu_ = new QMenu(this);
    columnMenu_->setObjectName(QStringLiteral("columnMenu"));
    const QStringList hidden = settings_.HiddenColumns();
    for (int column = FoundDeviceModel::kPort; column < FoundDeviceModel::kColumnCount; ++column) {
        const QString heading = model_->headerData(column, Qt::Horizontal).toString();
        QAction* action = columnMenu_->addAction(heading);
        action->setCheckable(true);
        action->setChecked(!hidden.contains(heading));
        list_->setColumnHidden(column, hidden.contains(heading));
        connect(action, &QAction::toggled, this, [this, column](bool shown) { ShowColumn(column, shown); });
    }
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this,
            [this, header](const QPoint& at) { columnMenu_->exec(header->mapToGlobal(at)); });
}

void SearchDialog::ShowColumn(int column, bool shown) {
    list_->setColumnHidden(column, !shown);
    QStringList hidden;
    for (int other = 0; other < FoundDeviceModel::kColumnCount; ++other) {
        if (list_->isColumnHidden(other)) {
            hidden << model_->headerData(other, Qt::Horizontal).toString();
        }
    }
    settings_.SetHiddenColumns(hidden);
}

void SearchDialog::BuildLayout() {
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
        listWidth += list_->isColumnHidden(column) ? 0 : list_->columnWidth(column);
    }
    int width = std::max(du.X(317), listWidth) + du.X(10);
    if (QScreen* shownOn = screen()) {
        width = std::min(width, shownOn->availableGeometry().width() * 9 / 10);
    }
    resize(width, du.Y(267));
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
    RestoreNetworks();
    StartSearch();
    // while the search runs the store has time to make the first Add's save quicker; not before the window is
    // painted, which it would slow
    constexpr int kPrepareAfterMs = 500;
    QTimer::singleShot(kPrepareAfterMs, this, [this] {
        if (DeviceStore* store = context_.Store()) {
            store->PrepareSaves();
        }
    });
}

// Networks remembered for this data folder; a list that no longer parses (edited by hand) is left unused.
void SearchDialog::RestoreNetworks() {
    std::vector<SearchTarget> remembered;
    QString problem;
    std::string refused;
    if (ParseSearchTargets(settings_.SearchNetworks(), remembered, problem) && !remembered.empty() &&
        session_->SetTargets(remembered, refused)) {
        targets_ = std::move(remembered);
    }
}

void SearchDialog::MarkRegistered() {
    session_->SetRegistered(RegisteredDevicesOf(context_.Catalogue()));
    // the rows whose mark changed wait in the session, which wakes the window only from its receiver thread
    QMetaObject::invokeMethod(this, &SearchDialog::TakePending, Qt::QueuedConnection);
}

void SearchDialog::StartSearch() {
    notice_.clear();
    session_->Start();
    ShowStatus(session_->Status());
    emit SearchStarted();
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
    QString text = WithSearchedNetworks(QString::fromStdString(DescribeStatus(status)), targets_);
    if (status.state == SearchState::kCannotOpen && status.problem.find("bind") != std::string::npos) {
        text += QStringLiteral(". Is another program using the port?");
    }
    if (!notice_.isEmpty()) {
        text += QStringLiteral("; ") + notice_;
    }
    status_->SetMessage(text);
}

void SearchDialog::Refresh() {
    PaceListPaint();
    model_->Clear();
    StartSearch();
}

std::vector<const FoundRow*> SearchDialog::RowsAsShown(bool selectedOnly) const {
    std::vector<int> viewRows;
    if (selectedOnly) {
        for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
            viewRows.push_back(index.row());
        }
        std::sort(viewRows.begin(), viewRows.end());
    } else {
        for (int row = 0; row < sorted_->rowCount(); ++row) {
            viewRows.push_back(row);
        }
    }
    std::vector<const FoundRow*> rows;
    rows.reserve(viewRows.size());
    for (int row : viewRows) {
        rows.push_back(&model_->Row(sorted_->mapToSource(sorted_->index(row, 0)).row()));
    }
    return rows;
}

std::vector<SelectedRow> SearchDialog::SelectedRows() const {
    std::vector<SelectedRow> rows;
    for (const FoundRow* row : RowsAsShown(true)) {
        if (Registrable(*row)) {
            rows.push_back(SelectedRow{QString::fromStdString(AddressText(row->device)),
                                       QString::fromStdString(PortText(row->device)), WarningText(*row)});
        }
    }
    return rows;
}

QString SearchDialog::SelectionText() const {
    const std::vector<const FoundRow*> rows = RowsAsShown(true);
    if (rows.empty()) {
        return {};
    }
    std::vector<int> shown;
    QStringList cells;
    for (int column = 0; column < FoundDeviceModel::kColumnCount; ++column) {
        if (!list_->isColumnHidden(column)) {
            shown.push_back(column);
            cells << model_->headerData(column, Qt::Horizontal).toString();
        }
    }
    QStringList lines = {cells.join(QLatin1Char('\t'))};
    for (const FoundRow* row : rows) {
        const int at = static_cast<int>(row - model_->Rows().data());
        cells.clear();
        for (int column : shown) {
            cells << model_->index(at, column).data(FoundDeviceModel::kCopyRole).toString();
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
    settings_.SetSearchNetworks(SearchTargetsText(targets_));
    Refresh();
}

void SearchDialog::Export() {
    std::vector<FoundRow> rows;
    for (const FoundRow* row : RowsAsShown(false)) {
        rows.push_back(*row);
    }
    ExportOutcome outcome = ExportFoundList(this, settings_, rows, model_->ProbeCount());
    if (outcome.written) {
        const QString file = QDir::toNativeSeparators(outcome.fileName);
        notice_ = rows.size() == 1 ? QStringLiteral("1 device written to %1").arg(file)
                                   : QStringLiteral("%1 devices written to %2").arg(rows.size()).arg(file);
        ShowStatus(session_->Status());
    }
}

// A device that answered ONVIF only has no port of its own to register; Add leaves it out and says why.
void SearchDialog::OnAdd() {
    const std::vector<const FoundRow*> selected = RowsAsShown(true);
    const auto onvifOnly = static_cast<std::size_t>(
        std::count_if(selected.begin(), selected.end(), [](const FoundRow* row) { return !Registrable(*row); }));
    if (onvifOnly > 0 && onvifOnly == selected.size()) {
        ShowMessage(this,
                    QStringLiteral("The selected devices answer ONVIF only: the port to register them with is not "
                                   "known. Add registers devices that answer the search on port 5050."),
                    QStringLiteral("Add"));
        return;
    }
    RunAddDeviceFlow(this, context_, [this] { return SelectedRows(); });
    if (onvifOnly > 0) {
        notice_ = QStringLiteral("%1 left out of Add: answers ONVIF only").arg(onvifOnly);
        ShowStatus(session_->Status());
    }
    MarkRegistered();
}

void SearchDialog::ShowDevices() {
    DevicesWindow window(context_, this);
    auto feed = [this, &window] { window.ShowAnswers(model_->Rows()); };
    feed();
    const QList<QMetaObject::Connection> feeds{connect(model_, &QAbstractItemModel::rowsInserted, &window, feed),
                                               connect(model_, &QAbstractItemModel::dataChanged, &window, feed),
                                               connect(model_, &QAbstractItemModel::modelReset, &window, feed)};
    window.exec();
    for (const QMetaObject::Connection& connection : feeds) {
        disconnect(connection);
    }
    MarkRegistered();
}

void SearchDialog::ShowAbout() {
    AboutDialog about(context_.Paths(), this);
    about.exec();
}

void SearchDialog::ShowDetails() {
    SearchDetailsDialog details([this] { return session_->Status(); }, this);
    details.exec();
}

void SearchDialog::ProbeOneAddress() {
    if (addressProbe_->isRunning()) {
        return;
    }
    const std::vector<const FoundRow*> selected = RowsAsShown(true);
    QInputDialog ask(this);
    ask.setObjectName(QStringLiteral("probeAddressDialog"));
    ask.setWindowTitle(QStringLiteral("Probe Address"));
    ask.setLabelText(QStringLiteral("&Address to send both probes to:"));
    ask.setTextValue(selected.empty() ? QString() : QString::fromStdString(AddressText(selected.front()->device)));
    if (ask.exec() != QDialog::Accepted) {
        return;
    }
    const QString text = ask.textValue().trimmed();
    in_addr address{};
    if (inet_pton(AF_INET, text.toLatin1().constData(), &address) != 1) {
        ShowMessage(this, QStringLiteral("%1 is not an IPv4 address such as 192.168.1.108.").arg(text),
                    QStringLiteral("Probe address"));
        return;
    }
    probedAddress_ = address.s_addr;
    notice_ = QString::fromUtf8("probing %1\u2026").arg(text);
    ShowStatus(session_->Status());
    // on a worker: it waits for the answers; it shares nothing with this window but the values it is given
    addressProbe_->setFuture(QtConcurrent::run(
        [target = address.s_addr, options = probeOptions_] { return ProbeAddress(target, options); }));
}

void SearchDialog::OnAddressProbed() {
    notice_ =
        QString::fromStdString(DescribeAddressProbe(probedAddress_, addressProbe_->result(), probeOptions_.timeoutMs));
    ShowStatus(session_->Status());
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
    listMenu_->exec(event->globalPos());
}

}  // namespace vantrel
