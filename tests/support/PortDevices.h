#pragma once
// Serial port devices in the system's device list, written into the registry as the USB bus
// driver and the Ports class installer write them, and removed again when the object goes.

#include "support/RegistryKeys.h"

#include <string>

struct PortDevice {
    std::string ids = "VID_10C4&PID_EA60"; // the USB identity in the instance ID
    std::string instance;                  // the last part of the instance ID: the serial
    std::string service = "silabser";      // the driver's service
    std::string description = "Silicon Labs CP210x USB to UART Bridge";
    std::string busDescription; // the product text the device reports; none when empty
    std::string portName;       // "PortName" under Device Parameters; none when empty
};

inline PortDevice Device(const std::string& ids, const std::string& instance,
                         const std::string& portName, const std::string& service = "silabser") {
    PortDevice device;
    device.ids = ids;
    device.instance = instance;
    device.portName = portName;
    device.service = service;
    return device;
}

class PortDevices {
  public:
    // Adds the device under Enum\USB\<ids>\<instance>; false when a key or value failed.
    bool Add(const PortDevice& device);

  private:
    RegistryKeys m_keys;
};
