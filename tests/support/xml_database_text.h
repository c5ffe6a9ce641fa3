#pragma once

// Generates the text of a device database: DATAROOT with GLOBAL, ORGINFO and DEVINFO, each device a DEV
// with its 13 attributes and, per channel, a video-channel entry and an alarm entry. The text is laid out
// as the program saves it (TAB indentation, CR LF), so parsing and saving it again gives the same bytes.
// 10,000 devices of 16 channels give about 28.7 MB, 330,000 elements and 1.9 million attributes.

#include <cstdint>
#include <cstdio>
#include <string>

namespace vantrel::test {

struct DatabaseTextShape {
    int devices = 1000;
    int channels = 16;
    int organizations = 8;
};

inline std::string GenerateDatabaseText(const DatabaseTextShape& shape) {
    std::string out;
    out.reserve(static_cast<std::size_t>(shape.devices) * (180 + 85 * 2 * static_cast<std::size_t>(shape.channels)) +
                4096);
    char line[512];
    std::uint32_t nextId = 1;
    auto put = [&](int length) { out.append(line, static_cast<std::size_t>(length)); };

    out += "<DATAROOT>\r\n";
    std::uint32_t total =
        static_cast<std::uint32_t>(shape.organizations) +
        static_cast<std::uint32_t>(shape.devices) * (1u + 2u * static_cast<std::uint32_t>(shape.channels));
    put(std::snprintf(line, sizeof line, "\t<GLOBAL index=\"%u\"/>\r\n", total + 1));

    out += "\t<ORGINFO>\r\n";
    std::uint32_t firstOrg = nextId;
    for (int o = 0; o < shape.organizations; ++o) {
        put(std::snprintf(line, sizeof line, "\t\t<ORG id=\"%u\" name=\"Organization %d\"/>\r\n", nextId++, o + 1));
    }
    out += "\t</ORGINFO>\r\n";

    out += "\t<DEVINFO>\r\n";
    for (int d = 0; d < shape.devices; ++d) {
        std::uint32_t orgId =
            shape.organizations > 0 ? firstOrg + static_cast<std::uint32_t>(d % shape.organizations) : 0;
        char name[32];
        std::snprintf(name, sizeof name, "Device%05d", d + 1);
        put(std::snprintf(line, sizeof line,
                          "\t\t<DEV id=\"%u\" ip=\"0\" name=\"%s\" host=\"192.168.%d.%d\" port=\"%d\" cameras=\"%d\" "
                          "ddnsFlag=\"0\" DDNSHost=\"\" DDNSPort=\"0\" desc=\"\" username=\"admin\" OrgId=\"%u\" "
                          "password=\"3f9a1c07b2e4d8a65c0e7f19b3d2a4c8\">\r\n",
                          nextId++, name, (d / 250) % 256, d % 250 + 1, 5050 + d % 3, shape.channels, orgId));
        for (int c = 1; c <= shape.channels; ++c) {
            put(std::snprintf(
                line, sizeof line,
                "\t\t\t<DEV id=\"%u\" type=\"0\" name=\"%s_%d\" channel=\"%d\" desc=\"\" CameraType=\"%d\"/>\r\n",
                nextId++, name, c, c - 1, c % 5 == 0 ? 1 : 0));
            put(std::snprintf(line, sizeof line,
                              "\t\t\t<DEV id=\"%u\" type=\"1\" name=\"%s_alarm%d\" channel=\"%d\" desc=\"\"/>\r\n",
                              nextId++, name, c, c - 1));
        }
        out += "\t\t</DEV>\r\n";
    }
    out += "\t</DEVINFO>\r\n";
    out += "</DATAROOT>\r\n";
    return out;
}

}  // namespace vantrel::test
