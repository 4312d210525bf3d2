#include "wifi_ui/connected_device_view.h"

#include "platform/app_paths.h"
#include "ui_common/file_manager.h"
#include "ui_common/plain_text_tooltip.h"
#include "ui_common/symbol_icon.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/wifi_peer_registry.h"
#include "wifi_ui/phone_page_delegate.h"
#include "wifi_ui/phone_page_model.h"
#include "wifi_ui/send_to_phone_sheet.h"
#include "wifi_ui/wifi_formatters.h"
#include "wifi_ui/wifi_pairing_prompt_view.h"
#include "wifi_ui/wifi_ui_style.h"

#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace qb {

using namespace wifiui;

namespace {

// One line of plain text that is cut with an ellipsis to the width it gets; the whole text is
// its tooltip. It asks for room for the first few characters, so that a cut name still says
// which phone it is.
class ElidedLabel : public QLabel
{
public:
    static constexpr int readableCharacters = 8;

    explicit ElidedLabel(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }
    void setFullText(const QString& text)
    {
        m_full = text;
        setPlainTextToolTip(this, text);
        updateGeometry();
        elide();
    }
    QSize sizeHint() const override
    {
        return {fontMetrics().horizontalAdvance(m_full) + 2, QLabel::sizeHint().height()};
    }
    QSize minimumSizeHint() const override
    {
        const QString shortest = m_full.size() <= readableCharacters
                                     ? m_full
                                     : m_full.left(readableCharacters) + QChar(0x2026);
        return {std::min(fontMetrics().horizontalAdvance(shortest) + 2, sizeHint().width()),
                QLabel::minimumSizeHint().height()};
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(fontMetrics().elidedText(m_full, Qt::ElideRight, width())); }

    QString m_full;
};

// The page's header. The buttons sit beside the phone's name where both fit and move to a line
// of their own under it where they do not, so that a narrow pane still shows whose page it is.
// It asks only for the room of the two-line form: asking for the one-line form would keep the
// pane from ever getting narrow enough to switch.
class PageHeader : public QWidget
{
public:
    explicit PageHeader(QWidget* parent) : QWidget(parent)
    {
        m_lines = new QVBoxLayout(this);
        m_lines->setContentsMargins(20, 20, 20, 20);
        m_lines->setSpacing(12);
        m_top = new QHBoxLayout;
        m_top->setSpacing(16);
        m_lines->addLayout(m_top);
        m_buttons = new QWidget(this);
        auto* buttons = new QHBoxLayout(m_buttons);
        buttons->setContentsMargins(0, 0, 0, 0);
        buttons->setSpacing(16);
    }

    QHBoxLayout* top() const { return m_top; }
    QHBoxLayout* buttons() const { return static_cast<QHBoxLayout*>(m_buttons->layout()); }
    // Call once the rows are filled.
    void place() { m_top->addWidget(m_buttons); }

    QSize minimumSizeHint() const override
    {
        return {across() + std::max(besideButtons(), m_buttons->minimumSizeHint().width()),
                QWidget::minimumSizeHint().height()};
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        const int oneLine =
            across() + besideButtons() + m_top->spacing() + m_buttons->sizeHint().width();
        placeButtons(width() >= oneLine);
    }

private:
    int across() const
    {
        const QMargins margins = m_lines->contentsMargins();
        return margins.left() + margins.right();
    }
    // The least width of the avatar and the name beside it.
    int besideButtons() const
    {
        int width = 0;
        int items = 0;
        for (int i = 0; i < m_top->count(); ++i) {
            QLayoutItem* item = m_top->itemAt(i);
            if (item->widget() == m_buttons)
                continue;
            width += item->minimumSize().width();
            ++items;
        }
        return width + std::max(0, items - 1) * m_top->spacing();
    }

    void placeButtons(bool beside)
    {
        if (beside == m_beside)
            return;
        m_beside = beside;
        m_top->removeWidget(m_buttons);
        m_lines->removeWidget(m_buttons);
        if (beside)
            m_top->addWidget(m_buttons);
        else
            m_lines->addWidget(m_buttons, 0, Qt::AlignRight);
        updateGeometry();
    }

    QVBoxLayout* m_lines;
    QHBoxLayout* m_top;
    QWidget* m_buttons;
    bool m_beside = true;
};

} // namespace

