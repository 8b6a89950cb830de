// The whole machine as text lines, one a registry key or value, service,
// device, file or folder: what tests compare before and after.
#include "internal.h"

#include <cstdio>

namespace Sim {

// Text with what the code page cannot carry shown as \u{hex}, so that two
// names that read alike through the A functions still differ here.
static std::string ShownText(const std::string& text) {
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        char32_t c = Unicode::NextUtf8(text, &at);
        int ansi = WideToAnsi(c);
        if (ansi >= 0) {
            shown += (char)ansi;
        } else {
            char hex[16];
            std::snprintf(hex, sizeof hex, "\\u{%X}", (unsigned)c);
            shown += hex;
        }
    }
    return shown;
}

static std::string ShownBytes(const std::vector<BYTE>& text) {
    std::string data = ShownText(std::string(text.begin(), text.end()));
    std::string shown = "\"";
    for (char byte : data) {
        unsigned char c = (unsigned char)byte;
        if (c == 0)
            shown += "\\0";
        else
            AppendShown(&shown, c);
    }
    return shown + "\"";
}

static std::string ValueText(const Value& value) {
    switch (value.type) {
    case REG_DWORD:
        if (value.data.size() == 4) {
            DWORD d = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                      (DWORD)value.data[3] << 24;
            return "REG_DWORD " + X(d);
        }
        break;
    case REG_SZ:
        return "REG_SZ " + ShownBytes(value.data);
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ " + ShownBytes(value.data);
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ " + ShownBytes(value.data);
    default:
        break;
    }
    std::string text = "type " + D(value.type) + " hex:";
    for (BYTE b : value.data) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", b);
        text += hex;
    }
    return text;
}

static void KeyLines(const Key& key, const std::string& path, std::vector<std::string>* out) {
    out->push_back("key " + path);
    for (auto& value : key.values)
        out->push_back("value " + path + " : " + Q(value.first.c_str()) + " = " +
                       ValueText(value.second));
    for (auto& child : key.children)
        KeyLines(*child.second, path + "\\" + ShownText(child.second->name), out);
}

static void NodeLines(const Node& node, const std::string& path, std::vector<std::string>* out) {
    for (auto& child : node.children) {
        std::string childPath =
            path.empty() ? child.second->name : path + "\\" + child.second->name;
        out->push_back((child.second->directory ? "folder " : "file ") + childPath);
        NodeLines(*child.second, childPath, out);
    }
}

std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::vector<std::string> MachineLines() {
    Machine& m = Current();
    std::vector<std::string> out;
    KeyLines(*m.machineRoot, "HKLM", &out);
    for (auto& service : m.services) {
        const Service& s = service.second;
        out.push_back("service " + service.first +
                      (s.state == SERVICE_RUNNING        ? " running"
                       : s.state == SERVICE_STOP_PENDING ? " stop pending"
                                                         : " stopped") +
                      (s.deletePending ? " marked for deletion" : ""));
    }
    for (auto& device : m.devices) {
        std::string ids;
        for (size_t i = 0; i + 1 < device.hardwareIds.size(); i += 2)
            ids += device.hardwareIds[i] ? (char)device.hardwareIds[i] : '|';
        out.push_back("device " + device.instanceId + " {" + GuidText(device.classGuid) + "} " +
                      (device.present ? "present" : "not present") + " ids " + ids);
    }
    NodeLines(m.fileRoot, "", &out);
    return out;
}

} // namespace Sim
