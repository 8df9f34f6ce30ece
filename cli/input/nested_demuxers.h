// Demuxers that read other files or network addresses than the one they
// are given: lists, playlists, manifests and indexes that name their media.
// An input read by one of these is refused whatever its name, because the
// files it names are read too and may be the very files the run writes.
#pragma once

// What an input read by the demuxer `name` is ("a concat list"), or
// nullptr when that demuxer reads only its own file.
const char* nested_input_kind(const char* name);
