/* fwsimbus.sys: the simulated storage bus in Wine's driver process.
 *
 * A root-enumerated bus driver. Until the tool loads a machine through the control
 * device it has no children; then it creates one raw child PDO per device of the
 * machine and one device object per physical-drive number, and asks the PnP manager
 * to enumerate the children. Everything about a device (its IDs, properties,
 * interface, how it answers an open or a request) comes from the host library
 * (host_abi.h); this file only does the kernel's part: device objects, PnP, links,
 * and carrying opens, closes and requests across. */
#include <ntddk.h>
/* clang-format off: devpropdef.h needs the types ntddk.h brings. */
#include <devpropdef.h>
/* clang-format on */

#include "winehost/host_abi.h"

#ifndef LOCALE_NEUTRAL
#define LOCALE_NEUTRAL 0
#endif

enum node_kind {
    NODE_BUS,     /* the bus FDO over the root PDO */
    NODE_CONTROL, /* \Device\FwSimControl, the tool's way in */
    NODE_CHILD,   /* a device of the machine: opened through its interface */
    NODE_DRIVE,   /* a physical-drive number: opened as \\.\PHYSICALDRIVE<n> */
};

struct node {
    enum node_kind kind;
    ULONG index; /* NODE_CHILD: child number; NODE_DRIVE: drive-link number */
    BOOLEAN started;
    UNICODE_STRING interface_link;
};

/* A link someone else made that a drive number of the machine needed, or that would
 * let the program reach a disk the machine does not have. Given back at unload. */
struct borrowed_link {
    WCHAR name[48];
    WCHAR target[256];
};

#define MAX_BORROWED 8
/* Wine's mount manager names the host's disks PhysicalDrive0 upwards. */
#define WINE_DRIVE_NUMBERS 8

static DRIVER_OBJECT* the_driver;
static DEVICE_OBJECT *bus_fdo, *bus_pdo, *control_device;
static DEVICE_OBJECT** children;
static ULONG child_count;
static DEVICE_OBJECT** drives;
static ULONG drive_count;
static volatile LONG started_count, failed_count;
static BOOLEAN loaded;
static struct borrowed_link borrowed[MAX_BORROWED];
static ULONG borrowed_count;

static NTSTATUS complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* A Win32 error as the NTSTATUS that Windows and Wine both turn back into it. */
static NTSTATUS from_win32(ULONG error) {
    return error == 0 ? STATUS_SUCCESS : (NTSTATUS)(0xC0070000u | (error & 0xFFFFu));
}

static SIZE_T text_length(const WCHAR* text) {
    SIZE_T n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return n;
}

