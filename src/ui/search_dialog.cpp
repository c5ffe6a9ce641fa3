#include "ui/search_dialog.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "catalogue/device_catalogue.h"
#include "context/program_context.h"
#include "discovery/search_protocol.h"
#include "discovery/udp_broadcast_endpoint.h"
#include "ui/about_dialog.h"
#include "ui/dialog_units.h"
#include "ui/found_device_model.h"
#include "ui/resources.h"

namespace vantrel {

class SearchDialog::Receiver : public UdpBroadcastEndpoint {
public:
    Receiver(SearchDialog& owner, const SearchEndpointConfig& config)
        : UdpBroadcastEndpoint(config.destinationAddress, config.destinationPort, config.localAddress,
                               config.localPort),
          owner_(owner) {}
    ~Receiver() override { Close(); }

protected:
    void OnReceive(const unsigned char* data, std::size_t length, const sockaddr_in&) override {
        ReplyPayload payload{};
        if (decoder_.Decode(data, length, payload.data()) != 1) {
            return;
        }
        owner_.Enqueue(MakeFoundDevice(payload.data()));
    }

private:
    SearchDialog& owner_;
    ReplyDecoder decoder_;
};

namespace {

constexpr int kColumnWidths[] = {20, 120, 90, 120, 120};

}  // namespace

SearchDialog::SearchDialog(ProgramContext& context, QWidget* parent)
    : SearchDialog(context, SearchEndpointConfig(), parent) {}

SearchDialog::SearchDialog(ProgramContext& context, const SearchEndpointConfig& config, QWidget* parent)
    : QDialog(parent), context_(context) {
    setObjectName(QStringLiteral("searchDialog"));
    setWindowTitle(QStringLiteral("Vantrel"));
    setWindowIcon(ProgramIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    UseWindowBackground(this);

    model_ = new FoundDeviceModel(this);
    list_ = new QTableView(this);
    list_->setObjectName(QStringLiteral("deviceList"));
    list_->setModel(model_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setShowGrid(true);
    list_->setWordWrap(false);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    list_->horizontalHeader()->setHighlightSections(false);
    list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    list_->horizontalHeader()->setMinimumSectionSize(kColumnWidths[0]);
    for (int column = 0; column < FoundDeviceModel::kColumnCount; ++column) {
        list_->setColumnWidth(column, kColumnWidths[column]);
    }

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusLine"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    closeButton_ = new QPushButton(QStringLiteral("Close"), this);
    closeButton_->setObjectName(QStringLiteral("closeButton"));
    closeButton_->hide();
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
    addButton_ = new QPushButton(QStringLiteral("Add"), this);
    addButton_->setObjectName(QStringLiteral("addButton"));
    connect(addButton_, &QPushButton::clicked, this, &SearchDialog::OnAdd);
    refreshButton_ = new QPushButton(QStringLiteral("Refresh"), this);
    refreshButton_->setObjectName(QStringLiteral("refreshButton"));
    connect(refreshButton_, &QPushButton::clicked, this, &SearchDialog::Refresh);
    for (QPushButton* button : {closeButton_, addButton_, refreshButton_}) {
        button->setAutoDefault(false);
    }

    DialogUnits du(TemplateFont(font()));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(closeButton_);
    buttons->addWidget(addButton_);
    buttons->addWidget(refreshButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(du.X(5), du.Y(7), du.X(5), du.Y(5));
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    int listWidth = std::max(du.X(317), 20 + 120 + 90 + 120 + 120 + 2 * list_->frameWidth() + 20);
    resize(listWidth + du.X(10), du.Y(267));

    probeTimer_.setSingleShot(true);
    connect(&probeTimer_, &QTimer::timeout, this, &SearchDialog::OnProbeTimer);

    receiver_ = std::make_unique<Receiver>(*this, config);
    UpdateStatus();
}

SearchDialog::~SearchDialog() {
    probeTimer_.stop();
    // no entry may arrive once the members start to go; queued hand-offs die with this object
    receiver_->Close();
    context_.ReleaseCatalogue();
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
    OpenEndpoint();
    StartProbes();
}

void SearchDialog::OpenEndpoint() {
    if (receiver_->IsOpen()) {
        return;
    }
    if (receiver_->Open() == 1) {
        openError_.clear();
    } else {
        openError_ = QStringLiteral("Cannot search for devices: %1. Is another program using the port?")
                         .arg(QString::fromStdString(receiver_->LastErrorText()));
    }
    UpdateStatus();
}

bool SearchDialog::EndpointOpen() const {
    return receiver_->IsOpen();
}

std::uint16_t SearchDialog::LocalPort() const {
    return receiver_->LocalPort();
}

void SearchDialog::StartProbes() {
    nextProbe_ = 0;
    probeTimer_.stop();
    OnProbeTimer();
}

void SearchDialog::OnProbeTimer() {
    constexpr std::size_t kProbes = std::size(kProbeDelaysMs);
    if (nextProbe_ >= kProbes) {
        return;
    }
    SendProbe();
    ++nextProbe_;
    if (nextProbe_ < kProbes) {
        probeTimer_.start(kProbeDelaysMs[nextProbe_] - kProbeDelaysMs[nextProbe_ - 1]);
    }
}

void SearchDialog::SendProbe() {
    ++probesSent_;
    if (receiver_->IsOpen()) {
        SendSearchProbe(*receiver_);
    }
}

void SearchDialog::Enqueue(const FoundDevice& device) {
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pending_.push_back(device);
        post = !drainQueued_;
        drainQueued_ = true;
    }
    // one queued call per burst; the window's thread takes everything that has come by then
    if (post) {
        QMetaObject::invokeMethod(this, &SearchDialog::DrainPending, Qt::QueuedConnection);
    }
}

void SearchDialog::DrainPending() {
    std::vector<FoundDevice> arrived;
    bool more = false;
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        if (pending_.size() <= kMaxRowsPerBatch) {
            arrived.swap(pending_);
        } else {
            arrived.assign(pending_.begin(), pending_.begin() + kMaxRowsPerBatch);
            pending_.erase(pending_.begin(), pending_.begin() + kMaxRowsPerBatch);
        }
        more = !pending_.empty();
        drainQueued_ = more;
    }
    if (more) {
        QMetaObject::invokeMethod(this, &SearchDialog::DrainPending, Qt::QueuedConnection);
    }
    std::vector<FoundDevice> fresh;
    fresh.reserve(arrived.size());
    for (const FoundDevice& device : arrived) {
        if (listed_.insert(DeviceIdentityKey(device)).second) {
            fresh.push_back(device);
        }
    }
    if (!fresh.empty()) {
        model_->Append(fresh);
        FitNumberColumn();
        UpdateStatus();
    }
}

// The number column starts at its given 20 pixels and widens only when the row numbers would no longer fit.
void SearchDialog::FitNumberColumn() {
    const int kCellPadding = 8;
    int needed = list_->fontMetrics().horizontalAdvance(QString::number(model_->rowCount())) + kCellPadding;
    if (needed > list_->columnWidth(FoundDeviceModel::kNumber)) {
        list_->setColumnWidth(FoundDeviceModel::kNumber, needed);
    }
}

void SearchDialog::Refresh() {
    model_->Clear();
    listed_.clear();
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pending_.clear();
    }
    OpenEndpoint();
    UpdateStatus();
    StartProbes();
}

void SearchDialog::UpdateStatus() {
    if (!openError_.isEmpty()) {
        status_->setText(openError_);
        return;
    }
    int rows = model_->rowCount();
    status_->setText(rows == 1 ? QStringLiteral("1 device found") : QStringLiteral("%1 devices found").arg(rows));
}

std::vector<SelectedRow> SearchDialog::SelectedRows() const {
    QModelIndexList selected = list_->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<SelectedRow> rows;
    rows.reserve(static_cast<std::size_t>(selected.size()));
    for (const QModelIndex& index : selected) {
        rows.push_back(SelectedRow{model_->index(index.row(), FoundDeviceModel::kAddress).data().toString(),
                                   model_->index(index.row(), FoundDeviceModel::kPort).data().toString()});
    }
    return rows;
}

void SearchDialog::OnAdd() {
    RunAddDeviceFlow(this, context_, [this] { return SelectedRows(); });
}

void SearchDialog::ShowAbout() {
    AboutDialog about(this);
    about.exec();
}

void SearchDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("Add"), this, &SearchDialog::OnAdd);
    menu.addAction(QStringLiteral("Refresh"), this, &SearchDialog::Refresh);
    menu.addSeparator();
    QString about = AboutMenuItemText(menu.font());
    if (!about.isEmpty()) {
        menu.addAction(about, this, &SearchDialog::ShowAbout);
    }
    menu.exec(event->globalPos());
}

}  // namespace vantrel
