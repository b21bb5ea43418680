#pragma once

#include <string>

namespace kestrum {

// Replaces a file's content so that a crash or a full disk never leaves it half-written:
// the new content goes into a temporary file beside it, flushed to disk, which is then
// renamed over the old one (the target of a symbolic link, not the link; the old file's
// permissions are kept). On failure the old file is untouched and error says why.
bool ReplaceFileContent(const std::string& path, const std::string& content, std::string& error);

// The file ReplaceFileContent replaces for path: the target of a symbolic link, else path.
std::string ReplaceTargetPath(const std::string& path);

}  // namespace kestrum
