#include "drivers/watch.h"

namespace watch {
namespace {

Watcher* current = nullptr;

}  // namespace

Watcher* Current() {
    return current;
}

void Install(Watcher* watcher) {
    current = watcher;
}

Property PropertyOf(const DEVPROPKEY& key) {
    if (win::SameKey(key, win::DEVPKEY_Device_Parent)) {
        return Property::Parent;
    }
    if (win::SameKey(key, win::DEVPKEY_Device_InstanceId)) {
        return Property::InstanceId;
    }
    if (win::SameKey(key, win::DEVPKEY_Device_LocationInfo)) {
        return Property::LocationInfo;
    }
    if (win::SameKey(key, win::DEVPKEY_Device_DriverDesc)) {
        return Property::DriverDescription;
    }
    return Property::Other;
}

}  // namespace watch
