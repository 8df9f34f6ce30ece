#include "cli/input/playlist_probe.h"

#include <sys/stat.h>

#include <cstring>
#include <fstream>

const AVInputFormat* playlist_format(const std::string& path) {
  // Only a regular file is looked into: reading a pipe's first bytes here
  // would take them from the demuxer.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  static constexpr char kTag[] = "#EXTM3U";
  char head[sizeof kTag - 1] = {};
  std::ifstream file(path, std::ios::binary);
  if (!file.read(head, sizeof head) || std::memcmp(head, kTag, sizeof head) != 0) return nullptr;
  return av_find_input_format("hls");
}
