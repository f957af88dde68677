/* The interface between the simulated-bus driver (bus_driver.c, kernel side, C) and
 * the host library that carries the machine and its device models (host_library.cpp,
 * an ordinary DLL loaded into Wine's driver process), and the control requests the
 * user-mode tool (control_tool.cpp) sends the bus.
 *
 * Every function returns a Win32 error code, 0 for success: the driver hands it on to
 * the caller as the NTSTATUS 0xC007xxxx, which both Windows and Wine turn back into
 * the same code. Texts are UTF-16 (WCHAR) and stay owned by the library; they live as
 * long as the loaded machine, which is the rest of the driver process's life. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef FWHOST_BUILDING_LIBRARY
#define FWHOST_API __declspec(dllexport)
#else
#define FWHOST_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The bus's control device, opened by the tool as \\.\FwSimControl. */
#define FWHOST_CONTROL_DEVICE L"\\Device\\FwSimControl"
#define FWHOST_CONTROL_LINK L"\\DosDevices\\FwSimControl"

/* Control requests: FILE_DEVICE_UNKNOWN, functions 0x800 on, METHOD_BUFFERED,
 * FILE_ANY_ACCESS. */
#define FWHOST_CONTROL_CODE(function) ((0x22u << 16) | ((function) << 2))
/* In: struct fwhost_load_request, the source name (UTF-8), the scenario text (UTF-8).
 * Out: a UTF-8 message when the library refuses the scenario. */
#define FWHOST_IOCTL_LOAD FWHOST_CONTROL_CODE(0x800u)
/* Out: struct fwhost_status. */
#define FWHOST_IOCTL_STATUS FWHOST_CONTROL_CODE(0x801u)
/* In: int32_t exit code. Out: struct fwhost_finish_reply. */
#define FWHOST_IOCTL_FINISH FWHOST_CONTROL_CODE(0x802u)
/* In: struct fwhost_read_request. Out: the bytes. */
#define FWHOST_IOCTL_READ FWHOST_CONTROL_CODE(0x803u)

#define FWHOST_LOAD_RECORD_REQUESTS 0x1u

struct fwhost_load_request {
    uint32_t flags;
    uint32_t source_name_bytes;
    uint32_t scenario_bytes;
};

struct fwhost_status {
    uint32_t loaded;   /* a machine is loaded */
    uint32_t children; /* devices the bus reports */
    uint32_t started;  /* of them, started with their properties and interfaces */
    uint32_t failed;   /* of them, failed to start */
};

/* What FWHOST_IOCTL_READ reads. */
#define FWHOST_TEXT_STATE 0u
#define FWHOST_TEXT_REQUESTS 1u

struct fwhost_finish_reply {
    uint64_t state_bytes;
    uint64_t request_bytes;
};

struct fwhost_read_request {
    uint32_t text;
    uint32_t reserved;
    uint64_t offset;
};

/* One device property, DEVPROP_TYPE_STRING. */
struct fwhost_property {
    uint32_t key_data1; /* DEVPROPKEY, spelled out so both sides agree without headers */
    uint16_t key_data2;
    uint16_t key_data3;
    uint8_t key_data4[8];
    uint32_t key_pid;
    const uint16_t* text; /* with its NUL */
    uint32_t bytes;       /* of text, NUL included */
};

#define FWHOST_INTERFACE_NONE 0u
#define FWHOST_INTERFACE_REGISTERED 1u /* registered, never enabled: no path to read */
#define FWHOST_INTERFACE_ENABLED 2u

struct fwhost_child {
    const uint16_t* device_id;
    const uint16_t* instance_part;
    const uint16_t* hardware_ids; /* REG_MULTI_SZ; NULL: the query fails */
    uint32_t hardware_ids_bytes;
    uint32_t is_disk; /* else a controller or another device node */
    uint32_t interface_state;
    uint32_t interface_data1; /* the interface class GUID */
    uint16_t interface_data2;
    uint16_t interface_data3;
    uint8_t interface_data4[8];
    const struct fwhost_property* properties;
    uint32_t property_count;
};

struct fwhost_drive_link {
    uint32_t number; /* \DosDevices\PhysicalDrive<number> */
};

FWHOST_API uint32_t fwhost_load(const struct fwhost_load_request* request, const char* source_name,
                                const char* scenario, char* message, uint32_t message_size,
                                uint32_t* message_bytes);
FWHOST_API uint32_t fwhost_child_count(void);
FWHOST_API const struct fwhost_child* fwhost_child_at(uint32_t index);
FWHOST_API uint32_t fwhost_drive_link_count(void);
FWHOST_API const struct fwhost_drive_link* fwhost_drive_link_at(uint32_t index);

/* The access an open asks for, when the driver process is not told it: Wine 8's
 * IRP_MJ_CREATE carries no security context. */
#define FWHOST_ACCESS_UNKNOWN 0xFFFFFFFFu

/* An open of child `index`'s interface, or of drive link `index`. */
FWHOST_API uint32_t fwhost_open_interface(uint32_t index, uint32_t access, uint32_t share,
                                          uint32_t* file);
FWHOST_API uint32_t fwhost_open_drive_link(uint32_t index, uint32_t access, uint32_t share,
                                           uint32_t* file);
FWHOST_API void fwhost_close(uint32_t file);

/* One METHOD_BUFFERED request: `buffer` holds in_size bytes of input and has room for
 * max(in_size, out_size); on success it holds the reply's first *returned bytes. */
FWHOST_API uint32_t fwhost_io(uint32_t file, uint32_t code, void* buffer, uint32_t in_size,
                              uint32_t out_size, uint32_t* returned);

FWHOST_API uint32_t fwhost_finish(int32_t exit_code, struct fwhost_finish_reply* reply);
FWHOST_API uint32_t fwhost_read(uint32_t text, uint64_t offset, void* buffer, uint32_t size,
                                uint32_t* copied);

#ifdef __cplusplus
}
#endif
