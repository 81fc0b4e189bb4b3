// vnlt serve: the directory in service.
#pragma once

#include <memory>
#include <string>

#include "answer/answer.h"
#include "directory/directory.h"

// One opened directory, never changed once shared: a reload opens another,
// and the last request holding this one frees it.
struct Snapshot {
    std::unique_ptr<AnsweringDirectory> opened;
    std::string file;
    const Directory& tables() const { return opened->tables; }
};

// Null when `file` does not load: `*result` says why, and `*cause` the
// system's word for a failed open or read, where it has one.
std::shared_ptr<const Snapshot> LoadSnapshot(const std::string& file, DirectoryResult* result, std::string* cause);

// "2026.12.7"
std::string VersionText(const DirectoryHeader& header);
