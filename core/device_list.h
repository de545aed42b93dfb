// The machine's serial devices as the COM port browser shows them.
//
// A device record holds what the machine tells about one serial device: its class, the name it
// is shown by, the driver that serves it, the USB vendor and product strings when it sits on a
// USB adapter, its device node and the port name the connection settings reach it by. From a
// list of records come the tree of classes and devices, the details of an entry and the port
// list, one port name per line, that the connection dialog offers.
#pragma once

#include <string>
#include <vector>

#include "model/settings.h"

namespace vir05 {

// The class every serial port of the machine is listed under.
inline constexpr const char* kSerialPortClass = "Порты (COM)";

struct DeviceRecord {
    std::string classId;           // short class key, e.g. "tty"
    std::string classDescription;  // the class's text in the tree
    std::string description;       // the device's name in the tree
    std::string driver;            // the kernel driver serving the device
    std::string manufacturer;      // USB vendor string, when known
    std::string model;             // USB product string, when known
    std::string node;              // device node, e.g. "/dev/ttyUSB0"
    std::string persistentName;    // its stable link under /dev/serial/by-id, when there is one
    std::string portName;          // "COMn" when that text reaches the node, else empty
};

// The port name held in a device's name: "COM" followed by the number n (1 to 255) that appears
// in the text right after "COM". A longer number counts whole, so "(COM12)" gives "COM12" and
// not "COM1", and "COM256" or "COM0" give nothing. When several appear, the highest number
// wins. Empty when the text holds none. Case-sensitive: "com3" is not a port name.
std::string ExtractPortName(const std::string& name);

struct DeviceTreeClass {
    std::string classId;
    std::string description;
    std::vector<DeviceRecord> devices;  // in the order of the records
};

// The classes whose description contains "COM" (case-sensitive), in the order they first
// appear, each with its devices. A class appears only with at least one device.
std::vector<DeviceTreeClass> BuildDeviceTree(const std::vector<DeviceRecord>& records);

// The port list of a tree: for each device of each class in order, the port name in its name
// (ExtractPortName), else its device node when it has one, so an adapter that no "COMn" key
// reaches can still be picked by its path. A name already in the list is not repeated.
std::vector<std::string> PortList(const std::vector<DeviceTreeClass>& tree);
// The same as text: one name per line, each line ended by "\n".
std::string PortListText(const std::vector<DeviceTreeClass>& tree);

// The details lines of the root entry, of a class entry and of a device entry.
std::vector<std::string> RootDetails();
std::vector<std::string> ClassDetails(const DeviceTreeClass& cls);
std::vector<std::string> DeviceDetails(const DeviceRecord& device);

// The "COMn" text (n from 1 to 255) that the connection settings resolve to `node`, or empty.
std::string ComNameForNode(const std::string& node, const IniFile* settings);

// Reads the serial devices from a sysfs-like tree under `root` ("" for the machine itself):
// every entry of root/sys/class/tty whose "device" has a "driver" link, except a serial-core
// port whose "type" reads 0 (no hardware behind it). The node is "/dev/" followed by the entry
// name; the USB manufacturer and product strings come from the nearest parent device directory
// holding them; the persistent name from root/dev/serial/by-id. Records are sorted by node, with
// numbers compared as numbers (ttyS2 before ttyS10). Unreadable parts give empty fields, never
// an error.
std::vector<DeviceRecord> ReadSerialDevices(const std::string& root, const IniFile* settings);

// Fills the description and port name of a record from its other fields: the product string,
// else the persistent name, else a text by driver, followed by " (COMn)" or " (node)".
void NameDevice(DeviceRecord& rec, const IniFile* settings);

// Node names compared with their numbers as numbers.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace vir05
