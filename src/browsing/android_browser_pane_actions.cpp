// The phone pane's file actions: each change of the phone becomes jobs of the transfer queue;
// only renaming asks the phone directly. They act only while the phone's files are on screen:
// from the Wi-Fi page, the guide or "No Storage Found" they would reach files the user cannot
// see, so there they do nothing.
#include "browsing/android_browser_pane.h"

#include "browsing/file_browser_list.h"
#include "browsing/phone_pane_drop_handler.h"
#include "browsing/phone_pane_toolbar.h"
#include "browsing/phone_paste.h"
#include "browsing/rename_sheet.h"
#include "core/device/device_list_view_model.h"
#include "core/device/rename_file_use_case.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "platform/when_finished.h"
#include "ui_common/command_bus.h"
#include "ui_common/text_styles.h"

#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

void AndroidBrowserPane::downloadSelected()
{
    // Jobs name the phone whose folder is on screen, whatever the sidebar selects by now.
    const QString deviceId = m_browser.deviceId();
    if (!filesOnScreen() || !m_context.transfers)
        return;
    const QList<TransferJob> jobs = PhoneFileActions::downloadJobs(
        deviceId, m_browser.visibleSelectedItems(),
        PhoneFileActions::downloadFolder(m_context.preferences), m_browser.attachment());
    m_context.transfers->enqueue(jobs);
    m_browser.setSelectedItemIDs({});
    CommandBus::shared().post(Notifications::showTransferQueue);
}

void AndroidBrowserPane::confirmDelete(const FileItem& item)
{
    if (!filesOnScreen())
        return;
    QSet<QString> ids = m_browser.selectedItemIDs();
    ids.insert(item.id);
    m_browser.setSelectedItemIDs(ids);
    requestDeleteSelected();
}

void AndroidBrowserPane::requestDeleteSelected()
{
    // The question counts exactly the items that will be deleted: the selected ones listed on
    // screen, as they stand now. One hidden by the search is not deleted unseen.
    if (!filesOnScreen())
        return;
    const QList<FileItem> items = m_browser.visibleSelectedItems();
    auto* box = new QMessageBox(this);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(tr("Delete %1 item(s)?").arg(items.size()));
    box->setText(tr("Delete %1 item(s)?").arg(items.size()));
    box->setInformativeText(tr("This action cannot be undone."));
    QPushButton* remove = box->addButton(tr("Delete"), QMessageBox::DestructiveRole);
    setDestructiveColour(remove);
    QPushButton* cancel = box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    // The items are that phone's: should another phone's folder be listed by the time the
    // answer comes, the same object ids would name other files.
    connect(remove, &QPushButton::clicked, this,
            [this, items, deviceId = m_browser.deviceId(), attachment = m_browser.attachment()] {
                if (m_browser.deviceId() == deviceId && m_browser.attachment() == attachment)
                    deleteSelected(items);
            });
    present(box);
}

void AndroidBrowserPane::deleteSelected(const QList<FileItem>& items)
{
    const QString deviceId = m_browser.deviceId();
    if (!filesOnScreen() || !m_context.transfers)
        return;
    m_context.transfers->enqueue(
        PhoneFileActions::deleteJobs(deviceId, items, m_browser.attachment()));
    m_browser.setSelectedItemIDs({});
}

void AndroidBrowserPane::showCreateFolder()
{
    if (!filesOnScreen())
        return;
    auto* dialog = new QDialog(this);
    dialog->setWindowTitle(tr("New Folder"));
    auto* layout = new QVBoxLayout(dialog);
    auto* title = new QLabel(tr("New Folder"), dialog);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    auto* field = new QLineEdit(m_newFolderName, dialog);
    field->setPlaceholderText(tr("Folder name"));
    field->setAccessibleName(tr("Folder name"));
    layout->addWidget(field);
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* create = buttons->addButton(tr("Create"), QDialogButtonBox::AcceptRole);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    create->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    // The field's text stays for the next showing unless a folder was created.
    connect(field, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_newFolderName = text; });
    // The folder goes where the sheet was opened: should the pane list another phone or another
    // folder by the time it is confirmed, creating it there would surprise the user.
    connect(dialog, &QDialog::accepted, this,
            [this, field, deviceId = m_browser.deviceId(), attachment = m_browser.attachment(),
             folder = m_browser.currentFolderPath()] {
                if (m_browser.deviceId() == deviceId && m_browser.attachment() == attachment &&
                    m_browser.currentFolderPath() == folder)
                    createFolder(field->text());
            });
    present(dialog);
}

