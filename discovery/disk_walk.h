// The walk both drive enumerations share: the present disks, in set order, whose
// parent device carries a vendor's PCI token.
#pragma once

#include "discovery/device_setup.h"
#include "platform/win32.h"

// Hands `visit(set, element)` each disk element whose parent device carries
// `vendorToken` (an unreadable parent carries none); `visit` returns false to end the
// walk at once. The result is false when the set cannot be had or the walk was ended
// early.
template <typename Visit>
bool ForEachDiskBelow(const wchar_t* vendorToken, Visit visit) {
    DeviceInfoSet set(win::GUID_DEVINTERFACE_DISK, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (!set.IsOpen()) {
        return false;
    }
    SP_DEVINFO_DATA element{};
    for (DWORD index = 0; set.Element(index, element); ++index) {
        std::wstring parent;
        ReadDevicePropertyText(set.Get(), &element, win::DEVPKEY_Device_Parent, parent);
        if (Contains(parent, vendorToken) && !visit(set.Get(), element)) {
            return false;
        }
    }
    return true;
}
