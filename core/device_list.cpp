#include "core/device_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "model/ports.h"

namespace vir05 {

namespace fs = std::filesystem;

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The first line of a small attribute file, without trailing blanks; empty when unreadable.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

// The driver serving a tty's device. Serial-core puts its own port and controller devices,
// served by its "serial-base" drivers, between the tty and the hardware; the driver shown is the
// one of the hardware above them. Empty when the device has no driver.
std::string DriverOf(const fs::path& device) {
    std::string first;
    fs::path dir = device;
    for (int level = 0; level < 4 && !dir.empty() && dir != dir.root_path();
         ++level, dir = dir.parent_path()) {
        std::error_code ec;
        const fs::path driver = fs::canonical(dir / "driver", ec);
        if (ec) {
            if (level == 0) return {};
            break;
        }
        const std::string name = driver.filename().string();
        if (driver.parent_path().parent_path().filename() != "serial-base") return name;
        if (first.empty()) first = name;
    }
    return first;
}

}  // namespace

std::string ExtractPortName(const std::string& name) {
    int best = 0;
    for (std::size_t at = name.find("COM"); at != std::string::npos;
         at = name.find("COM", at + 1)) {
        std::size_t i = at + 3;
        if (i >= name.size() || !IsDigit(name[i]) || name[i] == '0') continue;
        int n = 0;
        // The whole digit run is the number; a run too long for a port is no port.
        while (i < name.size() && IsDigit(name[i]) && n <= 255)
            n = n * 10 + (name[i++] - '0');
        if (i < name.size() && IsDigit(name[i])) continue;
        if (n <= 255) best = std::max(best, n);
    }
    return best > 0 ? "COM" + std::to_string(best) : std::string();
}

std::vector<DeviceTreeClass> BuildDeviceTree(const std::vector<DeviceRecord>& records) {
    std::vector<DeviceTreeClass> tree;
    for (const DeviceRecord& r : records) {
        if (r.classDescription.find("COM") == std::string::npos) continue;
        auto it = std::find_if(tree.begin(), tree.end(), [&](const DeviceTreeClass& c) {
            return c.classId == r.classId && c.description == r.classDescription;
        });
        if (it == tree.end()) {
            tree.push_back({r.classId, r.classDescription, {}});
            it = tree.end() - 1;
        }
        it->devices.push_back(r);
    }
    return tree;
}

std::vector<std::string> PortList(const std::vector<DeviceTreeClass>& tree) {
    std::vector<std::string> ports;
    for (const DeviceTreeClass& c : tree)
        for (const DeviceRecord& d : c.devices) {
            std::string name = ExtractPortName(d.description);
            if (name.empty()) name = d.node;
            if (!name.empty() && std::find(ports.begin(), ports.end(), name) == ports.end())
                ports.push_back(name);
        }
    return ports;
}

std::string PortListText(const std::vector<DeviceTreeClass>& tree) {
    std::string text;
    for (const std::string& p : PortList(tree))
        text += p + "\n";
    return text;
}

std::vector<std::string> RootDetails() {
    return {"", "Список устройств вашего компьютера"};
}

std::vector<std::string> ClassDetails(const DeviceTreeClass& cls) {
    return {"", "Класс \"" + cls.description + "\"", "", "#"};
}

std::vector<std::string> DeviceDetails(const DeviceRecord& d) {
    std::vector<std::string> lines{"", "Устройство \"" + d.description + "\"", ""};
    auto add = [&](const char* label, const std::string& value) {
        if (!value.empty()) lines.push_back(label + value);
    };
    add("Изготовитель: ", d.manufacturer);
    add("Модель: ", d.model);
    add("Драйвер: ", d.driver);
    add("Файл устройства: ", d.node);
    add("Постоянное имя: ", d.persistentName);
    add("Имя порта: ", d.portName);
    return lines;
}

std::string ComNameForNode(const std::string& node, const IniFile* settings) {
    if (node.empty()) return {};
    for (int n = 1; n <= 255; ++n) {
        const std::string name = "COM" + std::to_string(n);
        if (ResolvePortDevice(name, settings) == node) return name;
    }
    return {};
}

bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && IsDigit(a[ei]))
                ++ei;
            while (ej < b.size() && IsDigit(b[ej]))
                ++ej;
            std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

void NameDevice(DeviceRecord& rec, const IniFile* settings) {
    rec.portName = ComNameForNode(rec.node, settings);
    std::string base = rec.model;
    if (base.empty()) base = rec.persistentName;
    if (base.empty()) {
        if (rec.driver.rfind("serial8250", 0) == 0 || rec.driver == "serial")
            base = "Последовательный порт";
        else if (!rec.driver.empty())
            base = "Последовательный порт " + rec.driver;
        else
            base = "Последовательный порт";
    }
    const std::string where = rec.portName.empty() ? rec.node : rec.portName;
    rec.description = where.empty() ? base : base + " (" + where + ")";
}

std::vector<DeviceRecord> ReadSerialDevices(const std::string& root, const IniFile* settings) {
    std::vector<DeviceRecord> records;
    std::error_code ec;
    const fs::path base = root.empty() ? fs::path("/") : fs::path(root);
    const fs::path ttyDir = base / "sys/class/tty";

    // Stable names by the node they point at.
    std::map<std::string, std::string> byId;
    for (fs::directory_iterator it(base / "dev/serial/by-id", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code lec;
        const fs::path target = fs::read_symlink(it->path(), lec);
        if (lec) continue;
        const std::string node = target.filename().string();
        const std::string link = it->path().filename().string();
        auto found = byId.find(node);
        if (found == byId.end() || NaturalLess(link, found->second)) byId[node] = link;
    }

    ec.clear();
    for (fs::directory_iterator it(ttyDir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path entry = it->path();
        const std::string name = entry.filename().string();
        std::error_code dec;
        const fs::path device = fs::canonical(entry / "device", dec);
        if (dec) continue;
        const std::string driver = DriverOf(device);
        if (driver.empty()) continue;
        // A serial-core port with type 0 is a slot the driver reserved with nothing behind it.
        if (fs::exists(entry / "type", dec) && ReadAttribute(entry / "type") == "0") continue;

        DeviceRecord rec;
        rec.classId = "tty";
        rec.classDescription = kSerialPortClass;
        rec.driver = driver;
        rec.node = "/dev/" + name;
        // The USB device that carries the port holds the vendor strings a few levels up; the
        // walk stops at the tree's root so a fake tree never reads the machine's files.
        const fs::path top = fs::canonical(base, dec);
        fs::path dir = device;
        for (int level = 0; level < 8 && !dir.empty() && dir != top && dir != dir.root_path();
             ++level, dir = dir.parent_path()) {
            if (fs::exists(dir / "product", dec) || fs::exists(dir / "manufacturer", dec)) {
                rec.manufacturer = ReadAttribute(dir / "manufacturer");
                rec.model = ReadAttribute(dir / "product");
                break;
            }
        }
        if (auto found = byId.find(name); found != byId.end()) rec.persistentName = found->second;
        NameDevice(rec, settings);
        records.push_back(std::move(rec));
    }
    std::sort(records.begin(), records.end(), [](const DeviceRecord& a, const DeviceRecord& b) {
        return NaturalLess(a.node, b.node);
    });
    return records;
}

}  // namespace vir05
