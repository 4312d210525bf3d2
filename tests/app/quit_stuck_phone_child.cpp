// Quillbay, ended as main() ends it, with a phone that stops answering (libmtp's real minute)
// during a copy ("copy") or a listing ("list"). Prints "stuck" once the call hangs.
#include "app/app_state.h"
#include "app/fake_app_options.h"
#include "app/quillbay_app.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "phone/emulated_phone.h"
#include "quit_child_support.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <fstream>

using namespace qb;

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    std::ofstream(folder.filePath("big.bin").toStdString()) << std::string(1 << 20, 'q');
    EmulatedPhone phone({.storages = {{folder.path().toStdString()}}});
    EmulatedPhone::setTimeoutScale(1.0);
    auto quillbay = std::make_unique<QuillbayApp>(test::fakeAppOptions(nullptr));

    const QString device = QStringLiteral("unknown_1_%1").arg(phone.deviceAddress());
    test::PhoneFile opened = test::firstPhoneFile(*quillbay, device, EmulatedPhone::storageId());
    const int listings = phone.count(MtpOperation::GetObjectHandles);
    phone.hangOperation(MtpOperation::GetObject, 1);
    phone.hangOperation(MtpOperation::GetObjectHandles, 1);
    if (argc > 1 && QByteArray(argv[1]) == "copy")
        quillbay->appState().transferQueueViewModel()->enqueue(
            TransferJob::make(TransferType::Copy,
                              TransferEndpoint::android(device, opened.file.path, opened.file.name),
                              TransferEndpoint::android(device, opened.root, {})));
    else
        opened.repository->listFiles(QString::number(EmulatedPhone::storageId()) + "/9");
    opened.repository.reset(); // only the application holds the phone now
    return test::runUntilQuit(std::move(quillbay), [&] {
        return phone.count(MtpOperation::GetObject) + phone.count(MtpOperation::GetObjectHandles) >
               listings;
    });
}
