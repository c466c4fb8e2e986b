#include "iproxy/iproxy_device.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <usbmuxd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kClientLabel = "libiproxy";
constexpr const char* kLockdownType = "com.apple.mobile.lockdown";
constexpr int kLookupOffset = 1000;

// An empty UDID would make the library pick the first device it finds.
int OpenDevice(const std::string& udid, idevice_t* device) {
    if (udid.empty()) return IDEVICE_E_NO_DEVICE;
    return idevice_new_with_options(device, udid.c_str(), IDEVICE_LOOKUP_USBMUX);
}

}  // namespace

std::vector<std::string> IProxyListDevices(std::string& error) {
    std::vector<std::string> udids;
    idevice_info_t* devices = nullptr;
    int count = 0;
    if (idevice_get_device_list_extended(&devices, &count) != IDEVICE_E_SUCCESS) {
        error = "Unable to retrieve device list!";
        return udids;
    }
    for (int i = 0; i < count && devices != nullptr; ++i) {
        if (devices[i] != nullptr && devices[i]->conn_type == CONNECTION_USBMUXD && devices[i]->udid != nullptr) {
            udids.emplace_back(devices[i]->udid);
        }
    }
    if (devices != nullptr) idevice_device_list_extended_free(devices);
    return udids;
}

int IProxyPairDevice(const std::string& udid, std::string& error) {
    idevice_t device = nullptr;
    const int found = OpenDevice(udid, &device);
    if (found != IDEVICE_E_SUCCESS) {
        error = "No device found";
        return found - kLookupOffset;
    }
    lockdownd_client_t client = nullptr;
    lockdownd_error_t result = lockdownd_client_new(device, &client, kClientLabel);
    if (result != LOCKDOWN_E_SUCCESS) {
        error = "Could not connect to lockdownd";
        idevice_free(device);
        return result;
    }
    char* type = nullptr;
    result = lockdownd_query_type(client, &type);
    if (result != LOCKDOWN_E_SUCCESS) {
        error = "QueryType failed";
    } else {
        if (type == nullptr || std::strcmp(type, kLockdownType) != 0) {
            printf("WARNING: QueryType request returned '%s'\n", type != nullptr ? type : "");
        }
        result = lockdownd_pair(client, nullptr);
        if (result != LOCKDOWN_E_SUCCESS) error = "Pair failed";
    }
    free(type);
    lockdownd_client_free(client);
    idevice_free(device);
    return result;
}

int IProxyGetDeviceName(const std::string& udid, std::string& name, std::string& error) {
    idevice_t device = nullptr;
    const int found = OpenDevice(udid, &device);
    if (found != IDEVICE_E_SUCCESS) {
        error = "No device found";
        return found - kLookupOffset;
    }
    lockdownd_client_t client = nullptr;
    lockdownd_error_t result = lockdownd_client_new_with_handshake(device, &client, kClientLabel);
    if (result != LOCKDOWN_E_SUCCESS) {
        error = "Could not connect to lockdownd";
        idevice_free(device);
        return result;
    }
    char* deviceName = nullptr;
    result = lockdownd_get_device_name(client, &deviceName);
    if (result == LOCKDOWN_E_SUCCESS && deviceName != nullptr) {
        name = deviceName;
    } else {
        error = "Could not get device name";
        if (result == LOCKDOWN_E_SUCCESS) result = LOCKDOWN_E_UNKNOWN_ERROR;
    }
    free(deviceName);
    lockdownd_client_free(client);
    idevice_free(device);
    return result;
}

int IProxyConnect(const std::string& udid, uint16_t port) {
    if (udid.empty()) return -1;
    usbmuxd_device_info_t info{};
    if (usbmuxd_get_device(udid.c_str(), &info, DEVICE_LOOKUP_USBMUX) != 1) return -1;
    const int handle = usbmuxd_connect(info.handle, port);
    return handle >= 0 ? handle : -1;
}
