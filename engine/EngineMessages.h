// The repair engine's messages, in English and French. Shared by the walk,
// the index writers and the worker, which each build their lines from them.
#pragma once

#include <cstdint>
#include <string>

#include "lang/Language.h"

namespace VEKRiff::Msg {

extern const VEK::MessagePair NotAvi;
extern const VEK::MessagePair NoMovi;
extern const VEK::MessagePair Corrupted;
extern const VEK::MessagePair Resuming;
extern const VEK::MessagePair Misaligned;
extern const VEK::MessagePair Processing;
extern const VEK::MessagePair Checking;
extern const VEK::MessagePair Rebuilding;
// The summary line of a file: "Done. Found %d errors, %d video frames, %d
// audio samples", in French with the error count's agreement.
std::string DoneText(std::int64_t errors, std::int64_t videoFrames, std::int64_t audioSamples);
extern const VEK::MessagePair Skipped;
extern const VEK::MessagePair NoRepairNeeded;
extern const VEK::MessagePair Aborted;
extern const VEK::MessagePair IndexTooLarge;
extern const VEK::MessagePair OdmlNoIndexSpace;
extern const VEK::MessagePair OdmlIndexSpaceTooSmall;
extern const VEK::MessagePair OdmlSegmentTooLarge;
extern const VEK::MessagePair OdmlBadSegments;
extern const VEK::MessagePair CopyIsSource;
extern const VEK::MessagePair HeaderDamaged;
extern const VEK::MessagePair NoIndex;
extern const VEK::MessagePair IndexWrongEntries;
extern const VEK::MessagePair IndexMissingEntries;
extern const VEK::MessagePair IndexWrongKeyFrames;
extern const VEK::MessagePair IndexSkipsDamage;
extern const VEK::MessagePair HeaderFrames;
extern const VEK::MessagePair HeaderLength;
extern const VEK::MessagePair FileCut;
extern const VEK::MessagePair DataAfterIndex;
extern const VEK::MessagePair SegmentLeftOut;
extern const VEK::MessagePair SegmentRiffLost;
extern const VEK::MessagePair ListSizes;
extern const VEK::MessagePair SourceChanged;
extern const VEK::MessagePair SourceChangedWhileWriting;
extern const VEK::MessagePair NoLease;
extern const VEK::MessagePair NotOwner;
extern const VEK::MessagePair OpenedWhileWriting;
extern const VEK::MessagePair WriteFailedUnchanged;
extern const VEK::MessagePair WriteFailedChanged;
extern const VEK::MessagePair CopyWriteFailed;
extern const VEK::MessagePair CopySourceChanged;
extern const VEK::MessagePair ReferenceUnopenable;
extern const VEK::MessagePair ReferenceIsThisFile;
// The header list: what the check finds, what a rebuild assumes or takes.
extern const VEK::MessagePair StartLost;
extern const VEK::MessagePair MainHeaderMissing;
extern const VEK::MessagePair MainHeaderFrameTime;
extern const VEK::MessagePair StreamWithoutHeader;
extern const VEK::MessagePair StreamHeaderDamaged;
extern const VEK::MessagePair StreamTypeWrong;
extern const VEK::MessagePair StreamRateZero;
extern const VEK::MessagePair StreamKeptAsData;
extern const VEK::MessagePair FormatDamaged;
extern const VEK::MessagePair FormatCodecWrong;
extern const VEK::MessagePair FormatSizeWrong;
extern const VEK::MessagePair FormatAudioWrong;
extern const VEK::MessagePair FormatNoCodecData;
extern const VEK::MessagePair HeaderListRebuilt;
extern const VEK::MessagePair FrameRateAssumed;
extern const VEK::MessagePair VideoFormatUnknown;
extern const VEK::MessagePair AudioFormatAssumed;
extern const VEK::MessagePair VideoFormatGuessed;
extern const VEK::MessagePair AudioFormatUnknown;
extern const VEK::MessagePair CodecDataMissing;
extern const VEK::MessagePair HeaderOddStart;
extern const VEK::MessagePair HeaderDataMoved;
extern const VEK::MessagePair HeaderNoRoomInPlace;
extern const VEK::MessagePair MoviHeaderLostInPlace;
extern const VEK::MessagePair InPlaceMayTear;
extern const VEK::MessagePair NoSafeOrderInPlace;
extern const VEK::MessagePair ReferenceUnreadable;
extern const VEK::MessagePair ReferenceNoStream;
extern const VEK::MessagePair ReferenceKind;
extern const VEK::MessagePair ReferenceUsed;
extern const VEK::MessagePair ReferenceHeaderUsed;
extern const VEK::MessagePair ReferenceFormatNotUsed;
extern const VEK::MessagePair ReferenceHeaderNotUsed;
extern const VEK::MessagePair ReferenceNotNeeded;
extern const VEK::MessagePair SalvagedFromIndex;
// What a lost stretch held, by the old index: LostWhen or LostWhere is the
// place the line names.
extern const VEK::MessagePair LostFramesSound;
extern const VEK::MessagePair LostFrameSound;
extern const VEK::MessagePair LostFrames;
extern const VEK::MessagePair LostFrame;
extern const VEK::MessagePair LostSound;
extern const VEK::MessagePair LostWhen;
extern const VEK::MessagePair LostWhere;

}  // namespace VEKRiff::Msg
