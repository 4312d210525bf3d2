#define _POSIX_C_SOURCE 200809L

#include "bridge/mtp_bridge.h"

#include <errno.h>
#include <fcntl.h>
#include <libmtp.h>
#include <libusb.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

/* libmtp's own parent id for a storage's top folder. */
#define QB_ROOT_PARENT 0xFFFFFFFFu

static pthread_once_t init_once = PTHREAD_ONCE_INIT;

static void init_library(void)
{
    LIBMTP_Init();
}

void mtp_bridge_init(void)
{
    pthread_once(&init_once, init_library);
}

/* Copies at most size - 1 bytes and always terminates; NULL copies as "". */
static void copy_text(char* dst, size_t size, const char* src)
{
    size_t len = src ? strlen(src) : 0;
    if (len > size - 1)
        len = size - 1;
    if (len > 0)
        memcpy(dst, src, len);
    dst[len] = '\0';
}

static uint32_t library_parent(uint32_t parent_id)
{
    return parent_id == 0 ? QB_ROOT_PARENT : parent_id;
}

static void format_device_id(char* dst, size_t size, const LIBMTP_raw_device_t* raw)
{
    snprintf(dst, size, "unknown_%u_%u", (unsigned)raw->bus_location, (unsigned)raw->devnum);
}

void mtp_bridge_free(void* array)
{
    free(array);
}

mtp_bridge_device_info* mtp_bridge_list_devices(int32_t* count)
{
    *count = 0;
    mtp_bridge_init();
    LIBMTP_raw_device_t* raw = NULL;
    int n = 0;
    LIBMTP_error_number_t rc = LIBMTP_Detect_Raw_Devices(&raw, &n);
    if (rc != LIBMTP_ERROR_NONE && rc != LIBMTP_ERROR_NO_DEVICE_ATTACHED) {
        /* The bus could not be read: not the same as an empty bus. */
        free(raw);
        *count = -1;
        return NULL;
    }
    if (n <= 0) {
        free(raw);
        return NULL;
    }
    mtp_bridge_device_info* list = calloc((size_t)n, sizeof *list);
    if (!list) {
        free(raw);
        return NULL;
    }
    for (int i = 0; i < n; ++i) {
        const char* vendor = raw[i].device_entry.vendor ? raw[i].device_entry.vendor : "Android";
        const char* product = raw[i].device_entry.product ? raw[i].device_entry.product : "Device";
        char friendly[256];
        format_device_id(list[i].id, sizeof list[i].id, &raw[i]);
        copy_text(list[i].manufacturer, sizeof list[i].manufacturer, vendor);
        copy_text(list[i].model, sizeof list[i].model, product);
        snprintf(friendly, sizeof friendly, "%s %s", vendor, product);
        copy_text(list[i].friendly_name, sizeof list[i].friendly_name, friendly);
    }
    free(raw);
    *count = n;
    return list;
}

/* Finds the raw device with this id; fills *found and returns libmtp's list (caller frees). */
static LIBMTP_raw_device_t* find_raw_device(const char* device_id, LIBMTP_raw_device_t** found)
{
    *found = NULL;
    LIBMTP_raw_device_t* raw = NULL;
    int n = 0;
    if (LIBMTP_Detect_Raw_Devices(&raw, &n) != LIBMTP_ERROR_NONE || n <= 0) {
        free(raw);
        return NULL;
    }
    for (int i = 0; i < n; ++i) {
        char id[64];
        format_device_id(id, sizeof id, &raw[i]);
        if (strcmp(id, device_id) == 0) {
            *found = &raw[i];
            break;
        }
    }
    return raw;
}

mtp_bridge_handle* mtp_bridge_open_device(const char* device_id)
{
    if (!device_id)
        return NULL;
    mtp_bridge_init();
    LIBMTP_raw_device_t* match = NULL;
    LIBMTP_raw_device_t* raw = find_raw_device(device_id, &match);
    if (!match) {
        free(raw);
        return NULL;
    }
    LIBMTP_mtpdevice_t* device = LIBMTP_Open_Raw_Device_Uncached(match);
    free(raw);
    if (!device)
        return NULL;
    LIBMTP_Get_Storage(device, LIBMTP_STORAGE_SORTBY_NOTSORTED);
    LIBMTP_Clear_Errorstack(device);
    mtp_bridge_handle* handle = calloc(1, sizeof *handle);
    if (!handle) {
        LIBMTP_Release_Device(device);
        return NULL;
    }
    handle->device = device;
    return handle;
}

