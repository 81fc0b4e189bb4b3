// Where vnlt finds the directory file it reads, and where it saves.
#pragma once

#include <string>

struct DirectoryFiles {
    std::string read;            // the file to load; empty when there is none
    std::string write;           // where add and import save; empty when there is no place
    bool startsOwnCopy = false;  // `read` is the packaged copy: a save starts the user's own
};

// `dat` is the --dat option (empty when not given). Otherwise the first that
// exists of: Varnolt.dat beside the executable, the user's own copy under
// $XDG_DATA_HOME (or ~/.local/share)/varnolt, and the packaged copy in
// ../share/varnolt beside the executable's folder. The packaged copy belongs
// to the package manager and is never written.
DirectoryFiles LocateDirectoryFiles(const std::string& dat);

// Whether `path` (UTF-8) names a file that can be opened for reading.
bool FileExists(const std::string& path);

// Creates the folders that `file` is to be saved in; false when that fails.
bool PrepareFolderOf(const std::string& file);
