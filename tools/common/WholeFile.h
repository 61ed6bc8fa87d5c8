// Writing a file so that readers see either the old contents or the new
// ones whole: the bytes go to PATH.tmp, which is renamed over PATH.
#pragma once

#include <string>

// 0 on success, else the errno of the step that failed; the temporary
// file is removed again then.
int ReplaceFileWhole(const std::string& path, const std::string& bytes);
