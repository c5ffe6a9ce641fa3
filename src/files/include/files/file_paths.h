#pragma once

// Splitting file paths.

#include <string>

namespace vantrel {

// The folder part of path, ending in '/'; "./" when path has no '/'.
std::string FolderOf(const std::string& path);

// The part after the last '/' (all of path when it has none).
std::string FileNameOf(const std::string& path);

}  // namespace vantrel
