// fwsimhost.dll: the machine and its device models inside Wine's driver process,
// behind the C interface the bus driver calls (host_abi.h).
//
// The driver calls in from two threads (Wine's PnP thread asks for the devices while
// the request thread carries opens and requests), so every entry point takes the
// lock; the device tables do not change once a machine is loaded.
#define FWHOST_BUILDING_LIBRARY
#include "winehost/host_abi.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "winehost/host_core.h"

namespace {

static_assert(sizeof(wchar_t) == sizeof(uint16_t), "the library hands out UTF-16 as WCHAR");
static_assert(winehost::kAccessUnknown == FWHOST_ACCESS_UNKNOWN);

struct ChildTables {
    std::vector<std::vector<fwhost_property>> properties;
    std::vector<struct fwhost_child> children;
    std::vector<struct fwhost_drive_link> driveLinks;
};

struct Library {
    std::mutex lock;
    winehost::HostRun run;
    ChildTables tables;
    std::string state;
    std::string requests;
};

Library& TheLibrary() {
    static Library library;
    return library;
}

template <typename Entry>
uint32_t TableSize(std::vector<Entry> ChildTables::*table) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    return static_cast<uint32_t>((library.tables.*table).size());
}

// The entry stays where it is while the machine is loaded; nullptr past the end.
template <typename Entry>
const Entry* TableEntry(std::vector<Entry> ChildTables::*table, uint32_t index) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    const std::vector<Entry>& entries = library.tables.*table;
    return index < entries.size() ? &entries[index] : nullptr;
}

using Opener = DWORD (winehost::HostRun::*)(std::size_t, DWORD, DWORD, std::uint32_t&);

// Opens a file on what `open` reaches, for the bus driver.
uint32_t OpenThrough(Opener open, uint32_t index, uint32_t access, uint32_t share, uint32_t* file) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    if (file == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return (library.run.*open)(index, access, share, *file);
}

const uint16_t* Units(const std::wstring& text) {
    return reinterpret_cast<const uint16_t*>(text.c_str());
}

void FillGuid(const GUID& guid, uint32_t& data1, uint16_t& data2, uint16_t& data3,
              uint8_t (&data4)[8]) {
    data1 = guid.Data1;
    data2 = guid.Data2;
    data3 = guid.Data3;
    std::memcpy(data4, guid.Data4, sizeof data4);
}

// The C view of the bus layout; it points into the layout, which stays as it is.
ChildTables MakeTables(const winehost::BusLayout& layout) {
    ChildTables tables;
    tables.properties.resize(layout.children.size());
    for (std::size_t i = 0; i < layout.children.size(); ++i) {
        const winehost::BusChild& child = layout.children[i];
        for (const sim::DeviceProperty& property : child.properties) {
            fwhost_property entry{};
            uint8_t data4[8];
            FillGuid(property.key.fmtid, entry.key_data1, entry.key_data2, entry.key_data3, data4);
            std::memcpy(entry.key_data4, data4, sizeof data4);
            entry.key_pid = property.key.pid;
            entry.text = Units(property.text);
            entry.bytes = static_cast<uint32_t>((property.text.size() + 1) * sizeof(wchar_t));
            tables.properties[i].push_back(entry);
        }
        fwhost_child entry{};
        entry.device_id = Units(child.deviceId);
        entry.instance_part = Units(child.instancePart);
        if (child.hardwareIds) {
            entry.hardware_ids = Units(*child.hardwareIds);
            entry.hardware_ids_bytes =
                static_cast<uint32_t>(child.hardwareIds->size() * sizeof(wchar_t));
        }
        entry.is_disk = child.target.kind == sim::DeviceTarget::Kind::Disk;
        entry.interface_state = !child.interfaceClass    ? FWHOST_INTERFACE_NONE
                                : child.interfaceEnabled ? FWHOST_INTERFACE_ENABLED
                                                         : FWHOST_INTERFACE_REGISTERED;
        if (child.interfaceClass) {
            FillGuid(*child.interfaceClass, entry.interface_data1, entry.interface_data2,
                     entry.interface_data3, entry.interface_data4);
        }
        entry.properties = tables.properties[i].data();
        entry.property_count = static_cast<uint32_t>(tables.properties[i].size());
        tables.children.push_back(entry);
    }
    for (const winehost::DriveLink& link : layout.driveLinks) {
        tables.driveLinks.push_back({link.number});
    }
    return tables;
}