ConnectedDeviceView::ConnectedDeviceView(const WiFiRegistries& registries, const WiFiPeer& peer,
                                         QWidget* parent)
    : QWidget(parent), m_registries(registries), m_peer(peer)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildHeader());
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    m_model = new PhonePageModel(m_registries, m_peer.host, m_peer.name, this);
    m_list = new PhonePageListView(this);
    m_list->setItemDelegate(new PhonePageDelegate(m_list));
    m_list->setModel(m_model);
    m_list->setAccessibleName(tr("Files waiting for the phone and activity"));
    layout->addWidget(m_list, 1);

    connect(m_list, &PhonePageListView::entrySelected, this, [this](const QModelIndex& index) {
        if (const auto entry = entryAt(index))
            m_model->setSelectedFileID(entry->id());
    });
    connect(m_list, &PhonePageListView::entryOpened, this, [this](const QModelIndex& index) {
        if (const auto entry = entryAt(index))
            openFile(*entry);
    });
    connect(m_list, &PhonePageListView::buttonClicked, this, [this](const QModelIndex& index) {
        const PhonePageRow& row = m_model->row(index.row());
        if (row.kind == PhonePageRow::Kind::PendingFile)
            cancelPending(row.pending().id);
        else if (row.kind == PhonePageRow::Kind::Activity)
            revealInFileManager(row.entry());
    });
    connect(m_list, &PhonePageListView::entryMenuRequested, this,
            &ConnectedDeviceView::showEntryMenu);
}

ConnectedDeviceView::~ConnectedDeviceView() = default;

SendToPhoneSheet* ConnectedDeviceView::sendSheet() const
{
    return m_sendSheet;
}

QWidget* ConnectedDeviceView::buildHeader()
{
    auto* header = new PageHeader(this);
    QHBoxLayout* row = header->top();
    row->addWidget(new PhoneAvatar(56, 26, header));

    auto* who = new QVBoxLayout;
    who->setSpacing(4);
    auto* nameLine = new QHBoxLayout;
    nameLine->setSpacing(6);
    auto* name = new ElidedLabel(header);
    name->setFont(textFont(TextStyle::Title3, QFont::DemiBold));
    nameLine->addWidget(name);
    m_name = name;
    auto* shield = new QLabel(header);
    shield->setPixmap(tintedSymbol(QStringLiteral("checkmark.shield.fill"), 14, systemGreen(),
                                   devicePixelRatioF()));
    shield->setAccessibleName(tr("Paired"));
    nameLine->addWidget(shield);
    nameLine->addStretch(1);
    who->addLayout(nameLine);
    auto* host = new ElidedLabel(header);
    host->setFont(textFont(TextStyle::Callout));
    QPalette dim = host->palette();
    dim.setColor(QPalette::WindowText, secondaryText(dim.color(QPalette::WindowText)));
    host->setPalette(dim);
    who->addWidget(host);
    m_host = host;
    row->addLayout(who, 1);
    QHBoxLayout* actions = header->buttons();

    auto* send =
        new QPushButton(symbolIcon(QStringLiteral("paperplane.fill")), tr("Send to Phone"), header);
    send->setDefault(true);
    connect(send, &QPushButton::clicked, this, &ConnectedDeviceView::sendFilesToPhone);
    actions->addWidget(send);
    auto* open = new QPushButton(symbolIcon(QStringLiteral("folder")), tr("Open Folder"), header);
    connect(open, &QPushButton::clicked, this, &ConnectedDeviceView::openReceiveFolder);
    actions->addWidget(open);

    auto* more = new QToolButton(header);
    more->setIcon(symbolIcon(QStringLiteral("ellipsis.circle")));
    more->setIconSize(QSize(20, 20));
    more->setAutoRaise(true);
    more->setPopupMode(QToolButton::InstantPopup);
    more->setToolTip(tr("More"));
    more->setAccessibleName(tr("More"));
    auto* menu = new QMenu(more);
    menu->addAction(symbolIcon(QStringLiteral("arrow.triangle.2.circlepath")),
                    tr("Reconnect (new PIN)"), this, &ConnectedDeviceView::confirmReconnect);
    // Forgetting acts at once, without a question.
    menu->addAction(symbolIcon(QStringLiteral("trash")), tr("Forget Device"), this,
                    [this] { applyPeerAction(PeerAction::Forget); });
    more->setMenu(menu);
    actions->addWidget(more);
    header->place();

    setPeer(m_peer);
    return header;
}

void ConnectedDeviceView::setPeer(const WiFiPeer& peer)
{
    m_peer = peer;
    static_cast<ElidedLabel*>(m_name)->setFullText(singleLine(peer.name));
    static_cast<ElidedLabel*>(m_host)->setFullText(
        singleLine(peer.host) + QStringLiteral(" \u2022 ") + tr("Connected via Wi-Fi"));
    if (m_model != nullptr) {
        m_model->setHost(peer.host);
        m_model->setPeerName(peer.name);
    }
    if (m_sendSheet)
        m_sendSheet->setPeer(peer);
}