void mtp_bridge_close_device(mtp_bridge_handle* handle)
{
    if (!handle)
        return;
    if (handle->device)
        LIBMTP_Release_Device(handle->device);
    free(handle);
}

const char* mtp_bridge_last_error(const mtp_bridge_handle* handle)
{
    return handle ? handle->last_error : "No device";
}

/* libmtp only prints a busy interface to stderr, so the cause is checked directly on the bus. */
int32_t mtp_bridge_device_busy(const char* device_id)
{
    if (!device_id)
        return 0;
    mtp_bridge_init();
    LIBMTP_raw_device_t* match = NULL;
    LIBMTP_raw_device_t* raw = find_raw_device(device_id, &match);
    if (!match) {
        free(raw);
        return 0;
    }
    uint32_t bus = match->bus_location;
    uint8_t devnum = match->devnum;
    free(raw);

    libusb_context* ctx = NULL;
    if (libusb_init(&ctx) != 0)
        return 0;
    int32_t busy = 0;
    libusb_device** devices = NULL;
    ssize_t n = libusb_get_device_list(ctx, &devices);
    for (ssize_t i = 0; i < n && !busy; ++i) {
        if (libusb_get_bus_number(devices[i]) != bus ||
            libusb_get_device_address(devices[i]) != devnum)
            continue;
        libusb_device_handle* dh = NULL;
        if (libusb_open(devices[i], &dh) != 0)
            break;
        struct libusb_config_descriptor* config = NULL;
        if (libusb_get_active_config_descriptor(devices[i], &config) == 0) {
            for (int k = 0; k < config->bNumInterfaces && !busy; ++k) {
                if (config->interface[k].num_altsetting < 1)
                    continue;
                int number = config->interface[k].altsetting[0].bInterfaceNumber;
                int rc = libusb_claim_interface(dh, number);
                if (rc == LIBUSB_ERROR_BUSY)
                    busy = 1;
                else if (rc == 0)
                    libusb_release_interface(dh, number);
            }
            libusb_free_config_descriptor(config);
        }
        libusb_close(dh);
        break;
    }
    if (n >= 0)
        libusb_free_device_list(devices, 1);
    libusb_exit(ctx);
    return busy;
}

mtp_bridge_storage_info* mtp_bridge_list_storages(mtp_bridge_handle* handle, int32_t* count)
{
    *count = 0;
    if (!handle || !handle->device)
        return NULL;
    int32_t n = 0;
    for (LIBMTP_devicestorage_t* s = handle->device->storage; s; s = s->next)
        ++n;
    if (n == 0)
        return NULL;
    mtp_bridge_storage_info* list = calloc((size_t)n, sizeof *list);
    if (!list)
        return NULL;
    int32_t i = 0;
    for (LIBMTP_devicestorage_t* s = handle->device->storage; s; s = s->next, ++i) {
        list[i].storage_id = s->id;
        copy_text(list[i].description, sizeof list[i].description,
                  s->StorageDescription ? s->StorageDescription : "Storage");
        list[i].capacity_bytes = s->MaxCapacity;
        list[i].free_bytes = s->FreeSpaceInBytes;
    }
    *count = n;
    return list;
}

/* The PTP codes after which libmtp's session is beyond repair: its own time-out, a missing
 * response or data phase and an I/O error (a stall or a device gone) leave the two ends out of
 * step, and "Session Not Open" is a phone that closed the session itself (a long idle). A
 * phone's refusals ("Access Denied", "Device Busy" and the like) are answers, not among them. */
static int session_is_lost_by(unsigned code)
{
    switch (code) {
    case 0x02FA: /* PTP_ERROR_TIMEOUT */
    case 0x02FD: /* PTP_ERROR_RESP_EXPECTED */
    case 0x02FE: /* PTP_ERROR_DATA_EXPECTED */
    case 0x02FF: /* PTP_ERROR_IO */
    case 0x2003: /* Session Not Open */
        return 1;
    default:
        return 0;
    }
}

