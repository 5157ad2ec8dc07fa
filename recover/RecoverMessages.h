// The recovery's messages, in English and French.
#pragma once

#include "lang/Language.h"

namespace VEKRecover::Msg {

extern const VEK::MessagePair OpenSourceBecause;
extern const VEK::MessagePair NotImageOrDevice;
extern const VEK::MessagePair ReadSourceBecause;
extern const VEK::MessagePair FileSystemFound;
extern const VEK::MessagePair NoFileSystem;
extern const VEK::MessagePair OtherFileSystem;
extern const VEK::MessagePair BadBootSector;
extern const VEK::MessagePair LargerThanSource;
extern const VEK::MessagePair TableUnreadable;
extern const VEK::MessagePair ExFatFound;
extern const VEK::MessagePair ExFatBadBootSector;
extern const VEK::MessagePair ExFatLargerThanSource;
extern const VEK::MessagePair ExFatTableUnreadable;
extern const VEK::MessagePair FilmWhole;
extern const VEK::MessagePair FilmCut;
extern const VEK::MessagePair FilmEntry;
extern const VEK::MessagePair FilmUnsureGaps;
extern const VEK::MessagePair FilmWithoutHeaders;
extern const VEK::MessagePair FolderOnSource;
extern const VEK::MessagePair NoFilms;
extern const VEK::MessagePair Searching;
extern const VEK::MessagePair SearchStopped;
extern const VEK::MessagePair FilmsSoFar;
extern const VEK::MessagePair FolderUnusable;
extern const VEK::MessagePair NotAFolder;

}  // namespace VEKRecover::Msg