void ConnectedDeviceView::sendFilesToPhone()
{
    auto* dialog = new QFileDialog(this, tr("Send to ") + singleLine(m_peer.name));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, tr("Send"));
    connect(dialog, &QFileDialog::filesSelected, this, &ConnectedDeviceView::queueFiles);
    dialog->open();
}

void ConnectedDeviceView::queueFiles(const QStringList& paths)
{
    if (paths.isEmpty() || m_sendSheet)
        return;
    PendingOutgoingFilesRegistry& pending = *m_registries.pending;
    // The ids before and after tell exactly which files this send queued, whatever else waits.
    QSet<QUuid> before;
    for (const PendingOutgoingFile& file : pending.files())
        before.insert(file.id);
    for (const QString& path : paths)
        pending.enqueue(QUrl::fromLocalFile(path), m_peer.host, m_peer.token.value_or(QString()));
    QSet<QUuid> tracked;
    for (const PendingOutgoingFile& file : pending.files()) {
        if (!before.contains(file.id))
            tracked.insert(file.id);
    }
    if (tracked.isEmpty())
        return;
    m_sendSheet = new SendToPhoneSheet(pending, m_peer, tracked, this);
    connect(m_sendSheet, &QDialog::finished, this, [this] {
        if (m_sendSheet)
            m_sendSheet->deleteLater();
        m_sendSheet = nullptr;
    });
    m_sendSheet->open();
}

QString ConnectedDeviceView::receiveFolder()
{
    return AppPaths::receivedFilesFolder();
}

void ConnectedDeviceView::openReceiveFolder()
{
    const QString folder = receiveFolder();
    // The server creates the folder with the first upload; until then there is nothing to open.
    if (QFileInfo::exists(folder))
        FileManager::shared().open(folder);
}

void ConnectedDeviceView::applyPeerAction(PeerAction action)
{
    // The registry's change may take this page away; its owner deletes it later, not now.
    const QString host = m_peer.host;
    if (action == PeerAction::Reconnect)
        m_registries.peers->regeneratePIN(host);
    else
        m_registries.peers->remove(host);
}

void ConnectedDeviceView::confirmReconnect()
{
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Question);
    box->setTextFormat(Qt::PlainText);
    box->setText(tr("Reconnect to ") + singleLine(m_peer.name) + QStringLiteral("?"));
    box->setInformativeText(tr("This generates a new PIN and clears the previous pairing. The "
                               "phone will need to enter the new PIN to reconnect."));
    QPushButton* reconnect = box->addButton(tr("Reconnect"), QMessageBox::DestructiveRole);
    // Return must not clear the pairing by itself: the question starts on Cancel.
    QPushButton* cancel = box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    connect(reconnect, &QPushButton::clicked, this,
            [this] { applyPeerAction(PeerAction::Reconnect); });
    box->open();
}

void ConnectedDeviceView::cancelPending(const QUuid& id)
{
    m_registries.pending->cancel(id);
}

void ConnectedDeviceView::openFile(const TransferEntry& entry)
{
    FileManager::shared().open(entry.url().toLocalFile());
}

void ConnectedDeviceView::revealInFileManager(const TransferEntry& entry)
{
    FileManager::shared().showItem(entry.url().toLocalFile());
}

void ConnectedDeviceView::copyPath(const TransferEntry& entry)
{
    QGuiApplication::clipboard()->setText(entry.url().toLocalFile());
}

std::optional<TransferEntry> ConnectedDeviceView::entryAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.row() >= m_model->rowCount())
        return std::nullopt;
    const PhonePageRow& row = m_model->row(index.row());
    if (row.kind != PhonePageRow::Kind::Activity)
        return std::nullopt;
    return row.entry();
}

void ConnectedDeviceView::showEntryMenu(const QModelIndex& index, const QPoint& globalPos)
{
    const auto entry = entryAt(index);
    if (!entry)
        return;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("Open"), this, [this, e = *entry] { openFile(e); });
    menu->addAction(tr("Show in File Manager"), this,
                    [this, e = *entry] { revealInFileManager(e); });
    menu->addSeparator();
    menu->addAction(tr("Copy Path"), this, [this, e = *entry] { copyPath(e); });
    menu->popup(globalPos);
}

} // namespace qb
