#include "mtp_responder.h"

#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <utility>

namespace qb {

namespace {

// Between UTF-8 and the UTF-16LE of PTP strings; an invalid sequence ends the text there.
std::string convert(const std::string& text, const char* to, const char* from)
{
    const iconv_t cd = iconv_open(to, from);
    std::string out(text.size() * 2, '\0');
    char* in = const_cast<char*>(text.data());
    char* at = out.data();
    size_t inLeft = text.size(), outLeft = out.size();
    iconv(cd, &in, &inLeft, &at, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// Little-endian PTP/MTP dataset encoding: the bytes that travel in containers.
class MtpWriter
{
public:
    MtpWriter& u8(uint8_t v) { return m_bytes.push_back(v), *this; }
    MtpWriter& u16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
    MtpWriter& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    MtpWriter& u64(uint64_t v) { return u32(v & 0xFFFFFFFF).u32(v >> 32); }
    // A PTP string: a count of UTF-16 units (terminator included), then the units.
    MtpWriter& str(const std::string& utf8);
    template <typename T> MtpWriter& array(const std::vector<T>& values)
    {
        u32(uint32_t(values.size()));
        for (T v : values)
            sizeof(T) == 2 ? u16(uint16_t(v)) : u32(uint32_t(v));
        return *this;
    }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// Bounds-checked reader: reading past the end yields zeros and clears ok().
class MtpReader
{
public:
    MtpReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t u8() { return take(1) ? m_data[m_pos++] : 0; }
    uint16_t u16()
    {
        const uint8_t b[2]{u8(), u8()};
        return uint16_t(b[0] | b[1] << 8);
    }
    uint32_t u32()
    {
        const uint16_t w[2]{u16(), u16()};
        return w[0] | uint32_t(w[1]) << 16;
    }
    std::string str();
    void skip(size_t n) { m_pos += take(n) ? n : 0; }
    bool ok() const { return m_ok; }

private:
    bool take(size_t n) { return m_ok = m_ok && m_size - m_pos >= n; }
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

MtpWriter& MtpWriter::str(const std::string& utf8)
{
    std::string units = convert(utf8, "UTF-16LE", "UTF-8");
    if (units.empty())
        return u8(0);
    units.resize(std::min<size_t>(units.size(), 254 * 2));
    u8(static_cast<uint8_t>(units.size() / 2 + 1));
    for (char byte : units)
        u8(uint8_t(byte));
    return u16(0);
}

std::string MtpReader::str()
{
    const uint8_t count = u8();
    std::string units;
    for (int i = 0; i < count && m_ok; ++i) {
        if (const uint16_t unit = u16())
            units += {char(unit & 0xFF), char(unit >> 8)};
    }
    return convert(units, "UTF-8", "UTF-16LE");
}

constexpr size_t kHeaderSize = 12;
constexpr size_t kMaxDatasetSize = 64 * 1024; // object infos and names from the host are small
constexpr uint16_t kContainerCommand = 1;
constexpr uint16_t kContainerData = 2;
constexpr uint16_t kContainerResponse = 3;
constexpr uint16_t kFormatUndefined = 0x3000;
constexpr uint16_t kFormatFolder = 0x3001;
// The object properties libmtp asks about: the 64-bit size, and the name it may change.
constexpr uint16_t kObjectSize = 0xDC04;
constexpr uint16_t kObjectFileName = 0xDC07;
constexpr uint16_t kDateModified = 0xDC09; // asked for by itself, so not listed as supported

// SendObjectInfo, SendObject, SetDevicePropValue, SetObjectPropValue, SetObjPropList,
// SendObjectPropList: the host sends a data phase whatever the phone supports.
constexpr uint16_t kHostDataOperations[] = {0x100C, 0x100D, 0x1016, 0x9804, 0x9806, 0x9808};

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
    return path.substr(path.rfind('/') + 1); // npos + 1 == 0
}

std::vector<uint8_t> container(uint64_t length, uint16_t type, uint16_t code, uint32_t transaction)
{
    // Lengths of 4 GiB and more do not fit: 0xFFFFFFFF, and the host reads to the short packet.
    MtpWriter w;
    w.u32(uint32_t(std::min<uint64_t>(length, 0xFFFFFFFF))).u16(type).u16(code).u32(transaction);
    return w.bytes();
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
    std::optional<fs::path> file; // a data phase streamed from this file
    uint64_t fileSize = 0;

    static Reply error(MtpResponse code) { return Reply{code, {}, {}, {}, 0}; }
    static Reply withData(const MtpWriter& w)
    {
        return Reply{MtpResponse::OK, {}, w.bytes(), {}, 0};
    }
};

struct MtpResponder::Outgoing
{
    std::vector<uint8_t> head;
    size_t headPos = 0;
    std::ifstream file;
    uint64_t fileLeft = 0;
    bool zlpAtEnd = false; // the container is a whole number of packets
    bool isData = false;
    uint64_t length = 0; // header included
    uint64_t left() const { return head.size() - headPos + fileLeft; }
};

struct MtpResponder::Incoming
{
    Command command;
    std::vector<uint8_t> header; // the data container's 12-byte header
    std::vector<uint8_t> dataset;
    std::ofstream file; // SendObject streams here
    uint64_t received = 0;
    std::optional<Fault> fault; // data discarded, this fault answered instead
    bool failed = false;
};

MtpResponder::MtpResponder(PhoneLayout layout)
    : m_layout(std::move(layout)), m_objects(m_layout.storages)
{}

MtpResponder::~MtpResponder() = default;

void MtpResponder::bulkOut(const uint8_t* data, size_t size)
{
    if (m_incoming && m_incoming->header.empty() && size >= 8 &&
        MtpReader(data + 4, 2).u16() == kContainerCommand)
        cancelTransaction(); // the host gave up this data phase without a word (libmtp can)
    if (m_incoming) {
        Incoming& in = *m_incoming;
        size_t pos = 0;
        while (in.header.size() < kHeaderSize && pos < size)
            in.header.push_back(data[pos++]);
        const size_t n = size - pos;
        if (n > 0 && !in.fault && !in.failed) {
            if (in.file.is_open())
                in.failed = !in.file.write(reinterpret_cast<const char*>(data + pos), long(n));
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
    if (length < kHeaderSize || length > kHeaderSize + 5 * 4 || r.u16() != kContainerCommand) {
        m_commandBytes.clear(); // not a command: nothing sensible to answer
        return;
    }
    if (m_commandBytes.size() < length)
        return;
    Command command{r.u16(), r.u32(), {}};
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
    const size_t fromHead = std::min(n, out.head.size() - out.headPos);
    std::memcpy(data, out.head.data() + out.headPos, fromHead);
    out.headPos += fromHead;
    if (n > fromHead) {
        // A file that shrank under us still sends the promised length.
        std::memset(data + fromHead, 0, n - fromHead);
        out.file.read(reinterpret_cast<char*>(data + fromHead), long(n - fromHead));
        out.fileLeft -= n - fromHead;
    }
    // A short transfer took the container's end (and its zero-length packet) with it.
    if (out.left() == 0 && (!out.zlpAtEnd || n < size))
        m_outgoing.erase(m_outgoing.begin());
    if (m_outgoing.empty())
        m_holdUnread = false;
    return n;
}

std::optional<uint64_t> MtpResponder::dataReadEnd(size_t size) const
{
    if (m_outgoing.empty() || !m_outgoing.front().isData)
        return std::nullopt;
    const Outgoing& out = m_outgoing.front();
    return out.length - out.left() + std::min<uint64_t>(size, out.left());
}

void MtpResponder::dropSession()
{
    m_sessionOpen = false;
    m_pendingSend.reset();
}

void MtpResponder::reset()
{
    m_dropResponse = false;
    cancelTransaction();
    m_sessionOpen = false;
    m_pendingSend.reset();
}

void MtpResponder::dropPendingUpload()
{
    // Like Android, a file whose upload broke off is not kept.
    if (const auto object = m_objects.lookup(m_pendingSend->handle);
        object && !m_keepBrokenUploads) {
        std::error_code error;
        fs::remove(m_objects.absolutePath(*object), error);
        m_objects.moved(*object, std::nullopt);
    }
    m_pendingSend.reset();
}

void MtpResponder::cancelTransaction()
{
    m_outgoing.clear();
    m_holdUnread = false;
    m_commandBytes.clear();
    if (m_incoming && m_incoming->file.is_open()) {
        m_incoming->file.close();
        dropPendingUpload();
    }
    m_incoming.reset();
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
    if (!m_holdUnread)
        m_outgoing.clear(); // a new transaction abandons whatever the host left unread
    m_trace.push_back(MtpOperation(command.code));
    std::optional<Fault> fault = takeFault(command.code);
    m_dropResponse = false;
    if (fault && fault->loseResponse) {
        m_dropResponse = true;
        fault.reset();
    }
    if (std::ranges::count(kHostDataOperations, command.code)) {
        m_incoming = std::make_unique<Incoming>();
        m_incoming->command = command;
        m_incoming->fault = fault;
        // A refused upload leaves its (empty) file on a phone that keeps broken-off uploads.
        if (command.code == uint16_t(MtpOperation::SendObject) && (!fault || m_keepBrokenUploads) &&
            m_pendingSend && m_sessionOpen) {
            if (const auto object = m_objects.lookup(m_pendingSend->handle))
                m_incoming->file.open(m_objects.absolutePath(*object), std::ios::binary);
        }
    } else if (!fault) {
        queue(command, dispatch(command));
    } else if (!fault->hang) {
        queue(command, Reply::error(fault->response));
    }
}

void MtpResponder::onDataEnd()
{
    const std::unique_ptr<Incoming> in = std::move(m_incoming);
    const Command& command = in->command;
    if (in->fault) {
        if (!in->fault->hang)
            queue(command, Reply::error(in->fault->response));
    } else if (command.code != uint16_t(MtpOperation::SendObject)) {
        queue(command, in->failed ? Reply::error(MtpResponse::GeneralError)
                                  : dispatch(command, in->dataset));
    } else if (!in->file.is_open()) {
        queue(command, Reply::error(m_sessionOpen ? MtpResponse::NoValidObjectInfo
                                                  : MtpResponse::SessionNotOpen));
    } else {
        in->file.close();
        const bool complete =
            !in->failed && !in->file.fail() &&
            (m_pendingSend->size == 0xFFFFFFFF || in->received == m_pendingSend->size);
        if (complete)
            m_pendingSend.reset();
        else
            dropPendingUpload();
        queue(command, complete ? Reply() : Reply::error(MtpResponse::IncompleteTransfer));
    }
}

void MtpResponder::queue(const Command& command, Reply reply)
{
    if (reply.code == MtpResponse::OK && (reply.data || reply.file)) {
        const uint64_t length = kHeaderSize + (reply.data ? reply.data->size() : reply.fileSize);
        Outgoing data;
        data.head = container(length, kContainerData, command.code, command.transaction);
        if (reply.data)
            data.head.insert(data.head.end(), reply.data->begin(), reply.data->end());
        if (reply.file)
            data.file.open(*reply.file, std::ios::binary);
        data.fileLeft = reply.data ? 0 : reply.fileSize;
        data.zlpAtEnd = length % kPacketSize == 0;
        data.isData = true;
        data.length = length;
        m_outgoing.push_back(std::move(data));
    }
    if (std::exchange(m_dropResponse, false))
        return;
    Outgoing response;
    response.head = container(kHeaderSize + 4 * reply.params.size(), kContainerResponse,
                              uint16_t(reply.code), command.transaction);
    for (uint32_t p : reply.params)
        response.head.insert(response.head.end(),
                             {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16), uint8_t(p >> 24)});
    m_outgoing.push_back(std::move(response));
}

MtpResponder::Reply MtpResponder::dispatch(const Command& command, const std::vector<uint8_t>& data)
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
        for (size_t i = 0; i < m_layout.storages.size(); ++i)
            ids.push_back(EmulatedPhone::storageId(int(i)));
        return Reply::withData(MtpWriter().array(ids));
    }
    case Op::GetStorageInfo:
        return storageInfo(command);
    case Op::GetObjectHandles:
        return objectHandles(command);
    case Op::GetObjectInfo:
    case Op::GetObject:
    case Op::GetObjectPropValue:
    case Op::GetObjPropList:
        return objectData(command);
    case Op::DeleteObject:
        return deleteObject(command);
    case Op::SendObjectInfo:
        return sendObjectInfo(command, data);
    case Op::SetObjectPropValue:
        return setObjectName(command, data);
    case Op::GetObjectPropsSupported:
        return Reply::withData(MtpWriter().array<uint16_t>({kObjectSize, kObjectFileName}));
    case Op::GetObjectPropDesc: {
        // Code, data type (UInt64 or String), settable, default value, group 0, no form.
        MtpWriter w;
        if (command.param(0) == kObjectSize)
            w.u16(kObjectSize).u16(0x0008).u8(0).u64(0);
        else if (command.param(0) == kObjectFileName)
            w.u16(kObjectFileName).u16(0xFFFF).u8(1).str("");
        else
            return Reply::error(MtpResponse::ObjectPropNotSupported);
        return Reply::withData(w.u32(0).u8(0));
    }
    default:
        return Reply::error(MtpResponse::OperationNotSupported);
    }
}

MtpResponder::Reply MtpResponder::deviceInfo() const
{
    std::vector<uint16_t> operations = {0x1001, 0x1002, 0x1003, 0x1004, 0x1005,
                                        0x1007, 0x1008, 0x1009, 0x100B, 0x100C,
                                        0x100D, 0x9801, 0x9802, 0x9803, 0x9804};
    // In plain MTP mode libmtp reads an object's properties in one list, and keeps them.
    if (m_layout.productId == 0x4ee1)
        operations.push_back(uint16_t(MtpOperation::GetObjPropList));
    MtpWriter w;
    // Standard 1.00, the MTP vendor extension 1.00 (Android's), functional mode 0.
    w.u16(100).u32(6).u16(100).str("microsoft.com: 1.0; android.com: 1.0;").u16(0);
    // Operations, events, device properties, capture formats, playback formats.
    w.array(operations)
        .array<uint16_t>({})
        .array<uint16_t>({})
        .array<uint16_t>({})
        .array<uint16_t>({kFormatUndefined, kFormatFolder});
    w.str(m_layout.manufacturer).str(m_layout.model).str("1.0").str(m_layout.serial);
    return Reply::withData(w);
}

MtpResponder::Reply MtpResponder::storageInfo(const Command& command) const
{
    const int index = m_objects.storageIndex(command.param(0));
    if (index < 0)
        return Reply::error(MtpResponse::InvalidStorageID);
    const StorageLayout& storage = m_layout.storages[size_t(index)];
    std::error_code error;
    const uint64_t free =
        std::min(storage.capacityBytes, fs::space(storage.folder, error).available);
    MtpWriter w;
    // Removable or fixed RAM, generic hierarchical file system, read-write.
    w.u16(storage.removable ? 4 : 3).u16(2).u16(0).u64(storage.capacityBytes).u64(free);
    w.u32(0xFFFFFFFF).str(storage.description).str("");
    return Reply::withData(w);
}

MtpResponder::Reply MtpResponder::objectHandles(const Command& command)
{
    const uint32_t storageId = command.param(0);
    const uint32_t parent = command.param(2);
    const int only = m_objects.storageIndex(storageId);
    if (storageId != 0xFFFFFFFF && only < 0)
        return Reply::error(MtpResponse::InvalidStorageID);
    std::vector<uint32_t> handles;
    if (parent == PhoneObjects::kTopLevel || parent == PhoneObjects::kWholeStorage) {
        for (int s = 0; s < int(m_layout.storages.size()); ++s) {
            if (only >= 0 && s != only)
                continue;
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
    return Reply::withData(MtpWriter().array(handles));
}

// GetObjectInfo, GetObject and GetObjectPropValue: what the phone knows about one object.
MtpResponder::Reply MtpResponder::objectData(const Command& command)
{
    const auto object = m_objects.find(command.param(0));
    struct stat st = {};
    if (!object || ::stat(m_objects.absolutePath(*object).c_str(), &st) != 0)
        return Reply::error(MtpResponse::InvalidObjectHandle);
    const bool isDir = S_ISDIR(st.st_mode);
    const uint64_t size = isDir ? 0 : uint64_t(st.st_size);
    MtpWriter w;
    switch (MtpOperation(command.code)) {
    case MtpOperation::GetObject: {
        if (isDir)
            return Reply::error(MtpResponse::GeneralError);
        Reply reply;
        reply.file = m_objects.absolutePath(*object);
        reply.fileSize = m_objectBytes.value_or(size);
        return reply;
    }
    case MtpOperation::GetObjPropList: {
        // One object's storage, format, size, name, date and parent: UINT32 6, UINT16 4,
        // UINT64 8, STR 0xFFFF.
        const uint32_t handle = command.param(0);
        w.u32(6);
        w.u32(handle).u16(0xDC01).u16(6).u32(EmulatedPhone::storageId(object->storage));
        w.u32(handle).u16(0xDC02).u16(4).u16(isDir ? kFormatFolder : kFormatUndefined);
        w.u32(handle).u16(kObjectSize).u16(8).u64(size);
        w.u32(handle).u16(kObjectFileName).u16(0xFFFF).str(baseName(object->path));
        w.u32(handle).u16(kDateModified).u16(0xFFFF).str(mtpDate(st.st_mtime));
        w.u32(handle).u16(0xDC0B).u16(6).u32(m_objects.parentOf(*object));
        return Reply::withData(w);
    }
    case MtpOperation::GetObjectPropValue:
        if (command.param(1) == kObjectSize)
            return Reply::withData(w.u64(size));
        if (command.param(1) == kDateModified)
            return Reply::withData(w.str(mtpDate(st.st_mtime)));
        return Reply::error(MtpResponse::ObjectPropNotSupported);
    default: // GetObjectInfo
        w.u32(EmulatedPhone::storageId(object->storage))
            .u16(isDir ? kFormatFolder : kFormatUndefined)
            .u16(0);
        w.u32(uint32_t(std::min<uint64_t>(size, 0xFFFFFFFF))).u16(0); // size, no thumbnail
        for (int i = 0; i < 6; ++i)
            w.u32(0); // thumbnail and image geometry
        // Parent, generic folder association, sequence 0, name, dates created and modified.
        w.u32(m_objects.parentOf(*object)).u16(isDir ? 1 : 0).u32(0).u32(0);
        w.str(baseName(object->path)).str(mtpDate(st.st_mtime)).str(mtpDate(st.st_mtime)).str("");
        return Reply::withData(w);
    }
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
    m_objects.moved(*object, std::nullopt);
    return Reply();
}

MtpResponder::Reply MtpResponder::sendObjectInfo(const Command& command,
                                                 const std::vector<uint8_t>& data)
{
    MtpReader r(data.data(), data.size());
    r.u32(); // the storage: the command's parameter counts
    const uint16_t format = r.u16();
    r.u16();
    const uint32_t size = r.u32();
    r.skip(2 + 6 * 4 + 4 + 2 + 4 + 4); // up to the name
    const std::string name = r.str();
    if (!r.ok() || !validName(name))
        return Reply::error(MtpResponse::InvalidParameter);

    const uint32_t storageId = command.param(0) ? command.param(0) : EmulatedPhone::storageId(0);
    const int storage = m_objects.storageIndex(storageId);
    if (storage < 0)
        return Reply::error(MtpResponse::InvalidStorageID);
    std::string path = name;
    uint32_t parent = command.param(1);
    if (parent == PhoneObjects::kTopLevel) {
        parent = 0;
    } else {
        const auto folder = m_objects.find(parent); // 0 is no object: refused, as Android does
        if (!folder)
            return Reply::error(MtpResponse::InvalidObjectHandle);
        if (folder->storage != storage || !fs::is_directory(m_objects.absolutePath(*folder)))
            return Reply::error(MtpResponse::InvalidParentObject);
        path = folder->path + "/" + name;
    }
    const fs::path absolute = m_layout.storages[size_t(storage)].folder / path;
    std::error_code error;
    if (fs::exists(fs::symlink_status(absolute, error)))
        return Reply::error(MtpResponse::GeneralError);
    if (format == kFormatFolder && !fs::create_directory(absolute, error))
        return Reply::error(MtpResponse::GeneralError);
    if (format != kFormatFolder && size != 0xFFFFFFFF &&
        size > fs::space(absolute.parent_path(), error).available)
        return Reply::error(MtpResponse::StoreFull);
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
    const std::string newPath = object->path.substr(0, object->path.rfind('/') + 1) + name;
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
    m_objects.moved(*object, newPath);
    return Reply();
}

} // namespace qb