/* Appends `prefix` and `number` in decimal to an empty buffer of `size` characters. */
static void numbered_name(WCHAR* buffer, SIZE_T size, const WCHAR* prefix, ULONG number) {
    WCHAR digits[12];
    SIZE_T n = 0, d = 0;
    while (prefix[n] != 0 && n + 1 < size) {
        buffer[n] = prefix[n];
        ++n;
    }
    do {
        digits[d++] = (WCHAR)(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (d > 0 && n + 1 < size) {
        buffer[n++] = digits[--d];
    }
    buffer[n] = 0;
}

static WCHAR* copy_to_pool(const void* data, SIZE_T bytes) {
    WCHAR* copy = ExAllocatePool(PagedPool, bytes);
    if (copy != NULL) {
        RtlCopyMemory(copy, data, bytes);
    }
    return copy;
}

static WCHAR* copy_text(const uint16_t* text) {
    return copy_to_pool(text, (text_length((const WCHAR*)text) + 1) * sizeof(WCHAR));
}

static GUID interface_guid(const struct fwhost_child* child) {
    GUID guid;
    ULONG i;
    guid.Data1 = child->interface_data1;
    guid.Data2 = child->interface_data2;
    guid.Data3 = child->interface_data3;
    for (i = 0; i < 8; ++i) {
        guid.Data4[i] = child->interface_data4[i];
    }
    return guid;
}

static DEVPROPKEY property_key(const struct fwhost_property* property) {
    DEVPROPKEY key;
    ULONG i;
    key.fmtid.Data1 = property->key_data1;
    key.fmtid.Data2 = property->key_data2;
    key.fmtid.Data3 = property->key_data3;
    for (i = 0; i < 8; ++i) {
        key.fmtid.Data4[i] = property->key_data4[i];
    }
    key.pid = property->key_pid;
    return key;
}

/* ------------------------------------------------------------------------------ */
/* Links */

/* Takes a link another driver made out of the way, remembering where it pointed. */
static void borrow_link(const WCHAR* name) {
    UNICODE_STRING link_name, target;
    OBJECT_ATTRIBUTES attributes;
    struct borrowed_link* entry;
    HANDLE handle;
    ULONG length = 0;

    if (borrowed_count == MAX_BORROWED) {
        return;
    }
    entry = &borrowed[borrowed_count];
    RtlInitUnicodeString(&link_name, name);
    InitializeObjectAttributes(&attributes, &link_name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    if (ZwOpenSymbolicLinkObject(&handle, GENERIC_READ, &attributes) != STATUS_SUCCESS) {
        return;
    }
    target.Buffer = entry->target;
    target.Length = 0;
    target.MaximumLength = sizeof(entry->target) - sizeof(WCHAR);
    if (ZwQuerySymbolicLinkObject(handle, &target, &length) == STATUS_SUCCESS) {
        entry->target[target.Length / sizeof(WCHAR)] = 0;
        RtlCopyMemory(entry->name, name, (text_length(name) + 1) * sizeof(WCHAR));
        ++borrowed_count;
    }
    ZwClose(handle);
    IoDeleteSymbolicLink(&link_name);
}

static void give_back_links(void) {
    UNICODE_STRING name, target;
    while (borrowed_count > 0) {
        --borrowed_count;
        RtlInitUnicodeString(&name, borrowed[borrowed_count].name);
        RtlInitUnicodeString(&target, borrowed[borrowed_count].target);
        IoCreateSymbolicLink(&name, &target);
    }
}

/* ------------------------------------------------------------------------------ */
/* Loading a machine: the children and the physical-drive objects */

static NTSTATUS create_node(const WCHAR* prefix, ULONG number, DEVICE_TYPE type,
                            enum node_kind kind, ULONG index, DEVICE_OBJECT** device) {
    WCHAR name_buffer[48];
    UNICODE_STRING name;
    struct node* node;
    NTSTATUS status;

    numbered_name(name_buffer, 48, prefix, number);
    RtlInitUnicodeString(&name, name_buffer);
    /* PDOs need a name: Wine points interface links at it. */
    status = IoCreateDevice(the_driver, sizeof(struct node), &name, type, FILE_DEVICE_SECURE_OPEN,
                            FALSE, device);
    if (status != STATUS_SUCCESS) {
        return status;
    }
    node = (*device)->DeviceExtension;
    RtlZeroMemory(node, sizeof(*node));
    node->kind = kind;
    node->index = index;
    (*device)->Flags |= DO_BUFFERED_IO;
    (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static NTSTATUS link_drive(ULONG index, ULONG number) {
    WCHAR link_buffer[48], device_buffer[48];
    UNICODE_STRING link, device;

    numbered_name(link_buffer, 48, L"\\DosDevices\\PhysicalDrive", number);
    numbered_name(device_buffer, 48, L"\\Device\\FwSimDrive", index);
    RtlInitUnicodeString(&link, link_buffer);
    RtlInitUnicodeString(&device, device_buffer);
    /* Wine's mount manager may hold the name for a disk of the host. */
    borrow_link(link_buffer);
    return IoCreateSymbolicLink(&link, &device);
}

static NTSTATUS create_machine_devices(void) {
    ULONG i, n;
    NTSTATUS status;

    child_count = fwhost_child_count();
    drive_count = fwhost_drive_link_count();
    children = ExAllocatePool(NonPagedPool, (child_count + 1) * sizeof(*children));
    drives = ExAllocatePool(NonPagedPool, (drive_count + 1) * sizeof(*drives));
    if (children == NULL || drives == NULL) {
        return STATUS_NO_MEMORY;
    }
    for (i = 0; i < drive_count; ++i) {
        status =
            create_node(L"\\Device\\FwSimDrive", i, FILE_DEVICE_DISK, NODE_DRIVE, i, &drives[i]);
        if (status == STATUS_SUCCESS) {
            status = link_drive(i, fwhost_drive_link_at(i)->number);
        }
        if (status != STATUS_SUCCESS) {
            return status;
        }
    }
    /* A number the machine does not use must not reach one of the host's own disks. */
    for (n = 0; n < WINE_DRIVE_NUMBERS; ++n) {
        WCHAR name[48];
        BOOLEAN ours = FALSE;
        for (i = 0; i < drive_count; ++i) {
            ours = ours || fwhost_drive_link_at(i)->number == n;
        }
        if (!ours) {
            numbered_name(name, 48, L"\\DosDevices\\PhysicalDrive", n);
            borrow_link(name);
        }
    }
    for (i = 0; i < child_count; ++i) {
        const struct fwhost_child* child = fwhost_child_at(i);
        status = create_node(L"\\Device\\FwSimNode", i,
                             child->is_disk ? FILE_DEVICE_DISK : FILE_DEVICE_CONTROLLER, NODE_CHILD,
                             i, &children[i]);
        if (status != STATUS_SUCCESS) {
            return status;
        }
    }
    return STATUS_SUCCESS;
}

/* ------------------------------------------------------------------------------ */
/* Child PDOs */

/* A device without hardware IDs: Wine's PnP manager registers a device only once
 * it has its hardware IDs, so the child reports an empty list and its stored value
 * goes again here, once the device is registered. */
static NTSTATUS forget_hardware_ids(const struct fwhost_child* child) {
    static const WCHAR enum_root[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\";
    SIZE_T root_length = text_length(enum_root);
    SIZE_T id_length = text_length((const WCHAR*)child->device_id);
    SIZE_T part_length = text_length((const WCHAR*)child->instance_part);
    SIZE_T length = root_length + id_length + 1 + part_length;
    UNICODE_STRING path, value;
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    NTSTATUS status;
    WCHAR* buffer = ExAllocatePool(PagedPool, (length + 1) * sizeof(WCHAR));

    if (buffer == NULL) {
        return STATUS_NO_MEMORY;
    }
    RtlCopyMemory(buffer, enum_root, root_length * sizeof(WCHAR));
    RtlCopyMemory(buffer + root_length, child->device_id, id_length * sizeof(WCHAR));
    buffer[root_length + id_length] = L'\\';
    RtlCopyMemory(buffer + root_length + id_length + 1, child->instance_part,
                  (part_length + 1) * sizeof(WCHAR));
    RtlInitUnicodeString(&path, buffer);
    RtlInitUnicodeString(&value, L"HardwareID");
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    status = ZwOpenKey(&key, KEY_SET_VALUE, &attributes);
    if (status == STATUS_SUCCESS) {
        status = ZwDeleteValueKey(key, &value);
        ZwClose(key);
    }
    ExFreePool(buffer);
    return status;
}

static NTSTATUS start_child(DEVICE_OBJECT* pdo, struct node* node) {
    const struct fwhost_child* child = fwhost_child_at(node->index);
    NTSTATUS status = STATUS_SUCCESS;
    ULONG i;

    if (child == NULL) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    /* Properties first: once the interface is enabled the program may read them. */
    for (i = 0; i < child->property_count && status == STATUS_SUCCESS; ++i) {
        const struct fwhost_property* property = &child->properties[i];
        DEVPROPKEY key = property_key(property);
        status = IoSetDevicePropertyData(pdo, &key, LOCALE_NEUTRAL, 0, DEVPROP_TYPE_STRING,
                                         property->bytes, (void*)property->text);
    }
    if (status == STATUS_SUCCESS && child->hardware_ids == NULL) {
        status = forget_hardware_ids(child);
    }
    if (status == STATUS_SUCCESS && child->interface_state != FWHOST_INTERFACE_NONE) {
        GUID guid = interface_guid(child);
        status = IoRegisterDeviceInterface(pdo, &guid, NULL, &node->interface_link);
        /* Registered but not enabled: the device is in its interface's set without an
         * interface to enumerate, as a scenario's "interfacePath": null asks. */
        if (status == STATUS_SUCCESS && child->interface_state == FWHOST_INTERFACE_ENABLED) {
            status = IoSetDeviceInterfaceState(&node->interface_link, TRUE);
        }
    }
    return status;
}

static const WCHAR no_ids[2] = {0, 0};

static NTSTATUS child_query_id(struct node* node, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const struct fwhost_child* child = fwhost_child_at(node->index);
    WCHAR* id = NULL;

    if (child == NULL) {
        return irp->IoStatus.Status;
    }
    switch (stack->Parameters.QueryId.IdType) {
        case BusQueryDeviceID:
            id = copy_text(child->device_id);
            break;
        case BusQueryInstanceID:
            id = copy_text(child->instance_part);
            break;
        case BusQueryHardwareIDs:
            /* None at all ("hardwareIds": null) is an empty list here; see
             * forget_hardware_ids. */
            id = child->hardware_ids != NULL
                     ? copy_to_pool(child->hardware_ids, child->hardware_ids_bytes)
                     : copy_to_pool(no_ids, sizeof no_ids);
            break;
        case BusQueryCompatibleIDs:
            id = copy_to_pool(no_ids, sizeof no_ids);
            break;
        default:
            return irp->IoStatus.Status;
    }
    if (id == NULL) {
        return STATUS_NO_MEMORY;
    }
    irp->IoStatus.Information = (ULONG_PTR)id;
    return STATUS_SUCCESS;
}

static NTSTATUS child_pnp(DEVICE_OBJECT* device, struct node* node, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = irp->IoStatus.Status;

    switch (stack->MinorFunction) {
        case IRP_MN_QUERY_ID:
            status = child_query_id(node, irp);
            return complete(irp, status, status == STATUS_SUCCESS ? irp->IoStatus.Information : 0);
        case IRP_MN_QUERY_CAPABILITIES: {
            DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
            /* No function driver exists for these IDs; the PnP manager starts them raw. */
            caps->RawDeviceOK = 1;
            caps->UniqueID = 1;
            caps->SilentInstall = 1;
            status = STATUS_SUCCESS;
            break;
        }
        case IRP_MN_START_DEVICE:
            if (!node->started) {
                status = start_child(device, node);
                node->started = status == STATUS_SUCCESS;
                InterlockedIncrement(status == STATUS_SUCCESS ? &started_count : &failed_count);
            } else {
                status = STATUS_SUCCESS;
            }
            break;
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
            status = STATUS_SUCCESS;
            break;
        case IRP_MN_REMOVE_DEVICE:
            if (node->started && node->interface_link.Buffer != NULL) {
                IoSetDeviceInterfaceState(&node->interface_link, FALSE);
            }
            node->started = FALSE;
            status = STATUS_SUCCESS;
            break;
        default:
            break;
    }
    return complete(irp, status, irp->IoStatus.Information);
}

/* ------------------------------------------------------------------------------ */
/* The bus FDO */

static NTSTATUS create_control_device(void) {
    UNICODE_STRING name, link;
    NTSTATUS status;

    RtlInitUnicodeString(&name, FWHOST_CONTROL_DEVICE);
    RtlInitUnicodeString(&link, FWHOST_CONTROL_LINK);
    status = IoCreateDevice(the_driver, sizeof(struct node), &name, FILE_DEVICE_UNKNOWN, 0, FALSE,
                            &control_device);
    if (status != STATUS_SUCCESS) {
        return status;
    }
    RtlZeroMemory(control_device->DeviceExtension, sizeof(struct node));
    ((struct node*)control_device->DeviceExtension)->kind = NODE_CONTROL;
    control_device->Flags |= DO_BUFFERED_IO;
    control_device->Flags &= ~DO_DEVICE_INITIALIZING;
    return IoCreateSymbolicLink(&link, &name);
}

static NTSTATUS bus_pnp(IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);

    switch (stack->MinorFunction) {
        case IRP_MN_START_DEVICE:
            /* The control device appears with a started bus, so a machine loaded
             * through it always has a bus to be enumerated on. */
            if (control_device == NULL) {
                NTSTATUS status = create_control_device();
                if (status != STATUS_SUCCESS) {
                    return complete(irp, status, 0);
                }
            }
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        case IRP_MN_QUERY_DEVICE_RELATIONS:
            if (stack->Parameters.QueryDeviceRelations.Type == BusRelations) {
                ULONG count = loaded ? child_count : 0, i;
                DEVICE_RELATIONS* relations = ExAllocatePool(
                    PagedPool, sizeof(DEVICE_RELATIONS) + (count + 1) * sizeof(DEVICE_OBJECT*));
                if (relations == NULL) {
                    return complete(irp, STATUS_NO_MEMORY, 0);
                }
                relations->Count = count;
                for (i = 0; i < count; ++i) {
                    relations->Objects[i] = children[i];
                    ObReferenceObject(children[i]);
                }
                irp->IoStatus.Information = (ULONG_PTR)relations;
                irp->IoStatus.Status = STATUS_SUCCESS;
            }
            break;
        case IRP_MN_REMOVE_DEVICE: {
            NTSTATUS status;
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoSkipCurrentIrpStackLocation(irp);
            status = IoCallDriver(bus_pdo, irp);
            IoDetachDevice(bus_pdo);
            IoDeleteDevice(bus_fdo);
            bus_fdo = NULL;
            return status;
        }
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_STOP_DEVICE:
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        default:
            break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(bus_pdo, irp);
}

/* ------------------------------------------------------------------------------ */
/* The control device */

static NTSTATUS control_load(IRP* irp, ULONG in_size, ULONG out_size) {
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
    struct fwhost_load_request request;
    uint32_t error, message_bytes = 0;
    char* copy;
    ULONG reply_room;

    if (in_size < sizeof(request) || out_size < sizeof(uint32_t)) {
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    RtlCopyMemory(&request, buffer, sizeof(request));
    if ((ULONG64)request.source_name_bytes + request.scenario_bytes > in_size - sizeof(request)) {
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    /* The reply goes where the request came from; the library reads its own copy. */
    copy = ExAllocatePool(PagedPool, in_size);
    if (copy == NULL) {
        return complete(irp, STATUS_NO_MEMORY, 0);
    }
    RtlCopyMemory(copy, buffer, in_size);
    reply_room = out_size - sizeof(uint32_t);
    if (bus_pdo == NULL) {
        error = 21; /* ERROR_NOT_READY */
    } else {
        error = fwhost_load(&request, copy + sizeof(request),
                            copy + sizeof(request) + request.source_name_bytes,
                            (char*)buffer + sizeof(uint32_t), reply_room, &message_bytes);
    }
    ExFreePool(copy);
    if (error == 0) {
        NTSTATUS status = create_machine_devices();
        if (status != STATUS_SUCCESS) {
            return complete(irp, status, 0);
        }
        loaded = TRUE;
        IoInvalidateDeviceRelations(bus_pdo, BusRelations);
    }
    RtlCopyMemory(buffer, &error, sizeof(error));
    return complete(irp, STATUS_SUCCESS, sizeof(uint32_t) + message_bytes);
}

static NTSTATUS control_ioctl(IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG in_size = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_size = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case FWHOST_IOCTL_LOAD:
            return control_load(irp, in_size, out_size);
        case FWHOST_IOCTL_STATUS: {
            struct fwhost_status status;
            if (out_size < sizeof(status)) {
                return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
            }
            status.loaded = loaded;
            status.children = loaded ? child_count : 0;
            status.started = (uint32_t)started_count;
            status.failed = (uint32_t)failed_count;
            RtlCopyMemory(buffer, &status, sizeof(status));
            return complete(irp, STATUS_SUCCESS, sizeof(status));
        }
        case FWHOST_IOCTL_FINISH: {
            struct fwhost_finish_reply reply;
            int32_t exit_code;
            uint32_t error;
            if (in_size < sizeof(exit_code) || out_size < sizeof(reply)) {
                return complete(irp, STATUS_INVALID_PARAMETER, 0);
            }
            RtlCopyMemory(&exit_code, buffer, sizeof(exit_code));
            error = fwhost_finish(exit_code, &reply);
            if (error != 0) {
                return complete(irp, from_win32(error), 0);
            }
            RtlCopyMemory(buffer, &reply, sizeof(reply));
            return complete(irp, STATUS_SUCCESS, sizeof(reply));
        }
        case FWHOST_IOCTL_READ: {
            struct fwhost_read_request request;
            uint32_t copied = 0, error;
            if (in_size < sizeof(request)) {
                return complete(irp, STATUS_INVALID_PARAMETER, 0);
            }
            RtlCopyMemory(&request, buffer, sizeof(request));
            error = fwhost_read(request.text, request.offset, buffer, out_size, &copied);
            return complete(irp, from_win32(error), error == 0 ? copied : 0);
        }
        default:
            return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

/* ------------------------------------------------------------------------------ */
/* Opens, closes and requests on the machine's devices */

static NTSTATUS WINAPI dispatch_create(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    struct node* node = device->DeviceExtension;
    IO_SECURITY_CONTEXT* security = stack->Parameters.Create.SecurityContext;
    uint32_t access = security != NULL ? security->DesiredAccess : FWHOST_ACCESS_UNKNOWN;
    uint32_t share = stack->Parameters.Create.ShareAccess;
    uint32_t file = 0, error;

    switch (node->kind) {
        case NODE_CHILD:
            error = fwhost_open_interface(node->index, access, share, &file);
            break;
        case NODE_DRIVE:
            error = fwhost_open_drive_link(node->index, access, share, &file);
            break;
        case NODE_CONTROL:
            return complete(irp, STATUS_SUCCESS, 0);
        default:
            return complete(irp, STATUS_ACCESS_DENIED, 0);
    }
    if (error == 0) {
        stack->FileObject->FsContext = (void*)(ULONG_PTR)file;
    }
    return complete(irp, from_win32(error), 0);
}

static NTSTATUS WINAPI dispatch_close(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    struct node* node = device->DeviceExtension;

    if ((node->kind == NODE_CHILD || node->kind == NODE_DRIVE) && stack->FileObject != NULL &&
        stack->FileObject->FsContext != NULL) {
        fwhost_close((uint32_t)(ULONG_PTR)stack->FileObject->FsContext);
        stack->FileObject->FsContext = NULL;
    }
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS WINAPI dispatch_cleanup(DEVICE_OBJECT* device, IRP* irp) {
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

/* The input and output of a request by its transfer method: the models see one
 * buffer that holds the input and has room for the reply, as METHOD_BUFFERED gives. */
static NTSTATUS device_ioctl(IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in_size = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_size = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG method = code & 3u;
    const void* input = method == METHOD_NEITHER
                            ? stack->Parameters.DeviceIoControl.Type3InputBuffer
                            : irp->AssociatedIrp.SystemBuffer;
    void* output = method == METHOD_BUFFERED ? irp->AssociatedIrp.SystemBuffer : irp->UserBuffer;
    ULONG room = in_size > out_size ? in_size : out_size;
    uint32_t returned = 0, error;
    UCHAR* buffer;

    if (stack->FileObject == NULL || stack->FileObject->FsContext == NULL) {
        return complete(irp, STATUS_INVALID_HANDLE, 0);
    }
    if ((in_size != 0 && input == NULL) || (out_size != 0 && output == NULL)) {
        return complete(irp, STATUS_INVALID_USER_BUFFER, 0);
    }
    if (method == METHOD_BUFFERED) {
        buffer = output != NULL ? output : irp->AssociatedIrp.SystemBuffer;
    } else {
        buffer = ExAllocatePool(PagedPool, room + 1);
        if (buffer == NULL) {
            return complete(irp, STATUS_NO_MEMORY, 0);
        }
        if (in_size != 0) {
            RtlCopyMemory(buffer, input, in_size);
        }
    }
    error = fwhost_io((uint32_t)(ULONG_PTR)stack->FileObject->FsContext, code, buffer, in_size,
                      out_size, &returned);
    if (method != METHOD_BUFFERED) {
        if (error == 0 && returned != 0) {
            RtlCopyMemory(output, buffer, returned);
        }
        ExFreePool(buffer);
    }
    return complete(irp, from_win32(error), error == 0 ? returned : 0);
}

static NTSTATUS WINAPI dispatch_ioctl(DEVICE_OBJECT* device, IRP* irp) {
    struct node* node = device->DeviceExtension;

    switch (node->kind) {
        case NODE_CONTROL:
            return control_ioctl(irp);
        case NODE_CHILD:
        case NODE_DRIVE:
            return device_ioctl(irp);
        default:
            return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static NTSTATUS WINAPI dispatch_pnp(DEVICE_OBJECT* device, IRP* irp) {
    struct node* node = device->DeviceExtension;

    if (node->kind == NODE_BUS) {
        return bus_pnp(irp);
    }
    if (node->kind == NODE_CHILD) {
        return child_pnp(device, node, irp);
    }
    return complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
}

static NTSTATUS WINAPI add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    NTSTATUS status;

    /* One bus per driver process: the tool installs one root device. */
    if (bus_fdo != NULL) {
        return STATUS_SUCCESS;
    }
    status = IoCreateDevice(driver, sizeof(struct node), NULL, FILE_DEVICE_BUS_EXTENDER, 0, FALSE,
                            &bus_fdo);
    if (status != STATUS_SUCCESS) {
        return status;
    }
    RtlZeroMemory(bus_fdo->DeviceExtension, sizeof(struct node));
    ((struct node*)bus_fdo->DeviceExtension)->kind = NODE_BUS;
    bus_pdo = pdo;
    IoAttachDeviceToDeviceStack(bus_fdo, pdo);
    bus_fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void WINAPI unload(DRIVER_OBJECT* driver) {
    UNICODE_STRING link;
    (void)driver;
    if (control_device != NULL) {
        RtlInitUnicodeString(&link, FWHOST_CONTROL_LINK);
        IoDeleteSymbolicLink(&link);
    }
    give_back_links();
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry_path) {
    (void)registry_path;
    the_driver = driver;
    driver->DriverExtension->AddDevice = add_device;
    driver->MajorFunction[IRP_MJ_PNP] = dispatch_pnp;
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_cleanup;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_ioctl;
    driver->DriverUnload = unload;
    return STATUS_SUCCESS;
}