void AndroidBrowserPane::createFolder(const QString& name)
{
    m_newFolderName = name;
    if (!filesOnScreen())
        return;
    const std::optional<TransferJob> job = PhoneFileActions::createFolderJob(
        m_browser.deviceId(), m_browser.currentFolderPath(), name, m_browser.attachment());
    if (!job || !m_context.transfers)
        return;
    m_context.transfers->enqueue(*job);
    m_newFolderName.clear();
}

void AndroidBrowserPane::copySelection()
{
    if (!filesOnScreen())
        return;
    m_clipboardItems = m_browser.visibleSelectedItems();
    m_clipboardDeviceId = m_browser.deviceId();
    m_clipboardAttachment = m_browser.attachment();
    m_phoneItemsCopiedLast = true;
}

bool AndroidBrowserPane::pasteAvailable() const
{
    if (!m_clipboardItems.isEmpty())
        return true;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data != nullptr && DropContent::from(*data).hasFileUrls();
}

void AndroidBrowserPane::pasteClipboardItems()
{
    const QString deviceId = m_browser.deviceId();
    if (!filesOnScreen() || m_browser.breadcrumbs().isEmpty() || !m_context.transfers)
        return;
    const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
    if (!m_phoneItemsCopiedLast && clipboard != nullptr && clipboard->hasUrls() && m_dropHandler) {
        // Only the URLs: whatever else another program put beside them is no drop of ours.
        QMimeData files;
        files.setUrls(clipboard->urls());
        if (m_dropHandler->handleDrop(files, Qt::NoModifier))
            return;
    }
    if (m_clipboardItems.isEmpty())
        return;
    PhonePaste::start(*m_context.transfers, m_clipboardItems, m_clipboardDeviceId,
                      m_clipboardAttachment,
                      {deviceId, m_browser.currentFolderPath(), m_browser.attachment()}, this);
    CommandBus::shared().post(Notifications::showTransferQueue);
}

void AndroidBrowserPane::startRename(const FileItem& item)
{
    if (!filesOnScreen())
        return;
    auto* sheet = new RenameSheet(item.name, this);
    // The target, its phone and the confirmed text are captured now; nothing read later can
    // change what is renamed or to what.
    connect(sheet, &RenameSheet::confirmed, this,
            [this, item, deviceId = m_browser.deviceId(), attachment = m_browser.attachment()](
                const QString& name) { renameItem(item, deviceId, name, attachment); });
    present(sheet);
    sheet->field()->selectAll();
    sheet->field()->setFocus();
}

void AndroidBrowserPane::renameItem(const FileItem& item, const QString& deviceId,
                                    const QString& newName, quint64 attachment)
{
    if (newName.isEmpty() || deviceId.isEmpty() || !filesOnScreen())
        return;
    if (const std::optional<QString> problem = RenameSheet::problemWithName(newName)) {
        showError(*problem);
        return;
    }
    QFuture<std::shared_ptr<FileRepository>> opening;
    if (m_context.devices) {
        opening = m_context.devices->repository(deviceId, attachment);
    } else {
        QPromise<std::shared_ptr<FileRepository>> ready;
        opening = ready.future();
        ready.start();
        ready.addResult(m_browser.repository());
        ready.finish();
    }
    whenFinished(this, opening, [this, item, newName](QFuture<std::shared_ptr<FileRepository>> f) {
        std::shared_ptr<FileRepository> repository;
        try {
            f.waitForFinished();
            repository = f.resultCount() > 0 ? f.result() : nullptr;
            if (!repository)
                throw FileRepositoryError::deviceNotConnected();
        } catch (...) {
            showError(errorText(std::current_exception()));
            return;
        }
        whenFinished(this, RenameFileUseCase(repository).execute(item, newName),
                     [this](QFuture<void> renamed) {
                         try {
                             renamed.waitForFinished();
                         } catch (...) {
                             showError(errorText(std::current_exception()));
                             return;
                         }
                         m_browser.reload();
                     });
    });
}

} // namespace qb
