#include "mtp_responder.h"

#include "mtp_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>

namespace fs = std::filesystem;

namespace qb {

namespace {

constexpr size_t kHeaderSize = 12;
constexpr size_t kMaxDatasetSize = 64 * 1024; // object infos and names from the host are small
constexpr uint16_t kContainerCommand = 1;
constexpr uint16_t kContainerData = 2;
constexpr uint16_t kContainerResponse = 3;
constexpr uint16_t kFormatUndefined = 0x3000;
constexpr uint16_t kFormatFolder = 0x3001;
constexpr uint16_t kBatteryLevel = 0x5001;
constexpr uint16_t kFriendlyName = 0xD402;
constexpr uint16_t kObjectFileName = 0xDC07;

struct PropInfo
{
    uint16_t code;
    MtpType type;
};
constexpr PropInfo kObjectProps[] = {
    {0xDC01, MtpType::UInt32}, // StorageID
    {0xDC02, MtpType::UInt16}, // ObjectFormat
    {0xDC03, MtpType::UInt16}, // ProtectionStatus
    {0xDC04, MtpType::UInt64}, // ObjectSize
    {0xDC07, MtpType::String}, // ObjectFileName
    {0xDC09, MtpType::String}, // DateModified
    {0xDC0B, MtpType::UInt32}, // ParentObject
    {0xDC44, MtpType::String}, // Name
};

const PropInfo* findProp(uint32_t code)
{
    for (const PropInfo& p : kObjectProps) {
        if (p.code == code)
            return &p;
    }
    return nullptr;
}

bool hasHostData(uint16_t code)
{
    // SendObjectInfo, SendObject, SetDevicePropValue, SetObjectPropValue, SetObjPropList,
    // SendObjectPropList: the host sends a data phase whatever the phone supports.
    return code == 0x100C || code == 0x100D || code == 0x1016 || code == 0x9804 || code == 0x9806 ||
           code == 0x9808;
}

uint16_t formatOf(const fs::path& path, bool isDir)
{
    if (isDir)
        return kFormatFolder;
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext == ".txt")
        return 0x3004;
    if (ext == ".mp3")
        return 0x3009;
    if (ext == ".jpg" || ext == ".jpeg")
        return 0x3801;
    if (ext == ".png")
        return 0x380B;
    return kFormatUndefined;
}

std::string mtpDate(time_t t)
{
    struct tm local = {};
    localtime_r(&t, &local);
    char text[32];
    strftime(text, sizeof text, "%Y%m%dT%H%M%S", &local);
    return text;
}

bool validName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::string baseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept
    {
        std::swap(m_fd, o.m_fd);
        return *this;
    }
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

bool writeAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

struct MtpResponder::Command
{
    uint16_t code = 0;
    uint32_t transaction = 0;
    std::vector<uint32_t> params;
    uint32_t param(size_t i) const { return i < params.size() ? params[i] : 0; }
};

struct MtpResponder::Reply
{
    MtpResponse code = MtpResponse::OK;
    std::vector<uint32_t> params;
    std::optional<std::vector<uint8_t>> data;
    UniqueFd file; // a data phase streamed from a file
    uint64_t fileSize = 0;

