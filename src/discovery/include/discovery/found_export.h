#pragma once

// The found list as CSV and JSON, shared by vantrel-scan and the search window. Both carry the same fields
// under the same names, in this order: no, address, port, subnetMask, gateway (as vantrel-scan --json always
// had them), then registered, adapter, adapterAddress, adapterMask, outsideAdapterSubnet, sender,
// senderMismatch, seenInProbes, probes, replies, lastReply, protocols, name, model, location, serviceUrls, mac,
// vendor, conflict, senders, warning. protocols, serviceUrls and senders are JSON arrays (in CSV their items
// joined by spaces); port is null (empty in CSV) for a device that answered ONVIF only, whose subnetMask and
// gateway are empty.

#include <cstdint>
#include <string>
#include <vector>

#include "discovery/found_row.h"

namespace vantrel {

// probes is n of "seen in k of n" (SessionStatus::probesSent), the same for every row.
// CSV: a header line, then one line per row, CR LF line ends (RFC 4180); a field holding a comma, a double
// quote, CR or LF is quoted with its quotes doubled.
std::string FoundRowsToCsv(const std::vector<FoundRow>& rows, std::uint32_t probes);
// JSON: an array of objects, one per row, on lines of their own; "[]" for none. Texts are escaped; bytes that
// are not UTF-8 become U+FFFD.
std::string FoundRowsToJson(const std::vector<FoundRow>& rows, std::uint32_t probes);

// text as a JSON string, quotes included, appended to out (bytes that are not UTF-8 become U+FFFD).
void AppendJsonText(std::string& out, const std::string& text);
// text as a CSV field appended to out, quoted as the CSV above quotes.
void AppendCsvField(std::string& out, const std::string& text);

// A time in nanoseconds since the Unix epoch as UTC ISO 8601 with milliseconds: "2024-05-01T12:00:00.123Z";
// empty for 0.
std::string IsoUtcText(std::int64_t unixNs);

}  // namespace vantrel