/* libmtp names a PTP failure only in its text, "PTP Layer error %04x: ...". */
static unsigned ptp_code(const LIBMTP_error_t* e)
{
    unsigned code = 0;
    if (e->errornumber == LIBMTP_ERROR_PTP_LAYER && e->error_text &&
        sscanf(e->error_text, "PTP Layer error %4x", &code) == 1)
        return code;
    return 0;
}

static void note_lost_session(mtp_bridge_handle* handle)
{
    for (LIBMTP_error_t* e = LIBMTP_Get_Errorstack(handle->device); e; e = e->next) {
        if (session_is_lost_by(ptp_code(e)))
            handle->session_lost = 1;
    }
}

/* Whether the error stack says nothing but that the phone has no such object (libmtp leaves the
 * stack empty when the phone refuses an object's information outright). */
static int only_no_such_object(mtp_bridge_handle* handle)
{
    for (LIBMTP_error_t* e = LIBMTP_Get_Errorstack(handle->device); e; e = e->next) {
        if (ptp_code(e) != 0x2009) /* Invalid Object Handle */
            return 0;
    }
    return 1;
}

/* Every clearing of the error stack goes through here, so no lost session goes unnoticed. */
static void clear_errors(mtp_bridge_handle* handle)
{
    note_lost_session(handle);
    LIBMTP_Clear_Errorstack(handle->device);
}

/* Copies the first entry of the error stack into last_error and clears the stack.
 * Returns 0 when the stack was empty (last_error is then left as it was). */
static int take_error(mtp_bridge_handle* handle)
{
    LIBMTP_error_t* stack = LIBMTP_Get_Errorstack(handle->device);
    if (!stack)
        return 0;
    copy_text(handle->last_error, sizeof handle->last_error, stack->error_text);
    clear_errors(handle);
    return 1;
}

/* One of libmtp's file records as ours; the path names the object in its storage. */
static void fill_file_info(mtp_bridge_file_info* out, const LIBMTP_file_t* f)
{
    out->object_id = f->item_id;
    out->parent_id = f->parent_id;
    out->storage_id = f->storage_id;
    copy_text(out->name, sizeof out->name, f->filename);
    snprintf(out->path, sizeof out->path, "%u/%u", (unsigned)f->storage_id, (unsigned)f->item_id);
    out->is_folder = f->filetype == LIBMTP_FILETYPE_FOLDER ? 1 : 0;
    out->size = f->filesize;
    out->mtime = (int64_t)f->modificationdate;
}

mtp_bridge_file_info* mtp_bridge_list_files(mtp_bridge_handle* handle, uint32_t storage_id,
                                            uint32_t parent_id, int32_t* count)
{
    *count = 0;
    if (!handle || !handle->device)
        return NULL;
    /* A stale entry would make an empty folder look like a failed listing. */
    clear_errors(handle);
    LIBMTP_file_t* files =
        LIBMTP_Get_Files_And_Folders(handle->device, storage_id, library_parent(parent_id));
    /* libmtp drops an item whose object information the phone refused, without a word, so an
     * answer of no items at all is asked for once more; for a folder that is empty indeed this
     * costs one request. */
    if (!files && !LIBMTP_Get_Errorstack(handle->device))
        files = LIBMTP_Get_Files_And_Folders(handle->device, storage_id, library_parent(parent_id));
    if (!files) {
        if (take_error(handle))
            *count = -1;
        return NULL;
    }
    /* When the phone refuses some of the items' property requests, libmtp still returns every
     * item, with what it could not read left at zero, and records the refusals only on its error
     * stack: such a list is not the folder. */
    const int incomplete = take_error(handle);
    int32_t n = 0;
    for (LIBMTP_file_t* f = files; f; f = f->next)
        ++n;
    mtp_bridge_file_info* list = incomplete ? NULL : calloc((size_t)n, sizeof *list);
    int32_t i = 0;
    for (LIBMTP_file_t* f = files; f; ++i) {
        LIBMTP_file_t* next = f->next;
        if (list)
            fill_file_info(&list[i], f);
        LIBMTP_destroy_file_t(f);
        f = next;
    }
    if (incomplete) {
        *count = MTP_BRIDGE_LISTING_INCOMPLETE;
        return NULL;
    }
    if (!list) {
        *count = -1;
        copy_text(handle->last_error, sizeof handle->last_error, "Out of memory");
        return NULL;
    }
    *count = n;
    return list;
}

/* A PTP date ("YYYYMMDDThhmmss", in the phone's local time) as libmtp reads it; 0 when it is
 * none. */
