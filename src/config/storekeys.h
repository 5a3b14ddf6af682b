// The keys of the configuration store: the product key and its six
// sub-keys, the layout of the Windows registry the service was built for.
#pragma once

namespace tv {

inline constexpr const char* kProductKey = "SOFTWARE\\Orvane Group\\Tovalin+";
inline constexpr const char* kDevicesKey = "SOFTWARE\\Orvane Group\\Tovalin+\\Devices";
inline constexpr const char* kDeviceTypesKey = "SOFTWARE\\Orvane Group\\Tovalin+\\DeviceTypes";
inline constexpr const char* kDeviceBarcodeTypesKey = "SOFTWARE\\Orvane Group\\Tovalin+\\DeviceBarcodeTypes";
inline constexpr const char* kDeviceUseByInDaysKey = "SOFTWARE\\Orvane Group\\Tovalin+\\DeviceUseByInDays";
inline constexpr const char* kDeviceConstBCKey = "SOFTWARE\\Orvane Group\\Tovalin+\\DeviceConstBC";
inline constexpr const char* kDeviceResultsKey = "SOFTWARE\\Orvane Group\\Tovalin+\\DeviceResults";

// Every key, in the order a first start creates them.
inline constexpr const char* kStoreKeys[] = {
    kProductKey,       kDevicesKey,           kDeviceTypesKey,   kDeviceResultsKey,
    kDeviceBarcodeTypesKey, kDeviceUseByInDaysKey, kDeviceConstBCKey,
};

}  // namespace tv
