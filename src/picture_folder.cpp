// The pictures' folder: data/ under the working directory, or the one the build was made for.
#include "picture_folder.h"

// The build defines it for this file alone; empty means data/ under the working directory.
#ifndef FIVEINAROW_DATA_DIR
#define FIVEINAROW_DATA_DIR ""
#endif

namespace System {

namespace {
const char kRelativeFolder[] = "data/";
}  // namespace

std::string inPictureFolder(const std::string& path, const std::string& folder) {
    const std::string prefix = kRelativeFolder;
    if (folder.empty() || path.compare(0, prefix.size(), prefix) != 0) {
        return path;
    }
    std::string base = folder;
    if (base.back() != '/') {
        base += '/';
    }
    return base + path.substr(prefix.size());
}

std::string picturePath(const std::string& path) {
    return inPictureFolder(path, FIVEINAROW_DATA_DIR);
}

}  // namespace System
