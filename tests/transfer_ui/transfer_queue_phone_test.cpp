// The queue sheet and the toolbar ring over the real engine, libmtp and the emulated phone.
#include "core/device/fake_process_runner.h"
#include "core/device/mtp_file_repository.h"
#include "core/transfer/transfer_queue_actor.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "phone/phone_test.h"
#include "platform/futures.h"
#include "support/test_support.h"
#include "transfer_ui/transfer_job_list_model.h"
#include "transfer_ui/transfer_job_list_view.h"
#include "transfer_ui/transfer_queue_button.h"
#include "transfer_ui/transfer_queue_sheet.h"
#include "transfer_ui/transfer_ring_icon.h"
#include "ui_common/empty_state_view.h"

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

namespace qb {
namespace {

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new test::ApplicationEnvironment<QApplication>);

using TransferQueuePhoneTest = PhoneTest;
using test::waitUntil;

TEST_F(TransferQueuePhoneTest, ADownloadIsPausedAndResumedFromItsRowAndTheRingGoesQuiet)
{
    const std::string content(1024 * 1024, 'q');
    EmulatedPhone& phone = plugPhone({{"Movies/clip.mp4", content}});
    phone.setRateLimit(256 * 1024);
    const QString deviceId =
        QStringLiteral("unknown_%1_%2").arg(phone.busNumber()).arg(phone.deviceAddress());
    MTPClient::Options options;
    options.processRunner = std::make_shared<FakeProcessRunner>();
    options.sleep = [](std::chrono::milliseconds) {
    };
    std::shared_ptr<MTPFileRepository> repository =
        MTPFileRepository::create(deviceId, options).result();
    const QString root = QString::number(EmulatedPhone::storageId()) + "/0";
    const FileItem movies = repository->listFiles(root).result().first();
    const FileItem clip = repository->listFiles(movies.path).result().first();

    TransferQueueActor engine;
    engine.setRepositoryProvider([repository](const QString&, quint64) {
        return readyFuture<std::shared_ptr<FileRepository>>(repository);
    });
    TransferQueueViewModel viewModel(engine);
    TransferQueueSheet sheet(viewModel);
    TransferQueueButton button(viewModel);
    sheet.show();
    const TransferJobListModel& model = *sheet.jobModel();
    const auto status = [&] {
        return model.rowCount() == 1 ? model.jobs().first().status : TransferStatus::Canceled;
    };
    const auto rowButton = [&](const QString& name) -> QToolButton* {
        for (auto* found : sheet.findChildren<QToolButton*>()) {
            if (found->accessibleName() == name && found->isVisible())
                return found;
        }
        return nullptr;
    };

    EXPECT_TRUE(sheet.emptyState()->isVisible());
    EXPECT_FALSE(sheet.overallProgressBar()->isVisible());
    EXPECT_FALSE(sheet.clearCompletedButton()->isEnabled());

    const QString downloads = QString::fromStdString((tempFolder() / "Downloads").string());
    viewModel.enqueue(TransferJob::make(
        TransferType::Download, TransferEndpoint::android(deviceId, clip.path, clip.name),
        TransferEndpoint::local(QUrl::fromLocalFile(downloads)), *clip.size));
    ASSERT_TRUE(waitUntil([&] { return status() == TransferStatus::Running; }));
    EXPECT_EQ(model.index(0).data().toString(), "clip.mp4");
    EXPECT_TRUE(button.ring()->isActive());
    EXPECT_TRUE(sheet.overallProgressBar()->isVisible());
    EXPECT_FALSE(sheet.clearCompletedButton()->isEnabled());

    // The row under the pointer carries real, named buttons.
    sheet.jobList()->setCurrentIndex(model.index(0));
    ASSERT_TRUE(waitUntil([&] { return rowButton("Pause") && rowButton("Cancel"); }));
    rowButton("Pause")->click();
    ASSERT_TRUE(
        waitUntil([&] { return status() == TransferStatus::Paused && rowButton("Resume"); }));
    phone.setRateLimit(0);
    rowButton("Resume")->click();
    ASSERT_TRUE(waitUntil([&] { return status() == TransferStatus::Completed; }));

    EXPECT_EQ(readFile(tempFolder() / "Downloads" / "clip.mp4"), content);
    EXPECT_TRUE(waitUntil([&] { return !button.ring()->isActive(); }));
    EXPECT_FALSE(sheet.overallProgressBar()->isVisible());
    EXPECT_EQ(rowButton("Cancel"), nullptr);
    ASSERT_TRUE(sheet.clearCompletedButton()->isEnabled());
    sheet.clearCompletedButton()->click();
    EXPECT_TRUE(waitUntil([&] { return sheet.emptyState()->isVisible(); }));
    EXPECT_EQ(sheet.emptyState()->title(), "No Transfers");
}

} // namespace
} // namespace qb