static int64_t ptp_date(const char* text)
{
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    if (!text || sscanf(text, "%4d%2d%2dT%2d%2d%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                        &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
        return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    const time_t t = mktime(&tm);
    return t == (time_t)-1 ? 0 : (int64_t)t;
}

int32_t mtp_bridge_get_file_info(mtp_bridge_handle* handle, uint32_t object_id,
                                 mtp_bridge_file_info* out)
{
    if (!handle || !handle->device || !out)
        return -1;
    memset(out, 0, sizeof *out);
    clear_errors(handle);
    LIBMTP_file_t* meta = LIBMTP_Get_Filemetadata(handle->device, object_id);
    /* libmtp keeps what it once read of an object, and only notices that the phone no longer has
     * it when the size it asks for again is refused. */
    if (!meta || LIBMTP_Get_Errorstack(handle->device)) {
        const int gone = only_no_such_object(handle);
        if (!take_error(handle))
            copy_text(handle->last_error, sizeof handle->last_error, "No such object");
        if (meta)
            LIBMTP_destroy_file_t(meta);
        return gone && !handle->session_lost ? MTP_BRIDGE_NO_SUCH_OBJECT : -1;
    }
    fill_file_info(out, meta);
    LIBMTP_destroy_file_t(meta);
    /* The date libmtp kept may be older than an edit made on the phone since; ask for it anew. */
    char* modified =
        LIBMTP_Get_String_From_Object(handle->device, object_id, LIBMTP_PROPERTY_DateModified);
    const int64_t fresh = ptp_date(modified);
    free(modified);
    if (fresh > 0)
        out->mtime = fresh;
    clear_errors(handle);
    return 0;
}

typedef struct progress_block
{
    mtp_bridge_progress_fn fn;
    void* context;
} progress_block;

static int mtp_bridge_progress_trampoline(uint64_t const sent, uint64_t const total,
                                          void const* const data)
{
    const progress_block* block = data;
    if (!block || !block->fn)
        return 0;
    return block->fn(sent, total, block->context);
}

/* libmtp reports an upload's progress after each block it has written to the phone, so the last
 * report says how far the data phase really got (its total counts the data container's header). */
typedef struct upload_progress
{
    uint64_t sent;
    uint64_t total;
    progress_block progress;
} upload_progress;

static int note_upload_progress(uint64_t const sent, uint64_t const total, void const* const data)
{
    upload_progress* upload = (upload_progress*)data;
    upload->sent = sent;
    upload->total = total;
    return mtp_bridge_progress_trampoline(sent, total, &upload->progress);
}

/* Each transfer starts with a clean error state so a failure never reports an older text. */
static void begin_transfer(mtp_bridge_handle* handle)
{
    handle->last_error[0] = '\0';
    clear_errors(handle);
}

/* libmtp reports a download's total as the object's size plus the data container's header and
 * its one parameter. */
#define QB_DOWNLOAD_OVERHEAD 16u
/* A size of 0 or this one tells nothing: the phone does not know, or the file is 4 GiB or more. */
#define QB_UNKNOWN_SIZE 0xFFFFFFFFu

typedef struct local_writer
{
    int fd;
    int error;
    uint64_t written;
    /* What the phone said the object holds, once libmtp has reported it (0: not known). */
    uint64_t announced;
    int overrun; /* stopped: far more bytes came than were announced */
    progress_block progress;
} local_writer;

static int size_known(uint64_t size)
{
    return size != 0 && size != QB_UNKNOWN_SIZE;
}

/* A small overrun is read to its end and then refused; a phone that keeps sending is cut off. */
static uint64_t overrun_margin(uint64_t announced)
{
    const uint64_t floor = 1024u * 1024u;
    return announced / 64 > floor ? announced / 64 : floor;
}

/* Learns the announced size from libmtp's first report, which comes before any file data. */
static int download_progress(uint64_t const sent, uint64_t const total, void const* const data)
{
    local_writer* writer = (local_writer*)data;
    if (writer->announced == 0 && total >= QB_DOWNLOAD_OVERHEAD)
        writer->announced = total - QB_DOWNLOAD_OVERHEAD;
    return mtp_bridge_progress_trampoline(sent, total, &writer->progress);
}

/* Writes the phone's bytes ourselves, so a failed write keeps its errno (a full disk). */
static uint16_t write_to_local_file(void* params, void* priv, uint32_t sendlen, unsigned char* data,
                                    uint32_t* putlen)
{
    (void)params;
    local_writer* writer = priv;
    if (size_known(writer->announced) &&
        writer->written + sendlen > writer->announced + overrun_margin(writer->announced)) {
        writer->overrun = 1;
        *putlen = 0;
        return LIBMTP_HANDLER_RETURN_ERROR;
    }
    uint32_t done = 0;
    while (done < sendlen) {
        const ssize_t written = write(writer->fd, data + done, sendlen - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            writer->error = errno;
            *putlen = done;
            return LIBMTP_HANDLER_RETURN_ERROR;
        }
        done += (uint32_t)written;
        writer->written += (uint64_t)written;
    }
    *putlen = done;
    return LIBMTP_HANDLER_RETURN_OK;
}

static int is_folder(mtp_bridge_handle* handle, uint32_t object_id)
{
    LIBMTP_file_t* meta = LIBMTP_Get_Filemetadata(handle->device, object_id);
    const int folder = meta && meta->filetype == LIBMTP_FILETYPE_FOLDER;
    if (meta)
        LIBMTP_destroy_file_t(meta);
    clear_errors(handle);
    return folder;
}

int32_t mtp_bridge_download_file(mtp_bridge_handle* handle, uint32_t object_id,
                                 const char* local_path, mtp_bridge_progress_fn progress,
                                 void* context)
{
    if (!handle || !handle->device || !local_path)
        return -1;
    begin_transfer(handle);
    handle->local_errno = 0;
    handle->received_bytes = 0;
    local_writer writer = {0};
    writer.fd = open(local_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    writer.progress.fn = progress;
    writer.progress.context = context;
    if (writer.fd < 0) {
        handle->local_errno = errno;
        copy_text(handle->last_error, sizeof handle->last_error, strerror(errno));
        return -1;
    }
    int rc = LIBMTP_Get_File_To_Handler(handle->device, object_id, write_to_local_file, &writer,
                                        download_progress, &writer);
    if (writer.overrun) {
        take_error(handle);
        snprintf(handle->last_error, sizeof handle->last_error,
                 "the phone sent more than the %llu bytes it announced",
                 (unsigned long long)writer.announced);
        /* The rest of the data phase is still on its way: only a new session is in step again,
         * and it also learns the object's size anew, for a file that grew on the phone. */
        handle->session_lost = 1;
        rc = -1;
    } else if (rc == 0 && size_known(writer.announced) && writer.written != writer.announced) {
        /* A buggy phone, or a file edited on the phone since libmtp first read its size: the
         * caller asks the phone again before it keeps or refuses these bytes. */
        snprintf(handle->last_error, sizeof handle->last_error,
                 writer.written < writer.announced
                     ? "received only %llu of the %llu bytes the phone announced"
                     : "received %llu bytes where the phone announced %llu",
                 (unsigned long long)writer.written, (unsigned long long)writer.announced);
        handle->received_bytes = writer.written;
        rc = MTP_BRIDGE_SIZE_MISMATCH;
    } else if (rc != 0) {
        /* libmtp refuses a folder before asking for its data, but only with a bare "Bad object
         * format" (a general error, where a phone that fails or goes away gives a PTP one): say
         * what it is. Looked up after that refusal only, as the look-up costs the phone round
         * trips that every file of a batch would otherwise pay. */
        const LIBMTP_error_t* stack = LIBMTP_Get_Errorstack(handle->device);
        const int refused = stack && stack->errornumber == LIBMTP_ERROR_GENERAL;
        take_error(handle);
        if (refused && writer.error == 0 && is_folder(handle, object_id)) {
            copy_text(handle->last_error, sizeof handle->last_error, "Is a folder");
            rc = MTP_BRIDGE_NOT_A_FILE;
        }
    }
    if (close(writer.fd) != 0 && writer.error == 0)
        writer.error = errno;
    if (writer.error != 0) {
        handle->local_errno = writer.error;
        copy_text(handle->last_error, sizeof handle->last_error, strerror(writer.error));
        rc = -1;
    }
    struct stat status;
    /* As libmtp does for its own files: no partial file stays behind. */
    if (rc != 0 && rc != MTP_BRIDGE_SIZE_MISMATCH && stat(local_path, &status) == 0 &&
        S_ISREG(status.st_mode))
        unlink(local_path);
    return rc;
}

/* What identifies a file's content without reading it: a write moves the modification time, a
 * truncation the size too. The change time is no guide: a rename or a chmod moves it as well,
 * and leaves the content as it was. */
typedef struct file_stamp
{
    off_t size;
    struct timespec mtime;
} file_stamp;

static file_stamp stamp_of(const struct stat* status)
{
    file_stamp stamp = {status->st_size, status->st_mtim};
    return stamp;
}

static int same_time(struct timespec a, struct timespec b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

typedef enum reader_outcome {
    READER_OK = 0,
    READER_FAILED, /* a read failed: errno in `error` */
    READER_SHRANK,
    READER_CHANGED
} reader_outcome;

typedef struct local_reader
{
    int fd;
    uint64_t size; /* as announced to the phone */
    uint64_t offset;
    file_stamp start;
    reader_outcome outcome;
    int error;
} local_reader;

/* The file as it is now against the one announced. A file that grew still sends the announced
 * bytes, which an append leaves as they were. A rename of the file or over it, its deletion or
 * a chmod leave the content the open descriptor reads as it was; a rewrite whose writer set the
 * old modification time back cannot be told from them. */
static reader_outcome check_unchanged(const local_reader* reader)
{
    struct stat status;
    if (fstat(reader->fd, &status) != 0)
        return READER_FAILED;
    const file_stamp now = stamp_of(&status);
    const file_stamp* start = &reader->start;
    if (now.size < start->size)
        return READER_SHRANK;
    if (now.size == start->size && !same_time(now.mtime, start->mtime))
        return READER_CHANGED;
    return READER_OK;
}

/* Feeds libmtp the announced bytes. libmtp's own reader takes an early end of file for an empty
 * read and asks again for ever; this one breaks the transfer off instead, and so it does when
 * the file is found written to after any block, the last one included, so the phone never gets
 * a mix of two versions. A copy over the file empties it first: looking after every block
 * catches most copies of a larger version too, which would otherwise pass for growth.
 * Cancelling, unlike an error, tells the phone that the data phase is over, so its next command
 * is not taken for file data. */
static uint16_t read_from_local_file(void* params, void* priv, uint32_t wantlen,
                                     unsigned char* data, uint32_t* gotlen)
{
    (void)params;
    local_reader* reader = priv;
    *gotlen = 0;
    if (wantlen > reader->size - reader->offset)
        wantlen = (uint32_t)(reader->size - reader->offset);
    uint32_t done = 0;
    while (done < wantlen) {
        const ssize_t n =
            pread(reader->fd, data + done, wantlen - done, (off_t)(reader->offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reader->error = n < 0 ? errno : 0;
            reader->outcome = n < 0 ? READER_FAILED : READER_SHRANK;
            return LIBMTP_HANDLER_RETURN_CANCEL;
        }
        done += (uint32_t)n;
    }
    reader->offset += done;
    reader->outcome = check_unchanged(reader);
    if (reader->outcome == READER_FAILED)
        reader->error = errno;
    if (reader->outcome != READER_OK)
        return LIBMTP_HANDLER_RETURN_CANCEL;
    *gotlen = done;
    return LIBMTP_HANDLER_RETURN_OK;
}

int32_t mtp_bridge_upload_file(mtp_bridge_handle* handle, const char* local_path,
                               uint32_t storage_id, uint32_t parent_id,
                               mtp_bridge_progress_fn progress, void* context)
{
    if (!handle || !handle->device || !local_path)
        return -1;
    begin_transfer(handle);
    handle->sent_object_id = 0;
    handle->sent_size = 0;
    handle->sent_whole = 0;
    /* The size and the bytes come from the one descriptor, so what the phone is told to expect
     * is what it gets. O_NONBLOCK keeps a FIFO from stalling the open; it is refused below. */
    const int fd = open(local_path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        copy_text(handle->last_error, sizeof handle->last_error, strerror(errno));
        return -1;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        copy_text(handle->last_error, sizeof handle->last_error, strerror(errno));
        close(fd);
        return -1;
    }
    /* A folder measures as a huge file on some file systems; nothing but a file is sent. */
    if (!S_ISREG(status.st_mode)) {
        copy_text(handle->last_error, sizeof handle->last_error,
                  S_ISDIR(status.st_mode) ? "Is a folder" : "Not a regular file");
        close(fd);
        return MTP_BRIDGE_NOT_A_FILE;
    }
    LIBMTP_file_t* file = LIBMTP_new_file_t();
    if (!file) {
        close(fd);
        return -1;
    }
    const char* slash = strrchr(local_path, '/');
    file->filename = strdup(slash ? slash + 1 : local_path);
    file->parent_id = library_parent(parent_id);
    file->storage_id = storage_id;
    file->filetype = LIBMTP_FILETYPE_UNKNOWN;
    file->filesize = (uint64_t)status.st_size;
    local_reader reader = {fd, file->filesize, 0, stamp_of(&status), READER_OK, 0};
    upload_progress sending = {0, 0, {progress, context}};
    int rc = file->filename
                 ? LIBMTP_Send_File_From_Handler(handle->device, read_from_local_file, &reader,
                                                 file, note_upload_progress, &sending)
                 : -1;
    if (rc != 0) {
        take_error(handle);
        handle->sent_object_id = file->item_id;
        handle->sent_size = file->filesize;
        /* Every byte read is not every byte written: the last block may have failed on its way. */
        handle->sent_whole = reader.outcome == READER_OK && reader.offset == reader.size &&
                             sending.total != 0 && sending.sent >= sending.total;
    }
    if (reader.outcome != READER_OK) {
        /* Most phones drop a broken-off upload themselves; the others keep a part of it. */
        if (file->item_id != 0 && LIBMTP_Delete_Object(handle->device, file->item_id) != 0)
            clear_errors(handle);
        switch (reader.outcome) {
        case READER_SHRANK:
            copy_text(handle->last_error, sizeof handle->last_error,
                      "The file got shorter while it was being sent");
            rc = MTP_BRIDGE_SOURCE_CHANGED;
            break;
        case READER_CHANGED:
            copy_text(handle->last_error, sizeof handle->last_error,
                      "The file changed while it was being sent");
            rc = MTP_BRIDGE_SOURCE_CHANGED;
            break;
        default:
            copy_text(handle->last_error, sizeof handle->last_error, strerror(reader.error));
            rc = -1;
            break;
        }
    }
    LIBMTP_destroy_file_t(file);
    close(fd);
    return rc;
}

uint32_t mtp_bridge_create_folder(mtp_bridge_handle* handle, uint32_t storage_id,
                                  uint32_t parent_id, const char* name)
{
    if (!handle || !handle->device || !name)
        return 0;
    char* copy = strdup(name);
    if (!copy)
        return 0;
    uint32_t id = LIBMTP_Create_Folder(handle->device, copy, library_parent(parent_id), storage_id);
    free(copy);
    if (id == 0)
        note_lost_session(handle);
    return id;
}

int32_t mtp_bridge_delete_object(mtp_bridge_handle* handle, uint32_t object_id)
{
    if (!handle || !handle->device)
        return -1;
    const int rc = LIBMTP_Delete_Object(handle->device, object_id);
    if (rc != 0)
        note_lost_session(handle);
    return rc;
}

int32_t mtp_bridge_rename_object(mtp_bridge_handle* handle, uint32_t object_id,
                                 const char* new_name)
{
    if (!handle || !handle->device || !new_name)
        return -1;
    LIBMTP_file_t* meta = LIBMTP_Get_Filemetadata(handle->device, object_id);
    if (!meta) {
        note_lost_session(handle);
        return -1;
    }
    int rc;
    if (meta->filetype == LIBMTP_FILETYPE_FOLDER) {
        /* libmtp rewrites the record's name on success, so it gets a folder record of its own. */
        LIBMTP_folder_t folder;
        memset(&folder, 0, sizeof folder);
        folder.folder_id = meta->item_id;
        folder.parent_id = meta->parent_id;
        folder.storage_id = meta->storage_id;
        folder.name = strdup(meta->filename ? meta->filename : "");
        rc = folder.name ? LIBMTP_Set_Folder_Name(handle->device, &folder, new_name) : -1;
        free(folder.name);
    } else {
        rc = LIBMTP_Set_File_Name(handle->device, meta, new_name);
    }
    LIBMTP_destroy_file_t(meta);
    if (rc != 0)
        note_lost_session(handle);
    return rc;
}