    static Reply error(MtpResponse code)
    {
        Reply r;
        r.code = code;
        return r;
    }
    static Reply withData(const MtpWriter& w)
    {
        Reply r;
        r.data = w.bytes();
        return r;
    }
};

struct MtpResponder::Outgoing
{
    std::vector<uint8_t> head;
    size_t headPos = 0;
    UniqueFd file;
    off_t fileOffset = 0;
    uint64_t fileLeft = 0;
    bool zlpAtEnd = false; // the container is a whole number of packets
    uint64_t left() const { return head.size() - headPos + fileLeft; }
};

struct MtpResponder::Incoming
{
    Command command;
    std::vector<uint8_t> header; // the data container's 12-byte header
    std::vector<uint8_t> dataset;
    UniqueFd file; // SendObject streams here
    uint64_t received = 0;
    std::optional<Fault> fault; // data discarded, this fault answered instead
    bool failed = false;
};

MtpResponder::MtpResponder(PhoneSpec spec) : m_spec(std::move(spec)), m_objects(m_spec.storages) {}

MtpResponder::~MtpResponder() = default;

void MtpResponder::bulkOut(const uint8_t* data, size_t size)
{
    if (m_incoming && m_incoming->header.empty() && size >= 8 &&
        MtpReader(data + 4, 2).u16() == kContainerCommand) {
        abortTransfers(); // the host gave up this data phase without a word (libmtp can)
    }
    if (m_incoming) {
        Incoming& in = *m_incoming;
        size_t pos = 0;
        while (in.header.size() < kHeaderSize && pos < size)
            in.header.push_back(data[pos++]);
        const size_t n = size - pos;
        if (n > 0 && !in.fault && !in.failed) {
            if (in.file)
                in.failed = !writeAll(in.file.get(), data + pos, n);
            else if (in.dataset.size() + n > kMaxDatasetSize)
                in.failed = true;
            else
                in.dataset.insert(in.dataset.end(), data + pos, data + size);
        }
        in.received += n;
        if (size == 0 || size % kPacketSize != 0)
            onDataEnd();
        return;
    }
    if (size == 0)
        return; // a zero-length packet ending an earlier container
    m_commandBytes.insert(m_commandBytes.end(), data, data + size);
    if (m_commandBytes.size() < kHeaderSize)
        return;
    MtpReader r(m_commandBytes.data(), m_commandBytes.size());
    const uint32_t length = r.u32();
    const uint16_t type = r.u16();
    if (length < kHeaderSize || length > kHeaderSize + 5 * 4 || type != kContainerCommand) {
        m_commandBytes.clear(); // not a command: nothing sensible to answer
        return;
    }
    if (m_commandBytes.size() < length)
        return;
    Command command;
    command.code = r.u16();
    command.transaction = r.u32();
    for (size_t at = kHeaderSize; at + 4 <= length; at += 4)
        command.params.push_back(r.u32());
    m_commandBytes.clear();
    onCommand(command);
}

std::optional<size_t> MtpResponder::bulkIn(uint8_t* data, size_t size)
{
    if (m_outgoing.empty())
        return std::nullopt;
    Outgoing& out = m_outgoing.front();
    if (out.left() == 0) { // only the zero-length packet is left
        m_outgoing.erase(m_outgoing.begin());
        return 0;
    }
    const size_t n = size_t(std::min<uint64_t>(size, out.left()));
    size_t done = std::min(n, out.head.size() - out.headPos);
    std::memcpy(data, out.head.data() + out.headPos, done);
    out.headPos += done;
    while (done < n) {
        ssize_t got = ::pread(out.file.get(), data + done, n - done, out.fileOffset);
        if (got <= 0) { // the file shrank under us: keep the promised length
            std::memset(data + done, 0, n - done);
            got = ssize_t(n - done);
        }
        out.fileOffset += got;
        out.fileLeft -= uint64_t(got);
        done += size_t(got);
    }
    // A short transfer took the container's end (and its zero-length packet) with it.
    if (out.left() == 0 && (!out.zlpAtEnd || n < size))
        m_outgoing.erase(m_outgoing.begin());
    return n;
}

void MtpResponder::cancelTransaction()
{
    abortTransfers();
}

void MtpResponder::reset()
{
    abortTransfers();
    m_sessionOpen = false;
    m_pendingSend.reset();
}

void MtpResponder::dropOutgoing()
{
    // The response goes last: when the host has not started reading it, it never got it.
    if (!m_outgoing.empty() && m_outgoing.back().headPos == 0)
        m_trace.back().response = MtpResponse::None;
    m_outgoing.clear();
}

void MtpResponder::abortTransfers()
{
    if (m_incoming)
        m_trace.back().response = MtpResponse::None;
    dropOutgoing();
    m_commandBytes.clear();
    if (m_incoming && m_incoming->file && m_pendingSend) {
        // Like Android, a file whose upload broke off is not kept.
        if (const auto object = m_objects.lookup(m_pendingSend->handle)) {
            std::error_code error;
            fs::remove(m_objects.absolutePath(*object), error);
            m_objects.forget(*object);
        }
        m_pendingSend.reset();
    }
    m_incoming.reset();
}

void MtpResponder::failOperation(MtpOperation operation, int nth, MtpResponse response)
{
    m_faults.push_back({uint16_t(operation), nth, false, response});
}

void MtpResponder::hangOperation(MtpOperation operation, int nth)
{
    m_faults.push_back({uint16_t(operation), nth, true, MtpResponse::None});
}

std::optional<MtpResponder::Fault> MtpResponder::takeFault(uint16_t operation)
{
    std::optional<Fault> due;
    for (auto it = m_faults.begin(); it != m_faults.end();) {
        if (it->operation == operation && --it->remaining <= 0) {
            due = *it;
            it = m_faults.erase(it);
        } else {
            ++it;
        }
    }
    return due;
}

void MtpResponder::onCommand(const Command& command)
{
    dropOutgoing(); // a new transaction abandons whatever the host left unread
    m_trace.push_back({MtpOperation(command.code), command.params, MtpResponse::None});
    const std::optional<Fault> fault = takeFault(command.code);
    if (hasHostData(command.code)) {
        m_incoming = std::make_unique<Incoming>();
        m_incoming->command = command;
        m_incoming->fault = fault;
        if (command.code == uint16_t(MtpOperation::SendObject) && !fault && m_pendingSend &&
            m_sessionOpen) {
            if (const auto object = m_objects.lookup(m_pendingSend->handle)) {
                const fs::path path = m_objects.absolutePath(*object);
                m_incoming->file =
                    UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
            }
        }
        return;
    }
    if (fault) {
        if (!fault->hang)
            queue(command, Reply::error(fault->response));
        return;
    }
    queue(command, dispatch(command));
}

void MtpResponder::onDataEnd()
{
    const std::unique_ptr<Incoming> in = std::move(m_incoming);
    const Command& command = in->command;
    if (in->fault) {
        if (!in->fault->hang)
            queue(command, Reply::error(in->fault->response));
        return;
    }
    if (command.code != uint16_t(MtpOperation::SendObject)) {
        queue(command,
              in->failed ? Reply::error(MtpResponse::GeneralError) : receive(command, in->dataset));
        return;
    }
    if (!in->file) {
        queue(command, Reply::error(m_sessionOpen ? MtpResponse::NoValidObjectInfo
                                                  : MtpResponse::SessionNotOpen));
        return;
    }
    const PendingSend pending = *m_pendingSend;
    m_pendingSend.reset();
    if (in->failed || (pending.size != 0xFFFFFFFF && in->received != pending.size)) {
        if (const auto object = m_objects.lookup(pending.handle)) {
            std::error_code error;
            fs::remove(m_objects.absolutePath(*object), error);
            m_objects.forget(*object);
        }
        queue(command, Reply::error(MtpResponse::IncompleteTransfer));
        return;
    }
    queue(command, Reply());
}

void MtpResponder::queue(const Command& command, Reply reply)
{
    m_trace.back().response = reply.code;
    if (reply.code == MtpResponse::OK && (reply.data || reply.file)) {
        const uint64_t payload = reply.data ? reply.data->size() : reply.fileSize;
        const uint64_t length = kHeaderSize + payload;
        Outgoing data;
        MtpWriter header;
        header.u32(uint32_t(std::min<uint64_t>(length, 0xFFFFFFFF)))
            .u16(kContainerData)
            .u16(command.code)
            .u32(command.transaction);
        data.head = header.bytes();
        if (reply.data)
            data.head.insert(data.head.end(), reply.data->begin(), reply.data->end());
        data.file = std::move(reply.file);
        data.fileLeft = reply.data ? 0 : reply.fileSize;
        data.zlpAtEnd = length % kPacketSize == 0;
        m_outgoing.push_back(std::move(data));
    }
    MtpWriter response;
    response.u32(uint32_t(kHeaderSize + 4 * reply.params.size()))
        .u16(kContainerResponse)
        .u16(uint16_t(reply.code))
        .u32(command.transaction);
    for (uint32_t p : reply.params)
        response.u32(p);
    Outgoing out;
    out.head = response.bytes();
    m_outgoing.push_back(std::move(out));
}

MtpResponder::Reply MtpResponder::dispatch(const Command& command)
{
    using Op = MtpOperation;
    const auto op = Op(command.code);
    if (op == Op::GetDeviceInfo)
        return deviceInfo();
    if (op == Op::OpenSession) {
        if (m_sessionOpen)
            return Reply::error(MtpResponse::SessionAlreadyOpen);
        m_sessionOpen = true;
        return Reply();
    }
    if (!m_sessionOpen)
        return Reply::error(MtpResponse::SessionNotOpen);
    switch (op) {
    case Op::CloseSession:
        m_sessionOpen = false;
        m_pendingSend.reset();
        return Reply();
    case Op::GetStorageIDs: {
        std::vector<uint32_t> ids;
        for (size_t i = 0; i < m_spec.storages.size(); ++i)
            ids.push_back(EmulatedPhone::storageId(int(i)));
        return Reply::withData(MtpWriter().u32Array(ids));
    }
    case Op::GetStorageInfo:
        return storageInfo(command);
    case Op::GetObjectHandles:
        return objectHandles(command);
    case Op::GetObjectInfo:
        return objectInfo(command);
    case Op::GetObject:
        return object(command);
    case Op::DeleteObject:
        return deleteObject(command);
    case Op::GetDevicePropDesc:
        return devicePropDesc(command, false);
    case Op::GetDevicePropValue:
        return devicePropDesc(command, true);
    case Op::GetObjectPropsSupported: {
        std::vector<uint16_t> codes;
        for (const PropInfo& p : kObjectProps)
            codes.push_back(p.code);
        return Reply::withData(MtpWriter().u16Array(codes));
    }
    case Op::GetObjectPropDesc:
        return objectPropDesc(command);
    case Op::GetObjectPropValue:
        return objectPropValue(command);
    case Op::GetObjPropList:
        return objectPropList(command);
    default:
        return Reply::error(MtpResponse::OperationNotSupported);
    }
}

MtpResponder::Reply MtpResponder::receive(const Command& command, const std::vector<uint8_t>& data)
{
    if (!m_sessionOpen)
        return Reply::error(MtpResponse::SessionNotOpen);
    if (command.code == uint16_t(MtpOperation::SendObjectInfo))
        return sendObjectInfo(command, data);
    if (command.code == uint16_t(MtpOperation::SetObjectPropValue))
        return setObjectName(command, data);
    return Reply::error(MtpResponse::OperationNotSupported);
}

MtpResponder::Reply MtpResponder::deviceInfo() const
{
    const std::vector<uint16_t> operations = {0x1001, 0x1002, 0x1003, 0x1004, 0x1005, 0x1007,
                                              0x1008, 0x1009, 0x100B, 0x100C, 0x100D, 0x1014,
                                              0x1015, 0x9801, 0x9802, 0x9803, 0x9804, 0x9805};
    const std::vector<uint16_t> playbackFormats = {kFormatUndefined, kFormatFolder, 0x3004,
                                                   0x3009,           0x3801,        0x380B};
    MtpWriter w;
    w.u16(100)
        .u32(6) // the Microsoft (MTP) vendor extension
        .u16(100)
        .str("microsoft.com: 1.0; android.com: 1.0;")
        .u16(0)
        .u16Array(operations)
        .u16Array({})
        .u16Array({kBatteryLevel, kFriendlyName})
        .u16Array({})
        .u16Array(playbackFormats)
        .str(m_spec.manufacturer)
        .str(m_spec.model)
        .str("1.0")
        .str(m_spec.serial);
    return Reply::withData(w);
}

MtpResponder::Reply MtpResponder::storageInfo(const Command& command) const
{
    const int index = m_objects.storageIndex(command.param(0));
    if (index < 0)
        return Reply::error(MtpResponse::InvalidStorageID);
    const PhoneStorageSpec& storage = m_spec.storages[size_t(index)];
    struct statvfs fsInfo = {};
    uint64_t free = storage.capacityBytes;
    if (::statvfs(storage.folder.c_str(), &fsInfo) == 0)
        free = std::min<uint64_t>(free, uint64_t(fsInfo.f_bavail) * fsInfo.f_frsize);
    MtpWriter w;
    w.u16(storage.removable ? 4 : 3) // removable or fixed RAM
        .u16(2)                      // generic hierarchical file system
        .u16(0)                      // read-write
        .u64(storage.capacityBytes)
        .u64(free)
        .u32(0xFFFFFFFF)
        .str(storage.description)
        .str("");
    return Reply::withData(w);
}

MtpResponder::Reply MtpResponder::objectHandles(const Command& command)
{
    const uint32_t storageId = command.param(0);
    const uint32_t parent = command.param(2);
    std::vector<int> storages;
    if (storageId == 0xFFFFFFFF) {
        for (size_t i = 0; i < m_spec.storages.size(); ++i)
            storages.push_back(int(i));
    } else if (m_objects.storageIndex(storageId) >= 0) {
        storages.push_back(m_objects.storageIndex(storageId));
    } else {
        return Reply::error(MtpResponse::InvalidStorageID);
    }
    std::vector<uint32_t> handles;
    if (parent == PhoneObjects::kTopLevel || parent == PhoneObjects::kWholeStorage) {
        for (int s : storages) {
            const auto some = m_objects.list(s, "", parent == PhoneObjects::kWholeStorage);
            handles.insert(handles.end(), some.begin(), some.end());
        }
    } else {
        const auto folder = m_objects.find(parent);
        if (!folder)
            return Reply::error(MtpResponse::InvalidObjectHandle);
        if (!fs::is_directory(m_objects.absolutePath(*folder)))
            return Reply::error(MtpResponse::InvalidParentObject);
        handles = m_objects.list(folder->storage, folder->path, false);
    }
    return Reply::withData(MtpWriter().u32Array(handles));
}

MtpResponder::Reply MtpResponder::objectInfo(const Command& command)
{
    const auto object = m_objects.find(command.param(0));
    struct stat st = {};
    if (!object || ::stat(m_objects.absolutePath(*object).c_str(), &st) != 0)
        return Reply::error(MtpResponse::InvalidObjectHandle);
    const bool isDir = S_ISDIR(st.st_mode);
    const uint64_t size = isDir ? 0 : uint64_t(st.st_size);
    MtpWriter w;
    w.u32(EmulatedPhone::storageId(object->storage))
        .u16(formatOf(object->path, isDir))
        .u16(0)
        .u32(uint32_t(std::min<uint64_t>(size, 0xFFFFFFFF)))
        .u16(0);
    for (int i = 0; i < 6; ++i)
        w.u32(0); // thumbnail and image geometry
    w.u32(m_objects.parentOf(*object))
        .u16(isDir ? 1 : 0) // generic folder association
        .u32(0)
        .u32(0)
        .str(baseName(object->path))
        .str(mtpDate(st.st_mtime))
        .str(mtpDate(st.st_mtime))
        .str("");
    return Reply::withData(w);
}

MtpResponder::Reply MtpResponder::object(const Command& command)
{
    const auto object = m_objects.find(command.param(0));
    if (!object)
        return Reply::error(MtpResponse::InvalidObjectHandle);
    UniqueFd fd(::open(m_objects.absolutePath(*object).c_str(), O_RDONLY));
    struct stat st = {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode))
        return Reply::error(MtpResponse::GeneralError);
    Reply reply;
    reply.file = std::move(fd);
    reply.fileSize = uint64_t(st.st_size);
    return reply;
}

