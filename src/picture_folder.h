// Where the program reads its pictures from. Their paths are written "data/<file>" throughout the
// program, relative to the working directory; a build made for installation reads them from one
// fixed folder instead, so that the installed game finds them wherever it is started.
#pragma once

#include <string>

namespace System {

// `path` with its leading "data/" replaced by `folder`. Unchanged when `folder` is empty or the
// path does not start with "data/".
std::string inPictureFolder(const std::string& path, const std::string& folder);

// `path` in the folder this build reads its pictures from (see the FIVEINAROW_DATA_DIR setting of
// the build): data/ under the working directory unless the build names another folder.
std::string picturePath(const std::string& path);

}  // namespace System