uint32_t CopyMessage(const std::string& text, char* message, uint32_t size, uint32_t* bytes) {
    const uint32_t count = static_cast<uint32_t>(std::min<std::size_t>(text.size(), size));
    if (message != nullptr) {
        std::memcpy(message, text.data(), count);
    }
    if (bytes != nullptr) {
        *bytes = message != nullptr ? count : 0;
    }
    return ERROR_INVALID_DATA;
}

}  // namespace

extern "C" {

uint32_t fwhost_load(const fwhost_load_request* request, const char* source_name,
                     const char* scenario, char* message, uint32_t message_size,
                     uint32_t* message_bytes) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    if (message_bytes != nullptr) {
        *message_bytes = 0;
    }
    if (request == nullptr || source_name == nullptr || scenario == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (library.run.Loaded()) {
        // The devices of the first machine are already out there; a second would need
        // a fresh driver process.
        return ERROR_ALREADY_EXISTS;
    }
    std::string error;
    if (!library.run.Load(std::string_view(scenario, request->scenario_bytes),
                          std::string_view(source_name, request->source_name_bytes),
                          (request->flags & FWHOST_LOAD_RECORD_REQUESTS) != 0, error)) {
        return CopyMessage(error, message, message_size, message_bytes);
    }
    library.tables = MakeTables(library.run.Layout());
    return ERROR_SUCCESS;
}

uint32_t fwhost_child_count(void) {
    return TableSize(&ChildTables::children);
}

const fwhost_child* fwhost_child_at(uint32_t index) {
    return TableEntry(&ChildTables::children, index);
}

uint32_t fwhost_drive_link_count(void) {
    return TableSize(&ChildTables::driveLinks);
}

const fwhost_drive_link* fwhost_drive_link_at(uint32_t index) {
    return TableEntry(&ChildTables::driveLinks, index);
}

uint32_t fwhost_open_interface(uint32_t index, uint32_t access, uint32_t share, uint32_t* file) {
    return OpenThrough(&winehost::HostRun::OpenInterface, index, access, share, file);
}

uint32_t fwhost_open_drive_link(uint32_t index, uint32_t access, uint32_t share, uint32_t* file) {
    return OpenThrough(&winehost::HostRun::OpenDriveLink, index, access, share, file);
}

void fwhost_close(uint32_t file) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    library.run.Close(file);
}

uint32_t fwhost_io(uint32_t file, uint32_t code, void* buffer, uint32_t in_size, uint32_t out_size,
                   uint32_t* returned) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    if (returned == nullptr || (buffer == nullptr && (in_size != 0 || out_size != 0))) {
        return ERROR_INVALID_PARAMETER;
    }
    *returned = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const winehost::DeviceAnswer answer =
        library.run.Io(file, code, std::span<const std::uint8_t>(bytes, in_size), out_size);
    if (answer.error == ERROR_SUCCESS) {
        std::copy(answer.reply.begin(), answer.reply.end(), static_cast<std::uint8_t*>(buffer));
        // Not the count a lying device reports past the buffer: Wine would read that
        // many bytes out of its own buffer. The program reads no further than its
        // buffer either way; the request record keeps the reported count.
        *returned = static_cast<uint32_t>(answer.reply.size());
    }
    return answer.error;
}

uint32_t fwhost_finish(int32_t exit_code, fwhost_finish_reply* reply) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    if (reply == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!library.run.Loaded()) {
        return ERROR_NOT_READY;
    }
    library.state = library.run.StateJson(exit_code);
    library.requests = library.run.RequestRecord();
    reply->state_bytes = library.state.size();
    reply->request_bytes = library.requests.size();
    return ERROR_SUCCESS;
}

uint32_t fwhost_read(uint32_t text, uint64_t offset, void* buffer, uint32_t size,
                     uint32_t* copied) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    if (copied == nullptr || (buffer == nullptr && size != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string* source = text == FWHOST_TEXT_STATE      ? &library.state
                                : text == FWHOST_TEXT_REQUESTS ? &library.requests
                                                               : nullptr;
    if (source == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::size_t start = std::min<std::uint64_t>(offset, source->size());
    const std::size_t count = std::min<std::size_t>(size, source->size() - start);
    std::memcpy(buffer, source->data() + start, count);
    *copied = static_cast<uint32_t>(count);
    return ERROR_SUCCESS;
}

}  // extern "C"
