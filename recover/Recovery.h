// A recovery's first half: one pass over the source finds its films, each
// film's pieces are put back in order, and each film is written whole, as
// the card once held it, into a staging folder. The films the user gets
// are copy rebuilds of those, made by the batch like any other file's; the
// staging folder goes once they are written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/ScanResult.h"
#include "recover/FatDirectory.h"

namespace VEKRecover {

struct StagedFilm {
  std::string Path;  // the film's bytes in the staging folder, under the name its copy gets
  std::string Line;  // where it was found, in how many pieces, what had to be assumed
};

struct RecoveryProgress {
  std::int64_t Read = 0;   // bytes of the source searched so far
  std::int64_t Total = 0;  // of the source's size
  int Films = 0;           // films found so far
};

struct RecoveryCallbacks {
  // A line for the user: what the file system tells, each film found.
  std::function<void(const std::string&)> Say;
  std::function<void(const RecoveryProgress&)> Progress;
  // Throws the stop where the user asked for one.
  VEKRiff::StopCheck Stop;
};

// The fewest stream chunks in a run without a header list taken for a film:
// a few chunks in a row turn up in other data by chance.
constexpr std::int64_t HeaderlessFilmChunks = 25;

// Reads the card or image at source (read only), finds its films and writes
// each into staging, which must exist and lie on another device than the
// source's. Throws VEKFile::File::Exception (named, with the system's reason)
// where the source cannot be read or a film cannot be written.
std::vector<StagedFilm> StageFilms(const std::string& source, const std::string& staging,
                                   const RecoveryCallbacks& callbacks);

// The name a recovered film gets: where it was found in the source, and
// when it was written where a directory entry still tells it.
std::string FilmName(std::int64_t offset, const FatDate* written);

// Why folder may not receive films recovered from source, in the current
// language: it lies on the card itself (whose free clusters are where its
// deleted films lie), judged by where, the folder itself or the nearest
// folder above it that exists. Empty when it may. One form per platform.
std::string FolderRefusal(const std::string& source, const std::string& folder, const std::string& where);

}  // namespace VEKRecover
