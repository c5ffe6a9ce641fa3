#include "device_plan.h"

#include <map>
#include <set>

#include "catalogue/registration.h"
#include "tool_options.h"

namespace vantrel {
namespace {

constexpr std::size_t kPlanColumns = 8;

struct CsvRecord {
    int line = 0;
    std::vector<std::string> fields;
};

// RFC 4180: quoted fields may hold commas, doubled quotes and line ends; CR LF or LF ends a record.
bool ReadCsv(const std::string& text, std::vector<CsvRecord>& records, PlanProblem& problem) {
    std::size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int line = 1;
    while (i < text.size()) {
        CsvRecord record{line, {}};
        std::string field;
        bool ended = false;
        while (!ended) {
            if (i < text.size() && text[i] == '"') {
                for (++i;; ++i) {
                    if (i >= text.size()) {
                        problem = {record.line, "a quoted field is not closed"};
                        return false;
                    }
                    if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        ++i;
                    } else if (text[i] == '"') {
                        ++i;
                        break;
                    } else {
                        line += text[i] == '\n' ? 1 : 0;
                        field += text[i];
                    }
                }
            }
            while (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
                field += text[i++];
            }
            record.fields.push_back(std::move(field));
            field.clear();
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            i += i < text.size() && text[i] == '\r' ? 1 : 0;
            i += i < text.size() && text[i] == '\n' ? 1 : 0;
            ++line;
            ended = true;
        }
        if (!(record.fields.size() == 1 && record.fields[0].empty())) {
            records.push_back(std::move(record));
        }
    }
    return true;
}

std::string CheckTypes(const std::string& letters, PlanRow& row) {
    if (letters.empty()) {
        return std::string();
    }
    if (letters.size() != row.channels) {
        return "cameraTypes needs one letter per channel (" + std::to_string(row.channels) + ")";
    }
    for (std::size_t c = 0; c < letters.size(); ++c) {
        if (letters[c] != 'N' && letters[c] != 'D') {
            return "cameraTypes holds '" + std::string(1, letters[c]) + "': N or D only";
        }
        row.cameraTypes[c] = letters[c] == 'D' ? kSpeedDome : kNormalCamera;
    }
    return std::string();
}

// The row from its fields; the reason when it cannot be one.
std::string RowOf(const CsvRecord& record, PlanRow& row) {
    const std::vector<std::string>& f = record.fields;
    if (f.size() != kPlanColumns) {
        return "8 fields expected, " + std::to_string(f.size()) + " found";
    }
    row.line = record.line;
    row.address = f[0];
    row.name = f[2];
    row.user = f[4];
    row.password = f[5];
    unsigned long long number = 0;
    if (row.address.empty()) {
        return "the address is empty";
    }
    if (!ParseUnsigned(f[1], 65535, number) || number == 0) {
        return "the port must be a number from 1 to 65535";
    }
    row.port = static_cast<std::uint32_t>(number);
    if (row.name.find_first_not_of(" \t") == std::string::npos) {
        return "the name is empty";
    }
    if (!ParseUnsigned(f[6], kMaxChannels, number) || number == 0) {
        return "channels must be a number from 1 to 16";
    }
    row.channels = static_cast<std::uint32_t>(number);
    if (!SplitOrganizationPath(f[3], row.organization)) {
        return "the organization path has an empty name";
    }
    for (const std::string& org : row.organization) {
        std::string problem = TextFieldProblem(org, "an organization name");
        if (!problem.empty()) {
            return problem;
        }
    }
    for (auto [text, label, asText] : {std::tuple{&row.address, "the address", true},
                                       {&row.name, "the name", true},
                                       {&row.user, "the user", true},
                                       {&row.password, "the password", false}}) {
        std::string problem = TextFieldProblem(*text, label, 0, asText);
        if (!problem.empty()) {
            return problem;
        }
    }
    return CheckTypes(f[7], row);
}

}  // namespace

void ParsePlan(const std::string& text, std::vector<PlanRow>& rows, std::vector<PlanProblem>& problems) {
    std::vector<CsvRecord> records;
    PlanProblem unreadable;
    if (!ReadCsv(text, records, unreadable)) {
        problems.push_back(unreadable);
        return;
    }
    std::string header;
    for (std::size_t i = 0; !records.empty() && i < records[0].fields.size(); ++i) {
        header += (i > 0 ? "," : "") + records[0].fields[i];
    }
    if (header != kPlanHeader) {
        problems.push_back({1, std::string("the first line must be the header ") + kPlanHeader});
        return;
    }
    std::map<std::string, int> addresses;
    std::map<std::string, int> names;
    for (std::size_t r = 1; r < records.size(); ++r) {
        PlanRow row;
        std::string reason = RowOf(records[r], row);
        if (reason.empty()) {
            std::string key = row.address + ":" + std::to_string(row.port);
            if (!addresses.emplace(key, row.line).second) {
                reason = key + " is also on line " + std::to_string(addresses[key]);
            } else if (!names.emplace(row.name, row.line).second) {
                reason = "the name " + row.name + " is also on line " + std::to_string(names[row.name]);
            }
        }
        if (!reason.empty()) {
            problems.push_back({records[r].line, reason});
        } else {
            rows.push_back(std::move(row));
        }
    }
}

}  // namespace vantrel
