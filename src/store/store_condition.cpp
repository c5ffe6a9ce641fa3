#include "store/store_condition.h"

namespace vantrel {

std::string DescribeSaveRefusal(const StoreCondition& condition) {
    const XmlLoadResult& file = condition.file;
    if (condition.outOfMemory) {
        return condition.path + " is too large for the memory of this machine (" + std::to_string(file.size) +
               " bytes); it was not loaded";
    }
    if (file.status != FileReadStatus::Missing && file.status != FileReadStatus::Read) {
        return condition.path + " " + DescribeFileReadStatus(file.status, file.error);
    }
    if (condition.tooDeep) {
        return condition.path + " is nested " + std::to_string(file.depth) + " levels deep (at most " +
               std::to_string(kMaxDocumentDepth) + ")";
    }
    return std::string();
}

std::vector<std::string> StoreNotices(const StoreCondition& condition) {
    std::vector<std::string> notices;
    std::string refusal = DescribeSaveRefusal(condition);
    if (!refusal.empty()) {
        notices.push_back(refusal + ". Nothing is saved to it, so no device can be added.");
    }
    const XmlLoadResult& file = condition.file;
    if (file.status == FileReadStatus::Read && file.damaged) {
        std::string where = file.problem.empty()
                                ? std::string()
                                : " (" + file.problem + " at byte " + std::to_string(file.problemOffset) + ")";
        notices.push_back(
            condition.path + " is damaged" + where + ": what follows the damage may be missing. " +
            (condition.backupMade ? "The original was kept as " : "Before it is saved, the original is kept as ") +
            condition.backupPath + ".");
    }
    if (condition.keyMissing) {
        notices.push_back("The passwords in " + condition.path + " cannot be read: the key file " + condition.keyPath +
                          " is missing. Restore it from your backup of the database.");
    } else if (!condition.keyProblem.empty()) {
        notices.push_back("The passwords in " + condition.path +
                          " can be neither read nor stored: " + condition.keyProblem + ".");
    } else if (!condition.undecipherable.empty()) {
        std::size_t count = condition.undecipherable.size();
        notices.push_back(std::to_string(count) + (count == 1 ? " password in " : " passwords in ") + condition.path +
                          " cannot be deciphered with the key file " + condition.keyPath +
                          " (changed text or another key); they are kept as stored.");
    }
    if (!condition.keyWarning.empty()) {
        notices.push_back(condition.keyWarning);
    }
    return notices;
}

}  // namespace vantrel
