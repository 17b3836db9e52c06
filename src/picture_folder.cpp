// The pictures' folder (data/ under the working directory, the one the build was made for, or the
// one beside the executable), and the pictures loaded from it.
#include "picture_folder.h"

#include <allegro.h>

#include <algorithm>

#include "platform.h"
#include "system.h"

// The build defines it for this file alone; empty means data/ under the working directory.
#ifndef FIVEINAROW_DATA_DIR
#define FIVEINAROW_DATA_DIR ""
#endif

namespace System {

namespace {
const char kRelativeFolder[] = "data/";
const char kPictures[] = "data";

std::string pictureFolder() {
    if (Platform::picturesBesideExecutable()) {
        std::string beside = folderBeside(Platform::executablePath(), kPictures);
        if (!beside.empty()) {
            return beside;
        }
    }
    return FIVEINAROW_DATA_DIR;
}
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

std::string folderBeside(const std::string& file, const std::string& name) {
    std::string path = file;
    std::replace(path.begin(), path.end(), '\\', '/');
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return "";
    }
    return path.substr(0, slash + 1) + name;
}

std::string picturePath(const std::string& path) {
    return inPictureFolder(path, pictureFolder());
}

BITMAP* loadBitmap(const char* path) {
    // The error names the file looked for, which for an installed game is not under data/.
    const std::string file = picturePath(path);
    char* native = translatePath(file.c_str());
    BITMAP* bmp = load_bitmap(native, nullptr);
    delete[] native;
    if (bmp == nullptr) {
        throw Exception("Load bitmap %s", file.c_str());
    }
    return bmp;
}

}  // namespace System