MtpResponder::Reply MtpResponder::deleteObject(const Command& command)
{
    const auto object = m_objects.find(command.param(0));
    if (!object)
        return Reply::error(MtpResponse::InvalidObjectHandle);
    std::error_code error;
    fs::remove_all(m_objects.absolutePath(*object), error);
    if (error)
        return Reply::error(MtpResponse::GeneralError);
    m_objects.forget(*object);
    return Reply();
}

MtpResponder::Reply MtpResponder::devicePropDesc(const Command& command, bool valueOnly) const
{
    MtpWriter w;
    if (command.param(0) == kBatteryLevel) {
        if (valueOnly)
            return Reply::withData(w.u8(80));
        // UINT8, read-only, default 100, current 80, range 0..100 step 1
        w.u16(kBatteryLevel).u16(uint16_t(MtpType::UInt8)).u8(0).u8(100).u8(80);
        return Reply::withData(w.u8(1).u8(0).u8(100).u8(1));
    }
    if (command.param(0) == kFriendlyName) {
        if (valueOnly)
            return Reply::withData(w.str(m_spec.friendlyName));
        w.u16(kFriendlyName).u16(uint16_t(MtpType::String)).u8(0).str("");
        return Reply::withData(w.str(m_spec.friendlyName).u8(0));
    }
    return Reply::error(MtpResponse::DevicePropNotSupported);
}

