#include "discovery/found_export.h"

#include <cstdio>
#include <ctime>

namespace vantrel {
namespace {

// One exported field: its name and its value, a JSON literal (number, true, false, null), a text, or a list of
// texts (a JSON array; in CSV its items joined by spaces).
struct Field {
    enum class Kind { kLiteral, kText, kList };
    const char* name;
    std::string text;
    Kind kind;
    std::vector<std::string> list = {};
};

Field Literal(const char* name, std::string text) {
    return {name, std::move(text), Field::Kind::kLiteral};
}

Field Text(const char* name, std::string text) {
    return {name, std::move(text), Field::Kind::kText};
}

Field List(const char* name, std::vector<std::string> list) {
    return {name, {}, Field::Kind::kList, std::move(list)};
}

const char* Flag(bool value) {
    return value ? "true" : "false";
}

std::vector<std::string> ProtocolNames(const FoundRow& row) {
    std::vector<std::string> names;
    if (row.Answered(kProtocolNative)) {
        names.emplace_back("native");
    }
    if (row.Answered(kProtocolOnvif)) {
        names.emplace_back("onvif");
    }
    return names;
}

std::vector<std::string> SenderTexts(const FoundRow& row) {
    std::vector<std::string> texts;
    for (const std::uint32_t sender : row.senders) {
        texts.push_back(DottedDecimal(sender));
    }
    return texts;
}

std::vector<Field> FieldsOf(const FoundRow& row, std::uint32_t probes) {
    const bool adapterKnown = row.adapterAddress != 0;
    // an ONVIF-only row knows neither the native port nor the announced mask and gateway
    const bool native = row.portKnown;
    return {
        Literal("no", std::to_string(row.number)),
        Text("address", AddressText(row.device)),
        Literal("port", native ? PortText(row.device) : "null"),
        Text("subnetMask", native ? SubnetMaskText(row.device) : std::string()),
        Text("gateway", native ? GatewayText(row.device) : std::string()),
        Literal("registered", Flag(row.registered)),
        Text("adapter", row.adapterName),
        Text("adapterAddress", adapterKnown ? DottedDecimal(row.adapterAddress) : std::string()),
        Text("adapterMask", adapterKnown ? DottedDecimal(row.adapterMask) : std::string()),
        Literal("outsideAdapterSubnet", Flag(row.outsideAdapterSubnet)),
        Text("sender", DottedDecimal(row.senderAddress)),
        Literal("senderMismatch", Flag(row.senderMismatch)),
        Literal("seenInProbes", std::to_string(row.probesSeen)),
        Literal("probes", std::to_string(probes)),
        Literal("replies", std::to_string(row.replies)),
        Text("lastReply", IsoUtcText(row.lastReplyNs)),
        List("protocols", ProtocolNames(row)),
        Text("name", row.name),
        Text("model", row.model),
        Text("location", row.location),
        List("serviceUrls", row.serviceUrls),
        Text("mac", row.mac),
        Text("vendor", row.vendor),
        Literal("conflict", Flag(row.conflict)),
        List("senders", SenderTexts(row)),
        Text("warning", row.warning),
    };
}

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not a well-formed one.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned minimum = 0;
    unsigned value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, value = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        value = value << 6 | (byte(i + k) & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

void AppendJsonText(std::string& out, const std::string& text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c >= 0x80) {
            const std::size_t length = Utf8SequenceLength(text, i);
            if (length == 0) {
                out += "\\ufffd";
                ++i;
                continue;
            }
            out.append(text, i, length);
            i += length;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

void AppendCsvField(std::string& out, const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

namespace {

void AppendJsonValue(std::string& out, const Field& field) {
    switch (field.kind) {
        case Field::Kind::kLiteral:
            out += field.text;
            return;
        case Field::Kind::kText:
            AppendJsonText(out, field.text);
            return;
        case Field::Kind::kList:
            out += '[';
            for (std::size_t i = 0; i < field.list.size(); ++i) {
                out += i == 0 ? "" : ", ";
                AppendJsonText(out, field.list[i]);
            }
            out += ']';
            return;
    }
}

// a null literal is an empty CSV field; a list's items are joined by spaces (none of them holds one)
std::string CsvText(const Field& field) {
    if (field.kind == Field::Kind::kList) {
        std::string joined;
        for (const std::string& item : field.list) {
            joined += (joined.empty() ? "" : " ") + item;
        }
        return joined;
    }
    return field.kind == Field::Kind::kLiteral && field.text == "null" ? std::string() : field.text;
}

}  // namespace

std::string IsoUtcText(std::int64_t unixNs) {
    if (unixNs == 0) {
        return {};
    }
    std::int64_t seconds = unixNs / 1000000000;
    std::int64_t millis = (unixNs % 1000000000) / 1000000;
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const std::time_t whole = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (gmtime_r(&whole, &utc) == nullptr) {
        return {};
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text;
}

std::string FoundRowsToCsv(const std::vector<FoundRow>& rows, std::uint32_t probes) {
    std::string out;
    const std::vector<Field> header = FieldsOf(FoundRow(), probes);
    for (std::size_t i = 0; i < header.size(); ++i) {
        out += i == 0 ? "" : ",";
        out += header[i].name;
    }
    out += "\r\n";
    for (const FoundRow& row : rows) {
        const std::vector<Field> fields = FieldsOf(row, probes);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            out += i == 0 ? "" : ",";
            AppendCsvField(out, CsvText(fields[i]));
        }
        out += "\r\n";
    }
    return out;
}

std::string FoundRowsToJson(const std::vector<FoundRow>& rows, std::uint32_t probes) {
    std::string out = "[";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out += r == 0 ? "\n  {" : ",\n  {";
        const std::vector<Field> fields = FieldsOf(rows[r], probes);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            out += i == 0 ? "\"" : ", \"";
            out += fields[i].name;
            out += "\": ";
            AppendJsonValue(out, fields[i]);
        }
        out += '}';
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace vantrel
