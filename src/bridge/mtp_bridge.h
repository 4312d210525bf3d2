/* Flat C layer over libmtp: fixed-size records, textual device ids, one handle per open device. */
#ifndef QB_MTP_BRIDGE_H
#define QB_MTP_BRIDGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct LIBMTP_mtpdevice_struct;

typedef struct mtp_bridge_handle
{
    struct LIBMTP_mtpdevice_struct* device;
    char last_error[512];
    /* The errno of the last failed write to a local file (0: none), e.g. ENOSPC. */
    int local_errno;
    /* Set once a request failed in the transport (a time-out, a stall, an I/O error, a data
     * phase broken off) or the phone answered that no session is open: libmtp does not recover
     * from either, so every later request on this handle would fail. Only a new session (close
     * and open again) mends it. */
    int32_t session_lost;
    /* The bytes a download that ended with MTP_BRIDGE_SIZE_MISMATCH wrote. */
    uint64_t received_bytes;
    /* Of the last upload: the object the phone made for it (0: none yet), the size announced,
     * and whether the data phase gave the phone every byte. A failed upload with an object and
     * every byte sent is one whose answer was lost: the phone may well hold the whole file. */
    uint32_t sent_object_id;
    uint64_t sent_size;
    int32_t sent_whole;
} mtp_bridge_handle;

typedef struct mtp_bridge_device_info
{
    char id[64];
    char friendly_name[256];
    char manufacturer[128];
    char model[128];
    char serial_number[64];
} mtp_bridge_device_info;

typedef struct mtp_bridge_storage_info
{
    uint32_t storage_id;
    char description[256];
    uint64_t capacity_bytes;
    uint64_t free_bytes;
} mtp_bridge_storage_info;

typedef struct mtp_bridge_file_info
{
    uint32_t object_id;
    uint32_t parent_id;
    uint32_t storage_id;
    char name[512];
    char path[1024];
    int32_t is_folder;
    uint64_t size;
    int64_t mtime;
    char mime_type[128];
} mtp_bridge_file_info;

/* Nonzero asks libmtp to abort the transfer. */
typedef int32_t (*mtp_bridge_progress_fn)(uint64_t sent, uint64_t total, void* context);

/* Initialises libmtp; safe to call any number of times from any thread (it runs once). */
void mtp_bridge_init(void);

/* No device attached gives NULL with count 0; a detection that fails gives NULL with count -1. */
mtp_bridge_device_info* mtp_bridge_list_devices(int32_t* count);
void mtp_bridge_free(void* array);

mtp_bridge_handle* mtp_bridge_open_device(const char* device_id);
void mtp_bridge_close_device(mtp_bridge_handle* handle);
const char* mtp_bridge_last_error(const mtp_bridge_handle* handle);

/* 1 when the device with this id is on the bus but another program holds its MTP interface. */
int32_t mtp_bridge_device_busy(const char* device_id);

mtp_bridge_storage_info* mtp_bridge_list_storages(mtp_bridge_handle* handle, int32_t* count);

/* Parent 0 is the storage's root folder. An empty folder gives NULL with count 0; a failed
 * listing gives NULL with count -1 and its error text in last_error. A listing that the phone
 * answered only in part (it refused the information of some items, as a phone that is locking or
 * waking does) gives NULL with MTP_BRIDGE_LISTING_INCOMPLETE, never the shorter list. */
#define MTP_BRIDGE_LISTING_INCOMPLETE (-2)
mtp_bridge_file_info* mtp_bridge_list_files(mtp_bridge_handle* handle, uint32_t storage_id,
                                            uint32_t parent_id, int32_t* count);

/* One object as the phone reports it now: 0, MTP_BRIDGE_NO_SUCH_OBJECT when the phone answers
 * that it has no such object, or -1 with the error in last_error. */
#define MTP_BRIDGE_NO_SUCH_OBJECT (-2)
int32_t mtp_bridge_get_file_info(mtp_bridge_handle* handle, uint32_t object_id,
                                 mtp_bridge_file_info* out);

/* A transfer whose source is not a plain file (a folder on either side, a device node or FIFO
 * here) fails with this before any data moves; last_error says which. Other failures give -1. */
#define MTP_BRIDGE_NOT_A_FILE (-2)
/* An upload whose local file shrank, or was written to, while it was sent: nothing of it is kept
 * on the phone, and last_error says which. */
#define MTP_BRIDGE_SOURCE_CHANGED (-3)

/* A download that ended with another number of bytes than libmtp gave as the object's size: the
 * file is left at local_path, received_bytes says how many it holds, and the caller decides
 * (libmtp keeps an object's size from the first time it read it, so a file edited on the phone
 * since then comes with its new size) and removes the file if it refuses it. */
#define MTP_BRIDGE_SIZE_MISMATCH (-4)

/* A download ends only with as many bytes as the phone announced for the object (when it
 * announced a size), or with MTP_BRIDGE_SIZE_MISMATCH; other failures give -1 and leave no file.
 * A phone that sends far more than announced is cut off (-1, and the session is lost). */
int32_t mtp_bridge_download_file(mtp_bridge_handle* handle, uint32_t object_id,
                                 const char* local_path, mtp_bridge_progress_fn progress,
                                 void* context);
int32_t mtp_bridge_upload_file(mtp_bridge_handle* handle, const char* local_path,
                               uint32_t storage_id, uint32_t parent_id,
                               mtp_bridge_progress_fn progress, void* context);

/* Returns the new folder's object id, 0 on failure. */
uint32_t mtp_bridge_create_folder(mtp_bridge_handle* handle, uint32_t storage_id,
                                  uint32_t parent_id, const char* name);
int32_t mtp_bridge_delete_object(mtp_bridge_handle* handle, uint32_t object_id);
int32_t mtp_bridge_rename_object(mtp_bridge_handle* handle, uint32_t object_id,
                                 const char* new_name);

#ifdef __cplusplus
}
#endif

#endif