namespace {

void writeValue(MtpWriter& w, MtpType type, uint64_t number, const std::string& text)
{
    switch (type) {
    case MtpType::UInt8:
        w.u8(uint8_t(number));
        break;
    case MtpType::UInt16:
        w.u16(uint16_t(number));
        break;
    case MtpType::UInt32:
        w.u32(uint32_t(number));
        break;
    case MtpType::UInt64:
        w.u64(number);
        break;
    case MtpType::String:
        w.str(text);
        break;
    }
}

} // namespace

MtpResponder::Reply MtpResponder::objectPropDesc(const Command& command) const
{
    const PropInfo* prop = findProp(command.param(0));
    if (!prop)
        return Reply::error(MtpResponse::ObjectPropNotSupported);
    MtpWriter w;
    w.u16(prop->code).u16(uint16_t(prop->type)).u8(prop->code == kObjectFileName ? 1 : 0);
    writeValue(w, prop->type, 0, "");
    return Reply::withData(w.u32(0).u8(0)); // group 0, no form
}

MtpResponder::Reply MtpResponder::objectPropValue(const Command& command)
{
    return objectPropList(
        Command{command.code, command.transaction, {command.param(0), 0, command.param(1), 0, 0}});
}

MtpResponder::Reply MtpResponder::objectPropList(const Command& command)
{
    const bool single = command.code == uint16_t(MtpOperation::GetObjectPropValue);
    const uint32_t handle = command.param(0);
    const uint32_t propCode = command.param(2);
    if (command.param(3) != 0 || propCode == 0)
        return Reply::error(MtpResponse::SpecificationByGroupUnsupported);
    if (command.param(4) != 0 || handle == 0 || handle == 0xFFFFFFFF)
        return Reply::error(MtpResponse::SpecificationByDepthUnsupported);
    const auto object = m_objects.find(handle);
    struct stat st = {};
    if (!object || ::stat(m_objects.absolutePath(*object).c_str(), &st) != 0)
        return Reply::error(MtpResponse::InvalidObjectHandle);
    std::vector<PropInfo> props;
    if (propCode == 0xFFFFFFFF && !single)
        props.assign(std::begin(kObjectProps), std::end(kObjectProps));
    else if (const PropInfo* prop = findProp(propCode))
        props.push_back(*prop);
    else
        return Reply::error(MtpResponse::ObjectPropNotSupported);

    const bool isDir = S_ISDIR(st.st_mode);
    MtpWriter w;
    if (!single)
        w.u32(uint32_t(props.size()));
    for (const PropInfo& prop : props) {
        if (!single)
            w.u32(handle).u16(prop.code).u16(uint16_t(prop.type));
        uint64_t number = 0;
        std::string text;
        switch (prop.code) {
        case 0xDC01:
            number = EmulatedPhone::storageId(object->storage);
            break;
        case 0xDC02:
            number = formatOf(object->path, isDir);
            break;
        case 0xDC04:
            number = isDir ? 0 : uint64_t(st.st_size);
            break;
        case 0xDC07:
        case 0xDC44:
            text = baseName(object->path);
            break;
        case 0xDC09:
            text = mtpDate(st.st_mtime);
            break;
        case 0xDC0B:
            number = m_objects.parentOf(*object);
            break;
        }
        writeValue(w, prop.type, number, text);
    }
    return Reply::withData(w);
}

