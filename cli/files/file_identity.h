// What a name stands for on disk, for telling whether two names meet: the
// file behind it (through every link) and the entry it is written under (a
// folder, by its device and inode, and a name in it). Two spellings of one
// file, a link and its target, or a hard link and the original all give
// the same identity.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

// An overlay mount shows the files of its layers under a device number of
// its own (merged/clip.mkv and lower/clip.mkv differ in st_dev) but with
// the layer's inode number when its layers share a file system. So on an
// overlay, a file with the same inode, size and modification time as
// another is taken to be the same one: that may refuse two files that
// differ, never miss one that is the same. (Layers on different file
// systems, with inode numbers remapped by xino, are not recognised.)
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool overlay = false;  // seen through an overlay mount
  off_t size = 0;
  int64_t modified_ns = 0;
  bool operator==(const FileId& o) const {
    if (device == o.device && inode == o.inode) return true;
    return (overlay || o.overlay) && inode == o.inode && size == o.size && modified_ns == o.modified_ns;
  }
};

struct EntryId {
  FileId folder;
  std::string name;
  bool operator==(const EntryId&) const = default;
};

// The file a name or a descriptor leads to: a regular file, a pipe or a
// socket. None for what does not exist, for folders, and for devices
// (/dev/null or a terminal take any number of writers without harm).
std::optional<FileId> file_behind(const std::string& path);
std::optional<FileId> file_behind_descriptor(int fd);

// The folder that holds `path` (its folder part, through links).
std::optional<FileId> folder_of(const std::string& path);

// The entry `path` is written under: its folder and its last name. None
// when the folder does not exist.
std::optional<EntryId> entry_of(const std::string& path);

// Where writing `path` ends up: the file a chain of symbolic links points
// to (which need not exist yet), or `path` itself. Throws CliError for a
// loop of links.
std::string follow_links(const std::string& path);