MtpResponder::Reply MtpResponder::sendObjectInfo(const Command& command,
                                                 const std::vector<uint8_t>& data)
{
    MtpReader r(data.data(), data.size());
    r.u32(); // storage: the command's parameter counts
    const uint16_t format = r.u16();
    r.u16();
    const uint32_t size = r.u32();
    r.skip(2 + 6 * 4 + 4 + 2 + 4 + 4);
    const std::string name = r.str();
    if (!r.ok() || !validName(name))
        return Reply::error(MtpResponse::InvalidParameter);

    const uint32_t storageId =
        command.param(0) == 0 ? EmulatedPhone::storageId(0) : command.param(0);
    const int storage = m_objects.storageIndex(storageId);
    if (storage < 0)
        return Reply::error(MtpResponse::InvalidStorageID);
    std::string path = name;
    uint32_t parent = command.param(1);
    if (parent == PhoneObjects::kTopLevel) {
        parent = 0;
    } else {
        const auto folder =
            m_objects.find(parent); // parent 0 is no object: refused, as Android does
        if (!folder)
            return Reply::error(MtpResponse::InvalidObjectHandle);
        if (folder->storage != storage || !fs::is_directory(m_objects.absolutePath(*folder)))
            return Reply::error(MtpResponse::InvalidParentObject);
        path = folder->path + "/" + name;
    }
    const fs::path absolute = m_spec.storages[size_t(storage)].folder / path;
    std::error_code error;
    if (fs::exists(fs::symlink_status(absolute, error)))
        return Reply::error(MtpResponse::GeneralError);

    if (format == kFormatFolder) {
        if (!fs::create_directory(absolute, error))
            return Reply::error(MtpResponse::GeneralError);
    } else {
        struct statvfs fsInfo = {};
        if (size != 0xFFFFFFFF && ::statvfs(absolute.parent_path().c_str(), &fsInfo) == 0 &&
            size > uint64_t(fsInfo.f_bavail) * fsInfo.f_frsize)
            return Reply::error(MtpResponse::StoreFull);
    }
    const uint32_t handle = m_objects.handleFor(storage, path);
    if (format != kFormatFolder)
        m_pendingSend = PendingSend{handle, size}; // the file appears with SendObject
    Reply reply;
    reply.params = {storageId, parent, handle};
    return reply;
}

MtpResponder::Reply MtpResponder::setObjectName(const Command& command,
                                                const std::vector<uint8_t>& data)
{
    const auto object = m_objects.find(command.param(0));
    if (!object)
        return Reply::error(MtpResponse::InvalidObjectHandle);
    if (command.param(1) != kObjectFileName)
        return Reply::error(MtpResponse::ObjectPropNotSupported);
    MtpReader r(data.data(), data.size());
    const std::string name = r.str();
    if (!r.ok() || !validName(name))
        return Reply::error(MtpResponse::InvalidParameter);
    const size_t slash = object->path.rfind('/');
    const std::string newPath =
        slash == std::string::npos ? name : object->path.substr(0, slash + 1) + name;
    if (newPath == object->path)
        return Reply();
    const fs::path from = m_objects.absolutePath(*object);
    const fs::path to = from.parent_path() / name;
    std::error_code error;
    if (fs::exists(fs::symlink_status(to, error)))
        return Reply::error(MtpResponse::GeneralError);
    fs::rename(from, to, error);
    if (error)
        return Reply::error(MtpResponse::GeneralError);
    m_objects.renamed(*object, newPath);
    return Reply();
}

} // namespace qb
